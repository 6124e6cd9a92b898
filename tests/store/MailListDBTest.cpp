#include "StoreTestSupport.h"

#include "core/TarnError.h"
#include "store/MailListDB.h"

#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace tarn;
using tarn::test::makeRecord;

namespace {

class MailListDBTest : public testing::Test {
protected:
    test::ScopedLockName m_lockName;
    NamedMutex m_lock{m_lockName.name};
    MailListDB m_db{m_lock};

    std::vector<std::string> uidsInOrder(int account = MailListDB::AllAccounts) {
        std::vector<std::string> out;
        for (const MessageKey& k : m_db.MessageKeys(account)) {
            out.push_back(k.UID);
        }
        return out;
    }
};

// ---- widths -------------------------------------------------------------------------------

struct WidthCase {
    const char* label;
    std::optional<std::string> MailRecord::*field;
    std::string text;
    std::string expected;
};

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

class WidthTest : public MailListDBTest, public testing::WithParamInterface<WidthCase> {};

TEST_P(WidthTest, TextIsCutToItsWidthWhenStored) {
    const WidthCase& c = GetParam();
    MailRecord r = makeRecord("id", 1, 1);
    r.*c.field = c.text;
    m_db.AppendMessage(r);
    // The UID case is found by its long form too: lookups cut the same way.
    const std::string uid = c.field == &MailRecord::UID ? c.text : "id";
    auto found = m_db.FindMessage(uid, 1);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*(*found.*c.field), c.expected);

    // Storing back through an update cuts again.
    MailRecord changed = *found;
    changed.*c.field = c.text + "tail";
    ASSERT_TRUE(m_db.UpdateMessage(changed));
    EXPECT_EQ(*(*m_db.FindMessage(uid, 1).*c.field), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, WidthTest,
    testing::Values(
        WidthCase{"Subject200", &MailRecord::Subject, std::string(200, 's'), std::string(128, 's')},
        WidthCase{"SubjectFits", &MailRecord::Subject, std::string(128, 's'),
                  std::string(128, 's')},
        WidthCase{"Sender", &MailRecord::Sender, std::string(129, 'f'), std::string(128, 'f')},
        WidthCase{"UID", &MailRecord::UID, std::string(150, 'u'), std::string(128, 'u')},
        WidthCase{"Soundfile", &MailRecord::Soundfile, std::string(300, 'w'),
                  std::string(256, 'w')},
        // 200 two-byte characters: 128 characters kept, none split.
        WidthCase{"SubjectUtf8", &MailRecord::Subject, repeat("\xc3\xa9", 200),
                  repeat("\xc3\xa9", 128)},
        // Not UTF-8 (Latin-1 bytes): cut by bytes.
        WidthCase{"SubjectLatin1", &MailRecord::Subject, std::string(200, '\xe9'),
                  std::string(128, '\xe9')}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(MailListDBTest, HeaderAndBodyAreNeverCut) {
    MailRecord r = makeRecord("id", 1, 1);
    r.Header = std::string(5000, 'h');
    r.Body = std::string(9000, 'b');
    m_db.AppendMessage(r);
    auto found = m_db.FindMessage("id", 1);
    EXPECT_EQ(found->Header->size(), 5000u);
    EXPECT_EQ(found->Body->size(), 9000u);
}

// ---- identity -----------------------------------------------------------------------------

TEST_F(MailListDBTest, IdentityIsUidAndAccountWithLetterCase) {
    MailRecord a = makeRecord("UID-1", 1, 1);
    a.Subject = "one";
    MailRecord b = makeRecord("UID-1", 2, 1);
    b.Subject = "two";
    m_db.AppendMessage(a);
    m_db.AppendMessage(b);

    EXPECT_EQ(m_db.size(), 2u);
    EXPECT_EQ(m_db.FindMessage("UID-1", 1)->Subject, "one");
    EXPECT_EQ(m_db.FindMessage("UID-1", 2)->Subject, "two");
    EXPECT_FALSE(m_db.FindMessage("UID-1", 3));
    EXPECT_FALSE(m_db.FindMessage("uid-1", 1));

    // Changing one account's record leaves the other alone.
    MailRecord changed = *m_db.FindMessage("UID-1", 2);
    changed.Ignore = true;
    ASSERT_TRUE(m_db.UpdateMessage(changed));
    EXPECT_FALSE(m_db.FindMessage("UID-1", 1)->Ignore.has_value());
    ASSERT_TRUE(m_db.RemoveMessage("UID-1", 1));
    EXPECT_FALSE(m_db.FindMessage("UID-1", 1));
    EXPECT_TRUE(m_db.FindMessage("UID-1", 2));
}

TEST_F(MailListDBTest, AppendSetsNewAndKeepsOtherFieldsAbsent) {
    m_db.AppendMessage(makeRecord("x", 1, 4));
    auto r = m_db.FindMessage("x", 1);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->New, true);
    EXPECT_FALSE(r->Delete || r->Ignore || r->RetrieveMail || r->icon || r->Body || r->Date);
}

TEST_F(MailListDBTest, UpdateMissingRecordChangesNothing) {
    m_db.AppendMessage(makeRecord("x", 1, 1));
    EXPECT_FALSE(m_db.UpdateMessage(makeRecord("x", 2, 1)));
    EXPECT_FALSE(m_db.RemoveMessage("y", 1));
    EXPECT_EQ(m_db.size(), 1u);
}

TEST_F(MailListDBTest, UpdateCanMoveRecordToNewIdentity) {
    m_db.AppendMessage(makeRecord("old", 1, 1));
    MailRecord r = *m_db.FindMessage("old", 1);
    r.UID = "new";
    r.Account = 2;
    ASSERT_TRUE(m_db.UpdateMessage("old", 1, r));
    EXPECT_FALSE(m_db.FindMessage("old", 1));
    EXPECT_TRUE(m_db.FindMessage("new", 2));
    EXPECT_FALSE(m_db.AccountHasMessages(1));
    EXPECT_TRUE(m_db.AccountHasMessages(2));
    EXPECT_EQ(m_db.CountShownMessages(2), 1);
}

// ---- counts -------------------------------------------------------------------------------

TEST_F(MailListDBTest, CountsTreatAbsentFlagsAsFalse) {
    struct Row {
        int account;
        std::optional<bool> Ignore;
        std::optional<bool> New;
    };
    const std::vector<Row> rows = {
        {1, std::nullopt, std::nullopt}, // shown, not new
        {1, std::nullopt, true},         // shown, new
        {1, false, true},                // shown, new
        {1, true, true},                 // hidden: neither shown nor announced
        {1, true, std::nullopt},         // hidden
        {2, std::nullopt, false},        // shown
        {2, true, false},                // hidden
    };
    int i = 0;
    for (const Row& row : rows) {
        ++i;
        MailRecord r = makeRecord("u" + std::to_string(i), row.account, i);
        m_db.AppendMessage(r);
        // AppendMessage sets New; put the flags of the row in place.
        MailRecord stored = *m_db.FindMessage(*r.UID, row.account);
        stored.Ignore = row.Ignore;
        stored.New = row.New;
        ASSERT_TRUE(m_db.UpdateMessage(stored));
    }
    EXPECT_EQ(m_db.CountShownMessages(1), 3);
    EXPECT_EQ(m_db.CountShownMessages(2), 1);
    EXPECT_EQ(m_db.CountShownMessages(3), 0);
    EXPECT_EQ(m_db.CountAllShownMessages(), 4);
    EXPECT_EQ(m_db.CountNewShown(1), 2);
    EXPECT_EQ(m_db.CountNewShown(2), 0);
    EXPECT_TRUE(m_db.AccountHasMessages(2));
    EXPECT_FALSE(m_db.AccountHasMessages(3));

    EXPECT_EQ(m_db.ClearNewFlags(1), 3u);
    EXPECT_EQ(m_db.CountNewShown(1), 0);
    EXPECT_EQ(m_db.CountShownMessages(1), 3);
}

TEST_F(MailListDBTest, ClearNewFlagsTouchesOneAccountOnly) {
    m_db.AppendMessage(makeRecord("a", 1, 1));
    m_db.AppendMessage(makeRecord("b", 2, 1));
    m_db.ClearNewFlags(1);
    EXPECT_EQ(m_db.FindMessage("a", 1)->New, false);
    EXPECT_EQ(m_db.FindMessage("b", 2)->New, true);
    EXPECT_EQ(m_db.CountNewShown(2), 1);
}

// ---- sort orders --------------------------------------------------------------------------

struct SortCase {
    const char* name;
    std::vector<std::string> expected;
};

class SortOrderTest : public MailListDBTest, public testing::WithParamInterface<SortCase> {
protected:
    void SetUp() override {
        // uid, account, count, subject, sender, size, date
        add("a", 1, 2, "beta", "Xavier", 300, 45000.5);
        add("b", 2, 1, "Alpha", "yvonne", 100, std::nullopt);
        add("c", 1, 1, "alpha", "Zed", 100, 44000);
        add("d", 3, 5, std::nullopt, "xavier", 50, 46000);
        add("e", 2, 2, "beta", "Adam", 100, 44000);
    }
    void add(const char* uid, int account, long long count, std::optional<std::string> subject,
             std::string sender, long long size, std::optional<double> date) {
        MailRecord r = makeRecord(uid, account, count);
        r.Subject = std::move(subject);
        r.Sender = std::move(sender);
        r.Size = size;
        r.Date = date;
        m_db.AppendMessage(r);
    }
};

TEST_P(SortOrderTest, WalkFollowsTheActiveOrder) {
    const SortCase& c = GetParam();
    ASSERT_TRUE(m_db.setSortOrder(c.name));
    EXPECT_EQ(MailListDB::sortTypeName(m_db.sortOrder()), std::string(c.name));
    EXPECT_EQ(uidsInOrder(), c.expected);

    // A per-account walk keeps the same relative order.
    std::vector<std::string> account2;
    for (const auto& uid : c.expected) {
        if (uid == "b" || uid == "e") {
            account2.push_back(uid);
        }
    }
    EXPECT_EQ(uidsInOrder(2), account2);
}

// Texts compare without letter case, then by bytes; absent values sort as empty or 0; equal
// keys keep the order in which the records were added.
INSTANTIATE_TEST_SUITE_P(Names, SortOrderTest,
                         testing::Values(SortCase{"CountIndex", {"d", "b", "e", "c", "a"}},
                                         SortCase{"CountIndexRev", {"c", "a", "b", "e", "d"}},
                                         SortCase{"SubjectIndex", {"e", "a", "c", "b", "d"}},
                                         SortCase{"SubjectIndexRev", {"d", "b", "c", "e", "a"}},
                                         SortCase{"SenderIndex", {"c", "b", "d", "a", "e"}},
                                         SortCase{"SenderIndexRev", {"e", "a", "d", "b", "c"}},
                                         SortCase{"SizeIndex", {"d", "b", "e", "c", "a"}},
                                         SortCase{"SizeIndexRev", {"a", "b", "e", "c", "d"}},
                                         SortCase{"DateIndex", {"b", "e", "c", "a", "d"}},
                                         SortCase{"DateIndexRev", {"d", "a", "e", "c", "b"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SortOrderTest, UnknownNameFallsBackToCountIndex) {
    ASSERT_TRUE(m_db.setSortOrder("DateIndex"));
    EXPECT_FALSE(m_db.setSortOrder("dateindex"));
    EXPECT_EQ(m_db.sortOrder(), SortType::CountIndex);
    EXPECT_FALSE(m_db.setSortOrder(""));
    EXPECT_EQ(uidsInOrder(), (std::vector<std::string>{"d", "b", "e", "c", "a"}));
}

TEST_F(SortOrderTest, ChangedRecordMovesToItsNewPlace) {
    ASSERT_TRUE(m_db.setSortOrder("SizeIndexRev"));
    MailRecord d = *m_db.FindMessage("d", 3);
    d.Size = 1000;
    ASSERT_TRUE(m_db.UpdateMessage(d));
    EXPECT_EQ(uidsInOrder(), (std::vector<std::string>{"d", "a", "b", "e", "c"}));
    m_db.AppendMessage([] {
        MailRecord r = makeRecord("f", 1, 9);
        r.Size = 200;
        return r;
    }());
    EXPECT_EQ(uidsInOrder(), (std::vector<std::string>{"d", "a", "f", "b", "e", "c"}));
}

TEST_F(SortOrderTest, FindByUidTakesTheFirstInSortOrder) {
    add("same", 1, 7, "zz", "s", 10, 1.0);
    add("same", 3, 7, "aa", "s", 20, 1.0);
    ASSERT_TRUE(m_db.setSortOrder("CountIndex")); // account descending
    EXPECT_EQ(m_db.FindByUid("same")->Account, 3);
    ASSERT_TRUE(m_db.setSortOrder("SubjectIndex")); // "zz" first
    EXPECT_EQ(m_db.FindByUid("same")->Account, 1);
    ASSERT_TRUE(m_db.setSortOrder("SizeIndex"));
    EXPECT_EQ(m_db.FindByUid("same")->Account, 1);
    EXPECT_FALSE(m_db.FindByUid("nothing"));
}

TEST_F(SortOrderTest, FirstMarkedForDeletionFollowsSortOrder) {
    EXPECT_FALSE(m_db.FirstMarkedForDeletion(1));
    for (const char* uid : {"a", "c"}) {
        MailRecord r = *m_db.FindMessage(uid, 1);
        r.Delete = true;
        ASSERT_TRUE(m_db.UpdateMessage(r));
    }
    ASSERT_TRUE(m_db.setSortOrder("CountIndex")); // c (count 1) before a (count 2)
    auto first = m_db.FirstMarkedForDeletion(1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->UID, "c");
    EXPECT_EQ(first->Count, 1);
    EXPECT_TRUE(first->moreFollow);

    ASSERT_TRUE(m_db.setSortOrder("SizeIndexRev")); // a (300) before c (100)
    EXPECT_EQ(m_db.FirstMarkedForDeletion(1)->UID, "a");

    ASSERT_TRUE(m_db.RemoveMessage("a", 1));
    first = m_db.FirstMarkedForDeletion(1);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->UID, "c");
    EXPECT_FALSE(first->moreFollow);
    EXPECT_FALSE(m_db.FirstMarkedForDeletion(2)) << "marks of account 1 only";
}

// ---- per-account passes -------------------------------------------------------------------

struct KeepCase {
    const char* label;
    // records: uid@count in account 1, added in this order; account 2 always has "u"@5
    std::vector<std::pair<std::string, long long>> records;
    std::size_t removed;
    std::vector<std::string> left; // account 1, CountIndex order, with subjects for duplicates
};

class KeepOnlyAtCountTest : public MailListDBTest, public testing::WithParamInterface<KeepCase> {};

TEST_P(KeepOnlyAtCountTest, LeavesOneRecordAtTheCount) {
    const KeepCase& c = GetParam();
    int n = 0;
    for (const auto& [uid, count] : c.records) {
        MailRecord r = makeRecord(uid, 1, count);
        r.Subject = uid + "#" + std::to_string(++n);
        m_db.AppendMessage(r);
    }
    m_db.AppendMessage(makeRecord("u", 2, 5));

    EXPECT_EQ(m_db.KeepOnlyAtCount(1, 5, "u"), c.removed);

    std::vector<std::string> left;
    m_db.walk(1, [&](const MailRecord& r) {
        left.push_back(*r.Subject);
        return true;
    });
    EXPECT_EQ(left, c.left);
    EXPECT_TRUE(m_db.FindMessage("u", 2)) << "other accounts are never touched";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepOnlyAtCountTest,
    testing::Values(KeepCase{"OtherUidAtCount", {{"x", 5}, {"u", 5}, {"y", 6}}, 1, {"u#2", "y#3"}},
                    KeepCase{
                        "DuplicatesKeepTheLastInOrder", {{"u", 5}, {"u", 5}, {"u", 5}}, 2, {"u#3"}},
                    KeepCase{"NothingAtCount", {{"u", 4}, {"y", 6}}, 0, {"u#1", "y#2"}},
                    KeepCase{"OnlyOthersAtCount", {{"x", 5}, {"y", 5}, {"z", 1}}, 2, {"z#3"}},
                    KeepCase{"UidCaseMatters", {{"U", 5}, {"u", 5}}, 1, {"u#2"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(MailListDBTest, RemoveBeyondCountDropsOnlyThatAccountsHigherCounts) {
    for (long long c : {1, 2, 3, 4, 5}) {
        m_db.AppendMessage(makeRecord("a" + std::to_string(c), 1, c));
        m_db.AppendMessage(makeRecord("b" + std::to_string(c), 2, c));
    }
    EXPECT_EQ(m_db.RemoveBeyondCount(1, 3), 2u);
    EXPECT_EQ(uidsInOrder(1), (std::vector<std::string>{"a1", "a2", "a3"}));
    EXPECT_EQ(m_db.CountShownMessages(2), 5);
    EXPECT_EQ(m_db.RemoveBeyondCount(2, 0), 5u);
    EXPECT_FALSE(m_db.AccountHasMessages(2));
    EXPECT_EQ(m_db.RemoveBeyondCount(1, 3), 0u);
}

// ---- changes over accounts ----------------------------------------------------------------

class AccountsTest : public MailListDBTest {
protected:
    void SetUp() override {
        for (int account : {1, 2, 3}) {
            for (int i = 1; i <= 2; ++i) {
                m_db.AppendMessage(makeRecord("m" + std::to_string(i), account, i));
            }
        }
    }
    void mark(const char* uid, int account) {
        MailRecord r = *m_db.FindMessage(uid, account);
        r.Delete = true;
        ASSERT_TRUE(m_db.UpdateMessage(r));
    }
};

TEST_F(AccountsTest, HideAndShowOneAccountOrAll) {
    EXPECT_EQ(m_db.HideMessages(2), (std::set<int>{2}));
    EXPECT_EQ(m_db.CountShownMessages(2), 0);
    EXPECT_EQ(m_db.CountAllShownMessages(), 4);
    EXPECT_EQ(m_db.HideMessages(2), (std::set<int>{})) << "already hidden";

    EXPECT_EQ(m_db.HideMessages(), (std::set<int>{1, 3}));
    EXPECT_EQ(m_db.CountAllShownMessages(), 0);

    EXPECT_EQ(m_db.ShowHiddenMessages(3), (std::set<int>{3}));
    EXPECT_EQ(m_db.CountAllShownMessages(), 2);
    EXPECT_EQ(m_db.FindMessage("m1", 3)->Ignore, false);
    EXPECT_EQ(m_db.ShowHiddenMessages(), (std::set<int>{1, 2}));
    EXPECT_EQ(m_db.CountAllShownMessages(), 6);
}

TEST_F(AccountsTest, UndeleteAllClearsMarksOfEveryAccount) {
    mark("m1", 1);
    mark("m2", 3);
    EXPECT_EQ(m_db.UndeleteAll(), (std::set<int>{1, 3}));
    for (int account : {1, 2, 3}) {
        EXPECT_FALSE(m_db.FirstMarkedForDeletion(account)) << account;
    }
    EXPECT_EQ(m_db.FindMessage("m2", 3)->Delete, false);
    EXPECT_FALSE(m_db.FindMessage("m1", 2)->Delete.has_value()) << "unmarked records untouched";
}

TEST_F(AccountsTest, PurgeAllReportsAccountsThatHadRecords) {
    EXPECT_EQ(m_db.PurgeAll(), (std::set<int>{1, 2, 3}));
    EXPECT_EQ(m_db.size(), 0u);
    EXPECT_EQ(m_db.CountAllShownMessages(), 0);
    EXPECT_TRUE(uidsInOrder().empty());
    EXPECT_EQ(m_db.PurgeAll(), (std::set<int>{}));
    m_db.AppendMessage(makeRecord("m1", 1, 1));
    EXPECT_TRUE(m_db.FindMessage("m1", 1));
}

TEST_F(AccountsTest, WalkStopsOnRequestAndRefusesChanges) {
    int visited = 0;
    m_db.walk(MailListDB::AllAccounts, [&](const MailRecord&) { return ++visited < 4; });
    EXPECT_EQ(visited, 4);

    EXPECT_THROW(m_db.walk(1,
                           [&](const MailRecord& r) {
                               m_db.RemoveMessage(*r.UID, 1);
                               return true;
                           }),
                 TarnError);
    EXPECT_EQ(m_db.size(), 6u);

    // Changing records one by one goes through their keys.
    for (const MessageKey& k : m_db.MessageKeys(1)) {
        MailRecord r = *m_db.FindMessage(k.UID, k.Account);
        r.icon = 7;
        ASSERT_TRUE(m_db.UpdateMessage(r));
    }
    m_db.walk(1, [](const MailRecord& r) {
        EXPECT_EQ(r.icon, 7);
        return true;
    });
}

// ---- the lock -----------------------------------------------------------------------------

namespace {

// True once thread tid sleeps in the kernel (blocked on a lock), false when the time is up.
bool waitUntilBlocked(pid_t tid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    const std::string statPath = "/proc/self/task/" + std::to_string(tid) + "/stat";
    while (std::chrono::steady_clock::now() < end) {
        std::ifstream in(statPath);
        std::string stat;
        std::getline(in, stat);
        // The state follows the command's closing parenthesis.
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'S')
            return true;
        std::this_thread::yield();
    }
    return false;
}

} // namespace

TEST_F(MailListDBTest, OperationsWaitWhileAnotherThreadHoldsTheLock) {
    std::atomic<pid_t> otherTid{0};
    std::atomic<bool> released{false};
    std::atomic<bool> appendedAfterRelease{false};
    std::thread other;
    {
        NamedLock hold(m_db.mutex());
        other = std::thread([&] {
            otherTid = static_cast<pid_t>(::syscall(SYS_gettid));
            m_db.AppendMessage(makeRecord("late", 1, 1));
            appendedAfterRelease = released.load();
        });
        while (otherTid.load() == 0)
            std::this_thread::yield();
        // Released only once the other thread waits for the lock.
        EXPECT_TRUE(waitUntilBlocked(otherTid, std::chrono::seconds(5)));
        // The holder itself may go on using the table.
        EXPECT_EQ(m_db.size(), 0u);
        released = true;
    }
    other.join();
    EXPECT_TRUE(appendedAfterRelease.load());
    EXPECT_EQ(m_db.size(), 1u);
}

TEST_F(MailListDBTest, FourThreadsHammeringStayConsistent) {
    constexpr int kMessages = 300;
    std::vector<std::thread> threads;
    std::atomic<bool> orderBroken{false};
    for (int account = 1; account <= 4; ++account) {
        threads.emplace_back([&, account] {
            for (int round = 0; round < 2; ++round) {
                for (int i = 1; i <= kMessages; ++i) {
                    const std::string uid = "m" + std::to_string(i);
                    NamedLock step(m_db.mutex());
                    if (auto found = m_db.FindMessage(uid, account)) {
                        found->New = false;
                        found->Ignore = (i % 3 == 0);
                        m_db.UpdateMessage(*found);
                    } else {
                        m_db.AppendMessage(makeRecord(uid, account, i));
                    }
                    m_db.KeepOnlyAtCount(account, i, uid);
                    if (i % 50 == 0) {
                        m_db.CountAllShownMessages();
                        long long last = 0;
                        m_db.walk(account, [&](const MailRecord& r) {
                            if (*r.Count < last) {
                                orderBroken = true;
                            }
                            last = *r.Count;
                            return true;
                        });
                    }
                }
                m_db.RemoveBeyondCount(account, kMessages);
                m_db.CountNewShown(account);
                m_db.ClearNewFlags(account);
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_FALSE(orderBroken.load());
    EXPECT_EQ(m_db.size(), 4u * kMessages);
    for (int account = 1; account <= 4; ++account) {
        EXPECT_EQ(m_db.CountShownMessages(account), kMessages - kMessages / 3);
        EXPECT_EQ(m_db.CountNewShown(account), 0);
    }
}

} // namespace
