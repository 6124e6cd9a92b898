#include "mailproto/ImapResponseParser.h"

#include <cstdint>
#include <limits>

#include "core/AsciiText.h"
#include "core/TarnError.h"

namespace tarn {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string trimmed(std::string_view s) {
    return std::string(trimSpaceAndLineEnds(s));
}

// Decimal digits to a size; false on overflow or when there are no digits.
bool parseSize(std::string_view digits, std::size_t& out) {
    const std::optional<std::uint64_t> v =
        parseDecimal(digits, std::numeric_limits<std::size_t>::max());
    if (!v)
        return false;
    out = static_cast<std::size_t>(*v);
    return true;
}

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    bool atEnd() {
        skipSpaces();
        return m_pos >= m_text.size();
    }

    std::size_t position() const { return m_pos; }

    ImapValue value(std::size_t depth) {
        skipSpaces();
        if (m_pos >= m_text.size()) {
            fail("unexpected end of data");
        }
        const char c = m_text[m_pos];
        if (c == '(') {
            return list(depth);
        }
        if (c == ')') {
            fail("unexpected \")\"");
        }
        if (c == '"') {
            return quoted();
        }
        if (c == '{') {
            return literal();
        }
        return atom();
    }

private:
    [[noreturn]] void fail(const std::string& why) {
        throw TarnError(ErrorKind::ProtocolError, "Malformed IMAP4 response: " + why +
                                                      " at offset " + std::to_string(m_pos) + ".");
    }

    void skipSpaces() {
        while (m_pos < m_text.size() && m_text[m_pos] == ' ') {
            ++m_pos;
        }
    }

    ImapValue list(std::size_t depth) {
        if (depth >= ImapResponseParser::kMaxDepth) {
            fail("lists nested too deeply");
        }
        ++m_pos; // "("
        ImapValue v;
        v.kind = ImapValue::Kind::List;
        for (;;) {
            skipSpaces();
            if (m_pos >= m_text.size()) {
                fail("unterminated list");
            }
            if (m_text[m_pos] == ')') {
                ++m_pos;
                return v;
            }
            v.items.push_back(value(depth + 1));
        }
    }

    ImapValue quoted() {
        ++m_pos; // opening quote
        ImapValue v;
        v.kind = ImapValue::Kind::String;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"') {
                return v;
            }
            if (c == '\\') {
                if (m_pos >= m_text.size()) {
                    break;
                }
                v.text += m_text[m_pos++];
            } else if (c == '\r' || c == '\n') {
                fail("line break inside a quoted string");
            } else {
                v.text += c;
            }
        }
        fail("unterminated quoted string");
    }

    ImapValue literal() {
        const std::size_t open = m_pos;
        ++m_pos; // "{"
        const std::size_t digitsStart = m_pos;
        while (m_pos < m_text.size() && isDigit(m_text[m_pos])) {
            ++m_pos;
        }
        std::size_t size = 0;
        if (!parseSize(m_text.substr(digitsStart, m_pos - digitsStart), size)) {
            m_pos = open;
            fail("bad literal size");
        }
        if (m_pos < m_text.size() && m_text[m_pos] == '+') {
            ++m_pos;
        }
        if (m_text.substr(m_pos, 3) != "}\r\n") {
            m_pos = open;
            fail("bad literal announcement");
        }
        m_pos += 3;
        if (m_text.size() - m_pos < size) {
            m_pos = open;
            fail("literal shorter than announced");
        }
        ImapValue v;
        v.kind = ImapValue::Kind::String;
        v.text.assign(m_text.substr(m_pos, size));
        m_pos += size;
        return v;
    }

    ImapValue atom() {
        const std::size_t start = m_pos;
        int brackets = 0;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos];
            if (c == '[') {
                ++brackets;
            } else if (c == ']') {
                if (brackets > 0) {
                    --brackets;
                }
            } else if (brackets == 0 && (c == ' ' || c == '(' || c == ')' || c == '"')) {
                break;
            } else if (c == '\r' || c == '\n') {
                break;
            }
            ++m_pos;
        }
        if (m_pos == start) {
            fail("unexpected character");
        }
        ImapValue v;
        v.text.assign(m_text.substr(start, m_pos - start));
        v.kind = equalsNoCase(v.text, "NIL") ? ImapValue::Kind::Nil : ImapValue::Kind::Atom;
        if (v.isNil()) {
            v.text.clear();
        }
        return v;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

[[noreturn]] void badEnvelope(const std::string& why) {
    throw TarnError(ErrorKind::ProtocolError, "Malformed IMAP4 envelope: " + why + ".");
}

// nstring: a string or NIL (empty).
std::string nstring(const ImapValue& v, const char* what) {
    if (v.kind == ImapValue::Kind::String || v.isNil()) {
        return v.text;
    }
    badEnvelope(std::string(what) + " is neither a string nor NIL");
}

std::vector<ImapAddress> addressList(const ImapValue& v, const char* what) {
    std::vector<ImapAddress> out;
    if (v.isNil()) {
        return out;
    }
    if (!v.isList()) {
        badEnvelope(std::string(what) + " is not an address list");
    }
    for (const ImapValue& a : v.items) {
        if (!a.isList() || a.items.size() != 4) {
            badEnvelope(std::string(what) + " holds an address that is not a list of four");
        }
        ImapAddress addr;
        addr.name = nstring(a.items[0], "an address name");
        addr.route = nstring(a.items[1], "an address route");
        addr.mailbox = nstring(a.items[2], "an address mailbox");
        addr.host = nstring(a.items[3], "an address host");
        out.push_back(std::move(addr));
    }
    return out;
}

} // namespace

bool ImapValue::is(std::string_view word) const {
    return (kind == Kind::Atom || kind == Kind::String) && equalsNoCase(text, word);
}

std::string ImapAddress::address() const {
    if (host.empty()) {
        return mailbox;
    }
    return mailbox + "@" + host;
}

ImapAddress ImapEnvelope::firstFrom() const {
    for (const ImapAddress& a : from) {
        if (!a.host.empty()) {
            return a;
        }
    }
    return from.empty() ? ImapAddress{} : from.front();
}

const ImapValue* ImapFetchResponse::find(std::string_view name) const {
    for (const auto& item : items) {
        if (equalsNoCase(item.first, name)) {
            return &item.second;
        }
    }
    return nullptr;
}

std::vector<ImapValue> ImapResponseParser::parseValues(std::string_view text) {
    Reader r(text);
    std::vector<ImapValue> out;
    while (!r.atEnd()) {
        out.push_back(r.value(0));
    }
    return out;
}

std::vector<ImapValue> ImapResponseParser::parseLeadingValues(std::string_view text,
                                                              std::size_t count,
                                                              std::size_t* rest) {
    Reader r(text);
    std::vector<ImapValue> out;
    while (out.size() < count && !r.atEnd()) {
        out.push_back(r.value(0));
    }
    if (rest != nullptr) {
        *rest = r.position();
    }
    return out;
}

std::optional<ImapFetchResponse> ImapResponseParser::parseFetch(std::string_view untagged) {
    // Cheap check of the two leading words before parsing the whole line.
    std::size_t p = 0;
    while (p < untagged.size() && untagged[p] == ' ') {
        ++p;
    }
    const std::size_t numStart = p;
    while (p < untagged.size() && isDigit(untagged[p])) {
        ++p;
    }
    if (p == numStart || p >= untagged.size() || untagged[p] != ' ') {
        return std::nullopt;
    }
    const std::size_t wordStart = p + 1;
    if (!equalsNoCase(untagged.substr(wordStart, 5), "FETCH") ||
        (untagged.size() > wordStart + 5 && untagged[wordStart + 5] != ' ')) {
        return std::nullopt;
    }

    const std::vector<ImapValue> values = parseValues(untagged);
    if (values.size() != 3 || values[0].kind != ImapValue::Kind::Atom || !values[2].isList()) {
        throw TarnError(ErrorKind::ProtocolError, "Malformed IMAP4 FETCH response.");
    }
    ImapFetchResponse resp;
    std::size_t number = 0;
    if (!parseSize(values[0].text, number) ||
        number > static_cast<std::size_t>(std::numeric_limits<long long>::max())) {
        throw TarnError(ErrorKind::ProtocolError, "Malformed IMAP4 FETCH response.");
    }
    resp.number = static_cast<long long>(number);
    const std::vector<ImapValue>& items = values[2].items;
    if (items.size() % 2 != 0) {
        throw TarnError(ErrorKind::ProtocolError,
                        "Malformed IMAP4 FETCH response: an item has no value.");
    }
    for (std::size_t i = 0; i < items.size(); i += 2) {
        if (items[i].kind != ImapValue::Kind::Atom) {
            throw TarnError(ErrorKind::ProtocolError,
                            "Malformed IMAP4 FETCH response: an item name is not an atom.");
        }
        resp.items.emplace_back(items[i].text, items[i + 1]);
    }
    return resp;
}

ImapEnvelope ImapResponseParser::parseEnvelope(const ImapValue& envelope) {
    if (!envelope.isList()) {
        badEnvelope("not a list");
    }
    const std::vector<ImapValue>& it = envelope.items;
    if (it.size() != 10) {
        badEnvelope("expected 10 items, got " + std::to_string(it.size()));
    }
    ImapEnvelope env;
    env.date = nstring(it[0], "the date");
    env.subject = nstring(it[1], "the subject");
    env.from = addressList(it[2], "from");
    env.sender = addressList(it[3], "sender");
    env.replyTo = addressList(it[4], "reply-to");
    env.to = addressList(it[5], "to");
    env.cc = addressList(it[6], "cc");
    env.bcc = addressList(it[7], "bcc");
    env.inReplyTo = nstring(it[8], "in-reply-to");
    env.messageId = trimmed(nstring(it[9], "the message-id"));
    return env;
}

std::optional<std::size_t> ImapResponseParser::trailingLiteralSize(std::string_view line,
                                                                   std::size_t from) {
    if (from >= line.size() || line.back() != '}') {
        return std::nullopt;
    }
    // The closing brace must lie outside any quoted string.
    bool inQuote = false;
    for (std::size_t i = from; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuote) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inQuote = false;
            }
        } else if (c == '"') {
            inQuote = true;
        }
    }
    if (inQuote) {
        return std::nullopt;
    }
    std::size_t end = line.size() - 1; // the "}"
    if (end > from && line[end - 1] == '+') {
        --end;
    }
    std::size_t start = end;
    while (start > from && isDigit(line[start - 1])) {
        --start;
    }
    if (start == end || start == from || line[start - 1] != '{') {
        return std::nullopt;
    }
    std::size_t size = 0;
    if (!parseSize(line.substr(start, end - start), size)) {
        return std::numeric_limits<std::size_t>::max();
    }
    return size;
}

} // namespace tarn
