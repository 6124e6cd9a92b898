#include "FilterTestSupport.h"

#include "core/TarnError.h"
#include "filters/EvaluateFilters.h"

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

namespace tarn {
namespace {

using test::filter;

enum Cond {
    SenderHas,
    SenderLacks,
    SubjectIs,
    SubjectHas,
    SubjectLacks,
    Smaller,
    Larger,
    Older,
    Spam,
    HeaderRe,
    BodyRe
};
enum Act { Delete, Hide, Retrieve, Icon, Shutdown, Sound };

constexpr const char* kHeader = "Received: from mx.example.org\r\n"
                                "From: Bob <bob@example.org>\r\n"
                                "To: alice@example.net\r\n"
                                "X-Mailer: Something\r\n"
                                "Subject: Hello\r\n";

class EvaluateFiltersTest : public ::testing::Test, public test::FilterFixture {
protected:
    MailRecord baseRecord() const {
        MailRecord r;
        r.UID = "uid-1";
        r.Count = 1;
        r.Account = 1;
        r.Subject = "Hello there";
        r.Sender = "Bob <bob@example.org>";
        r.Size = 5000;
        r.Date = today() - 3 + 0.5;
        r.Header = kHeader;
        return r;
    }

    int run(MailRecord& record, const std::vector<TFilter>& filters) {
        return EvaluateFilters(record, FilterList(filters), context());
    }
};

// ---- conditions: each row pairs a condition with a "hide" action, so Ignore tells whether
// ---- the condition held.

struct ConditionCase {
    const char* name;
    int condition;
    std::string argument;
    std::function<void(MailRecord&, double today)> setup;
    bool holds;
};

void none(MailRecord&, double) {}
auto subject(std::string s) {
    return [s](MailRecord& r, double) { r.Subject = s; };
}
auto sender(std::optional<std::string> s) {
    return [s](MailRecord& r, double) { r.Sender = s; };
}
auto size(std::optional<long long> n) {
    return [n](MailRecord& r, double) { r.Size = n; };
}
auto age(double daysFromToday) {
    return [daysFromToday](MailRecord& r, double today) { r.Date = today + daysFromToday; };
}
auto date(std::optional<double> d) {
    return [d](MailRecord& r, double) { r.Date = d; };
}
auto header(std::optional<std::string> h) {
    return [h](MailRecord& r, double) { r.Header = h; };
}
auto body(std::optional<std::string> b) {
    return [b](MailRecord& r, double) { r.Body = b; };
}

const ConditionCase kConditionCases[] = {
    {"SenderContains", SenderHas, "bob@", none, true},
    {"SenderContainsIsCaseSensitive", SenderHas, "BOB", none, false},
    {"SenderContainsEmptyArgumentNeverHolds", SenderHas, "", none, false},
    {"SenderContainsNullSender", SenderHas, "b", sender(std::nullopt), false},
    {"SenderLacksEmptyArgumentAlwaysHolds", SenderLacks, "", none, true},
    {"SenderLacksPresentText", SenderLacks, "bob", none, false},
    {"SenderLacksNullSender", SenderLacks, "bob", sender(std::nullopt), true},
    {"SubjectIsWhole", SubjectIs, "Hello there", none, true},
    {"SubjectIsNotPrefix", SubjectIs, "Hello", none, false},
    {"SubjectIsCaseSensitive", SubjectIs, "hello there", none, false},
    {"SubjectIsEmptyMatchesNullSubject", SubjectIs, "",
     [](MailRecord& r, double) { r.Subject.reset(); }, true},
    {"SubjectContains", SubjectHas, "lo th", none, true},
    {"SubjectContainsEmptyArgument", SubjectHas, "", none, false},
    {"SubjectLacksEmptyArgument", SubjectLacks, "", none, true},
    {"SubjectLacksPresentText", SubjectLacks, "there", none, false},
    {"Smaller10At10239", Smaller, "10", size(10239), true},
    {"Smaller10At10240", Smaller, "10", size(10240), false},
    {"SmallerUnsetSize", Smaller, "1", size(std::nullopt), true},
    {"SmallerZeroUnsetSize", Smaller, "0", size(std::nullopt), false},
    {"SmallerNegativeArgument", Smaller, "-1", size(0), false},
    {"Larger10At10240", Larger, "10", size(10240), false},
    {"Larger10At11264", Larger, "10", size(11264), false},
    {"Larger10At11265", Larger, "10", size(11265), true},
    {"LargerWithSign", Larger, "+0", size(1025), true},
    {"Older0ReceivedToday", Older, "0", age(0.9), true},
    {"Older0AtMidnightToday", Older, "0", age(0.0), true},
    {"Older3AfterTwoAndAHalfDays", Older, "3", age(-2.5), false},
    {"Older2AfterTwoAndAHalfDays", Older, "2", age(-2.5), true},
    {"Older3AtExactlyThreeDays", Older, "3", age(-3.0), true},
    {"OlderCountsFutureDatesByDistance", Older, "4", age(5.2), true},
    {"OlderFutureDateBelowArgument", Older, "6", age(5.2), false},
    {"OlderIgnoresUnreadableDate", Older, "0", date(999.99), false},
    {"OlderIgnoresMissingDate", Older, "0", date(std::nullopt), false},
    {"OlderAcceptsDate1000", Older, "0", date(1000.0), true},
    {"SpamFreeBetweenSpaces", Spam, "", subject("Get it FREE now"), true},
    {"SpamFreeAtStart", Spam, "", subject("FREE stuff inside"), false},
    {"SpamFreeLowerCase", Spam, "", subject("get it free now"), false},
    {"SpamFreeAtEnd", Spam, "", subject("get it FREE"), false},
    {"SpamSixSpaces", Spam, "", subject("a      b"), true},
    {"SpamFiveSpaces", Spam, "", subject("a     b"), false},
    {"SpamSevenPeriods", Spam, "", subject("wait......."), true},
    {"SpamSixPeriods", Spam, "", subject("wait......"), false},
    {"SpamLooksOnlyAtSubject", Spam, " FREE ", sender("a FREE offer"), false},
    {"HeaderAnchoredFromLine", HeaderRe, "^From:", none, true},
    {"HeaderAnchoredAtLineEnd", HeaderRe, "^To: alice@example\\.net$", none, true},
    {"HeaderAnchorNeedsLineStart", HeaderRe, "^From:", header("X-From: bob\r\n"), false},
    {"HeaderRegexIsCaseSensitive", HeaderRe, "^from:", none, false},
    {"HeaderDotStopsAtLineEnd", HeaderRe, "org>.To:", none, false},
    {"HeaderSpaceClassStopsAtLineEnd", HeaderRe, "org>\\s+To:", none, false},
    {"HeaderLinesSplitAtLf", HeaderRe, "^b$", header("a\nb\nc"), true},
    {"HeaderLinesSplitAtCr", HeaderRe, "^b$", header("a\rb\rc"), true},
    {"HeaderEmptyLineInside", HeaderRe, "^$", header("a\r\n\r\nb"), true},
    {"HeaderFinalBreakOpensNoLine", HeaderRe, "^$", header("a\r\nb\r\n"), false},
    {"HeaderLfCrIsTwoBreaks", HeaderRe, "^$", header("a\n\rb"), true},
    {"HeaderEmptyHasNoLines", HeaderRe, "^$", header(""), false},
    {"HeaderNullHasNoLines", HeaderRe, "", header(std::nullopt), false},
    {"HeaderEmptyPatternMatchesAnyLine", HeaderRe, "", none, true},
    {"HeaderLastLineWithoutBreak", HeaderRe, "^Subject: Hello$", none, true},
    {"BodyNotFetched", BodyRe, "Hello", none, false},
    {"BodyLine", BodyRe, "^buy now", body("Dear friend,\r\nbuy now!\r\n"), true},
    {"BodyRegexIgnoresHeader", BodyRe, "^From:", body("nothing here"), false},
    {"ConditionAboveRange", 11, "x", none, false},
    {"ConditionBelowRange", -1, "", none, false},
};

void PrintTo(const ConditionCase& c, std::ostream* os) {
    *os << c.name;
}

class ConditionTest : public EvaluateFiltersTest,
                      public ::testing::WithParamInterface<ConditionCase> {};

TEST_P(ConditionTest, HoldsExactlyWhenExpected) {
    const ConditionCase& c = GetParam();
    MailRecord record = baseRecord();
    c.setup(record, today());
    MailRecord expected = record;
    if (c.holds)
        expected.Ignore = true;

    EXPECT_EQ(run(record, {filter(c.condition, c.argument, Hide)}), 0);
    EXPECT_EQ(record, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ConditionTest, ::testing::ValuesIn(kConditionCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- which filters run and what their actions do to the record

struct ActionCase {
    const char* name;
    std::vector<TFilter> filters;
    std::function<void(MailRecord&)> setup;
    std::function<void(MailRecord&)> change; // applied to a copy of the record: the expectation
    int result;
    std::array<long long, 3> lastTotals; // accounts 1..3 afterwards (7 before)
};

TFilter inactive(TFilter f) {
    f.Active = false;
    return f;
}

const TFilter kAlways = filter(SubjectLacks, "", Hide); // holds on every record
const TFilter kNever = filter(SubjectHas, "", Hide);    // holds on none

auto keep = [](MailRecord&) {};

const ActionCase kActionCases[] = {
    {"NoFilters", {}, keep, keep, 0, {7, 7, 7}},
    {"AllInactive",
     {inactive(filter(SubjectLacks, "", Delete)), inactive(filter(SubjectLacks, "", Shutdown))},
     keep,
     keep,
     0,
     {7, 7, 7}},
    {"DeleteOnAnyAccountLeavesTotals",
     {filter(SubjectLacks, "", Delete, 0)},
     keep,
     [](MailRecord& r) { r.Delete = true; },
     0,
     {7, 7, 7}},
    {"DeleteOnOneAccountForcesItsFullPass",
     {filter(SubjectLacks, "", Delete, 1)},
     keep,
     [](MailRecord& r) { r.Delete = true; },
     0,
     {-2, 7, 7}},
    {"FilterForAnotherAccountDoesNotRun",
     {filter(SubjectLacks, "", Delete, 2)},
     keep,
     keep,
     0,
     {7, 7, 7}},
    {"AccountMinusOneMatchesNoRecord",
     {filter(SubjectLacks, "", Delete, -1)},
     [](MailRecord& r) { r.Account = -1; },
     keep,
     0,
     {7, 7, 7}},
    {"Hide",
     {filter(SubjectLacks, "", Hide)},
     keep,
     [](MailRecord& r) { r.Ignore = true; },
     0,
     {7, 7, 7}},
    {"RetrieveWithoutBody",
     {filter(SubjectLacks, "", Retrieve)},
     keep,
     [](MailRecord& r) { r.RetrieveMail = true; },
     0,
     {7, 7, 7}},
    {"RetrieveWithBodyChangesNothing",
     {filter(SubjectLacks, "", Retrieve)},
     [](MailRecord& r) { r.Body = "already here"; },
     keep,
     0,
     {7, 7, 7}},
    {"RetrieveWithEmptyStoredBodyChangesNothing",
     {filter(SubjectLacks, "", Retrieve)},
     [](MailRecord& r) { r.Body = ""; },
     keep,
     0,
     {7, 7, 7}},
    {"LaterIconWins",
     {filter(SubjectLacks, "", Icon, 0, 2), filter(SenderLacks, "", Icon, 0, 5)},
     keep,
     [](MailRecord& r) { r.icon = 5; },
     0,
     {7, 7, 7}},
    {"NonMatchingIconKeepsEarlierOne",
     {filter(SubjectLacks, "", Icon, 0, 2), filter(SubjectHas, "zzz", Icon, 0, 5)},
     keep,
     [](MailRecord& r) { r.icon = 2; },
     0,
     {7, 7, 7}},
    {"LaterSoundWins",
     {filter(SubjectLacks, "", Sound, 0, 0, "a.wav"),
      filter(SubjectLacks, "", Sound, 0, 0, "b.wav")},
     keep,
     [](MailRecord& r) { r.Soundfile = "b.wav"; },
     0,
     {7, 7, 7}},
    {"ShutdownOnAnyAccount",
     {filter(SubjectHas, "Hello", Shutdown)},
     keep,
     [](MailRecord& r) { r.Delete = true; },
     10,
     {7, 7, 7}},
    {"ShutdownOnOneAccount",
     {filter(SubjectHas, "Hello", Shutdown, 1)},
     keep,
     [](MailRecord& r) { r.Delete = true; },
     10,
     {-2, 7, 7}},
    {"ShutdownNotMatching", {filter(SubjectHas, "Bye", Shutdown)}, keep, keep, 0, {7, 7, 7}},
    {"ShutdownThenOthersStillRun",
     {filter(SubjectHas, "Hello", Shutdown), filter(SubjectLacks, "", Icon, 0, 4)},
     keep,
     [](MailRecord& r) {
         r.Delete = true;
         r.icon = 4;
     },
     10,
     {7, 7, 7}},
    {"EveryMatchActs",
     {kAlways, kNever, filter(SenderHas, "bob", Delete, 3), filter(SenderHas, "bob", Icon, 3, 9),
      filter(Smaller, "6", Retrieve, 0)},
     [](MailRecord& r) { r.Account = 3; },
     [](MailRecord& r) {
         r.Ignore = true;
         r.Delete = true;
         r.icon = 9;
         r.RetrieveMail = true;
     },
     0,
     {7, 7, -2}},
    {"ActionOutOfRangeDoesNothing",
     {filter(SubjectLacks, "", 6), filter(SubjectLacks, "", -1)},
     keep,
     keep,
     0,
     {7, 7, 7}},
};

TEST_F(EvaluateFiltersTest, ActionsApplyToTheRecord) {
    for (const ActionCase& c : kActionCases) {
        SCOPED_TRACE(c.name);
        for (auto& r : m_runtimes)
            r.LastMailboxTotal = 7;
        MailRecord record = baseRecord();
        c.setup(record);
        MailRecord expected = record;
        c.change(expected);

        EXPECT_EQ(run(record, c.filters), c.result);
        EXPECT_EQ(record, expected);
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(m_runtimes[i].LastMailboxTotal.load(), c.lastTotals[i])
                << "account " << i + 1;
    }
}

TEST_F(EvaluateFiltersTest, UnknownAccountRuntimeIsSkipped) {
    MailRecord record = baseRecord();
    record.Account = 9;
    EXPECT_EQ(run(record, {filter(SubjectLacks, "", Shutdown, 9)}), 10);
    EXPECT_EQ(record.Delete, true);
}

// ---- failures stop the evaluation at the bad filter

struct FailureCase {
    const char* name;
    TFilter bad;
    std::string message;
};

const FailureCase kFailureCases[] = {
    {"SmallerLetters", filter(Smaller, "abc", Hide), "'abc' is not a valid integer value"},
    {"LargerEmpty", filter(Larger, "", Hide), "'' is not a valid integer value"},
    {"OlderUnit", filter(Older, "10 days", Hide), "'10 days' is not a valid integer value"},
    {"LeadingBlank", filter(Smaller, " 10", Hide), "' 10' is not a valid integer value"},
    {"Hexadecimal", filter(Smaller, "$10", Hide), "'$10' is not a valid integer value"},
    {"SignOnly", filter(Larger, "-", Hide), "'-' is not a valid integer value"},
    {"BeyondInteger", filter(Smaller, "2147483648", Hide),
     "'2147483648' is not a valid integer value"},
    {"HeaderRegexUnclosed", filter(HeaderRe, "(From", Hide), "Perlre: missing closing parenthesis"},
    {"BodyRegexNothingToRepeat", filter(BodyRe, "*x", Hide),
     "Perlre: quantifier does not follow a repeatable item"},
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class FailureTest : public EvaluateFiltersTest,
                    public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, StopsAtTheBadFilterAndReleasesTheLock) {
    const FailureCase& c = GetParam();
    MailRecord record = baseRecord();
    record.Body = "some body";
    const std::vector<TFilter> filters = {filter(SubjectLacks, "", Icon, 0, 3), c.bad,
                                          filter(SubjectLacks, "", Shutdown, 1)};
    try {
        run(record, filters);
        FAIL() << "no error raised";
    } catch (const TarnError& e) {
        EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(record.icon, 3);               // the filter before it ran
    EXPECT_FALSE(record.Delete.has_value()); // the one after it did not
    EXPECT_EQ(m_runtimes[0].LastMailboxTotal.load(), 7);
    // Another thread can take the lock, so it was released.
    auto other = std::async(std::launch::async, [this] {
        const bool got = m_lock.try_lock();
        if (got)
            m_lock.unlock();
        return got;
    });
    EXPECT_TRUE(other.get());
}

INSTANTIATE_TEST_SUITE_P(Table, FailureTest, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EvaluateFiltersTest, BadArgumentsNotReachedDoNotFail) {
    MailRecord record = baseRecord();
    const std::vector<TFilter> filters = {
        inactive(filter(Smaller, "abc", Hide)),
        inactive(filter(HeaderRe, "(", Hide)),
        filter(Larger, "abc", Hide, 2),    // another account
        filter(SubjectHas, "(", Hide),     // not a regex condition
        filter(Spam, "abc", Hide),         // takes no argument
        filter(Smaller, "-7", Icon, 0, 1), // a valid negative number
    };
    EXPECT_EQ(run(record, filters), 0);
    EXPECT_FALSE(record.Ignore.has_value());
    EXPECT_FALSE(record.icon.has_value());
}

TEST_F(EvaluateFiltersTest, HoldsTheLockWhileRunningAndNestsInsideTheCallersLock) {
    bool heldElsewhere = false;
    FilterContext ctx = context();
    // The runtime lookup happens mid-evaluation; ask another thread whether the lock is free.
    ctx.runtimeOf = [&](int account) -> AccountRuntime* {
        heldElsewhere = !std::async(std::launch::async, [this] {
                             const bool got = m_lock.try_lock();
                             if (got)
                                 m_lock.unlock();
                             return got;
                         }).get();
        return &m_runtimes[static_cast<size_t>(account - 1)];
    };
    MailRecord record = baseRecord();
    {
        NamedLock callerHolds(m_lock);
        EXPECT_EQ(EvaluateFilters(record, FilterList({filter(SubjectLacks, "", Delete, 1)}), ctx),
                  0);
    }
    EXPECT_TRUE(heldElsewhere);
    EXPECT_EQ(m_runtimes[0].LastMailboxTotal.load(), -2);
}

} // namespace
} // namespace tarn
