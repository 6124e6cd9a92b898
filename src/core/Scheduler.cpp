#include "core/Scheduler.h"

#include <algorithm>
#include <stdexcept>

namespace tarn {

Scheduler::Scheduler(Settings& settings, AccountRuntimeTable& runtime, std::atomic<bool>& quitting,
                     std::atomic<bool>& online, CheckTimerFactory& timers, SchedulerHost& host,
                     CheckStarter starter)
    : m_settings(settings), m_runtime(runtime), m_quitting(quitting), m_online(online),
      m_timers(timers), m_host(host), m_starter(std::move(starter)) {
    m_timer6 = m_timers.create("Timer6", ActivityIntervalMs, [this] { Timer6Timer(); });
}

void Scheduler::syncAccounts() {
    const int count = m_settings.accountCount();
    if (m_runtime.size() != count)
        m_runtime.resize(count);
    while (timerCount() > count)
        m_checkTimers.pop_back();
    while (timerCount() < count) {
        const int a = timerCount() + 1;
        auto timer = m_timers.create("checkTimer" + std::to_string(a), FirstTickMs,
                                     [this, a] { checkTimerTimer(a); });
        timer->start();
        m_checkTimers.push_back(std::move(timer));
    }
}

CheckTimer& Scheduler::checkTimer(int account) {
    if (account < 1 || account > timerCount())
        throw std::out_of_range("no check timer for account " + std::to_string(account));
    return *m_checkTimers[static_cast<std::size_t>(account - 1)];
}

bool Scheduler::validAccount(int a) const {
    return a >= 1 && a <= m_settings.accountCount() && a <= m_runtime.size();
}

void Scheduler::checkTimerTimer(int a) {
    if (a < 1 || a > timerCount())
        return;
    if (m_quitting) {
        checkTimer(a).stop();
        return;
    }
    if (!validAccount(a))
        return;
    const AccountSettings& acc = m_settings.account(a);
    checkTimer(a).setInterval(acc.Timer + 10 * a);
    if (acc.Active || m_runtime[a].CheckRequested)
        checkmail(a);
}

bool Scheduler::checkmail(int a) {
    if (m_quitting || !validAccount(a) || m_runtime[a].Busy || !m_online)
        return false;
    m_runtime[a].Busy = true;
    try {
        m_timer6->start();
    } catch (...) {
        m_host.PaintField(a, m_settings.Main.Colors.Error);
    }
    try {
        m_starter(a);
    } catch (...) {
        // A worker that could not even be created must not leave the account busy for ever.
        m_runtime[a].Busy = false;
        m_host.PaintField(a, m_settings.Main.Colors.Error);
        return false;
    }
    return true;
}

bool Scheduler::checkNow(int a) {
    if (!m_online)
        online1xClick();
    return checkmail(a);
}

void Scheduler::CheckAll() {
    if (!m_online)
        online1xClick();
    const int count = std::min(m_settings.accountCount(), timerCount());
    for (int i = 1; i <= count && !m_quitting; ++i) {
        if (m_settings.account(i).Active || (i <= m_runtime.size() && m_runtime[i].CheckRequested))
            checkTimer(i).setInterval(10 * i);
    }
}

void Scheduler::online1xClick() {
    const bool nowOnline = !m_online;
    m_online = nowOnline;
    m_host.setOnlineCaption(onlineCaption(nowOnline));
    if (!nowOnline) {
        if (m_host.checkerVisible() && m_settings.Main.HideWhenOffline)
            m_host.hideForOffline();
        m_host.showOfflineIcon();
        m_host.stopTrayAnimation();
        for (int i = 1; i <= m_runtime.size(); ++i) {
            if (m_runtime[i].Busy)
                ResetConnection(i);
        }
    } else {
        if (!m_host.checkerVisible() && m_settings.Main.HideWhenOffline)
            m_host.showForOnline();
        if (m_settings.Main.CheckAllWhenGoingOnline) {
            for (auto& timer : m_checkTimers)
                timer->setInterval(1);
        }
        if (!m_timer6->isActive())
            m_host.UpdateTrayState();
    }
}

void Scheduler::ResetConnection(int a) {
    if (a < 1 || a > m_runtime.size())
        return;
    m_runtime[a].Busy = false;
    m_host.PaintField(a, m_settings.Main.Colors.Error);
}

void Scheduler::scheduleCheck(int account, int ms) {
    if (account >= 1 && account <= timerCount())
        checkTimer(account).setInterval(ms);
}

bool Scheduler::anyBusy() const {
    for (int i = 1; i <= m_runtime.size(); ++i) {
        if (m_runtime[i].Busy)
            return true;
    }
    return false;
}

void Scheduler::Timer6Timer() {
    if (m_quitting) {
        m_timer6->stop();
        return;
    }
    if (!anyBusy()) {
        m_timer6->stop();
        m_host.stopTrayAnimation();
        m_host.UpdateTrayState();
        return;
    }
    const MainSettings& main = m_settings.Main;
    if (!m_host.trayAnimating() && m_online && main.AnimIcons)
        m_host.startTrayAnimation(m_host.anyShownMessage());
    if (!main.Blinking)
        return;
    const std::uint32_t connected = main.Colors.Connected;
    const int count = std::min(m_settings.accountCount(), m_runtime.size());
    if (m_blinkPhase == connected)
        m_blinkPhase = count >= 1 ? m_settings.account(1).ActiveColor : connected;
    else
        m_blinkPhase = connected;
    for (int i = 1; i <= count; ++i) {
        const AccountSettings& acc = m_settings.account(i);
        if (m_blinkPhase != connected)
            m_blinkPhase = acc.ActiveColor;
        if (!m_runtime[i].Busy)
            continue;
        if (acc.Active || m_blinkPhase != main.Colors.Active)
            m_host.PaintField(i, m_blinkPhase);
        else
            m_host.PaintField(i, acc.IdleColor);
    }
}

void Scheduler::CoolTrayIcon1Cycle() {
    if (anyBusy())
        return;
    m_host.stopTrayAnimation();
    m_timer6->stop();
    m_host.UpdateTrayState();
}

std::uint32_t Scheduler::normalColor(const AccountSettings& account) {
    return account.Active ? account.ActiveColor : account.IdleColor;
}

std::uint32_t Scheduler::endOfCheckColor(const AccountSettings& account,
                                         const CheckerColors& colors, bool failed) {
    return failed ? colors.Error : normalColor(account);
}

} // namespace tarn
