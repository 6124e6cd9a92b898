#pragma once

#include <QDBusConnection>
#include <QObject>

namespace tarn {

// logind's word that the computer is about to sleep and has woken up (PrepareForSleep on the
// system bus). Where there is no system bus or no logind nothing is ever signalled, and the
// idle connections find a dead network at their next renewal instead.
class SleepMonitor : public QObject {
    Q_OBJECT
public:
    static constexpr const char* Service = "org.freedesktop.login1";
    static constexpr const char* Path = "/org/freedesktop/login1";
    static constexpr const char* Interface = "org.freedesktop.login1.Manager";

    explicit SleepMonitor(const QDBusConnection& bus = QDBusConnection::systemBus(),
                          QObject* parent = nullptr);
    // Subscribed to the signal.
    bool watching() const { return m_watching; }

signals:
    void goingToSleep();
    void wokeUp();

private slots:
    void onPrepareForSleep(bool start);

private:
    QDBusConnection m_bus;
    bool m_watching = false;
};

} // namespace tarn
