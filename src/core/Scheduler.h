#pragma once

#include "core/AccountRuntimeTable.h"
#include "core/CheckTimer.h"
#include "core/Settings.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarn {

// What the scheduler asks of the windows above it. All calls come on the main thread.
class SchedulerHost {
public:
    virtual ~SchedulerHost() = default;
    virtual void PaintField(int account, std::uint32_t color) = 0;
    // Caption of the tray-menu item online1.
    virtual void setOnlineCaption(const std::string& caption) = 0;
    virtual bool checkerVisible() const = 0;
    // Hides the checker and the preferences window (the tray toggle then reads "Show").
    virtual void hideForOffline() = 0;
    // Shows the checker window through the tray toggle (which then reads "Hide").
    virtual void showForOnline() = 0;
    virtual void showOfflineIcon() = 0;
    virtual bool trayAnimating() const = 0;
    virtual void startTrayAnimation(bool withMail) = 0;
    virtual void stopTrayAnimation() = 0;
    virtual void UpdateTrayState() = 0;
    // Whether the whole mail list holds at least one message that is not hidden.
    virtual bool anyShownMessage() = 0;
};

// Starts the check worker of an account (Busy is already set). Throwing leaves the account
// idle with its field in the error colour.
using CheckStarter = std::function<void(int account)>;

// When accounts are checked, and the online state: one check timer per account, checkmail
// with its refusals, Check All, the Online command, Reset Connection and the activity timer
// Timer6 with the field blinking.
class Scheduler {
public:
    static constexpr int FirstTickMs = 1000;
    static constexpr int ActivityIntervalMs = 300;
    static constexpr const char* GoOfflineCaption = "Go Offline";
    static constexpr const char* GoOnlineCaption = "Go Online";

    Scheduler(Settings& settings, AccountRuntimeTable& runtime, std::atomic<bool>& quitting,
              std::atomic<bool>& online, CheckTimerFactory& timers, SchedulerHost& host,
              CheckStarter starter);
    Scheduler(const Scheduler&) = delete;
    Scheduler& operator=(const Scheduler&) = delete;

    // Creates the check timer (1000 ms, running) of every account that has none and drops
    // the timers of accounts beyond the account count.
    void syncAccounts();
    int timerCount() const { return static_cast<int>(m_checkTimers.size()); }
    CheckTimer& checkTimer(int account);
    CheckTimer& activityTimer() { return *m_timer6; }

    // Handler of account a's check timer.
    void checkTimerTimer(int account);
    // Starts a check of account a unless quitting, busy or offline; true when it started.
    bool checkmail(int account);
    // Double-click and "Check Now": online first, then checkmail whatever Active says.
    bool checkNow(int account);
    void CheckAll();
    // The Online command (online1xClick): toggles the online state.
    void online1xClick();
    void ResetConnection(int account);
    void Timer6Timer();
    // Step of the tray animation.
    void CoolTrayIcon1Cycle();
    // Sets the interval of account a's timer (restarting its period), for the other commands.
    void scheduleCheck(int account, int ms);

    bool online() const { return m_online.load(); }
    static const char* onlineCaption(bool online) {
        return online ? GoOfflineCaption : GoOnlineCaption;
    }
    std::uint32_t blinkPhase() const { return m_blinkPhase; }
    bool anyBusy() const;

    // The field colour of an account when nothing is going on.
    static std::uint32_t normalColor(const AccountSettings& account);
    // The colour EndOfCheckUpdate leaves: Error after a failure, else the normal colour.
    static std::uint32_t endOfCheckColor(const AccountSettings& account,
                                         const CheckerColors& colors, bool failed);

private:
    bool validAccount(int a) const;

    Settings& m_settings;
    AccountRuntimeTable& m_runtime;
    std::atomic<bool>& m_quitting;
    std::atomic<bool>& m_online;
    CheckTimerFactory& m_timers;
    SchedulerHost& m_host;
    CheckStarter m_starter;
    std::vector<std::unique_ptr<CheckTimer>> m_checkTimers; // [a - 1] is account a's
    std::unique_ptr<CheckTimer> m_timer6;
    std::uint32_t m_blinkPhase = 0;
};

} // namespace tarn
