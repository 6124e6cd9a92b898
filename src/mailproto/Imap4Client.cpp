#include "mailproto/Imap4Client.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "net/TlsTransport.h"

namespace tarn {

namespace {

// Non-negative decimal number without sign or spaces.
bool parseNumber(std::string_view s, long long& out) {
    if (s.empty() || s.size() > 18) {
        return false;
    }
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

std::vector<std::string_view> splitSpaces(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    for (;;) {
        const std::size_t sp = s.find(' ', start);
        if (sp == std::string_view::npos) {
            words.push_back(s.substr(start));
            return words;
        }
        words.push_back(s.substr(start, sp - start));
        start = sp + 1;
    }
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

// The number after "[KEY " up to "]" anywhere in line.
template <typename Int> bool bracketNumber(std::string_view line, std::string_view key, Int& out) {
    const std::string up = upperAsciiCopy(line);
    const std::size_t at = up.find(upperAsciiCopy(key));
    if (at == std::string::npos) {
        return false;
    }
    const std::size_t start = at + key.size();
    const std::size_t end = line.find(']', start);
    if (end == std::string_view::npos) {
        return false;
    }
    long long v = 0;
    if (!parseNumber(trimSpaceTab(line.substr(start, end - start)), v) ||
        v > static_cast<long long>(std::numeric_limits<Int>::max())) {
        return false;
    }
    out = static_cast<Int>(v);
    return true;
}

// The space-separated words between the first "(" at or after from and the next ")".
std::vector<std::string> parenWords(std::string_view line, std::size_t from) {
    std::vector<std::string> out;
    const std::size_t open = line.find('(', from);
    if (open == std::string_view::npos) {
        return out;
    }
    const std::size_t close = line.find(')', open);
    if (close == std::string_view::npos) {
        return out;
    }
    for (std::string_view w : splitSpaces(line.substr(open + 1, close - open - 1))) {
        if (!w.empty()) {
            out.emplace_back(w);
        }
    }
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

Imap4Client::Imap4Client() : m_conn(std::make_unique<LineConnection>()) {}

Imap4Client::Imap4Client(std::unique_ptr<Transport> transport)
    : m_conn(std::make_unique<LineConnection>(std::move(transport))) {}

Imap4Client::Imap4Client(std::unique_ptr<LineConnection> connection)
    : m_conn(connection ? std::move(connection) : std::make_unique<LineConnection>()) {}

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

std::string Imap4Client::nextTag() {
    return "C" + std::to_string(++m_tagCounter);
}

void Imap4Client::closeQuietly() {
    try {
        m_conn->Disconnect();
    } catch (const std::exception&) {
        // closing is best effort
    }
    m_state = State::NotAuthenticated;
}

void Imap4Client::Connect() {
    if (m_conn->Connected()) {
        throw TarnError("Already connected.");
    }
    checkArgument(m_user, "user name");
    checkArgument(m_password, "password");
    checkSecuritySettings(m_security, m_pin);
    m_state = State::NotAuthenticated;
    m_mailbox = {};
    m_reply = {};
    m_tagCounter = 0;
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
        m_tagCounter = 0;
        if (m_security == ConnectionSecurity::StartTls) {
            startTls();
        }
        sendCommand("LOGIN " + m_user + " " + m_password, true, kMaxSmallLiteral,
                    ErrorKind::LoginRejected);
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
    sendCommand("CAPABILITY");
    bool offered = false;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::vector<std::string_view> words = splitSpaces(m_reply.lines[k]);
        if (words.empty() || upperAsciiCopy(words[0]) != "CAPABILITY") {
            continue;
        }
        for (std::string_view w : words) {
            offered = offered || upperAsciiCopy(w) == "STARTTLS";
        }
    }
    if (!offered) {
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

const ImapMailboxData& Imap4Client::SelectMailbox(const std::string& mailbox) {
    requireState(State::Authenticated, State::Selected);
    checkArgument(mailbox, "mailbox name");
    // Whatever happens, the previously selected mailbox is no longer selected.
    m_state = State::Authenticated;
    m_mailbox = {};
    sendCommand("SELECT " + quote(mailbox));

    ImapMailboxData data;
    for (const std::string& line : m_reply.lines) {
        const std::vector<std::string_view> words = splitSpaces(line);
        long long n = 0;
        if (words.size() >= 2 && parseNumber(words[0], n) && n <= std::numeric_limits<int>::max()) {
            const std::string what = upperAsciiCopy(words[1]);
            if (what == "EXISTS") {
                data.exists = static_cast<int>(n);
            } else if (what == "RECENT") {
                data.recent = static_cast<int>(n);
            }
        }
        bracketNumber(line, "[UIDVALIDITY ", data.uidValidity);
        bracketNumber(line, "[UIDNEXT ", data.uidNext);
        bracketNumber(line, "[UNSEEN ", data.unseen);
        if (startsWithNoCase(line, "FLAGS ") || startsWithNoCase(line, "FLAGS(")) {
            data.flags = parenWords(line, 0);
        }
        const std::string up = upperAsciiCopy(line);
        if (const std::size_t at = up.find("[PERMANENTFLAGS"); at != std::string::npos) {
            data.permanentFlags = parenWords(line, at);
        }
        if (up.find("[READ-WRITE]") != std::string::npos) {
            data.readOnly = false;
        } else if (up.find("[READ-ONLY]") != std::string::npos) {
            data.readOnly = true;
        }
        if (const std::size_t at = up.find("[ALERT]"); at != std::string::npos) {
            data.alert = std::string(trimLeftSpaceTab(std::string_view(line).substr(at + 7)));
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
        const std::vector<std::string_view> w = splitSpaces(m_reply.lines[k - 1]);
        long long num = 0;
        long long size = 0;
        if (w.size() != 4 || !parseNumber(w[0], num) || num != k ||
            upperAsciiCopy(w[1]) != "FETCH" || upperAsciiCopy(w[2]) != "(RFC822.SIZE" ||
            w[3].size() < 2 || w[3].back() != ')' ||
            !parseNumber(w[3].substr(0, w[3].size() - 1), size)) {
            return 0;
        }
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
        long long size = 0;
        if (v == nullptr || v->kind != ImapValue::Kind::Atom || !parseNumber(v->text, size)) {
            return -1;
        }
        return size;
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
    ImapFetchedMessage msg;
    bool found = false;
    std::string raw;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::optional<ImapFetchResponse> f = ImapResponseParser::parseFetch(m_reply.lines[k]);
        if (!f || f->number != i) {
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
                throw TarnError(ErrorKind::ProtocolError, "The IMAP4 server sent message " +
                                                              std::to_string(i) +
                                                              " in an unreadable form.");
            }
            raw = v->text;
            found = true;
        }
    }
    // The literal is no longer needed; do not keep a second copy of a large message.
    m_reply.lines.erase(m_reply.lines.begin(), m_reply.lines.end() - 1);
    if (!found) {
        throw TarnError(ErrorKind::ProtocolError,
                        "The IMAP4 server sent no message data for message " + std::to_string(i) +
                            ".");
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

void Imap4Client::DeleteMessage(int i) {
    AddFlag(i, "\\Seen");
    AddFlag(i, "\\Deleted");
}

void Imap4Client::Expunge() {
    requireState(State::Selected);
    sendCommand("EXPUNGE");
    int gone = 0;
    for (std::size_t k = 0; k + 1 < m_reply.lines.size(); ++k) {
        const std::vector<std::string_view> w = splitSpaces(m_reply.lines[k]);
        long long n = 0;
        if (w.size() == 2 && parseNumber(w[0], n) && upperAsciiCopy(w[1]) == "EXPUNGE") {
            ++gone;
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
                                          std::size_t maxLiteral, ErrorKind refused) {
    if (!m_conn->Connected()) {
        throw TarnError(ErrorKind::NotConnected, "Not connected.");
    }
    const std::string tag = nextTag();
    try {
        m_conn->WriteLn(tag + " " + command);
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

std::string Imap4Client::readLogicalLine(std::size_t maxLiteral, std::size_t& budget) {
    auto charge = [&budget](std::size_t n) {
        if (n > budget) {
            throw TarnError(ErrorKind::OverBudget, "The IMAP4 reply is too large.");
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
