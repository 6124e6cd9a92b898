#include "TestApp.h"
#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/CheckerPlacement.h"
#include "checker/CheckerTray.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "core/FakeCheckTimers.h"
#include "core/NewMailSounds.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"
#include "fakes/ScriptedServer.h"
#include "platform/NamedMutex.h"
#include "platform/PowerOff.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>
#include <QToolTip>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tarn {
namespace {

using namespace std::chrono_literals;

struct RecordingPowerOff : PowerOff {
    int calls = 0;
    bool powerOff() override {
        ++calls;
        return false;
    }
};

using RecordingPlayer = test::RecordingSoundPlayer;

QString plain(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

std::vector<QAction*> items(QMenu* menu) {
    std::vector<QAction*> out;
    for (QAction* a : menu->actions())
        out.push_back(a);
    return out;
}

class CheckerWindowTest : public ::testing::Test {
protected:
    // A fixed clock at 09:05 UTC, so the time in a field's hint is known in advance.
    CheckerWindowTest()
        : clock(Clock::TimePoint(std::chrono::seconds(86400LL * 20000 + 9 * 3600 + 5 * 60)), 0),
          session(dir.path().string(), clock, test::uniqueLockSuffix()) {
        test::app();
    }
    // The simulated mouse is shared by every test of the program: none may leave a button
    // held, or the next test's hover arrives as a drag and shows no hint.
    void TearDown() override { EXPECT_EQ(QGuiApplication::mouseButtons(), Qt::NoButton); }

    void makeWindow(int accounts, bool fakeTimers = true) {
        Settings& s = session.settings();
        s.Accounts.clear();
        for (int i = 1; i <= accounts; ++i) {
            AccountSettings acc = defaultAccount(i, s.Main.Colors);
            acc.Host = "127.0.0.1:1";
            acc.UserID = "bob";
            acc.Password = "secret";
            s.Accounts.push_back(acc);
        }
        s.Main.ECount = accounts;
        session.syncWithSettings();
        window =
            std::make_unique<TF_CheckerWindow>(session, powerOff, fakeTimers ? &timers : nullptr);
        if (fakeTimers)
            window->setCheckStarter([this](int a) { started.push_back(a); });
        window->E_Setlengths(false);
    }
    CheckerField* field(int a) const { return window->EShowVar(a); }
    void addMessages(int account, int shown, int hidden) {
        test::addMessages(session, account, shown, hidden);
    }

    test::TempDir dir;
    FixedClock clock;
    Session session;
    RecordingPowerOff powerOff;
    test::FakeCheckTimers timers;
    std::vector<int> started;
    std::unique_ptr<TF_CheckerWindow> window;
};

TEST_F(CheckerWindowTest, GeometryAndRegionFollowTheShownAccounts) {
    makeWindow(3);
    ASSERT_EQ(window->ppi(), 96);
    session.settings().account(2).Show = false;
    window->EShowTest();
    EXPECT_EQ(window->size(), QSize(77, 27));
    EXPECT_EQ(field(1)->geometry(), QRect(14, 6, 20, 14));
    EXPECT_EQ(field(3)->geometry(), QRect(42, 6, 20, 14));
    EXPECT_TRUE(field(2)->isHidden());
    EXPECT_EQ(window->region(), (CheckerRegion{true, 77, 27, 29, 27}));
    EXPECT_EQ(window->panel()->geometry(), QRect(0, 0, 77, 27));

    session.settings().Main.Round = false;
    for (int a = 1; a <= 3; ++a)
        session.settings().account(a).Show = false;
    window->EShowTest();
    EXPECT_EQ(window->size().width(), 21);
    EXPECT_EQ(window->region(), (CheckerRegion{false, 21, 27, 0, 0}));
}

TEST_F(CheckerWindowTest, WindowAndPanelCarryTheirNames) {
    makeWindow(1);
    EXPECT_EQ(window->windowTitle(), "Tarnwick");
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
    EXPECT_EQ(window->panel()->objectName(), "Panel1");
    EXPECT_NE(window->findChild<QMenu*>("PopupMenu1"), nullptr);
    EXPECT_EQ(window->scheduler().activityTimer().interval(), 300);
}

TEST_F(CheckerWindowTest, FieldColoursByStateAndLayoutRestoresThem) {
    makeWindow(2);
    Settings& s = session.settings();
    s.account(2).Active = false;
    window->EShowTest();
    const CheckerColors& c = s.Main.Colors;
    EXPECT_EQ(field(1)->color(), s.account(1).ActiveColor);
    EXPECT_EQ(field(2)->color(), s.account(2).IdleColor);
    EXPECT_EQ(field(1)->fontColor(), c.Font);
    EXPECT_TRUE(field(1)->text().isEmpty()); // nothing known yet

    window->EndOfCheckUpdate({1, /*failed=*/true});
    EXPECT_EQ(field(1)->color(), c.Error);
    EXPECT_EQ(field(1)->text(), "0");
    window->EShowTest();
    EXPECT_EQ(field(1)->color(), s.account(1).ActiveColor);
}

TEST_F(CheckerWindowTest, BlinkingWhileBusyThenResultOnTheField) {
    makeWindow(1);
    const CheckerColors& c = session.settings().Main.Colors;
    ASSERT_TRUE(window->scheduler().checkNow(1));
    EXPECT_EQ(started, std::vector<int>{1});
    timers.advanceTo(300);
    EXPECT_EQ(field(1)->color(), c.Connected);
    timers.advanceTo(600);
    EXPECT_EQ(field(1)->color(), session.settings().account(1).ActiveColor);
    timers.advanceTo(900);
    EXPECT_EQ(field(1)->color(), c.Connected);

    addMessages(1, 3, 1);
    session.runtime()[1].Busy = false;
    window->EndOfCheckUpdate({1, false});
    EXPECT_EQ(field(1)->text(), "3");
    EXPECT_EQ(session.runtime()[1].ShownCount, 3);
    EXPECT_EQ(field(1)->color(), session.settings().account(1).ActiveColor);
    EXPECT_EQ(field(1)->toolTip().toStdString(), "Account 1 09:05");
}

// Offline shows in the window itself: the fields are drawn dimmed and their hints say so;
// a push connection that is down says since when.
TEST_F(CheckerWindowTest, OfflineAndBrokenPushShowInTheFields) {
    makeWindow(2);
    session.settings().Main.CheckAllWhenGoingOnline = false;
    ASSERT_TRUE(session.Online);
    auto centre = [&](int a) {
        const QImage img = field(a)->grab().toImage();
        return img.pixelColor(1, 1);
    };
    const QColor online = centre(1);
    EXPECT_EQ(field(1)->toolTip(), "Account 1");

    window->scheduler().online1xClick();
    ASSERT_FALSE(session.Online);
    for (int a : {1, 2}) {
        EXPECT_TRUE(field(a)->offline());
        EXPECT_EQ(field(a)->toolTip(), QStringLiteral("Account %1\noffline").arg(a));
    }
    const QColor offline = centre(1);
    EXPECT_NE(offline, online);
    EXPECT_LT(offline.hsvSaturation(), online.hsvSaturation() / 2);
    // A hint written while offline keeps the word.
    window->SetFieldHint(1, "Account 1 09:05");
    EXPECT_EQ(field(1)->toolTip(), "Account 1 09:05\noffline");

    window->scheduler().online1xClick();
    EXPECT_FALSE(field(1)->offline());
    EXPECT_EQ(field(1)->toolTip(), "Account 1 09:05");
    EXPECT_EQ(centre(1), online);

    window->setPushDownSince(2, "13:34");
    EXPECT_EQ(field(2)->toolTip(), "Account 2\npush: reconnecting since 13:34");
    window->setPushDownSince(2, "");
    EXPECT_EQ(field(2)->toolTip(), "Account 2");
}

TEST_F(CheckerWindowTest, ItemsOfWindowsThatNobodyOpensAreDisabledWhenTheMenuOpens) {
    makeWindow(1);
    QMenu* popup = window->popupMenu();
    auto item = [&](const char* name) { return popup->findChild<QAction*>(name); };
    emit popup->aboutToShow();
    for (const char* name : {"Preferences1", "CheckforUpdate2", "About2"})
        EXPECT_FALSE(item(name)->isEnabled()) << name;
    for (const char* name : {"MailList1", "Help1", "CheckAll1", "Quit2"})
        EXPECT_TRUE(item(name)->isEnabled()) << name;
    // Once a window answers the item, it is offered.
    int opened = 0;
    QObject::connect(item("About2"), &QAction::triggered, [&] { ++opened; });
    emit popup->aboutToShow();
    EXPECT_TRUE(item("About2")->isEnabled());
    item("About2")->trigger();
    EXPECT_EQ(opened, 1);
}

TEST_F(CheckerWindowTest, FailedCheckShowsItsReasonBesideTheTime) {
    makeWindow(2);
    CheckResult failed{2, true};
    failed.failureKind = ErrorKind::LoginRejected;
    failed.failureText = "[AUTH] Authentication failed.";
    window->EndOfCheckUpdate(failed);
    EXPECT_EQ(field(2)->toolTip().toStdString(),
              "Account 2 09:05 (login rejected: [AUTH] Authentication failed.)");
    EXPECT_EQ(field(2)->color(), session.settings().Main.Colors.Error);
    // The next check that succeeds shows the time alone again.
    window->EndOfCheckUpdate({2, false});
    EXPECT_EQ(field(2)->toolTip().toStdString(), "Account 2 09:05");
}

TEST_F(CheckerWindowTest, GoingOfflineWhileBusyShowsErrorThenTheLateResult) {
    makeWindow(2);
    ASSERT_TRUE(window->scheduler().checkmail(2));
    QAction* online1 = window->findChild<QAction*>("online1");
    ASSERT_NE(online1, nullptr);
    EXPECT_EQ(plain(online1->text()), "Go Offline");
    online1->trigger();
    EXPECT_EQ(plain(online1->text()), "Go Online");
    EXPECT_EQ(field(2)->color(), session.settings().Main.Colors.Error);
    EXPECT_FALSE(session.runtime()[2].Busy);
    EXPECT_EQ(window->trayImage(), 2);

    addMessages(2, 2, 0);
    window->EndOfCheckUpdate({2, false});
    EXPECT_EQ(field(2)->text(), "2");
    EXPECT_EQ(field(2)->color(), session.settings().account(2).ActiveColor);
}

TEST_F(CheckerWindowTest, FieldMenuItemsAndDoubleClickChecksEvenWhenInactiveAndOffline) {
    makeWindow(2);
    session.settings().account(2).List = false;
    session.settings().account(1).Active = false;
    // A fresh window so account 2's menu is built from List = false.
    window = std::make_unique<TF_CheckerWindow>(session, powerOff, &timers);
    window->setCheckStarter([this](int a) { started.push_back(a); });
    window->E_Setlengths(false);

    QMenu* menu = window->fieldMenu(2);
    ASSERT_NE(menu, nullptr);
    const auto acts = items(menu);
    ASSERT_EQ(acts.size(), 5u);
    const std::vector<QString> captions = {"Check Now", "Launch Email Client", "Reset Connection",
                                           "Hide Messages", "Email List..."};
    for (std::size_t i = 0; i < acts.size(); ++i)
        EXPECT_EQ(plain(acts[i]->text()), captions[i]);
    EXPECT_EQ(menu->defaultAction(), acts[0]);
    EXPECT_TRUE(acts[0]->font().bold());
    EXPECT_FALSE(acts[4]->isEnabled());
    EXPECT_TRUE(items(window->fieldMenu(1))[4]->isEnabled());

    window->scheduler().online1xClick();
    ASSERT_FALSE(session.Online);
    // A widget's simulated double click ends with the button down; a mouse lets it go.
    QTest::mouseDClick(field(1), Qt::LeftButton);
    QTest::mouseRelease(field(1), Qt::LeftButton);
    EXPECT_TRUE(session.Online);
    EXPECT_EQ(started, std::vector<int>{1});

    // Reset Connection from the menu: idle, error colour; a new check may start.
    acts[2]->trigger();
    items(window->fieldMenu(1))[2]->trigger();
    EXPECT_FALSE(session.runtime()[1].Busy);
    EXPECT_EQ(field(1)->color(), session.settings().Main.Colors.Error);
    items(window->fieldMenu(1))[0]->trigger();
    EXPECT_EQ(started, (std::vector<int>{1, 1}));
}

TEST_F(CheckerWindowTest, HideMessagesLeavesNoCount) {
    makeWindow(1);
    addMessages(1, 2, 1);
    window->UpdateFieldCount(1);
    EXPECT_EQ(field(1)->text(), "2");
    items(window->fieldMenu(1))[3]->trigger();
    EXPECT_EQ(field(1)->text(), "0");
    EXPECT_EQ(window->trayHint(), "You have 0 new Mails");
}

TEST_F(CheckerWindowTest, TrayMenuItemsInOrder) {
    makeWindow(1);
    QMenu* popup = window->popupMenu();
    struct Item {
        const char* name;
        const char* caption; // null: separator
    };
    const std::vector<Item> expected = {
        {"Preferences1", "Preferences..."},
        {"MailList1", "Mail List..."},
        {"N1", nullptr},
        {"CheckforUpdate2", "Check for Update..."},
        {"Help1", "Help..."},
        {"About2", "About..."},
        {"N5", nullptr},
        {"Floating2", "Floating"},
        {"WindowPositions1", "Floating Window Positions"},
        {"AlwaysonTop2", "Always on Top"},
        {"N7", nullptr},
        {"online1", "Go Offline"},
        {"Restore1", "Hide"},
        {"CheckAll1", "Check All"},
        {"N8", nullptr},
        {"Quit2", "Quit"},
    };
    const auto acts = items(popup);
    ASSERT_EQ(acts.size(), expected.size());
    for (std::size_t i = 0; i < acts.size(); ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(acts[i]->objectName(), expected[i].name);
        EXPECT_EQ(acts[i]->isSeparator(), expected[i].caption == nullptr);
        if (expected[i].caption) {
            EXPECT_EQ(plain(acts[i]->text()), expected[i].caption);
        }
    }
    EXPECT_EQ(popup->defaultAction()->objectName(), "CheckAll1");
    const auto sub = items(acts[8]->menu());
    ASSERT_EQ(sub.size(), 4u);
    EXPECT_EQ(sub[0]->objectName(), "MakeDefaultPosition1");
    EXPECT_EQ(sub[1]->objectName(), "MakeAlternativePosition1");
    EXPECT_EQ(sub[2]->objectName(), "N6");
    EXPECT_EQ(sub[3]->objectName(), "ResetWindowPositions1");
}

TEST_F(CheckerWindowTest, TrayMenuItemsCarryTheirPictures) {
    makeWindow(1);
    for (const char* name : {"Preferences1", "MailList1", "CheckforUpdate2", "Help1", "About2",
                             "WindowPositions1", "online1", "Restore1", "CheckAll1", "Quit2"}) {
        QAction* a = window->popupMenu()->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(a, nullptr) << name;
        EXPECT_FALSE(a->icon().isNull()) << name;
    }
    // The checked items show their check marks instead.
    for (const char* name : {"Floating2", "AlwaysonTop2"})
        EXPECT_TRUE(window->findChild<QAction*>(QString::fromLatin1(name))->icon().isNull());
}

TEST_F(CheckerWindowTest, CheckAllWhileOfflineGoesOnlineAndTicksActiveAccounts) {
    makeWindow(2);
    window->scheduler().online1xClick();
    session.settings().Main.CheckAllWhenGoingOnline = false;
    window->findChild<QAction*>("CheckAll1")->trigger();
    EXPECT_TRUE(session.Online);
    timers.advanceBy(20);
    EXPECT_EQ(started, (std::vector<int>{1, 2}));
}

TEST_F(CheckerWindowTest, GraySetWithRoundDropsThePanelBevels) {
    makeWindow(1);
    EXPECT_TRUE(window->panelBevels());
    window->GrayColorSet();
    EXPECT_FALSE(window->panelBevels());
    EXPECT_EQ(field(1)->bevel(), 1);
    session.settings().Main.Round = false;
    window->SetColorSet();
    EXPECT_TRUE(window->panelBevels());
}

// Each placement item of the tray menu runs its command exactly once.
TEST_F(CheckerWindowTest, TrayMenuPlacementItemsRunOnce) {
    makeWindow(2);
    MainSettings& m = session.settings().Main;
    auto item = [&](const char* name) {
        QAction* a = window->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    };

    const bool floating = m.Floating;
    item("Floating2")->trigger();
    EXPECT_EQ(m.Floating, !floating);
    EXPECT_EQ(item("Floating2")->isChecked(), !floating);

    const bool onTop = m.AlwaysOnTop;
    window->PaintField(1, m.Colors.Error);
    item("AlwaysonTop2")->trigger();
    EXPECT_EQ(m.AlwaysOnTop, !onTop);
    EXPECT_EQ(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint), !onTop);
    EXPECT_EQ(item("AlwaysonTop2")->isChecked(), !onTop);
    // The layout ran again and brought the field back to its normal colour.
    EXPECT_EQ(field(1)->color(), session.settings().account(1).ActiveColor);

    window->show();
    item("Restore1")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(plain(item("Restore1")->text()), "Show");
    item("Restore1")->trigger();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(plain(item("Restore1")->text()), "Hide");

    // Both positions the same: the warning ends the command without escaping it.
    m.SnapWindow = false;
    window->moveChecker(100, 120);
    m.alternativeX = 100;
    m.alternativeY = 120;
    m.defaultX = m.defaultY = 0;
    EXPECT_NO_THROW(item("MakeDefaultPosition1")->trigger());
    EXPECT_EQ(m.defaultX, 100);
    EXPECT_EQ(m.defaultY, 120);

    item("ResetWindowPositions1")->trigger();
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(m.defaultX, screen.width() - window->width());
    EXPECT_EQ(m.alternativeX, 1);
    EXPECT_EQ(window->pos(), QPoint(m.currentX, m.currentY));
}

// The window the user works in, active before the checker window appears.
class OtherWindow : public QWidget {
public:
    OtherWindow() {
        setWindowTitle(QStringLiteral("work"));
        setGeometry(10, 10, 200, 100);
        show();
        activateWindow();
        test::processUntil([this] { return QApplication::activeWindow() == this; }, 2s);
    }
};

// The offscreen platform activates every window it shows, so what is checked is what keeps
// a window manager from activating it.
TEST_F(CheckerWindowTest, NeverAsksToTakeTheFocus) {
    makeWindow(1);
    MainSettings& m = session.settings().Main;
    m.SnapWindow = false;
    m.defaultX = 300;
    m.defaultY = 300;
    m.alternativeX = 20;
    m.alternativeY = 300;
    const struct {
        const char* step;
        std::function<void()> run;
    } steps[] = {
        {"shown at start", [&] { window->show(); }},
        {"floats away", [&] { window->placement().floatingJump(); }},
        {"floats back", [&] { window->placement().Timer7Timer(); }},
        {"hidden and shown again",
         [&] {
             window->CoolTrayIcon1Click();
             window->CoolTrayIcon1Click();
         }},
        {"stays on top toggled", [&] { window->placement().AlwaysonTop2Click(); }},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        s.run();
        test::processUntil([] { return false; }, 50ms);
        EXPECT_TRUE(window->isVisible());
        EXPECT_TRUE(window->testAttribute(Qt::WA_ShowWithoutActivating));
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    }
}

TEST_F(CheckerWindowTest, FieldHintShowsOnHoverWhileAnotherWindowIsActive) {
    makeWindow(1);
    session.settings().Main.SnapWindow = false;
    window->moveChecker(400, 400);
    window->show();
    OtherWindow work;
    ASSERT_NE(QApplication::activeWindow(), window.get());
    window->ShowCheckResult(1, true);
    const QString hint = QString::fromStdString("Account 1 " + window->timeOfDay());
    ASSERT_EQ(field(1)->toolTip(), hint);

    QTest::mouseMove(field(1), field(1)->rect().center());
    EXPECT_TRUE(test::processUntil([] { return QToolTip::isVisible(); }, 3s));
    EXPECT_EQ(QToolTip::text(), hint);
    QToolTip::hideText();
}

TEST_F(CheckerWindowTest, DraggingTheBackgroundMovesTheWindowOnce) {
    makeWindow(1);
    session.settings().Main.SnapWindow = false;
    window->moveChecker(200, 200);
    window->show();
    QWidget* panel = window->panel();
    const QPoint local(2, 2); // the frame, not the field
    auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButton button,
                    Qt::MouseButtons buttons) {
        QMouseEvent e(type, QPointF(at), QPointF(window->pos() + at), button, buttons,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(panel, &e);
    };
    send(QEvent::MouseButtonPress, local, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, local + QPoint(30, 10), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, local + QPoint(30, 10), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(window->pos(), QPoint(230, 210));
}

TEST_F(CheckerWindowTest, NewMailSoundsFromAWorkerThreadReachThePlayer) {
    makeWindow(1);
    MainSettings& m = session.settings().Main;
    m.SoundItemIndex = 3;
    m.MAXMailCount = 2;
    m.IncomingSound = "in.wav";
    m.MailCountSound = "bip.wav";
    session.settings().account(1).Sound = true;
    auto soundsFromWorker = [&](long long n) {
        std::atomic<bool> done{false};
        std::thread worker([&] {
            window->checkHost().NewMailSounds(1, n);
            done = true;
        });
        EXPECT_TRUE(test::processUntil([&] { return done.load(); }, std::chrono::seconds(10)));
        worker.join();
    };
    // Without a player nothing plays and nothing waits.
    soundsFromWorker(3);

    RecordingPlayer player;
    window->setSoundPlayer(&player);
    soundsFromWorker(3);
    EXPECT_EQ(player.files(), (std::vector<std::string>{"in.wav", "bip.wav", "bip.wav"}));
    window->setSoundPlayer(nullptr);
}

TEST(CheckerFieldColor, SettingsColoursBecomeQtColours) {
    test::app();
    EXPECT_EQ(CheckerField::toQColor(0x0000FF), QColor(255, 0, 0));
    EXPECT_EQ(CheckerField::toQColor(0xBB8800), QColor(0, 0x88, 0xBB));
    EXPECT_EQ(CheckerField::toQColor(CheckerColors::systemColor(4)),
              QApplication::palette().color(QPalette::Button));
}

// Real check workers on their own threads against the scripted server.
class CheckerWindowWorkerTest : public CheckerWindowTest {
protected:
    void serve(int messages) {
        srv.setGreeting("+OK ready\r\n");
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK\r\n");
        std::string list = "+OK\r\n", uidl = "+OK\r\n";
        for (int i = 1; i <= messages; ++i) {
            const std::string n = std::to_string(i);
            const std::string header = "From: a@example.org\r\nSubject: s" + n + "\r\n";
            list += n + " 100\r\n";
            uidl += n + " uid" + n + "\r\n";
            srv.on("LIST " + n, "+OK " + n + " 100\r\n");
            srv.on("TOP " + n + " 0", "+OK\r\n" + header + "\r\n.\r\n");
        }
        srv.on("STAT",
               "+OK " + std::to_string(messages) + " " + std::to_string(100 * messages) + "\r\n");
        srv.on("LIST", list + ".\r\n");
        srv.on("UIDL", uidl + ".\r\n");
        srv.on("QUIT", "+OK bye\r\n", test::ScriptedServer::After::Close);
        srv.setUnmatchedReply("-ERR no\r\n");
    }
    test::ScriptedServer srv;
};

TEST_F(CheckerWindowWorkerTest, CheckShowsCountAndFailedPortShowsError) {
    serve(3);
    makeWindow(2, /*fakeTimers=*/false);
    session.settings().account(1).Host = "127.0.0.1:" + std::to_string(srv.port());
    session.settings().account(2).Host = "127.0.0.1:abc";
    ASSERT_TRUE(window->scheduler().checkmail(1));
    ASSERT_TRUE(window->scheduler().checkmail(2));
    const bool done = test::processUntil(
        [&] {
            return field(1)->text() == "3" && !session.runtime()[1].Busy &&
                   !session.runtime()[2].Busy && session.runningWorkers() == 0;
        },
        std::chrono::seconds(20));
    ASSERT_TRUE(done) << field(1)->text().toStdString();
    // A worker posts its termination step before it counts as ended; deliver it.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(field(1)->color(), session.settings().account(1).ActiveColor);
    EXPECT_EQ(field(2)->color(), session.settings().Main.Colors.Error);
    EXPECT_EQ(field(2)->text(), "0");
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -1);
    // The termination step has cleared the New marks.
    NamedLock lock(session.db().mutex());
    EXPECT_EQ(session.db().CountNewShown(1), 0);
}

// A real check with the program's timers: the sounds play, and once the check has ended the
// activity timer and the tray animation stop and the tray shows the mail.
TEST_F(CheckerWindowWorkerTest, FinishedCheckPlaysSoundsAndSettlesTheTray) {
    serve(2);
    makeWindow(1, /*fakeTimers=*/false);
    Settings& s = session.settings();
    s.account(1).Host = "127.0.0.1:" + std::to_string(srv.port());
    s.account(1).Sound = true;
    s.Main.SoundItemIndex = 2;
    s.Main.MAXMailCount = 10;
    s.Main.MailCountSound = "bip.wav";
    s.Main.AnimIcons = true;
    RecordingPlayer player;
    window->setSoundPlayer(&player);
    ASSERT_TRUE(window->scheduler().checkmail(1));
    const bool done = test::processUntil(
        [&] {
            return session.runningWorkers() == 0 && !session.runtime()[1].Busy &&
                   !window->scheduler().activityTimer().isActive() && !window->trayAnimating();
        },
        std::chrono::seconds(20));
    ASSERT_TRUE(done);
    EXPECT_EQ(field(1)->text(), "2");
    EXPECT_EQ(player.files(), (std::vector<std::string>{"bip.wav", "bip.wav"}));
    EXPECT_EQ(window->trayHint(), "You have 2 new Mails");
    EXPECT_EQ(window->trayImage(), 1);
    window->setSoundPlayer(nullptr);
}

// The field hints carry the local time of day as "hh:mm", zero-padded.
TEST(CheckerWindowTimeOfDay, LocalHoursAndMinutesZeroPadded) {
    test::app();
    struct Case {
        int utcSeconds;
        int offsetMinutes;
        const char* expected;
    };
    const Case cases[] = {
        {0, 0, "00:00"},
        {9 * 3600 + 5 * 60 + 59, 0, "09:05"},
        {23 * 3600 + 59 * 60 + 59, 0, "23:59"},
        {22 * 3600 + 30 * 60, 120, "00:30"},
        {12 * 3600 + 10 * 60, -11 * 60, "01:10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        test::TempDir dir;
        FixedClock clock(Clock::TimePoint(std::chrono::seconds(86400 * 20000 + c.utcSeconds)),
                         c.offsetMinutes);
        Session session(dir.path().string(), clock, test::uniqueLockSuffix());
        RecordingPowerOff powerOff;
        test::FakeCheckTimers timers;
        TF_CheckerWindow window(session, powerOff, &timers);
        EXPECT_EQ(window.timeOfDay(), c.expected);
    }
}

TEST(QtCheckHostTest, EndOfCheckUpdateWaitsForTheMainThreadButNotForeverWhenQuitting) {
    test::app();
    test::TempDir dir;
    Session session(dir.path().string(), systemClock(), test::uniqueLockSuffix());
    QtCheckHost host(session);
    std::atomic<int> ranOn{0};
    host.onEndOfCheck = [&](const CheckResult& r) { ranOn = r.account; };

    std::atomic<bool> returned{false};
    std::thread worker([&] {
        host.EndOfCheckUpdate({7});
        returned = true;
    });
    // The worker waits until the main thread has run the update.
    EXPECT_TRUE(test::processUntil([&] { return returned.load(); }, std::chrono::seconds(5)));
    EXPECT_EQ(ranOn, 7);
    worker.join();

    // A quitting program whose main thread no longer runs events: the worker goes on.
    session.Quitting = true;
    returned = false;
    const auto t0 = std::chrono::steady_clock::now();
    std::thread late([&] {
        host.EndOfCheckUpdate({8});
        returned = true;
    });
    late.join();
    EXPECT_TRUE(returned);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_EQ(ranOn, 7);
}

} // namespace
} // namespace tarn
