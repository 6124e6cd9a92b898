#pragma once

#include "mailproto/MailboxClient.h"
#include "mailproto/Pop3Client.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <optional>

namespace tarn {

// A check's view of a POP3 server: identities from the "UIDL" listing, sizes from the "LIST"
// listing, headers from "TOP n 0", messages from "RETR", deletion with "DELE" (final at
// "QUIT").
//
// A server that announces PIPELINING (RFC 2449, asked with "CAPA" once per connection, when
// the first header or message is wanted) gets the headers and messages the pass expects in
// windows: the commands go out ahead of time and their answers are read in order, each read by
// the same code that reads it one at a time. Each command is followed by "LIST n", whose answer
// names n: an answer that does not is proof that the answers are out of step with the commands,
// and then nothing read from that point on is trusted (the connection is dropped, as after a
// lost connection). A window is bounded by commands and by the bytes its answers are expected
// to bring (from the size listing), so neither side's buffers fill up while the other waits.
// Deletions are never sent ahead: a "DELE" must not go out once an earlier one has failed.
class Pop3MailboxClient : public MailboxClient {
public:
    static constexpr std::size_t kMaxCommandsInFlight = 256;
    static constexpr std::size_t kMaxAnswerBytesInFlight = 512 * 1024;
    static constexpr std::size_t kMaxMessagesInFlight = 8;
    static constexpr int kLookAhead = 200;

    explicit Pop3MailboxClient(std::unique_ptr<Pop3Client> client);

    Pop3Client& client() { return *m_client; }
    // Whether this connection pipelines; nullopt until the server was asked.
    std::optional<bool> pipelining() const { return m_pipelining; }
    // Off: one command at a time whatever the server announces (for comparisons).
    void setPipeliningAllowed(bool allowed) { m_allowed = allowed; }

    void openMailbox() override;
    int messageCount() override;
    std::int64_t mailboxTotal() override;
    bool hasIdentityListing() const override { return true; }
    // A listing refused with "-ERR" is empty: every message then lacks its identity.
    void loadIdentityListing() override;
    void prepareMessages(int first, int last) override;
    int lookAhead() const override;
    void expectFetches(int i, const ExpectedFetches& what) override;
    std::optional<std::int64_t> knownSize(int i) const override;
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
    enum class Fetch { Header, Message };
    struct Pending {
        Fetch kind = Fetch::Header;
        int n = 0;
        std::uint64_t id = 0;
        bool sent = false;
        bool done = false;
        bool stale = false; // the pass has gone past its message; the answer is thrown away
        std::size_t expectedBytes = 0;
        std::vector<std::string> header;
        std::optional<Pop3Message> message;
        std::exception_ptr error;
    };

    bool usePipelining();
    void enqueue(Fetch kind, int n);
    // The answer to kind for message n: sent ahead if it was expected, else now.
    Pending take(Fetch kind, int n);
    void forgetBefore(int n);
    std::size_t indexOf(std::uint64_t id) const;
    // Sends the queued commands up to index last, then more while the window allows.
    void send(std::size_t last);
    void topUp();
    void readNext();
    // Reads every answer that is on its way (before a command that is not sent ahead).
    void drain();
    std::size_t firstUnsent() const;

    std::unique_ptr<Pop3Client> m_client;
    std::vector<std::string> m_uidListing;
    int m_count = 0;
    std::optional<bool> m_pipelining;
    bool m_allowed = true;
    std::deque<Pending> m_queue; // sent entries first, in the order they were sent
    std::uint64_t m_nextId = 1;
    int m_current = 0;
    std::exception_ptr m_broken; // what put the dialogue out of step; every later answer fails
};

} // namespace tarn
