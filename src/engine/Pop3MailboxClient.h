#pragma once

#include "engine/MailboxClient.h"
#include "engine/Pop3Client.h"

#include <memory>

namespace tarn {

// A check's view of a POP3 server: identities from the "UIDL" listing, headers from
// "TOP n 0", messages from "RETR", deletion with "DELE" (final at "QUIT").
class Pop3MailboxClient : public MailboxClient {
public:
    explicit Pop3MailboxClient(std::unique_ptr<Pop3Client> client);

    Pop3Client& client() { return *m_client; }

    void openMailbox() override;
    int messageCount() override;
    std::int64_t mailboxTotal() override;
    bool hasIdentityListing() const override { return true; }
    // A listing refused with "-ERR" is empty: every message then lacks its identity.
    void loadIdentityListing() override;
    // What follows the first space of line i of the listing (the whole line without one);
    // a missing line fails.
    MessageIdentity messageIdentity(int i) override;
    std::int64_t messageSize(int i) override;
    std::optional<std::vector<std::string>> messageHeader(int i) override;
    std::optional<RawMessage> wholeMessage(int i) override;
    void deleteMessage(int i) override;
    void expungeDeleted() override {} // POP3 deletes at "QUIT"
    void closeMailbox() override;
    bool isConnected() const override;
    LineConnection& lineConnection() override;
    void setMessageBudget(std::size_t bytes) override;

private:
    std::unique_ptr<Pop3Client> m_client;
    std::vector<std::string> m_uidListing;
};

} // namespace tarn
