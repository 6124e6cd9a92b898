#include "net/TlsFingerprint.h"

namespace tarn {

std::optional<std::string> normalizeFingerprint(std::string_view text) {
    std::string out;
    out.reserve(64);
    for (char c : text) {
        if (c == ':' || c == ' ' || c == '\t')
            continue;
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return std::nullopt;
        out += c;
    }
    if (out.size() != 64)
        return std::nullopt;
    return out;
}

std::string displayFingerprint(std::string_view digest) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < digest.size(); ++i) {
        if (i)
            out += ':';
        const auto b = static_cast<unsigned char>(digest[i]);
        out += hex[b >> 4];
        out += hex[b & 0xF];
    }
    return out;
}

} // namespace tarn
