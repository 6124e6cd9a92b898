#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>

namespace tarn {

// Runs functions posted from any thread on the thread this object lives in, in the order they
// were posted. The functions and everything they capture travel through a queue guarded by a
// std::mutex, so each hand-over is ordered by a lock that thread checkers can see; Qt only
// carries a bare wake-up call. Functions still queued when the object is destroyed are
// dropped without running.
class CrossThreadQueue : public QObject {
    Q_OBJECT
public:
    explicit CrossThreadQueue(QObject* parent = nullptr);
    ~CrossThreadQueue() override;

    // Any thread. Returns at once; the function runs later from the owning thread's event loop,
    // even when posted from that thread itself.
    void post(std::function<void()> task);

private:
    Q_INVOKABLE void runPosted();

    std::mutex m_guard;
    std::deque<std::function<void()>> m_tasks;
};

} // namespace tarn
