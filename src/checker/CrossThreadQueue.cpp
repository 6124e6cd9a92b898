#include "checker/CrossThreadQueue.h"

#include <QThread>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <utility>

namespace tarn {

struct CrossThreadQueue::Core {
    std::mutex guard;
    CrossThreadQueue* owner = nullptr; // null once the queue is gone
    QThread* thread = nullptr;
    std::deque<std::function<void()>> tasks;
};

CrossThreadQueue::CrossThreadQueue(QObject* parent)
    : QObject(parent), m_core(std::make_shared<Core>()) {
    m_core->owner = this;
    m_core->thread = thread();
}

CrossThreadQueue::~CrossThreadQueue() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard<std::mutex> g(m_core->guard);
        m_core->owner = nullptr;
        dropped.swap(m_core->tasks);
    }
    // Destroyed outside the lock: what the functions captured may take locks of its own.
}

void CrossThreadQueue::Link::post(std::function<void()> task) const {
    if (!m_core)
        return;
    std::unique_lock<std::mutex> g(m_core->guard);
    if (!m_core->owner) {
        g.unlock();
        return; // dropped (and destroyed) outside the lock
    }
    m_core->tasks.push_back(std::move(task));
    // One wake-up per function, each running the oldest, so a function that runs a local
    // event loop does not hold back the ones posted after it. By name, so the queued call
    // carries no data of ours: Qt creates and frees it itself. Under the lock, so the queue
    // cannot be destroyed meanwhile.
    QMetaObject::invokeMethod(m_core->owner, "runPosted", Qt::QueuedConnection);
}

void CrossThreadQueue::runPosted() {
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> g(m_core->guard);
        if (m_core->tasks.empty())
            return;
        task = std::move(m_core->tasks.front());
        m_core->tasks.pop_front();
    }
    task();
}

namespace {

struct CallState {
    enum Step { Waiting, Running, Finished, Dropped, Abandoned };
    std::mutex guard;
    std::condition_variable changed;
    Step step = Waiting;

    void set(Step s) {
        {
            std::lock_guard<std::mutex> g(guard);
            step = s;
        }
        changed.notify_all();
    }
};

// Travels with the posted function; when the function is destroyed without having begun
// (the queue went away), the caller stops waiting at once.
struct DropNotice {
    std::shared_ptr<CallState> state;
    ~DropNotice() {
        {
            std::lock_guard<std::mutex> g(state->guard);
            if (state->step == CallState::Waiting)
                state->step = CallState::Dropped;
        }
        state->changed.notify_all();
    }
};

} // namespace

bool CrossThreadQueue::Link::call(std::function<void()> task, std::chrono::milliseconds timeout,
                                  const std::atomic<bool>* quitting,
                                  std::chrono::milliseconds quittingWait) const {
    if (!m_core)
        return false;
    if (QThread::currentThread() == m_core->thread) {
        task();
        return true;
    }
    auto state = std::make_shared<CallState>();
    // Made in place: a temporary copy would announce a drop as it goes.
    std::shared_ptr<DropNotice> notice(new DropNotice{state});
    post([state, notice, &task] {
        {
            std::lock_guard<std::mutex> g(state->guard);
            if (state->step != CallState::Waiting)
                return; // the caller gave up: task is gone with its stack
            state->step = CallState::Running;
        }
        struct Finish {
            CallState& s;
            ~Finish() { s.set(CallState::Finished); }
        } finish{*state};
        task();
    });
    notice.reset();

    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point quitDeadline{};
    std::unique_lock<std::mutex> l(state->guard);
    for (;;) {
        if (state->step == CallState::Finished)
            return true;
        if (state->step == CallState::Dropped)
            return false;
        const auto now = std::chrono::steady_clock::now();
        bool giveUp = now - start >= timeout;
        if (quitting && quitting->load()) {
            if (quitDeadline == std::chrono::steady_clock::time_point{})
                quitDeadline = now + quittingWait;
            giveUp = giveUp || now >= quitDeadline;
        }
        if (giveUp && state->step == CallState::Waiting) {
            state->step = CallState::Abandoned;
            return false;
        }
        // A function already running is waited for: it may refer to this stack. Short
        // slices, so a quit request is seen.
        state->changed.wait_for(l, std::chrono::milliseconds(50));
    }
}

} // namespace tarn
