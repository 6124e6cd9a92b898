#include "check/Session.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TestApp.h"
#include "core/FakeCheckTimers.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "integration/fixture/DovecotFixture.h"
#include "maillist/MailListModel.h"
#include "maillist/MailListRules.h"
#include "maillist/TF_EMailList.h"
#include "platform/PowerOff.h"

#include <QAction>
#include <QTreeView>

#include <gtest/gtest.h>

namespace tarn {
namespace {

using namespace std::chrono_literals;

struct NoPowerOff : PowerOff {
    bool powerOff() override { return false; }
};

// The mail list window against a private Dovecot: the program's own check workers, its own
// check timers stepped by hand.
class MailListDovecotTest : public ::testing::Test {
protected:
    MailListDovecotTest() { test::app(); }
    ~MailListDovecotTest() override {
        // Workers still running hold the session; wait for them before it goes.
        session.waitForWorkers(10s);
        if (checker)
            checker->setMailList(nullptr);
        list.reset();
        checker.reset();
    }

    void open(int serverType) {
        dovecot = std::make_unique<test::DovecotFixture>();
        dovecot->addUser("carol", "pw");
        for (int i = 1; i <= 3; ++i)
            dovecot->addMessage("carol", "From: Sender " + std::to_string(i) +
                                             " <s@example.org>\nSubject: Message " +
                                             std::to_string(i) + "\n\nBody number " +
                                             std::to_string(i) + "\n");
        Settings& s = session.settings();
        AccountSettings acc = defaultAccount(1, s.Main.Colors);
        acc.Name = "carol";
        acc.Host = std::string(test::DovecotFixture::host()) + ":" +
                   std::to_string(serverType == 0 ? dovecot->pop3Port() : dovecot->imapPort());
        acc.MailServerType = serverType;
        acc.UserID = "carol";
        acc.Password = "pw";
        acc.SavePwd = true;
        acc.Active = false;
        acc.List = true;
        acc.RetrieveAllBodies = false;
        s.Accounts = {acc};
        s.Main.ECount = 1;
        session.syncWithSettings();
        checker = std::make_unique<TF_CheckerWindow>(session, powerOff, &timers);
        checker->E_Setlengths(false);
        list = std::make_unique<TF_EMailList>(session, *checker);
        checker->setMailList(list.get());
        list->setErrorBox([](const QString&) {});
    }
    bool idle() { return !session.runtime()[1].Busy && session.runningWorkers() == 0; }
    int rowOfSubject(const QString& subject) {
        for (int r = 0; r < list->model().rowCount(); ++r)
            if (list->model().cellText(r, maillist::TagSubject) == subject)
                return r;
        return -1;
    }
    void selectRow(int row) {
        QTreeView* v = list->listView();
        v->selectionModel()->clearSelection();
        v->selectionModel()->select(list->model().index(row, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QAction* action(const char* name) { return list->findChild<QAction*>(name); }

    test::TempDir dir;
    Session session{dir.path().string(), systemClock(), test::uniqueLockSuffix()};
    NoPowerOff powerOff;
    test::FakeCheckTimers timers;
    std::unique_ptr<test::DovecotFixture> dovecot;
    std::unique_ptr<TF_CheckerWindow> checker;
    std::unique_ptr<TF_EMailList> list;
};

TEST_F(MailListDovecotTest, CheckFillsTheListDeleteReachesTheServerRetrieveBodyFetchesAtOnce) {
    TARN_REQUIRE_DOVECOT();
    open(0);
    list->showList(1);
    ASSERT_TRUE(checker->scheduler().checkNow(1));
    ASSERT_TRUE(test::processUntil([&] { return idle() && list->model().rowCount() == 3; }, 20s))
        << dovecot->log();
    ASSERT_GE(rowOfSubject("Message 2"), 0);
    EXPECT_EQ(list->model().cellText(rowOfSubject("Message 2"), maillist::TagSender).toStdString(),
              "Sender 2 <s@example.org>");

    // Delete one row: its account is checked after ten seconds, and the message leaves the
    // server and the list.
    selectRow(rowOfSubject("Message 2"));
    action("DeleteMail1")->trigger();
    EXPECT_EQ(list->model().cellText(rowOfSubject("Message 2"), maillist::TagAction), "Deleting");
    timers.advanceBy(9999);
    EXPECT_TRUE(idle());
    timers.advanceBy(1);
    ASSERT_TRUE(test::processUntil([&] { return idle() && list->model().rowCount() == 2; }, 20s))
        << dovecot->log();
    // Dovecot may finish removing the file just after it has answered the log-out.
    EXPECT_TRUE(test::processUntil([&] { return dovecot->countMessages("carol") == 2; }, 5s))
        << dovecot->countMessages("carol");
    EXPECT_EQ(rowOfSubject("Message 2"), -1);

    // Retrieve Body: the check starts after 1 ms and brings the body.
    const int row = rowOfSubject("Message 3");
    ASSERT_GE(row, 0);
    EXPECT_EQ(list->model().rowIcon(row), maillist::IconNoBody);
    selectRow(row);
    action("A_RetrieveBody")->trigger();
    timers.advanceBy(1);
    ASSERT_TRUE(test::processUntil(
        [&] {
            auto r = session.db().FindByUid(
                list->model().cellText(rowOfSubject("Message 3"), maillist::TagUID).toStdString());
            return idle() && r && r->Body.has_value();
        },
        20s))
        << dovecot->log();
    test::processUntil([&] { return false; }, 50ms);
    const int after = rowOfSubject("Message 3");
    ASSERT_GE(after, 0);
    EXPECT_EQ(list->model().rowIcon(after), maillist::IconWithBody);
    EXPECT_EQ(list->model().cellText(after, maillist::TagAction), "");
}

// One double-click on a message without its body fetches it and opens it when it comes;
// the chosen row stays chosen through every rebuild on the way.
TEST_F(MailListDovecotTest, OneDoubleClickFetchesThenOpens) {
    TARN_REQUIRE_DOVECOT();
    open(0);
    std::vector<std::vector<MessageKey>> opened;
    list->setMessageOpener([&](const std::vector<MessageKey>& rows) { opened.push_back(rows); });
    list->showList(1);
    ASSERT_TRUE(checker->scheduler().checkNow(1));
    ASSERT_TRUE(test::processUntil([&] { return idle() && list->model().rowCount() == 3; }, 20s))
        << dovecot->log();

    const int row = rowOfSubject("Message 2");
    ASSERT_GE(row, 1) << "the row is not the first, where a lost selection would land";
    const MessageKey key = list->keyOfRow(row);
    ASSERT_EQ(list->model().rowIcon(row), maillist::IconNoBody);
    QTreeView* v = list->listView();
    selectRow(row);
    v->selectionModel()->setCurrentIndex(list->model().index(row, 0),
                                         QItemSelectionModel::NoUpdate);
    emit v->doubleClicked(list->model().index(row, 0));
    EXPECT_TRUE(opened.empty()) << "nothing to open before the body is here";
    EXPECT_EQ(list->model().cellText(list->listView()->currentIndex().row(), maillist::TagAction),
              "Retrieving");
    EXPECT_EQ(list->selectedKeys(), std::vector<MessageKey>{key});

    timers.advanceBy(1);
    ASSERT_TRUE(test::processUntil([&] { return !opened.empty() && idle(); }, 20s))
        << dovecot->log();
    EXPECT_EQ(opened, std::vector<std::vector<MessageKey>>{{key}});
    EXPECT_EQ(list->selectedKeys(), std::vector<MessageKey>{key});
    EXPECT_EQ(list->keyOfRow(v->selectionModel()->currentIndex().row()), key);

    // Later rebuilds open nothing again; Return on the row now opens it at once.
    list->RebuildList(1);
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(list->selectedKeys(), std::vector<MessageKey>{key});
}

} // namespace
} // namespace tarn
