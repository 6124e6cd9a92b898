#include "mime/ConvertMessageText.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"

#include <algorithm>
#include <cstddef>

namespace tarn {

namespace {

constexpr std::string_view kTildeLine =
    "~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~";
static_assert(kTildeLine.size() == 71);
constexpr std::string_view kStartText =
    "------------------- Start of converted HTML Message -------------------";
constexpr std::string_view kEndText =
    "-------------------- End of converted HTML Message --------------------";
constexpr std::string_view kCrLf = "\r\n";

// The pattern (lower case) stands at i, whatever the letter case of the text.
bool at(std::string_view s, std::size_t i, std::string_view pattern) {
    if (i > s.size() || s.size() - i < pattern.size())
        return false;
    for (std::size_t k = 0; k < pattern.size(); ++k) {
        if (lowerAscii(s[i + k]) != pattern[k])
            return false;
    }
    return true;
}

void appendBanner(std::string& out, std::string_view lead, std::string_view text) {
    out += lead;
    out += kTildeLine;
    out += kCrLf;
    out += text;
    out += kCrLf;
    out += kTildeLine;
    out += "\r\n\r\n";
}

bool isBreakChar(char c) {
    return c == ' ' || c == '\t' || c == '-' || c == '.';
}

bool isHtmlSpecial(char c) {
    return c == '\r' || c == ' ' || c == '&' || c == '<';
}

// Not CR, not a break character, not part of a multi-byte character: one column, one step.
bool isPlainAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80 && c != '\r' && !isBreakChar(c);
}

} // namespace

std::string convertHtmlParts(std::string_view b) {
    std::string out;
    out.reserve(b.size());
    const std::size_t n = b.size();
    bool inside = false;
    std::size_t p = 0; // 0-based; the text's last position is n - 1
    while (p < n) {
        // Tags always start with '<', so the common case costs one comparison.
        if (b[p] == '<') {
            if (at(b, p, "<html>")) {
                appendBanner(out, "\r\n\r\n", kStartText);
                inside = true;
                // The tag itself is dropped below as any other tag.
            } else if (at(b, p, "</html>")) {
                appendBanner(out, kCrLf, kEndText);
                inside = false;
                // Look again at what follows, so that a part starting right after this one
                // still gets its banner.
                p += 7;
                continue;
            }
        }
        if (!inside) {
            // Plain text is copied up to the next tag.
            const std::size_t next = b.find('<', p + 1);
            const std::size_t end = next == std::string_view::npos ? n : next;
            out.append(b.substr(p, end - p));
            p = end;
            continue;
        }
        const char c = b[p];
        if (!isHtmlSpecial(c)) {
            // A run of characters that no row of the table treats specially.
            std::size_t end = p + 1;
            while (end < n && !isHtmlSpecial(b[end]))
                ++end;
            out.append(b.substr(p, end - p));
            p = end;
        } else if (c == '\r' && p + 1 < n && b[p + 1] == '\n') {
            p += 2;
        } else if (c == ' ' && p + 1 < n && b[p + 1] == ' ') {
            p += 1;
        } else if (c == '&' && at(b, p, "&nbsp;")) {
            out += ' ';
            p += 6;
        } else if (c == '&' && at(b, p, "&#149;")) {
            out += kCrLf;
            p += 6;
        } else if (c == '<') {
            if (at(b, p, "<p>")) {
                out += kCrLf;
                p += 3;
            } else if (at(b, p, "<br>") || at(b, p, "</p>") || at(b, p, "<h1>") ||
                       at(b, p, "<h2>") || at(b, p, "<h3>") || at(b, p, "<h4>")) {
                out += kCrLf;
                p += 4;
            } else if (at(b, p, "</h1>") || at(b, p, "</h2>") || at(b, p, "</h3>") ||
                       at(b, p, "</h4>") || at(b, p, "</tr>")) {
                out += kCrLf;
                p += 5;
            } else if (at(b, p, "<style")) {
                // The block and its closing tag are dropped; an unterminated one runs to the end.
                do {
                    ++p;
                } while (!at(b, p, "</style>") && p + 1 < n);
                p += 8;
            } else {
                // Any other tag is dropped up to and including its '>'.
                do {
                    ++p;
                } while (p + 1 < n && b[p] != '>');
                p += 1;
            }
        } else {
            out += c;
            ++p;
        }
    }
    return out;
}

std::string wrapLines(std::string_view t) {
    constexpr int kColumns = 80;
    const std::size_t n = t.size();
    std::string out;
    out.reserve(n + n / 32);
    std::size_t pos = 0;       // next byte to read
    std::size_t lineStart = 0; // first byte of the current line
    std::size_t brk = 0;       // one past the last break character read (0: none yet)
    int col = 1;               // column of the next character to read
    int widthAfterBreak = 0;   // columns read since the break position
    bool lineBreak = false;    // an existing CR LF ended the line
    // Ends the line after the break position.
    const auto cutLine = [&] {
        col = 1 + widthAfterBreak;
        out.append(t.substr(lineStart, brk - lineStart));
        while (pos < n) {
            if (isBreakChar(t[pos]))
                pos += 1;
            else if (t[pos] == '\r' && pos + 1 < n && t[pos + 1] == '\n')
                pos += 2;
            else
                break;
        }
        // No break is inserted when fewer than two characters remain to be read.
        if (!lineBreak && pos < n && pos + utf8StepAt(t, pos).length < n)
            out.append(kCrLf);
        lineStart = brk;
        brk = lineStart;
        lineBreak = false;
    };
    while (pos < n) {
        const char c = t[pos];
        if (isPlainAscii(c)) {
            // A run of plain characters in one go, up to the column where a cut can happen.
            const bool canCut = brk > lineStart + 1 && col <= kColumns;
            const std::size_t limit =
                canCut ? std::min(n, pos + static_cast<std::size_t>(kColumns + 1 - col)) : n;
            std::size_t end = pos + 1;
            while (end < limit && isPlainAscii(t[end]))
                ++end;
            const int run = static_cast<int>(end - pos);
            pos = end;
            col += run;
            widthAfterBreak += run;
            if (col > kColumns && brk > lineStart + 1)
                cutLine();
            continue;
        }
        int width = 1;
        std::size_t length = 1;
        bool setsBreak = false;
        if (c == '\r') {
            if (pos + 1 < n && t[pos + 1] == '\n') {
                lineBreak = true;
                length = 2;
                setsBreak = true;
            }
        } else if (isBreakChar(c)) {
            setsBreak = true;
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            const Utf8Step step = utf8StepAt(t, pos);
            length = step.length;
            if (step.valid)
                width = columnWidth(step.codePoint);
        }
        pos += length;
        if (setsBreak) {
            brk = pos; // one past the break character (or past the LF)
            widthAfterBreak = 0;
        } else {
            widthAfterBreak += width;
        }
        col += width;
        // A break position counts only after the line's first character.
        if (lineBreak || (col > kColumns && brk > lineStart + 1))
            cutLine();
    }
    out.append(t.substr(lineStart));
    return out;
}

std::string ConvertMessageText(std::string_view body, bool ConvertHTML, bool WrapText) {
    if (!ConvertHTML && !WrapText)
        return std::string(body);
    if (!ConvertHTML)
        return wrapLines(body);
    std::string text = convertHtmlParts(body);
    return WrapText ? wrapLines(text) : text;
}

} // namespace tarn
