#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/AccountSettings.h"
#include "mailproto/Sasl.h"
#include "mailproto/ServerLogin.h"
#include "net/LineConnection.h"

namespace tarn {

// The last reply the client read.
struct Pop3Reply {
    enum class Status { None, Ok, Error };
    Status status = Status::None;
    std::string statusWord;             // "+OK", "-ERR" (as the server wrote it)
    std::vector<std::string> textLines; // each reply line from its fifth character on
    std::string text() const;           // the text lines joined with "\n"
};

// A message as "RETR" delivered it: raw header lines (empty lines left out) and the
// dot-unstuffed body lines. hasBody is false when the header ran into the "." line.
struct Pop3Message {
    std::vector<std::string> headerLines;
    std::vector<std::string> bodyLines;
    bool hasBody = false;
};

// The check worker's side of a POP3 dialogue over one connection. Blocking; used by one
// thread. Every failure is a TarnError whose text is the server's reply text where there is
// one. Header and body come back as raw lines; turning them into fields and body text is
// the message decoder's job.
//
// What a server sends is budgeted: a header ("TOP") up to kMaxHeaderBytes, a message ("RETR")
// up to maxMessageBytes(), the size and unique-id listings up to kMaxListingLines lines and
// kMaxListingBytes bytes. A header or message over its budget is read to its end and thrown
// away, so the dialogue stays in step and only that fetch fails; a listing over its budget
// closes the connection. Either way the error's kind is OverBudget.
class Pop3Client : public ServerLogin {
public:
    static constexpr int kDefaultPort = 110;
    static constexpr int kDefaultTlsPort = 995;
    static constexpr std::size_t kMaxHeaderBytes = 1024 * 1024;
    static constexpr std::size_t kMaxMessageBytes = 64 * 1024 * 1024;
    static constexpr std::size_t kMaxListingLines = 250000;
    static constexpr std::size_t kMaxListingBytes = 32 * 1024 * 1024;

    explicit Pop3Client(std::unique_ptr<LineConnection> connection = nullptr);
    ~Pop3Client(); // closes without "QUIT": deletions take effect only through Disconnect
    Pop3Client(const Pop3Client&) = delete;
    Pop3Client& operator=(const Pop3Client&) = delete;

    // Budget of one message as "RETR" delivers it, line ends included.
    void setMaxMessageBytes(std::size_t bytes) { m_maxMessageBytes = bytes; }
    std::size_t maxMessageBytes() const { return m_maxMessageBytes; }

    // Greeting, "CAPA", then "AUTH" with a mechanism fit for the secret when CAPA lists one
    // under "SASL", else "USER" and "PASS"; with STARTTLS "STLS" and the handshake come before
    // "CAPA", and a server that refuses "STLS" fails the connection before any credential is
    // sent.
    // On a failure after the TCP connection was opened it runs Disconnect and rethrows.
    void Connect();
    // "STAT": the count before the first space of the text; 0 when there is no text.
    int MessageCount();
    // "LIST": the sum of the sizes of the listing; -1 when anything fails.
    std::int64_t MailboxTotal();
    // The size of each message (index 0 is message 1) from the last "LIST", when its lines
    // numbered the messages 1, 2, ... in order and nothing failed; empty otherwise.
    const std::vector<std::int64_t>& ListedSizes() const { return m_listedSizes; }
    // "CAPA": the capability lines (RFC 2449); empty on "-ERR" or a listing over its budget.
    std::vector<std::string> Capabilities();
    // "UIDL": the listing lines ("n uid", dot-unstuffed); empty on "-ERR".
    std::vector<std::string> UniqueIdListing();
    // "LIST n": the size; -1 when the reply carries no number there.
    std::int64_t MessageSize(int n);
    // "TOP n 0": the raw header lines, empty lines left out.
    std::vector<std::string> FetchHeader(int n);
    // "RETR n": the message, or nothing on "-ERR".
    std::optional<Pop3Message> FetchMessage(int n);
    // "DELE n".
    void DeleteMessage(int n);

    // Pipelining (the commands are written by the caller): the readers of the answers, each
    // reading exactly what the one-at-a-time operation reads after its command.
    std::vector<std::string> ReadHeaderAnswer(int n);
    std::optional<Pop3Message> ReadMessageAnswer(int n);
    // The answer to "LIST n": true when it is "+OK" for message n.
    bool ReadSizeAnswerFor(int n);
    // Sends "QUIT" if connected, without reading the answer, and closes in any case. Throws
    // (after closing) only when "QUIT" could not be sent.
    void Disconnect();
    bool Connected() const;

    const Pop3Reply& LastReply() const { return m_reply; }
    LineConnection& connection() { return *m_connection; }

private:
    void connectOnce();
    // CAPA, then AUTH with a mechanism fit for the secret, else USER and PASS (a password
    // only).
    void logIn();
    void authenticate(SaslExchange exchange);
    // Writes the command and reads one reply; throws on "-ERR" when ok is required, with
    // the kind given.
    const Pop3Reply& sendCmd(const std::string& command, bool requireOk,
                             ErrorKind refused = ErrorKind::ServerError);
    const Pop3Reply& readReply(bool requireOk, ErrorKind refused = ErrorKind::ServerError);
    std::string readTrimmedNonEmpty();
    // Lines up to the "." line, charged to budget (bytes, line ends included) and at most
    // maxLines of them; what tells the error what was too large.
    struct Budget {
        Budget(std::size_t bytes, std::size_t lines, bool close, std::string what)
            : maxBytes(bytes), maxLines(lines), bytes(bytes), lines(lines),
              closeWhenExceeded(close), what(std::move(what)) {}
        std::size_t maxBytes;
        std::size_t maxLines;
        std::size_t bytes;      // left
        std::size_t lines;      // left
        bool closeWhenExceeded; // a listing: close; a message: read on to its end
        std::string what;
    };
    std::vector<std::string> readListing(bool unstuff, Budget& budget);
    void charge(Budget& budget, std::size_t lineLength);

    std::unique_ptr<LineConnection> m_connection;
    Pop3Reply m_reply;
    std::size_t m_maxMessageBytes = kMaxMessageBytes;
    std::vector<std::int64_t> m_listedSizes;
};

} // namespace tarn
