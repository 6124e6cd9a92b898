#include "platform/PowerOff.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace tarn;

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A folder with a script that records its arguments, standing in for systemctl.
struct RecordingCommand {
    fs::path dir = fs::temp_directory_path() / ("tarn-poweroff-" + std::to_string(getpid()));
    fs::path script = dir / "record-poweroff";
    fs::path marker = dir / "ran";

    explicit RecordingCommand(int exitCode) {
        fs::create_directories(dir);
        std::ofstream(script) << "#!/bin/sh\necho \"$@\" > '" << marker.string() << "'\nexit "
                              << exitCode << "\n";
        fs::permissions(script, fs::perms::owner_all);
    }
    ~RecordingCommand() { fs::remove_all(dir); }
};

// The shipped power-off does what it is told whatever the environment says: a user who has CI
// or a GTEST_ variable set keeps the shutdown filter. (The command here only records.)
TEST(PowerOff, CommandRunsWhateverTheEnvironmentSays) {
    for (const int exitCode : {0, 1}) {
        RecordingCommand command(exitCode);
        ASSERT_EQ(setenv("CI", "true", 1), 0);
        ASSERT_EQ(setenv("GTEST_SOMETHING", "1", 1), 0);
        const bool result = commandPowerOff(command.script.string())->powerOff();
        unsetenv("CI");
        unsetenv("GTEST_SOMETHING");
        EXPECT_EQ(result, exitCode == 0);
        EXPECT_EQ(slurp(command.marker), "poweroff -i\n");
    }
}

TEST(PowerOff, MissingCommandAndRefusingServiceReportFailure) {
    EXPECT_FALSE(commandPowerOff("/nonexistent/tarn-no-such-command")->powerOff());
    EXPECT_FALSE(refusingPowerOff().powerOff());
}

// Programs a test starts find a recorder first on PATH where systemctl would be, so not even
// the built program with a shutdown filter can reach the real power-off.
TEST(PowerOff, TestProgramsFindARecorderForSystemctl) {
    const char* dir = std::getenv("TARN_TEST_BIN_DIR");
    ASSERT_NE(dir, nullptr);
    const char* path = std::getenv("PATH");
    ASSERT_NE(path, nullptr);
    std::stringstream entries(path);
    std::string first;
    for (std::string entry; std::getline(entries, entry, ':');) {
        if (fs::exists(fs::path(entry) / "systemctl")) {
            first = entry;
            break;
        }
    }
    EXPECT_EQ(first, dir);
    // The recorder fails, as a refused request does, and says what it was asked.
    EXPECT_NE(std::system("systemctl poweroff -i >/dev/null 2>&1"), 0);
    EXPECT_NE(slurp(fs::path(dir) / "calls").find("systemctl poweroff -i"), std::string::npos);
}

} // namespace
