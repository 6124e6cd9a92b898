#include "mime/MailMessage.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "core/Utf8.h"
#include "mime/Base64.h"
#include "mime/Charset.h"
#include "mime/EncodedWordDecoder.h"
#include "mime/MailAddress.h"
#include "mime/MessageDate.h"
#include "mime/MimeParameters.h"
#include "mime/QuotedPrintable.h"

#include <algorithm>
#include <optional>

namespace tarn {

namespace {

const char* const kUnknownPartType = "Unknown Message Part Type.";

// "--" + boundary (+ "--" when closing), boundary held in upper case.
bool isBoundaryLine(std::string_view line, std::string_view boundary, bool closing) {
    const std::size_t want = 2 + boundary.size() + (closing ? 2 : 0);
    if (line.size() != want || line[0] != '-' || line[1] != '-')
        return false;
    if (closing && (line[want - 2] != '-' || line[want - 1] != '-'))
        return false;
    for (std::size_t i = 0; i < boundary.size(); ++i)
        if (upperAscii(line[2 + i]) != boundary[i])
            return false;
    return true;
}

enum class Encoding { None, Base64, QuotedPrintable };

Encoding encodingOf(std::string_view cte) {
    cte = trimSpaceTab(cte);
    if (equalsNoCase(cte, "base64"))
        return Encoding::Base64;
    if (equalsNoCase(cte, "quoted-printable"))
        return Encoding::QuotedPrintable;
    return Encoding::None;
}

bool isAttachment(std::string_view contentType, std::string_view disposition) {
    if (equalsNoCase(trimSpaceTab(disposition.substr(0, disposition.find(';'))), "attachment"))
        return true;
    for (std::size_t i = 0; i + 4 <= contentType.size(); ++i)
        if (upperAscii(contentType[i]) == 'N' && upperAscii(contentType[i + 1]) == 'A' &&
            upperAscii(contentType[i + 2]) == 'M' && upperAscii(contentType[i + 3]) == 'E')
            return true;
    return false;
}

// Splits decoded text at CR, LF or CR LF; a break at the very end adds no empty line.
void appendTextLines(std::string_view text, std::vector<std::string>& out) {
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            out.emplace_back(text.substr(start, i - start));
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size())
        out.emplace_back(text.substr(start));
}

struct Part {
    std::string contentType; // the whole field, parameters included
    std::string transferEncoding;
    std::string disposition;
    bool attachment = false;
    int group = 0; // the multipart/alternative it belongs to
    std::uint64_t encodedSize = 0;
    std::vector<std::string> lines;
};

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// Whether a part is listed as an attachment rather than shown: so marked, named, or of a
// type that is no text (a forwarded message is shown, a multipart holds the parts).
bool listedAsAttachment(std::string_view contentType, std::string_view disposition) {
    const std::string type = mediaType(contentType);
    if (type == "message/rfc822" || startsWith(type, "multipart/"))
        return false;
    return isAttachment(contentType, disposition) || (!type.empty() && !startsWith(type, "text/"));
}

bool containsHtmlTag(std::string_view text) {
    for (std::size_t p = text.find('<'); p != std::string_view::npos; p = text.find('<', p + 1)) {
        const std::string_view rest = text.substr(p);
        if ((rest.size() >= 5 && equalsNoCase(rest.substr(0, 5), "<html")) ||
            (rest.size() >= 9 && equalsNoCase(rest.substr(0, 9), "<!doctype")))
            return true;
    }
    return false;
}

// RFC 3676: a line ending in a space continues on the next one of the same quote depth;
// space-stuffing is undone; the signature separator stays a line of its own.
std::vector<std::string> joinFlowed(const std::vector<std::string>& lines, bool delSp) {
    std::vector<std::string> out;
    std::string current;
    std::size_t currentDepth = 0;
    bool open = false;
    for (const std::string& line : lines) {
        std::size_t depth = 0;
        while (depth < line.size() && line[depth] == '>')
            ++depth;
        std::string_view content = std::string_view(line).substr(depth);
        if (!content.empty() && content.front() == ' ')
            content.remove_prefix(1);
        if (open && (depth != currentDepth || content == "-- ")) {
            out.push_back(std::move(current));
            open = false;
        }
        if (!open) {
            current = std::string(depth, '>');
            if (depth > 0)
                current.push_back(' ');
            currentDepth = depth;
        }
        current += content;
        const bool soft = !content.empty() && content.back() == ' ' && content != "-- ";
        if (soft) {
            if (delSp)
                current.pop_back();
            open = true;
        } else {
            out.push_back(std::move(current));
            current.clear();
            open = false;
        }
    }
    if (open)
        out.push_back(std::move(current));
    return out;
}

// Text of decoded bytes in a declared charset; without one (or an unknown one) UTF-8 when
// valid, else Windows-1252.
std::string textInCharset(const std::string& charset, std::string_view bytes) {
    if (!charset.empty())
        if (std::optional<std::string> text = Charset::toUtf8(charset, bytes))
            return std::move(*text);
    return bytesToUtf8(bytes);
}

// Lines of text in a part's media type: flowed text joined, HTML given its <html> tag.
std::vector<std::string> presentedLines(std::vector<std::string> lines,
                                        std::string_view contentType, bool& html) {
    const std::string type = mediaType(contentType);
    html = type == "text/html";
    if ((type.empty() || type == "text/plain") &&
        equalsNoCase(mimeParameter(contentType, "format"), "flowed"))
        return joinFlowed(lines, equalsNoCase(mimeParameter(contentType, "delsp"), "yes"));
    if (html) {
        bool tagged = false;
        for (const std::string& l : lines)
            if (containsHtmlTag(l)) {
                tagged = true;
                break;
            }
        if (!tagged) {
            lines.insert(lines.begin(), "<html>");
            lines.push_back("</html>");
        }
    }
    return lines;
}

std::string forwardedMessageText(std::string_view raw);

enum class PartEnd { EndOfMessage, NextPart, Closed };

// Reads a body as a flat sequence of parts; see MailMessage::readBody.
class BodyReader {
public:
    BodyReader(const LineReader& next, const MailMessage::Framing& framing,
               std::vector<std::string>& stack, std::vector<std::string>& plain,
               std::vector<MailMessage::TextPart>& parts,
               std::vector<MailMessage::Attachment>& attachments)
        : m_next(next), m_framing(framing), m_stack(stack), m_plain(plain), m_parts(parts),
          m_attachments(attachments) {}

    void run(const MailMessage& message) {
        const Encoding wholeBody = encodingOf(message.contentTransferEncoding());
        m_groups.assign(m_stack.size(), 0);
        if (!m_groups.empty() && mediaType(message.contentTypeField()) == "multipart/alternative")
            m_groups.back() = ++m_nextGroup;
        std::string line;
        while (fetch(line)) {
            PartEnd end;
            if (!m_stack.empty() && isBoundaryLine(line, m_stack.back(), false)) {
                end = readParts();
            } else if (!m_stack.empty() && isBoundaryLine(line, m_stack.back(), true)) {
                // The end of an enclosing multipart right after a nested one ended: no text.
                m_stack.pop_back();
                if (!m_groups.empty())
                    m_groups.pop_back();
                continue;
            } else if (wholeBody != Encoding::None) {
                Part part;
                part.contentType = message.contentTypeField();
                part.transferEncoding = message.contentTransferEncoding();
                part.disposition = message.contentDisposition();
                part.attachment =
                    listedAsAttachment(message.contentTypeField(), message.contentDisposition());
                addLine(part, std::move(line));
                end = readPartBody(part);
                if (end == PartEnd::NextPart)
                    end = readParts();
            } else {
                if (m_framing.dotStuffed && line.size() >= 2 && line[0] == '.' && line[1] == '.')
                    line.erase(0, 1);
                m_plain.push_back(std::move(line));
                continue;
            }
            if (end == PartEnd::EndOfMessage)
                return;
            m_stack.pop_back();
            if (!m_groups.empty())
                m_groups.pop_back();
        }
    }

private:
    bool fetch(std::string& line) {
        return m_next(line) && !(m_framing.hasEndLine && line == m_framing.endLine);
    }

    // Parts following a "--boundary" line, until the boundary is closed or the message ends.
    PartEnd readParts() {
        for (;;) {
            Part part = readPartHeader();
            const PartEnd end = readPartBody(part);
            if (end != PartEnd::NextPart)
                return end;
        }
    }

    Part readPartHeader() {
        std::vector<std::string> header;
        std::string line;
        for (;;) {
            if (!fetch(line))
                throw TarnError(kUnknownPartType);
            if (line.empty())
                break;
            if (isSpaceOrTab(line[0]) && !header.empty()) {
                header.back().push_back(' ');
                header.back().append(line, 1, std::string::npos);
            } else {
                header.push_back(std::move(line));
            }
        }
        Part part;
        part.contentType = MailMessage::fieldValue(header, "Content-Type");
        part.transferEncoding = MailMessage::fieldValue(header, "Content-Transfer-Encoding");
        part.disposition = MailMessage::fieldValue(header, "Content-Disposition");
        part.attachment = listedAsAttachment(part.contentType, part.disposition);
        const int group = m_groups.empty() ? 0 : m_groups.back();
        part.group = group;
        std::string boundary = MailMessage::boundaryOf(part.contentType);
        if (!boundary.empty()) {
            m_stack.push_back(std::move(boundary));
            m_groups.push_back(
                mediaType(part.contentType) == "multipart/alternative" ? ++m_nextGroup : group);
        }
        return part;
    }

    void addLine(Part& part, std::string line) {
        if (part.attachment) {
            part.encodedSize += line.size(); // its data is not kept, only its size
            return;
        }
        if (m_framing.dotStuffed && !line.empty() && line[0] == '.')
            line.erase(0, 1);
        part.lines.push_back(std::move(line));
    }

    PartEnd readPartBody(Part& part) {
        std::string line;
        PartEnd end = PartEnd::EndOfMessage;
        while (fetch(line)) {
            if (!m_stack.empty() && isBoundaryLine(line, m_stack.back(), false)) {
                end = PartEnd::NextPart;
                break;
            }
            if (!m_stack.empty() && isBoundaryLine(line, m_stack.back(), true)) {
                end = PartEnd::Closed;
                break;
            }
            addLine(part, std::move(line));
        }
        finish(part);
        return end;
    }

    void finish(Part& part) {
        const Encoding encoding = encodingOf(part.transferEncoding);
        const std::string type = mediaType(part.contentType);
        if (part.attachment) {
            std::string name = mimeParameter(part.disposition, "filename");
            if (name.empty())
                name = mimeParameter(part.contentType, "name");
            const std::uint64_t size =
                encoding == Encoding::Base64 ? part.encodedSize / 4 * 3 : part.encodedSize;
            m_attachments.push_back({std::move(name), type.empty() ? "text/plain" : type, size});
            return;
        }
        if (startsWith(type, "multipart/"))
            return; // the text before its first part, meant for readers without MIME
        std::string decoded;
        switch (encoding) {
        case Encoding::Base64: {
            std::string joined;
            std::size_t total = 0;
            for (const auto& l : part.lines)
                total += l.size();
            joined.reserve(total);
            for (const auto& l : part.lines)
                joined += l;
            decoded = Base64::decode(joined);
            break;
        }
        case Encoding::QuotedPrintable:
            decoded = QuotedPrintable::decodeLines(part.lines);
            break;
        case Encoding::None:
            for (const auto& l : part.lines) {
                decoded += l;
                decoded += "\r\n";
            }
            break;
        }
        MailMessage::TextPart text;
        text.alternativeGroup = part.group;
        std::vector<std::string> lines;
        if (type == "message/rfc822") {
            appendTextLines(forwardedMessageText(decoded), lines);
        } else {
            appendTextLines(textInCharset(mimeParameter(part.contentType, "charset"), decoded),
                            lines);
            lines = presentedLines(std::move(lines), part.contentType, text.html);
        }
        text.lines = std::move(lines);
        text.contentType = std::move(part.contentType);
        text.transferEncoding = std::move(part.transferEncoding);
        m_parts.push_back(std::move(text));
    }

    const LineReader& m_next;
    const MailMessage::Framing& m_framing;
    std::vector<std::string>& m_stack;
    std::vector<std::string>& m_plain;
    std::vector<MailMessage::TextPart>& m_parts;
    std::vector<MailMessage::Attachment>& m_attachments;
    std::vector<int> m_groups; // the alternative group of each boundary on the stack
    int m_nextGroup = 0;
};

// A forwarded message as its reader sees it: From, Subject and Date, then its text. Nested
// ones beyond a few levels are shown as they came.
std::string forwardedMessageText(std::string_view raw) {
    thread_local int depth = 0;
    if (depth >= 8)
        return bytesToUtf8(raw);
    ++depth;
    struct Leave {
        ~Leave() { --depth; }
    } leave;
    const std::vector<std::string> lines = splitReceivedLines(raw);
    std::vector<std::string> header;
    std::size_t i = 0;
    for (; i < lines.size() && !lines[i].empty(); ++i)
        header.push_back(lines[i]);
    const bool hasBody = i < lines.size();
    const std::vector<std::string> body(
        lines.begin() + static_cast<long>(std::min(i + 1, lines.size())), lines.end());
    const MailMessage inner = decodeFetchedMessage(header, hasBody, body, systemClock());
    std::string out = "From: " + inner.senderText() + "\r\nSubject: " + inner.subject() +
                      "\r\nDate: " + EncodedWordDecoder::decode(inner.fieldValue("Date")) +
                      "\r\n\r\n";
    out += inner.bodyText();
    return out;
}

} // namespace

void MailMessage::clear() {
    *this = MailMessage();
}

void MailMessage::addHeaderLine(std::string line) {
    if (!line.empty())
        m_headerLines.push_back(std::move(line));
}

std::string MailMessage::fieldValue(const std::vector<std::string>& lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() <= name.size() || line[name.size()] != ':' ||
            !equalsNoCase(std::string_view(line).substr(0, name.size()), name))
            continue;
        std::string value = line.substr(name.size() + 1);
        for (std::size_t k = i + 1; k < lines.size(); ++k) {
            const std::string& next = lines[k];
            if (next.empty() || !isSpaceOrTab(next[0]))
                break;
            std::size_t from = 0;
            while (from < next.size() && isSpaceOrTab(next[from]))
                ++from;
            if (!value.empty() && !isSpaceOrTab(value.back()))
                value.push_back(' ');
            value.append(next, from, std::string::npos);
        }
        std::size_t lead = 0;
        while (lead < value.size() && isSpaceOrTab(value[lead]))
            ++lead;
        value.erase(0, lead);
        return value;
    }
    return {};
}

std::string MailMessage::cutAtCharset(std::string_view contentType) {
    static constexpr std::string_view kWord = "charset";
    for (std::size_t p = 0; p + kWord.size() < contentType.size(); ++p) {
        if (p > 0) {
            const char before = contentType[p - 1];
            if (!isSpaceOrTab(before) && before != ';')
                continue;
        }
        const char after = contentType[p + kWord.size()];
        if (!isSpaceOrTab(after) && after != '=')
            continue;
        if (!equalsNoCase(contentType.substr(p, kWord.size()), kWord))
            continue;
        std::size_t end = p;
        while (end > 0 && (isSpaceOrTab(contentType[end - 1]) || contentType[end - 1] == ';'))
            --end;
        return std::string(contentType.substr(0, end));
    }
    return std::string(contentType);
}

std::string MailMessage::boundaryOf(std::string_view contentType) {
    std::string up(contentType);
    for (char& c : up)
        c = upperAscii(c);
    static constexpr std::string_view kKey = "BOUNDARY=";
    const std::size_t p = up.find(kKey);
    if (p == std::string::npos)
        return {};
    std::string rest = up.substr(p + kKey.size());
    if (!rest.empty() && rest[0] == '"') {
        const std::size_t close = rest.find('"', 1);
        return rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return rest;
}

void MailMessage::deriveHeaderFields(const Clock& clock) {
    m_contentType.clear();
    m_transferEncoding.clear();
    m_disposition.clear();
    m_subject.clear();
    m_senderName.clear();
    m_senderAddress.clear();
    m_messageId.clear();
    m_date = 0;
    m_boundaries.clear();

    m_fullContentType = fieldValue("Content-Type");
    m_charset = mimeParameter(m_fullContentType, "charset");
    m_contentType = cutAtCharset(m_fullContentType);
    m_transferEncoding = fieldValue("Content-Transfer-Encoding");
    m_disposition = fieldValue("Content-Disposition");
    m_subject = EncodedWordDecoder::decode(fieldValue("Subject"));
    // Parsed before decoding, so that a decoded comma, quote or angle bracket in the display
    // name is text, not syntax; the envelope of IMAP4 hands over the same two parts.
    MailAddress from = MailAddress::parse(fieldValue("From"));
    m_senderName = EncodedWordDecoder::decode(from.name());
    m_senderAddress = EncodedWordDecoder::decode(from.address());
    m_messageId = fieldValue("Message-Id");
    // Read only so that a malformed one stops the derivation as a malformed sender does.
    for (const char* field : {"To", "Cc", "Reply-To"})
        MailAddress::parseList(fieldValue(field));
    m_date = MessageDate::decode(fieldValue("Date"), clock);
    // An empty boundary would make every "--" line a part start, so it counts as none.
    std::string boundary = boundaryOf(m_contentType);
    if (!boundary.empty())
        m_boundaries.push_back(std::move(boundary));
}

void MailMessage::readBody(const LineReader& next, const Framing& framing) {
    BodyReader reader(next, framing, m_boundaries, m_plainLines, m_textParts, m_attachments);
    reader.run(*this);
}

void MailMessage::noteFailure(const std::string& text) {
    if (m_failure.empty())
        m_failure = text;
}

void MailMessage::readHeader(const LineReader& next, const Clock& clock, const Framing& framing) {
    std::string line;
    while (next(line) && !(framing.hasEndLine && line == framing.endLine))
        addHeaderLine(std::move(line));
    try {
        deriveHeaderFields(clock);
    } catch (const TarnError& e) {
        noteFailure(e.what());
        throw;
    }
}

void MailMessage::readMessage(const LineReader& next, const Clock& clock, const Framing& framing) {
    std::string line;
    bool hasBody = false;
    while (next(line)) {
        if (framing.hasEndLine && line == framing.endLine)
            break;
        if (line.empty()) {
            hasBody = true;
            break;
        }
        addHeaderLine(std::move(line));
    }
    std::string firstFailure;
    try {
        deriveHeaderFields(clock);
    } catch (const TarnError& e) {
        firstFailure = e.what();
    }
    if (hasBody) {
        try {
            readBody(next, framing);
        } catch (const TarnError& e) {
            if (firstFailure.empty())
                firstFailure = e.what();
        }
    }
    if (!firstFailure.empty()) {
        noteFailure(firstFailure);
        throw TarnError(firstFailure);
    }
}

std::string MailMessage::senderText() const {
    return MailAddress(m_senderName, m_senderAddress).text();
}

std::string MailMessage::headerText() const {
    std::string out;
    for (const auto& l : m_headerLines) {
        out += l;
        out += "\r\n";
    }
    return out;
}

std::string MailMessage::bodyText() const {
    std::vector<std::string> plain;
    if (startsWith(mediaType(m_fullContentType), "multipart/")) {
        // Only the note before the first part and after the last: shown as received.
        for (const auto& l : m_plainLines)
            plain.push_back(bytesToUtf8(l));
    } else if (!m_plainLines.empty()) {
        std::string joined;
        for (const auto& l : m_plainLines) {
            joined += l;
            joined += "\r\n";
        }
        appendTextLines(textInCharset(m_charset, joined), plain);
        bool html = false;
        plain = presentedLines(std::move(plain), m_fullContentType, html);
    }
    // Alternatives that offer plain text show only that.
    std::vector<int> withPlain;
    for (const auto& p : m_textParts)
        if (p.alternativeGroup != 0 && !p.html)
            withPlain.push_back(p.alternativeGroup);
    const auto shown = [&](const TextPart& p) {
        return !p.html || p.alternativeGroup == 0 ||
               std::find(withPlain.begin(), withPlain.end(), p.alternativeGroup) == withPlain.end();
    };
    std::string out;
    const auto addLine = [&out](std::string_view l) {
        out += l;
        out += "\r\n";
    };
    for (const auto& l : plain)
        addLine(l);
    for (const auto& p : m_textParts)
        if (shown(p))
            for (const auto& l : p.lines)
                addLine(l);
    if (!m_attachments.empty()) {
        if (!out.empty())
            addLine("");
        for (const Attachment& a : m_attachments) {
            std::string size;
            if (a.size < 1024)
                size = std::to_string(a.size) + " bytes";
            else if (a.size < 1024 * 1024)
                size = std::to_string((a.size + 512) / 1024) + " KB";
            else
                size = std::to_string(a.size / (1024 * 1024)) + "." +
                       std::to_string(a.size % (1024 * 1024) * 10 / (1024 * 1024)) + " MB";
            addLine("[Attachment: " + (a.name.empty() ? std::string("(no name)") : a.name) + ", " +
                    a.type + ", " + size + "]");
        }
    }
    return out;
}

std::string decodeHeaderValue(std::string_view raw) {
    std::vector<std::string> lines = splitReceivedLines(raw);
    if (lines.empty())
        return {};
    // Stated as a field so that unfolding follows exactly the rule header lines get.
    lines.front().insert(0, "X:");
    for (std::size_t i = 1; i < lines.size(); ++i)
        if (lines[i].empty() || !isSpaceOrTab(lines[i][0]))
            lines[i].insert(0, " ");
    return EncodedWordDecoder::decode(MailMessage::fieldValue(lines, "X"));
}

LineReader vectorLineReader(const std::vector<std::string>& lines) {
    return [&lines, i = std::size_t{0}](std::string& line) mutable {
        if (i >= lines.size())
            return false;
        line = lines[i++];
        return true;
    };
}

std::vector<std::string> splitReceivedLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        if (lf == std::string_view::npos) {
            lines.emplace_back(bytes.substr(start));
            break;
        }
        std::size_t end = lf;
        if (end > start && bytes[end - 1] == '\r')
            --end;
        lines.emplace_back(bytes.substr(start, end - start));
        start = lf + 1;
    }
    return lines;
}

MailMessage decodeMessage(const std::vector<std::string>& lines, bool headersOnly,
                          const Clock& clock) {
    MailMessage message;
    const LineReader reader = vectorLineReader(lines);
    try {
        if (headersOnly)
            message.readHeader(reader, clock);
        else
            message.readMessage(reader, clock);
    } catch (const TarnError&) {
        // Kept in failure(); the fields read before it stay.
    }
    return message;
}

MailMessage decodeFetchedMessage(const std::vector<std::string>& headerLines, bool hasBody,
                                 const std::vector<std::string>& bodyLines, const Clock& clock) {
    MailMessage message;
    const MailMessage::Framing framing = MailMessage::Framing::collected();
    const LineReader header = vectorLineReader(headerLines);
    try {
        message.readHeader(header, clock, framing);
    } catch (const TarnError&) {
        // Kept in failure(); the body is still read, as from the connection.
    }
    if (hasBody) {
        try {
            message.readBody(vectorLineReader(bodyLines), framing);
        } catch (const TarnError& e) {
            if (message.failure().empty())
                message.noteFailure(e.what());
        }
    }
    return message;
}

} // namespace tarn
