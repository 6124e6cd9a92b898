#include "check/DeletionLog.h"
#include "core/Clock.h"
#include "core/DateFormat.h"
#include "core/PrivateFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarn {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class DeletionLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarn-dellog-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }

    static FixedClock clockAt(int hour, int minute, int second = 0) {
        return FixedClock(
            sys_days{year{2024} / 6 / 15} + hours{hour} + minutes{minute} + seconds{second}, 0);
    }
    static std::string day() { return formatShortDate(clockAt(0, 0).localToday()); }

    std::string logText() const {
        std::ifstream in(m_dir / "tarnlog.log", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    fs::path m_dir;
};

TEST_F(DeletionLogTest, FirstLineCreatesTheFileLaterLinesAppend) {
    ASSERT_FALSE(fs::exists(m_dir / "tarnlog.log"));
    EXPECT_TRUE(WriteDeletionLog(m_dir, kLogStatusDeleted, "Home", "Hi", "a@b", "1234", "U1",
                                 clockAt(14, 5)));
    const std::string first = day() + " 14:05|Deleted|Home|Hi|a@b|1234|U1\r\n";
    EXPECT_EQ(logText(), first);

    EXPECT_TRUE(WriteDeletionLog(m_dir, kLogStatusError, "Work", "Re: x", "c@d", "99", "U2",
                                 clockAt(9, 30)));
    EXPECT_EQ(logText(), first + day() + " 09:30|Error While Deleting|Work|Re: x|c@d|99|U2\r\n");
}

TEST_F(DeletionLogTest, LogIsPrivateAndAWiderLogIsNarrowedOnTheNextLine) {
    std::vector<std::string> notices;
    setPrivacyNoticeSink([&](const std::string& t) { notices.push_back(t); });
    const fs::path log = m_dir / "tarnlog.log";
    const auto mode = [&] { return fs::status(log).permissions() & fs::perms::all; };
    const auto privateMode = fs::perms::owner_read | fs::perms::owner_write;
    ASSERT_TRUE(
        WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "s", "f", "1", "U1", clockAt(1, 0)));
    EXPECT_EQ(mode(), privateMode);
    ASSERT_TRUE(
        WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "s", "f", "1", "U2", clockAt(1, 0)));
    EXPECT_EQ(mode(), privateMode);
    EXPECT_TRUE(notices.empty());

    fs::permissions(log, privateMode | fs::perms::group_read | fs::perms::others_read);
    ASSERT_TRUE(
        WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "s", "f", "1", "U3", clockAt(1, 0)));
    EXPECT_EQ(mode(), privateMode);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find("tarnlog.log"), std::string::npos);
    setPrivacyNoticeSink(nullptr);
}

TEST_F(DeletionLogTest, FieldsAreWrittenAsStored) {
    struct Case {
        const char* name;
        FixedClock clock;
        std::string subject, sender;
        std::string tail; // the line after the date
    } cases[] = {
        {"empty sender", clockAt(14, 5), "Hi", "", " 14:05|Deleted|Acct|Hi||10|U\r\n"},
        {"bar in subject", clockAt(14, 5), "a|b", "s", " 14:05|Deleted|Acct|a|b|s|10|U\r\n"},
        {"midnight keeps the time", clockAt(0, 0), "Hi", "s", " 00:00|Deleted|Acct|Hi|s|10|U\r\n"},
        {"just after midnight", clockAt(0, 0, 30), "Hi", "s", " 00:00|Deleted|Acct|Hi|s|10|U\r\n"},
        {"empty subject", clockAt(23, 59), "", "s", " 23:59|Deleted|Acct||s|10|U\r\n"},
        {"line breaks stay on one line", clockAt(8, 1), "one\r\ntwo\nthree", "s",
         " 08:01|Deleted|Acct|one  two three|s|10|U\r\n"},
        {"bytes kept", clockAt(8, 1), "caf\xe9 \xc3\xa9", "s",
         " 08:01|Deleted|Acct|caf\xe9 \xc3\xa9|s|10|U\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(m_dir / "tarnlog.log");
        EXPECT_TRUE(WriteDeletionLog(m_dir, kLogStatusDeleted, "Acct", c.subject, c.sender, "10",
                                     "U", c.clock));
        EXPECT_EQ(logText(), day() + c.tail);
    }
}

TEST_F(DeletionLogTest, UnwritableLogLosesTheLineQuietly) {
    EXPECT_FALSE(WriteDeletionLog(m_dir / "missing", kLogStatusDeleted, "A", "S", "F", "1", "U",
                                  clockAt(1, 0)));
    EXPECT_FALSE(fs::exists(m_dir / "missing"));
    // A folder where the file should be.
    fs::create_directory(m_dir / "tarnlog.log");
    EXPECT_FALSE(
        WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "S", "F", "1", "U", clockAt(1, 0)));
    EXPECT_TRUE(fs::is_directory(m_dir / "tarnlog.log"));
}

struct ShowCall {
    int launches = 0;
    std::string launchedPath;
    std::vector<std::string> errors;
};

TEST_F(DeletionLogTest, ShowLogPaths) {
    ShowCall call;
    auto launcher = [&](bool starts) {
        return [&call, starts](const std::string& path) {
            ++call.launches;
            call.launchedPath = path;
            return starts;
        };
    };
    auto errors = [&](const std::string& text) { call.errors.push_back(text); };

    // Nothing deleted yet: no viewer is started.
    EXPECT_EQ(ShowDeletionLog(m_dir, launcher(true), errors), ShowLogResult::NoLog);
    EXPECT_EQ(call.launches, 0);
    EXPECT_EQ(call.errors, std::vector<std::string>{"There are no logged Events"});

    WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "S", "F", "1", "U", clockAt(1, 0));
    call = {};
    EXPECT_EQ(ShowDeletionLog(m_dir, launcher(true), errors), ShowLogResult::Opened);
    EXPECT_EQ(call.launches, 1);
    EXPECT_EQ(fs::path(call.launchedPath), m_dir / "tarnlog.log");
    EXPECT_TRUE(call.errors.empty());

    call = {};
    EXPECT_EQ(ShowDeletionLog(m_dir, launcher(false), errors), ShowLogResult::NoViewer);
    EXPECT_EQ(call.errors,
              std::vector<std::string>{"Cannot detect external viewer\n\rOpen \"TarnLog.log\" "
                                       "with a text editor to access the log file!"});
}

TEST_F(DeletionLogTest, ShowLogHandsTheViewerAnAbsolutePath) {
    WriteDeletionLog(m_dir, kLogStatusDeleted, "A", "S", "F", "1", "U", clockAt(1, 0));
    const fs::path before = fs::current_path();
    fs::current_path(m_dir.parent_path());
    std::string launched;
    ShowDeletionLog(
        m_dir.filename().string(),
        [&](const std::string& p) {
            launched = p;
            return true;
        },
        nullptr);
    fs::current_path(before);
    EXPECT_TRUE(fs::path(launched).is_absolute()) << launched;
    EXPECT_TRUE(fs::equivalent(launched, m_dir / "tarnlog.log"));
}

} // namespace
} // namespace tarn
