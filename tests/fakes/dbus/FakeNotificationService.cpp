#include "fakes/dbus/FakeNotificationService.h"

#include <QDBusArgument>

namespace tarn::test {

namespace {
const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
} // namespace

FakeNotificationService::FakeNotificationService(const QDBusConnection& connection, Mode mode)
    : m_conn(connection), m_mode(mode) {
    m_conn.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportAllSlots);
    m_conn.registerService(QString::fromLatin1(kService));
}

FakeNotificationService::~FakeNotificationService() {
    m_conn.unregisterService(QString::fromLatin1(kService));
    m_conn.unregisterObject(QString::fromLatin1(kPath));
}

uint FakeNotificationService::Notify(const QString& appName, uint replacesId, const QString& icon,
                                     const QString& summary, const QString& body,
                                     const QStringList& actions, const QVariantMap& hints,
                                     int expire) {
    Call c{appName, replacesId, icon, summary, body, actions, hints, expire, 0, {}, 0};
    if (hints.contains(QStringLiteral("image-data"))) {
        const QDBusArgument arg = hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
        int w = 0, h = 0, stride = 0, bits = 0, channels = 0;
        bool alpha = false;
        QByteArray data;
        arg.beginStructure();
        arg >> w >> h >> stride >> alpha >> bits >> channels >> data;
        arg.endStructure();
        c.imageSize = QSize(w, h);
        c.imageBytes = static_cast<int>(data.size());
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_mode == Mode::NeverAnswer) {
        setDelayedReply(true);
        m_unanswered.push_back(message());
        m_calls.push_back(c);
        return 0;
    }
    c.id = replacesId != 0 ? replacesId : m_next++;
    m_calls.push_back(c);
    return c.id;
}

std::vector<FakeNotificationService::Call> FakeNotificationService::calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

QStringList FakeNotificationService::GetCapabilities() {
    return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
}

void FakeNotificationService::invokeDefault(uint id) {
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kPath), QString::fromLatin1(kService), QStringLiteral("ActionInvoked"));
    signal << id << QStringLiteral("default");
    m_conn.send(signal);
}

} // namespace tarn::test
