#include "check/ConnectionTest.h"

#include "mailproto/Imap4Client.h"
#include "mailproto/Imap4MailboxClient.h"
#include "mailproto/Pop3Client.h"
#include "mailproto/Pop3MailboxClient.h"
#include "mailproto/ServerEndpoint.h"
#include "net/LineConnection.h"
#include "net/TcpTransport.h"

#include <chrono>
#include <memory>

namespace tarn {

std::string ConnectionTestResult::outcome() const {
    if (ok)
        return "Connected: " + std::to_string(messages) +
               (messages == 1 ? " message" : " messages");
    if (text.empty())
        return errorKindName(kind);
    return std::string(errorKindName(kind)) + ": " + text;
}

namespace {

ConnectionTestResult failure(ErrorKind kind, std::string text) {
    ConnectionTestResult r;
    r.kind = kind;
    r.text = std::move(text);
    return r;
}

template <class Client>
void configure(Client& client, const ServerEndpoint& to, const AccountSettings& account) {
    client.setHost(to.host);
    client.setPort(to.port);
    client.setUser(account.UserID);
    client.setPassword(account.Password);
    client.setSecurity(to.security, to.pin);
}

} // namespace

ConnectionTestResult testConnection(const AccountSettings& account, const CheckOptions& options) {
    const AccountServer server = accountServer(account, options.imapPort);
    if (server.endpoint.host.empty())
        return failure(ErrorKind::LocalError, "No server is set for the account.");
    if (!server.portValid)
        return failure(ErrorKind::LocalError,
                       "The port \"" + server.portText + "\" is not a port number.");

    auto connection =
        std::make_unique<LineConnection>(std::make_unique<TcpTransport>(options.hostLookup));
    connection->setTimeouts(options);
    // No test may outlast a whole check.
    connection->setEndTime(LineConnection::Clock::now() + options.checkTimeLimit);
    LineConnection* line = connection.get();
    std::unique_ptr<MailboxClient> client;
    if (account.isImap4()) {
        auto imap = std::make_unique<Imap4Client>(std::move(connection));
        configure(*imap, server.endpoint, account);
        client = std::make_unique<Imap4MailboxClient>(std::move(imap), account.mailbox());
    } else {
        auto pop = std::make_unique<Pop3Client>(std::move(connection));
        configure(*pop, server.endpoint, account);
        client = std::make_unique<Pop3MailboxClient>(std::move(pop));
    }

    ConnectionTestResult r;
    try {
        client->openMailbox();
        r.messages = client->messageCount();
        r.ok = true;
    } catch (const TarnError& e) {
        r.kind = e.kind();
        r.text = e.what();
        // A command on a broken connection says only that; the break itself is the reason.
        if (e.kind() == ErrorKind::NotConnected)
            if (const std::optional<TarnError>& why = line->lastError()) {
                r.kind = why->kind();
                r.text = why->what();
            }
    } catch (const std::exception& e) {
        r.kind = ErrorKind::Other;
        r.text = e.what();
    }
    if (r.ok) {
        try {
            client->closeMailbox();
        } catch (const std::exception&) {
            // The count is known; a goodbye that went astray changes nothing.
        }
    }
    return r;
}

} // namespace tarn
