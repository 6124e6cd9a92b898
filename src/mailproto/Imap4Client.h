#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/AccountSettings.h"
#include "mailproto/ImapResponseParser.h"
#include "net/LineConnection.h"

namespace tarn {

// What the last SELECT reported.
struct ImapMailboxData {
    int exists = 0; // message count
    int recent = 0;
    std::int64_t uidValidity = 0;
    std::int64_t uidNext = 0;
    int unseen = 0; // number of the first unseen message, 0 when not sent
    std::vector<std::string> flags;
    std::vector<std::string> permanentFlags;
    bool readOnly = false;
    std::string alert;
};

// A message as FETCH i (RFC822) delivered it, split the way the header decoder reads it.
struct ImapFetchedMessage {
    std::vector<std::string> headerLines; // up to the first empty line, which is not kept
    bool hasBody = false;                 // the header ended with an empty line
    std::vector<std::string> bodyLines;   // everything after that empty line, unchanged
    std::vector<std::string> flags;       // from a FETCH line of this message with FLAGS
};

// The last reply: status word and text lines (untagged lines without "* ", then the text of
// the tagged line after its status word).
struct ImapReply {
    std::string status;
    std::vector<std::string> lines;

    std::string text() const;
};

// The IMAP4 dialogue of a check (and of the account editor's mailbox listing). One thread
// uses one client. Every failure is a TarnError.
class Imap4Client {
public:
    enum class State { Any = 0, NotAuthenticated = 1, Authenticated = 2, Selected = 3 };

    static constexpr int kDefaultPort = 143;
    static constexpr int kDefaultTlsPort = 993;
    // Upper bounds on what one reply may make us hold in memory: a whole message, and any
    // other string the server sends.
    static constexpr std::size_t kMaxLiteral = 64 * 1024 * 1024;
    static constexpr std::size_t kMaxSmallLiteral = 1024 * 1024;
    static constexpr std::size_t kMaxReplyBytes = 128 * 1024 * 1024;

    Imap4Client(); // plain TCP
    explicit Imap4Client(std::unique_ptr<Transport> transport);
    explicit Imap4Client(std::unique_ptr<LineConnection> connection);
    ~Imap4Client();

    Imap4Client(const Imap4Client&) = delete;
    Imap4Client& operator=(const Imap4Client&) = delete;

    void setHost(std::string host) { m_host = std::move(host); }
    void setPort(int port) { m_port = port; }
    void setUser(std::string user) { m_user = std::move(user); }
    void setPassword(std::string password) { m_password = std::move(password); }
    // TLS from the first byte, or STARTTLS after the greeting; pin: see TlsTransport.
    void setSecurity(ConnectionSecurity security, std::string pin = {}) {
        m_security = security;
        m_pin = std::move(pin);
    }
    void setConnectTimeout(std::chrono::milliseconds t);
    void setReadTimeout(std::chrono::milliseconds t);
    // Budget of one message as FETCH i (RFC822) delivers it; a larger one closes the
    // connection (kind OverBudget).
    void setMaxMessageBytes(std::size_t bytes) { m_maxMessageBytes = bytes; }
    std::size_t maxMessageBytes() const { return m_maxMessageBytes; }
    LineConnection& connection() { return *m_conn; }

    // Greeting, then LOGIN. With STARTTLS, CAPABILITY and STARTTLS come first: a server that
    // does not list STARTTLS or refuses it fails the connection before LOGIN is sent. On
    // failure after the TCP connection opened, the connection is closed before the error is
    // raised.
    void Connect();
    // SELECT "mailbox"; needs the authenticated or selected state.
    const ImapMailboxData& SelectMailbox(const std::string& mailbox);
    // The count the last SELECT reported.
    int MessageCount() const;
    // FETCH 1:n (RFC822.SIZE): the sum of the sizes, 0 when n < 1 or the reply does not have
    // the expected form.
    std::int64_t MailboxTotal();
    // FETCH i (RFC822.SIZE): the size, -1 when the reply does not have the expected form.
    std::int64_t MessageSize(int i);
    // FETCH i (ENVELOPE).
    ImapEnvelope FetchEnvelope(int i);
    // FETCH first:last (items): the reply, untagged lines first; fails unless OK.
    const ImapReply& FetchRange(int first, int last, const std::string& items);
    // FETCH i (RFC822).
    ImapFetchedMessage FetchMessage(int i);
    // STORE i +FLAGS.SILENT (flag).
    void AddFlag(int i, const std::string& flag);
    // Marks message i for deletion: flag \Seen, then \Deleted. Takes effect at Expunge.
    void DeleteMessage(int i);
    void Expunge();
    // LIST "" "p/%" for each parent p ("%" for an empty p: the top level); the names found,
    // in order.
    std::vector<std::string> ListMailboxes(const std::vector<std::string>& parents);
    // LOGOUT, then close. Fails when the connection is not open; closes it in any case.
    void Disconnect();

    bool Connected() const;
    State state() const { return m_state; }
    static const char* stateName(State s);
    const ImapMailboxData& mailbox() const { return m_mailbox; }
    const ImapReply& lastReply() const { return m_reply; }
    static constexpr char kSeparator = '/';

private:
    void requireState(State a, State b = State::Any) const;
    // CAPABILITY, STARTTLS and the handshake.
    void startTls();
    std::string nextTag();
    // Sends "tag command" and reads the reply; throws on any status but OK when expectOk.
    const ImapReply& sendCommand(const std::string& command, bool expectOk = true,
                                 std::size_t maxLiteral = kMaxSmallLiteral,
                                 ErrorKind refused = ErrorKind::ServerError);
    void readReply(const std::string& tag, std::size_t maxLiteral);
    // One trimmed, non-empty line with the literals it announces appended in wire form.
    std::string readLogicalLine(std::size_t maxLiteral, std::size_t& budget);
    void closeQuietly();
    static void checkArgument(const std::string& value, const char* what);

    std::unique_ptr<LineConnection> m_conn;
    std::string m_host;
    int m_port = kDefaultPort;
    std::string m_user;
    std::string m_password;
    ConnectionSecurity m_security = ConnectionSecurity::None;
    std::string m_pin;
    long long m_tagCounter = 0;
    State m_state = State::NotAuthenticated;
    ImapMailboxData m_mailbox;
    ImapReply m_reply;
    bool m_sawBye = false;
    std::size_t m_maxMessageBytes = kMaxLiteral;
};

} // namespace tarn
