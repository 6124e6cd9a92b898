#include "mime/Base64.h"
#include "mime/QuotedPrintable.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(Base64, BodyDecodingSkipsNoiseAndStopsAtPad) {
    EXPECT_EQ(Base64::decode("SGVs\r\nbG8s IHdv*cmxk"), "Hello, world");
    EXPECT_EQ(Base64::decode("SGk=SGk="), "Hi");
    EXPECT_EQ(Base64::decode(""), "");
    EXPECT_EQ(Base64::decode("/+8="), "\xFF\xEF");
}

TEST(Base64, GroupDecodingCountsNoiseAsZeroBits) {
    EXPECT_EQ(Base64::decodeGroups("SGk="), std::string("Hi\0", 3));
    EXPECT_EQ(Base64::decodeGroups("SGk=?="), std::string("Hi\0", 3));
    EXPECT_EQ(Base64::decodeGroups("?\?\?="), std::string(3, '\0'));
    EXPECT_EQ(Base64::decodeGroups("SGV"), "");
}

struct QpCase {
    const char* name;
    std::vector<std::string> lines;
    std::string expected;
};

class QpCases : public ::testing::TestWithParam<QpCase> {};

TEST_P(QpCases, Decodes) {
    EXPECT_EQ(QuotedPrintable::decodeLines(GetParam().lines), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, QpCases,
    ::testing::Values(QpCase{"HexBytes", {"Caf=E9 =3D ok"}, "Caf\xE9 = ok\r\n"},
                      QpCase{"LowerHex", {"=e9"}, "\xE9\r\n"},
                      QpCase{"SoftBreakJoins", {"long =", "line", "next"}, "long line\r\nnext\r\n"},
                      QpCase{"SoftBreakAfterPadding", {"a=  ", "b"}, "ab\r\n"},
                      QpCase{"TrailingPaddingDropped", {"text  \t", ""}, "text\r\n\r\n"},
                      QpCase{"BadEscapeKept", {"50=ZZ% and =4"}, "50=ZZ% and =4\r\n"},
                      QpCase{"SoftBreakOnLastLine", {"end="}, "end"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace tarn
