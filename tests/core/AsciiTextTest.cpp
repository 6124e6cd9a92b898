#include "core/AsciiText.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace tarn
