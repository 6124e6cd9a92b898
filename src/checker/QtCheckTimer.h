#pragma once

#include "core/CheckTimer.h"

#include <QObject>
#include <QTimer>

namespace tarn {

// The scheduler's timers as QTimers on the main thread.
class QtCheckTimer : public CheckTimer {
public:
    QtCheckTimer(QObject* parent, const std::string& name, int intervalMs,
                 std::function<void()> onTick);
    ~QtCheckTimer() override;
    void setInterval(int ms) override;
    int interval() const override { return m_timer->interval(); }
    void start() override { m_timer->start(); }
    void stop() override { m_timer->stop(); }
    bool isActive() const override { return m_timer->isActive(); }
    QTimer* timer() const { return m_timer; }

private:
    QTimer* m_timer;
};

class QtCheckTimerFactory : public CheckTimerFactory {
public:
    explicit QtCheckTimerFactory(QObject* parent) : m_parent(parent) {}
    std::unique_ptr<CheckTimer> create(const std::string& name, int intervalMs,
                                       std::function<void()> onTick) override;

private:
    QObject* m_parent;
};

} // namespace tarn
