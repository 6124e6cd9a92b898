#include "checker/CheckerTray.h"
#include "TestApp.h"
#include "check/Session.h"
#include "checker/TrayAnimation.h"
#include "checker/TrayIcons.h"
#include "core/FakeCheckTimers.h"
#include "core/Scheduler.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "platform/NamedMutex.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarn {
namespace {

using namespace std::chrono_literals;

QImage pixels(const QIcon& icon) {
    return icon.pixmap(TrayIcons::Size, TrayIcons::Size)
        .toImage()
        .convertToFormat(QImage::Format_ARGB32);
}
QImage pixels(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32);
}

// The window's part of the scheduler's host, as far as the tray is concerned.
struct TrayHost : SchedulerHost {
    CheckerTray* tray = nullptr;
    void PaintField(int, std::uint32_t) override {}
    void setOnlineCaption(const std::string&) override {}
    bool checkerVisible() const override { return true; }
    void hideForOffline() override {}
    void showForOnline() override {}
    void showOfflineIcon() override { tray->showOfflineIcon(); }
    bool trayAnimating() const override { return tray->animating(); }
    void startTrayAnimation(bool withMail) override { tray->startAnimation(withMail); }
    void stopTrayAnimation() override { tray->stopAnimation(); }
    void UpdateTrayState() override { tray->UpdateTrayState(); }
    bool anyShownMessage() override { return false; }
};

class CheckerTrayTest : public ::testing::Test {
protected:
    CheckerTrayTest() : session(dir.path().string(), systemClock(), test::uniqueLockSuffix()) {
        test::app();
        Settings& s = session.settings();
        for (int i = 1; i <= 2; ++i)
            s.Accounts.push_back(defaultAccount(i, s.Main.Colors));
        s.Main.ECount = 2;
        session.syncWithSettings();
        floating2 = popup.addAction(QStringLiteral("Floating"));
        floating2->setObjectName(QStringLiteral("Floating2"));
        floating2->setCheckable(true);
        QMenu* sub = popup.addMenu(QStringLiteral("Floating Window Positions"));
        sub->addAction(QStringLiteral("Make Default Position"));
        alwaysOnTop2 = popup.addAction(QStringLiteral("Always on Top"));
        alwaysOnTop2->setObjectName(QStringLiteral("AlwaysonTop2"));
        alwaysOnTop2->setCheckable(true);
        CheckerTray::Hooks hooks;
        hooks.CheckAll = [this] { ++checkAlls; };
        hooks.animationStep = [this] { scheduler.CoolTrayIcon1Cycle(); };
        tray = std::make_unique<CheckerTray>(session, &popup, hooks);
        host.tray = tray.get();
        // Timer6 runs while checks run; the end of the animation stops it.
        scheduler.activityTimer().start();
    }

    void addMessages(int account, int shown, int hidden) {
        test::addMessages(session, account, shown, hidden);
    }

    struct AppFirst {
        AppFirst() { test::app(); }
    } appFirst; // the menu below needs the application
    test::TempDir dir;
    Session session;
    QMenu popup;
    QAction* floating2 = nullptr;
    QAction* alwaysOnTop2 = nullptr;
    int checkAlls = 0;
    test::FakeCheckTimers timers;
    TrayHost host;
    Scheduler scheduler{
        session.settings(), session.runtime(), session.Quitting, session.Online, timers, host,
        [](int) {}};
    std::unique_ptr<CheckerTray> tray;
};

TEST_F(CheckerTrayTest, StartsWithTheProgramNameAndNoPicture) {
    EXPECT_EQ(tray->hint(), "Tarnwick");
    EXPECT_EQ(tray->trayIcon()->toolTip(), "Tarnwick");
    EXPECT_EQ(tray->image(), -1);
    EXPECT_TRUE(tray->icon().isNull());
    EXPECT_EQ(tray->trayIcon()->objectName(), "CoolTrayIcon1");
    EXPECT_EQ(tray->trayIcon()->contextMenu(), &popup);
}

struct StateCase {
    const char* name;
    bool online;
    int shown1;
    int hidden1;
    int shown2;
    const char* hint;
    int image;
};

TEST_F(CheckerTrayTest, UpdateTrayStateCountsEveryShownMessage) {
    // Counts accumulate from case to case: each case adds to the list.
    const StateCase cases[] = {
        {"empty list", true, 0, 0, 0, "You have 0 new Mails", 0},
        {"only hidden messages", true, 0, 3, 0, "You have 0 new Mails", 0},
        {"offline whatever the count (0)", false, 0, 0, 0, "You have 0 new Mails", 2},
        {"two accounts", true, 2, 0, 1, "You have 3 new Mails", 1},
        {"offline whatever the count (3)", false, 0, 0, 0, "You have 3 new Mails", 2},
        {"back online", true, 0, 0, 0, "You have 3 new Mails", 1},
    };
    int serial = 0;
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.name);
        {
            NamedLock lock(session.db().mutex());
            for (int i = 0; i < c.shown1 + c.hidden1 + c.shown2; ++i) {
                MailRecord r;
                r.UID = "m" + std::to_string(serial++);
                r.Account = i < c.shown1 + c.hidden1 ? 1 : 2;
                r.Ignore = i >= c.shown1 && i < c.shown1 + c.hidden1;
                session.db().AppendMessage(r);
            }
        }
        session.Online = c.online;
        tray->UpdateTrayState();
        EXPECT_EQ(tray->hint(), c.hint);
        EXPECT_EQ(tray->trayIcon()->toolTip().toStdString(), c.hint);
        EXPECT_EQ(tray->image(), c.image);
        EXPECT_EQ(pixels(tray->icon()), pixels(TrayIcons::staticImage(c.image)));
    }
}

TEST_F(CheckerTrayTest, HintIsCutToWhatTheTrayShows) {
    tray->setHint(std::string(100, 'x'));
    EXPECT_EQ(tray->hint(), std::string(63, 'x'));
    EXPECT_EQ(tray->trayIcon()->toolTip().size(), 63);
}

TEST_F(CheckerTrayTest, OfflineIconAtStart) {
    tray->showOfflineIcon();
    EXPECT_EQ(tray->image(), 2);
    EXPECT_EQ(pixels(tray->icon()), pixels(TrayIcons::staticImage(2)));
    EXPECT_EQ(tray->hint(), "Tarnwick");
}

TEST_F(CheckerTrayTest, AnimationStepsWhileBusyAndStopsWhenNothingIsBusy) {
    addMessages(1, 2, 0);
    session.runtime()[2].Busy = true;
    tray->startAnimation(true);
    ASSERT_TRUE(tray->animating());
    EXPECT_EQ(tray->animationFrame(), 0);
    EXPECT_EQ(pixels(tray->icon()), pixels(TrayIcons::mailFrame(0)));

    // Steps every 120 ms and wraps after the fifth frame.
    std::vector<int> seen;
    test::processUntil(
        [&] {
            if (seen.empty() || seen.back() != tray->animationFrame())
                seen.push_back(tray->animationFrame());
            return seen.size() >= 7;
        },
        5s);
    ASSERT_GE(seen.size(), 7u);
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], (seen[i - 1] + 1) % TrayIcons::FrameCount);
    EXPECT_EQ(pixels(tray->icon()), pixels(TrayIcons::mailFrame(tray->animationFrame())));
    EXPECT_TRUE(scheduler.activityTimer().isActive());
    EXPECT_EQ(tray->hint(), "Tarnwick");

    session.runtime()[2].Busy = false;
    ASSERT_TRUE(test::processUntil([&] { return !tray->animating(); }, 2s));
    EXPECT_FALSE(scheduler.activityTimer().isActive());
    EXPECT_EQ(tray->hint(), "You have 2 new Mails");
    EXPECT_EQ(tray->image(), 1);
}

TEST_F(CheckerTrayTest, AnimationWithoutBusyAccountStopsAtItsFirstStep) {
    tray->startAnimation(false);
    EXPECT_FALSE(tray->animating());
    EXPECT_FALSE(tray->animationWithMail());
    EXPECT_FALSE(scheduler.activityTimer().isActive());
    EXPECT_EQ(tray->hint(), "You have 0 new Mails");
    EXPECT_EQ(tray->image(), 0);
}

TEST_F(CheckerTrayTest, StoppingLeavesTheLastFrame) {
    session.runtime()[1].Busy = true;
    tray->startAnimation(false);
    test::processUntil([&] { return tray->animationFrame() >= 2; }, 3s);
    tray->stopAnimation();
    const int frame = tray->animationFrame();
    test::processUntil([] { return false; }, 300ms);
    EXPECT_EQ(tray->animationFrame(), frame);
    EXPECT_EQ(pixels(tray->icon()), pixels(TrayIcons::noMailFrame(frame)));
}

TEST_F(CheckerTrayTest, CheckMarksFollowTheSettingsWhenTheMenuOpens) {
    const bool table[][2] = {{true, false}, {false, true}, {true, true}, {false, false}};
    for (const auto& row : table) {
        session.settings().Main.Floating = row[0];
        session.settings().Main.AlwaysOnTop = row[1];
        // Stale marks, as left by an earlier opening.
        floating2->setChecked(!row[0]);
        alwaysOnTop2->setChecked(!row[1]);
        emit popup.aboutToShow();
        EXPECT_EQ(floating2->isChecked(), row[0]);
        EXPECT_EQ(alwaysOnTop2->isChecked(), row[1]);
    }
}

TEST_F(CheckerTrayTest, DoubleClickRunsCheckAll) {
    tray->activated(QSystemTrayIcon::Trigger);
    tray->activated(QSystemTrayIcon::Context);
    EXPECT_EQ(checkAlls, 0);
    emit tray->trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(checkAlls, 1);
}

} // namespace
} // namespace tarn
