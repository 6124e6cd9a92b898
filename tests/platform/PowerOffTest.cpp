#include "platform/PowerOff.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tarn;

namespace {

TEST(PowerOff, TestRunEnvironment) {
    struct {
        std::vector<std::string> env;
        bool expected;
    } cases[] = {
        {{"HOME=/root", "PATH=/usr/bin"}, false},
        {{"HOME=/root", "TARN_TEST_RUN=1"}, true},
        {{"TARN_TEST_RUN="}, true},
        {{"CI=true"}, true},
        {{"CI="}, true},
        {{"GTEST_FILTER=*"}, true},
        {{"GTEST_OUTPUT=xml:/tmp/x"}, true},
        // Look-alikes are not markers.
        {{"CIRCLE=1", "MY_CI=1", "XTARN_TEST_RUN=1", "TARN_TEST_RUNNER=1", "A=GTEST_X"}, false},
    };
    for (const auto& c : cases) {
        std::string joined;
        for (const auto& e : c.env)
            joined += e + " ";
        EXPECT_EQ(isTestRunEnvironment(c.env), c.expected) << joined;
    }
}

// The real service under a test-run marker: it must refuse and start nothing. PATH points at
// a folder whose only "systemctl" merely records that it ran, so even a faulty refusal could
// not reach the real power-off.
// Every test program marks itself as a test run before any test starts, so the real power-off
// refuses even in a test that forgot to bind a recorder.
TEST(PowerOff, TestProgramsStartMarkedAsTestRuns) {
    const char* mark = std::getenv("TARN_TEST_RUN");
    ASSERT_NE(mark, nullptr);
    EXPECT_STREQ(mark, "1");
    EXPECT_TRUE(isTestRunEnvironment(currentEnvironment()));
}

TEST(PowerOff, RealServiceRefusesDuringTestRun) {
    ASSERT_EQ(setenv("TARN_TEST_RUN", "1", 1), 0);
    ASSERT_NE(std::getenv("TARN_TEST_RUN"), nullptr);

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tarn-poweroff-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path marker = dir / "ran";
    {
        std::ofstream script(dir / "systemctl");
        script << "#!/bin/sh\necho \"$@\" > '" << marker.string() << "'\nexit 0\n";
    }
    std::filesystem::permissions(dir / "systemctl", std::filesystem::perms::owner_all);

    const char* oldPath = std::getenv("PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    ASSERT_EQ(setenv("PATH", dir.c_str(), 1), 0);

    const bool result = systemPowerOff().powerOff();

    setenv("PATH", savedPath.c_str(), 1);
    EXPECT_FALSE(result);
    EXPECT_FALSE(std::filesystem::exists(marker));
    std::filesystem::remove_all(dir);
}

} // namespace
