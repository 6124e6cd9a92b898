#pragma once

#include "engine/Imap4Client.h"
#include "engine/MailboxClient.h"

#include <memory>
#include <string>

namespace tarn {

// A check's view of an IMAP4 server: the mailbox is selected at opening, identities and the
// header fields come from each message's envelope, no header is fetched, a whole message is
// flagged \Seen and then fetched, deletion flags \Seen and \Deleted and EXPUNGE makes it final.
class Imap4MailboxClient : public MailboxClient {
public:
    Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox);

    Imap4Client& client() { return *m_client; }

    void openMailbox() override;
    int messageCount() override;
    std::int64_t mailboxTotal() override;
    bool hasIdentityListing() const override { return false; }
    void loadIdentityListing() override {}
    // The envelope's message-id (empty when it has none) with subject, sender and date.
    MessageIdentity messageIdentity(int i) override;
    std::int64_t messageSize(int i) override;
    std::optional<std::vector<std::string>> messageHeader(int) override { return std::nullopt; }
    std::optional<RawMessage> wholeMessage(int i) override;
    void deleteMessage(int i) override;
    void expungeDeleted() override;
    void closeMailbox() override;
    bool isConnected() const override;
    LineConnection& lineConnection() override;
    void setMessageBudget(std::size_t bytes) override;

private:
    std::unique_ptr<Imap4Client> m_client;
    std::string m_mailbox;
};

} // namespace tarn
