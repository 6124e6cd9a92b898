#include "mailproto/Pop3Client.h"

#include "core/Credentials.h"

#include "core/AsciiText.h"
#include "mailproto/Sasl.h"
#include "net/TlsTransport.h"

#include <limits>
#include <strings.h>

namespace tarn {

namespace {

bool isBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// A plain unsigned decimal that fits; anything else is not a number.
std::optional<std::int64_t> parseNumber(std::string_view s) {
    const std::optional<std::uint64_t> v =
        parseDecimal(s, std::numeric_limits<std::int64_t>::max());
    if (!v)
        return std::nullopt;
    return static_cast<std::int64_t>(*v);
}

// The word after the first space: "3 4500" -> "4500". Servers may append more after the
// number, so the word ends at the next space.
std::string_view wordAfterFirstSpace(std::string_view s) {
    auto sp = s.find(' ');
    if (sp == std::string_view::npos)
        return {};
    s.remove_prefix(sp + 1);
    return s.substr(0, s.find(' '));
}

std::string dotUnstuffed(std::string line) {
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
        line.erase(0, 1);
    return line;
}

} // namespace

std::string Pop3Reply::text() const {
    std::string out;
    for (std::size_t i = 0; i < textLines.size(); ++i) {
        if (i)
            out += '\n';
        out += textLines[i];
    }
    return out;
}

Pop3Client::Pop3Client(std::unique_ptr<LineConnection> connection)
    : ServerLogin(kDefaultPort),
      m_connection(connection ? std::move(connection) : std::make_unique<LineConnection>()) {}

Pop3Client::~Pop3Client() {
    m_connection->Disconnect();
}

bool Pop3Client::Connected() const {
    return m_connection->Connected();
}

std::string Pop3Client::readTrimmedNonEmpty() {
    for (;;) {
        std::string line = trim(m_connection->ReadLn());
        if (!line.empty())
            return line;
    }
}

const Pop3Reply& Pop3Client::readReply(bool requireOk, ErrorKind refused) {
    m_reply = Pop3Reply{};
    std::vector<std::string> lines{readTrimmedNonEmpty()};
    const std::string first = lines.front();
    if (first.size() > 3 && first[3] == '-') {
        const std::string end = first.substr(0, 3) + " ";
        for (;;) {
            lines.push_back(readTrimmedNonEmpty());
            if (lines.back().compare(0, 4, end) == 0)
                break;
        }
    }
    m_reply.statusWord = trim(first.substr(0, 4));
    for (const auto& l : lines)
        m_reply.textLines.push_back(l.size() > 4 ? l.substr(4) : std::string());

    if (strcasecmp(m_reply.statusWord.c_str(), "+OK") == 0)
        m_reply.status = Pop3Reply::Status::Ok;
    else if (strcasecmp(m_reply.statusWord.c_str(), "-ERR") == 0)
        m_reply.status = Pop3Reply::Status::Error;
    else
        throw TarnError(ErrorKind::ProtocolError,
                        "Unrecognized POP3 Response Header:\n\"" + m_reply.text() + "\"");

    if (requireOk && m_reply.status != Pop3Reply::Status::Ok) {
        // "-ERR text" leaves a leading space on the text lines; the error is clearer without.
        std::string text = trim(m_reply.text());
        throw TarnError(refused, text.empty() ? m_reply.statusWord : text);
    }
    return m_reply;
}

const Pop3Reply& Pop3Client::sendCmd(const std::string& command, bool requireOk,
                                     ErrorKind refused) {
    m_connection->WriteLn(command);
    return readReply(requireOk, refused);
}

void Pop3Client::charge(Budget& budget, std::size_t lineLength) {
    const std::size_t cost = lineLength + 2;
    if (budget.lines > 0 && cost <= budget.bytes) {
        --budget.lines;
        budget.bytes -= cost;
        return;
    }
    const TarnError error(ErrorKind::OverBudget,
                          budget.lines == 0
                              ? budget.what + " has more than the " +
                                    std::to_string(budget.maxLines) + " lines allowed."
                              : budget.what + " is larger than the " +
                                    std::to_string(budget.maxBytes) + " bytes allowed.");
    if (budget.closeWhenExceeded) {
        m_connection->Abandon(error);
        throw error;
    }
    // Read on to the "." line without keeping anything, so the next command gets its own
    // answer; the answer's deadline bounds how long that can take.
    for (;;) {
        if (m_connection->ReadLn() == ".")
            throw error;
    }
}

std::vector<std::string> Pop3Client::readListing(bool unstuff, Budget& budget) {
    std::vector<std::string> out;
    for (;;) {
        std::string line = m_connection->ReadLn();
        if (line == ".")
            return out;
        charge(budget, line.size());
        out.push_back(unstuff ? dotUnstuffed(std::move(line)) : std::move(line));
    }
}

void Pop3Client::Connect() {
    renewingToken([this] { connectOnce(); });
}

void Pop3Client::connectOnce() {
    m_tokenRefused = false;
    checkSecuritySettings(m_security, m_pin);
    // USER and PASS carry them inside one command line; a value that would split the line
    // (or a scrambled password that reads back with one) never reaches the server.
    if (const std::optional<std::string> problem = credentialProblem(m_user, m_password))
        throw TarnError(ErrorKind::LocalError, *problem);
    m_connection->Connect(m_host, m_port);
    try {
        if (m_security == ConnectionSecurity::Tls)
            m_connection->StartTls(m_pin);
        readReply(true);
        if (m_security == ConnectionSecurity::StartTls) {
            const Pop3Reply& r = sendCmd("STLS", false);
            if (r.status != Pop3Reply::Status::Ok) {
                const std::string text = trim(r.text());
                throw TarnError(ErrorKind::TlsError,
                                kNoStartTls + (text.empty() ? "." : " (" + text + ")."));
            }
            m_connection->StartTls(m_pin);
        }
        logIn();
    } catch (...) {
        try {
            Disconnect();
        } catch (const TarnError&) {
            // The login failure is what matters.
        }
        throw;
    }
}

void Pop3Client::logIn() {
    // The mechanisms come from CAPA's "SASL" line (RFC 5034); a server without CAPA offers
    // none.
    std::vector<std::string> mechanisms;
    for (const std::string& line : Capabilities()) {
        const std::string_view l = trimSpaceTab(line);
        if (l.size() > 5 && startsWithNoCase(l, "SASL ")) {
            std::string_view rest = l.substr(5);
            while (!rest.empty()) {
                const std::size_t sp = rest.find(' ');
                const std::string_view word = rest.substr(0, sp);
                if (!word.empty())
                    mechanisms.emplace_back(word);
                rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp + 1);
            }
        }
    }
    if (const std::optional<SaslMechanism> m = chooseSaslMechanism(mechanisms, m_accessToken)) {
        authenticate(SaslExchange(*m, m_user, m_password, m_host, m_port));
        return;
    }
    if (m_accessToken)
        throw TarnError(ErrorKind::LoginRejected, kNoOAuthMechanism);
    sendCmd("USER " + m_user, true, ErrorKind::LoginRejected);
    sendCmd("PASS " + m_password, true, ErrorKind::LoginRejected);
}

void Pop3Client::authenticate(SaslExchange exchange) {
    std::string command = std::string("AUTH ") + saslMechanismName(exchange.mechanism());
    std::optional<std::string> first = exchange.initialResponse();
    if (first) {
        // RFC 5034, 4: an initial response goes with the command only while the command
        // stays within 255 octets; otherwise it answers the server's empty challenge.
        const std::string encoded = first->empty() ? "=" : saslBase64Encode(*first);
        if (command.size() + 1 + encoded.size() + 2 <= 255) {
            command += " " + encoded;
            first.reset();
        }
    }
    m_connection->WriteLn(command);
    for (int rounds = 0;; ++rounds) {
        const std::string line = readTrimmedNonEmpty();
        if (line == "+" || (line.size() > 1 && line[0] == '+' && line[1] == ' ')) {
            const std::optional<std::string> challenge =
                saslBase64Decode(trimSpaceTab(std::string_view(line).substr(1)));
            if (!challenge || rounds >= 4) {
                // "*" cancels (RFC 5034, 4); the server's -ERR follows.
                m_connection->WriteLn("*");
                continue;
            }
            m_connection->WriteLn(saslAnswerLine(exchange, first, *challenge));
            continue;
        }
        m_reply = Pop3Reply{};
        m_reply.statusWord = line.substr(0, line.find(' '));
        m_reply.textLines.push_back(line.size() > m_reply.statusWord.size()
                                        ? trim(line.substr(m_reply.statusWord.size()))
                                        : std::string());
        if (strcasecmp(m_reply.statusWord.c_str(), "+OK") == 0) {
            m_reply.status = Pop3Reply::Status::Ok;
            return;
        }
        if (strcasecmp(m_reply.statusWord.c_str(), "-ERR") != 0)
            throw TarnError(ErrorKind::ProtocolError,
                            "Unrecognized POP3 Response Header:\n\"" + line + "\"");
        m_reply.status = Pop3Reply::Status::Error;
        m_tokenRefused = exchange.tokenRefused();
        std::string reason = exchange.failureReason();
        if (reason.empty())
            reason = m_reply.textLines.front();
        if (reason.empty())
            reason = std::string("The POP3 server refused ") +
                     saslMechanismName(exchange.mechanism()) + ".";
        throw TarnError(ErrorKind::LoginRejected, reason);
    }
}

int Pop3Client::MessageCount() {
    const Pop3Reply& r = sendCmd("STAT", true);
    const std::string text = r.textLines.empty() ? std::string() : r.textLines.front();
    if (text.empty())
        return 0;
    auto sp = text.find(' ');
    std::string head = sp == std::string::npos ? text : text.substr(0, sp);
    auto n = parseNumber(head);
    if (sp == std::string::npos || !n || *n > std::numeric_limits<int>::max())
        throw TarnError(ErrorKind::ProtocolError, "'" + text + "' is not a valid message count.");
    return static_cast<int>(*n);
}

std::int64_t Pop3Client::MailboxTotal() {
    m_listedSizes.clear();
    try {
        sendCmd("LIST", true);
        std::int64_t total = 0;
        Budget budget{kMaxListingBytes, kMaxListingLines, true, "The size listing"};
        std::vector<std::int64_t> sizes;
        bool numbered = true;
        for (;;) {
            std::string line = m_connection->ReadLn();
            if (line == "." || line.empty()) {
                // An empty line ends the listing early: the rest is not known to be there.
                numbered = numbered && line == ".";
                break;
            }
            charge(budget, line.size());
            auto size = parseNumber(wordAfterFirstSpace(line)).value_or(0);
            const std::string_view number = std::string_view(line).substr(0, line.find(' '));
            numbered =
                numbered && parseNumber(number) == static_cast<std::int64_t>(sizes.size() + 1);
            if (numbered)
                sizes.push_back(size);
            // Saturate rather than wrap on absurd sizes.
            total = size > std::numeric_limits<std::int64_t>::max() - total
                        ? std::numeric_limits<std::int64_t>::max()
                        : total + size;
        }
        if (numbered)
            m_listedSizes = std::move(sizes);
        return total;
    } catch (const TarnError&) {
        return -1;
    }
}

std::vector<std::string> Pop3Client::Capabilities() {
    if (sendCmd("CAPA", false).status != Pop3Reply::Status::Ok)
        return {};
    Budget budget{64 * 1024, 1000, true, "The capability listing"};
    return readListing(true, budget);
}

std::vector<std::string> Pop3Client::UniqueIdListing() {
    if (sendCmd("UIDL", false).status != Pop3Reply::Status::Ok)
        return {};
    Budget budget{kMaxListingBytes, kMaxListingLines, true, "The unique-id listing"};
    return readListing(true, budget);
}

std::int64_t Pop3Client::MessageSize(int n) {
    const Pop3Reply& r = sendCmd("LIST " + std::to_string(n), true);
    if (r.textLines.empty())
        return -1;
    return parseNumber(wordAfterFirstSpace(r.textLines.front())).value_or(-1);
}

std::vector<std::string> Pop3Client::FetchHeader(int n) {
    m_connection->WriteLn("TOP " + std::to_string(n) + " 0");
    return ReadHeaderAnswer(n);
}

std::vector<std::string> Pop3Client::ReadHeaderAnswer(int n) {
    readReply(true);
    Budget budget{kMaxHeaderBytes, kMaxHeaderBytes, false,
                  "The header of message " + std::to_string(n)};
    std::vector<std::string> header;
    for (auto& line : readListing(false, budget))
        if (!line.empty())
            header.push_back(std::move(line));
    return header;
}

std::optional<Pop3Message> Pop3Client::FetchMessage(int n) {
    m_connection->WriteLn("RETR " + std::to_string(n));
    return ReadMessageAnswer(n);
}

std::optional<Pop3Message> Pop3Client::ReadMessageAnswer(int n) {
    if (readReply(false).status != Pop3Reply::Status::Ok)
        return std::nullopt;
    Budget budget{m_maxMessageBytes, m_maxMessageBytes, false, "Message " + std::to_string(n)};
    Pop3Message msg;
    for (;;) {
        std::string line = m_connection->ReadLn();
        if (line == ".")
            return msg;
        charge(budget, line.size());
        if (line.empty())
            break;
        msg.headerLines.push_back(std::move(line));
    }
    msg.hasBody = true;
    msg.bodyLines = readListing(true, budget);
    return msg;
}

bool Pop3Client::ReadSizeAnswerFor(int n) {
    const Pop3Reply& r = readReply(false);
    if (r.status != Pop3Reply::Status::Ok || r.textLines.empty())
        return false;
    const std::string& text = r.textLines.front();
    return parseNumber(std::string_view(text).substr(0, text.find(' '))) == n;
}

void Pop3Client::DeleteMessage(int n) {
    sendCmd("DELE " + std::to_string(n), true);
}

void Pop3Client::Disconnect() {
    if (!m_connection->Connected())
        return;
    try {
        // The answer is not waited for: the server commits deletions on QUIT either way.
        m_connection->WriteLn("QUIT");
    } catch (...) {
        m_connection->Disconnect();
        throw;
    }
    m_connection->Disconnect();
}

} // namespace tarn
