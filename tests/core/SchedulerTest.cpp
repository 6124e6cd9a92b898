#include "core/Scheduler.h"
#include "FakeCheckTimers.h"
#include "core/Settings.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tarn {
namespace {

// The windows' side, recorded.
struct RecordingHost : SchedulerHost {
    std::vector<std::pair<int, std::uint32_t>> paints;
    std::string caption = Scheduler::GoOfflineCaption;
    bool visible = true;
    bool offlineIcon = false;
    bool animating = false;
    bool animationWithMail = false;
    int trayUpdates = 0;
    bool shownMessages = false;

    void PaintField(int account, std::uint32_t color) override {
        paints.emplace_back(account, color);
    }
    void setOnlineCaption(const std::string& c) override { caption = c; }
    bool checkerVisible() const override { return visible; }
    void hideForOffline() override { visible = false; }
    void showForOnline() override { visible = true; }
    void showOfflineIcon() override { offlineIcon = true; }
    bool trayAnimating() const override { return animating; }
    void startTrayAnimation(bool withMail) override {
        animating = true;
        animationWithMail = withMail;
    }
    void stopTrayAnimation() override { animating = false; }
    void UpdateTrayState() override { ++trayUpdates; }
    bool anyShownMessage() override { return shownMessages; }

    std::uint32_t lastPaint(int account) const {
        for (auto it = paints.rbegin(); it != paints.rend(); ++it) {
            if (it->first == account)
                return it->second;
        }
        return 0xFFFFFFFFu;
    }
};

// Accounts a checked at times; a check stays busy until finish(a).
class SchedulerTest : public ::testing::Test {
protected:
    void setAccounts(int n) {
        settings.Accounts.clear();
        for (int i = 1; i <= n; ++i) {
            AccountSettings acc = defaultAccount(i, settings.Main.Colors);
            acc.Host = "127.0.0.1";
            acc.ActiveColor = 0x100 + static_cast<std::uint32_t>(i);
            acc.IdleColor = 0x200 + static_cast<std::uint32_t>(i);
            settings.Accounts.push_back(acc);
        }
        settings.Main.ECount = n;
        runtime.resize(n);
        scheduler.syncAccounts();
    }
    void finish(int a) { runtime[a].Busy = false; }
    std::vector<long long> startsOf(int a) const {
        std::vector<long long> out;
        for (auto& [t, acc] : starts) {
            if (acc == a)
                out.push_back(t);
        }
        return out;
    }

    Settings settings;
    AccountRuntimeTable runtime;
    std::atomic<bool> quitting{false};
    std::atomic<bool> online{true};
    test::FakeCheckTimers timers;
    RecordingHost host;
    std::vector<std::pair<long long, int>> starts;
    bool starterThrows = false;
    Scheduler scheduler{settings, runtime, quitting, online, timers, host, [this](int a) {
                            if (starterThrows)
                                throw std::runtime_error("no worker");
                            starts.emplace_back(timers.now, a);
                        }};
};

TEST_F(SchedulerTest, FirstTickAfterOneSecondThenTimerPlusTenPerAccount) {
    setAccounts(2);
    settings.account(1).Timer = 60000;
    settings.account(2).Timer = 60000;
    // Each check ends at once, so every tick finds the account idle.
    for (long long t = 0; t <= 125000; t += 5) {
        timers.advanceTo(t);
        finish(1);
        finish(2);
    }
    EXPECT_EQ(startsOf(1), (std::vector<long long>{1000, 61010, 121020}));
    EXPECT_EQ(startsOf(2), (std::vector<long long>{1000, 61020, 121040}));
    EXPECT_EQ(scheduler.checkTimer(1).interval(), 60010);
    EXPECT_EQ(scheduler.checkTimer(2).interval(), 60020);
}

TEST_F(SchedulerTest, RefusalsLeaveNothingQueued) {
    setAccounts(1);
    // Busy: the tick does nothing and no check follows once the account is free again.
    runtime[1].Busy = true;
    timers.advanceTo(1000);
    EXPECT_TRUE(starts.empty());
    finish(1);
    timers.advanceTo(1500);
    EXPECT_TRUE(starts.empty());

    online = false;
    EXPECT_FALSE(scheduler.checkmail(1));
    online = true;
    quitting = true;
    EXPECT_FALSE(scheduler.checkmail(1));
    EXPECT_TRUE(starts.empty());
    EXPECT_FALSE(runtime[1].Busy);
}

TEST_F(SchedulerTest, QuittingStopsTimersAtTheirNextTick) {
    setAccounts(1);
    quitting = true;
    timers.advanceTo(1000);
    EXPECT_FALSE(scheduler.checkTimer(1).isActive());
    EXPECT_TRUE(starts.empty());
}

TEST_F(SchedulerTest, InactiveAccountOnlyOnRequestOrCheckNow) {
    setAccounts(1);
    settings.account(1).Active = false;
    timers.advanceTo(1000);
    EXPECT_TRUE(starts.empty());

    runtime[1].CheckRequested = true;
    timers.advanceTo(1000 + 300010);
    ASSERT_EQ(startsOf(1).size(), 1u);
    finish(1);
    runtime[1].CheckRequested = false;

    EXPECT_TRUE(scheduler.checkNow(1));
    EXPECT_EQ(startsOf(1).size(), 2u);
}

TEST_F(SchedulerTest, CheckNowWhileOfflineGoesOnlineFirst) {
    setAccounts(1);
    scheduler.online1xClick();
    ASSERT_FALSE(online);
    EXPECT_TRUE(scheduler.checkNow(1));
    EXPECT_TRUE(online);
    EXPECT_EQ(host.caption, "Go Offline");
}

TEST_F(SchedulerTest, CheckAllWhileOfflineGoesOnlineAndChecksActiveAccounts) {
    setAccounts(3);
    settings.account(2).Active = false;
    settings.Main.CheckAllWhenGoingOnline = false;
    timers.advanceTo(1000); // first ticks: account intervals now Timer + 10 a
    starts.clear();
    for (int a = 1; a <= 3; ++a)
        finish(a);
    scheduler.online1xClick();
    ASSERT_EQ(host.caption, "Go Online");

    scheduler.CheckAll();
    EXPECT_TRUE(online);
    EXPECT_EQ(host.caption, "Go Offline");
    EXPECT_EQ(scheduler.checkTimer(1).interval(), 10);
    EXPECT_EQ(scheduler.checkTimer(3).interval(), 30);
    timers.advanceBy(30);
    EXPECT_EQ(starts, (std::vector<std::pair<long long, int>>{{1010, 1}, {1030, 3}}));
}

TEST_F(SchedulerTest, GoingOnlineWithCheckAllWhenGoingOnlineTicksEveryTimerAtOnce) {
    setAccounts(2);
    timers.advanceTo(1000);
    finish(1);
    finish(2);
    timers.advanceTo(1300); // the activity timer finds nobody busy and stops
    ASSERT_FALSE(scheduler.activityTimer().isActive());
    starts.clear();
    scheduler.online1xClick();
    const int updates = host.trayUpdates;
    scheduler.online1xClick();
    EXPECT_EQ(host.trayUpdates, updates + 1);
    timers.advanceBy(1);
    EXPECT_EQ(starts.size(), 2u);
}

TEST_F(SchedulerTest, GoingOfflineWhileBusyPaintsErrorAtOnce) {
    setAccounts(2);
    settings.Main.HideWhenOffline = true;
    runtime[2].Busy = true;
    scheduler.online1xClick();
    EXPECT_FALSE(runtime[2].Busy);
    EXPECT_EQ(host.lastPaint(2), settings.Main.Colors.Error);
    EXPECT_EQ(host.lastPaint(1), 0xFFFFFFFFu);
    EXPECT_TRUE(host.offlineIcon);
    EXPECT_FALSE(host.visible);
    EXPECT_EQ(host.caption, "Go Online");
    scheduler.online1xClick();
    EXPECT_TRUE(host.visible);
}

TEST_F(SchedulerTest, StarterFailureLeavesAccountIdleInError) {
    setAccounts(1);
    starterThrows = true;
    EXPECT_FALSE(scheduler.checkmail(1));
    EXPECT_FALSE(runtime[1].Busy);
    EXPECT_EQ(host.lastPaint(1), settings.Main.Colors.Error);
}

// Each step of the tray animation: while any account is busy nothing changes; after the last
// check the animation and Timer6 stop and the tray shows the mail state.
TEST_F(SchedulerTest, TrayAnimationStepEndsOnlyWhenNothingIsBusy) {
    setAccounts(3);
    ASSERT_TRUE(scheduler.checkNow(3));
    timers.advanceTo(Scheduler::ActivityIntervalMs); // Timer6 starts the animation
    ASSERT_TRUE(host.animating);
    ASSERT_TRUE(scheduler.activityTimer().isActive());
    const int updates = host.trayUpdates;

    scheduler.CoolTrayIcon1Cycle();
    EXPECT_TRUE(host.animating);
    EXPECT_TRUE(scheduler.activityTimer().isActive());
    EXPECT_EQ(host.trayUpdates, updates);

    finish(3);
    scheduler.CoolTrayIcon1Cycle();
    EXPECT_FALSE(host.animating);
    EXPECT_FALSE(scheduler.activityTimer().isActive());
    EXPECT_EQ(host.trayUpdates, updates + 1);
}

TEST_F(SchedulerTest, ActivityTimerBlinksBusyFieldsAndStopsWhenIdle) {
    setAccounts(3);
    const CheckerColors& c = settings.Main.Colors;
    // Account 2 inactive with the set's Active colour: its own phase shows IdleColor.
    settings.account(2).Active = false;
    settings.account(2).ActiveColor = c.Active;
    // Account 3 inactive with a colour of its own: its own phase shows that colour.
    settings.account(3).Active = false;
    ASSERT_TRUE(scheduler.checkNow(1));
    ASSERT_TRUE(scheduler.checkNow(2));
    ASSERT_TRUE(scheduler.checkNow(3));
    EXPECT_TRUE(scheduler.activityTimer().isActive());
    host.shownMessages = true;

    struct Phase {
        long long at;
        std::uint32_t one, two, three;
    };
    const std::vector<Phase> phases = {
        {300, c.Connected, c.Connected, c.Connected},
        {600, 0x101, settings.account(2).IdleColor, 0x103},
        {900, c.Connected, c.Connected, c.Connected},
        {1200, 0x101, settings.account(2).IdleColor, 0x103},
    };
    for (const Phase& p : phases) {
        host.paints.clear();
        timers.advanceTo(p.at);
        // The check timers tick at 1000 as well but find every account busy.
        SCOPED_TRACE(p.at);
        EXPECT_EQ(host.lastPaint(1), p.one);
        EXPECT_EQ(host.lastPaint(2), p.two);
        EXPECT_EQ(host.lastPaint(3), p.three);
    }
    EXPECT_TRUE(host.animating);
    EXPECT_TRUE(host.animationWithMail);

    finish(1);
    host.paints.clear();
    timers.advanceTo(1500);
    EXPECT_EQ(host.lastPaint(1), 0xFFFFFFFFu); // no longer busy: left alone
    finish(2);
    finish(3);
    const int updates = host.trayUpdates;
    timers.advanceTo(1800);
    EXPECT_FALSE(scheduler.activityTimer().isActive());
    EXPECT_FALSE(host.animating);
    EXPECT_EQ(host.trayUpdates, updates + 1);
}

TEST_F(SchedulerTest, NoBlinkingAndNoAnimationWhenSwitchedOff) {
    setAccounts(1);
    settings.Main.Blinking = false;
    settings.Main.AnimIcons = false;
    ASSERT_TRUE(scheduler.checkmail(1));
    timers.advanceTo(900);
    EXPECT_TRUE(host.paints.empty());
    EXPECT_FALSE(host.animating);
}

TEST_F(SchedulerTest, ResetConnectionAllowsANewCheckWhileTheOldWorkerRuns) {
    setAccounts(1);
    ASSERT_TRUE(scheduler.checkmail(1));
    EXPECT_FALSE(scheduler.checkmail(1));
    scheduler.ResetConnection(1);
    EXPECT_EQ(host.lastPaint(1), settings.Main.Colors.Error);
    EXPECT_TRUE(scheduler.checkmail(1));
}

TEST_F(SchedulerTest, AccountsAddedAndRemovedKeepTheirTimers) {
    setAccounts(1);
    timers.advanceTo(1000);
    finish(1);
    setAccounts(2);
    EXPECT_EQ(scheduler.timerCount(), 2);
    EXPECT_EQ(scheduler.checkTimer(1).interval(), 300010);
    EXPECT_EQ(scheduler.checkTimer(2).interval(), 1000);
    setAccounts(1);
    EXPECT_EQ(scheduler.timerCount(), 1);
    EXPECT_THROW(scheduler.checkTimer(2), std::out_of_range);
}

TEST(SchedulerColors, EndOfCheckColour) {
    const CheckerColors c = CheckerColors::blueDefaults();
    AccountSettings acc;
    acc.ActiveColor = 1;
    acc.IdleColor = 2;
    struct Case {
        bool active, failed;
        std::uint32_t expected;
    };
    for (const Case& k : {Case{true, false, 1}, Case{false, false, 2}, Case{true, true, c.Error},
                          Case{false, true, c.Error}}) {
        acc.Active = k.active;
        EXPECT_EQ(Scheduler::endOfCheckColor(acc, c, k.failed), k.expected) << k.active << k.failed;
    }
}

} // namespace
} // namespace tarn
