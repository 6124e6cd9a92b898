#include "maillist/MailListRules.h"
#include "core/Clock.h"
#include "core/DateFormat.h"
#include "store/MailListRows.h"
#include "store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace tarn::maillist {
namespace {

MailRecord rec(std::optional<std::string> subject, std::optional<std::string> sender,
               std::optional<std::string> body, std::optional<bool> del, std::optional<int> icon) {
    MailRecord r;
    r.Subject = subject;
    r.Sender = sender;
    r.Body = body;
    r.Delete = del;
    r.icon = icon;
    return r;
}

TEST(MailListRules, RowIconFollowsDeletionThenCustomThenHeadersThenBody) {
    struct Case {
        const char* what;
        MailRecord r;
        int icon;
    } cases[] = {
        {"headers, no body", rec("s", "a", std::nullopt, std::nullopt, std::nullopt), 0},
        {"headers and body", rec("s", "a", "text", std::nullopt, std::nullopt), 1},
        {"empty body counts as present", rec("s", "a", "", std::nullopt, std::nullopt), 1},
        {"no subject, no sender", rec(std::nullopt, std::nullopt, std::nullopt, false, 0), 14},
        {"empty subject and sender", rec("", "", "b", std::nullopt, std::nullopt), 14},
        {"only a sender", rec("", "a", std::nullopt, std::nullopt, std::nullopt), 0},
        {"custom icon over no headers", rec(std::nullopt, std::nullopt, std::nullopt, false, 5), 5},
        {"custom icon 0 is automatic", rec("s", "a", "b", false, 0), 1},
        {"deletion over custom icon", rec("s", "a", "b", true, 5), 2},
        {"deletion over no headers", rec(std::nullopt, std::nullopt, std::nullopt, true, 0), 2},
        {"custom icon 2", rec("s", "a", std::nullopt, false, 2), 2},
        {"out-of-range icon is automatic", rec("s", "a", std::nullopt, false, 99), 0},
        {"negative icon is automatic", rec("s", "a", std::nullopt, false, -3), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rowIcon(c.r), c.icon) << c.what;
        EXPECT_EQ(rowIsGrey(rowIcon(c.r)), c.icon == 2) << c.what;
    }
}

TEST(MailListRules, SizeTextRoundsTowardZero) {
    struct Case {
        long long bytes;
        const char* text;
    } cases[] = {{0, "0 kB"},
                 {1023, "0 kB"},
                 {1024, "1 kB"},
                 {2047, "1 kB"},
                 {2048, "2 kB"},
                 {51199, "49 kB"},
                 {2147483648LL, "2097152 kB"},
                 {-1, "0 kB"}};
    for (const Case& c : cases)
        EXPECT_EQ(sizeText(c.bytes), c.text) << c.bytes;
}

TEST(MailListRules, ActionTextPrefersDeleting) {
    EXPECT_EQ(actionText(true, true), "Deleting");
    EXPECT_EQ(actionText(true, false), "Deleting");
    EXPECT_EQ(actionText(false, true), "Retrieving");
    EXPECT_EQ(actionText(false, false), "");
}

TEST(MailListRules, DateTextTodayOtherDayMidnightUnknown) {
    double today = 0, at0905 = 0, yesterday0905 = 0, yesterdayMidnight = 0, todayMidnight = 0;
    ASSERT_TRUE(encodeDateTime(2026, 12, 10, 0, 0, 0, today));
    ASSERT_TRUE(encodeDateTime(2026, 12, 10, 9, 5, 0, at0905));
    ASSERT_TRUE(encodeDateTime(2026, 12, 9, 9, 5, 0, yesterday0905));
    ASSERT_TRUE(encodeDateTime(2026, 12, 9, 0, 0, 0, yesterdayMidnight));
    todayMidnight = today;
    const std::string shortYesterday = formatShortDate(yesterday0905);
    ASSERT_FALSE(shortYesterday.empty());
    struct Case {
        const char* what;
        double date;
        std::string text;
    } cases[] = {
        {"today 09:05", at0905, "09:05"},
        {"today at midnight", todayMidnight, "00:00"},
        {"yesterday 09:05", yesterday0905, shortYesterday + " 09:05"},
        {"yesterday at midnight", yesterdayMidnight, shortYesterday + " 00:00"},
        {"absent date", 0.0, "unknown"},
        {"just below 1000", 999.999, "unknown"},
        {"negative", -5.0, "unknown"},
        {"beyond year 9999", 1e12, "unknown"},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), "unknown"},
        {"infinite", std::numeric_limits<double>::infinity(), "unknown"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(dateText(c.date, today), c.text) << c.what;
    // 1000.0 itself is a usable date (26 September 1902).
    EXPECT_NE(dateText(1000.0, today), "unknown");
}

TEST(MailListRules, RowAccountIsTheViewOrTheRecordsOwnAccount) {
    struct Case {
        const char* what;
        int view, recordAccount, count, expected;
    } cases[] = {
        {"one-account view", 2, 2, 3, 2},         {"all accounts: the record's own", 0, 1, 3, 1},
        {"all accounts: highest", 0, 3, 3, 3},    {"all accounts: account gone", 0, 4, 3, 0},
        {"all accounts: no account", 0, 0, 3, 0}, {"view beyond the accounts", 5, 5, 3, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(rowAccount(c.view, c.recordAccount, c.count), c.expected) << c.what;
}

TEST(MailListRules, HeaderClickTogglesBetweenTheColumnsTwoOrders) {
    using S = SortType;
    struct Case {
        int tag;
        S active;
        std::optional<S> next;
    } cases[] = {
        {TagSubject, S::CountIndex, S::SubjectIndex},
        {TagSubject, S::SubjectIndex, S::SubjectIndexRev},
        {TagSubject, S::SubjectIndexRev, S::SubjectIndex},
        {TagSender, S::SubjectIndex, S::SenderIndex},
        {TagSender, S::SenderIndex, S::SenderIndexRev},
        {TagSize, S::CountIndex, S::SizeIndex},
        {TagSize, S::SizeIndex, S::SizeIndexRev},
        {TagAccount, S::CountIndex, S::CountIndexRev},
        {TagAccount, S::CountIndexRev, S::CountIndex},
        {TagAccount, S::DateIndex, S::CountIndex},
        {TagDate, S::DateIndex, S::DateIndexRev},
        {TagDate, S::DateIndexRev, S::DateIndex},
        {TagAction, S::SizeIndex, std::nullopt},
        {TagUID, S::SizeIndex, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(toggledSortType(c.tag, c.active), c.next)
            << c.tag << " from " << MailListDB::sortTypeName(c.active);
}

TEST(MailListRules, ViewTextsAndAccountShortcuts) {
    EXPECT_EQ(viewCaption(0, "x"), "List of All Accounts");
    EXPECT_EQ(viewCaption(2, "Work"), "Work Account Information");
    EXPECT_EQ(viewPanelText(0, "x"), "All Accounts");
    EXPECT_EQ(viewPanelText(2, "Work"), "Work");
    EXPECT_EQ(accountMenuShortcut(0), "Alt+0");
    EXPECT_EQ(accountMenuShortcut(9), "Alt+9");
    EXPECT_EQ(accountMenuShortcut(10), "");
    EXPECT_EQ(accountMenuShortcut(11), "");
}

class MailListRowsTest : public ::testing::Test {
protected:
    test::ScopedLockName lockName;
    NamedMutex mutex{lockName.name};
    MailListDB db{mutex};
};

TEST_F(MailListRowsTest, FillKeepsTheTablesOrderSkipsHiddenAndCarriesTexts) {
    auto add = [&](const std::string& uid, int account, long long count, const char* subject,
                   bool hidden) {
        MailRecord r = test::makeRecord(uid, account, count);
        r.Subject = subject;
        r.Sender = std::string(10000, 's'); // cut to 128 by the table
        r.Ignore = hidden;
        r.Size = 2147483648LL;
        r.RetrieveMail = true;
        db.AppendMessage(r);
    };
    add("a1", 1, 1, "first", false);
    add("a2", 1, 2, "", false);
    add("b1", 2, 1, "hidden", true);
    add("b2", 2, 2, "second", false);

    MailListRows rows;
    ASSERT_TRUE(rows.fill(db, 0));
    // CountIndex: account descending, then count.
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.uid(0), "b2");
    EXPECT_EQ(rows.subject(0), "second");
    EXPECT_EQ(rows.uid(1), "a1");
    EXPECT_EQ(rows.uid(2), "a2");
    EXPECT_EQ(rows.subject(2), "");
    EXPECT_EQ(rows.sender(2).size(), 128u);
    EXPECT_EQ(rows.row(0).account, 2);
    EXPECT_EQ(rows.row(0).size, 2147483648LL);
    EXPECT_TRUE(rows.retrieving(0));
    EXPECT_FALSE(rows.deleting(0));

    ASSERT_TRUE(rows.fill(db, 2));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows.uid(0), "b2");
    ASSERT_TRUE(rows.fill(db, 3));
    EXPECT_TRUE(rows.empty());
}

TEST(MailListRows, ValuesPastTheCompactRowComeBackWhole) {
    // Sizes, account numbers and UID lengths that do not fit the compact row, between rows
    // that do: every row reads back exactly what was appended.
    struct Case {
        long long size;
        int account;
        std::size_t uidLen;
        int icon;
        bool deleting;
    };
    const Case cases[] = {
        {0, 1, 8, 0, false},
        {4294967295LL, 65535, 255, 14, true},
        {4294967296LL, 2, 8, 0, false},
        {-5, 3, 8, 2, false},
        {100, 70000, 8, 0, true},
        {100, 1, 300, 7, false},
        {2147483648LL, 0, 0, 0, false},
    };
    MailListRows rows;
    int n = 0;
    for (const Case& c : cases) {
        MailRecord r;
        r.UID = std::string(c.uidLen, static_cast<char>('a' + n));
        r.Account = c.account;
        r.Size = c.size;
        r.Subject = "s" + std::to_string(n);
        r.Sender = "from " + std::to_string(n);
        r.Delete = c.deleting;
        r.RetrieveMail = !c.deleting;
        r.icon = c.icon;
        rows.append(r);
        ++n;
    }
    ASSERT_EQ(rows.size(), std::size(cases));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(rows.row(i).size, c.size);
        EXPECT_EQ(rows.row(i).account, c.account);
        EXPECT_EQ(rows.uid(i), std::string(c.uidLen, static_cast<char>('a' + i)));
        EXPECT_EQ(rows.subject(i), "s" + std::to_string(i));
        EXPECT_EQ(rows.sender(i), "from " + std::to_string(i));
        EXPECT_EQ(rows.deleting(i), c.deleting);
        EXPECT_EQ(rows.retrieving(i), !c.deleting);
        EXPECT_EQ(rows.icon(i), c.deleting ? IconDeleting : (c.icon > 0 ? c.icon : IconNoBody));
        EXPECT_EQ(rows.row(i).icon, rows.icon(i));
    }
}

TEST(MailListRules, ColumnsKeepTheirNeedAndShareTheRest) {
    struct {
        const char* what;
        std::vector<int> needed, weights;
        int available;
        std::vector<int> widths;
    } cases[] = {
        {"exact fit", {100, 50, 30}, {2, 1, 0}, 180, {100, 50, 30}},
        {"room shared by weight", {100, 50, 30}, {2, 1, 0}, 240, {140, 70, 30}},
        {"rounding to the first", {100, 50, 30}, {2, 1, 0}, 182, {102, 50, 30}},
        {"too narrow keeps the needs", {100, 50, 30}, {2, 1, 0}, 120, {100, 50, 30}},
        {"no weights", {10, 10}, {0, 0}, 500, {10, 10}},
        {"first weighted not first", {10, 20}, {0, 1}, 100, {10, 90}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shareColumnWidths(c.needed, c.weights, c.available), c.widths) << c.what;
}

TEST(MailListRules, SortIndicatorFollowsTheSortOrder) {
    struct {
        SortType order;
        int tag;
        bool descending;
    } cases[] = {
        {SortType::SubjectIndex, TagSubject, false}, {SortType::SubjectIndexRev, TagSubject, true},
        {SortType::SenderIndex, TagSender, false},   {SortType::SizeIndexRev, TagSize, true},
        {SortType::CountIndex, TagAccount, false},   {SortType::DateIndexRev, TagDate, true},
    };
    for (const auto& c : cases) {
        const SortIndicator s = sortIndicatorOf(c.order);
        EXPECT_EQ(s.tag, c.tag) << static_cast<int>(c.order);
        EXPECT_EQ(s.descending, c.descending) << static_cast<int>(c.order);
        // Clicking the shown column toggles to the other direction of the same column.
        const std::optional<SortType> next = toggledSortType(c.tag, c.order);
        ASSERT_TRUE(next);
        EXPECT_EQ(sortIndicatorOf(*next).tag, c.tag);
        EXPECT_NE(sortIndicatorOf(*next).descending, c.descending);
    }
}

} // namespace
} // namespace tarn::maillist
