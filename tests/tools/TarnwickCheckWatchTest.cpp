// tarnwick-check --watch against a private Dovecot (over TLS, whose port the account names).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/Settings.h"
#include "fakes/TestPki.h"
#include "integration/fixture/DovecotFixture.h"

using namespace std::chrono_literals;
using tarn::test::DovecotFixture;
using tarn::test::TestPki;

namespace {

// The tool running in the background, its standard output read line by line.
class Tool {
public:
    explicit Tool(const std::vector<std::string>& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDERR_FILENO);
            std::vector<char*> argv{const_cast<char*>(TARNWICK_CHECK_BIN)};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(TARNWICK_CHECK_BIN, argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        m_fd = out[0];
    }
    ~Tool() {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // The next line, or nullopt when none came in time or the tool ended.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const std::size_t nl = m_buf.find('\n'); nl != std::string::npos) {
                std::string line = m_buf.substr(0, nl);
                m_buf.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            char buf[4096];
            const ssize_t got = ::read(m_fd, buf, sizeof buf);
            if (got <= 0)
                return std::nullopt;
            m_buf.append(buf, static_cast<std::size_t>(got));
        }
    }
    // Sends the signal and waits for the exit status (-1 when it did not end in time).
    int stop(int sig, std::chrono::milliseconds timeout) {
        ::kill(m_pid, sig);
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            int st = 0;
            if (::waitpid(m_pid, &st, WNOHANG) == m_pid) {
                m_reaped = true;
                return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }
    // What is left on its standard output.
    std::string rest() {
        while (readLine(200ms)) {
        }
        return m_buf;
    }

private:
    pid_t m_pid = -1;
    int m_fd = -1;
    bool m_reaped = false;
    std::string m_buf;
};

int countInLog(const DovecotFixture& dovecot, const std::string& what, const std::string& user) {
    const std::string log = dovecot.log();
    int n = 0;
    std::size_t at = 0;
    while ((at = log.find(what, at)) != std::string::npos) {
        const std::size_t bol = log.rfind('\n', at);
        const std::size_t eol = log.find('\n', at);
        const std::string line = log.substr(bol == std::string::npos ? 0 : bol, eol - bol);
        n += line.find(user) != std::string::npos ? 1 : 0;
        at += what.size();
    }
    return n;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return done();
}

} // namespace

TEST(TarnwickCheckWatch, PrintsEachAnnouncedCheckAndEndsCleanlyOnSignals) {
    TARN_REQUIRE_DOVECOT();
    const TestPki& pki = TestPki::shared(); // the tool inherits the trust
    DovecotFixture::Options o;
    o.sslCertFile = pki.good().certFile;
    o.sslKeyFile = pki.good().keyFile;
    DovecotFixture dovecot(o);
    char tmpl[] = "/tmp/tarn-watch-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);

    for (const auto& [json, sig] : {std::pair{false, SIGTERM}, std::pair{true, SIGINT}}) {
        SCOPED_TRACE(json ? "json, SIGINT" : "plain, SIGTERM");
        const std::string user = json ? "watchjson" : "watchplain";
        dovecot.addUser(user, "pw");
        tarn::Settings settings;
        tarn::AccountSettings a;
        a.Name = "Watched";
        a.MailServerType = 1;
        a.Security = 1;
        a.Host = "127.0.0.1:" + std::to_string(dovecot.imapsPort());
        a.UserID = user;
        a.Password = "pw";
        a.Push = true;
        a.Timer = 30 * 60 * 1000;
        settings.Accounts = {a};
        std::filesystem::remove(dir + "/MailDB.tdb");
        tarn::saveSettingsFile(dir + "/tarn.ini", settings, tarn::SaveInputs{});

        std::vector<std::string> args{"-d", dir, "--watch"};
        if (json)
            args.push_back("--json");
        Tool tool(args);
        // The first check has logged out and the idle connection idles: a message from now on
        // is announced.
        ASSERT_TRUE(waitUntil(
            [&] {
                return countInLog(dovecot, "Logged out", user) >= 1 &&
                       dovecot.imapCommandRunning(user, "IDLE");
            },
            10s))
            << dovecot.log();
        dovecot.addMessage(user, "From: Dan <dan@example.org>\r\nSubject: watched\r\n"
                                 "Message-ID: <w-" +
                                     user + "@example.org>\r\n\r\nHi.\r\n");
        const std::optional<std::string> line = tool.readLine(10s);
        ASSERT_TRUE(line) << dovecot.log();
        if (json)
            EXPECT_EQ(*line, "{\"account\": 1, \"name\": \"Watched\", \"shown\": 1, \"new\": 1, "
                             "\"status\": \"ok\"}");
        else
            EXPECT_EQ(*line, "1\tWatched\t1\t1\tok");

        EXPECT_EQ(tool.stop(sig, 5s), 0);
        EXPECT_EQ(tool.rest(), "");
        // The idle connection said goodbye; the list was saved.
        EXPECT_TRUE(waitUntil([&] { return countInLog(dovecot, "Logged out", user) >= 3; }, 5s))
            << dovecot.log();
        EXPECT_TRUE(std::filesystem::exists(dir + "/MailDB.tdb"));
    }
    std::filesystem::remove_all(dir);
}

TEST(TarnwickCheckWatch, RefusesWithoutAPushAccount) {
    char tmpl[] = "/tmp/tarn-watch-XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    tarn::Settings settings;
    tarn::AccountSettings a;
    a.MailServerType = 1;
    a.Host = "127.0.0.1";
    settings.Accounts = {a};
    tarn::saveSettingsFile(dir + "/tarn.ini", settings, tarn::SaveInputs{});
    Tool tool({"-d", dir, "--watch"});
    EXPECT_EQ(tool.stop(0, 5s), 2);
    std::filesystem::remove_all(dir);
}
