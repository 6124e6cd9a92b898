#pragma once

#include "check/ThreadRegistry.h"
#include "mailproto/ServerEndpoint.h"

#include <QObject>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace tarn {

class CrossThreadQueue;

// Lists an IMAP4 server's top-level mailboxes on a thread of its own, so the
// dialog keeps working while a slow or distant server answers. Only the answer to the latest
// request arrives; an answer to an earlier or cancelled one is dropped.
class MailboxLister : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{5000};

    explicit MailboxLister(QObject* parent = nullptr);
    ~MailboxLister() override;

    // The fixed IMAP4 port, for a server without security.
    void setPort(int port) { m_port = port; }
    // Where the listing threads register, so the program's exit can wait for them. A thread
    // holds the registry until it has left it, however long it outlives the lister.
    void setThreadRegistry(std::shared_ptr<ThreadRegistry> threads) {
        m_threads = std::move(threads);
    }
    // Limits for connecting (greeting and login included) and for each answer.
    void setTimeout(std::chrono::milliseconds t) { m_timeout = t; }

    // Starts a listing; one still under way is abandoned. Without security the server is
    // reached on the fixed port, otherwise on the endpoint's, with its TLS or STARTTLS and pin.
    void start(const ServerEndpoint& server, const std::string& user, const std::string& password);
    // Drops the answer of the listing under way.
    void cancel();
    bool pending() const { return m_pending; }

signals:
    void listed(const QStringList& names);
    void failed(const QString& reason);

private:
    void deliver(std::uint64_t generation, const QStringList& names, const QString& error, bool ok);

    CrossThreadQueue* m_toLister = nullptr;
    std::shared_ptr<ThreadRegistry> m_threads;
    std::uint64_t m_generation = 0;
    bool m_pending = false;
    int m_port = 143;
    std::chrono::milliseconds m_timeout = kDefaultTimeout;
};

} // namespace tarn
