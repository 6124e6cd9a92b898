#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// Quoted-printable decoding of body lines (RFC 2045).
class QuotedPrintable {
public:
    // Decodes the encoded lines of one part. Each line ends with CR LF in the result unless it
    // ends with "=" (a soft break joining it to the next). Trailing spaces and tabs of an
    // encoded line are transport padding and dropped. An "=" not followed by two hexadecimal
    // digits is kept as it stands.
    static std::string decodeLines(const std::vector<std::string>& lines);
};

} // namespace tarn
