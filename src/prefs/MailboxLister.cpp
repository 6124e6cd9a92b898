#include "prefs/MailboxLister.h"

#include "checker/CrossThreadQueue.h"
#include "checker/UiText.h"
#include "mailproto/Imap4Client.h"

#include <thread>

namespace tarn {

MailboxLister::MailboxLister(QObject* parent) : QObject(parent) {
    // The road back from a listing thread; it goes with the lister, so a thread that finishes
    // later delivers nothing.
    m_toLister = new CrossThreadQueue(this);
}

MailboxLister::~MailboxLister() = default;

void MailboxLister::cancel() {
    ++m_generation;
    m_pending = false;
}

void MailboxLister::start(const ServerEndpoint& server, const std::string& user,
                          const std::string& password) {
    const std::uint64_t generation = ++m_generation;
    m_pending = true;
    const CrossThreadQueue::Link toLister = m_toLister->link();
    ThreadRegistry::Entry entry(m_threads, ThreadRegistry::Kind::MailboxListing);
    ServerEndpoint to = server;
    if (to.security == ConnectionSecurity::None)
        to.port = m_port;
    const std::chrono::milliseconds timeout = m_timeout;
    auto job = [this, toLister, generation, to, user, password, timeout, entry = std::move(entry)] {
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
        toLister.post(
            [this, generation, names, error, ok] { deliver(generation, names, error, ok); });
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
