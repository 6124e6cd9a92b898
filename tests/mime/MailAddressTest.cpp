#include "mime/MailAddress.h"

#include "core/TarnError.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

struct SenderCase {
    const char* name;
    std::string from;
    std::string displayName;
    std::string address;
    std::string text;
};

class SenderCases : public ::testing::TestWithParam<SenderCase> {};

TEST_P(SenderCases, ParsesAndRenders) {
    const SenderCase& c = GetParam();
    const MailAddress a = MailAddress::parse(c.from);
    EXPECT_EQ(a.name(), c.displayName);
    EXPECT_EQ(a.address(), c.address);
    EXPECT_EQ(a.text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SenderCases,
    ::testing::Values(
        SenderCase{"BareAddress", "john@example.com", "", "john@example.com", "john@example.com"},
        SenderCase{"NameAndAngle", "John Doe <john@example.com>", "John Doe", "john@example.com",
                   "John Doe <john@example.com>"},
        SenderCase{"OuterSpacesTrimmed", "  Ann   <ann@x.org>  ", "Ann", "ann@x.org",
                   "Ann <ann@x.org>"},
        SenderCase{"CommaInNameQuoted", "\"Doe, John\" <john@example.com>", "Doe, John",
                   "john@example.com", "\"Doe, John\" <john@example.com>"},
        SenderCase{"PeriodInNameQuoted", "John Q. Public <jqp@x.org>", "John Q. Public",
                   "jqp@x.org", "\"John Q. Public\" <jqp@x.org>"},
        SenderCase{"HighByteInNameQuoted", "J\xF6rg <j@x.de>", "J\xF6rg", "j@x.de",
                   "\"J\xF6rg\" <j@x.de>"},
        SenderCase{"EscapesInQuotedName", R"("A \"quoted\" name" <a@b.c>)", "A \"quoted\" name",
                   "a@b.c", R"("A \"quoted\" name" <a@b.c>)"},
        SenderCase{"BackslashInNameEscaped", R"("back\\slash" <a@b.c>)", "back\\slash", "a@b.c",
                   R"("back\\slash" <a@b.c>)"},
        SenderCase{"CommentAfterAddressDropped", "john@example.com (John Doe)", "",
                   "john@example.com", "john@example.com"},
        SenderCase{"NestedCommentDropped", "John (the (big) boss) <j@x.org>", "John", "j@x.org",
                   "John <j@x.org>"},
        SenderCase{"AngleOnly", "<john@example.com>", "", "john@example.com", "john@example.com"},
        SenderCase{"WordsBeforeBareAddress", "John john@x.org", "John", "john@x.org",
                   "John <john@x.org>"},
        SenderCase{"NameEqualToAddress", "\"JOHN@X.ORG\" <john@x.org>", "JOHN@X.ORG", "john@x.org",
                   "<john@x.org>"},
        SenderCase{"NoAtNoName", "MAILER-DAEMON", "", "MAILER-DAEMON", ""},
        SenderCase{"EmptyAddressWithName", "Mail System <>", "Mail System", "", "Mail System <>"},
        SenderCase{"NameWithoutAddress", "Mail Delivery System", "Mail Delivery System", "",
                   "Mail Delivery System <>"},
        SenderCase{"LocalPartWithSpaceQuoted", "<\"john doe\"@x.org>", "", "john doe@x.org",
                   "<\"john doe\"@x.org>"},
        SenderCase{"LocalPartQuoteEscaped", "Al <\"a\\\"b\"@x.org>", "Al", "a\"b@x.org",
                   "Al <\"a\\\"b\"@x.org>"},
        SenderCase{"DotFirstOddCharNotQuoted", "first.last@x.org", "", "first.last@x.org",
                   "first.last@x.org"},
        SenderCase{"AtomSpecialsPlain", "a+b_c~d@x.org", "", "a+b_c~d@x.org", "a+b_c~d@x.org"},
        SenderCase{"LastAtSplitsDomain", "<\"a@b\"@x.org>", "", "a@b@x.org", "<\"a@b\"@x.org>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailAddress, AtAfterClosedAddressFails) {
    try {
        MailAddress::parse("Name <a@b.org> c@d.org");
        FAIL() << "no failure";
    } catch (const TarnError& e) {
        EXPECT_STREQ(e.what(), "@ Outside address");
    }
    // Quoted or commented "@" after the address is harmless.
    EXPECT_EQ(MailAddress::parse("<a@b.org> (c@d.org)").address(), "a@b.org");
}

TEST(MailAddress, ListSplitsOnlyAtTopLevelCommas) {
    const auto list = MailAddress::parseList("\"Doe, J\" <j@x.org>, k@y.org (K, Jr.), <l@z.org>,,");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name(), "Doe, J");
    EXPECT_EQ(list[0].address(), "j@x.org");
    EXPECT_EQ(list[1].address(), "k@y.org");
    EXPECT_EQ(list[2].address(), "l@z.org");
    EXPECT_THROW(MailAddress::parseList("a <a@x.org> b@y.org, c@z.org"), TarnError);
}

} // namespace
} // namespace tarn
