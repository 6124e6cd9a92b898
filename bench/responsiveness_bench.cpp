// How long the calls that must never wait for a server take, measured against stand-ins that
// are missing, silent or dropping connections:
//  - DesktopNotifications::notify with no notification service on the bus, and with one that
//    never answers (the call returns before any answer);
//  - an idle connection's stop() until its thread has ended, while it waits out the default
//    back-off and while the server never greets;
//  - the gap between attempts once the back-off has reached its cap (400 ms here).
// Each figure: median, min and max of ROUNDS rounds (default 20).
//
//   responsiveness_bench [ROUNDS]

#include "fakes/ScriptedServer.h"
#include "fakes/dbus/FakeNotificationService.h"
#include "fakes/dbus/PrivateBus.h"
#include "platform/dbus/DesktopNotifications.h"
#include "push/ImapIdleWatcher.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tarn::ImapIdleSettings;
using tarn::ImapIdleWatcher;
using tarn::test::ScriptedServer;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void printFigures(const char* what, std::vector<double> v) {
    if (v.empty()) {
        std::printf("%-52s no figures\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    std::printf("%-52s median %8.2f ms  min %8.2f ms  max %8.2f ms  (n=%zu)\n", what,
                v[v.size() / 2], v.front(), v.back(), v.size());
}

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

tarn::DesktopNotice notice() {
    tarn::DesktopNotice n;
    n.summary = QStringLiteral("1 new Mail - Work");
    n.body = QStringLiteral("Carol: Hello");
    n.icon = QImage(16, 16, QImage::Format_ARGB32);
    n.icon.fill(Qt::red);
    return n;
}

// notify() against a bus without the service, or with one that never answers.
void noticeFigures(int rounds) {
    tarn::test::PrivateBus bus;
    for (const bool silent : {false, true}) {
        std::unique_ptr<tarn::test::FakeNotificationService> service;
        if (silent)
            service = std::make_unique<tarn::test::FakeNotificationService>(
                bus.connect(QStringLiteral("bench-service")),
                tarn::test::FakeNotificationService::Mode::NeverAnswer);
        tarn::DesktopNotifications notes(
            bus.connect(QString::fromLatin1(silent ? "silent" : "none")));
        notes.setCallTimeout(300);
        std::vector<double> took;
        for (int k = 0; k < rounds; ++k) {
            const auto t0 = Clock::now();
            notes.notify(1, notice(), [] {});
            took.push_back(ms(Clock::now() - t0));
        }
        if (!runUntil([&] { return notes.pendingCalls() == 0; }, 10s))
            std::fprintf(stderr, "responsiveness_bench: calls still pending\n");
        printFigures(silent ? "notify(), service never answers" : "notify(), no service", took);
    }
}

ImapIdleSettings settingsFor(const ScriptedServer& srv) {
    ImapIdleSettings s;
    s.endpoint.host = ScriptedServer::host();
    s.endpoint.port = srv.port();
    s.user = "bob";
    s.password = "secret";
    return s;
}

// Waits for a predicate over what the watcher's thread reports.
class Reports {
public:
    ImapIdleWatcher::Events events() {
        ImapIdleWatcher::Events e;
        e.state = [this](ImapIdleWatcher::State s, const std::string&) {
            std::lock_guard<std::mutex> l(m_mutex);
            if (s == ImapIdleWatcher::State::Connecting)
                m_attempts.push_back(Clock::now());
            m_last = s;
            m_cv.notify_all();
        };
        return e;
    }
    bool waitFor(const std::function<bool(ImapIdleWatcher::State, std::size_t)>& done,
                 std::chrono::milliseconds t) {
        std::unique_lock<std::mutex> l(m_mutex);
        return m_cv.wait_for(l, t, [&] { return done(m_last, m_attempts.size()); });
    }
    std::vector<Clock::time_point> attempts() {
        std::lock_guard<std::mutex> l(m_mutex);
        return m_attempts;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    ImapIdleWatcher::State m_last = ImapIdleWatcher::State::Starting;
    std::vector<Clock::time_point> m_attempts;
};

void stopFigures(int rounds) {
    using State = ImapIdleWatcher::State;
    struct Case {
        const char* name;
        bool greets; // false: the server never says a word
    };
    for (const Case c : {Case{"stop() to thread end, waiting out the back-off", true},
                         Case{"stop() to thread end, server never greets", false}}) {
        std::vector<double> took;
        for (int k = 0; k < rounds; ++k) {
            ScriptedServer srv;
            if (c.greets)
                srv.setGreeting("* OK ready\r\n", ScriptedServer::After::Close);
            else
                srv.setGreeting("", ScriptedServer::After::Stall);
            ImapIdleSettings s = settingsFor(srv);
            s.readTimeout = 60s;
            Reports reports;
            ImapIdleWatcher w(s, reports.events());
            if (!w.start())
                continue;
            const State awaited = c.greets ? State::Waiting : State::Connecting;
            if (!reports.waitFor([&](State st, std::size_t) { return st == awaited; }, 10s))
                continue;
            if (!c.greets)
                std::this_thread::sleep_for(20ms); // inside the wait for the greeting
            const auto t0 = Clock::now();
            w.stop();
            if (w.waitStopped(60s))
                took.push_back(ms(Clock::now() - t0));
        }
        printFigures(c.name, took);
    }

    // The back-off's cap: 100, 200, 400, then 400 ms between attempts.
    ScriptedServer srv;
    srv.setGreeting("* OK ready\r\n", ScriptedServer::After::Close);
    ImapIdleSettings s = settingsFor(srv);
    s.firstRetry = 100ms;
    s.lastRetry = 400ms;
    Reports reports;
    ImapIdleWatcher w(s, reports.events());
    const std::size_t attempts = 4 + static_cast<std::size_t>(std::min(rounds, 10));
    w.start();
    reports.waitFor([&](State, std::size_t n) { return n >= attempts; }, 30s);
    w.stop();
    w.waitStopped(5s);
    const auto a = reports.attempts();
    std::vector<double> gaps;
    for (std::size_t k = 4; k < a.size(); ++k)
        gaps.push_back(ms(a[k] - a[k - 1]));
    printFigures("gap between attempts at the cap (400 ms)", gaps);
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    QCoreApplication app(argc, argv);
    if (tarn::test::PrivateBus::available())
        noticeFigures(rounds);
    else
        std::fprintf(stderr, "responsiveness_bench: no dbus-daemon, notices skipped\n");
    stopFigures(rounds);
    return 0;
}
