#pragma once

#include "core/CheckTimer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarn {

// The main loop of a program without windows (tarnwick-check --watch): functions posted from
// any thread and the check timers run on the thread that runs the loop. Between them the
// thread sleeps; nothing polls.
class TaskLoop : public CheckTimerFactory {
public:
    using Clock = std::chrono::steady_clock;

    TaskLoop() = default;
    ~TaskLoop() override;
    TaskLoop(const TaskLoop&) = delete;
    TaskLoop& operator=(const TaskLoop&) = delete;

    // Any thread.
    void post(std::function<void()> fn);
    void quit();
    bool quitRequested() const;

    // Runs posted functions and due timers until quit() (true) or until the time given is up
    // (false).
    bool runFor(std::chrono::milliseconds limit);
    // Runs until done() holds (checked after every step), quit() or the time is up; true
    // when done() holds.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

    std::unique_ptr<CheckTimer> create(const std::string& name, int intervalMs,
                                       std::function<void()> onTick) override;

private:
    struct LoopTimer;
    // One step: a posted function or a due timer, else a sleep until either or until the
    // deadline. False when quit was asked.
    bool step(Clock::time_point deadline);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::vector<LoopTimer*> m_timers; // loop thread only
};

} // namespace tarn
