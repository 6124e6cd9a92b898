#include "mailproto/Imap4Client.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <string_view>

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "net/TlsTransport.h"

namespace tarn {

namespace {

// Numbers the server sends are read up to 18 digits, so sums of them cannot overflow.
constexpr std::uint64_t kMaxNumber = 999999999999999999;

// An atom holding a decimal number of at most max.
template <typename Int> std::optional<Int> numberOf(const ImapValue& v, Int max) {
    if (v.kind != ImapValue::Kind::Atom) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> n =
        parseDecimal(v.text, std::min<std::uint64_t>(kMaxNumber, static_cast<std::uint64_t>(max)));
    if (!n) {
        return std::nullopt;
    }
    return static_cast<Int>(*n);
}

std::vector<std::string> textsOf(const ImapValue& list) {
    std::vector<std::string> out;
    for (const ImapValue& item : list.items) {
        out.push_back(item.text);
    }
    return out;
}

bool isStatusWord(const ImapValue& v) {
    return v.is("OK") || v.is("NO") || v.is("BAD") || v.is("PREAUTH") || v.is("BYE");
}

// The response code of a status line ("OK [UIDNEXT 4392] Predicted next UID", or the text of
// a tagged line after its status word): its name upper-cased, its arguments and the free text
// after it.
struct ResponseCode {
    std::string name;
    std::vector<ImapValue> args;
    std::string_view text;
};

std::optional<ResponseCode> responseCodeOf(std::string_view line, bool tagged) {
    std::size_t rest = 0;
    const std::vector<ImapValue> v =
        ImapResponseParser::parseLeadingValues(line, tagged ? 1 : 2, &rest);
    const ImapValue* code = nullptr;
    if (tagged && v.size() == 1) {
        code = &v[0];
    } else if (!tagged && v.size() == 2 && isStatusWord(v[0])) {
        code = &v[1];
    }
    if (code == nullptr || code->kind != ImapValue::Kind::Atom || code->text.size() < 2 ||
        code->text.front() != '[' || code->text.back() != ']') {
        return std::nullopt;
    }
    std::vector<ImapValue> inner = ImapResponseParser::parseValues(
        std::string_view(code->text).substr(1, code->text.size() - 2));
    if (inner.empty() || inner[0].kind != ImapValue::Kind::Atom) {
        return std::nullopt;
    }
    ResponseCode out;
    out.name = upperAsciiCopy(inner[0].text);
    out.args.assign(std::make_move_iterator(inner.begin() + 1),
                    std::make_move_iterator(inner.end()));
    out.text = trimLeftSpaceTab(line.substr(rest));
    return out;
}

std::string quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

} // namespace

std::string ImapReply::text() const {
    std::string out;
    for (const std::string& l : lines) {
        if (!out.empty()) {
            out += '\n';
        }
        out += l;
    }
    return out;
}

Imap4Client::Imap4Client()
    : ServerLogin(kDefaultPort), m_conn(std::make_unique<LineConnection>()) {}

Imap4Client::Imap4Client(std::unique_ptr<Transport> transport)
    : ServerLogin(kDefaultPort), m_conn(std::make_unique<LineConnection>(std::move(transport))) {}

Imap4Client::Imap4Client(std::unique_ptr<LineConnection> connection)
    : ServerLogin(kDefaultPort),
      m_conn(connection ? std::move(connection) : std::make_unique<LineConnection>()) {}

Imap4Client::~Imap4Client() = default;

void Imap4Client::setConnectTimeout(std::chrono::milliseconds t) {
    m_conn->setConnectTimeout(t);
}

void Imap4Client::setReadTimeout(std::chrono::milliseconds t) {
    m_conn->setReadTimeout(t);
}

const char* Imap4Client::stateName(State s) {
    switch (s) {
    case State::Any:
        return "any";
    case State::NotAuthenticated:
        return "not authenticated";
    case State::Authenticated:
        return "authenticated";
    case State::Selected:
        return "selected";
    }
    return "unknown";
}

bool Imap4Client::Connected() const {
    return m_conn->Connected();
}

void Imap4Client::requireState(State a, State b) const {
    if (m_state == a || (b != State::Any && m_state == b)) {
        return;
    }
    std::string msg =
        "Unable to execute command, wrong connection state;Current connection state: ";
    msg += stateName(m_state);
    msg += '.';
    throw TarnError(msg);
}

void Imap4Client::checkArgument(const std::string& value, const char* what) {
    // A line break would end the command early and smuggle in another one.
    if (value.find_first_of("\r\n") != std::string::npos || value.find('\0') != std::string::npos) {
        throw TarnError(ErrorKind::LocalError,
                        std::string("The IMAP4 ") + what + " contains a line break.");
    }
}

std::string Imap4Client::nextTag(Tags tags) {
    if (tags == Tags::Watch) {
        return "I" + std::to_string(++m_watchTagCounter);
    }
    return "C" + std::to_string(++m_tagCounter);
}

void Imap4Client::closeQuietly() {
    try {
        m_conn->Disconnect();
    } catch (const std::exception&) {
        // closing is best effort
    }
    m_state = State::NotAuthenticated;
    m_selectAheadTag.reset();
}

void Imap4Client::setSelectAhead(std::string mailbox, bool condstore) {
    m_selectAheadMailbox = std::move(mailbox);
    m_selectAheadCondstore = condstore;
}

std::string Imap4Client::withSelectAhead(std::string loginLine) {
    // A mailbox name that cannot go out is refused by SelectMailbox, as without this.
    if (!m_selectAheadMailbox || m_selectAheadMailbox->empty() ||
        m_selectAheadMailbox->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
        return loginLine;
    }
    const std::string tag = nextTag();
    loginLine += "\r\n" + tag + " SELECT " + quote(*m_selectAheadMailbox) +
                 (m_selectAheadCondstore && Announced("CONDSTORE") ? " (CONDSTORE)" : "");
    m_selectAheadTag = tag;
    m_selectAheadSent = *m_selectAheadMailbox;
    return loginLine;
}

void Imap4Client::settleSelectAhead() {
    if (!m_selectAheadTag) {
        return;
    }
    const std::string tag = *m_selectAheadTag;
    m_selectAheadTag.reset();
    writeAndRead(tag, std::string(), false, kMaxSmallLiteral, ErrorKind::ServerError);
    // Whatever it said, the mailbox selected is not one this client asked for since.
    m_mailbox = {};
    if (m_state == State::Selected) {
        m_state = State::Authenticated;
    }
}

void Imap4Client::Connect() {
    renewingToken([this] { connectOnce(); });
}

void Imap4Client::connectOnce() {
    if (m_conn->Connected()) {
        throw TarnError("Already connected.");
    }
    checkArgument(m_user, "user name");
    checkArgument(m_password, "password");
    m_tokenRefused = false;
    checkSecuritySettings(m_security, m_pin);
    m_state = State::NotAuthenticated;
    m_mailbox = {};
    m_reply = {};
    m_tagCounter = 0;
    m_watchTagCounter = 0;
    m_idleTag.reset();
    m_announced.clear();
    m_expungesSeen = 0;
    m_selectAheadTag.reset();
    m_conn->Connect(m_host, m_port);

    bool greeted = false;
    try {
        if (m_security == ConnectionSecurity::Tls) {
            m_conn->StartTls(m_pin);
        }
        std::size_t budget = kMaxReplyBytes;
        const std::string greeting = readLogicalLine(kMaxSmallLiteral, budget);
        const std::string head =
            upperAsciiCopy(trimSpaceTab(std::string_view(greeting).substr(0, 4)));
        const std::string text =
            greeting.size() > 4 ? std::string(trimLeftSpaceTab(greeting.substr(4))) : "";
        m_reply.lines = {text};
        if (head == "* OK") {
            m_reply.status = "OK";
        } else if (head == "* NO") {
            m_reply.status = "NO";
            throw TarnError(ErrorKind::ServerError,
                            text.empty() ? "The IMAP4 server refused the connection." : text);
        } else {
            throw TarnError(ErrorKind::ProtocolError, "Unrecognized IMAP4 Response Header.");
        }
        greeted = true;
        noteCapabilities(text);
        m_tagCounter = 0;
        // Most servers list their capabilities in the greeting; after STARTTLS the list
        // from before the handshake no longer counts (RFC 3501, 6.2.1).
        std::optional<std::vector<std::string>> capabilities;
        if (const std::optional<ResponseCode> code =
                responseCodeOf(text.empty() ? "" : "OK " + text, false);
            code && code->name == "CAPABILITY") {
            capabilities.emplace();
            for (const ImapValue& v : code->args) {
                capabilities->push_back(v.text);
            }
        }
        if (m_security == ConnectionSecurity::StartTls) {
            startTls();
            capabilities.reset();
        }
        // Over an unencrypted connection LOGINDISABLED must be known before any secret
        // goes out, and a token needs the server's mechanisms; a password inside TLS may
        // go with LOGIN without asking.
        if (!capabilities && (m_security == ConnectionSecurity::None || m_accessToken)) {
            capabilities = capabilityList(Tags::Commands);
        }
        if (!capabilities) {
            capabilities.emplace();
        }
        m_announced = *capabilities;
        logIn(*capabilities);
        // What the server can do may change with the log-in; its answer says so at no cost.
        for (std::size_t k = 0; k < m_reply.lines.size(); ++k) {
            const std::string& line = m_reply.lines[k];
            if (k + 1 == m_reply.lines.size()) {
                noteCapabilities(line);
            } else if (startsWithNoCase(line, "CAPABILITY ")) {
                noteCapabilities("[" + line + "]");
            }
        }
        m_state = State::Authenticated;
    } catch (...) {
        if (greeted && m_conn->Connected()) {
            try {
                m_conn->WriteLn(nextTag() + " LOGOUT");
            } catch (const std::exception&) {
                // the connection is being dropped anyway
            }
        }
        closeQuietly();
        throw;
    }
}

void Imap4Client::startTls() {
    // The capability list comes in clear and proves nothing, but a server that does not name
    // STARTTLS there will not switch, and then no password may follow.
    if (!HasCapability("STARTTLS")) {
        throw TarnError(ErrorKind::TlsError, kNoStartTls + ".");
    }
    sendCommand("STARTTLS", false);
    if (m_reply.status != "OK") {
        const std::string text = m_reply.text();
        throw TarnError(ErrorKind::TlsError,
                        kNoStartTls + (text.empty() ? "." : " (" + text + ")."));
    }
    m_conn->StartTls(m_pin);
}

const ImapMailboxData& Imap4Client::SelectMailbox(const std::string& mailbox, bool condstore) {
    requireState(State::Authenticated, State::Selected);
    checkArgument(mailbox, "mailbox name");
    // Whatever happens, the previously selected mailbox is no longer selected.
    m_state = State::Authenticated;
    m_mailbox = {};
    if (m_selectAheadTag && m_selectAheadSent == mailbox) {
        const std::string tag = *m_selectAheadTag;
        m_selectAheadTag.reset();
        writeAndRead(tag, std::string(), true, kMaxSmallLiteral, ErrorKind::ServerError);
    } else {
        sendCommand("SELECT " + quote(mailbox) + (condstore ? " (CONDSTORE)" : ""));
    }
    m_expungesSeen = 0;

    ImapMailboxData data;
    for (std::size_t k = 0; k < m_reply.lines.size(); ++k) {
        const std::string& line = m_reply.lines[k];
        const bool tagged = k + 1 == m_reply.lines.size();
        // A line that does not parse tells nothing about the mailbox; the rest still counts.
        try {
            const std::vector<ImapValue> v = ImapResponseParser::parseLeadingValues(line, 2);
            if (!tagged && v.size() == 2) {
                if (const std::optional<int> n = numberOf(v[0], std::numeric_limits<int>::max())) {
                    if (v[1].is("EXISTS")) {
                        data.exists = *n;
                    } else if (v[1].is("RECENT")) {
                        data.recent = *n;
                    }
                } else if (v[0].is("FLAGS") && v[1].isList()) {
                    data.flags = textsOf(v[1]);
                }
            }
            const std::optional<ResponseCode> code = responseCodeOf(line, tagged);
            if (!code) {
                continue;
            }
            const ImapValue* arg = code->args.empty() ? nullptr : &code->args[0];
            constexpr auto kMaxInt = std::numeric_limits<int>::max();
            constexpr auto kMaxInt64 = std::numeric_limits<std::int64_t>::max();
            if (code->name == "UIDVALIDITY" && arg) {
                data.uidValidity = numberOf(*arg, kMaxInt64).value_or(data.uidValidity);
            } else if (code->name == "UIDNEXT" && arg) {
                data.uidNext = numberOf(*arg, kMaxInt64).value_or(data.uidNext);
            } else if (code->name == "HIGHESTMODSEQ" && arg) {
                data.highestModSeq = numberOf(*arg, kMaxInt64).value_or(data.highestModSeq);
            } else if (code->name == "UNSEEN" && arg) {
                data.unseen = numberOf(*arg, kMaxInt).value_or(data.unseen);
            } else if (code->name == "PERMANENTFLAGS" && arg && arg->isList()) {
                data.permanentFlags = textsOf(*arg);
            } else if (code->name == "READ-WRITE") {
                data.readOnly = false;
            } else if (code->name == "READ-ONLY") {
                data.readOnly = true;
            } else if (code->name == "ALERT") {
                data.alert = std::string(code->text);
            }
        } catch (const TarnError&) {
            continue;
        }
    }
    m_mailbox = std::move(data);
    m_state = State::Selected;
    return m_mailbox;
}

int Imap4Client::MessageCount() const {
    requireState(State::Selected);
    return m_mailbox.exists;
}

std::int64_t Imap4Client::MailboxTotal() {
    requireState(State::Selected);
    const int n = m_mailbox.exists;
    if (n < 1) {
        return 0;
    }
    sendCommand("FETCH 1:" + std::to_string(n) + " (RFC822.SIZE)");
    // Every untagged line must be the size of the next message, in order, and nothing else.
    const std::size_t untagged = m_reply.lines.size() - 1;
    if (untagged != static_cast<std::size_t>(n)) {
        return 0;
    }
    std::int64_t total = 0;
    for (int k = 1; k <= n; ++k) {
        const std::string& line = m_reply.lines[k - 1];
        std::optional<ImapFetchResponse> f;
        try {
            f = ImapResponseParser::parseFetch(line);
        } catch (const TarnError&) {
            return 0;
        }
        if (!f || f->number != k || f->items.size() != 1 ||
            !equalsNoCase(f->items[0].first, "RFC822.SIZE")) {
            return 0;
        }
        const ImapValue& value = f->items[0].second;
        const std::optional<std::int64_t> s =
            numberOf(value, std::numeric_limits<std::int64_t>::max());
        // Only a listing laid out exactly as asked is trusted for the total; a server that
        // words it otherwise is asked message by message.
        if (!s ||
            !equalsNoCase(line, std::to_string(k) + " FETCH (RFC822.SIZE " + value.text + ")")) {
            return 0;
        }
        const std::int64_t size = *s;
        if (total > std::numeric_limits<std::int64_t>::max() - size) {
            return 0;
        }
        total += size;
    }
    return total;
}

std::int64_t Imap4Client::MessageSize(int i) {
    requireState(State::Selected);
    if (i < 1) {
        throw TarnError("Message number " + std::to_string(i) + " is out of range.");
    }
    sendCommand("FETCH " + std::to_string(i) + " (RFC822.SIZE)");
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        std::optional<ImapFetchResponse> f;
        try {
            f = ImapResponseParser::parseFetch(m_reply.lines[k]);
        } catch (const TarnError&) {
            return -1;
        }
        if (!f || f->number != i) {
            continue;
        }
        const ImapValue* v = f->find("RFC822.SIZE");
        const std::optional<std::int64_t> size =
            v ? numberOf(*v, std::numeric_limits<std::int64_t>::max()) : std::nullopt;
        return size.value_or(-1);
    }
    return -1;
}

ImapEnvelope Imap4Client::FetchEnvelope(int i) {
    requireState(State::Selected);
    if (i < 1) {
        throw TarnError("Message number " + std::to_string(i) + " is out of range.");
    }
    sendCommand("FETCH " + std::to_string(i) + " (ENVELOPE)");
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::optional<ImapFetchResponse> f = ImapResponseParser::parseFetch(m_reply.lines[k]);
        if (!f || f->number != i) {
            continue;
        }
        if (const ImapValue* v = f->find("ENVELOPE")) {
            return ImapResponseParser::parseEnvelope(*v);
        }
    }
    throw TarnError(ErrorKind::ProtocolError,
                    "The IMAP4 server sent no envelope for message " + std::to_string(i) + ".");
}

const ImapReply& Imap4Client::FetchRange(int first, int last, const std::string& items) {
    requireState(State::Selected);
    if (first < 1 || last < first) {
        throw TarnError("Message range " + std::to_string(first) + ":" + std::to_string(last) +
                        " is out of range.");
    }
    checkArgument(items, "fetch item");
    return sendCommand("FETCH " + std::to_string(first) + ":" + std::to_string(last) + " (" +
                       items + ")");
}

ImapFetchedMessage Imap4Client::FetchMessage(int i) {
    requireState(State::Selected);
    if (i < 1) {
        throw TarnError("Message number " + std::to_string(i) + " is out of range.");
    }
    sendCommand("FETCH " + std::to_string(i) + " (RFC822)", true, m_maxMessageBytes);
    return fetchedMessage("message " + std::to_string(i),
                          [i](const ImapFetchResponse& f) { return f.number == i; });
}

ImapFetchedMessage Imap4Client::FetchMessageByUid(std::int64_t uid) {
    requireState(State::Selected);
    if (uid < 1) {
        throw TarnError("UID " + std::to_string(uid) + " is out of range.");
    }
    const std::string text = std::to_string(uid);
    sendCommand("UID FETCH " + text + " (RFC822)", true, m_maxMessageBytes);
    return fetchedMessage("the message with UID " + text, [&text](const ImapFetchResponse& f) {
        const ImapValue* v = f.find("UID");
        return v != nullptr && v->kind == ImapValue::Kind::Atom && v->text == text;
    });
}

ImapFetchedMessage
Imap4Client::fetchedMessage(const std::string& what,
                            const std::function<bool(const ImapFetchResponse&)>& match) {
    ImapFetchedMessage msg;
    bool found = false;
    std::string raw;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::optional<ImapFetchResponse> f = ImapResponseParser::parseFetch(m_reply.lines[k]);
        if (!f || !match(*f)) {
            continue;
        }
        if (const ImapValue* flags = f->find("FLAGS"); flags != nullptr && flags->isList()) {
            msg.flags.clear();
            for (const ImapValue& fl : flags->items) {
                msg.flags.push_back(fl.text);
            }
        }
        if (const ImapValue* v = f->find("RFC822")) {
            if (v->kind != ImapValue::Kind::String && !v->isNil()) {
                throw TarnError(ErrorKind::ProtocolError,
                                "The IMAP4 server sent " + what + " in an unreadable form.");
            }
            raw = v->text;
            found = true;
        }
    }
    // The literal is no longer needed; do not keep a second copy of a large message.
    m_reply.lines.erase(m_reply.lines.begin(), m_reply.lines.end() - 1);
    if (!found) {
        throw TarnError(ErrorKind::ProtocolError,
                        "The IMAP4 server sent no message data for " + what + ".");
    }

    // Lines end at LF, a CR before it is dropped; the first empty line ends the header.
    std::size_t pos = 0;
    bool inHeader = true;
    while (pos < raw.size()) {
        std::size_t nl = raw.find('\n', pos);
        std::string_view line;
        if (nl == std::string::npos) {
            line = std::string_view(raw).substr(pos);
            pos = raw.size();
        } else {
            line = std::string_view(raw).substr(pos, nl - pos);
            pos = nl + 1;
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (inHeader) {
            if (line.empty()) {
                inHeader = false;
                msg.hasBody = true;
            } else {
                msg.headerLines.emplace_back(line);
            }
        } else {
            msg.bodyLines.emplace_back(line);
        }
    }
    return msg;
}

void Imap4Client::AddFlag(int i, const std::string& flag) {
    requireState(State::Selected);
    checkArgument(flag, "flag");
    sendCommand("STORE " + std::to_string(i) + " +FLAGS.SILENT (" + flag + ")");
}

void Imap4Client::AddFlagByUid(std::int64_t uid, const std::string& flag) {
    requireState(State::Selected);
    checkArgument(flag, "flag");
    if (uid < 1) {
        throw TarnError("UID " + std::to_string(uid) + " is out of range.");
    }
    sendCommand("UID STORE " + std::to_string(uid) + " +FLAGS.SILENT (" + flag + ")");
}

bool Imap4Client::Announced(std::string_view name) const {
    return std::any_of(m_announced.begin(), m_announced.end(),
                       [name](const std::string& c) { return equalsNoCase(c, name); });
}

void Imap4Client::noteCapabilities(const std::string& statusText) {
    try {
        const std::optional<ResponseCode> code = responseCodeOf(statusText, true);
        if (!code || code->name != "CAPABILITY") {
            return;
        }
        m_announced.clear();
        for (const ImapValue& v : code->args) {
            if (v.kind == ImapValue::Kind::Atom) {
                m_announced.push_back(v.text);
            }
        }
    } catch (const TarnError&) {
        // a code we cannot read announces nothing
    }
}

namespace {

// Adds the UIDs of an ESEARCH sequence set ("1:5,7") to out, up to maxCount of them; false
// when the set does not read or holds more.
bool appendUidSet(std::string_view set, std::size_t maxCount, std::vector<std::int64_t>& out) {
    std::size_t from = 0;
    while (from <= set.size()) {
        std::size_t comma = set.find(',', from);
        if (comma == std::string_view::npos) {
            comma = set.size();
        }
        const std::string_view part = set.substr(from, comma - from);
        const std::size_t colon = part.find(':');
        const std::optional<std::uint64_t> a = parseDecimal(part.substr(0, colon), kMaxNumber);
        std::optional<std::uint64_t> b = a;
        if (colon != std::string_view::npos) {
            b = parseDecimal(part.substr(colon + 1), kMaxNumber);
        }
        if (!a || !b || *a < 1 || *b < 1) {
            return false;
        }
        const std::uint64_t lo = std::min(*a, *b);
        const std::uint64_t hi = std::max(*a, *b);
        if (hi - lo >= maxCount - std::min(maxCount, out.size())) {
            return false;
        }
        for (std::uint64_t u = lo; u <= hi; ++u) {
            out.push_back(static_cast<std::int64_t>(u));
        }
        from = comma + 1;
    }
    return true;
}

} // namespace

std::optional<std::vector<std::int64_t>> Imap4Client::SearchAllUids(std::size_t maxCount) {
    requireState(State::Selected);
    const bool esearch = Announced("ESEARCH");
    sendCommand(esearch ? "UID SEARCH RETURN (ALL) ALL" : "UID SEARCH ALL");
    std::vector<std::int64_t> uids;
    bool answered = false;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::string& line = m_reply.lines[k];
        const bool plain = startsWithNoCase(line, "SEARCH") && (line.size() == 6 || line[6] == ' ');
        const bool extended =
            startsWithNoCase(line, "ESEARCH") && (line.size() == 7 || line[7] == ' ');
        if (!plain && !extended) {
            continue;
        }
        if (answered) {
            return std::nullopt; // two answers to one search: neither is trusted
        }
        answered = true;
        std::vector<ImapValue> v;
        try {
            v = ImapResponseParser::parseValues(line);
        } catch (const TarnError&) {
            return std::nullopt;
        }
        if (plain) {
            for (std::size_t w = 1; w < v.size(); ++w) {
                const std::optional<std::int64_t> uid =
                    numberOf(v[w], std::numeric_limits<std::int64_t>::max());
                if (!uid || *uid < 1 || uids.size() >= maxCount) {
                    return std::nullopt;
                }
                uids.push_back(*uid);
            }
            continue;
        }
        // ESEARCH [(TAG "x")] [UID] [ALL set]
        std::size_t w = 1;
        if (w < v.size() && v[w].isList()) {
            ++w;
        }
        if (w < v.size() && v[w].is("UID")) {
            ++w;
        } else {
            return std::nullopt; // numbers, not UIDs
        }
        for (; w + 1 < v.size(); w += 2) {
            if (v[w].is("ALL")) {
                if (v[w + 1].kind != ImapValue::Kind::Atom ||
                    !appendUidSet(v[w + 1].text, maxCount, uids)) {
                    return std::nullopt;
                }
            }
        }
        if (w != v.size()) {
            return std::nullopt;
        }
    }
    if (!answered && !esearch) {
        return std::nullopt; // RFC 3501 requires the SEARCH response, even an empty one
    }
    return uids;
}

const ImapReply& Imap4Client::UidFetch(const std::string& set, const std::string& items) {
    requireState(State::Selected);
    checkArgument(set, "UID set");
    checkArgument(items, "fetch item");
    return sendCommand("UID FETCH " + set + " (" + items + ")");
}

std::string Imap4Client::SendAhead(const std::string& command) {
    if (!m_conn->Connected()) {
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    checkArgument(command, "command");
    settleSelectAhead();
    const std::string tag = nextTag();
    try {
        m_conn->WriteLn(tag + " " + command);
    } catch (...) {
        closeQuietly();
        throw;
    }
    return tag;
}

const ImapReply& Imap4Client::ReadAnswer(const std::string& tag, std::size_t maxLiteral) {
    if (!m_conn->Connected()) {
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    try {
        readReply(tag, maxLiteral);
    } catch (...) {
        closeQuietly();
        throw;
    }
    return m_reply;
}

void Imap4Client::DeleteMessage(int i) {
    AddFlag(i, "\\Seen");
    AddFlag(i, "\\Deleted");
}

void Imap4Client::Expunge() {
    requireState(State::Selected);
    sendCommand("EXPUNGE");
    int gone = 0;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        try {
            const std::vector<ImapValue> v = ImapResponseParser::parseValues(m_reply.lines[k]);
            if (v.size() == 2 && numberOf(v[0], std::numeric_limits<int>::max()) &&
                v[1].is("EXPUNGE")) {
                ++gone;
            }
        } catch (const TarnError&) {
            // not an expunge announcement
        }
    }
    m_mailbox.exists = gone > m_mailbox.exists ? 0 : m_mailbox.exists - gone;
}

std::vector<std::string> Imap4Client::ListMailboxes(const std::vector<std::string>& parents) {
    requireState(State::Authenticated, State::Selected);
    std::vector<std::string> names;
    for (const std::string& parent : parents) {
        checkArgument(parent, "mailbox name");
        // An empty parent asks for the top level.
        sendCommand("LIST \"\" " +
                    quote(parent.empty() ? std::string("%") : parent + kSeparator + "%"));
        for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
            const std::string& line = m_reply.lines[k];
            if (!startsWithNoCase(line, "LIST ")) {
                continue;
            }
            std::vector<ImapValue> v;
            try {
                v = ImapResponseParser::parseValues(line);
            } catch (const TarnError& e) {
                throw TarnError(ErrorKind::ProtocolError,
                                std::string("Malformed IMAP4 LIST response: ") + e.what());
            }
            if (v.size() != 4 || !v[1].isList() || v[3].isList() || v[3].isNil()) {
                throw TarnError(ErrorKind::ProtocolError, "Malformed IMAP4 LIST response.");
            }
            if (!v[3].text.empty()) {
                names.push_back(v[3].text);
            }
        }
    }
    return names;
}

bool Imap4Client::HasCapability(std::string_view name, Tags tags) {
    for (const std::string& c : capabilityList(tags)) {
        if (equalsNoCase(c, name)) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> Imap4Client::capabilityList(Tags tags) {
    sendCommand("CAPABILITY", true, kMaxSmallLiteral, ErrorKind::ServerError, tags);
    std::vector<std::string> out;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        std::vector<ImapValue> words;
        try {
            words = ImapResponseParser::parseValues(m_reply.lines[k]);
        } catch (const TarnError&) {
            continue; // not a capability list we can read
        }
        if (words.empty() || !words[0].is("CAPABILITY")) {
            continue;
        }
        for (std::size_t w = 1; w < words.size(); ++w) {
            if (words[w].kind == ImapValue::Kind::Atom) {
                out.push_back(words[w].text);
            }
        }
    }
    return out;
}

void Imap4Client::logIn(const std::vector<std::string>& capabilities) {
    bool loginDisabled = false;
    bool initialResponse = false;
    std::vector<std::string> mechanisms;
    for (const std::string& c : capabilities) {
        if (equalsNoCase(c, "LOGINDISABLED")) {
            loginDisabled = true;
        } else if (equalsNoCase(c, "SASL-IR")) {
            initialResponse = true;
        } else if (startsWithNoCase(c, "AUTH=")) {
            mechanisms.push_back(c.substr(5));
        }
    }
    if (loginDisabled && m_security == ConnectionSecurity::None) {
        // The server says so itself: whatever proves who we are would cross in clear.
        throw TarnError(ErrorKind::LoginRejected, kLoginDisabledReason);
    }
    const std::optional<SaslMechanism> mechanism = chooseSaslMechanism(mechanisms, m_accessToken);
    if (mechanism) {
        authenticate(SaslExchange(*mechanism, m_user, m_password, m_host, m_port), initialResponse);
        return;
    }
    if (m_accessToken) {
        throw TarnError(ErrorKind::LoginRejected, kNoOAuthMechanism);
    }
    if (loginDisabled) {
        throw TarnError(ErrorKind::LoginRejected,
                        "The IMAP4 server accepts neither LOGIN nor a password mechanism this "
                        "program knows (PLAIN, LOGIN).");
    }
    if (!m_conn->Connected()) {
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    const std::string tag = nextTag();
    writeAndRead(tag, withSelectAhead(tag + " LOGIN " + m_user + " " + m_password), true,
                 kMaxSmallLiteral, ErrorKind::LoginRejected);
}

void Imap4Client::authenticate(SaslExchange exchange, bool initialResponse) {
    const std::string tag = nextTag();
    std::string command = tag + " AUTHENTICATE " + saslMechanismName(exchange.mechanism());
    std::optional<std::string> first = exchange.initialResponse();
    if (first && initialResponse) {
        // RFC 4959: an empty initial response is sent as "=".
        command += " " + (first->empty() ? std::string("=") : saslBase64Encode(*first));
        first.reset();
        // PLAIN is done in this one line: the SELECT may follow before the answer. A token's
        // mechanisms may ask again on failure, and that question would take the SELECT.
        if (exchange.mechanism() == SaslMechanism::Plain) {
            command = withSelectAhead(std::move(command));
        }
    }
    const bool selectSent = m_selectAheadTag.has_value();
    try {
        m_conn->WriteLn(command);
        m_reply = {};
        std::size_t budget = kMaxSmallLiteral;
        // A mechanism of ours takes at most three rounds; a server that keeps asking is not
        // waiting for anything we have.
        for (int rounds = 0;; ++rounds) {
            const std::string line = readLogicalLine(kMaxSmallLiteral, budget);
            if (line[0] == '*') {
                m_reply.lines.emplace_back(trimLeftSpaceTab(std::string_view(line).substr(1)));
                continue;
            }
            if (line[0] == '+') {
                if (selectSent) {
                    // The server has read the SELECT as our answer: nothing that follows is
                    // in step any more.
                    throw TarnError(ErrorKind::ProtocolError,
                                    "The IMAP4 server asked for more of the log-in than PLAIN "
                                    "sends.");
                }
                if (rounds >= 4) {
                    m_conn->WriteLn("*");
                    continue;
                }
                const std::optional<std::string> challenge =
                    saslBase64Decode(trimLeftSpaceTab(std::string_view(line).substr(1)));
                if (!challenge) {
                    // "*" cancels the exchange (RFC 3501, 6.2.2); the tagged BAD follows.
                    m_conn->WriteLn("*");
                    continue;
                }
                m_conn->WriteLn(saslAnswerLine(exchange, first, *challenge));
                continue;
            }
            if (line.size() > tag.size() && line[tag.size()] == ' ' &&
                startsWithNoCase(line, tag)) {
                const std::string_view rest = std::string_view(line).substr(tag.size() + 1);
                const std::size_t sp = rest.find(' ');
                m_reply.status = upperAsciiCopy(trimSpaceTab(rest.substr(0, sp)));
                m_reply.lines.push_back(sp == std::string_view::npos
                                            ? std::string()
                                            : std::string(trimLeftSpaceTab(rest.substr(sp + 1))));
                break;
            }
            throw TarnError(ErrorKind::ProtocolError, "Unrecognized IMAP4 Response Header.");
        }
    } catch (...) {
        closeQuietly();
        throw;
    }
    if (m_reply.status == "OK") {
        return;
    }
    m_tokenRefused = exchange.tokenRefused();
    std::string reason = exchange.failureReason();
    if (reason.empty()) {
        reason = m_reply.lines.back();
    }
    if (reason.empty()) {
        reason = std::string("The IMAP4 server refused ") +
                 saslMechanismName(exchange.mechanism()) + " (" + m_reply.status + ").";
    }
    throw TarnError(ErrorKind::LoginRejected, reason);
}

namespace {

std::string cut(const std::string& line) {
    return line.size() > 80 ? line.substr(0, 80) + "..." : line;
}

} // namespace

std::optional<std::string> Imap4Client::readWatchLine(std::size_t& budget,
                                                      const UntaggedHandler& untagged) {
    std::string line =
        readLogicalLine(kMaxSmallLiteral, budget, "The IMAP4 server flooded the idle connection.");
    if (line[0] == '*') {
        untagged(trimLeftSpaceTab(std::string_view(line).substr(1)));
        return std::nullopt;
    }
    return line;
}

std::string Imap4Client::idleStatus(const std::string& line) const {
    const std::string& tag = *m_idleTag;
    if (line.size() > tag.size() && line[tag.size()] == ' ' && startsWithNoCase(line, tag)) {
        const std::string_view rest = trimLeftSpaceTab(std::string_view(line).substr(tag.size()));
        const std::string word = upperAsciiCopy(rest.substr(0, rest.find(' ')));
        if (word == "OK" || word == "NO" || word == "BAD") {
            return word;
        }
    }
    throw TarnError(ErrorKind::ProtocolError,
                    "Unexpected answer on the idle connection: " + cut(line));
}

bool Imap4Client::IdleStart(const UntaggedHandler& untagged) {
    requireState(State::Selected);
    m_idleTag = nextTag(Tags::Watch);
    m_conn->WriteLn(*m_idleTag + " IDLE");
    std::size_t budget = kMaxReplyBytes;
    for (;;) {
        const std::optional<std::string> line = readWatchLine(budget, untagged);
        if (!line) {
            continue;
        }
        if ((*line)[0] == '+') {
            return true;
        }
        const std::string status = idleStatus(*line);
        m_idleTag.reset();
        if (status == "OK") {
            return false; // over before it began
        }
        throw TarnError(ErrorKind::ServerError, "The IMAP4 server refused IDLE: " + *line);
    }
}

Imap4Client::IdleEnd Imap4Client::IdleWait(std::chrono::milliseconds renewal,
                                           std::size_t floodBudget,
                                           const UntaggedHandler& untagged) {
    if (!m_idleTag) {
        throw TarnError(ErrorKind::LocalError, "No IDLE is running.");
    }
    // The answer the IDLE waits for is due at the renewal, counted from the command.
    const std::chrono::milliseconds readTimeout = m_conn->readTimeout();
    m_conn->setReadTimeout(renewal);
    struct Restore {
        LineConnection& conn;
        std::chrono::milliseconds t;
        ~Restore() { conn.setReadTimeout(t); }
    } restore{*m_conn, readTimeout};
    for (;;) {
        std::optional<std::string> line;
        try {
            line = readWatchLine(floodBudget, untagged);
        } catch (const TarnError& e) {
            if (e.kind() == ErrorKind::TimedOut) {
                return IdleEnd::Renewal;
            }
            throw;
        }
        if (!line || (*line)[0] == '+') {
            continue;
        }
        const std::string status = idleStatus(*line);
        m_idleTag.reset();
        if (status == "OK") {
            return IdleEnd::EndedByServer;
        }
        throw TarnError(ErrorKind::ServerError, "The IMAP4 server ended IDLE: " + *line);
    }
}

void Imap4Client::IdleDone(const UntaggedHandler& untagged) {
    if (!m_idleTag) {
        throw TarnError(ErrorKind::LocalError, "No IDLE is running.");
    }
    m_conn->WriteLn("DONE");
    std::size_t budget = kMaxReplyBytes;
    for (;;) {
        const std::optional<std::string> line = readWatchLine(budget, untagged);
        if (!line) {
            continue;
        }
        const std::string status = idleStatus(*line);
        m_idleTag.reset();
        if (status != "OK") {
            throw TarnError(ErrorKind::ServerError,
                            "The IMAP4 server did not end IDLE cleanly: " + *line);
        }
        return;
    }
}

void Imap4Client::EndWatch() {
    if (!m_conn->Connected()) {
        return;
    }
    try {
        if (m_idleTag) {
            m_conn->WriteLn("DONE");
        }
        m_idleTag.reset();
        const std::string tag = nextTag(Tags::Watch);
        m_conn->WriteLn(tag + " LOGOUT");
        for (int lines = 0; lines < 16; ++lines) {
            const std::string line = std::string(trimSpaceTab(m_conn->ReadLn()));
            if (startsWithNoCase(line, tag + " ")) {
                break;
            }
        }
    } catch (const std::exception&) {
        // best effort
    }
    closeQuietly();
}

void Imap4Client::Disconnect() {
    if (!m_conn->Connected()) {
        m_state = State::NotAuthenticated;
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    try {
        sendCommand("LOGOUT");
    } catch (const TarnError&) {
        // A server that says BYE may close before its tagged answer arrives.
        const bool byeSeen = m_sawBye;
        closeQuietly();
        if (!byeSeen) {
            throw;
        }
        return;
    }
    closeQuietly();
}

const ImapReply& Imap4Client::sendCommand(const std::string& command, bool expectOk,
                                          std::size_t maxLiteral, ErrorKind refused, Tags tags) {
    if (!m_conn->Connected()) {
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    settleSelectAhead();
    const std::string tag = nextTag(tags);
    return writeAndRead(tag, tag + " " + command, expectOk, maxLiteral, refused);
}

const ImapReply& Imap4Client::writeAndRead(const std::string& tag, const std::string& line,
                                           bool expectOk, std::size_t maxLiteral,
                                           ErrorKind refused) {
    try {
        if (!line.empty()) {
            m_conn->WriteLn(line);
        }
        readReply(tag, maxLiteral);
    } catch (...) {
        // After a broken read the stream is out of step with our commands: a later reply
        // could be taken for the answer to another command, so the connection is dropped.
        closeQuietly();
        throw;
    }
    if (expectOk && m_reply.status != "OK") {
        const std::string text = m_reply.text();
        throw TarnError(refused,
                        text.empty() ? "The IMAP4 server answered " + m_reply.status + "." : text);
    }
    return m_reply;
}

void Imap4Client::readReply(const std::string& tag, std::size_t maxLiteral) {
    m_reply = {};
    m_sawBye = false;
    std::size_t budget = kMaxReplyBytes;
    for (;;) {
        std::string line = readLogicalLine(maxLiteral, budget);
        if (line[0] == '*') {
            std::string text = std::string(trimLeftSpaceTab(std::string_view(line).substr(1)));
            if (startsWithNoCase(text, "BYE")) {
                m_sawBye = true;
            } else if (startsWithNoCase(text, "VANISHED ") &&
                       !startsWithNoCase(text, "VANISHED (EARLIER)")) {
                ++m_expungesSeen;
            } else if (!text.empty() && text[0] >= '0' && text[0] <= '9' && text.size() > 8 &&
                       equalsNoCase(std::string_view(text).substr(text.size() - 8), " EXPUNGE")) {
                ++m_expungesSeen;
            }
            m_reply.lines.push_back(std::move(text));
            continue;
        }
        if (line[0] == '+') {
            // We never send literals, so the server waits for data that will not come.
            throw TarnError(ErrorKind::ProtocolError,
                            "Unexpected IMAP4 continuation request: " + line);
        }
        if (line.size() > tag.size() && line[tag.size()] == ' ' && startsWithNoCase(line, tag)) {
            const std::string_view rest = std::string_view(line).substr(tag.size() + 1);
            const std::size_t sp = rest.find(' ');
            const std::string status = upperAsciiCopy(trimSpaceTab(rest.substr(0, sp)));
            if (status != "OK" && status != "NO" && status != "BAD" && status != "PREAUTH" &&
                status != "BYE") {
                throw TarnError(ErrorKind::ProtocolError, "Unrecognized IMAP4 Response Header.");
            }
            m_reply.status = status;
            m_reply.lines.push_back(sp == std::string_view::npos
                                        ? std::string()
                                        : std::string(trimLeftSpaceTab(rest.substr(sp + 1))));
            return;
        }
        throw TarnError(ErrorKind::ProtocolError, "Unrecognized IMAP4 Response Header.");
    }
}

std::string Imap4Client::readLogicalLine(std::size_t maxLiteral, std::size_t& budget,
                                         const char* overBudget) {
    auto charge = [&budget, overBudget](std::size_t n) {
        if (n > budget) {
            throw TarnError(ErrorKind::OverBudget, overBudget);
        }
        budget -= n;
    };

    std::string line;
    do {
        line = std::string(trimSpaceTab(m_conn->ReadLn()));
    } while (line.empty());
    charge(line.size());

    // A literal "{n}" ends its line; n bytes follow (they may hold line breaks), then the
    // rest of the response continues on the same line.
    std::size_t scanFrom = 0;
    while (const std::optional<std::size_t> size =
               ImapResponseParser::trailingLiteralSize(line, scanFrom)) {
        if (*size > maxLiteral) {
            throw TarnError(ErrorKind::OverBudget,
                            "The IMAP4 server announced a literal of " +
                                (*size == SIZE_MAX ? std::string("unbounded size")
                                                   : std::to_string(*size) + " bytes") +
                                ", more than the " + std::to_string(maxLiteral) + " allowed.");
        }
        charge(*size + 2);
        line += "\r\n";
        line += m_conn->ReadBytes(*size);
        scanFrom = line.size();
        const std::string rest = m_conn->ReadLn();
        charge(rest.size());
        line += rest;
    }
    return line;
}

} // namespace tarn
