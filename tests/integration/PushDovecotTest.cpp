// Push accounts against a private Dovecot: its IDLE announcements start checks at once, plain
// and over TLS; going offline logs the idle connection out; a dropped connection comes back
// after the back-off.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "check/Session.h"
#include "fakes/CheckSessionSupport.h"
#include "fakes/TestPki.h"
#include "integration/fixture/DovecotFixture.h"
#include "push/HeadlessWatch.h"

using namespace std::chrono_literals;
using tarn::AccountSettings;
using tarn::CheckOptions;
using tarn::CheckResult;
using tarn::HeadlessWatch;
using tarn::ImapIdleWatcher;
using tarn::PushOptions;
using tarn::test::CheckSessionSupport;
using tarn::test::DovecotFixture;
using tarn::test::TestPki;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::string message(const std::string& id, const std::string& subject) {
    return "From: Carol Sender <carol@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nMessage-ID: <" + id + "@example.org>\r\n\r\nHello.\r\n";
}

class PushDovecot : public CheckSessionSupport {
protected:
    PushDovecot() : CheckSessionSupport("tarn-pushdc") {}

    static void SetUpTestSuite() {
        if (!DovecotFixture::available())
            return;
        try {
            DovecotFixture::Options o;
            o.sslCertFile = TestPki::shared().good().certFile;
            o.sslKeyFile = TestPki::shared().good().keyFile;
            s_dovecot = std::make_unique<DovecotFixture>(o);
        } catch (const std::exception& e) {
            s_startError = e.what();
        }
    }
    static void TearDownTestSuite() { s_dovecot.reset(); }

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        ASSERT_TRUE(s_dovecot) << "private Dovecot did not start: " << s_startError;
    }
    void TearDown() override {
        if (watch) {
            watch->stop();
            watch.reset();
        }
        EXPECT_TRUE(session.waitForWorkers(5s));
    }

    // One push account with a timer of 30 minutes on a user of its own.
    void addAccount(int security) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        user = std::string("push") + info->name();
        for (char& c : user)
            if (c == '/')
                c = '_';
        s_dovecot->addUser(user, "pw");
        AccountSettings a;
        a.Name = "Push";
        a.MailServerType = 1;
        a.UserID = user;
        a.Password = "pw";
        a.Push = true;
        a.Timer = 30 * 60 * 1000;
        a.Security = security;
        a.Host = std::string(DovecotFixture::host()) +
                 (security == 1 ? ":" + std::to_string(s_dovecot->imapsPort()) : "");
        session.settings().Accounts.push_back(a);
        session.syncWithSettings();
    }

    void startWatch(PushOptions push = PushOptions()) {
        CheckOptions check;
        check.imapPort = s_dovecot->imapPort();
        push.imapPort = s_dovecot->imapPort();
        watch = std::make_unique<HeadlessWatch>(session, check, push);
        watch->onCheckEnded = [this](const CheckResult& r, bool pushed) {
            ends.push_back({r, pushed});
        };
        watch->push().onState = [this](int, ImapIdleWatcher::State s, const std::string&) {
            states.push_back({s, SteadyClock::now()});
        };
        watch->start();
    }

    bool idling() {
        const ImapIdleWatcher* w = watch->push().watcher(1);
        return w && w->state() == ImapIdleWatcher::State::Idling;
    }
    bool run(const std::function<bool()>& done, std::chrono::milliseconds t = 15s) {
        return watch->loop().runUntil(done, t);
    }
    int pushedEnds() const {
        int n = 0;
        for (const auto& e : ends)
            n += e.second ? 1 : 0;
        return n;
    }
    bool stored(const std::string& id) {
        return session.db().FindMessage("<" + id + "@example.org>", 1).has_value();
    }

    static std::unique_ptr<DovecotFixture> s_dovecot;
    static std::string s_startError;
    std::string user;
    std::unique_ptr<HeadlessWatch> watch;
    std::vector<std::pair<CheckResult, bool>> ends;
    std::vector<std::pair<ImapIdleWatcher::State, SteadyClock::time_point>> states;
};

std::unique_ptr<DovecotFixture> PushDovecot::s_dovecot;
std::string PushDovecot::s_startError;

} // namespace

TEST_F(PushDovecot, DeliveredMessageIsStoredWithinSeconds) {
    addAccount(0);
    startWatch();
    // The first tick checks the empty mailbox; then the account only idles.
    ASSERT_TRUE(run([&] { return !ends.empty() && idling(); }));
    EXPECT_FALSE(ends[0].first.failed) << ends[0].first.failureReason();

    // Within seconds, where the timer would take half an hour (push_bench has the figures).
    s_dovecot->addMessage(user, message("push1", "Arrived"));
    ASSERT_TRUE(run([&] { return stored("push1"); }, 10s)) << s_dovecot->log();
    ASSERT_TRUE(run([&] { return pushedEnds() == 1; }, 5s));
    EXPECT_EQ(session.runtimeOf(1)->ShownCount, 1);
}

TEST_F(PushDovecot, TlsAccountIdlesOverTls) {
    addAccount(1);
    startWatch();
    ASSERT_TRUE(run([&] { return !ends.empty() && idling(); }));
    EXPECT_FALSE(ends[0].first.failed) << ends[0].first.failureReason();
    s_dovecot->addMessage(user, message("tls1", "Over TLS"));
    ASSERT_TRUE(run([&] { return stored("tls1"); }, 10s)) << s_dovecot->log();
    EXPECT_EQ(pushedEnds(), 1);
}

TEST_F(PushDovecot, ExpungeFromAnotherClientStartsACheck) {
    addAccount(0);
    s_dovecot->addMessage(user, message("gone1", "To be expunged"));
    startWatch();
    ASSERT_TRUE(run([&] { return !ends.empty() && idling() && stored("gone1"); }));
    s_dovecot->doveadm({"expunge", "-u", user, "mailbox", "INBOX", "all"});
    ASSERT_TRUE(run([&] { return !stored("gone1"); }, 10s)) << s_dovecot->log();
    EXPECT_EQ(pushedEnds(), 1);
}

TEST_F(PushDovecot, OfflineLogsOutAndOnlineComesBack) {
    addAccount(0);
    startWatch();
    ASSERT_TRUE(run([&] { return !ends.empty() && idling(); }));
    const auto loggedOut = [&] {
        const std::string log = s_dovecot->log();
        int n = 0;
        for (std::size_t at = log.find("imap(" + user + ")"); at != std::string::npos;
             at = log.find("imap(" + user + ")", at + 1)) {
            const std::size_t eol = log.find('\n', at);
            n += log.substr(at, eol - at).find("Logged out") != std::string::npos ? 1 : 0;
        }
        return n;
    };
    // The first check has logged out; the idle connection has not.
    ASSERT_TRUE(run([&] { return loggedOut() == 1; }, 5s)) << s_dovecot->log();
    const int before = 1;

    session.Online = false;
    watch->push().sync();
    EXPECT_EQ(watch->push().connectionCount(), 0);
    ASSERT_TRUE(run([&] { return loggedOut() == before + 1; }, 5s)) << s_dovecot->log();

    session.Online = true;
    watch->push().sync();
    ASSERT_TRUE(run([&] { return idling(); }));
    // Still there: a delivery is announced.
    s_dovecot->addMessage(user, message("back1", "After going online"));
    ASSERT_TRUE(run([&] { return stored("back1"); }, 10s)) << s_dovecot->log();
}

TEST_F(PushDovecot, DroppedConnectionComesBackAfterTheBackOff) {
    addAccount(0);
    PushOptions push;
    push.firstRetry = 1s;
    push.lastRetry = 4s;
    startWatch(push);
    ASSERT_TRUE(run([&] { return !ends.empty() && idling(); }));
    std::vector<std::chrono::milliseconds> gaps;
    for (int round = 0; round < 2; ++round) {
        states.clear();
        s_dovecot->doveadm({"kick", user});
        ASSERT_TRUE(run(
            [&] {
                return !states.empty() && idling() &&
                       states.back().first == ImapIdleWatcher::State::Idling;
            },
            15s))
            << s_dovecot->log();
        // From the failure to the next attempt.
        SteadyClock::time_point failed{}, next{};
        for (const auto& [s, t] : states) {
            if (s == ImapIdleWatcher::State::Waiting && failed == SteadyClock::time_point{})
                failed = t;
            if (s == ImapIdleWatcher::State::Connecting && failed != SteadyClock::time_point{} &&
                next == SteadyClock::time_point{})
                next = t;
        }
        ASSERT_NE(failed, SteadyClock::time_point{});
        ASSERT_NE(next, SteadyClock::time_point{});
        gaps.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(next - failed));
    }
    // The connection that came back had not proved itself yet: the second wait is longer.
    EXPECT_GE(gaps[0], 900ms);
    EXPECT_GE(gaps[1], 1800ms);
}
