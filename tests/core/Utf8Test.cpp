#include "core/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace tarn {
namespace {

TEST(Utf8, StepsTakeWholeCharactersOrSingleBytes) {
    struct Case {
        const char* name;
        std::string_view bytes;
        std::size_t length;
        bool valid;
        char32_t codePoint;
    };
    const Case cases[] = {
        {"ascii", "a", 1, true, U'a'},
        {"two bytes", "\xC3\xA9x", 2, true, U'\u00E9'},
        {"three bytes", "\xE4\xB8\xAD", 3, true, U'\u4E2D'},
        {"four bytes", "\xF0\x9F\x98\x80", 4, true, U'\U0001F600'},
        {"overlong", "\xC0\x80", 1, false, 0xC0},
        {"surrogate", "\xED\xA0\x80", 1, false, 0xED},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 1, false, 0xF4},
        {"cut short", "\xE4\xB8", 1, false, 0xE4},
        {"lone continuation", "\x80", 1, false, 0x80},
        {"bad continuation", "\xC3(", 1, false, 0xC3},
    };
    for (const Case& c : cases) {
        const Utf8Step s = utf8StepAt(c.bytes, 0);
        EXPECT_EQ(s.length, c.length) << c.name;
        EXPECT_EQ(s.valid, c.valid) << c.name;
        EXPECT_EQ(s.codePoint, c.codePoint) << c.name;
    }
}

// ASCII is skipped in whole words, so a faulty byte is placed at every offset around a word's
// edges, and a character is split across one.
TEST(Utf8, ValidityDoesNotDependOnWherePlainTextEnds) {
    const struct {
        const char* name;
        std::string_view piece;
        bool valid;
    } pieces[] = {
        {"two bytes", "\xC3\xA9", true},      {"four bytes", "\xF0\x9F\x98\x80", true},
        {"lone continuation", "\x80", false}, {"cut short", "\xE4\xB8", false},
        {"overlong", "\xC0\x80", false},
    };
    for (const auto& p : pieces)
        for (std::size_t before = 0; before <= 17; ++before)
            for (std::size_t after : {0, 1, 7, 8, 9}) {
                const std::string text =
                    std::string(before, 'a') + std::string(p.piece) + std::string(after, 'b');
                EXPECT_EQ(isValidUtf8(text), p.valid)
                    << p.name << " after " << before << " and before " << after;
            }
    EXPECT_TRUE(isValidUtf8(std::string(64, 'x')));
    EXPECT_TRUE(isValidUtf8(""));
}

TEST(Utf8, BytesBecomeUtf8WithoutLosingAny) {
    EXPECT_EQ(bytesToUtf8("gr\xC3\xBC\xC3\x9F"), "gr\xC3\xBC\xC3\x9F");
    // One byte that is no UTF-8 makes the whole text Windows-1252.
    EXPECT_EQ(bytesToUtf8("\xC3\xBC \xFC"), "\xC3\x83\xC2\xBC \xC3\xBC");
    EXPECT_EQ(bytesToUtf8("\x80\x9F"), "\xE2\x82\xAC\xC5\xB8");
    // The bytes the code page leaves undefined survive as C1 controls.
    EXPECT_EQ(bytesToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
    EXPECT_EQ(bytesToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Utf8, WideCharactersTakeTwoColumns) {
    EXPECT_EQ(columnWidth(U'a'), 1);
    EXPECT_EQ(columnWidth(U'\u00E9'), 1);
    EXPECT_EQ(columnWidth(U'\u4E2D'), 2);
    EXPECT_EQ(columnWidth(U'\uAC00'), 2);
    EXPECT_EQ(columnWidth(U'\uFF21'), 2); // full-width A
    EXPECT_EQ(columnWidth(U'\uFF61'), 1); // half-width katakana stop
    EXPECT_EQ(columnWidth(U'\U0001F600'), 2);
}

} // namespace
} // namespace tarn
