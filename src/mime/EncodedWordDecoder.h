#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Turns a header value into UTF-8 text: its encoded words ("=?charset?X?text?=", RFC 2047,
// with an optional RFC 2231 "*language" after the charset) decoded in any charset the
// converter knows, white space between two adjacent encoded words dropped, and the bytes of
// adjacent words in one charset joined before conversion so that a character split across
// words comes out whole. An encoded word that is malformed or names an unknown charset stays
// as written. Text outside encoded words stays when the value is valid UTF-8 and is read as
// Windows-1252 otherwise. NUL bytes are removed from the result. Never throws.
class EncodedWordDecoder {
public:
    static std::string decode(std::string_view value);

    // ISO-2022-JP to Shift_JIS: "ESC $ B" (or "ESC $ @") starts two-byte mode, "ESC ( B" (or
    // "ESC ( J") ends it; pairs in two-byte mode are converted, all other bytes are copied.
    static std::string iso2022JpToShiftJis(std::string_view bytes);
};

} // namespace tarn
