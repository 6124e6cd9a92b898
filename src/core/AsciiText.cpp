#include "core/AsciiText.h"

namespace tarn {

std::string upperAsciiCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = upperAscii(c);
    return out;
}

std::string lowerAsciiCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view trimLeftSpaceTab(std::string_view s) {
    while (!s.empty() && isSpaceOrTab(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimSpaceTab(std::string_view s) {
    s = trimLeftSpaceTab(s);
    while (!s.empty() && isSpaceOrTab(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string_view trimSpaceAndLineEnds(std::string_view s) {
    auto blank = [](char c) { return isSpaceOrTab(c) || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::optional<std::uint64_t> parseDecimal(std::string_view s, std::uint64_t max) {
    if (s.empty())
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (d > max || v > (max - d) / 10)
            return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

std::optional<std::int64_t> parseSignedDecimal(std::string_view s, std::int64_t min,
                                               std::int64_t max) {
    const bool negative = !s.empty() && s.front() == '-';
    if (!s.empty() && (s.front() == '+' || s.front() == '-'))
        s.remove_prefix(1);
    // The magnitude may reach |min|, which for the smallest int64 is one more than its max.
    const std::uint64_t limit = negative ? (min < 0 ? 0 - static_cast<std::uint64_t>(min) : 0)
                                         : (max < 0 ? 0 : static_cast<std::uint64_t>(max));
    const std::optional<std::uint64_t> m = parseDecimal(s, limit);
    if (!m)
        return std::nullopt;
    const std::int64_t v =
        negative ? static_cast<std::int64_t>(0 - *m) : static_cast<std::int64_t>(*m);
    if (v < min || v > max)
        return std::nullopt;
    return v;
}

} // namespace tarn
