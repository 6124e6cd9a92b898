#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tarn {

// A repeating timer on the main thread. Setting the interval restarts the period, as the
// scheduling rules expect.
class CheckTimer {
public:
    virtual ~CheckTimer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// Makes timers: QTimer in the program, a stepped fake clock in tests.
class CheckTimerFactory {
public:
    virtual ~CheckTimerFactory() = default;
    // A stopped timer with the given name and interval that calls onTick at every tick.
    virtual std::unique_ptr<CheckTimer> create(const std::string& name, int intervalMs,
                                               std::function<void()> onTick) = 0;
};

} // namespace tarn
