// The end of a check, deleting an account and applying all filters, driven without a window.

#include "check/ApplyAllFilters.h"
#include "check/DeleteAccount.h"
#include "check/EndOfCheck.h"
#include "check/ImapStateFiles.h"
#include "check/QuietSchedulerHost.h"
#include "check/Session.h"
#include "check/TaskLoop.h"
#include "core/Scheduler.h"
#include "core/TarnError.h"
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include "fakes/CheckSessionSupport.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace tarn {
namespace {

class UseCases : public test::CheckSessionSupport {
protected:
    UseCases() : CheckSessionSupport("tarn-usecases") {}
    void SetUp() override {
        session.settings().Accounts.resize(3);
        for (int a = 1; a <= 3; ++a) {
            session.settings().account(a).Name = "acc" + std::to_string(a);
            session.settings().account(a).List = a != 2;
        }
        session.syncWithSettings();
    }
    void add(int account, const std::string& uid, const std::string& subject = "hello",
             bool hidden = false) {
        MailRecord r;
        r.UID = uid;
        r.Account = account;
        r.Subject = subject;
        r.Ignore = hidden;
        NamedLock lock(session.db().mutex());
        session.db().AppendMessage(r);
    }
    MailRecord get(const std::string& uid, int account) {
        auto r = session.db().FindMessage(uid, account);
        EXPECT_TRUE(r.has_value()) << uid;
        return r.value_or(MailRecord{});
    }
    CheckResult resultFor(int account) {
        CheckResult r;
        r.account = account;
        r.runtime = session.runtimeOf(account);
        return r;
    }
};

TEST_F(UseCases, EndOfCheckPopsTheListUpOnlyForMoreShownMailFromASuccessfulCheck) {
    struct Case {
        const char* name;
        int shownBefore;
        bool popupSetting;
        bool listPresent;
        bool listVisible;
        bool failed;
        bool popup;
    };
    // Two shown messages of account 1 and a hidden one are in the list.
    const Case cases[] = {
        {"more mail", 1, true, true, false, false, true},
        {"same count", 2, true, true, false, false, false},
        {"fewer than before", 3, true, true, false, false, false},
        {"setting off", 0, false, true, false, false, false},
        {"list already visible", 0, true, true, true, false, false},
        {"check failed", 0, true, true, false, true, false},
        {"no mail list window", 0, true, false, false, false, false},
    };
    add(1, "a");
    add(1, "b");
    add(1, "c", "hello", true);
    add(2, "d");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.settings().Main.PopupMailList = c.popupSetting;
        session.runtime()[1].ShownCount = c.shownBefore;
        CheckResult r = resultFor(1);
        r.failed = c.failed;
        const EndOfCheckSteps steps =
            endOfCheck(session, r, MailListState{c.listPresent, 0, c.listVisible}, "10:00");
        EXPECT_EQ(steps.account, 1);
        EXPECT_EQ(steps.popupList, c.popup);
        EXPECT_EQ(session.runtime()[1].ShownCount, 2); // recounted, hidden one left out
    }
}

TEST_F(UseCases, EndOfCheckRebuildsTheListOnlyWhenItShowsTheAccountAndRecordsChanged) {
    struct Case {
        bool listFlag;
        bool unchanged;
        int deleted;
        int view;
        bool rebuild;
    };
    const Case cases[] = {
        {true, false, 0, 2, true},  {true, false, 0, 0, true},   {true, false, 0, 1, false},
        {true, true, 0, 2, false},  {false, false, 0, 2, false}, {false, true, 1, 2, true},
        {false, false, 3, 0, true}, {false, false, 3, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.listFlag) + std::to_string(c.unchanged) +
                     std::to_string(c.deleted) + " view " + std::to_string(c.view));
        CheckResult r = resultFor(2);
        r.listFlag = c.listFlag;
        r.unchanged = c.unchanged;
        r.deletedCount = c.deleted;
        const EndOfCheckSteps steps =
            endOfCheck(session, r, MailListState{true, c.view, false}, "");
        EXPECT_EQ(steps.rebuildList, c.rebuild);
    }
}

TEST_F(UseCases, EndOfCheckStartsTheShutdownAndShowsAFailureBesideTheTime) {
    CheckResult ok = resultFor(3);
    ok.shutdownRequested = true;
    EndOfCheckSteps steps = endOfCheck(session, ok, MailListState{}, "10:00");
    EXPECT_TRUE(steps.startShutdown);
    EXPECT_FALSE(steps.failed);
    EXPECT_EQ(steps.fieldHint, "");
    EXPECT_EQ(steps.fieldColor, Scheduler::endOfCheckColor(session.settings().account(3),
                                                           session.settings().Main.Colors, false));

    CheckResult failed = resultFor(3);
    failed.failed = true;
    failed.failureKind = ErrorKind::TimedOut;
    failed.failureText = "Read timed out.";
    steps = endOfCheck(session, failed, MailListState{true, 0, false}, "10:00");
    EXPECT_FALSE(steps.startShutdown);
    EXPECT_TRUE(steps.failed);
    EXPECT_EQ(steps.fieldHint, "acc3 10:00 (" + failed.failureReason() + ")");
    EXPECT_EQ(steps.failureReason, failed.failureReason());
    EXPECT_EQ(steps.fieldColor, session.settings().Main.Colors.Error);
}

TEST_F(UseCases, EndOfCheckOfAnAccountDeletedMeanwhileDoesNothing) {
    add(3, "x");
    CheckResult r = resultFor(3);
    r.shutdownRequested = true;
    session.deleteAccount(3);
    const EndOfCheckSteps steps = endOfCheck(session, r, MailListState{true, 0, false}, "");
    EXPECT_EQ(steps.account, 0);
    EXPECT_FALSE(steps.startShutdown);
    EXPECT_FALSE(steps.popupList);
}

// Records what the deletion asks of the windows.
class RecordingDeletionView : public AccountDeletionView {
public:
    explicit RecordingDeletionView(bool mailListWindow) : m_window(mailListWindow) {}
    void accountsRenumbered() override { calls.push_back("renumbered"); }
    void showAccount(int a, const AccountSettings& acc) override {
        calls.push_back("show " + std::to_string(a) + " " + acc.Name + (acc.List ? " list" : ""));
    }
    bool purgeInMailList() override {
        calls.push_back("purge in window");
        return m_window;
    }
    void mailListPurged() override { calls.push_back("purged"); }
    std::vector<std::string> calls;

private:
    bool m_window;
};

TEST_F(UseCases, DeletingAnAccountMovesTheOthersDownAndTheWindowsFollow) {
    for (const bool window : {true, false}) {
        SCOPED_TRACE(window ? "mail list window" : "no mail list window");
        SetUp();
        session.db().replaceAll({});
        add(1, "a");
        add(2, "b");
        add(3, "c");
        TaskLoop timers;
        QuietSchedulerHost schedulerHost(session);
        Scheduler scheduler(session.settings(), session.runtime(), session.Quitting, session.Online,
                            timers, schedulerHost, [](int) {});
        scheduler.syncAccounts();
        for (int a = 1; a <= 3; ++a) {
            session.runtime()[a].Busy = true;
            session.runtime()[a].LastMailboxTotal = 5;
        }
        AccountRuntime* third = session.runtimeOf(3);

        RecordingDeletionView view(window);
        deleteAccount(session, scheduler, 2, view);

        std::vector<std::string> expected = {"renumbered", "show 1 acc1 list", "show 2 acc3 list",
                                             "purge in window"};
        if (!window)
            expected.push_back("purged");
        EXPECT_EQ(view.calls, expected);
        EXPECT_EQ(session.settings().accountCount(), 2);
        EXPECT_EQ(session.runtime().size(), 2);
        EXPECT_EQ(session.runtimeOf(2), third);
        EXPECT_EQ(third->Number, 2);
        // Every connection was reset while the numbers moved.
        EXPECT_FALSE(session.runtime()[1].Busy);
        EXPECT_FALSE(session.runtime()[2].Busy);
        if (window) {
            // The records followed their accounts; the window purges the list itself.
            EXPECT_FALSE(session.db().FindMessage("b", 2).has_value());
            EXPECT_TRUE(session.db().FindMessage("c", 2).has_value());
        } else {
            // Purged here: the accounts that had records list their mailbox afresh.
            EXPECT_EQ(session.db().size(), 0u);
            EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -2);
            EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -2);
        }
    }
}

// The deleted account's IMAP4 state file goes with it, unless the account behind it checks
// the same mailbox; the other accounts' files stay.
TEST_F(UseCases, DeletingAnAccountRemovesItsImapStateUnlessAnotherAccountUsesIt) {
    for (const bool shared : {false, true}) {
        SCOPED_TRACE(shared ? "account 3 checks the same mailbox" : "three mailboxes");
        SetUp();
        for (int a = 1; a <= 3; ++a) {
            AccountSettings& acc = session.settings().account(a);
            acc.MailServerType = static_cast<int>(MailServerKind::Imap4);
            acc.Host = "imap" + std::to_string(shared && a == 3 ? 2 : a) + ".example.org";
            acc.UserID = "bob";
        }
        std::vector<std::string> files;
        for (int a = 1; a <= 3; ++a) {
            files.push_back(imapStateFileOf(session.settings().account(a), 1143));
            std::ofstream(session.path(files.back())) << "tarnwick-imap-state 1\n";
        }
        TaskLoop timers;
        QuietSchedulerHost schedulerHost(session);
        Scheduler scheduler(session.settings(), session.runtime(), session.Quitting, session.Online,
                            timers, schedulerHost, [](int) {});
        scheduler.syncAccounts();
        RecordingDeletionView view(true);
        deleteAccount(session, scheduler, 2, view, 1143);
        EXPECT_TRUE(std::filesystem::exists(session.path(files[0])));
        EXPECT_EQ(std::filesystem::exists(session.path(files[1])), shared);
        EXPECT_TRUE(std::filesystem::exists(session.path(files[2])));
    }
}

TEST_F(UseCases, DeletingTheOnlyAccountOrNoAccountChangesNothing) {
    TaskLoop timers;
    QuietSchedulerHost schedulerHost(session);
    Scheduler scheduler(session.settings(), session.runtime(), session.Quitting, session.Online,
                        timers, schedulerHost, [](int) {});
    scheduler.syncAccounts();
    session.runtime()[1].Busy = true;
    for (const int d : {0, 4}) {
        RecordingDeletionView view(false);
        EXPECT_THROW(deleteAccount(session, scheduler, d, view), TarnError) << d;
        EXPECT_TRUE(view.calls.empty());
        EXPECT_EQ(session.settings().accountCount(), 3);
        EXPECT_TRUE(session.runtime()[1].Busy);
    }
    session.settings().Accounts.resize(1);
    session.syncWithSettings();
    RecordingDeletionView view(false);
    EXPECT_THROW(deleteAccount(session, scheduler, 1, view), TarnError);
    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(session.settings().accountCount(), 1);
}

TEST_F(UseCases, ApplyingAllFiltersRunsEveryRecordOfEveryAccountThroughTheFilters) {
    add(1, "a", "spam offer");
    add(2, "b", "hello");
    add(3, "c", "more spam");
    // Subject contains: hide "spam" on any account.
    session.settings().Filters = {{3, true, 0, 1, "spam", "", 0}};
    session.syncWithSettings();
    FilterPassResult pass = applyAllFilters(session);
    EXPECT_EQ(pass.shutdownRequests, 0);
    EXPECT_EQ(pass.failure, "");
    EXPECT_TRUE(get("a", 1).Ignore.value_or(false));
    EXPECT_FALSE(get("b", 2).Ignore.value_or(false));
    EXPECT_TRUE(get("c", 3).Ignore.value_or(false));

    // A shutdown filter bound to account 2 marks its messages and asks for the countdown once
    // per message; the same subject on another account is not its business.
    add(2, "b2", "hello again");
    add(1, "a2", "hello");
    session.settings().Filters.push_back({3, true, 2, 4, "hello", "", 0});
    session.syncWithSettings();
    session.runtime()[2].LastMailboxTotal = 5;
    pass = applyAllFilters(session);
    EXPECT_EQ(pass.shutdownRequests, 2);
    EXPECT_TRUE(get("b", 2).Delete.value_or(false));
    EXPECT_TRUE(get("b2", 2).Delete.value_or(false));
    EXPECT_FALSE(get("a2", 1).Delete.value_or(false));
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -2);
}

} // namespace
} // namespace tarn
