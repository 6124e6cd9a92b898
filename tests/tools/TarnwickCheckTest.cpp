#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>

#include "core/Settings.h"
#include "fakes/ScriptedServer.h"

using tarn::test::ScriptedServer;

namespace {

struct RunResult {
    int status = -1;
    std::string out;
};

// Runs the built tarnwick-check without a terminal on its standard input.
RunResult runTool(const std::string& args) {
    const std::string cmd =
        std::string(TARNWICK_CHECK_BIN) + " " + args + " </dev/null 2>/dev/null";
    RunResult r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    std::size_t got = 0;
    while ((got = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        r.out.append(buf.data(), got);
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

std::string msg(const std::string& subject) {
    return "From: a@example.org\r\nSubject: " + subject + "\r\n";
}

void serveTwo(ScriptedServer& srv) {
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.onPrefix("PASS", "-ERR denied\r\n");
    srv.on("STAT", "+OK 2 300\r\n");
    srv.on("LIST", "+OK\r\n1 100\r\n2 200\r\n.\r\n");
    srv.on("UIDL", "+OK\r\n1 a\r\n2 b\r\n.\r\n");
    srv.on("LIST 1", "+OK 1 100\r\n");
    srv.on("LIST 2", "+OK 2 200\r\n");
    srv.on("TOP 1 0", "+OK\r\n" + msg("first") + ".\r\n");
    srv.on("TOP 2 0", "+OK\r\n" + msg("spam second") + ".\r\n");
    srv.on("CAPA", "+OK\r\nPIPELINING\r\n.\r\n");
    srv.on("QUIT", "+OK\r\n", ScriptedServer::After::Close);
}

class TarnwickCheck : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarn-tool-XXXXXX";
        dir = ::mkdtemp(tmpl);
        serveTwo(srv);
        tarn::AccountSettings good;
        good.Name = "Good one";
        good.Host = "127.0.0.1:" + std::to_string(srv.port());
        good.UserID = "bob";
        good.Password = "secret";
        tarn::AccountSettings bad = good;
        bad.Name = "Bad";
        bad.Host = "127.0.0.1:" + std::to_string(closedPort());
        settings.Accounts = {good, bad};
        // Hide what the filter calls spam.
        settings.Filters = {{3, true, 0, 1, "spam", "", 0}};
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    static int closedPort() {
        ScriptedServer gone;
        return gone.port(); // closed again when this returns
    }
    void writeIni() { tarn::saveSettingsFile(dir + "/tarn.ini", settings, tarn::SaveInputs{}); }

    std::string dir;
    ScriptedServer srv;
    tarn::Settings settings;
};

TEST_F(TarnwickCheck, ChecksEveryAccountSavesTheListAndReportsFailure) {
    writeIni();
    RunResult r = runTool("-d " + dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1\tGood one\t1\t1\tok\n2\tBad\t0\t0\tfailed\tconnection refused: Could not "
                     "connect to " +
                         settings.Accounts[1].Host + ": Connection refused\n");
    EXPECT_TRUE(std::filesystem::exists(dir + "/MailDB.tdb"));

    // The saved list is loaded again: nothing is new, the hidden message stays hidden.
    r = runTool("-d " + dir + " --account 1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1\tGood one\t1\t0\tok\n");
}

// The file's identity and time: saving writes a new file and renames it over the old one.
std::pair<ino_t, std::filesystem::file_time_type> fileStamp(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return {st.st_ino, std::filesystem::last_write_time(path)};
}

TEST_F(TarnwickCheck, ARunThatChangesNothingLeavesTheSavedListAlone) {
    settings.Accounts.pop_back();
    writeIni();
    ASSERT_EQ(runTool("-d " + dir).status, 0);
    const std::string saved = dir + "/MailDB.tdb";
    const auto first = fileStamp(saved);
    for (int run = 0; run < 2; ++run) {
        const RunResult r = runTool("-d " + dir);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "1\tGood one\t1\t0\tok\n");
        EXPECT_EQ(fileStamp(saved), first) << "run " << run;
    }

    // A third message arrives: the list changes and is saved.
    srv.clearRules();
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "+OK 3 400\r\n");
    srv.on("LIST", "+OK\r\n1 100\r\n2 200\r\n3 100\r\n.\r\n");
    srv.on("UIDL", "+OK\r\n1 a\r\n2 b\r\n3 c\r\n.\r\n");
    srv.on("CAPA", "-ERR\r\n");
    srv.on("TOP 3 0", "+OK\r\n" + msg("third") + ".\r\n");
    srv.on("QUIT", "+OK\r\n", ScriptedServer::After::Close);
    const RunResult r = runTool("-d " + dir);
    EXPECT_EQ(r.out, "1\tGood one\t2\t1\tok\n");
    EXPECT_NE(fileStamp(saved).first, first.first);
    EXPECT_EQ(runTool("-d " + dir).out, "1\tGood one\t2\t0\tok\n");
}

TEST_F(TarnwickCheck, JsonOutput) {
    writeIni();
    const RunResult r = runTool("--json -d " + dir + " --account 1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "[\n  {\"account\": 1, \"name\": \"Good one\", \"shown\": 1, \"new\": 1, "
                     "\"status\": \"ok\"}\n]\n");
}

TEST_F(TarnwickCheck, JsonOutputGivesTheKindAndTextOfAFailure) {
    settings.Accounts[0].Password = "wrong";
    writeIni();
    const RunResult r = runTool("--json -d " + dir + " --account 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "[\n  {\"account\": 1, \"name\": \"Good one\", \"shown\": 0, \"new\": 0, "
                     "\"status\": \"failed\", \"failure\": {\"kind\": \"login rejected\", "
                     "\"text\": \"denied\"}}\n]\n");
}

TEST_F(TarnwickCheck, UnsavedPasswordWithoutTerminalFailsWithoutConnecting) {
    settings.Accounts[0].SavePwd = false;
    writeIni();
    const RunResult r = runTool("-d " + dir + " --account 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1\tGood one\t0\t0\tfailed\tlocal error: No password was given.\n");
    EXPECT_EQ(srv.connectionCount(), 0);
}

TEST_F(TarnwickCheck, UsageErrors) {
    writeIni();
    for (const char* a : {"--bogus", "--account", "--account x", "--account 0", "--account 3",
                          "-d /nonexistent-folder-tarn"}) {
        const std::string args = a;
        SCOPED_TRACE(args);
        const std::string full = args.rfind("-d", 0) == 0 ? args : "-d " + dir + " " + args;
        const RunResult r = runTool(full);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(srv.connectionCount(), 0);
}

// A tool run in the background, so the test can signal it while its checks are under way.
class BackgroundTool {
public:
    explicit BackgroundTool(const std::string& args) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        const std::string cmd =
            "exec " + std::string(TARNWICK_CHECK_BIN) + " " + args + " </dev/null 2>/dev/null";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~BackgroundTool() {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }
    void signal(int sig) { ::kill(m_pid, sig); }
    // Reads the output to its end and reaps the tool; false when it has not ended in time.
    bool finish(std::chrono::milliseconds limit, RunResult& r) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buf[4096];
            const ssize_t got = ::read(m_out, buf, sizeof buf);
            if (got <= 0)
                break;
            r.out.append(buf, static_cast<std::size_t>(got));
        }
        int st = 0;
        if (::waitpid(m_pid, &st, 0) != m_pid)
            return false;
        m_reaped = true;
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return true;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_reaped = false;
};

// A server that never answers after the user name holds its check for the read time-out (a
// minute); a stop signal ends the run at once, with the finished check's line intact and the
// stalled one reported, and without tearing down what the stalled check still uses.
TEST_F(TarnwickCheck, AStopSignalEndsTheRunWhileACheckIsStillTalking) {
    ScriptedServer stalled;
    stalled.setGreeting("+OK ready\r\n");
    stalled.on("CAPA", "-ERR\r\n");
    stalled.on("USER bob", "+OK\r\n", ScriptedServer::After::Stall);
    settings.Accounts[1] = settings.Accounts[0];
    settings.Accounts[1].Name = "Stalled";
    settings.Accounts[1].Host = "127.0.0.1:" + std::to_string(stalled.port());
    writeIni();

    BackgroundTool tool("-d " + dir);
    ASSERT_TRUE(stalled.waitForLine("USER bob"));
    ASSERT_TRUE(srv.waitForLine("QUIT"));
    // The good check's last step (its result) follows its goodbye on its own thread.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = std::chrono::steady_clock::now();
    tool.signal(SIGTERM);
    RunResult r;
    ASSERT_TRUE(tool.finish(std::chrono::seconds(20), r)) << r.out;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(15));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1\tGood one\t1\t1\tok\n2\tStalled\t0\t0\tfailed\tlocal error: The check "
                     "was stopped before it ended.\n");
    EXPECT_TRUE(std::filesystem::exists(dir + "/MailDB.tdb"));
}

} // namespace
