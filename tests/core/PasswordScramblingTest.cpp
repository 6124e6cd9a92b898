#include "core/PasswordScrambling.h"

#include <gtest/gtest.h>
#include <random>

using namespace tarn;

namespace {

TEST(PasswordScramblingTest, EachByteIsShiftedByItsPosition) {
    struct Case {
        std::string plain;
        std::string scrambled;
    } cases[] = {
        {"abc", "bdf"},
        {"", ""},
        {"a", "b"},
        {"\xFF", std::string(1, '\0')}, // wraps modulo 256
        {"\xFE\xFE", std::string("\xFF\0", 2)},
        {"0000", "1234"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScramblePassword(c.plain), c.scrambled) << c.plain;
        EXPECT_EQ(UnscramblePassword(c.scrambled), c.plain) << c.plain;
    }
    // Position 256 shifts by 0, position 257 by 1 again.
    const std::string scrambled = ScramblePassword(std::string(257, 'A'));
    EXPECT_EQ(scrambled[255], 'A');
    EXPECT_EQ(scrambled[256], 'B');
}

TEST(PasswordScramblingTest, PrintablePasswordsAreStoredExactlyAsScrambled) {
    // Every printable pair, then random printable passwords up to 129 characters (beyond that
    // a '~' can wrap to a control byte).
    for (char a = ' '; a <= '~'; ++a) {
        for (char b = ' '; b <= '~'; ++b) {
            const std::string p{a, b};
            ASSERT_EQ(storedPasswordText(p), ScramblePassword(p)) << p;
        }
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        std::string p(rng() % 130, ' ');
        for (auto& c : p)
            c = static_cast<char>(' ' + rng() % 95);
        ASSERT_EQ(storedPasswordText(p), ScramblePassword(p)) << p;
        ASSERT_EQ(passwordFromStoredText(storedPasswordText(p)), p);
    }
}

TEST(PasswordScramblingTest, UnstorableBytesAreEscaped) {
    struct Case {
        const char* why;
        std::string plain;
    } cases[] = {
        {"CR", "\x0C"},
        {"LF", "x\x08"},
        {"NUL", "\xFF"},
        {"leading blank", "\x1F"},
        {"trailing tab", "ab\x06"},
        {"looks like the prefix", " \x1F"},
    };
    for (const auto& c : cases) {
        const std::string stored = storedPasswordText(c.plain);
        EXPECT_TRUE(stored.starts_with(kEscapedPasswordPrefix)) << c.why;
        for (char ch : stored)
            EXPECT_TRUE(ch > ' ' && ch < 127) << c.why;
        EXPECT_EQ(passwordFromStoredText(stored), c.plain) << c.why;
    }
    EXPECT_EQ(storedPasswordText("\x0C"), "!!0D");
}

TEST(PasswordScramblingTest, DamagedEscapeIsReadAsPlainScrambledText) {
    EXPECT_EQ(passwordFromStoredText("!!0"), UnscramblePassword("!!0"));
    EXPECT_EQ(passwordFromStoredText("!!zz"), UnscramblePassword("!!zz"));
    EXPECT_EQ(passwordFromStoredText(""), "");
}

} // namespace
