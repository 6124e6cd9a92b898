#include "mime/EncodedWordDecoder.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "mime/Base64.h"

#include <algorithm>

namespace tarn {

namespace {

// The offending bytes are left out: they may be anything, NUL included.
const char* const kInvalidQ = "Invalid character sequence in encoded word.";

std::size_t findIso(const std::string& s, std::size_t from) {
    static constexpr std::string_view kStart = "=?ISO";
    if (s.size() < kStart.size())
        return std::string::npos;
    for (std::size_t i = s.find("=?", from); i != std::string::npos; i = s.find("=?", i + 1)) {
        if (i + kStart.size() > s.size())
            return std::string::npos;
        if (upperAscii(s[i + 2]) == 'I' && upperAscii(s[i + 3]) == 'S' &&
            upperAscii(s[i + 4]) == 'O')
            return i;
    }
    return std::string::npos;
}

std::string decodeQ(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '_') {
            out.push_back(' ');
        } else if (c == '=') {
            // The closing "?=" counts: fewer than four characters left means fewer than two
            // before the end of the encoded text.
            if (text.size() - i - 1 < 2) {
                out.push_back(c);
                continue;
            }
            const int hi = hexDigitValue(text[i + 1]);
            const int lo = hexDigitValue(text[i + 2]);
            if (hi < 0 || lo < 0)
                throw TarnError(kInvalidQ);
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
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
    std::string work(value);
    std::string out;
    std::size_t pos = 0;    // start of the text not yet moved to out
    std::size_t search = 0; // where the next search begins
    for (;;) {
        const std::size_t start = findIso(work, search);
        if (start == std::string::npos)
            break;
        const std::size_t q1 = work.find('?', start + 2);
        const std::size_t q2 = q1 == std::string::npos ? q1 : work.find('?', q1 + 1);
        const std::size_t close = q2 == std::string::npos ? q2 : work.find("?=", q2 + 1);
        // Any later occurrence would need these marks at or after the same places, so a
        // missing one ends the search.
        if (close == std::string::npos)
            break;
        const std::string_view charset(work.data() + start + 2, q1 - start - 2);
        const char encoding = work[q1 + 1];
        const std::string_view text(work.data() + q2 + 1, close - q2 - 1);
        std::string decoded;
        if (encoding == 'Q' || encoding == 'q')
            decoded = decodeQ(text);
        else
            decoded = Base64::decodeGroups(std::string_view(work.data() + q2 + 1, close - q2 + 1));
        if (equalsNoCase(charset, "ISO-2022-JP"))
            decoded = iso2022JpToShiftJis(decoded);

        // The decoded bytes are always shorter than the word, so they are written over its
        // tail and scanning goes on from there without moving the rest of the value.
        const std::size_t end = close + 2;
        out.append(work, pos, start - pos);
        const std::size_t newStart = end - decoded.size();
        std::copy(decoded.begin(), decoded.end(), work.begin() + static_cast<long>(newStart));
        pos = newStart;
        search = newStart + 1;
    }
    if (pos < work.size())
        out.append(work, pos, std::string::npos);
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

} // namespace tarn
