#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>

namespace tarn {

// One notice for the desktop's notification service.
struct DesktopNotice {
    QString appName = QStringLiteral("Tarnwick");
    QString summary; // plain text
    QString body;    // the service's markup: escape text before it goes in
    QImage icon;     // sent as the notice's image; none: the service's default
    int expireMs = -1;
};

// The freedesktop notification service (org.freedesktop.Notifications) through Qt D-Bus.
// Every call is asynchronous with a deadline: a service that is missing, slow or never answers
// costs the caller nothing, and the notice is simply not shown. Lives on the main thread.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    static constexpr int CallTimeoutMs = 10000;
    static constexpr const char* Service = "org.freedesktop.Notifications";
    static constexpr const char* Path = "/org/freedesktop/Notifications";
    static constexpr const char* Interface = "org.freedesktop.Notifications";

    // bus: the session bus in the program; tests pass a private one.
    explicit DesktopNotifications(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                                  QObject* parent = nullptr);

    // Shows the notice in place of the one shown before under the same key (an account's
    // last notice gives way to its next). onDefault runs on this thread when the user
    // activates the notice. Returns at once.
    void notify(std::uintptr_t key, const DesktopNotice& notice, std::function<void()> onDefault);

    // How long a call may wait for its answer.
    void setCallTimeout(int ms) { m_callTimeoutMs = ms; }

    // Calls sent and not yet answered (nor timed out).
    int pendingCalls() const { return m_pending; }
    bool busConnected() const { return m_bus.isConnected(); }

signals:
    // A call has been answered (ok) or has failed or timed out (not ok, with the error).
    void callFinished(bool ok, const QString& error);

private slots:
    void onActionInvoked(uint id, const QString& action);
    void onClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    std::map<std::uintptr_t, uint> m_idByKey;
    std::map<uint, std::function<void()>> m_onDefault;
    int m_pending = 0;
    int m_callTimeoutMs = CallTimeoutMs;
};

} // namespace tarn
