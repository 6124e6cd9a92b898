#include "mime/EncodedWordDecoder.h"

#include "core/Utf8.h"

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

// "Grüße aus München" and friends, each in the charset a mailer of that language writes.
INSTANTIATE_TEST_SUITE_P(
    Table, EncodedWordCases,
    ::testing::Values(
        WordCase{"Utf8Base64", "=?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4=?=",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e aus M\xC3\xBCnchen"},
        WordCase{"Utf8Quoted",
                 "=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=", "J\xC3\xBCrgen M\xC3\xBCller"},
        WordCase{"Latin1Quoted", "=?ISO-8859-1?Q?Gr=FC=DFe?=",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e"},
        WordCase{"LowerCaseMarkers",
                 "=?iso-8859-15?q?caf=e9_au_lait_=a4?=", "caf\xC3\xA9 au lait \xE2\x82\xAC"},
        WordCase{"Latin2", "=?ISO-8859-2?Q?=A3=F3d=BC?=", "\xC5\x81\xC3\xB3\x64\xC5\xBA"},
        WordCase{"Windows1252Euro", "=?windows-1252?Q?12=80?=", "12\xE2\x82\xAC"},
        WordCase{"Windows1251",
                 "=?windows-1251?B?7/Do4uXy?=", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        WordCase{"Koi8R",
                 "=?KOI8-R?B?0NLJ18XU?=", "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        WordCase{"Koi8U", "=?KOI8-U?Q?=A4?=", "\xD1\x94"},
        WordCase{"Iso2022Jp", "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=",
                 "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
        WordCase{"ShiftJis", "=?Shift_JIS?B?grGC8YLJgr+CzQ==?=",
                 "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
        WordCase{"EucJp", "=?EUC-JP?B?pLOk86TLpMGkzw==?=",
                 "\xE3\x81\x93\xE3\x82\x93\xE3\x81\xAB\xE3\x81\xA1\xE3\x81\xAF"},
        WordCase{"EucKr", "=?EUC-KR?B?vsiz58fPvLy/5A==?=",
                 "\xEC\x95\x88\xEB\x85\x95\xED\x95\x98\xEC\x84\xB8\xEC\x9A\x94"},
        WordCase{"Gb2312", "=?GB2312?B?xOO6ww==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordCase{"Gbk", "=?GBK?B?xOO6ww==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordCase{"Gb18030", "=?GB18030?B?xOO6ww==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordCase{"Big5", "=?Big5?B?p0Gmbg==?=", "\xE4\xBD\xA0\xE5\xA5\xBD"},
        WordCase{"Rfc2231Language", "=?UTF-8*de?Q?Gr=C3=BC=C3=9Fe?=",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e"},
        WordCase{"SplitCharacterJoined", "=?UTF-8?Q?Gr=C3?= =?UTF-8?Q?=BC=C3=9Fe?=",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e"},
        WordCase{"SplitBase64Joined", "=?UTF-8?B?R3LD?=\r\n =?UTF-8?B?vA==?=", "Gr\xC3\xBC"},
        WordCase{"SpaceBetweenWordsDropped", "=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=", "ab"},
        WordCase{"NoSpaceBetweenWords", "=?ISO-8859-1?Q?a?==?ISO-8859-1?Q?b?=", "ab"},
        WordCase{"SpaceBetweenCharsetsDropped",
                 "=?UTF-8?B?SGk=?= =?ISO-8859-1?Q?x=E9?=", "Hix\xC3\xA9"},
        WordCase{"SpaceInsideWordKept", "=?ISO-8859-1?Q?a_?= =?ISO-8859-1?Q?_b?=", "a  b"},
        WordCase{"TextAroundKeepsItsSpaces", "Re: =?UTF-8?Q?x?= end", "Re: x end"},
        WordCase{"UnknownCharsetStays", "=?X-NOWHERE?Q?abc?= ok", "=?X-NOWHERE?Q?abc?= ok"},
        WordCase{"UnknownEncodingStays", "=?UTF-8?X?SGk=?=", "=?UTF-8?X?SGk=?="},
        WordCase{"BrokenQuotedStays", "=?UTF-8?Q?a=ZZb?= =?UTF-8?Q?c?=", "=?UTF-8?Q?a=ZZb?= c"},
        WordCase{"BrokenBase64Stays", "=?UTF-8?B?S*k=?=", "=?UTF-8?B?S*k=?="},
        WordCase{"UnclosedStays", "=?UTF-8?Q?abc", "=?UTF-8?Q?abc"},
        WordCase{"EmptyCharsetStays", "=??Q?abc?=", "=??Q?abc?="},
        WordCase{"Base64WithoutPad", "=?UTF-8?B?SGVsbG8?=", "Hello"},
        WordCase{"InvalidBytesReplaced", "=?UTF-8?Q?a=FFb?=",
                 "a\xEF\xBF\xBD"
                 "b"},
        WordCase{"NulBytesRemoved", "=?ISO-8859-1?Q?a=00b?=", "ab"},
        WordCase{"RawUtf8Stays",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e"},
        WordCase{"RawOtherBytesAreWindows1252",
                 "Gr\xFC\xDF"
                 "e \x80",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e \xE2\x82\xAC"},
        WordCase{"RawBytesBesideAWord", "\xFC =?UTF-8?Q?=C3=BC?=", "\xC3\xBC \xC3\xBC"},
        WordCase{"DecodedTextNotDecodedAgain",
                 "=?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fx=3F=3D?=", "=?UTF-8?Q?x?="},
        WordCase{"PlainValue", "Just a subject", "Just a subject"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EncodedWordDecoder, ValuesBeyondUnicodeStillGiveUtf8) {
    // UCS-4 can name numbers no character has; the converter writes them out regardless.
    const std::string text = EncodedWordDecoder::decode("=?UCS-4*de?B?R2HDvA==?= x");
    EXPECT_TRUE(isValidUtf8(text));
    EXPECT_NE(text.find("\xEF\xBF\xBD"), std::string::npos);
    EXPECT_TRUE(text.ends_with(" x"));
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
