#pragma once

#include "mailproto/Imap4Client.h"
#include "mailproto/ImapSyncState.h"
#include "mailproto/MailboxClient.h"

#include <cstdint>
#include <deque>
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
// those numbers is forgotten, and the rest of the pass asks one message at a time. The batches
// go out ahead of their answers, as many as the bytes their answers are expected to hold allow.
//
// With a state file, a check asks only for what changed since the last one: the state holds
// the UID, size and envelope fields of every message the last check saw. Same UIDVALIDITY,
// message count and UIDNEXT (or HIGHESTMODSEQ) mean the same messages, and nothing is fetched.
// Otherwise UID SEARCH lists the messages there are now: those the state knows keep what it
// says, and only the others are fetched. Anything that does not add up (no or another
// UIDVALIDITY, a damaged state, a listing that does not match the count) makes a full pass,
// as without a state. Whatever acts on a message (flags, deletion, fetching it whole) names
// it by its UID when known, so it reaches the message the pass saw even after expunges.
class Imap4MailboxClient : public MailboxClient {
public:
    static constexpr int kBatchSize = 500;
    // Envelope batches in flight: their answers are expected to hold at most this much, at
    // first guessed, then measured per message.
    static constexpr std::size_t kMaxAnswerBytesInFlight = 4 * 1024 * 1024;
    static constexpr std::size_t kMaxBatchesInFlight = 16;
    static constexpr std::size_t kFirstGuessBytesPerMessage = 400;
    // A state larger than this is not read (a mailbox of a million messages stays below it).
    static constexpr std::size_t kMaxStateBytes = 512 * 1024 * 1024;
    // Mailboxes with more messages are not followed by a state.
    static constexpr int kMaxTrackedMessages = 500000;

    enum class Sync { Full, Unchanged, Changed };

    Imap4MailboxClient(std::unique_ptr<Imap4Client> client, std::string mailbox);

    Imap4Client& client() { return *m_client; }
    // Off: one message at a time (for comparisons).
    void setBatchingAllowed(bool allowed) { m_allowed = allowed; }
    // Where the state of this mailbox is kept, and what identifies the mailbox in it (a state
    // of another one is not used). An empty path: no state, every check is a full pass.
    void setStateFile(std::string path, std::string key);
    // How the last openMailbox went about the messages.
    Sync sync() const { return m_sync; }

    void openMailbox() override;
    int messageCount() override;
    std::int64_t mailboxTotal() override;
    bool hasIdentityListing() const override { return false; }
    void loadIdentityListing() override {}
    bool knowsOfChanges() const override { return m_changed; }
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
    struct InFlight {
        std::string tag;
        int first = 0;
        int last = 0;
    };
    // Makes sure the batch holding message i has been answered, sending batches ahead while
    // the window allows.
    void fetchBatchFor(int i);
    void fillWindow();
    // Reads the answer of the oldest batch in flight.
    void readOldestBatch();
    // Learns from an answer how many bytes a message's response takes.
    void measureAnswer(const ImapReply& reply);
    // Reads every answer still due, so that another command may go out.
    void drainBatches();
    void forgetFrom(int number);
    static IdentityFields fieldsOf(const ImapEnvelope& env);
    static MessageIdentity identityOf(const IdentityFields& fields);
    // The state's view of the mailbox just selected: Unchanged, Changed or (when it cannot
    // tell) Full.
    void syncWithState(const ImapMailboxData& box);
    // Fetches size and envelope of the messages at the given positions by UID; false when
    // the answers do not cover them all cleanly.
    bool fetchByUid(const std::vector<std::size_t>& positions);
    // Fetches UID, size and envelope of every message; false unless all came cleanly, in
    // ascending UIDs.
    bool learnAll();
    // Sends the commands ahead, within the window, and files each FETCH response at its
    // message; false unless every position given was answered cleanly.
    bool fetchAhead(const std::vector<std::string>& commands,
                    const std::vector<std::size_t>& positions);
    // The UID of message i as the pass numbers them, when known.
    std::optional<std::int64_t> uidOf(int i) const;
    void saveState();
    // Reads the state's messages when only its first lines were read; true when m_messages
    // is complete. A state that no longer reads turns the check into a full pass.
    bool ensureLoaded();
    // After our EXPUNGE: the state without the messages it removed, when its answer shows
    // they were exactly the ones this check deleted.
    void followOwnExpunge(int expungesBefore);

    std::unique_ptr<Imap4Client> m_client;
    std::string m_mailbox;
    bool m_allowed = true;
    bool m_batching = false;
    int m_last = 0;     // last message of the pass
    int m_sentUpTo = 0; // messages up to here were in a batch sent
    int m_readUpTo = 0; // messages up to here were in a batch answered
    std::deque<InFlight> m_inFlight;
    double m_bytesPerMessage = kFirstGuessBytesPerMessage;
    std::size_t m_answeredBytes = 0; // the answers read since the mailbox was opened
    std::size_t m_answeredMessages = 0;
    std::map<int, Batched> m_batched;

    std::string m_statePath;
    std::string m_stateKey;
    Sync m_sync = Sync::Full;
    bool m_changed = false;   // the state told of messages added or removed
    bool m_saveState = false; // what was learned is worth keeping
    bool m_complete = false;  // m_messages holds every message: the pass is served from it
    // Unchanged: the state's messages are read only when the pass needs them.
    bool m_pendingLoad = false;
    ImapSyncState m_head;  // the state's first lines
    ImapMailboxData m_box; // as SELECT reported it
    // The messages as the pass numbers them (message i at i - 1), as far as known.
    std::vector<std::optional<ImapSyncState::Message>> m_messages;
    // What this check flagged for deletion: by UID, or some message by number only.
    std::vector<std::int64_t> m_deletedUids;
    bool m_deletedByNumber = false;
};

} // namespace tarn
