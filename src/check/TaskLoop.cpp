#include "check/TaskLoop.h"

#include <algorithm>

namespace tarn {

struct TaskLoop::LoopTimer : CheckTimer {
    TaskLoop* loop = nullptr;
    int ms = 0;
    bool active = false;
    Clock::time_point due{};
    std::function<void()> onTick;

    ~LoopTimer() override {
        if (loop)
            std::erase(loop->m_timers, this);
    }
    void setInterval(int v) override {
        ms = std::max(v, 0);
        if (active)
            due = Clock::now() + std::chrono::milliseconds(ms);
    }
    int interval() const override { return ms; }
    void start() override {
        active = true;
        due = Clock::now() + std::chrono::milliseconds(ms);
    }
    void stop() override { active = false; }
    bool isActive() const override { return active; }
};

TaskLoop::~TaskLoop() {
    // Timers that outlive the loop must not reach back into it.
    for (LoopTimer* t : m_timers)
        t->loop = nullptr;
}

void TaskLoop::post(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(fn));
    }
    m_cv.notify_one();
}

void TaskLoop::quit() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_cv.notify_all();
}

bool TaskLoop::quitRequested() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_quit;
}

std::unique_ptr<CheckTimer> TaskLoop::create(const std::string&, int intervalMs,
                                             std::function<void()> onTick) {
    auto t = std::make_unique<LoopTimer>();
    t->loop = this;
    t->ms = std::max(intervalMs, 0);
    t->onTick = std::move(onTick);
    m_timers.push_back(t.get());
    return t;
}

bool TaskLoop::step(Clock::time_point deadline) {
    std::function<void()> task;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_quit)
                return false;
            if (!m_tasks.empty()) {
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
                break;
            }
            LoopTimer* next = nullptr;
            for (LoopTimer* t : m_timers) {
                if (t->active && (!next || t->due < next->due))
                    next = t;
            }
            const Clock::time_point now = Clock::now();
            if (next && next->due <= now) {
                // Like a QTimer: the next period counts from this tick.
                next->due = now + std::chrono::milliseconds(std::max(next->ms, 1));
                task = next->onTick;
                break;
            }
            if (now >= deadline)
                return true;
            const Clock::time_point wake = next ? std::min(next->due, deadline) : deadline;
            m_cv.wait_until(lock, wake);
        }
    }
    if (task)
        task();
    return true;
}

bool TaskLoop::runFor(std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (!step(deadline))
            return true;
    }
    return quitRequested();
}

bool TaskLoop::runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline || !step(deadline))
            return done();
    }
    return true;
}

} // namespace tarn
