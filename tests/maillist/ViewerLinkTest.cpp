#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TestApp.h"
#include "core/FakeCheckTimers.h"
#include "core/IniFile.h"
#include "core/Settings.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "maillist/EMailListViewerLink.h"
#include "maillist/MailListModel.h"
#include "maillist/MailListRules.h"
#include "maillist/TF_EMailList.h"
#include "maillist/TF_HeaderWindow.h"
#include "maillist/TF_MessageWindow.h"
#include "platform/PowerOff.h"

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeView>

#include <gtest/gtest.h>

namespace tarn {
namespace {

struct NoPowerOff : PowerOff {
    bool powerOff() override { return false; }
};

// The message and header windows opened from the real mail list window.
class ViewerLinkTest : public ::testing::Test {
protected:
    ViewerLinkTest() {
        test::app();
        Settings& s = session.settings();
        for (int i = 1; i <= 2; ++i) {
            AccountSettings acc = defaultAccount(i, s.Main.Colors);
            acc.Name = "acc" + std::to_string(i);
            acc.Host = "127.0.0.1:1";
            s.Accounts.push_back(acc);
        }
        s.Main.ECount = 2;
        session.syncWithSettings();
    }
    ~ViewerLinkTest() override {
        link.reset();
        if (checker)
            checker->setMailList(nullptr);
        list.reset();
        checker.reset();
    }
    void open() {
        checker = std::make_unique<TF_CheckerWindow>(session, powerOff, &timers);
        checker->E_Setlengths(false);
        list = std::make_unique<TF_EMailList>(session, *checker);
        checker->setMailList(list.get());
        link = std::make_unique<EMailListViewerLink>(session, *list, *checker);
        TF_EMailList::Hooks hooks;
        hooks.showHeaders = [this] { link->showHeaders(); };
        hooks.showMessage = [this] { link->showMessages(); };
        list->setHooks(hooks);
        list->RebuildList(0);
    }
    void put(const std::string& uid, int account, std::optional<std::string> body,
             bool marked = false) {
        MailRecord r;
        r.UID = uid;
        r.Account = account;
        r.Count = ++count;
        r.Subject = "subject " + uid;
        r.Sender = "sender";
        r.Header = "Subject: subject " + uid + "\r\n";
        r.Body = std::move(body);
        r.Delete = marked;
        session.db().AppendMessage(r);
    }
    int rowOf(const std::string& uid) const {
        for (int r = 0; r < list->model().rowCount(); ++r) {
            if (list->model().cellText(r, maillist::TagUID) == QString::fromStdString(uid))
                return r;
        }
        return -1;
    }
    // Selects the rows one after the other, as clicks with Ctrl held do.
    void select(const std::vector<std::string>& uids) {
        QItemSelectionModel* sel = list->listView()->selectionModel();
        sel->clearSelection();
        for (const std::string& uid : uids)
            sel->select(list->model().index(rowOf(uid), 0),
                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    template <class W> static std::vector<W*> windows() {
        std::vector<W*> out;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* m = qobject_cast<W*>(w); m && m->isVisible())
                out.push_back(m);
        }
        return out;
    }
    static void settle() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    QAction* action(const char* name) const {
        return list->findChild<QAction*>(QString::fromLatin1(name));
    }

    test::TempDir dir;
    Session session{dir.path().string(), systemClock(), test::uniqueLockSuffix()};
    NoPowerOff powerOff;
    test::FakeCheckTimers timers;
    std::unique_ptr<TF_CheckerWindow> checker;
    std::unique_ptr<TF_EMailList> list;
    std::unique_ptr<EMailListViewerLink> link;
    long long count = 0;
};

TEST_F(ViewerLinkTest, ShowMessageOnThreeRowsOneWithoutBodyOpensTwoWindows) {
    put("a", 1, "first body");
    put("b", 1, std::nullopt);
    put("c", 1, "third body");
    open();
    select({"a", "b", "c"});
    // What the list's Show Message runs when it is enabled.
    link->showMessages();
    auto opened = windows<TF_MessageWindow>();
    ASSERT_EQ(opened.size(), 2u);
    std::set<std::string> uids;
    for (TF_MessageWindow* w : opened)
        uids.insert(w->uid());
    EXPECT_EQ(uids, (std::set<std::string>{"a", "c"}));

    action("ShowHeader1")->trigger();
    EXPECT_EQ(windows<TF_HeaderWindow>().size(), 3u);

    // Windows still open at the end go with the link, before the session.
    QPointer<TF_MessageWindow> still = opened[0];
    link.reset();
    EXPECT_TRUE(still.isNull());
    EXPECT_TRUE(windows<TF_HeaderWindow>().empty());
}

TEST_F(ViewerLinkTest, DoubleClickReadsAndWrapTextReopensAndIsSavedAtExit) {
    put("x", 2, "other");
    put("a", 1, std::string(70, 'w') + " " + std::string(20, 'z'));
    open();
    select({"a"});
    list->ListView1DblClick();
    auto first = windows<TF_MessageWindow>();
    ASSERT_EQ(first.size(), 1u);
    QPointer<TF_MessageWindow> old = first[0];
    const auto text = [](QWidget* w) {
        return w->findChild<QPlainTextEdit*>(QStringLiteral("Memo1"))->toPlainText();
    };
    EXPECT_TRUE(text(old).contains(QStringLiteral(" \nzzz")));

    select({"x"}); // the user moved on in the list meanwhile
    old->findChild<QCheckBox*>(QStringLiteral("WrapTextBox"))->click();
    settle();
    EXPECT_TRUE(old.isNull());
    auto now = windows<TF_MessageWindow>();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0]->uid(), "a");
    EXPECT_EQ(text(now[0]), QString(70, 'w') + QStringLiteral(" ") + QString(20, 'z'));
    const auto selected = list->selectedKeys();
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].UID, "a");

    ASSERT_TRUE(list->SaveWindowSettings());
    IniFile ini(session.path(kSettingsFileName));
    EXPECT_EQ(ini.readString("EMailList", "WrapText", ""), "0");
}

TEST_F(ViewerLinkTest, DeleteOnAMarkedMessageKeepsTheMarkAndChecksInTenSeconds) {
    put("m", 2, "body", true);
    open();
    select({"m"});
    action("A_ShowMessage")->trigger();
    auto opened = windows<TF_MessageWindow>();
    ASSERT_EQ(opened.size(), 1u);
    QPointer<TF_MessageWindow> w = opened[0];
    w->findChild<QPushButton*>(QStringLiteral("DeleteButton"))->click();
    settle();
    EXPECT_TRUE(w.isNull());
    EXPECT_TRUE(session.db().FindMessage("m", 2)->Delete.value_or(false));
    EXPECT_TRUE(session.runtime()[2].CheckRequested.load());
    EXPECT_EQ(checker->scheduler().checkTimer(2).interval(), 10000);
    EXPECT_EQ(list->statusPanelText(2), QStringLiteral("Deleting mails on next connection"));
    EXPECT_EQ(list->model().cellText(rowOf("m"), maillist::TagAction), QStringLiteral("Deleting"));
}

TEST_F(ViewerLinkTest, HideMessageLeavesTheListAndTheFieldCount) {
    put("h", 1, "body");
    put("k", 1, "body");
    open();
    checker->UpdateFieldCount(1);
    select({"h"});
    action("A_ShowMessage")->trigger();
    QPointer<TF_MessageWindow> w = windows<TF_MessageWindow>().at(0);
    w->findChild<QPushButton*>(QStringLiteral("HideButton"))->click();
    settle();
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(rowOf("h"), -1);
    EXPECT_NE(rowOf("k"), -1);
    EXPECT_EQ(checker->EShowVar(1)->text(), QStringLiteral("1"));
}

} // namespace
} // namespace tarn

namespace tarn {
namespace {

TEST_F(ViewerLinkTest, ShowHeadersFetchesMissingHeaderLinesThenOpensTheirWindow) {
    put("pop", 1, std::nullopt);
    put("imap", 2, std::nullopt);
    {
        // Known by its envelope only: no header lines yet.
        MailRecord r = *session.db().FindMessage("imap", 2);
        r.Header.reset();
        session.db().UpdateMessage(r);
    }
    open();
    select({"pop", "imap"});
    action("ShowHeader1")->trigger();
    // The message with header lines shows at once; the other is fetched, and the user is told.
    ASSERT_EQ(windows<TF_HeaderWindow>().size(), 1u);
    EXPECT_EQ(list->statusPanelText(2), QStringLiteral("Fetching message headers..."));
    EXPECT_TRUE(session.db().FindMessage("imap", 2)->RetrieveMail.value_or(false));
    EXPECT_TRUE(session.runtime()[2].CheckRequested.load());
    EXPECT_EQ(link->pendingHeaders(), (std::vector<MessageKey>{{"imap", 2}}));

    // A rebuild before the check brought them opens nothing more.
    list->RebuildList(0);
    EXPECT_EQ(windows<TF_HeaderWindow>().size(), 1u);

    // The check stores them with the body and rebuilds the list: now the window opens.
    {
        MailRecord r = *session.db().FindMessage("imap", 2);
        r.Header = "Subject: fetched\r\nX-Trace: 42\r\n";
        r.RetrieveMail = false;
        session.db().UpdateMessage(r);
    }
    list->RebuildList(0);
    const auto opened = windows<TF_HeaderWindow>();
    ASSERT_EQ(opened.size(), 2u);
    bool found = false;
    for (TF_HeaderWindow* w : opened)
        found |= w->findChild<QPlainTextEdit*>()->toPlainText().contains("X-Trace: 42");
    EXPECT_TRUE(found);
    EXPECT_TRUE(link->pendingHeaders().empty());
}

TEST_F(ViewerLinkTest, OldLatin1RecordsAndNewUtf8RecordsShowTheSameLetters) {
    put("old", 1, std::nullopt);
    put("new", 1, std::nullopt);
    for (const auto& [uid, subject] :
         {std::pair<std::string, std::string>{"old", "Caf\xE9"}, {"new", "Caf\xC3\xA9"}}) {
        MailRecord r = *session.db().FindMessage(uid, 1);
        r.Subject = subject;
        session.db().UpdateMessage(r);
    }
    open();
    EXPECT_EQ(list->model().cellText(rowOf("old"), maillist::TagSubject), QStringLiteral("Café"));
    EXPECT_EQ(list->model().cellText(rowOf("new"), maillist::TagSubject), QStringLiteral("Café"));
}

} // namespace
} // namespace tarn
