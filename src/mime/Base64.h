#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Base64 decoding (RFC 2045 alphabet) in the two flavours the message reader needs.
class Base64 {
public:
    // Body data: characters outside the alphabet (line breaks, garbage) are skipped and the
    // first "=" ends the data, as RFC 2045 asks of a decoder.
    static std::string decode(std::string_view text);

    // Encoded-word data: the text is taken in groups of four characters, each giving three
    // bytes; characters outside the alphabet (the pad "=", "?") count as zero bits, so pads
    // produce NUL bytes. A tail of fewer than four characters is ignored.
    static std::string decodeGroups(std::string_view text);

    // Value of an alphabet character, or -1.
    static int value(unsigned char c);
};

} // namespace tarn
