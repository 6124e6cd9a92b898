#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QSize>
#include <QStringList>
#include <QVariantMap>

#include <mutex>
#include <vector>

namespace tarn::test {

// A stand-in for the desktop's notification service on a private bus: it owns the service
// name, records every Notify call, and either answers with a new id or never answers at all.
class FakeNotificationService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    enum class Mode { Answer, NeverAnswer };

    struct Call {
        QString appName;
        uint replacesId = 0;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expire = 0;
        uint id = 0;     // what the service answered (0 when it did not)
        QSize imageSize; // of the image-data hint, if any
        int imageBytes = 0;
    };

    FakeNotificationService(const QDBusConnection& connection, Mode mode = Mode::Answer);
    ~FakeNotificationService() override;

    // A copy: the bus may deliver calls on a thread of its own while the test reads.
    std::vector<Call> calls() const;
    // The user activates notice id (ActionInvoked with "default").
    void invokeDefault(uint id);

public slots:
    uint Notify(const QString& appName, uint replacesId, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expire);
    QStringList GetCapabilities();

private:
    QDBusConnection m_conn;
    Mode m_mode;
    mutable std::mutex m_mutex; // guards what follows
    uint m_next = 1;
    std::vector<Call> m_calls;
    std::vector<QDBusMessage> m_unanswered;
};

} // namespace tarn::test
