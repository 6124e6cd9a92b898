#include "core/PasswordScrambling.h"

#include "core/AsciiText.h"

#include <optional>

namespace tarn {

namespace {

bool needsEscape(std::string_view scrambled) {
    if (scrambled.empty())
        return false;
    if (scrambled.starts_with(kEscapedPasswordPrefix))
        return true;
    if (isSpaceOrTab(scrambled.front()) || isSpaceOrTab(scrambled.back()))
        return true;
    for (char c : scrambled) {
        if (c == '\r' || c == '\n' || c == '\0')
            return true;
    }
    return false;
}

std::optional<std::string> fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexDigitValue(hex[i]);
        const int lo = hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::nullopt;
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

} // namespace

std::string ScramblePassword(std::string_view plain) {
    std::string out(plain);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>((static_cast<unsigned char>(out[i]) + i + 1) % 256);
    return out;
}

std::string UnscramblePassword(std::string_view scrambled) {
    std::string out(scrambled);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const unsigned shift = static_cast<unsigned>((i + 1) % 256);
        out[i] = static_cast<char>((static_cast<unsigned char>(out[i]) + 256 - shift) % 256);
    }
    return out;
}

std::string storedPasswordText(std::string_view plain) {
    std::string scrambled = ScramblePassword(plain);
    if (!needsEscape(scrambled))
        return scrambled;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out(kEscapedPasswordPrefix);
    for (unsigned char c : scrambled) {
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 15]);
    }
    return out;
}

std::string passwordFromStoredText(std::string_view stored) {
    if (stored.starts_with(kEscapedPasswordPrefix)) {
        if (auto raw = fromHex(stored.substr(kEscapedPasswordPrefix.size())))
            return UnscramblePassword(*raw);
    }
    return UnscramblePassword(stored);
}

} // namespace tarn
