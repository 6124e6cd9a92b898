#include "prefs/BackgroundTask.h"

#include "checker/CrossThreadQueue.h"

#include <system_error>
#include <thread>

namespace tarn {

BackgroundTask::BackgroundTask(ThreadRegistry::Kind kind, QObject* parent)
    : QObject(parent), m_kind(kind) {
    // Goes with the task: a thread that finishes after the dialog is gone delivers nothing.
    m_queue = new CrossThreadQueue(this);
}

BackgroundTask::~BackgroundTask() {
    cancel();
}

void BackgroundTask::cancel() {
    ++m_generation;
    if (m_cancel)
        m_cancel->store(true);
    m_cancel.reset();
    m_pending = false;
}

bool BackgroundTask::start(Work work) {
    cancel();
    const std::uint64_t generation = m_generation;
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancelled;
    m_pending = true;
    const CrossThreadQueue::Link back = m_queue->link();
    ThreadRegistry::Entry entry(m_threads, m_kind);
    auto job = [this, back, generation, cancelled, work = std::move(work),
                entry = std::move(entry)]() mutable {
        std::function<void()> answer;
        try {
            answer = work(*cancelled);
        } catch (const std::exception&) {
            // The work words its own failures; one it did not foresee leaves no answer.
        }
        back.post([this, generation, answer = std::move(answer)] {
            if (generation != m_generation)
                return;
            m_pending = false;
            m_cancel.reset();
            if (answer)
                answer();
            emit finished();
        });
    };
    try {
        std::thread(std::move(job)).detach();
        return true;
    } catch (const std::system_error&) {
        m_pending = false;
        return false;
    }
}

} // namespace tarn
