// Push figures of the whole program in this process against a private Dovecot, its desktop
// notices going to a stand-in notification service on a private bus:
//  - from the delivery of a message into the mailbox to its record in the mail list, and to
//    its notice reaching the service (median, min and max of 20 deliveries);
//  - the program's CPU time (all its threads) while two push accounts idle, measured over the
//    seconds given (default 60) and scaled to 10 minutes.
//
//   push_bench [IDLE_SECONDS]

#include "app/PushLink.h"
#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"
#include "check/Session.h"
#include "core/PasswordScrambling.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/dbus/FakeNotificationService.h"
#include "fakes/dbus/PrivateBus.h"
#include "integration/fixture/DovecotFixture.h"
#include "platform/PowerOff.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct NoPowerOff : tarn::PowerOff {
    bool powerOff() override { return false; }
};

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return done();
}

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string account(int n, const std::string& user) {
    return "[" + std::to_string(n) + "]\nName=Push " + std::to_string(n) +
           "\nMailServerType=1\nHost=127.0.0.1\nUserID=" + user +
           "\nPassword=" + tarn::storedPasswordText("secret") +
           "\nSavePwd=1\nActive=1\nShow=1\nTimer=1800000\nPush=1\n";
}

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void printFigures(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-40s median %7.1f ms  min %7.1f ms  max %7.1f ms  (n=%zu)\n", what,
                v[v.size() / 2], v.front(), v.back(), v.size());
}

} // namespace

int main(int argc, char** argv) {
    const int idleSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!tarn::test::DovecotFixture::available() || !tarn::test::PrivateBus::available()) {
        std::fprintf(stderr, "push_bench: needs dovecot (as root) and dbus-daemon\n");
        return 2;
    }
    tarn::TarnApplication app(argc, argv);
    tarn::test::PrivateBus bus;
    tarn::test::FakeNotificationService service(bus.connect(QStringLiteral("bench-service")));
    tarn::test::DovecotFixture dovecot;
    dovecot.addUser("pusha", "secret");
    dovecot.addUser("pushb", "secret");
    tarn::test::TempDir dir;
    tarn::test::writeFile(dir.file("tarn.ini"),
                          "[Main]\nReleaseNr=19\nECount=2\non/offline=on\nkeepMailDB=1\n"
                          "SoundItemIndex=0\n" +
                              account(1, "pusha") + account(2, "pushb"));
    NoPowerOff powerOff;
    tarn::test::RecordingSoundPlayer player;
    tarn::StartOptions o;
    o.currentFolder = dir.path().string();
    o.powerOff = &powerOff;
    o.lockSuffix = tarn::test::uniqueLockSuffix();
    o.soundPlayer = &player;
    o.checkOptions.imapPort = dovecot.imapPort();
    o.noticeBus = bus.address();
    o.sleepBus = "none";
    auto program = std::make_unique<tarn::TarnwickApp>(std::move(o));
    program->start();
    tarn::Session& session = program->session();
    auto idling = [&](int a) {
        const tarn::ImapIdleWatcher* w = program->push().accounts().watcher(a);
        return w && w->state() == tarn::ImapIdleWatcher::State::Idling;
    };
    // Both idle, and the first checks (a second after the start) have come and gone.
    runUntil([] { return false; }, 3s);
    auto settled = [&] {
        return idling(1) && idling(2) && !session.runtimeOf(1)->Busy && !session.runtimeOf(2)->Busy;
    };
    if (!runUntil(settled, 30s)) {
        std::fprintf(stderr, "push_bench: the accounts did not settle into idling\n%s\n",
                     dovecot.log().c_str());
        return 1;
    }

    std::vector<double> toStore, toNotice;
    for (int i = 0; i < 20; ++i) {
        const std::string id = "<bench" + std::to_string(i) + "@example.org>";
        const std::size_t calls = service.calls().size();
        const auto t0 = Clock::now();
        dovecot.addMessage("pusha", "From: Bench <bench@example.org>\r\nSubject: message " +
                                        std::to_string(i) + "\r\nMessage-ID: " + id +
                                        "\r\n\r\nHello.\r\n");
        auto stored = [&] {
            tarn::NamedLock lock(session.db().mutex());
            return session.db().FindMessage(id, 1).has_value();
        };
        if (!runUntil(stored, 20s)) {
            std::fprintf(stderr, "push_bench: message %d was not stored\n", i);
            return 1;
        }
        toStore.push_back(ms(Clock::now() - t0));
        if (!runUntil([&] { return service.calls().size() > calls; }, 20s)) {
            std::fprintf(stderr, "push_bench: message %d was not announced\n", i);
            return 1;
        }
        toNotice.push_back(ms(Clock::now() - t0));
        runUntil([&] { return !session.runtimeOf(1)->Busy; }, 5s);
        runUntil([] { return false; }, 200ms);
    }
    printFigures("delivery -> record in the mail list", toStore);
    printFigures("delivery -> notice at the service", toNotice);

    runUntil([] { return false; }, 2s); // let the last check's traffic end
    const double before = cpuSeconds();
    const auto t0 = Clock::now();
    // The program's own message loop, as it runs while nothing happens: it sleeps until an
    // event comes.
    QEventLoop idle;
    QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
    idle.exec();
    const double spent = cpuSeconds() - before;
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("CPU time idling with 2 push accounts: %.3f s over %.0f s measured, %.3f s per "
                "10 minutes (scaled)\n",
                spent, seconds, spent * 600.0 / seconds);
    program->exitProcedure();
    program->workersGone(2s);
    program.reset();
    return 0;
}
