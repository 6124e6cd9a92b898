#include "checker/QtCheckTimer.h"

namespace tarn {

QtCheckTimer::QtCheckTimer(QObject* parent, const std::string& name, int intervalMs,
                           std::function<void()> onTick)
    : m_timer(new QTimer(parent)) {
    m_timer->setObjectName(QString::fromStdString(name));
    m_timer->setInterval(intervalMs);
    QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(onTick));
}

QtCheckTimer::~QtCheckTimer() {
    // A timer may be dropped from inside its own tick.
    m_timer->stop();
    m_timer->deleteLater();
}

void QtCheckTimer::setInterval(int ms) {
    // A running QTimer keeps its old period on setInterval only until restarted; the rules
    // want the new period to start now.
    const bool wasActive = m_timer->isActive();
    m_timer->setInterval(ms);
    if (wasActive)
        m_timer->start();
}

std::unique_ptr<CheckTimer> QtCheckTimerFactory::create(const std::string& name, int intervalMs,
                                                        std::function<void()> onTick) {
    return std::make_unique<QtCheckTimer>(m_parent, name, intervalMs, std::move(onTick));
}

} // namespace tarn
