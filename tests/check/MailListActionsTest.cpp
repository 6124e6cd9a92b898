#include "check/MailListActions.h"

#include "check/Session.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "store/MailStoreFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <thread>
#include <vector>

namespace tarn {
namespace {

class MailListActionsTest : public ::testing::Test {
protected:
    MailListActionsTest() {
        session.settings().Accounts.resize(3);
        for (int a = 1; a <= 3; ++a)
            session.settings().account(a).Name = "acc" + std::to_string(a);
        session.syncWithSettings();
    }

    void add(const std::string& uid, int account, long long size = 100, bool del = false) {
        MailRecord r;
        r.UID = uid;
        r.Account = account;
        r.Count = static_cast<long long>(session.db().size()) + 1;
        r.Subject = "s " + uid;
        r.Size = size;
        if (del)
            r.Delete = true;
        NamedLock lock(session.db().mutex());
        session.db().AppendMessage(r);
    }
    MailRecord get(const std::string& uid, int account) {
        auto r = session.db().FindMessage(uid, account);
        EXPECT_TRUE(r.has_value()) << uid;
        return r.value_or(MailRecord{});
    }
    bool marked(const std::string& uid, int account) {
        return get(uid, account).Delete.value_or(false);
    }

    test::TempDir dir;
    Session session{dir.path().string(), systemClock(), test::uniqueLockSuffix()};
    std::vector<std::pair<int, int>> timers; // (account, ms) in order
    MailListActions actions{session, [this](int a, int ms) { timers.emplace_back(a, ms); }};
};

TEST_F(MailListActionsTest, DeleteTogglesEachRowAndRequestsItsAccountsCheck) {
    add("m1", 1, 100, true);
    add("m2", 2);
    add("m3", 3);
    session.runtime()[1].LastMailboxTotal = 7;
    session.runtime()[2].LastMailboxTotal = 7;
    // Two rows, one marked and one not: the marks swap; a missing row is skipped.
    const int found = actions.toggleDeleteMarks({{"m1", 1}, {"gone", 1}, {"m2", 2}}, 10000);
    EXPECT_EQ(found, 2);
    EXPECT_FALSE(marked("m1", 1));
    EXPECT_TRUE(marked("m2", 2));
    EXPECT_FALSE(marked("m3", 3));
    // Only the newly marked record forces a full pass of its account.
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, 7);
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -2);
    EXPECT_EQ(timers, (std::vector<std::pair<int, int>>{{1, 10000}, {2, 10000}}));
    EXPECT_TRUE(session.runtime()[1].CheckRequested);
    EXPECT_TRUE(session.runtime()[2].CheckRequested);
    EXPECT_FALSE(session.runtime()[3].CheckRequested);
}

TEST_F(MailListActionsTest, DeleteAllTogglesWithoutRequestsAndUndeleteClearsEveryAccount) {
    add("m1", 1, 100, true);
    add("m2", 1);
    add("m3", 2, 100, true);
    actions.toggleDeleteMarks({{"m1", 1}, {"m2", 1}}, std::nullopt);
    EXPECT_FALSE(marked("m1", 1));
    EXPECT_TRUE(marked("m2", 1));
    EXPECT_TRUE(timers.empty());
    EXPECT_FALSE(session.runtime()[1].CheckRequested);

    EXPECT_EQ(actions.undeleteAll(), (std::set<int>{1, 2}));
    EXPECT_FALSE(marked("m2", 1));
    EXPECT_FALSE(marked("m3", 2));
    EXPECT_TRUE(timers.empty());
}

TEST_F(MailListActionsTest, SameUidUnderTwoAccountsActsOnTheRowsOwnRecord) {
    add("same", 1);
    add("same", 2);
    actions.toggleDeleteMarks({{"same", 1}}, 10000);
    actions.assignIcon({{"same", 2}}, 7);
    EXPECT_TRUE(marked("same", 1));
    EXPECT_FALSE(marked("same", 2));
    EXPECT_EQ(get("same", 1).icon.value_or(0), 0);
    EXPECT_EQ(get("same", 2).icon.value_or(0), 7);
}

TEST_F(MailListActionsTest, RetrieveBodyMarksBelowTheLimitAndRequestsTheLastAccountAtOnce) {
    add("small", 1, 51199);
    add("exact", 2, 51200);
    add("small2", 3, 0);
    std::vector<std::string> boxes;
    auto res = actions.retrieveBodies({{"small", 1}, {"exact", 2}, {"small2", 3}}, 50,
                                      [&](const MessageKey& k) {
                                          // The box is shown while the walk still holds the
                                          // lock: another thread cannot take it.
                                          bool taken = true;
                                          std::thread other([&] {
                                              taken = session.db().mutex().try_lock();
                                              if (taken)
                                                  session.db().mutex().unlock();
                                          });
                                          other.join();
                                          EXPECT_FALSE(taken);
                                          boxes.push_back(k.UID);
                                      });
    EXPECT_EQ(res.marked, 2);
    EXPECT_EQ(boxes, std::vector<std::string>{"exact"});
    EXPECT_TRUE(get("small", 1).RetrieveMail.value_or(false));
    EXPECT_FALSE(get("exact", 2).RetrieveMail.value_or(false));
    EXPECT_TRUE(get("small2", 3).RetrieveMail.value_or(false));
    // Only the last marked row's account is checked now, reading its whole mailbox.
    EXPECT_EQ(timers, (std::vector<std::pair<int, int>>{{3, 1}}));
    EXPECT_EQ(session.runtime()[3].LastMailboxTotal, -2);
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -1);
}

TEST_F(MailListActionsTest, RetrieveHeadersMarksOnlyRowsWithoutHeaderAndChecksTheirAccounts) {
    add("envelope", 1);
    add("envelope2", 3);
    add("pop", 2);
    {
        NamedLock lock(session.db().mutex());
        MailRecord r = get("pop", 2);
        r.Header = "Subject: s pop\r\n";
        session.db().UpdateMessage(r);
    }
    const std::vector<MessageKey> marked =
        actions.retrieveHeaders({{"envelope", 1}, {"pop", 2}, {"gone", 2}, {"envelope2", 3}});
    EXPECT_EQ(marked, (std::vector<MessageKey>{{"envelope", 1}, {"envelope2", 3}}));
    EXPECT_TRUE(get("envelope", 1).RetrieveMail.value_or(false));
    EXPECT_TRUE(get("envelope2", 3).RetrieveMail.value_or(false));
    EXPECT_FALSE(get("pop", 2).RetrieveMail.value_or(false));
    EXPECT_EQ(timers, (std::vector<std::pair<int, int>>{{1, 1}, {3, 1}}));
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -2);
    EXPECT_EQ(session.runtime()[3].LastMailboxTotal, -2);
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -1);
}

TEST_F(MailListActionsTest, RetrieveBodyWithNothingToMarkRequestsNothing) {
    add("big", 1, 51200);
    int boxes = 0;
    EXPECT_EQ(actions.retrieveBodies({}, 50, [&](const MessageKey&) { ++boxes; }).marked, 0);
    EXPECT_EQ(actions.retrieveBodies({{"big", 1}}, 50, [&](const MessageKey&) { ++boxes; }).marked,
              0);
    EXPECT_EQ(boxes, 1);
    EXPECT_TRUE(timers.empty());
    EXPECT_FALSE(session.runtime()[1].CheckRequested);
}

TEST_F(MailListActionsTest, HideRowsHideAllAndShowHiddenReportTheirAccounts) {
    add("a", 1);
    add("b", 2);
    add("c", 3);
    EXPECT_EQ(actions.hideRows({{"a", 1}, {"nope", 2}}), std::set<int>{1});
    EXPECT_EQ(session.db().CountShownMessages(1), 0);
    EXPECT_EQ(actions.hideAll(0), (std::set<int>{2, 3}));
    EXPECT_EQ(session.db().CountAllShownMessages(), 0);
    EXPECT_EQ(actions.showAllHidden(2), std::set<int>{2});
    EXPECT_EQ(session.db().CountAllShownMessages(), 1);
    EXPECT_EQ(actions.showAllHidden(0), (std::set<int>{1, 3}));
    EXPECT_EQ(session.db().CountAllShownMessages(), 3);
}

TEST_F(MailListActionsTest, CheckNewMailsGoesOnlineFirstThenStaggersTheAccounts) {
    session.Online = false;
    std::vector<std::string> order;
    actions.checkNewMails(0, [&] {
        order.push_back("online");
        EXPECT_TRUE(timers.empty());
        session.Online = true;
    });
    EXPECT_EQ(order, std::vector<std::string>{"online"});
    EXPECT_EQ(timers, (std::vector<std::pair<int, int>>{{1, 110}, {2, 120}, {3, 130}}));
    timers.clear();
    actions.checkNewMails(2, [&] { order.push_back("again"); });
    EXPECT_EQ(order.size(), 1u); // already online
    EXPECT_EQ(timers, (std::vector<std::pair<int, int>>{{2, 100}}));
}

TEST_F(MailListActionsTest, PurgeRemovesEverythingResetsTotalsAndDeletesTheSavedFile) {
    add("a", 1);
    add("c", 3);
    session.runtime()[2].LastMailboxTotal = 5;
    const std::string saved = session.path(MailStoreFiles::SavedFileName);
    test::writeFile(saved, "old list");
    EXPECT_EQ(actions.purgeMaillist(), (std::set<int>{1, 3}));
    EXPECT_EQ(session.db().size(), 0u);
    for (int a = 1; a <= 3; ++a)
        EXPECT_EQ(session.runtime()[a].LastMailboxTotal, -1) << a;
    EXPECT_FALSE(std::filesystem::exists(saved));
}

} // namespace
} // namespace tarn
