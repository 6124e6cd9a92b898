#include "mime/ConvertMessageText.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"
#include "mime/HtmlToText.h"

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

// Not CR, not a break character, not part of a multi-byte character: one column, one step.
bool isPlainAscii(char c) {
    return static_cast<unsigned char>(c) < 0x80 && c != '\r' && !isBreakChar(c);
}

// Where an HTML document starts at or after from: "<html" as a whole tag name (attributes
// allowed) or a "<!doctype html" before it.
std::size_t findHtmlStart(std::string_view b, std::size_t from) {
    for (std::size_t p = b.find('<', from); p != std::string_view::npos; p = b.find('<', p + 1)) {
        if (at(b, p, "<!doctype html"))
            return p;
        if (at(b, p, "<html")) {
            const char next = p + 5 < b.size() ? b[p + 5] : '>';
            if (next == '>' || next == '/' || isSpaceOrTab(next) || next == '\r' || next == '\n')
                return p;
        }
    }
    return std::string_view::npos;
}

std::size_t findHtmlEnd(std::string_view b, std::size_t from) {
    for (std::size_t p = b.find('<', from); p != std::string_view::npos; p = b.find('<', p + 1))
        if (at(b, p, "</html>"))
            return p;
    return std::string_view::npos;
}

} // namespace

std::string convertHtmlParts(std::string_view b) {
    std::string out;
    out.reserve(b.size());
    std::size_t p = 0;
    for (;;) {
        const std::size_t start = findHtmlStart(b, p);
        if (start == std::string_view::npos)
            break;
        out.append(b.substr(p, start - p));
        const std::size_t end = findHtmlEnd(b, start);
        appendBanner(out, "\r\n\r\n", kStartText);
        out += htmlToText(
            b.substr(start, end == std::string_view::npos ? b.size() - start : end + 7 - start));
        if (end == std::string_view::npos)
            return out; // an unclosed document runs to the end, without an end banner
        appendBanner(out, kCrLf, kEndText);
        p = end + 7;
    }
    out.append(b.substr(p));
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
