// The idle connection against scripted servers that behave and that misbehave.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/ScriptedServer.h"
#include "push/ImapIdleWatcher.h"

using namespace std::chrono_literals;
using tarn::ImapIdleSettings;
using tarn::ImapIdleWatcher;
using tarn::test::ScriptedServer;
using State = ImapIdleWatcher::State;
using SteadyClock = std::chrono::steady_clock;

namespace {

// What a watcher reported, with the time of each attempt to connect.
class Recorder {
public:
    ImapIdleWatcher::Events events() {
        ImapIdleWatcher::Events e;
        e.changed = [this] {
            std::lock_guard<std::mutex> l(m_mutex);
            ++m_changed;
            m_cv.notify_all();
        };
        e.state = [this](State s, const std::string& why) {
            std::lock_guard<std::mutex> l(m_mutex);
            m_states.push_back(s);
            if (s == State::Connecting)
                m_attempts.push_back(SteadyClock::now());
            if (!why.empty())
                m_reasons.push_back(why);
            m_cv.notify_all();
        };
        e.waiting = [this](std::chrono::milliseconds ms) {
            std::lock_guard<std::mutex> l(m_mutex);
            m_waits.push_back(ms);
            m_cv.notify_all();
        };
        e.ended = [this] {
            std::lock_guard<std::mutex> l(m_mutex);
            m_ended = true;
            m_cv.notify_all();
        };
        return e;
    }
    bool waitFor(const std::function<bool()>& pred, std::chrono::milliseconds t = 5s) {
        std::unique_lock<std::mutex> l(m_mutex);
        return m_cv.wait_for(l, t, pred);
    }
    bool waitState(State s, std::chrono::milliseconds t = 5s) {
        return waitFor(
            [&] { return std::find(m_states.begin(), m_states.end(), s) != m_states.end(); }, t);
    }
    bool waitChanged(int n, std::chrono::milliseconds t = 5s) {
        return waitFor([&] { return m_changed >= n; }, t);
    }
    bool waitAttempts(std::size_t n, std::chrono::milliseconds t = 5s) {
        return waitFor([&] { return m_attempts.size() >= n; }, t);
    }
    bool waitWaits(std::size_t n, std::chrono::milliseconds t = 5s) {
        return waitFor([&] { return m_waits.size() >= n; }, t);
    }
    // The waits between attempts the watcher announced, in order.
    std::vector<std::chrono::milliseconds> waits() {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_waits;
    }
    int changed() {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_changed;
    }
    std::vector<SteadyClock::time_point> attempts() {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_attempts;
    }
    std::string reasons() {
        std::lock_guard<std::mutex> l(m_mutex);
        std::string out;
        for (const auto& r : m_reasons)
            out += r + "\n";
        return out;
    }
    bool ended() {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_ended;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_changed = 0;
    std::vector<State> m_states;
    std::vector<SteadyClock::time_point> m_attempts;
    std::vector<std::chrono::milliseconds> m_waits;
    std::vector<std::string> m_reasons;
    bool m_ended = false;
};

// An IMAP4 server that logs in, offers IDLE, selects and answers the first `rounds` DONEs
// (our tags on one connection: I1 CAPABILITY, I2 IDLE, I3 IDLE, ...).
void scriptServer(ScriptedServer& srv, const std::string& idleReply = "+ idling\r\n",
                  int rounds = 20, const std::string& capability = "IMAP4rev1 IDLE") {
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
    srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY " + capability + "\r\n{TAG} OK done\r\n");
    srv.onRegex(R"(^\S+ SELECT )",
                "* 2 EXISTS\r\n* OK [UIDNEXT 5] next\r\n{TAG} OK [READ-WRITE] selected\r\n");
    srv.onRegex(R"(^\S+ IDLE$)", idleReply);
    for (int k = 2; k < 2 + rounds; ++k)
        srv.on("DONE", "I" + std::to_string(k) + " OK idle done\r\n",
               ScriptedServer::After::Continue, 1);
    srv.onRegex(R"(^\S+ LOGOUT$)", "* BYE bye\r\n{TAG} OK logged out\r\n",
                ScriptedServer::After::Close);
}

ImapIdleSettings settingsFor(const ScriptedServer& srv) {
    ImapIdleSettings s;
    s.endpoint.host = ScriptedServer::host();
    s.endpoint.port = srv.port();
    s.user = "bob";
    s.password = "secret";
    s.readTimeout = 2s;
    s.connectTimeout = 2s;
    s.firstRetry = 200ms;
    s.lastRetry = 800ms;
    return s;
}

bool sawLineMatching(const ScriptedServer& srv, const std::string& regex) {
    const std::regex re(regex);
    for (const std::string& l : srv.received()) {
        if (std::regex_search(l, re))
            return true;
    }
    return false;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds t = 5s) {
    const auto end = SteadyClock::now() + t;
    while (SteadyClock::now() < end) {
        if (done())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return done();
}

bool waitForLineMatching(const ScriptedServer& srv, const std::string& regex,
                         std::chrono::milliseconds t = 5s) {
    return waitUntil([&] { return sawLineMatching(srv, regex); }, t);
}

} // namespace

TEST(ImapIdleWatcher, AnnouncementsAreReportedAndStopLogsOut) {
    ScriptedServer srv;
    // Only the first IDLE brings news; the renewal's DONE comes after every line of it.
    srv.onRegex(R"(^\S+ IDLE$)",
                "+ idling\r\n* 3 EXISTS\r\n* 1 RECENT\r\n* 2 EXPUNGE\r\n* OK Still here\r\n",
                ScriptedServer::After::Continue, 1);
    scriptServer(srv);
    ImapIdleSettings s = settingsFor(srv);
    s.renewal = 200ms;
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitChanged(2));
    EXPECT_TRUE(rec.waitState(State::Idling));
    EXPECT_EQ(w.state(), State::Idling);
    // RECENT and a keep-alive are no change of the mailbox: by the renewal every line of the
    // first IDLE has been read.
    ASSERT_TRUE(srv.waitForLine("DONE"));
    EXPECT_EQ(rec.changed(), 2);
    EXPECT_TRUE(sawLineMatching(srv, R"(^C\d+ SELECT "INBOX"$)"));

    w.stop();
    EXPECT_TRUE(waitForLineMatching(srv, R"(^I\d+ LOGOUT$)"));
    EXPECT_TRUE(w.waitStopped(3s));
    EXPECT_TRUE(rec.ended());
    EXPECT_EQ(srv.connectionCount(), 1);
}

TEST(ImapIdleWatcher, RenewsTheIdleAndKeepsOneConnection) {
    ScriptedServer srv;
    scriptServer(srv);
    ImapIdleSettings s = settingsFor(srv);
    s.renewal = 150ms;
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    // I2, I3 and I4 are three rounds, each ended by DONE.
    EXPECT_TRUE(srv.waitForLine("I4 IDLE", 5s));
    EXPECT_GE(srv.received().size(), 5u);
    EXPECT_EQ(srv.connectionCount(), 1);
    EXPECT_EQ(rec.changed(), 0);
    w.stop();
    EXPECT_TRUE(w.waitStopped(3s));
}

// Servers that misbehave: each ends the connection with a failure that says why, and the
// next attempt waits for the back-off.
TEST(ImapIdleWatcher, MisbehavingServersFailWithTheirReasonAndBackOff) {
    struct Case {
        const char* name;
        std::function<void(ScriptedServer&)> script;
        const char* reason;
    };
    const Case cases[] = {
        {"never answers IDLE",
         [](ScriptedServer& srv) {
             scriptServer(srv, "");
             srv.clearRules();
             srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
             srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY IMAP4rev1 IDLE\r\n{TAG} OK x\r\n");
             srv.onRegex(R"(^\S+ SELECT )", "* 0 EXISTS\r\n{TAG} OK selected\r\n");
             srv.onRegex(R"(^\S+ IDLE$)", "", ScriptedServer::After::Stall);
         },
         "time-out"},
        {"answers DONE with garbage",
         [](ScriptedServer& srv) {
             scriptServer(srv, "+ idling\r\n", 0);
             srv.on("DONE", "\x01\xff garbage\r\n");
         },
         "Unexpected answer on the idle connection"},
        {"closes right after the go-ahead",
         [](ScriptedServer& srv) {
             scriptServer(srv, "");
             srv.clearRules();
             srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
             srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY IMAP4rev1 IDLE\r\n{TAG} OK x\r\n");
             srv.onRegex(R"(^\S+ SELECT )", "* 0 EXISTS\r\n{TAG} OK selected\r\n");
             srv.onRegex(R"(^\S+ IDLE$)", "+ idling\r\n", ScriptedServer::After::Close);
         },
         "connection closed"},
        {"hangs silently through the renewal",
         [](ScriptedServer& srv) {
             scriptServer(srv, "+ idling\r\n", 0);
             srv.on("DONE", "", ScriptedServer::After::Stall);
         },
         "did not answer its renewal"},
        {"says BYE while idling",
         [](ScriptedServer& srv) { scriptServer(srv, "+ idling\r\n* BYE shutting down\r\n"); },
         "closed the idle connection"},
        {"refuses IDLE", [](ScriptedServer& srv) { scriptServer(srv, "{TAG} NO not now\r\n"); },
         "refused IDLE"},
        {"floods EXISTS",
         [](ScriptedServer& srv) {
             std::string flood = "+ idling\r\n";
             for (int k = 0; k < 120000; ++k)
                 flood += "* " + std::to_string(k) + " EXISTS\r\n";
             scriptServer(srv, flood);
         },
         "flooded"},
        {"sends an over-long line",
         [](ScriptedServer& srv) {
             scriptServer(srv, "+ idling\r\n* " + std::string(5000, 'x') + "\r\n");
         },
         "Max line length"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer srv;
        c.script(srv);
        ImapIdleSettings s = settingsFor(srv);
        s.readTimeout = 300ms;
        s.renewal = 200ms;
        s.firstRetry = 400ms;
        Recorder rec;
        ImapIdleWatcher w(s, rec.events());
        ASSERT_TRUE(w.start());
        ASSERT_TRUE(rec.waitState(State::Waiting, 10s));
        EXPECT_NE(rec.reasons().find(c.reason), std::string::npos) << rec.reasons();
        ASSERT_TRUE(rec.waitAttempts(2, 5s));
        const auto a = rec.attempts();
        EXPECT_GE(a[1] - a[0], 400ms);
        w.stop();
        EXPECT_TRUE(w.waitStopped(3s));
    }
}

TEST(ImapIdleWatcher, BackOffGrowsWhileTheServerKeepsDropping) {
    ScriptedServer srv;
    srv.setGreeting("* OK ready\r\n", ScriptedServer::After::Close);
    ImapIdleSettings s = settingsFor(srv);
    s.firstRetry = 100ms;
    s.lastRetry = 400ms;
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitAttempts(6, 5s));
    ASSERT_TRUE(rec.waitWaits(5));
    const auto a = rec.attempts();
    const std::vector<std::chrono::milliseconds> expected = {100ms, 200ms, 400ms, 400ms, 400ms};
    // Capped at lastRetry: the waits asked for, and at least that much between attempts.
    const auto waits = rec.waits();
    EXPECT_EQ(std::vector(waits.begin(), waits.begin() + 5), expected);
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_GE(a[k + 1] - a[k], expected[k]) << "gap " << k;
    w.stop();
    EXPECT_TRUE(w.waitStopped(3s));
}

TEST(ImapIdleWatcher, DefaultBackOffNeverRetriesWithinThirtySeconds) {
    ScriptedServer srv;
    srv.setGreeting("* OK ready\r\n", ScriptedServer::After::Close);
    ImapIdleSettings s = settingsFor(srv);
    s.firstRetry = ImapIdleSettings().firstRetry;
    s.lastRetry = ImapIdleSettings().lastRetry;
    ASSERT_GE(s.firstRetry, 30s);
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitWaits(1));
    EXPECT_EQ(rec.waits(), std::vector{30000ms});
    // Stopping in the middle of the wait ends the thread long before the wait is over.
    w.stop();
    EXPECT_TRUE(w.waitStopped(10s));
    EXPECT_EQ(srv.connectionCount(), 1);
    EXPECT_EQ(rec.attempts().size(), 1u);
}

TEST(ImapIdleWatcher, ServerWithoutIdleGetsNoConnection) {
    ScriptedServer srv;
    scriptServer(srv, "+ idling\r\n", 20, "IMAP4rev1 UIDPLUS");
    Recorder rec;
    ImapIdleWatcher w(settingsFor(srv), rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitState(State::NoIdle));
    EXPECT_TRUE(waitForLineMatching(srv, R"(^I\d+ LOGOUT$)"));
    // What follows is a wait without end, not a back-off.
    ASSERT_TRUE(rec.waitWaits(1));
    EXPECT_LT(rec.waits()[0].count(), 0);
    w.stop();
    EXPECT_TRUE(w.waitStopped(2s));
    EXPECT_EQ(srv.connectionCount(), 1);
    EXPECT_EQ(rec.waits().size(), 1u);
    EXPECT_FALSE(sawLineMatching(srv, "SELECT|IDLE"));
}

TEST(ImapIdleWatcher, ReconnectStartsAfreshAtOnceAndSeesWhatChangedMeanwhile) {
    ScriptedServer srv;
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
    srv.onRegex(R"(^\S+ CAPABILITY$)", "* CAPABILITY IMAP4rev1 IDLE\r\n{TAG} OK done\r\n");
    // The second connection finds one message more than the first left.
    srv.onRegex(R"(^\S+ SELECT )", "* 2 EXISTS\r\n* OK [UIDNEXT 5] n\r\n{TAG} OK s\r\n",
                ScriptedServer::After::Continue, 1);
    srv.onRegex(R"(^\S+ SELECT )", "* 3 EXISTS\r\n* OK [UIDNEXT 6] n\r\n{TAG} OK s\r\n");
    srv.onRegex(R"(^\S+ IDLE$)", "+ idling\r\n");
    srv.onRegex(R"(^\S+ LOGOUT$)", "{TAG} OK bye\r\n", ScriptedServer::After::Close);
    ImapIdleSettings s = settingsFor(srv);
    s.firstRetry = 30s; // a reconnect does not wait for any back-off
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitState(State::Idling));
    EXPECT_EQ(rec.changed(), 0);
    w.reconnect();
    ASSERT_TRUE(rec.waitAttempts(2, 3s));
    EXPECT_TRUE(srv.waitForLine("DONE"));
    EXPECT_TRUE(rec.waitChanged(1, 3s));
    EXPECT_EQ(srv.connectionCount(), 2);
    w.stop();
    EXPECT_TRUE(w.waitStopped(3s));
}

TEST(ImapIdleWatcher, StopWhileTheServerSaysNothingEndsAtOnce) {
    ScriptedServer srv;
    srv.setGreeting("", ScriptedServer::After::Stall);
    ImapIdleSettings s = settingsFor(srv);
    s.readTimeout = 60s;
    Recorder rec;
    ImapIdleWatcher w(s, rec.events());
    ASSERT_TRUE(w.start());
    ASSERT_TRUE(rec.waitState(State::Connecting));
    // Inside the wait for the greeting, not before it.
    ASSERT_TRUE(waitUntil([&] { return srv.connectionCount() == 1; }));
    // Within a small part of the 60 s the greeting may take.
    w.stop();
    EXPECT_TRUE(w.waitStopped(10s));
    EXPECT_TRUE(rec.ended());
}
