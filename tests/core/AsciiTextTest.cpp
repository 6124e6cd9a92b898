#include "core/AsciiText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace tarn {
namespace {

// Neighbours of the letter ranges and bytes above 0x7F must never be folded: a mask-based
// "case-insensitive" compare would take '@' for '`' or '[' for '{'.
TEST(AsciiText, CaseFoldsOnlyAsciiLetters) {
    struct Case {
        std::string_view a, b;
        bool equal;
    };
    const Case cases[] = {
        {"Content-Type", "content-TYPE", true},
        {"", "", true},
        {"abc", "abcd", false},
        {"@", "`", false},
        {"[", "{", false},
        {"^", "~", false},
        {"\xC4", "\xE4", false}, // Latin-1 A/a umlaut stay distinct bytes
        {"\xC4", "\xC4", true},
        {std::string_view("a\0b", 3), std::string_view("A\0B", 3), true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(equalsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;

    EXPECT_EQ(upperAsciiCopy("fetch(\xE9z)"), "FETCH(\xE9Z)");
    EXPECT_EQ(lowerAsciiCopy("SecTION@[\xC9]"), "section@[\xC9]");
    EXPECT_TRUE(startsWithNoCase("flags (\\Seen)", "FLAGS "));
    EXPECT_FALSE(startsWithNoCase("FLAG", "FLAGS"));
}

TEST(AsciiText, HexDigitValue) {
    EXPECT_EQ(hexDigitValue('0'), 0);
    EXPECT_EQ(hexDigitValue('9'), 9);
    EXPECT_EQ(hexDigitValue('a'), 10);
    EXPECT_EQ(hexDigitValue('F'), 15);
    for (char c : std::string_view("/:@Gg` \xFF"))
        EXPECT_EQ(hexDigitValue(c), -1) << int(static_cast<unsigned char>(c));
}

// Only space and tab are blanks; CR, LF and other control bytes are content.
TEST(AsciiText, TrimsSpacesAndTabsOnly) {
    EXPECT_EQ(trimSpaceTab(" \t a b \t "), "a b");
    EXPECT_EQ(trimSpaceTab(" \r\n"), "\r\n");
    EXPECT_EQ(trimSpaceTab(" \t "), "");
    EXPECT_EQ(trimLeftSpaceTab("\t x "), "x ");
    EXPECT_EQ(trimLeftSpaceTab("\vx"), "\vx");
}

TEST(AsciiText, TrimsLineEndsWithBlanks) {
    EXPECT_EQ(trimSpaceAndLineEnds("\r\n \t a\r\nb \r\n"), "a\r\nb");
    EXPECT_EQ(trimSpaceAndLineEnds("\vx\f"), "\vx\f");
    EXPECT_EQ(trimSpaceAndLineEnds("\r\n"), "");
}

// The limit is inclusive, the step past it (and past the type) fails rather than wrapping, and
// only bare digits count: a sign, a blank or an empty text is not a number.
TEST(AsciiText, ParsesCheckedDecimals) {
    constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        const char* text;
        std::uint64_t max;
        std::optional<std::uint64_t> expected;
    } cases[] = {
        {"0", kU64Max, 0},
        {"007", kU64Max, 7},
        {"65535", 65535, 65535},
        {"65536", 65535, std::nullopt},
        {"655350", 65535, std::nullopt},
        {"18446744073709551615", kU64Max, kU64Max},
        {"18446744073709551616", kU64Max, std::nullopt},
        {"99999999999999999999", kU64Max, std::nullopt},
        {"", kU64Max, std::nullopt},
        {"+1", kU64Max, std::nullopt},
        {"-1", kU64Max, std::nullopt},
        {" 1", kU64Max, std::nullopt},
        {"1 ", kU64Max, std::nullopt},
        {"1a", kU64Max, std::nullopt},
        {"0x10", kU64Max, std::nullopt},
        {"5", 4, std::nullopt},
        {"0", 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseDecimal(c.text, c.max), c.expected) << '"' << c.text << "\" max " << c.max;
}

TEST(AsciiText, ParsesCheckedSignedDecimals) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    const struct {
        const char* text;
        std::int64_t min;
        std::int64_t max;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"-2147483648", INT32_MIN, INT32_MAX, INT32_MIN},
        {"-2147483649", INT32_MIN, INT32_MAX, std::nullopt},
        {"+2147483647", INT32_MIN, INT32_MAX, INT32_MAX},
        {"2147483648", INT32_MIN, INT32_MAX, std::nullopt},
        {"-9223372036854775808", kMin, kMax, kMin},
        {"9223372036854775808", kMin, kMax, std::nullopt},
        {"-0", -5, 5, 0},
        {"-1", 0, 10, std::nullopt},
        {"3", 5, 10, std::nullopt},
        {"+", kMin, kMax, std::nullopt},
        {"-", kMin, kMax, std::nullopt},
        {"+-1", kMin, kMax, std::nullopt},
        {"--1", kMin, kMax, std::nullopt},
        {" -1", kMin, kMax, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSignedDecimal(c.text, c.min, c.max), c.expected) << '"' << c.text << '"';
}

} // namespace
} // namespace tarn
