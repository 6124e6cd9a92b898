#include "platform/dbus/SleepMonitor.h"

namespace tarn {

SleepMonitor::SleepMonitor(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    if (m_bus.isConnected())
        m_watching = m_bus.connect(
            QString::fromLatin1(Service), QString::fromLatin1(Path), QString::fromLatin1(Interface),
            QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
}

void SleepMonitor::onPrepareForSleep(bool start) {
    if (start)
        emit goingToSleep();
    else
        emit wokeUp();
}

} // namespace tarn
