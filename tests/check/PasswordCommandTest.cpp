#include "check/PasswordCommand.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <stdlib.h>

namespace tarn {
namespace {

using namespace std::chrono_literals;

struct CommandCase {
    const char* name;
    std::string command;
    const char* secret; // nullptr: fails
    std::string error;  // the start of the reason
};

void PrintTo(const CommandCase& c, std::ostream* os) {
    *os << c.name;
}

class PasswordCommandRun : public ::testing::TestWithParam<CommandCase> {};

// Short bounds keep the hanging and flooding commands quick; the rules are those of 30 s
// and 64 KiB.
TEST_P(PasswordCommandRun, GivesTheFirstLineOrWhyNot) {
    const CommandCase& c = GetParam();
    const auto start = std::chrono::steady_clock::now();
    const CommandSecret r = runPasswordCommand(c.command, "password", 1500ms, 4096);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "bounded by the limit";
    if (c.secret) {
        EXPECT_EQ(r.secret, std::optional<std::string>(c.secret));
        EXPECT_EQ(r.error, "");
    } else {
        EXPECT_EQ(r.secret, std::nullopt);
        EXPECT_EQ(r.error.substr(0, c.error.size()), c.error) << r.error;
        // What the command printed on its output is the secret: never in the reason.
        EXPECT_EQ(r.error.find("hunter2"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordCommandRun,
    ::testing::Values(
        CommandCase{"FirstLineOnly", "printf 'hunter2\\nsecond line\\n'", "hunter2", ""},
        CommandCase{"CarriageReturnDropped", "printf 'hunter2\\r\\n'", "hunter2", ""},
        CommandCase{"NoNewline", "printf 'pass word'", "pass word", ""},
        CommandCase{"ShellSyntaxWorks", "x=hunter; echo \"${x}2\" | cat", "hunter2", ""},
        CommandCase{"NonZeroExitCarriesStderr",
                    "echo hunter2; echo 'gpg: decryption failed' >&2; exit 2", nullptr,
                    "The password command failed (exit status 2): gpg: decryption failed"},
        CommandCase{"NonZeroExitWithoutStderr", "exit 7", nullptr,
                    "The password command failed (exit status 7)."},
        CommandCase{"PrintsNothing", "true", nullptr, "The password command printed no password."},
        CommandCase{"EmptyFirstLine", "printf '\\nhunter2\\n'", nullptr,
                    "The password command printed no password."},
        CommandCase{"Hangs", "sleep 30", nullptr,
                    "The password command did not finish within 1 second."},
        CommandCase{"HangsAfterClosingItsOutput", "exec >&- 2>&-; sleep 30", nullptr,
                    "The password command did not finish within 1 second."},
        CommandCase{"ChildKeepsTheOutputOpen", "echo hunter2; sleep 30 &", "hunter2", ""},
        CommandCase{"PrintsAMegabyte", "head -c 1048576 /dev/zero | tr '\\0' x", nullptr,
                    "The password command wrote more than 4 KiB"},
        CommandCase{"FloodsStderr", "head -c 1048576 /dev/zero >&2", nullptr,
                    "The password command wrote more than 4 KiB"},
        CommandCase{"KilledBySignal", "kill -9 $$", nullptr,
                    "The password command failed (ended by a signal)"}),
    [](const auto& info) { return std::string(info.param.name); });

// A hanging command that started children of its own leaves none behind.
TEST(PasswordCommandRunBounds, KillsWhatTheShellStarted) {
    char tmpl[] = "/tmp/tarn-pwcmd-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    const std::string flag = dir + "/still-running";
    const CommandSecret r =
        runPasswordCommand("(sleep 1; touch " + flag + ") & sleep 30", "password", 300ms, 4096);
    EXPECT_EQ(r.secret, std::nullopt);
    std::this_thread::sleep_for(1500ms);
    EXPECT_FALSE(std::filesystem::exists(flag)) << "the shell's child outlived the time-out";
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace tarn
