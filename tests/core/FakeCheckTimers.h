#pragma once

#include "core/CheckTimer.h"

#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace tarn::test {

// Timers on a stepped clock in milliseconds. Like QTimer, setting the interval of a running
// timer restarts its period from now, also from inside its own tick.
class FakeCheckTimers : public CheckTimerFactory {
public:
    struct Timer : CheckTimer {
        FakeCheckTimers* owner = nullptr;
        std::string name;
        int ms = 0;
        bool active = false;
        long long due = 0;
        std::function<void()> onTick;
        bool* alive = nullptr;

        ~Timer() override {
            if (alive)
                *alive = false;
            std::erase(owner->m_all, this);
        }
        void setInterval(int v) override {
            ms = v;
            if (active)
                due = owner->now + ms;
        }
        int interval() const override { return ms; }
        void start() override {
            active = true;
            due = owner->now + ms;
        }
        void stop() override { active = false; }
        bool isActive() const override { return active; }
    };

    std::unique_ptr<CheckTimer> create(const std::string& name, int intervalMs,
                                       std::function<void()> onTick) override {
        auto t = std::make_unique<Timer>();
        t->owner = this;
        t->name = name;
        t->ms = intervalMs;
        t->onTick = std::move(onTick);
        m_all.push_back(t.get());
        return t;
    }

    // Runs every tick due up to time `until`, in time order (creation order on ties).
    void advanceTo(long long until) {
        for (;;) {
            Timer* next = nullptr;
            for (Timer* t : m_all) {
                if (t->active && t->due <= until && (!next || t->due < next->due))
                    next = t;
            }
            if (!next)
                break;
            now = next->due;
            next->due = now + (next->ms > 0 ? next->ms : 1);
            bool alive = true;
            next->alive = &alive;
            next->onTick();
            if (alive)
                next->alive = nullptr;
        }
        now = until;
    }
    void advanceBy(long long ms) { advanceTo(now + ms); }

    Timer* find(const std::string& name) const {
        for (Timer* t : m_all) {
            if (t->name == name)
                return t;
        }
        return nullptr;
    }

    long long now = 0;

private:
    std::vector<Timer*> m_all;
};

} // namespace tarn::test
