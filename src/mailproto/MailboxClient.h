#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

class LineConnection;

// A message as the server delivered it, before decoding: the header lines (empty lines left
// out), whether a body followed the header, and the body lines.
struct RawMessage {
    std::vector<std::string> headerLines;
    bool hasBody = false;
    std::vector<std::string> bodyLines;
};

// Header fields that arrive with a message's identity (an IMAP4 envelope), so that no header
// needs fetching. The date is the server's text, decoded by the check.
struct IdentityFields {
    std::string subject;
    std::string senderName;
    std::string senderAddress;
    std::string date;
    std::string messageId;
};

// What the pass expects to ask of one message, judged from the mail list before it gets there:
// the header, the whole message before the record is stored, and the whole message after it
// (all bodies, or a body asked for earlier). A client that pipelines sends these ahead; the
// pass still asks for each, and a guess that turns out wrong only costs an unused answer.
struct ExpectedFetches {
    bool header = false;
    bool body = false;
    bool bodyAfterStore = false;
};

// Who message i is: its unique id, and the header fields that came along with it, if any.
struct MessageIdentity {
    std::string uid; // empty when the server gave none
    std::optional<IdentityFields> fields;
};

// What a check asks of a mailbox server, the same for POP3 and IMAP4. One check uses one
// client from one thread. Every failure is a TarnError with its kind.
//
// The calls about message i are independent of each other and of the other messages' calls,
// so a client may answer them from work it did ahead (a pipelined or batched range) without
// the check noticing; prepareMessages announces the range a pass is about to walk.
class MailboxClient {
public:
    virtual ~MailboxClient() = default;

    // Connects, logs in and opens the mailbox (IMAP4: selects it). On a failure the
    // connection is closed.
    virtual void openMailbox() = 0;
    virtual int messageCount() = 0;
    // The sum of the message sizes; -1 or 0 when the server's answer does not add up (as
    // each protocol defines it).
    virtual std::int64_t mailboxTotal() = 0;
    // True when identities come from one listing taken before the pass (POP3 "UIDL").
    virtual bool hasIdentityListing() const = 0;
    virtual void loadIdentityListing() = 0;
    // True when the client knows that messages were added or removed since the last check it
    // kept track of, whatever the mailbox total says.
    virtual bool knowsOfChanges() const { return false; }
    // The pass is about to walk messages first..last. A client that batches may start on
    // the range here; one that does not has nothing to do.
    virtual void prepareMessages(int /*first*/, int /*last*/) {}
    // How many messages ahead of the one being processed the pass should announce what it
    // expects (expectFetches); 0 for a client that does not look ahead.
    virtual int lookAhead() const { return 0; }
    virtual void expectFetches(int /*i*/, const ExpectedFetches& /*what*/) {}
    // The size of message i when the client has it without asking the server.
    virtual std::optional<std::int64_t> knownSize(int /*i*/) const { return std::nullopt; }
    virtual MessageIdentity messageIdentity(int i) = 0;
    // The size; -1 when the answer carries none.
    virtual std::int64_t messageSize(int i) = 0;
    // The raw header lines; nullopt when this protocol fetches no header (the identity's
    // fields stand for it).
    virtual std::optional<std::vector<std::string>> messageHeader(int i) = 0;
    // The whole message; nullopt when the server has none.
    virtual std::optional<RawMessage> wholeMessage(int i) = 0;
    // Deletes message i on the server (IMAP4: flags it; expungeDeleted makes it final).
    virtual void deleteMessage(int i) = 0;
    virtual void expungeDeleted() = 0;
    // Logs out and closes; throws when the goodbye could not be sent.
    virtual void closeMailbox() = 0;
    virtual bool isConnected() const = 0;
    // The connection under the client: its limits and what broke it.
    virtual LineConnection& lineConnection() = 0;
    // Budget of one whole message; a larger one fails (kind OverBudget).
    virtual void setMessageBudget(std::size_t bytes) = 0;
};

} // namespace tarn
