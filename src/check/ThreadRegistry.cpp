#include "check/ThreadRegistry.h"

#include <numeric>

namespace tarn {

void ThreadRegistry::enter(Kind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_running[static_cast<int>(kind)];
}

void ThreadRegistry::leave(Kind kind) {
    // Notified under the lock: a waiter that then destroys the registry cannot do so before
    // this call has let go of the mutex.
    std::lock_guard<std::mutex> lock(m_mutex);
    int& n = m_running[static_cast<int>(kind)];
    if (n > 0)
        --n;
    m_allGone.notify_all();
}

int ThreadRegistry::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::accumulate(m_running.begin(), m_running.end(), 0);
}

int ThreadRegistry::running(Kind kind) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running[static_cast<int>(kind)];
}

bool ThreadRegistry::waitUntilNoneRun(std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_allGone.wait_for(lock, timeout, [this] {
        return std::accumulate(m_running.begin(), m_running.end(), 0) == 0;
    });
}

} // namespace tarn
