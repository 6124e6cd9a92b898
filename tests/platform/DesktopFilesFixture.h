#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarn::test {

// A private data folder with desktop files, standing in for the desktop's settings: "home"
// is the user's data folder, "system" the system's.
class DesktopFiles : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = std::filesystem::temp_directory_path() /
                 ("tarn-desktop-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_root / "home/applications");
        std::filesystem::create_directories(m_root / "system/applications/vendor");
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    void write(const std::filesystem::path& rel, const std::string& content) {
        std::ofstream(m_root / rel) << content;
    }
    std::vector<std::string> dirs() const {
        return {(m_root / "home").string(), (m_root / "system").string()};
    }

    std::filesystem::path m_root;
};

} // namespace tarn::test
