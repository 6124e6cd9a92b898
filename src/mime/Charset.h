#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn {

// Character set conversion to UTF-8 through the C library's iconv, which knows every charset
// mail uses today (the ISO-8859 and Windows code pages, KOI8, the Japanese, Chinese and Korean
// multi-byte sets). Converters are opened once per thread and charset and then reused.
class Charset {
public:
    // The bytes in the named charset (any case; an RFC 2231 "*language" suffix is ignored)
    // as UTF-8. A byte sequence the charset does not allow becomes U+FFFD and conversion goes
    // on. nullopt when the charset is unknown.
    static std::optional<std::string> toUtf8(std::string_view charset, std::string_view bytes);

    // True when the name needs no conversion from UTF-8 or ASCII bytes.
    static bool isUtf8OrAscii(std::string_view charset);
};

} // namespace tarn
