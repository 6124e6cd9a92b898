#include "engine/Pop3MailboxClient.h"

#include "core/TarnError.h"

namespace tarn {

Pop3MailboxClient::Pop3MailboxClient(std::unique_ptr<Pop3Client> client)
    : m_client(client ? std::move(client) : std::make_unique<Pop3Client>()) {}

void Pop3MailboxClient::openMailbox() {
    m_client->Connect();
}

int Pop3MailboxClient::messageCount() {
    return m_client->MessageCount();
}

std::int64_t Pop3MailboxClient::mailboxTotal() {
    return m_client->MailboxTotal();
}

void Pop3MailboxClient::loadIdentityListing() {
    m_uidListing.clear();
    m_uidListing = m_client->UniqueIdListing();
}

MessageIdentity Pop3MailboxClient::messageIdentity(int i) {
    if (i < 1 || static_cast<std::size_t>(i) > m_uidListing.size())
        throw TarnError(ErrorKind::ProtocolError,
                        "No unique id for message " + std::to_string(i) + ".");
    const std::string& line = m_uidListing[static_cast<std::size_t>(i - 1)];
    const std::size_t sp = line.find(' ');
    return {sp == std::string::npos ? line : line.substr(sp + 1), std::nullopt};
}

std::int64_t Pop3MailboxClient::messageSize(int i) {
    return m_client->MessageSize(i);
}

std::optional<std::vector<std::string>> Pop3MailboxClient::messageHeader(int i) {
    return m_client->FetchHeader(i);
}

std::optional<RawMessage> Pop3MailboxClient::wholeMessage(int i) {
    std::optional<Pop3Message> m = m_client->FetchMessage(i);
    if (!m)
        return std::nullopt;
    return RawMessage{std::move(m->headerLines), m->hasBody, std::move(m->bodyLines)};
}

void Pop3MailboxClient::deleteMessage(int i) {
    m_client->DeleteMessage(i);
}

void Pop3MailboxClient::closeMailbox() {
    m_client->Disconnect();
}

bool Pop3MailboxClient::isConnected() const {
    return m_client->Connected();
}

LineConnection& Pop3MailboxClient::lineConnection() {
    return m_client->connection();
}

void Pop3MailboxClient::setMessageBudget(std::size_t bytes) {
    m_client->setMaxMessageBytes(bytes);
}

} // namespace tarn
