// Which accounts keep an idle connection, and how announcements turn into checks.

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "check/TaskLoop.h"
#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"
#include "push/PushAccounts.h"

using namespace std::chrono_literals;
using tarn::AccountSettings;
using tarn::ImapIdleWatcher;
using tarn::PushAccounts;
using tarn::PushOptions;
using tarn::TaskLoop;
using tarn::test::CheckSessionSupport;
using tarn::test::ScriptedServer;

namespace {

void scriptImap(ScriptedServer& srv, const std::string& idleReply = "+ idling\r\n") {
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
    srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY IMAP4rev1 IDLE\r\n{TAG} OK done\r\n");
    srv.onRegex(R"(^\S+ SELECT )", "* 2 EXISTS\r\n{TAG} OK selected\r\n");
    srv.onRegex(R"(^\S+ IDLE$)", idleReply);
    srv.onRegex(R"(^\S+ LOGOUT$)", "{TAG} OK bye\r\n", ScriptedServer::After::Close);
}

int countMatching(const ScriptedServer& srv, const std::string& regex) {
    const std::regex re(regex);
    int n = 0;
    for (const std::string& l : srv.received())
        n += std::regex_search(l, re) ? 1 : 0;
    return n;
}

class PushAccountsTest : public CheckSessionSupport {
protected:
    PushAccountsTest() : CheckSessionSupport("tarn-push") {}

    AccountSettings imapAccount(const ScriptedServer& srv) {
        AccountSettings a;
        a.Name = "Push";
        a.MailServerType = 1;
        a.Host = std::string(ScriptedServer::host());
        a.UserID = "bob";
        a.Password = "secret";
        a.Push = true;
        options.imapPort = srv.port();
        return a;
    }
    void addAccount(const AccountSettings& a) {
        session.settings().Accounts.push_back(a);
        session.syncWithSettings();
    }
    std::unique_ptr<PushAccounts> makePush() {
        options.firstRetry = 200ms;
        options.readTimeout = 2s;
        auto p = std::make_unique<PushAccounts>(
            session, [this](std::function<void()> f) { loop.post(std::move(f)); },
            [this](int a) {
                requests.push_back(a);
                // What the mail list's request does to the account's record.
                session.runtimeOf(a)->CheckRequested = true;
            },
            options);
        return p;
    }
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds t = 5s) {
        return loop.runUntil(done, t);
    }

    TaskLoop loop;
    PushOptions options;
    std::vector<int> requests;
};

} // namespace

TEST_F(PushAccountsTest, OnlyActiveImapAccountsWithPushGetAConnection) {
    ScriptedServer srv;
    struct Case {
        const char* name;
        std::function<void(AccountSettings&)> change;
        bool connection;
        int port;
    };
    const Case cases[] = {
        {"IMAP4, Active, Push", [](AccountSettings&) {}, true, -1},
        {"POP3", [](AccountSettings& a) { a.MailServerType = 0; }, false, 0},
        {"Push off", [](AccountSettings& a) { a.Push = false; }, false, 0},
        {"not Active", [](AccountSettings& a) { a.Active = false; }, false, 0},
        {"no server", [](AccountSettings& a) { a.Host = ""; }, false, 0},
        {"password still to be asked for",
         [](AccountSettings& a) {
             a.SavePwd = false;
             a.Password.clear();
         },
         false, 0},
        {"port part ignored without security", [](AccountSettings& a) { a.Host += ":9999"; }, true,
         -1},
        {"TLS takes the port from Host",
         [](AccountSettings& a) {
             a.Host += ":9993";
             a.Security = 1;
         },
         true, 9993},
        {"TLS on its default port", [](AccountSettings& a) { a.Security = 1; }, true, 993},
        {"port that is not a number",
         [](AccountSettings& a) {
             a.Host += ":x";
             a.Security = 2;
         },
         false, 0},
        {"unknown security", [](AccountSettings& a) { a.Security = 7; }, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.settings().Accounts.clear();
        AccountSettings a = imapAccount(srv);
        c.change(a);
        addAccount(a);
        const auto s = PushAccounts::idleSettingsFor(session, 1, options);
        ASSERT_EQ(s.has_value(), c.connection);
        if (s) {
            EXPECT_EQ(s->endpoint.port, c.port < 0 ? srv.port() : c.port);
            EXPECT_EQ(s->endpoint.host, "127.0.0.1");
            EXPECT_EQ(s->mailbox, "INBOX");
        }
    }
}

TEST_F(PushAccountsTest, ConnectionsFollowOnlineStateAndSettings) {
    ScriptedServer srv;
    scriptImap(srv);
    addAccount(imapAccount(srv));
    auto push = makePush();
    push->sync();
    ASSERT_EQ(push->connectionCount(), 1);
    ASSERT_TRUE(
        pumpUntil([&] { return push->watcher(1)->state() == ImapIdleWatcher::State::Idling; }));

    // Offline: the server sees the idle end and the logout.
    session.Online = false;
    push->sync();
    EXPECT_EQ(push->connectionCount(), 0);
    EXPECT_TRUE(srv.waitForLine("DONE"));
    EXPECT_TRUE(srv.waitForClosed(1));
    EXPECT_EQ(countMatching(srv, R"(^I\d+ LOGOUT$)"), 1);

    // Online again: a new connection.
    session.Online = true;
    push->sync();
    ASSERT_TRUE(pumpUntil([&] {
        return push->watcher(1) && push->watcher(1)->state() == ImapIdleWatcher::State::Idling;
    }));
    EXPECT_EQ(srv.connectionCount(), 2);

    // A sync with nothing changed keeps the connection.
    push->sync();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(srv.connectionCount(), 2);

    // A changed password: the old connection goes, a new one logs in with it.
    session.settings().account(1).Password = "changed";
    push->sync();
    EXPECT_TRUE(srv.waitForClosed(2));
    EXPECT_TRUE(srv.waitForLine(std::string("C2 LOGIN bob changed")));

    // Switched off, then deleted: no connection.
    session.settings().account(1).Active = false;
    push->sync();
    EXPECT_EQ(push->connectionCount(), 0);
    EXPECT_TRUE(srv.waitForClosed(3));
    session.settings().account(1).Active = true;
    push->sync();
    ASSERT_TRUE(pumpUntil([&] {
        return push->watcher(1) && push->watcher(1)->state() == ImapIdleWatcher::State::Idling;
    }));
    session.settings().Accounts.clear();
    session.runtime().remove(1);
    push->sync();
    EXPECT_EQ(push->connectionCount(), 0);
    EXPECT_TRUE(srv.waitForClosed(4));
    EXPECT_TRUE(session.waitForWorkers(3s));
}

TEST_F(PushAccountsTest, AFloodOfAnnouncementsAsksForOneCheck) {
    ScriptedServer srv;
    std::string flood = "+ idling\r\n";
    for (int k = 0; k < 40000; ++k)
        flood += "* " + std::to_string(k + 3) + " EXISTS\r\n";
    scriptImap(srv, flood);
    addAccount(imapAccount(srv));
    auto push = makePush();
    push->sync();
    ASSERT_TRUE(pumpUntil([&] { return !requests.empty(); }));
    loop.runFor(500ms);
    EXPECT_EQ(requests, std::vector<int>{1});
}

TEST_F(PushAccountsTest, AnnouncementDuringACheckAsksForOneMoreWhenItEnds) {
    ScriptedServer srv;
    scriptImap(srv, "+ idling\r\n* 3 EXISTS\r\n");
    addAccount(imapAccount(srv));
    tarn::AccountRuntime* rt = session.runtimeOf(1);
    rt->Busy = true; // a check is running
    auto push = makePush();
    push->sync();
    loop.runFor(500ms);
    EXPECT_TRUE(requests.empty());
    // The running check ends: the announcement it may have missed asks for another.
    rt->Busy = false;
    push->checkEnded(1);
    EXPECT_EQ(requests, std::vector<int>{1});
    // While offline an announcement asks for nothing.
    requests.clear();
    rt->CheckRequested = false;
    session.Online = false;
    push->wokeUp();
    EXPECT_TRUE(requests.empty());
}

TEST_F(PushAccountsTest, WakingUpReconnectsAndChecksEveryPushAccount) {
    ScriptedServer srv;
    scriptImap(srv);
    addAccount(imapAccount(srv));
    AccountSettings pop;
    pop.Name = "Pop";
    pop.Host = "127.0.0.1";
    addAccount(pop);
    options.firstRetry = 30s; // the wake-up does not wait for a back-off
    auto push = makePush();
    push->sync();
    ASSERT_TRUE(
        pumpUntil([&] { return push->watcher(1)->state() == ImapIdleWatcher::State::Idling; }));
    push->wokeUp();
    EXPECT_EQ(requests, std::vector<int>{1});
    ASSERT_TRUE(pumpUntil([&] { return srv.connectionCount() == 2; }, 3s));
    EXPECT_TRUE(srv.waitForLine("DONE"));
}

namespace {

// The field's "reconnecting since": the first failure's time, kept through the attempts that
// follow, gone once the connection idles again.
TEST(PushDownSince, FirstFailureUntilBack) {
    using S = tarn::ImapIdleWatcher::State;
    struct Step {
        S state;
        const char* now;
        const char* shown;
    } steps[] = {
        {S::Starting, "13:30", ""},        {S::Connecting, "13:30", ""},
        {S::Idling, "13:31", ""},          {S::Waiting, "13:34", "13:34"},
        {S::Connecting, "13:35", "13:34"}, {S::Waiting, "13:36", "13:34"},
        {S::Idling, "13:40", ""},          {S::Waiting, "13:50", "13:50"},
        {S::Stopped, "13:51", ""},         {S::Waiting, "14:00", "14:00"},
        {S::NoIdle, "14:01", ""},
    };
    std::string shown;
    for (const Step& s : steps) {
        shown = tarn::pushDownSince(shown, s.state, s.now);
        EXPECT_EQ(shown, s.shown) << tarn::ImapIdleWatcher::stateName(s.state) << " " << s.now;
    }
}

} // namespace
