#include "checker/CrossThreadQueue.h"

#include <utility>

namespace tarn {

CrossThreadQueue::CrossThreadQueue(QObject* parent) : QObject(parent) {}

CrossThreadQueue::~CrossThreadQueue() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> g(m_guard);
        dropped.swap(m_tasks);
    }
    // Destroyed outside the lock: what the functions captured may take locks of its own.
}

void CrossThreadQueue::post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> g(m_guard);
        m_tasks.push_back(std::move(task));
    }
    // One wake-up per function, each running the oldest, so a function that runs a local
    // event loop does not hold back the ones posted after it. By name, so the queued call
    // carries no data of ours: Qt creates and frees it itself.
    QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void CrossThreadQueue::runPosted() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> g(m_guard);
        if (m_tasks.empty())
            return;
        task = std::move(m_tasks.front());
        m_tasks.pop_front();
    }
    task();
}

} // namespace tarn
