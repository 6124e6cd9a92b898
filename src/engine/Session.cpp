#include "engine/Session.h"

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
