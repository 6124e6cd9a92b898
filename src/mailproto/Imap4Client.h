#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/AccountSettings.h"
#include "mailproto/ImapResponseParser.h"
#include "mailproto/Sasl.h"
#include "mailproto/ServerLogin.h"
#include "net/LineConnection.h"

namespace tarn {

// What the last SELECT reported.
struct ImapMailboxData {
    int exists = 0; // message count
    int recent = 0;
    std::int64_t uidValidity = 0;
    std::int64_t uidNext = 0;
    int unseen = 0;                 // number of the first unseen message, 0 when not sent
    std::int64_t highestModSeq = 0; // CONDSTORE (RFC 7162); 0 when not sent
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

// The IMAP4 dialogue of a check, of an idle connection and of the account editor's mailbox
// listing. One thread uses one client. Every failure is a TarnError.
class Imap4Client : public ServerLogin {
public:
    enum class State { Any = 0, NotAuthenticated = 1, Authenticated = 2, Selected = 3 };

    static constexpr int kDefaultPort = 143;
    static constexpr int kDefaultTlsPort = 993;
    // Upper bounds on what one reply may make us hold in memory: a whole message, and any
    // other string the server sends.
    static constexpr std::size_t kMaxLiteral = 64 * 1024 * 1024;
    static constexpr std::size_t kMaxSmallLiteral = 1024 * 1024;
    static constexpr std::size_t kMaxReplyBytes = 128 * 1024 * 1024;

    // The tags of a command: the client's own series ("C1", "C2", ...), or the series of a
    // watching connection's CAPABILITY, IDLE and LOGOUT ("I1", "I2", ...), so a transcript
    // tells the watch apart from the commands around it.
    enum class Tags { Commands, Watch };
    // Receives the text of an untagged line (after "* ") that arrives during a watch.
    using UntaggedHandler = std::function<void(std::string_view text)>;

    Imap4Client(); // plain TCP
    explicit Imap4Client(std::unique_ptr<Transport> transport);
    explicit Imap4Client(std::unique_ptr<LineConnection> connection);
    ~Imap4Client();

    Imap4Client(const Imap4Client&) = delete;
    Imap4Client& operator=(const Imap4Client&) = delete;

    void setConnectTimeout(std::chrono::milliseconds t);
    void setReadTimeout(std::chrono::milliseconds t);
    // Budget of one message as FETCH i (RFC822) delivers it; a larger one closes the
    // connection (kind OverBudget).
    void setMaxMessageBytes(std::size_t bytes) { m_maxMessageBytes = bytes; }
    std::size_t maxMessageBytes() const { return m_maxMessageBytes; }
    LineConnection& connection() { return *m_conn; }

    // Greeting, the capabilities (from the greeting, else CAPABILITY), then the log-in:
    // AUTHENTICATE with a mechanism fit for the secret (SASL-IR when offered), else LOGIN. With
    // STARTTLS, CAPABILITY and STARTTLS come first: a server that does not list STARTTLS or
    // refuses it fails the connection before any secret is sent. On failure after the TCP
    // connection opened, the connection is closed before the error is raised.
    void Connect();
    // SELECT "mailbox"; needs the authenticated or selected state. With condstore the
    // command asks for CONDSTORE (RFC 7162), so that the server reports HIGHESTMODSEQ.
    const ImapMailboxData& SelectMailbox(const std::string& mailbox, bool condstore = false);
    // Connect then sends SELECT "mailbox" right behind a log-in made of one command (LOGIN, or
    // PLAIN with its initial response), so that both answers come in one round trip, and the
    // next SelectMailbox of that mailbox reads the answer instead of asking again. CONDSTORE
    // is asked for when condstore is set and the capabilities known before the log-in name
    // it. A refused log-in fails as it would alone: the SELECT's answer is never read.
    void setSelectAhead(std::string mailbox, bool condstore);
    // Whether the server named this capability in the greeting's or the login answer's
    // CAPABILITY code (no command is sent; false when it sent none).
    bool Announced(std::string_view name) const;
    // UID SEARCH ALL (the compact ESEARCH form when announced): the UIDs of the selected
    // mailbox in mailbox order. nullopt when the answer cannot be read or lists more than
    // maxCount UIDs; fails only when the command does.
    std::optional<std::vector<std::int64_t>> SearchAllUids(std::size_t maxCount);
    // UID FETCH set (items): the reply, untagged lines first; fails unless OK.
    const ImapReply& UidFetch(const std::string& set, const std::string& items);
    // UID FETCH uid (RFC822): the message with that UID.
    ImapFetchedMessage FetchMessageByUid(std::int64_t uid);
    // UID STORE uid +FLAGS.SILENT (flag).
    void AddFlagByUid(std::int64_t uid, const std::string& flag);
    // Messages removed (EXPUNGE or VANISHED announced) since the last SELECT; message numbers
    // learned before such an announcement no longer hold.
    int ExpungesSeen() const { return m_expungesSeen; }
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
    // Commands sent ahead: SendAhead writes "tag command" and returns the tag without waiting;
    // ReadAnswer reads the reply to the oldest command still unanswered, whose tag is given
    // (replies come in the order the commands went out). No other command may be sent while
    // one is unanswered. A failed read closes the connection.
    std::string SendAhead(const std::string& command);
    const ImapReply& ReadAnswer(const std::string& tag, std::size_t maxLiteral = kMaxSmallLiteral);
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

    // CAPABILITY: whether the server lists name (either case).
    bool HasCapability(std::string_view name, Tags tags = Tags::Commands);

    // The IDLE of a watching connection, under the watch tags. None of these closes the
    // connection on failure: the watcher decides whether it still says goodbye.
    //
    // IDLE: true once the server gave its go-ahead within the read time-out; false when it
    // ended the command with OK at once. Untagged lines on the way go to untagged.
    bool IdleStart(const UntaggedHandler& untagged);
    enum class IdleEnd { Renewal, EndedByServer };
    // While idling: hands on what the server announces until the renewal is due (renewal
    // after the IDLE command), or until the server ends the IDLE itself with OK. What arrives
    // is charged to floodBudget; a server that sends more floods the connection (OverBudget).
    IdleEnd IdleWait(std::chrono::milliseconds renewal, std::size_t floodBudget,
                     const UntaggedHandler& untagged);
    // DONE, and the server's OK within the read time-out.
    void IdleDone(const UntaggedHandler& untagged);
    bool idling() const { return m_idleTag.has_value(); }
    // Leaves a watching connection: DONE while idling, LOGOUT, a look at a few lines for its
    // answer, close. Never fails; the time-outs set bound it.
    void EndWatch();

    bool Connected() const;
    State state() const { return m_state; }
    static const char* stateName(State s);
    const ImapMailboxData& mailbox() const { return m_mailbox; }
    const ImapReply& lastReply() const { return m_reply; }
    static constexpr char kSeparator = '/';

private:
    void connectOnce();
    void requireState(State a, State b = State::Any) const;
    // CAPABILITY, STARTTLS and the handshake.
    void startTls();
    // CAPABILITY: the capabilities the server lists, as written.
    std::vector<std::string> capabilityList(Tags tags);
    // Proves who we are with what the capabilities allow: a SASL mechanism when one fits the
    // secret, else LOGIN (a password only, and never after LOGINDISABLED).
    void logIn(const std::vector<std::string>& capabilities);
    void authenticate(SaslExchange exchange, bool initialResponse);
    std::string nextTag(Tags tags = Tags::Commands);
    // Sends "tag command" and reads the reply; throws on any status but OK when expectOk.
    const ImapReply& sendCommand(const std::string& command, bool expectOk = true,
                                 std::size_t maxLiteral = kMaxSmallLiteral,
                                 ErrorKind refused = ErrorKind::ServerError,
                                 Tags tags = Tags::Commands);
    // Writes line (unless empty) and reads the reply tagged tag; throws on any status but OK
    // when expectOk. A failed write or read closes the connection.
    const ImapReply& writeAndRead(const std::string& tag, const std::string& line, bool expectOk,
                                  std::size_t maxLiteral, ErrorKind refused);
    // The log-in line with the SELECT asked for by setSelectAhead behind it, when one goes.
    std::string withSelectAhead(std::string loginLine);
    // Reads and drops the answer of a SELECT sent ahead and not asked for since, so that the
    // next reply read is the next command's.
    void settleSelectAhead();
    void readReply(const std::string& tag, std::size_t maxLiteral);
    // One trimmed, non-empty line with the literals it announces appended in wire form;
    // what arrives is charged to budget, and overBudget says why when it runs out.
    std::string readLogicalLine(std::size_t maxLiteral, std::size_t& budget,
                                const char* overBudget = "The IMAP4 reply is too large.");
    // A line of the watch: untagged ones go to untagged (nullopt back), others come back.
    std::optional<std::string> readWatchLine(std::size_t& budget, const UntaggedHandler& untagged);
    // The status word of the IDLE's tagged answer; anything else fails the watch.
    std::string idleStatus(const std::string& line) const;
    void closeQuietly();
    // The message of the first FETCH response that matches, split into header and body.
    ImapFetchedMessage fetchedMessage(const std::string& what,
                                      const std::function<bool(const ImapFetchResponse&)>& match);
    // Keeps the capabilities named by a CAPABILITY response code in a status line.
    void noteCapabilities(const std::string& statusText);
    static void checkArgument(const std::string& value, const char* what);

    std::unique_ptr<LineConnection> m_conn;
    long long m_tagCounter = 0;
    long long m_watchTagCounter = 0;
    std::optional<std::string> m_idleTag; // while an IDLE runs
    State m_state = State::NotAuthenticated;
    ImapMailboxData m_mailbox;
    ImapReply m_reply;
    bool m_sawBye = false;
    std::size_t m_maxMessageBytes = kMaxLiteral;
    std::vector<std::string> m_announced;
    int m_expungesSeen = 0;
    std::optional<std::string> m_selectAheadMailbox; // asked for by setSelectAhead
    bool m_selectAheadCondstore = false;
    std::optional<std::string> m_selectAheadTag; // sent ahead, its answer not read yet
    std::string m_selectAheadSent;               // the mailbox it selects
};

} // namespace tarn
