// Filters see what the check stores: subjects decoded to UTF-8, whatever their encoding on
// the wire, and regular expressions that take a character as one.
#include "filters/FilterTestSupport.h"

#include "core/Clock.h"
#include "filters/EvaluateFilters.h"
#include "mime/MailMessage.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

using test::filter;

constexpr int kSubjectContains = 3;
constexpr int kBodyRegex = 10;
constexpr int kHide = 1;

const FixedClock kClock(std::chrono::sys_days{std::chrono::year{2024} / 6 / 15}, 0);

struct SubjectCase {
    const char* name;
    std::string headerLine;
};

class DecodedSubjectFilter : public ::testing::TestWithParam<SubjectCase>,
                             public test::FilterFixture {};

TEST_P(DecodedSubjectFilter, MatchesGruesse) {
    const MailMessage m =
        decodeMessage({GetParam().headerLine, "From: a@example.org"}, true, kClock);
    MailRecord record;
    record.UID = "u";
    record.Account = 1;
    record.Subject = m.subject();
    EvaluateFilters(record,
                    FilterList({filter(kSubjectContains,
                                       "Gr\xC3\xBC\xC3\x9F"
                                       "e",
                                       kHide)}),
                    context());
    EXPECT_EQ(record.Ignore, std::optional<bool>(true)) << *record.Subject;
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodedSubjectFilter,
    ::testing::Values(SubjectCase{"Latin1Q", "Subject: =?ISO-8859-1?Q?Gr=FC=DFe?= aus Wien"},
                      SubjectCase{"Utf8B", "Subject: =?UTF-8?B?R3LDvMOfZQ==?="},
                      SubjectCase{"Windows1252Raw", "Subject: Viele Gr\xFC\xDF"
                                                    "e"},
                      SubjectCase{"Utf8Raw", "Subject: Gr\xC3\xBC\xC3\x9F"
                                             "e"},
                      SubjectCase{"SplitOverTwoWords",
                                  "Subject: =?UTF-8?Q?Gr=C3?= =?UTF-8?Q?=BC=C3=9Fe?="},
                      SubjectCase{"Rfc2231Language", "Subject: =?utf-8*de?q?Gr=C3=BC=C3=9Fe?="}),
    [](const auto& info) { return std::string(info.param.name); });

class RegexOverDecodedText : public ::testing::Test, public test::FilterFixture {
protected:
    bool hides(const std::string& pattern, const std::string& body) {
        MailRecord record;
        record.UID = "u";
        record.Account = 1;
        record.Body = body;
        EvaluateFilters(record, FilterList({filter(kBodyRegex, pattern, kHide)}), context());
        return record.Ignore.value_or(false);
    }
};

TEST_F(RegexOverDecodedText, DotAndClassesTakeWholeCharacters) {
    const std::string gruesse = "Gr\xC3\xBC\xC3\x9F"
                                "e\r\n";
    EXPECT_TRUE(hides("^Gr..e$", gruesse)); // one dot per letter, not per byte
    EXPECT_FALSE(hides("^Gr....e$", gruesse));
    EXPECT_TRUE(hides("^\\w+$", gruesse));          // ü and ß are word characters
    EXPECT_TRUE(hides("(?i)^GR\xC3\x9C", gruesse)); // case folding beyond ASCII
}

TEST_F(RegexOverDecodedText, OldLatin1TextStillMatchesByteWise) {
    // Bodies stored before decoding existed are not UTF-8; they are matched byte by byte.
    EXPECT_TRUE(hides("^Gr..e$", "Gr\xFC\xDF"
                                 "e\r\n"));
    EXPECT_TRUE(hides("Gr\xFC", "Gr\xFC\xDF"
                                "e\r\n"));
}

} // namespace
} // namespace tarn
