#include "engine/Imap4MailboxClient.h"

namespace tarn {

Imap4MailboxClient::Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox)
    : m_client(client ? std::move(client) : std::make_unique<Imap4Client>()),
      m_mailbox(std::move(mailbox)) {}

void Imap4MailboxClient::openMailbox() {
    m_client->Connect();
    m_client->SelectMailbox(m_mailbox);
}

int Imap4MailboxClient::messageCount() {
    return m_client->MessageCount();
}

std::int64_t Imap4MailboxClient::mailboxTotal() {
    return m_client->MailboxTotal();
}

MessageIdentity Imap4MailboxClient::messageIdentity(int i) {
    const ImapEnvelope env = m_client->FetchEnvelope(i);
    const ImapAddress from = env.firstFrom();
    IdentityFields f;
    f.subject = env.subject;
    f.senderName = from.route.empty() ? from.name : from.route;
    f.senderAddress = from.address();
    f.date = env.date;
    f.messageId = env.messageId;
    return {env.messageId, std::move(f)};
}

std::int64_t Imap4MailboxClient::messageSize(int i) {
    return m_client->MessageSize(i);
}

std::optional<RawMessage> Imap4MailboxClient::wholeMessage(int i) {
    m_client->AddFlag(i, "\\Seen");
    ImapFetchedMessage m = m_client->FetchMessage(i);
    return RawMessage{std::move(m.headerLines), m.hasBody, std::move(m.bodyLines)};
}

void Imap4MailboxClient::deleteMessage(int i) {
    m_client->DeleteMessage(i);
}

void Imap4MailboxClient::expungeDeleted() {
    m_client->Expunge();
}

void Imap4MailboxClient::closeMailbox() {
    m_client->Disconnect();
}

bool Imap4MailboxClient::isConnected() const {
    return m_client->Connected();
}

LineConnection& Imap4MailboxClient::lineConnection() {
    return m_client->connection();
}

void Imap4MailboxClient::setMessageBudget(std::size_t bytes) {
    m_client->setMaxMessageBytes(bytes);
}

} // namespace tarn
