#pragma once

#include "check/ThreadRegistry.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarn {

class CrossThreadQueue;

// One piece of the dialog's work that talks to the network, run on a thread of its own so the
// dialog stays responsive. Only the answer of the latest start arrives: a later start or a
// cancel drops the earlier one's answer and raises its cancel flag.
class BackgroundTask : public QObject {
    Q_OBJECT
public:
    // Runs on the worker; returns what the main thread then does with the outcome.
    using Work = std::function<std::function<void()>(const std::atomic<bool>& cancelled)>;

    BackgroundTask(ThreadRegistry::Kind kind, QObject* parent = nullptr);
    ~BackgroundTask() override;

    // Where the threads register; each holds the registry until it has left it, however long
    // it outlives the task.
    void setThreadRegistry(std::shared_ptr<ThreadRegistry> threads) {
        m_threads = std::move(threads);
    }
    // False when no thread could be started.
    bool start(Work work);
    void cancel();
    bool pending() const { return m_pending; }

signals:
    // The latest task's answer was delivered (after its closure ran).
    void finished();

private:
    CrossThreadQueue* m_queue = nullptr;
    std::shared_ptr<ThreadRegistry> m_threads;
    ThreadRegistry::Kind m_kind;
    std::uint64_t m_generation = 0;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_pending = false;
};

} // namespace tarn
