#include "prefs/MailboxLister.h"

#include "checker/UiText.h"
#include "mailproto/Imap4Client.h"

#include <mutex>
#include <thread>

namespace tarn {

// The link from a listing thread back to its lister; cut when the lister goes, so a thread
// that finishes later posts nothing.
struct MailboxLister::Channel {
    std::mutex mutex;
    MailboxLister* owner = nullptr;
};

MailboxLister::MailboxLister(QObject* parent)
    : QObject(parent), m_channel(std::make_shared<Channel>()) {
    m_channel->owner = this;
}

MailboxLister::~MailboxLister() {
    std::lock_guard<std::mutex> lock(m_channel->mutex);
    m_channel->owner = nullptr;
}

void MailboxLister::cancel() {
    ++m_generation;
    m_pending = false;
}

void MailboxLister::start(const ServerEndpoint& server, const std::string& user,
                          const std::string& password) {
    const std::uint64_t generation = ++m_generation;
    m_pending = true;
    std::shared_ptr<Channel> channel = m_channel;
    ServerEndpoint to = server;
    if (to.security == ConnectionSecurity::None)
        to.port = m_port;
    const std::chrono::milliseconds timeout = m_timeout;
    auto job = [channel, generation, to, user, password, timeout] {
        QStringList names;
        QString error;
        bool ok = false;
        try {
            Imap4Client client;
            applyEndpoint(client, to);
            client.setUser(user);
            client.setPassword(password);
            client.setConnectTimeout(timeout);
            client.setReadTimeout(timeout);
            client.Connect();
            for (const std::string& name : client.ListMailboxes({""}))
                names << uiText(name);
            client.Disconnect();
            ok = true;
        } catch (const std::exception& e) {
            error = uiText(e.what());
        }
        std::lock_guard<std::mutex> lock(channel->mutex);
        if (MailboxLister* owner = channel->owner) {
            // Queued to the lister's thread; Qt drops it if the lister is deleted first,
            // which cannot happen before this lock is released.
            QMetaObject::invokeMethod(
                owner,
                [owner, generation, names, error, ok] {
                    owner->deliver(generation, names, error, ok);
                },
                Qt::QueuedConnection);
        }
    };
    try {
        std::thread(std::move(job)).detach();
    } catch (const std::system_error& e) {
        m_pending = false;
        emit failed(QString::fromLocal8Bit(e.what()));
    }
}

void MailboxLister::deliver(std::uint64_t generation, const QStringList& names,
                            const QString& error, bool ok) {
    if (generation != m_generation)
        return;
    m_pending = false;
    if (ok)
        emit listed(names);
    else
        emit failed(error);
}

} // namespace tarn
