#include "mime/MailAddress.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"

namespace tarn {

namespace {

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

std::string trimBlanks(std::string_view s) {
    return std::string(trimSpaceTab(s));
}

bool isAtomSpecial(char c) {
    switch (c) {
    case '!':
    case '#':
    case '$':
    case '%':
    case '&':
    case '\'':
    case '*':
    case '+':
    case '-':
    case '/':
    case '=':
    case '?':
    case '_':
    case '{':
    case '}':
    case '|':
    case '~':
    case '`':
        return true;
    default:
        return false;
    }
}

bool isAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isAtomChar(char c) {
    return isAsciiAlnum(c) || isAtomSpecial(c);
}

std::string escapeQuoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    for (char c : s) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

// Skips a comment starting at s[i] == '(' (nesting allowed); returns the index after it.
std::size_t skipComment(std::string_view s, std::size_t i) {
    int depth = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\') {
            ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0)
                return i + 1;
        }
    }
    return s.size();
}

// Reads a quoted string starting at s[i] == '"'; appends its content and returns the index
// after the closing quote (or the end of the text when it is missing).
std::size_t readQuoted(std::string_view s, std::size_t i, std::string& into) {
    for (++i; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\') {
            if (i + 1 < s.size())
                into.push_back(s[++i]);
        } else if (c == '"') {
            return i + 1;
        } else {
            into.push_back(c);
        }
    }
    return s.size();
}

struct Word {
    std::string text;
    bool quoted = false;
};

} // namespace

MailAddress MailAddress::parse(std::string_view value) {
    value = trimSpaces(value);
    if (value.find_first_of("(\"< @\t") == std::string_view::npos)
        return MailAddress({}, std::string(value));

    // Outside angle brackets the text is gathered as words (quoted strings are words of their
    // own, comments separate words); inside them it is the address.
    std::vector<Word> words;
    Word current;
    bool inWord = false;
    auto endWord = [&] {
        if (inWord)
            words.push_back(std::move(current));
        current = Word{};
        inWord = false;
    };
    std::string nameBeforeAngle;
    std::string address;
    bool angle = false;  // an address in angle brackets was opened
    bool closed = false; // ... and closed by ">"
    std::size_t i = 0;
    while (i < value.size()) {
        const char c = value[i];
        if (angle && !closed) {
            if (c == '>') {
                closed = true;
                ++i;
            } else if (c == '"') {
                i = readQuoted(value, i, address);
            } else if (c == '(') {
                i = skipComment(value, i);
            } else {
                if (!isSpaceOrTab(c))
                    address.push_back(c);
                ++i;
            }
            continue;
        }
        if (closed) {
            if (c == '@')
                throw TarnError("@ Outside address");
            if (c == '"') {
                std::string ignored;
                i = readQuoted(value, i, ignored);
            } else if (c == '(') {
                i = skipComment(value, i);
            } else {
                ++i;
            }
            continue;
        }
        if (c == '"') {
            endWord();
            Word q;
            q.quoted = true;
            i = readQuoted(value, i, q.text);
            words.push_back(std::move(q));
        } else if (c == '(') {
            endWord();
            i = skipComment(value, i);
        } else if (c == '<') {
            endWord();
            angle = true;
            ++i;
        } else if (isSpaceOrTab(c)) {
            endWord();
            ++i;
        } else {
            current.text.push_back(c);
            inWord = true;
            ++i;
        }
    }
    endWord();

    std::string name;
    auto joinWords = [&](std::size_t count) {
        std::string joined;
        for (std::size_t k = 0; k < count; ++k) {
            if (!joined.empty() && !words[k].text.empty())
                joined.push_back(' ');
            joined += words[k].text;
        }
        return joined;
    };
    if (angle)
        return MailAddress(trimBlanks(joinWords(words.size())), address);

    std::size_t at = words.size();
    for (std::size_t k = 0; k < words.size(); ++k) {
        if (!words[k].quoted && words[k].text.find('@') != std::string::npos) {
            at = k;
            break;
        }
    }
    if (at == words.size())
        return MailAddress(trimBlanks(joinWords(words.size())), {});
    return MailAddress(trimBlanks(joinWords(at)), words[at].text);
}

std::vector<MailAddress> MailAddress::parseList(std::string_view value) {
    std::vector<MailAddress> result;
    std::size_t start = 0;
    std::size_t i = 0;
    bool angle = false;
    auto flush = [&](std::size_t end) {
        const std::string_view entry = value.substr(start, end - start);
        if (!trimBlanks(entry).empty())
            result.push_back(parse(entry));
    };
    while (i < value.size()) {
        const char c = value[i];
        if (c == '"') {
            std::string ignored;
            i = readQuoted(value, i, ignored);
            continue;
        }
        if (c == '(') {
            i = skipComment(value, i);
            continue;
        }
        if (c == '<')
            angle = true;
        else if (c == '>')
            angle = false;
        else if (c == ',' && !angle) {
            flush(i);
            start = i + 1;
        }
        ++i;
    }
    flush(value.size());
    return result;
}

std::string MailAddress::addressForm() const {
    const bool hasName = !m_name.empty();
    const std::size_t at = m_address.rfind('@');
    if (m_address.empty() || at == std::string::npos)
        return hasName ? "<>" : "";
    const std::string_view local(m_address.data(), at);
    const std::string_view domain(m_address.data() + at, m_address.size() - at);
    for (char c : local) {
        if (isAtomChar(c))
            continue;
        if (c != '.')
            return "<\"" + escapeQuoted(local) + "\"" + std::string(domain) + ">";
        break;
    }
    return hasName ? "<" + m_address + ">" : m_address;
}

std::string MailAddress::text() const {
    if (m_name.empty() || equalsNoCase(m_name, m_address))
        return addressForm();
    bool plain = true;
    for (char c : m_name) {
        if (!isAtomChar(c) && c != ' ') {
            plain = false;
            break;
        }
    }
    if (plain)
        return m_name + " " + addressForm();
    return "\"" + escapeQuoted(m_name) + "\" " + addressForm();
}

} // namespace tarn
