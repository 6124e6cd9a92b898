#include "mailproto/ImapSyncState.h"

#include "core/AsciiText.h"
#include "core/PrivateFile.h"
#include "core/TarnError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace {

constexpr const char* kMagic = "tarnwick-imap-state 1";
constexpr std::uint64_t kMaxNumber = 999999999999999999;

std::uint64_t fnv1a(std::string_view data, std::uint64_t h = 0xcbf29ce484222325ULL) {
    for (unsigned char c : data) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

std::string hex64(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

// Fields are separated by tabs and records by line ends, so those (and the escape itself)
// are written as escapes; everything else is kept byte for byte.
void appendEscaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\0':
            out += "\\0";
            break;
        default:
            out += c;
        }
    }
}

std::optional<std::string> unescape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t k = 0; k < s.size(); ++k) {
        if (s[k] != '\\') {
            out += s[k];
            continue;
        }
        if (++k == s.size())
            return std::nullopt;
        switch (s[k]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case '0':
            out += '\0';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string_view> splitOn(std::string_view s, char sep) {
    std::vector<std::string_view> out;
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = s.find(sep, from);
        if (at == std::string_view::npos) {
            out.push_back(s.substr(from));
            return out;
        }
        out.push_back(s.substr(from, at - from));
        from = at + 1;
    }
}

std::optional<std::int64_t> number(std::string_view s) {
    const std::optional<std::uint64_t> n = parseDecimal(s, kMaxNumber);
    if (!n)
        return std::nullopt;
    return static_cast<std::int64_t>(*n);
}

} // namespace

std::int64_t ImapSyncState::total() const {
    std::int64_t sum = 0;
    for (const Message& m : messages)
        sum += m.size;
    return sum;
}

std::string ImapSyncState::serialize() const {
    std::string out;
    out.reserve(64 + messages.size() * 160);
    out += kMagic;
    out += "\nkey ";
    appendEscaped(out, key);
    out += "\nmailbox " + std::to_string(uidValidity) + ' ' + std::to_string(uidNext) + ' ' +
           std::to_string(highestModSeq) + ' ' + std::to_string(messages.size()) + ' ' +
           std::to_string(total());
    // The first lines carry a checksum of their own, so they can be trusted without the rest.
    out += ' ' + hex64(fnv1a(out)) + '\n';
    for (const Message& m : messages) {
        out += std::to_string(m.uid);
        out += '\t';
        out += std::to_string(m.size);
        for (const std::string* f :
             {&m.fields.subject, &m.fields.senderName, &m.fields.senderAddress, &m.fields.date,
              &m.fields.messageId}) {
            out += '\t';
            appendEscaped(out, *f);
        }
        out += '\n';
    }
    out += "end " + hex64(fnv1a(out)) + '\n';
    return out;
}

namespace {

// The first three lines (without their line ends): the header's own fields, or nullopt.
std::optional<ImapSyncState> parseHeaderLines(std::string_view magic, std::string_view keyLine,
                                              std::string_view mailboxLine) {
    if (magic != kMagic || keyLine.substr(0, 4) != "key ")
        return std::nullopt;
    const std::size_t lastSpace = mailboxLine.rfind(' ');
    if (lastSpace == std::string_view::npos)
        return std::nullopt;
    std::string covered = std::string(magic) + '\n';
    covered += keyLine;
    covered += '\n';
    covered += mailboxLine.substr(0, lastSpace);
    if (mailboxLine.substr(lastSpace + 1) != hex64(fnv1a(covered)))
        return std::nullopt;
    ImapSyncState s;
    std::optional<std::string> key = unescape(keyLine.substr(4));
    if (!key)
        return std::nullopt;
    s.key = std::move(*key);
    const std::vector<std::string_view> head = splitOn(mailboxLine.substr(0, lastSpace), ' ');
    if (head.size() != 6 || head[0] != "mailbox")
        return std::nullopt;
    const std::optional<std::int64_t> validity = number(head[1]);
    const std::optional<std::int64_t> next = number(head[2]);
    const std::optional<std::int64_t> modseq = number(head[3]);
    const std::optional<std::int64_t> count = number(head[4]);
    const std::optional<std::int64_t> total = number(head[5]);
    if (!validity || !next || !modseq || !count || !total || *validity < 1)
        return std::nullopt;
    s.uidValidity = *validity;
    s.uidNext = *next;
    s.highestModSeq = *modseq;
    s.count = static_cast<std::size_t>(*count);
    s.totalSize = *total;
    return s;
}

} // namespace

std::optional<ImapSyncState> ImapSyncState::parse(const std::string& text) {
    // The last line is the checksum of everything before it.
    if (text.size() < 2 || text.back() != '\n')
        return std::nullopt;
    const std::size_t endLine = text.rfind('\n', text.size() - 2);
    if (endLine == std::string::npos)
        return std::nullopt;
    const std::string_view body = std::string_view(text).substr(0, endLine + 1);
    const std::string_view last =
        std::string_view(text).substr(endLine + 1, text.size() - endLine - 2);
    if (last != "end " + hex64(fnv1a(body)))
        return std::nullopt;

    std::vector<std::string_view> lines = splitOn(body.substr(0, body.size() - 1), '\n');
    if (lines.size() < 3)
        return std::nullopt;
    std::optional<ImapSyncState> header = parseHeaderLines(lines[0], lines[1], lines[2]);
    if (!header || header->count != lines.size() - 3)
        return std::nullopt;
    ImapSyncState s = std::move(*header);
    s.messages.reserve(s.count);
    std::int64_t previous = 0;
    for (std::size_t k = 3; k < lines.size(); ++k) {
        const std::vector<std::string_view> f = splitOn(lines[k], '\t');
        if (f.size() != 7)
            return std::nullopt;
        Message m;
        const std::optional<std::int64_t> uid = number(f[0]);
        const std::optional<std::int64_t> size = number(f[1]);
        if (!uid || !size || *uid <= previous || (s.uidNext > 0 && *uid >= s.uidNext))
            return std::nullopt;
        m.uid = previous = *uid;
        m.size = *size;
        std::string* fields[] = {&m.fields.subject, &m.fields.senderName, &m.fields.senderAddress,
                                 &m.fields.date, &m.fields.messageId};
        for (std::size_t j = 0; j < 5; ++j) {
            std::optional<std::string> v = unescape(f[2 + j]);
            if (!v)
                return std::nullopt;
            *fields[j] = std::move(*v);
        }
        s.messages.push_back(std::move(m));
    }
    if (s.total() != s.totalSize)
        return std::nullopt;
    return s;
}

std::optional<ImapSyncState> ImapSyncState::loadHeader(const std::string& path) {
    // The key names a server, a user and a mailbox: the first lines are far below this.
    constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
    std::ifstream in(path, std::ios::binary);
    std::string text(kMaxHeaderBytes, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    std::string_view rest = text;
    std::string_view lines[3];
    for (std::string_view& line : lines) {
        const std::size_t nl = rest.find('\n');
        if (nl == std::string_view::npos)
            return std::nullopt;
        line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
    }
    return parseHeaderLines(lines[0], lines[1], lines[2]);
}

std::optional<ImapSyncState> ImapSyncState::load(const std::string& path, std::size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > maxBytes)
        return std::nullopt;
    in.seekg(0);
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!in.read(text.data(), size))
        return std::nullopt;
    return parse(text);
}

void ImapSyncState::save(const std::string& path) const {
    // No fsync: a file cut short by a crash fails its checksum, and the next check then
    // makes a full pass.
    if (const int err = replaceFile(path + ".XXXXXX", path, serialize(), kPrivateFileMode, false))
        throw TarnError(ErrorKind::LocalError, "The state of the mailbox could not be written to " +
                                                   path + ": " + std::strerror(err));
}

std::string imapSyncStateFileName(const std::string& host, int port, const std::string& user,
                                  const std::string& mailbox) {
    std::string id = host;
    id += '\0';
    id += std::to_string(port);
    id += '\0';
    id += user;
    id += '\0';
    id += mailbox;
    return "MailDB.imap-" + hex64(fnv1a(id)) + ".state";
}

} // namespace tarn
