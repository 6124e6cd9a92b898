#include "mime/EncodedWordDecoder.h"

#include "core/TarnError.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

struct WordCase {
    const char* name;
    std::string input;
    std::string expected;
};

class EncodedWordCases : public ::testing::TestWithParam<WordCase> {};

TEST_P(EncodedWordCases, Decodes) {
    EXPECT_EQ(EncodedWordDecoder::decode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EncodedWordCases,
    ::testing::Values(
        WordCase{"QuotedLatin1", "=?ISO-8859-1?Q?Caf=E9?=", "Caf\xE9"},
        WordCase{"LowerCaseMarkers", "=?iso-8859-15?q?caf=e9_au_lait?=", "caf\xE9 au lait"},
        WordCase{"TextAround", "Re: =?ISO-8859-1?Q?x?= end", "Re: x end"},
        WordCase{"SpaceBetweenWordsKept", "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "a b"},
        WordCase{"Utf8LeftAlone", "=?UTF-8?Q?Caf=C3=A9?=", "=?UTF-8?Q?Caf=C3=A9?="},
        WordCase{"Utf8NextToIso", "=?UTF-8?B?SGk=?= =?ISO-8859-1?Q?x?=", "=?UTF-8?B?SGk=?= x"},
        WordCase{"Base64PadGivesNoNul", "=?ISO-8859-1?B?SGk=?=", "Hi"},
        WordCase{"Base64WithoutPadUsesClosingMarks", "=?iso-8859-1?b?SGVsbG8?=", "Hello"},
        WordCase{"OtherLetterIsBase64", "=?ISO-8859-1?X?SGk=?=", "Hi"},
        WordCase{"EqualsNearEndCopied", "=?ISO-8859-1?Q?ab=4?=", "ab=4"},
        WordCase{"EqualsLastCopied", "=?ISO-8859-1?Q?x=?=", "x="},
        WordCase{"NulBytesRemoved", "=?ISO-8859-1?Q?a=00b?=", "ab"},
        WordCase{"UnclosedLeftAlone", "=?ISO-8859-1?Q?abc", "=?ISO-8859-1?Q?abc"},
        WordCase{"TooFewMarksLeftAlone", "=?ISO-8859-1 x ?=", "=?ISO-8859-1 x ?="},
        WordCase{"DecodedWordNotDecodedAgainAtItsStart",
                 "=?ISO-8859-1?Q?=3D=3FISO-8859-1=3FQ=3Fx=3F=3D?=", "=?ISO-8859-1?Q?x?="},
        WordCase{"DecodedTextJoinsFollowingText",
                 "=?ISO-8859-1?Q?a=3D=3FISO-8859-1=3FQ=3Fy?=?=", "ay"},
        WordCase{"Iso2022JpToShiftJis", "=?ISO-2022-JP?B?GyRCMCEkIiUiJWBfIRsoQiE=?=",
                 "\x88\x9F\x82\xA0\x83\x41\x83\x80\xE0\x40!"},
        WordCase{"Iso2022JpOnlyForThatCharset", "=?ISO-8859-1?B?GyRCMCEbKEI=?=", "\x1B$B0!\x1B(B"},
        WordCase{"PlainValue", "Just a subject", "Just a subject"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodedWordDecoder, QEqualsWithoutHexFails) {
    EXPECT_THROW(EncodedWordDecoder::decode("=?ISO-8859-1?Q?a=ZZb?="), TarnError);
    EXPECT_THROW(EncodedWordDecoder::decode("ok =?ISO-8859-1?Q?=4G=41?="), TarnError);
}

TEST(EncodedWordDecoder, ManyWordsDecodeInLinearTime) {
    // Every word is rewritten in place; a long run of words must not turn quadratic.
    std::string value;
    std::string expected;
    for (int i = 0; i < 200000; ++i) {
        value += "=?ISO-8859-1?Q?ab?=";
        expected += "ab";
    }
    EXPECT_EQ(EncodedWordDecoder::decode(value), expected);
}

TEST(Iso2022Jp, EscapesAndBytesOutsidePairs) {
    // A lone byte in two-byte mode and bytes outside it are copied; escapes vanish.
    EXPECT_EQ(EncodedWordDecoder::iso2022JpToShiftJis("a\x1B$B\x24\x22\n\x1B(Jb"), "a\x82\xA0\nb");
    EXPECT_EQ(EncodedWordDecoder::iso2022JpToShiftJis("\x1B$B\x30"), "\x30");
    EXPECT_EQ(EncodedWordDecoder::iso2022JpToShiftJis("\x1B"), "\x1B");
}

} // namespace
} // namespace tarn
