// The whole program with a push account against a private Dovecot, its desktop notices going to
// a stand-in notification service and its wake-ups coming from a stand-in logind, both on a
// private bus.

#include "AppTestSupport.h"
#include "app/PushLink.h"
#include "app/TarnwickApp.h"
#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "core/PasswordScrambling.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/dbus/FakeNotificationService.h"
#include "fakes/dbus/PrivateBus.h"
#include "integration/fixture/DovecotFixture.h"
#include "maillist/TF_EMailList.h"
#include "platform/dbus/SleepMonitor.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusMessage>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

namespace tarn {
namespace {

using namespace std::chrono_literals;

bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

TEST(TarnwickAppPush, AnnouncedMailIsCheckedAndShownOnTheDesktop) {
    TARN_REQUIRE_DOVECOT();
    TARN_REQUIRE_DBUS();
    test::tarnApp();
    test::PrivateBus bus;
    test::FakeNotificationService service(bus.connect(QStringLiteral("notices-service")));
    QDBusConnection login1 = bus.connect(QStringLiteral("login1"));
    ASSERT_TRUE(login1.registerService(QString::fromLatin1(SleepMonitor::Service)));

    test::DovecotFixture dovecot;
    dovecot.addUser("erin", "secret");
    test::TempDir dir;
    test::writeFile(dir.file("tarn.ini"),
                    "[Main]\nReleaseNr=19\nECount=1\non/offline=on\nkeepMailDB=1\n"
                    "SoundItemIndex=0\n[1]\nName=Work\nMailServerType=1\nHost=127.0.0.1\n"
                    "UserID=erin\nPassword=" +
                        storedPasswordText("secret") +
                        "\nSavePwd=1\nActive=1\nShow=1\nTimer=1800000\nPush=1\n");
    test::NoPowerOff powerOff;
    test::RecordingSoundPlayer player;
    StartOptions o;
    o.currentFolder = dir.path().string();
    o.powerOff = &powerOff;
    o.lockSuffix = test::uniqueLockSuffix();
    o.soundPlayer = &player;
    o.checkOptions.imapPort = dovecot.imapPort();
    o.noticeBus = bus.address();
    o.sleepBus = bus.address();
    auto a = std::make_unique<TarnwickApp>(std::move(o));
    a->start();
    TF_CheckerWindow& w = a->window();
    int checks = 0;
    auto terminated = w.checkHost().onTerminated;
    w.checkHost().onTerminated = [&](const CheckResult& r) {
        terminated(r);
        ++checks;
    };
    auto idling = [&] {
        const ImapIdleWatcher* watcher = a->push().accounts().watcher(1);
        return watcher && watcher->state() == ImapIdleWatcher::State::Idling;
    };
    // The first tick checks the empty mailbox; the idle connection waits.
    ASSERT_TRUE(runUntil([&] { return checks == 1 && idling(); }, 20s)) << dovecot.log();
    EXPECT_TRUE(service.calls().empty()); // nothing new, nothing shown

    dovecot.addMessage("erin", "From: Carol <carol@example.org>\r\nSubject: <b>Hi</b> & more\r\n"
                               "Message-ID: <n1@example.org>\r\n\r\nHello.\r\n");
    ASSERT_TRUE(runUntil([&] { return !service.calls().empty(); }, 10s)) << dovecot.log();
    EXPECT_TRUE(runUntil([&] { return checks == 2; }, 5s));
    const auto call = service.calls()[0];
    EXPECT_EQ(call.summary, QStringLiteral("1 new Mail - Work"));
    EXPECT_TRUE(call.body.startsWith(QStringLiteral("Carol"))) << call.body.toStdString();
    EXPECT_TRUE(call.body.endsWith(QStringLiteral(": &lt;b&gt;Hi&lt;/b&gt; &amp; more")))
        << call.body.toStdString();
    EXPECT_EQ(call.imageSize, QSize(16, 16));
    EXPECT_EQ(w.EShowVar(1)->text(), QStringLiteral("1"));

    // The notice opens the mail list on the account.
    ASSERT_FALSE(a->mailList().isVisible());
    service.invokeDefault(call.id);
    ASSERT_TRUE(runUntil([&] { return a->mailList().isVisible(); }, 5s));
    EXPECT_EQ(a->mailList().viewAccount(), 1);
    a->mailList().hide();

    // Waking up from suspend: a fresh idle connection and a check of the push account.
    const ImapIdleWatcher* before = a->push().accounts().watcher(1);
    const int connects = before->connectCount();
    QDBusMessage wake = QDBusMessage::createSignal(QString::fromLatin1(SleepMonitor::Path),
                                                   QString::fromLatin1(SleepMonitor::Interface),
                                                   QStringLiteral("PrepareForSleep"));
    wake << false;
    login1.send(wake);
    ASSERT_TRUE(runUntil(
        [&] { return checks == 3 && idling() && before->connectCount() == connects + 1; }, 10s))
        << dovecot.log();

    // Offline: no idle connection; online: back.
    QAction* online1 = w.findChild<QAction*>(QStringLiteral("online1"));
    online1->trigger();
    EXPECT_EQ(a->push().accounts().connectionCount(), 0);
    online1->trigger();
    ASSERT_TRUE(runUntil([&] { return idling(); }, 10s));

    // With DesktopNotify off the next mail is checked but not announced on the desktop.
    a->session().settings().Main.DesktopNotify = false;
    const int checksBefore = checks;
    dovecot.addMessage("erin", "From: Dan <dan@example.org>\r\nSubject: quiet\r\n"
                               "Message-ID: <n2@example.org>\r\n\r\nHello.\r\n");
    ASSERT_TRUE(runUntil([&] { return w.EShowVar(1)->text() == QStringLiteral("2"); }, 10s));
    EXPECT_TRUE(runUntil([&] { return checks > checksBefore; }, 5s));
    EXPECT_EQ(service.calls().size(), 1u);

    // The exit does not wait for the idle connection, which still logs out.
    a->exitProcedure();
    EXPECT_TRUE(a->workersGone(2s));
    a.reset();
}

} // namespace
} // namespace tarn
