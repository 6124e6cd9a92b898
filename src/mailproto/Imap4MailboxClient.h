#pragma once

#include "mailproto/Imap4Client.h"
#include "mailproto/MailboxClient.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace tarn {

// A check's view of an IMAP4 server: the mailbox is selected at opening, identities and the
// header fields come from each message's envelope, no header is fetched, a whole message is
// flagged \Seen and then fetched, deletion flags \Seen and \Deleted and EXPUNGE makes it final.
//
// Envelopes and sizes of the messages a pass walks come in batches, FETCH a:b (RFC822.SIZE
// ENVELOPE), each response matched to its message by its number. Whatever a batch does not
// answer cleanly (no response for a number, a number answered twice, an envelope that cannot
// be read, a batch refused) is asked for one message at a time when the pass gets there, so
// it fails or succeeds as the one-at-a-time check would. Responses for numbers outside the
// batch are ignored. An EXPUNGE renumbers the messages behind it: what the batch said about
// those numbers is forgotten, and the rest of the pass asks one message at a time.
class Imap4MailboxClient : public MailboxClient {
public:
    static constexpr int kBatchSize = 500;

    Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox);

    Imap4Client& client() { return *m_client; }
    // Off: one message at a time (for comparisons).
    void setBatchingAllowed(bool allowed) { m_allowed = allowed; }

    void openMailbox() override;
    int messageCount() override;
    std::int64_t mailboxTotal() override;
    bool hasIdentityListing() const override { return false; }
    void loadIdentityListing() override {}
    void prepareMessages(int first, int last) override;
    std::optional<std::int64_t> knownSize(int i) const override;
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
    struct Batched {
        std::optional<ImapEnvelope> envelope;
        std::optional<std::int64_t> size;
        bool answered = false;
        bool repeated = false;
    };
    // Fetches the batch that starts at i, unless i was in one already.
    void fetchBatchFrom(int i);
    void forgetFrom(int number);
    static MessageIdentity identityOf(const ImapEnvelope& env);

    std::unique_ptr<Imap4Client> m_client;
    std::string m_mailbox;
    bool m_allowed = true;
    bool m_batching = false;
    int m_last = 0;        // last message of the pass
    int m_fetchedUpTo = 0; // messages up to here were in a batch
    std::map<int, Batched> m_batched;
};

} // namespace tarn
