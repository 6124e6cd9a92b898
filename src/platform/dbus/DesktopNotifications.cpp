#include "platform/dbus/DesktopNotifications.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace tarn {

namespace {

// The "image-data" hint: (iiibiiay) raw RGBA rows.
struct NoticeImage {
    int width = 0;
    int height = 0;
    int rowstride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

} // namespace

} // namespace tarn

Q_DECLARE_METATYPE(tarn::NoticeImage)

namespace tarn {

namespace {

QDBusArgument& operator<<(QDBusArgument& arg, const NoticeImage& i) {
    arg.beginStructure();
    arg << i.width << i.height << i.rowstride << i.hasAlpha << i.bitsPerSample << i.channels
        << i.data;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, NoticeImage& i) {
    arg.beginStructure();
    arg >> i.width >> i.height >> i.rowstride >> i.hasAlpha >> i.bitsPerSample >> i.channels >>
        i.data;
    arg.endStructure();
    return arg;
}

NoticeImage noticeImage(const QImage& image) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    NoticeImage i;
    i.width = rgba.width();
    i.height = rgba.height();
    i.rowstride = static_cast<int>(rgba.bytesPerLine());
    i.data = QByteArray(reinterpret_cast<const char*>(rgba.constBits()),
                        static_cast<qsizetype>(rgba.sizeInBytes()));
    return i;
}

} // namespace

DesktopNotifications::DesktopNotifications(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {
    qDBusRegisterMetaType<NoticeImage>();
    if (!m_bus.isConnected())
        return;
    m_bus.connect(QString::fromLatin1(Service), QString::fromLatin1(Path),
                  QString::fromLatin1(Interface), QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(QString::fromLatin1(Service), QString::fromLatin1(Path),
                  QString::fromLatin1(Interface), QStringLiteral("NotificationClosed"), this,
                  SLOT(onClosed(uint, uint)));
}

void DesktopNotifications::notify(std::uintptr_t key, const DesktopNotice& notice,
                                  std::function<void()> onDefault) {
    if (!m_bus.isConnected())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(Service), QString::fromLatin1(Path),
                                       QString::fromLatin1(Interface), QStringLiteral("Notify"));
    // Never start a service just for this: a missing one means no notice.
    call.setAutoStartService(false);
    const auto old = m_idByKey.find(key);
    const uint replaces = old == m_idByKey.end() ? 0u : old->second;
    QStringList actions;
    if (onDefault)
        actions << QStringLiteral("default") << QStringLiteral("Open Mail List");
    QVariantMap hints;
    if (!notice.icon.isNull())
        hints.insert(QStringLiteral("image-data"), QVariant::fromValue(noticeImage(notice.icon)));
    call << notice.appName << replaces << QString() << notice.summary << notice.body << actions
         << hints << notice.expireMs;

    ++m_pending;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, m_callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, key, onDefault = std::move(onDefault)](QDBusPendingCallWatcher* w) {
                --m_pending;
                const QDBusPendingReply<uint> reply = *w;
                w->deleteLater();
                if (reply.isError()) {
                    emit callFinished(false, reply.error().message());
                    return;
                }
                const uint id = reply.value();
                if (const auto it = m_idByKey.find(key); it != m_idByKey.end() && it->second != id)
                    m_onDefault.erase(it->second);
                m_idByKey[key] = id;
                if (onDefault)
                    m_onDefault[id] = onDefault;
                else
                    m_onDefault.erase(id);
                emit callFinished(true, QString());
            });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& action) {
    if (action != QLatin1String("default"))
        return;
    const auto it = m_onDefault.find(id);
    if (it == m_onDefault.end())
        return;
    const std::function<void()> run = it->second;
    run();
}

void DesktopNotifications::onClosed(uint id, uint) {
    m_onDefault.erase(id);
    for (auto it = m_idByKey.begin(); it != m_idByKey.end(); ++it) {
        if (it->second == id) {
            m_idByKey.erase(it);
            break;
        }
    }
}

} // namespace tarn
