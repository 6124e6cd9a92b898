#include "platform/ProcessLauncher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace tarn;
namespace fs = std::filesystem;

namespace {

class ProcessLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("tarn-proc-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir / "with space");
    }
    void TearDown() override { fs::remove_all(m_dir); }

    static bool waitForFile(const fs::path& p) {
        for (int i = 0; i < 500; ++i) {
            if (fs::exists(p) && fs::file_size(p) > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    fs::path m_dir;
};

TEST_F(ProcessLauncherTest, StartsDetachedInTheWorkingFolder) {
    ASSERT_TRUE(systemProcessLauncher().startDetached({"sh", "-c", "pwd > out.txt"},
                                                      (m_dir / "with space").string()));
    ASSERT_TRUE(waitForFile(m_dir / "with space/out.txt"));
    std::ifstream in(m_dir / "with space/out.txt");
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(fs::canonical(line), fs::canonical(m_dir / "with space"));
}

TEST_F(ProcessLauncherTest, ReportsWhatCannotStart) {
    EXPECT_FALSE(systemProcessLauncher().startDetached({"/nonexistent/tarn-prog"}, ""));
    EXPECT_FALSE(systemProcessLauncher().startDetached({"tarn-no-such-program-in-path"}, ""));
    EXPECT_FALSE(
        systemProcessLauncher().startDetached({"sh", "-c", "true"}, (m_dir / "missing").string()));
    EXPECT_FALSE(systemProcessLauncher().startDetached({}, ""));
    EXPECT_FALSE(systemProcessLauncher().startDetached({""}, ""));
}

TEST_F(ProcessLauncherTest, DoesNotWaitForTheProgram) {
    EXPECT_TRUE(systemProcessLauncher().startDetached({"true"}, ""));

    // It returns before the program ends, and the program really runs.
    const fs::path marker = m_dir / "ran";
    ASSERT_TRUE(systemProcessLauncher().startDetached(
        {"sh", "-c", "sleep 0.3; touch '" + marker.string() + "'"}, ""));
    EXPECT_FALSE(fs::exists(marker));
    for (int i = 0; i < 100 && !fs::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(fs::exists(marker));
}

TEST_F(ProcessLauncherTest, CommandLineToArgv) {
    const fs::path prog = m_dir / "with space/prog";
    std::ofstream(prog) << "#!/bin/sh\n";
    fs::permissions(prog, fs::perms::owner_all);

    struct {
        std::string line;
        std::vector<std::string> expected;
    } cases[] = {
        {"thunderbird -mail", {"thunderbird", "-mail"}},
        {"  /usr/bin/x   a  b ", {"/usr/bin/x", "a", "b"}},
        {"\"" + prog.string() + "\" -x \"two words\"", {prog.string(), "-x", "two words"}},
        // An unquoted path with a space is found when it names a program.
        {prog.string() + " -mail", {prog.string(), "-mail"}},
        {prog.string(), {prog.string()}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(commandLineToArgv(c.line), c.expected) << c.line;
}

TEST(RunAndCapture, OutputExitAndTimeout) {
    std::string out;
    EXPECT_TRUE(runAndCapture({"sh", "-c", "echo hello; echo world"}, 5000, out));
    EXPECT_EQ(out, "hello\nworld\n");
    EXPECT_FALSE(runAndCapture({"sh", "-c", "echo partial; exit 3"}, 5000, out));
    EXPECT_FALSE(runAndCapture({"tarn-no-such-program-in-path"}, 5000, out));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(runAndCapture({"sleep", "30"}, 200, out));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

} // namespace
