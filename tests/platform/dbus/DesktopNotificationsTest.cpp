// The notification service and logind's sleep signal over a private bus.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTest>
#include <QTimer>

#include <memory>

#include "fakes/dbus/FakeNotificationService.h"
#include "fakes/dbus/PrivateBus.h"
#include "platform/dbus/DesktopNotifications.h"
#include "platform/dbus/SleepMonitor.h"

using tarn::DesktopNotice;
using tarn::DesktopNotifications;
using tarn::SleepMonitor;
using tarn::test::FakeNotificationService;
using tarn::test::PrivateBus;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_dbus";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* a = new QCoreApplication(argc, argv);
    return *a;
}

class DBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        TARN_REQUIRE_DBUS();
        bus = std::make_unique<PrivateBus>();
        ++s_count;
    }
    QDBusConnection connection(const char* who) {
        return bus->connect(QStringLiteral("%1-%2").arg(QLatin1String(who)).arg(s_count));
    }
    static DesktopNotice notice(const QString& summary) {
        DesktopNotice n;
        n.summary = summary;
        n.body = QStringLiteral("Carol: Hello &amp; welcome");
        n.icon = QImage(16, 16, QImage::Format_ARGB32);
        n.icon.fill(Qt::red);
        return n;
    }

    std::unique_ptr<PrivateBus> bus;
    static inline int s_count = 0;
};

} // namespace

TEST_F(DBusTest, NoticeReachesTheServiceAndItsDefaultActionComesBack) {
    FakeNotificationService service(connection("service"));
    DesktopNotifications notes(connection("client"));
    int opened = 0;
    notes.notify(1, notice(QStringLiteral("2 new Mails - Work")), [&] { ++opened; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return notes.pendingCalls() == 0; }, 5000));
    ASSERT_EQ(service.calls().size(), 1u);
    const FakeNotificationService::Call c = service.calls()[0];
    EXPECT_EQ(c.appName, QStringLiteral("Tarnwick"));
    EXPECT_EQ(c.summary, QStringLiteral("2 new Mails - Work"));
    EXPECT_EQ(c.body, QStringLiteral("Carol: Hello &amp; welcome"));
    EXPECT_EQ(c.actions,
              (QStringList{QStringLiteral("default"), QStringLiteral("Open Mail List")}));
    EXPECT_EQ(c.replacesId, 0u);
    EXPECT_EQ(c.imageSize, QSize(16, 16));
    EXPECT_EQ(c.imageBytes, 16 * 16 * 4);

    // The same key again replaces the notice; another key does not.
    notes.notify(1, notice(QStringLiteral("3 new Mails - Work")), [&] { ++opened; });
    notes.notify(2, notice(QStringLiteral("1 new Mails - Home")), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return notes.pendingCalls() == 0; }, 5000));
    ASSERT_EQ(service.calls().size(), 3u);
    EXPECT_EQ(service.calls()[1].replacesId, c.id);
    EXPECT_EQ(service.calls()[2].replacesId, 0u);
    EXPECT_TRUE(service.calls()[2].actions.isEmpty());

    service.invokeDefault(c.id);
    EXPECT_TRUE(QTest::qWaitFor([&] { return opened == 1; }, 5000));
    // A notice without an action does nothing when activated: another notice's activation,
    // sent after it by the same sender, arrives after it.
    bool followed = false;
    notes.notify(3, notice(QStringLiteral("1 new Mails - Spare")), [&] { followed = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return notes.pendingCalls() == 0; }, 5000));
    ASSERT_EQ(service.calls().size(), 4u);
    service.invokeDefault(service.calls()[2].id);
    service.invokeDefault(service.calls()[3].id);
    EXPECT_TRUE(QTest::qWaitFor([&] { return followed; }, 5000));
    EXPECT_EQ(opened, 1);
}

TEST_F(DBusTest, MissingServiceCostsNothing) {
    DesktopNotifications notes(connection("client"));
    bool failed = false;
    QObject::connect(&notes, &DesktopNotifications::callFinished,
                     [&](bool ok, const QString&) { failed = !ok; });
    notes.notify(1, notice(QStringLiteral("1 new Mails")), [] {});
    // Returned before the bus said anything: the failure comes through the event loop.
    EXPECT_EQ(notes.pendingCalls(), 1);
    EXPECT_FALSE(failed);
    EXPECT_TRUE(QTest::qWaitFor([&] { return failed; }, 5000));
    EXPECT_EQ(notes.pendingCalls(), 0);
}

TEST_F(DBusTest, ServiceThatNeverAnswersCostsNothing) {
    FakeNotificationService service(connection("service"),
                                    FakeNotificationService::Mode::NeverAnswer);
    DesktopNotifications notes(connection("client"));
    notes.setCallTimeout(500);
    bool failed = false;
    QObject::connect(&notes, &DesktopNotifications::callFinished,
                     [&](bool ok, const QString&) { failed = !ok; });
    for (int k = 0; k < 5; ++k)
        notes.notify(1, notice(QStringLiteral("1 new Mails")), [] {});
    // None of them waited for an answer, and the event loop goes on while they wait: a timer
    // started now fires before the first time-out.
    EXPECT_EQ(notes.pendingCalls(), 5);
    bool tickedWhileWaiting = false;
    QTimer::singleShot(0, [&] { tickedWhileWaiting = notes.pendingCalls() == 5 && !failed; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return service.calls().size() == 5u; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return failed && notes.pendingCalls() == 0; }, 5000));
    EXPECT_TRUE(tickedWhileWaiting);
}

TEST_F(DBusTest, SleepMonitorReportsSleepAndWakeUp) {
    QDBusConnection login = connection("login1");
    ASSERT_TRUE(login.registerService(QString::fromLatin1(SleepMonitor::Service)));
    SleepMonitor monitor(connection("client"));
    ASSERT_TRUE(monitor.watching());
    int sleeps = 0, wakes = 0;
    QObject::connect(&monitor, &SleepMonitor::goingToSleep, [&] { ++sleeps; });
    QObject::connect(&monitor, &SleepMonitor::wokeUp, [&] { ++wakes; });
    for (bool start : {true, false}) {
        QDBusMessage s = QDBusMessage::createSignal(QString::fromLatin1(SleepMonitor::Path),
                                                    QString::fromLatin1(SleepMonitor::Interface),
                                                    QStringLiteral("PrepareForSleep"));
        s << start;
        login.send(s);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return sleeps == 1 && wakes == 1; }, 5000));
    // Someone else's signal of the same name is not logind's.
    QDBusConnection other = connection("other");
    QDBusMessage fake = QDBusMessage::createSignal(QString::fromLatin1(SleepMonitor::Path),
                                                   QString::fromLatin1(SleepMonitor::Interface),
                                                   QStringLiteral("PrepareForSleep"));
    fake << false;
    other.send(fake);
    // A call to the bus from the same sender returns only after the bus has passed the signal
    // on; logind's next signal then reaches the monitor after it.
    EXPECT_TRUE(
        other.interface()->isServiceRegistered(QString::fromLatin1(SleepMonitor::Service)).value());
    QDBusMessage sleep = QDBusMessage::createSignal(QString::fromLatin1(SleepMonitor::Path),
                                                    QString::fromLatin1(SleepMonitor::Interface),
                                                    QStringLiteral("PrepareForSleep"));
    sleep << true;
    login.send(sleep);
    EXPECT_TRUE(QTest::qWaitFor([&] { return sleeps == 2; }, 5000));
    EXPECT_EQ(wakes, 1);
}
