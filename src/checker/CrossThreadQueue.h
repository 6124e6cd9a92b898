#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

class QThread;

namespace tarn {

// The one way work crosses from another thread to the thread this object lives in (the main
// thread): post() runs a function there later, call() runs it there and waits for it with a
// time-out. The functions and everything they capture travel through a queue guarded by a
// std::mutex, so each hand-over is ordered by a lock that thread checkers can see; Qt only
// carries a bare wake-up call. Functions still queued when the object is destroyed are
// dropped without running; a thread that may outlive the object holds a Link, which then
// drops what it is given.
class CrossThreadQueue : public QObject {
    Q_OBJECT
public:
    struct Core;

    // A handle any thread may keep and copy; it outlives the queue safely.
    class Link {
    public:
        Link() = default;
        // Any thread. Returns at once; the function runs later from the queue's thread's
        // event loop (even when posted from that thread), or never once the queue is gone.
        void post(std::function<void()> task) const;
        // Any thread. Runs the function on the queue's thread (at once when called there)
        // and waits for it. Waits at most `timeout`, and once *quitting is set (when given)
        // at most `quittingWait` more. True when it ran. When the wait ends first, or the
        // queue is gone, it never runs later; one the queue's thread has already begun is
        // waited for to its end, so the function may refer to the caller's stack.
        bool call(std::function<void()> task, std::chrono::milliseconds timeout,
                  const std::atomic<bool>* quitting = nullptr,
                  std::chrono::milliseconds quittingWait = std::chrono::milliseconds(0)) const;

    private:
        friend class CrossThreadQueue;
        explicit Link(std::shared_ptr<Core> core) : m_core(std::move(core)) {}
        std::shared_ptr<Core> m_core;
    };

    explicit CrossThreadQueue(QObject* parent = nullptr);
    ~CrossThreadQueue() override;

    Link link() const { return Link(m_core); }
    void post(std::function<void()> task) { link().post(std::move(task)); }
    bool call(std::function<void()> task, std::chrono::milliseconds timeout,
              const std::atomic<bool>* quitting = nullptr,
              std::chrono::milliseconds quittingWait = std::chrono::milliseconds(0)) {
        return link().call(std::move(task), timeout, quitting, quittingWait);
    }

private:
    Q_INVOKABLE void runPosted();

    std::shared_ptr<Core> m_core;
};

} // namespace tarn
