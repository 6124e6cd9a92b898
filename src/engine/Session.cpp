#include "engine/Session.h"

#include "core/TarnError.h"

namespace tarn {

Session::Session(std::string workingFolder, const Clock& clock, const std::string& lockSuffix)
    : m_workingFolder(std::move(workingFolder)), m_clock(clock), m_locks(lockSuffix),
      m_db(m_locks.mailDB()) {}

void Session::syncWithSettings() {
    m_runtime.resize(m_settings.accountCount());
    m_filters.store(m_settings.Filters);
}

AccountRuntime* Session::runtimeOf(int n) {
    if (n < 1 || n > m_runtime.size())
        return nullptr;
    return &m_runtime[n];
}

AccountSettings newAccountDefaults(int n, const CheckerColors& colors) {
    AccountSettings a;
    a.Name = "Account " + std::to_string(n);
    a.MailServerType = 0;
    a.IMAPMailBoxName = "INBOX";
    a.SavePwd = false;
    a.Timer = 300000;
    a.Active = true;
    a.List = true;
    a.RetrieveAllBodies = false;
    a.Show = true;
    a.Sound = true;
    a.ActiveColor = colors.Active;
    a.IdleColor = colors.Idle;
    a.DefaultMailClient = 0;
    return a;
}

int Session::createAccount() {
    const int n = m_settings.accountCount() + 1;
    m_settings.Accounts.push_back(newAccountDefaults(n, m_settings.Main.Colors));
    m_settings.Main.ECount = n;
    m_runtime.resize(n);
    return n;
}

void Session::deleteAccount(int d) {
    const int count = m_settings.accountCount();
    if (d < 1 || d > count)
        throw TarnError("no account " + std::to_string(d));
    if (count <= 1)
        throw TarnError("You must have at least one account!");
    m_runtime.resize(count);
    for (int a = d; a < count; ++a) {
        m_runtime[a].ShownCount = m_runtime[a + 1].ShownCount.load();
        m_runtime[a].Busy = m_runtime[a + 1].Busy.load();
    }
    m_settings.Accounts.erase(m_settings.Accounts.begin() + (d - 1));
    m_settings.Main.ECount = count - 1;
    m_runtime.resize(count - 1);

    std::vector<TFilter> kept;
    kept.reserve(m_settings.Filters.size());
    for (TFilter f : m_settings.Filters) {
        if (f.Account == d)
            continue;
        if (f.Account > d)
            --f.Account;
        kept.push_back(std::move(f));
    }
    m_settings.Filters = std::move(kept);
    m_settings.Main.FilterCount = static_cast<int>(m_settings.Filters.size());
    m_filters.store(m_settings.Filters);
}

std::string Session::path(std::string_view name) const {
    return joinPath(m_workingFolder, name);
}

void Session::workerStarted() {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    ++m_workers;
}

void Session::workerEnded() {
    // Notified under the lock: a waiter that then destroys the session cannot do so before
    // this call has let go of the mutex.
    std::lock_guard<std::mutex> lock(m_workersMutex);
    if (m_workers > 0)
        --m_workers;
    m_workersDone.notify_all();
}

int Session::runningWorkers() const {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    return m_workers;
}

bool Session::waitForWorkers(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_workersMutex);
    return m_workersDone.wait_for(lock, timeout, [this] { return m_workers == 0; });
}

} // namespace tarn
