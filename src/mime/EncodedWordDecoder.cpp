#include "mime/EncodedWordDecoder.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"
#include "mime/Base64.h"
#include "mime/Charset.h"

#include <algorithm>
#include <optional>

namespace tarn {

namespace {

// Longer than RFC 2047's 75 characters, since mailers exceed it, but bounded so that a value
// full of "=?" stays linear to scan.
constexpr std::size_t kMaxWordLength = 1000;

struct Word {
    std::size_t end = 0;      // one past the closing "?="
    std::string_view charset; // with any "*language" suffix
    std::string bytes;        // decoded, still in the charset
};

bool isFoldingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::optional<std::string> decodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=') {
            if (text.size() - i < 3)
                return std::nullopt;
            const int hi = hexDigitValue(text[i + 1]);
            const int lo = hexDigitValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

bool isBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::optional<std::string> decodeB(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && text[n - 1] == '=')
        --n;
    if (text.size() - n > 2)
        return std::nullopt;
    for (std::size_t i = 0; i < n; ++i)
        if (!isBase64Char(text[i]))
            return std::nullopt;
    // Missing padding is common and harmless: decode the whole groups, then the rest.
    std::string padded(text.substr(0, n));
    if (padded.size() % 4 == 1)
        return std::nullopt;
    while (padded.size() % 4 != 0)
        padded.push_back('=');
    std::string out = Base64::decode(padded);
    return out;
}

// The encoded word starting at i ("=?" there), or nullopt when it is not one.
std::optional<Word> wordAt(std::string_view s, std::size_t i) {
    const std::size_t limit = std::min(s.size(), i + kMaxWordLength);
    std::size_t q1 = i + 2;
    while (q1 < limit && s[q1] != '?' && !isFoldingSpace(s[q1]))
        ++q1;
    if (q1 >= limit || s[q1] != '?' || q1 == i + 2)
        return std::nullopt;
    if (q1 + 2 >= limit || s[q1 + 2] != '?')
        return std::nullopt;
    const char encoding = upperAscii(s[q1 + 1]);
    if (encoding != 'Q' && encoding != 'B')
        return std::nullopt;
    const std::size_t textStart = q1 + 3;
    std::size_t close = textStart;
    while (close + 1 < limit && !(s[close] == '?' && s[close + 1] == '=')) {
        if (isFoldingSpace(s[close]))
            return std::nullopt;
        ++close;
    }
    if (close + 1 >= limit)
        return std::nullopt;
    const std::string_view text = s.substr(textStart, close - textStart);
    std::optional<std::string> bytes = encoding == 'Q' ? decodeQ(text) : decodeB(text);
    if (!bytes)
        return std::nullopt;
    return Word{close + 2, s.substr(i + 2, q1 - i - 2), std::move(*bytes)};
}

std::string_view charsetName(std::string_view charset) {
    return charset.substr(0, charset.find('*'));
}

// Appends raw header text: as it is when the whole value is UTF-8, else as Windows-1252.
void appendRaw(std::string& out, std::string_view raw, bool utf8) {
    if (utf8) {
        out.append(raw);
        return;
    }
    for (char c : raw)
        appendUtf8(out, windows1252ToUnicode(static_cast<unsigned char>(c)));
}

} // namespace

std::string EncodedWordDecoder::iso2022JpToShiftJis(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    bool twoByte = false;
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        if (c == 0x1B && i + 2 < in.size()) {
            const char a = in[i + 1];
            const char b = in[i + 2];
            if (a == '$' && (b == 'B' || b == '@')) {
                twoByte = true;
                i += 3;
                continue;
            }
            if (a == '(' && (b == 'B' || b == 'J')) {
                twoByte = false;
                i += 3;
                continue;
            }
        }
        if (twoByte && i + 1 < in.size()) {
            const unsigned int j1 = c;
            const unsigned int j2 = static_cast<unsigned char>(in[i + 1]);
            if (j1 >= 0x21 && j1 <= 0x7E && j2 >= 0x21 && j2 <= 0x7E) {
                const unsigned int s1 = ((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0);
                unsigned int s2;
                if (j1 & 1)
                    s2 = j2 + (j2 >= 0x60 ? 0x20 : 0x1F);
                else
                    s2 = j2 + 0x7E;
                out.push_back(static_cast<char>(s1));
                out.push_back(static_cast<char>(s2));
                i += 2;
                continue;
            }
        }
        out.push_back(static_cast<char>(c));
        ++i;
    }
    return out;
}

std::string EncodedWordDecoder::decode(std::string_view value) {
    const bool utf8 = isValidUtf8(value);
    std::string out;
    out.reserve(value.size());

    // A run of adjacent words in one charset, waiting for conversion.
    std::size_t runStart = 0; // where its first word starts in value
    std::size_t runEnd = 0;   // one past its last word
    std::string_view runCharset;
    std::string runBytes;
    bool inRun = false;
    const auto flush = [&] {
        if (!inRun)
            return;
        if (std::optional<std::string> text = Charset::toUtf8(runCharset, runBytes))
            out += *text;
        else
            appendRaw(out, value.substr(runStart, runEnd - runStart), utf8);
        inRun = false;
        runBytes.clear();
    };

    std::size_t pos = 0; // start of the text not yet handled
    while (pos < value.size()) {
        const std::size_t start = value.find("=?", pos);
        if (start == std::string_view::npos)
            break;
        std::optional<Word> word = wordAt(value, start);
        if (!word) {
            flush();
            appendRaw(out, value.substr(pos, start + 2 - pos), utf8);
            pos = start + 2;
            continue;
        }
        const std::string_view between = value.substr(pos, start - pos);
        const bool adjacent = inRun && std::all_of(between.begin(), between.end(), isFoldingSpace);
        if (adjacent && equalsNoCase(charsetName(word->charset), charsetName(runCharset))) {
            runBytes += word->bytes;
            runEnd = word->end;
        } else {
            if (!adjacent) {
                flush();
                appendRaw(out, between, utf8);
            } else {
                // White space between two encoded words is not text (RFC 2047, 6.2).
                flush();
            }
            inRun = true;
            runStart = start;
            runEnd = word->end;
            runCharset = word->charset;
            runBytes = std::move(word->bytes);
        }
        pos = word->end;
    }
    flush();
    if (pos < value.size())
        appendRaw(out, value.substr(pos), utf8);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

} // namespace tarn
