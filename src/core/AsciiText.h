#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace tarn {

// Byte-wise text helpers for protocol words, header names and settings keys. Only the ASCII
// letters A-Z and a-z change case; every other byte stays as received, whatever the user's
// locale says.

constexpr char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Value of a hexadecimal digit (either case), or -1.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Blanks in the sense of header folding and profile files: space and tab only.
constexpr bool isSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

std::string upperAsciiCopy(std::string_view s);
std::string lowerAsciiCopy(std::string_view s);
bool equalsNoCase(std::string_view a, std::string_view b);
bool startsWithNoCase(std::string_view s, std::string_view prefix);

std::string_view trimLeftSpaceTab(std::string_view s);
std::string_view trimSpaceTab(std::string_view s);
// Space, tab, CR and LF off both ends: a line as read, its line end included.
std::string_view trimSpaceAndLineEnds(std::string_view s);

// A decimal number as protocols and settings write it: one or more digits and nothing else (no
// blanks, no sign), at most max. nullopt for anything else, an overflow included.
std::optional<std::uint64_t>
parseDecimal(std::string_view s, std::uint64_t max = std::numeric_limits<std::uint64_t>::max());
// The same with an optional '+' or '-' before the digits, within [min, max].
std::optional<std::int64_t> parseSignedDecimal(std::string_view s, std::int64_t min,
                                               std::int64_t max);

} // namespace tarn
