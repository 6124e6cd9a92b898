#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Decodes the encoded words ("=?charset?X?text?=") of a header value. Only charsets whose
// name begins with "ISO" are decoded; the bytes stay in their charset, except ISO-2022-JP,
// which is turned into Shift_JIS. NUL bytes are removed from the whole result.
class EncodedWordDecoder {
public:
    // Throws TarnError when a "Q" word holds "=" followed by two characters that are not
    // hexadecimal digits.
    static std::string decode(std::string_view value);

    // ISO-2022-JP to Shift_JIS: "ESC $ B" (or "ESC $ @") starts two-byte mode, "ESC ( B" (or
    // "ESC ( J") ends it; pairs in two-byte mode are converted, all other bytes are copied.
    static std::string iso2022JpToShiftJis(std::string_view bytes);
};

} // namespace tarn
