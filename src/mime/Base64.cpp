#include "mime/Base64.h"

#include <array>

namespace tarn {

namespace {

constexpr std::array<signed char, 256> makeTable() {
    std::array<signed char, 256> t{};
    for (auto& v : t)
        v = -1;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return t;
}

constexpr std::array<signed char, 256> kTable = makeTable();

} // namespace

int Base64::value(unsigned char c) {
    return kTable[c];
}

std::string Base64::decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned int acc = 0;
    int bits = 0;
    for (char ch : text) {
        if (ch == '=')
            break;
        const int v = kTable[static_cast<unsigned char>(ch)];
        if (v < 0)
            continue;
        acc = (acc << 6) | static_cast<unsigned int>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string Base64::decodeGroups(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i + 4 <= text.size(); i += 4) {
        unsigned int acc = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int v = kTable[static_cast<unsigned char>(text[i + k])];
            acc = (acc << 6) | static_cast<unsigned int>(v < 0 ? 0 : v);
        }
        out.push_back(static_cast<char>((acc >> 16) & 0xFF));
        out.push_back(static_cast<char>((acc >> 8) & 0xFF));
        out.push_back(static_cast<char>(acc & 0xFF));
    }
    return out;
}

} // namespace tarn
