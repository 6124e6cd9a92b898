#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TestApp.h"
#include "core/Clock.h"
#include "core/FakeCheckTimers.h"
#include "core/IniFile.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingProcessLauncher.h"
#include "maillist/MailListModel.h"
#include "maillist/MailListRules.h"
#include "maillist/TF_EMailList.h"
#include "platform/BrowserLauncher.h"
#include "platform/PowerOff.h"
#include "store/MailStoreFiles.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeView>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace tarn {
namespace {

using namespace std::chrono_literals;

struct RecordingPowerOff : PowerOff {
    bool powerOff() override { return false; }
};

// Notes, at each showing of a window, whether it was shown without taking the focus.
struct ShowWatcher : QObject {
    std::vector<bool> withoutActivating;
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show)
            withoutActivating.push_back(
                static_cast<QWidget*>(o)->testAttribute(Qt::WA_ShowWithoutActivating));
        return false;
    }
};

QString plain(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

class MailListWindowTest : public ::testing::Test {
protected:
    MailListWindowTest() { test::app(); }
    ~MailListWindowTest() override {
        if (checker)
            checker->setMailList(nullptr);
        list.reset();
        checker.reset();
    }

    // Accounts "acc1".."accN"; the windows are made afterwards by open().
    void accounts(int n) {
        Settings& s = session.settings();
        s.Accounts.clear();
        for (int i = 1; i <= n; ++i) {
            AccountSettings acc = defaultAccount(i, s.Main.Colors);
            acc.Name = "acc" + std::to_string(i);
            acc.Host = "127.0.0.1:1";
            s.Accounts.push_back(acc);
        }
        s.Main.ECount = n;
        session.syncWithSettings();
    }
    void open() {
        checker = std::make_unique<TF_CheckerWindow>(session, powerOff, &timers);
        checker->setCheckStarter([this](int a) {
            started.push_back(a);
            session.runtime()[a].Busy = false;
        });
        checker->E_Setlengths(false);
        list = std::make_unique<TF_EMailList>(session, *checker);
        checker->setMailList(list.get());
        list->setErrorBox([this](const QString& t) { boxes.push_back(t); });
        list->setViewerLauncher([this](const std::string& p) {
            opened.push_back(p);
            return true;
        });
    }
    MailRecord& add(const std::string& uid, int account, const std::string& subject = "subj",
                    long long size = 100) {
        MailRecord r;
        r.UID = uid;
        r.Account = account;
        r.Count = ++count;
        r.Subject = subject;
        r.Sender = "sender " + uid;
        r.Size = size;
        pending = r;
        return pending;
    }
    void store() {
        NamedLock lock(session.db().mutex());
        session.db().AppendMessage(pending);
    }
    void put(const std::string& uid, int account, const std::string& subject = "subj",
             long long size = 100) {
        add(uid, account, subject, size);
        store();
    }
    MailRecord rec(const std::string& uid, int account) {
        return session.db().FindMessage(uid, account).value_or(MailRecord{});
    }
    template <class T> T* find(const char* name) const {
        T* w = list->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QAction* action(const char* name) const { return find<QAction>(name); }
    QTreeView* view() const { return list->listView(); }
    int rows() const { return list->model().rowCount(); }
    QString cell(int row, int tag) const { return list->model().cellText(row, tag); }
    void select(std::initializer_list<int> rowsToSelect) {
        view()->selectionModel()->clearSelection();
        for (int r : rowsToSelect)
            view()->selectionModel()->select(
                list->model().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    int rowOf(const std::string& uid) const {
        for (int r = 0; r < rows(); ++r) {
            if (cell(r, maillist::TagUID) == QString::fromStdString(uid))
                return r;
        }
        return -1;
    }
    int interval(int a) { return checker->scheduler().checkTimer(a).interval(); }

    test::TempDir dir;
    FixedClock clock{std::chrono::system_clock::now(), 0};
    Session session{dir.path().string(), clock, test::uniqueLockSuffix()};
    RecordingPowerOff powerOff;
    test::FakeCheckTimers timers;
    std::unique_ptr<TF_CheckerWindow> checker;
    std::unique_ptr<TF_EMailList> list;
    std::vector<int> started;
    std::vector<QString> boxes;
    std::vector<std::string> opened;
    MailRecord pending;
    long long count = 0;
};

TEST_F(MailListWindowTest, MenusCarryTheirEntriesShortcutsAndSeparatorsInOrder) {
    accounts(2);
    open();
    struct Entry {
        const char* text;
        const char* shortcut;
    };
    auto entries = [](QMenu* m) {
        std::vector<std::pair<QString, QString>> out;
        for (QAction* a : m->actions())
            out.emplace_back(a->isSeparator() ? QStringLiteral("-") : plain(a->text()),
                             a->shortcut().toString());
        return out;
    };
    auto expect = [&](const char* menuName, std::vector<Entry> want) {
        QMenu* m = find<QMenu>(menuName);
        ASSERT_NE(m, nullptr);
        std::vector<std::pair<QString, QString>> w;
        for (const Entry& e : want)
            w.emplace_back(QString::fromLatin1(e.text), QString::fromLatin1(e.shortcut));
        EXPECT_EQ(entries(m), w) << menuName;
    };
    QMenuBar* bar = list->menuBar();
    QStringList titles;
    for (QAction* a : bar->actions())
        titles << plain(a->text());
    EXPECT_EQ(titles, (QStringList{"Accounts", "Mails", "Options", "Window", "Help"}));
    expect("Accounts1",
           {{"All Accounts", "Alt+0"}, {"-", ""}, {"acc1", "Alt+1"}, {"acc2", "Alt+2"}});
    // Enter belongs to "Retrieve Body" while "Show Message" is disabled.
    expect("Mails1", {{"Retrieve Body", "Return"},
                      {"Show Headers", ""},
                      {"Show Message", ""},
                      {"-", ""},
                      {"Check New Mails", "F5"},
                      {"Select All Messages", "Ctrl+A"},
                      {"-", ""},
                      {"Assign Icon", ""},
                      {"-", ""},
                      {"Hide Selected Message", "Ctrl+H"},
                      {"Hide All Messages", ""},
                      {"Show All Hidden Messages", "Ctrl+S"},
                      {"-", ""},
                      {"Delete", "Ctrl+D"},
                      {"Delete All Messages", ""},
                      {"Undelete All Messages", "Ctrl+U"}});
    expect("Options1",
           {{"Preferences...", "F12"}, {"-", ""}, {"Show Logfile", ""}, {"Purge Maillist", ""}});
    expect("Window1", {{"Toolbar", ""}, {"StatusBar", ""}, {"-", ""}, {"Close", ""}});
    expect("Toolbar1", {{"Visible", ""},
                        {"-", ""},
                        {"CheckNewMails", ""},
                        {"Show Headers", ""},
                        {"Delete Selected", ""},
                        {"Delete All", ""},
                        {"Undelete All", ""},
                        {"Hide Selected", ""},
                        {"Hide All", ""},
                        {"Show All", ""},
                        {"Launch Mail Client", ""},
                        {"Purge Maillist", ""}});
    expect("Help1", {{"Help...", ""}, {"Tips...", ""}, {"About...", ""}});
    EXPECT_EQ(find<QMenu>("AssignIcon1")->actions().size(), 15);
    EXPECT_EQ(find<QMenu>("ToolbarPopup")->actions().size(), 10);
    QStringList popup;
    for (QAction* a : list->rowPopup()->actions())
        popup << (a->isSeparator() ? QStringLiteral("-") : plain(a->text()));
    EXPECT_EQ(popup, (QStringList{"Assign Icon", "-", "Retrieve Body", "Show Message",
                                  "Show Headers", "-", "Hide Selected Message", "Delete"}));
    // The row commands start disabled; windows that do not exist yet are not offered.
    for (const char* name : {"ShowHeader1", "A_ShowMessage", "DeleteMail1", "A_HideMessage",
                             "A_RetrieveBody", "A_Preferences", "ips1", "A_About"})
        EXPECT_FALSE(action(name)->isEnabled()) << name;
    for (const char* name :
         {"ListView1", "StatusBar1", "ConnectProgressBar", "CoolBar1", "ActionToolBar2"})
        EXPECT_NE(list->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(list->minimumSize(), QSize(300, 130));
}

TEST_F(MailListWindowTest, RebuildShowsTheColumnsByTagAndLeavesHiddenMessagesOut) {
    accounts(2);
    double today = clock.localToday();
    add("a1", 1, "Hello", 2047).Date = today + 9.0 / 24 + 5.0 / 1440;
    store();
    add("a2", 1, "", 1023);
    pending.Sender = "";
    pending.Delete = true;
    store();
    add("hidden", 1, "secret").Ignore = true;
    store();
    add("b1", 2, "Other").RetrieveMail = true;
    store();
    open();
    list->RebuildList(1);
    EXPECT_EQ(plain(list->windowTitle()), "acc1 Account Information");
    EXPECT_EQ(list->statusPanelText(0), "acc1");
    ASSERT_EQ(rows(), 2);
    const int r1 = rowOf("a1"), r2 = rowOf("a2");
    ASSERT_GE(r1, 0);
    ASSERT_GE(r2, 0);
    EXPECT_EQ(cell(r1, maillist::TagSubject), "Hello");
    EXPECT_EQ(cell(r1, maillist::TagSender), "sender a1");
    EXPECT_EQ(cell(r1, maillist::TagSize), "1 kB");
    EXPECT_EQ(cell(r1, maillist::TagAccount), "acc1");
    EXPECT_EQ(cell(r1, maillist::TagAction), "");
    EXPECT_EQ(cell(r1, maillist::TagDate), "09:05");
    EXPECT_EQ(cell(r2, maillist::TagSize), "0 kB");
    EXPECT_EQ(cell(r2, maillist::TagAction), "Deleting");
    EXPECT_EQ(cell(r2, maillist::TagDate), "unknown");
    EXPECT_EQ(list->model().rowIcon(r1), 0);
    EXPECT_EQ(list->model().rowIcon(r2), 2);
    const QModelIndex grey = list->model().index(r2, 0);
    EXPECT_EQ(grey.data(Qt::ForegroundRole).value<QColor>(), QColor(128, 128, 128));
    EXPECT_FALSE(list->model().index(r1, 0).data(Qt::ForegroundRole).isValid());
    // Size is right-aligned, found by its tag.
    EXPECT_TRUE(list->model()
                    .index(r1, MailListModel::columnOf(maillist::TagSize))
                    .data(Qt::TextAlignmentRole)
                    .value<int>() &
                Qt::AlignRight);

    list->RebuildList(0);
    EXPECT_EQ(plain(list->windowTitle()), "List of All Accounts");
    EXPECT_EQ(list->statusPanelText(0), "All Accounts");
    ASSERT_EQ(rows(), 3);
    EXPECT_EQ(cell(rowOf("b1"), maillist::TagAction), "Retrieving");
    EXPECT_EQ(cell(rowOf("b1"), maillist::TagAccount), "acc2");
    EXPECT_EQ(rowOf("hidden"), -1);
}

TEST_F(MailListWindowTest, BadRecordsShowWithoutHarmAndRowsOfUnknownAccountsAreSkipped) {
    accounts(2);
    add("big", 1, std::string(300, 'x'), 2147483648LL).Date = 1e300;
    pending.Sender = std::string(10240, 's');
    store();
    add("old", 2, "\xff\xfe not utf8", 0).Date = 500.0;
    store();
    put("orphan", 9, "no such account");
    // Two accounts of one name: each row stays with its own record.
    session.settings().account(2).Name = "acc1";
    open();
    list->RebuildList(0);
    ASSERT_EQ(rows(), 3);
    EXPECT_EQ(cell(rowOf("big"), maillist::TagSize), "2097152 kB");
    EXPECT_EQ(cell(rowOf("big"), maillist::TagDate), "unknown");
    EXPECT_EQ(cell(rowOf("old"), maillist::TagDate), "unknown");
    EXPECT_EQ(cell(rowOf("old"), maillist::TagSubject).left(2), QString::fromUtf8("\u00ff\u00fe"));
    EXPECT_EQ(cell(rowOf("orphan"), maillist::TagAccount), "");
    EXPECT_EQ(list->model().rowIcon(rowOf("orphan")), 0);

    list->A_SelectAllExecute();
    list->DeleteMail1Click();
    EXPECT_TRUE(rec("big", 1).Delete.value_or(false));
    EXPECT_TRUE(rec("old", 2).Delete.value_or(false));
    EXPECT_FALSE(rec("orphan", 9).Delete.value_or(false));
    EXPECT_EQ(rows(), 3);
}

TEST_F(MailListWindowTest, DeleteTogglesSwapsAndRequestsChecksAfterTenSeconds) {
    accounts(2);
    put("m1", 1);
    add("m2", 2).Delete = true;
    store();
    put("m3", 2);
    open();
    list->RebuildList(0);
    select({rowOf("m1"), rowOf("m2")});
    ASSERT_TRUE(action("DeleteMail1")->isEnabled());
    action("DeleteMail1")->trigger();
    EXPECT_TRUE(rec("m1", 1).Delete.value_or(false));
    EXPECT_FALSE(rec("m2", 2).Delete.value_or(false));
    EXPECT_FALSE(rec("m3", 2).Delete.value_or(false));
    EXPECT_EQ(list->statusPanelText(2), "Deleting mails on next connection");
    EXPECT_EQ(interval(1), 10000);
    EXPECT_EQ(interval(2), 10000);
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -2);
    // The accounts are not Active; the requested checks start when their timers tick.
    for (int a = 1; a <= 2; ++a)
        session.settings().account(a).Active = false;
    timers.advanceBy(9999);
    EXPECT_TRUE(started.empty());
    timers.advanceBy(1);
    EXPECT_EQ(started, (std::vector<int>{1, 2}));
    // The rows show the new marks.
    EXPECT_EQ(cell(rowOf("m1"), maillist::TagAction), "Deleting");
    EXPECT_EQ(cell(rowOf("m2"), maillist::TagAction), "");

    // The Delete key released in the list runs the same command.
    select({rowOf("m1")});
    QTest::keyRelease(view(), Qt::Key_Delete);
    EXPECT_FALSE(rec("m1", 1).Delete.value_or(false));
}

TEST_F(MailListWindowTest, DeleteAllTogglesEveryRowAndUndeleteAllClearsOtherAccounts) {
    accounts(2);
    add("m1", 1).Delete = true;
    store();
    put("m2", 1);
    add("m3", 2).Delete = true;
    store();
    open();
    list->RebuildList(1);
    const int before1 = interval(1);
    action("DeleteAllMails1")->trigger();
    EXPECT_FALSE(rec("m1", 1).Delete.value_or(false));
    EXPECT_TRUE(rec("m2", 1).Delete.value_or(false));
    EXPECT_TRUE(rec("m3", 2).Delete.value_or(false)); // not in this view
    EXPECT_EQ(interval(1), before1);
    EXPECT_FALSE(session.runtime()[1].CheckRequested);
    EXPECT_EQ(list->statusPanelText(2), "Deleting mails on next connection");

    action("A_UndeleteAll")->trigger();
    EXPECT_FALSE(rec("m2", 1).Delete.value_or(false));
    EXPECT_FALSE(rec("m3", 2).Delete.value_or(false));
    EXPECT_EQ(cell(rowOf("m2"), maillist::TagAction), "");
}

TEST_F(MailListWindowTest, RetrieveBodyHonoursTheDownloadLimitAndStartsTheCheckAtOnce) {
    accounts(2);
    session.settings().Main.MaxDownloadSize = 50;
    put("exact", 1, "s", 51200);
    put("below", 2, "s", 51199);
    open();
    list->RebuildList(0);
    select({rowOf("exact"), rowOf("below")});
    action("A_RetrieveBody")->trigger();
    EXPECT_EQ(boxes, std::vector<QString>{"Message is too big to retrieve (larger than the 50 kB "
                                          "set in General Prefs)."});
    EXPECT_FALSE(rec("exact", 1).RetrieveMail.value_or(false));
    EXPECT_TRUE(rec("below", 2).RetrieveMail.value_or(false));
    EXPECT_EQ(cell(rowOf("below"), maillist::TagAction), "Retrieving");
    session.settings().account(2).Active = false;
    timers.advanceBy(1);
    EXPECT_EQ(started, std::vector<int>{2});
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, -2);

    // Nothing selected: nothing happens.
    started.clear();
    boxes.clear();
    view()->selectionModel()->clearSelection();
    list->A_RetrieveBodyExecute();
    timers.advanceBy(5);
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MailListWindowTest, AssignIconZeroBringsBackTheAutomaticIcon) {
    accounts(1);
    add("m", 1, "").Sender = "";
    store();
    open();
    list->RebuildList(1);
    EXPECT_EQ(list->model().rowIcon(0), 14);
    select({0});
    action("IconsMenu5")->trigger();
    EXPECT_EQ(rec("m", 1).icon.value_or(-1), 5);
    EXPECT_EQ(list->model().rowIcon(0), 5);
    select({0});
    action("DeleteMail1")->trigger();
    EXPECT_EQ(list->model().rowIcon(0), 2);
    select({0});
    action("DeleteMail1")->trigger();
    select({0});
    action("IconsMenu0")->trigger();
    EXPECT_EQ(list->model().rowIcon(0), 14);
}

TEST_F(MailListWindowTest, CheckNewMailsOfflineGoesOnlineAndStaggersThreeAccounts) {
    accounts(3);
    open();
    checker->scheduler().online1xClick();
    ASSERT_FALSE(session.Online);
    list->RebuildList(0);
    action("A_CheckNewMails")->trigger();
    EXPECT_TRUE(session.Online);
    EXPECT_EQ(interval(1), 110);
    EXPECT_EQ(interval(2), 120);
    EXPECT_EQ(interval(3), 130);
    for (int a = 1; a <= 3; ++a) {
        EXPECT_TRUE(session.runtime()[a].CheckRequested) << a;
        session.settings().account(a).Active = false;
    }
    started.clear();
    timers.advanceBy(130);
    EXPECT_EQ(started, (std::vector<int>{1, 2, 3}));

    list->RebuildList(2);
    action("A_CheckNewMails")->trigger();
    EXPECT_EQ(interval(2), 100);
}

TEST_F(MailListWindowTest, HideAllInTheAllAccountsViewEmptiesFieldsAndHidesTheWindow) {
    accounts(2);
    session.settings().Main.HideWhenEmpty = true;
    put("a", 1);
    put("b", 2);
    open();
    for (int a = 1; a <= 2; ++a)
        checker->UpdateFieldCount(a);
    EXPECT_EQ(checker->EShowVar(1)->text(), "1");
    list->showList(0);
    ASSERT_TRUE(list->isVisible());
    action("A_HideAllMessages")->trigger();
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(checker->EShowVar(1)->text(), "0");
    EXPECT_EQ(checker->EShowVar(2)->text(), "0");
    EXPECT_FALSE(list->isVisible());

    action("A_ShowAllHiddenMessages")->trigger();
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(checker->EShowVar(2)->text(), "1");
}

TEST_F(MailListWindowTest, HideSelectedHidesOnlyTheRowsOwnRecords) {
    accounts(2);
    put("same", 1);
    put("same", 2);
    open();
    list->RebuildList(0);
    ASSERT_EQ(rows(), 2);
    int r2 = -1;
    for (int r = 0; r < rows(); ++r)
        if (cell(r, maillist::TagAccount) == "acc2")
            r2 = r;
    select({r2});
    action("A_HideMessage")->trigger();
    EXPECT_TRUE(rec("same", 2).Ignore.value_or(false));
    EXPECT_FALSE(rec("same", 1).Ignore.value_or(false));
    EXPECT_EQ(rows(), 1);
}

TEST_F(MailListWindowTest, PurgeWithKeepMailDBOffStillDeletesTheSavedFile) {
    accounts(2);
    session.settings().Main.KeepMailDB = false;
    put("a", 1);
    put("b", 2);
    session.runtime()[1].LastMailboxTotal = 2;
    const std::string saved = session.path(MailStoreFiles::SavedFileName);
    test::writeFile(saved, "saved");
    open();
    checker->UpdateFieldCount(1);
    list->RebuildList(0);
    action("A_PurgeMaillist")->trigger();
    EXPECT_TRUE(boxes.empty()); // no question
    EXPECT_EQ(session.db().size(), 0u);
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -1);
    EXPECT_EQ(checker->EShowVar(1)->text(), "0");
    EXPECT_FALSE(std::filesystem::exists(saved));
}

TEST_F(MailListWindowTest, RebuildOfTheSameViewKeepsTheScrollPositionASwitchStartsAtTheTop) {
    accounts(2);
    for (int i = 0; i < 300; ++i)
        put("m" + std::to_string(i), 1);
    put("x", 2);
    open();
    list->resize(500, 300);
    list->showList(1);
    view()->scrollTo(list->model().index(120, 0), QAbstractItemView::PositionAtTop);
    const int top = view()->indexAt(QPoint(0, 0)).row();
    ASSERT_GT(top, 50);
    list->RebuildList(1);
    EXPECT_EQ(view()->indexAt(QPoint(0, 0)).row(), top);
    // The topmost row carries the focus mark without being selected.
    EXPECT_EQ(view()->currentIndex().row(), top);
    EXPECT_TRUE(view()->selectionModel()->selectedRows().isEmpty());
    list->RebuildList(0);
    EXPECT_EQ(view()->indexAt(QPoint(0, 0)).row(), 0);
}

TEST_F(MailListWindowTest, ProgressAndActivityShowOnlyForTheViewedAccount) {
    accounts(2);
    open();
    list->RebuildList(1);
    session.runtime()[2].Busy = true;
    list->applyStatus(2, 3, "50");
    list->applyStatus(2, 1, "Connecting");
    EXPECT_EQ(list->progress(), 0);
    EXPECT_EQ(list->statusPanelText(2), "");
    list->applyStatus(1, 3, "40");
    list->applyStatus(1, 1, "Reading");
    EXPECT_EQ(list->progress(), 40);
    EXPECT_EQ(list->statusPanelText(2), "Reading");
    // While the viewed account is busy, another account's report leaves its status alone.
    session.runtime()[1].Busy = true;
    list->applyStatus(2, 3, "70");
    EXPECT_EQ(list->progress(), 40);
    session.runtime()[1].Busy = false;
    list->applyStatus(2, 3, "70");
    EXPECT_EQ(list->progress(), 0);
    EXPECT_EQ(list->statusPanelText(2), "");

    list->RebuildList(0);
    list->applyStatus(2, 3, "60");
    list->applyStatus(2, 1, "Reading");
    EXPECT_EQ(list->progress(), 0);
    EXPECT_EQ(list->statusPanelText(2), "");
    // Kind 2 sets the first panel whatever the account.
    list->applyStatus(2, 2, "elsewhere");
    EXPECT_EQ(list->statusPanelText(0), "elsewhere");
}

TEST_F(MailListWindowTest, WorkerReportsReachTheWindowThroughTheCheckHost) {
    accounts(1);
    open();
    list->RebuildList(1);
    std::thread worker([this] { checker->checkHost().ReportStatus(1, 1, "from the worker"); });
    worker.join();
    EXPECT_TRUE(
        test::processUntil([&] { return list->statusPanelText(2) == "from the worker"; }, 2000ms));
}

TEST_F(MailListWindowTest, ElevenAccountsHaveNoAltShortcutBeyondNine) {
    accounts(11);
    open();
    QMenu* menu = list->accountsMenu();
    std::vector<QString> shortcuts;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            shortcuts.push_back(a->shortcut().toString());
    ASSERT_EQ(shortcuts.size(), 12u);
    for (int k = 0; k <= 9; ++k)
        EXPECT_EQ(shortcuts[static_cast<std::size_t>(k)], QStringLiteral("Alt+%1").arg(k));
    EXPECT_EQ(shortcuts[10], "");
    EXPECT_EQ(shortcuts[11], "");
    // Entries are added only where missing, and captions renewed.
    session.settings().account(3).Name = "renamed";
    session.settings().account(4).List = false;
    list->BuildAccountMenu();
    EXPECT_EQ(menu->actions().size(), 13);
    EXPECT_EQ(plain(find<QAction>("AccountEntry3")->text()), "renamed");
    list->FormActivate();
    EXPECT_FALSE(find<QAction>("AccountEntry4")->isEnabled());
    EXPECT_TRUE(find<QAction>("AccountEntry3")->isEnabled());
    find<QAction>("AccountEntry3")->trigger();
    EXPECT_EQ(list->viewAccount(), 3);
}

TEST_F(MailListWindowTest, HeaderClicksToggleTheSortOrders) {
    accounts(1);
    put("1", 1, "apple", 300);
    put("2", 1, "cherry", 100);
    put("3", 1, "banana", 200);
    open();
    list->RebuildList(1);
    auto subjects = [&] {
        QStringList s;
        for (int r = 0; r < rows(); ++r)
            s << cell(r, maillist::TagSubject);
        return s;
    };
    const int subjectColumn = MailListModel::columnOf(maillist::TagSubject);
    emit view()->header()->sectionClicked(subjectColumn);
    EXPECT_EQ(session.db().sortOrder(), SortType::SubjectIndex);
    EXPECT_EQ(subjects(), (QStringList{"cherry", "banana", "apple"}));
    emit view()->header()->sectionClicked(subjectColumn);
    EXPECT_EQ(session.db().sortOrder(), SortType::SubjectIndexRev);
    EXPECT_EQ(subjects(), (QStringList{"apple", "banana", "cherry"}));
    emit view()->header()->sectionClicked(MailListModel::columnOf(maillist::TagSize));
    EXPECT_EQ(session.db().sortOrder(), SortType::SizeIndex);
    EXPECT_EQ(subjects(), (QStringList{"cherry", "banana", "apple"}));
    emit view()->header()->sectionClicked(MailListModel::columnOf(maillist::TagAction));
    EXPECT_EQ(session.db().sortOrder(), SortType::SizeIndex);
}

TEST_F(MailListWindowTest, SelectionRuleSwapsRetrieveBodyAndShowMessageAndTheEnterKey) {
    accounts(1);
    put("nobody", 1);
    add("withbody", 1).Body = "text";
    store();
    open();
    list->RebuildList(1);
    select({rowOf("withbody")});
    EXPECT_TRUE(action("A_ShowMessage")->isEnabled());
    EXPECT_FALSE(action("A_RetrieveBody")->isEnabled());
    EXPECT_TRUE(action("ShowHeader1")->isEnabled());
    EXPECT_TRUE(find<QAction>("ToolButtonShowMessage")->isVisible());
    EXPECT_FALSE(find<QAction>("ToolButtonRetrieveBody")->isVisible());
    EXPECT_EQ(action("A_ShowMessage")->shortcut(), QKeySequence(Qt::Key_Return));
    EXPECT_TRUE(action("A_RetrieveBody")->shortcut().isEmpty());

    int shown = 0;
    list->setHook(TF_EMailList::Hook::ShowMessage, [&] { ++shown; });
    list->ListView1DblClick();
    EXPECT_EQ(shown, 1);
    // Enter in the list reaches the command that holds it.
    list->show();
    list->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(list.get(), 2000));
    view()->setFocus();
    QTest::keyClick(view(), Qt::Key_Return);
    EXPECT_EQ(shown, 2);

    select({rowOf("nobody")});
    EXPECT_FALSE(action("A_ShowMessage")->isEnabled());
    EXPECT_TRUE(action("A_RetrieveBody")->isEnabled());
    EXPECT_TRUE(find<QAction>("ToolButtonRetrieveBody")->isVisible());
    EXPECT_EQ(action("A_RetrieveBody")->shortcut(), QKeySequence(Qt::Key_Return));
    QTest::keyClick(view(), Qt::Key_Enter);
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(rec("nobody", 1).RetrieveMail.value_or(false));

    view()->selectionModel()->clearSelection();
    for (const char* name :
         {"ShowHeader1", "A_ShowMessage", "DeleteMail1", "A_HideMessage", "A_RetrieveBody"})
        EXPECT_FALSE(action(name)->isEnabled()) << name;
    // A disabled command does nothing, from any button.
    find<QAction>("ToolButtonDeleteSelected")->trigger();
    EXPECT_FALSE(rec("nobody", 1).Delete.value_or(false));
    // Select All enables the row commands.
    action("A_SelectAll")->trigger();
    EXPECT_EQ(view()->selectionModel()->selectedRows().size(), 2);
    EXPECT_TRUE(action("DeleteMail1")->isEnabled());
}

TEST_F(MailListWindowTest, SelectionRuleReadsTheRowsOwnAccountWhenTwoAccountsShareAUid) {
    // One server, two users: the servers' UIDs repeat across accounts. The row with a body
    // must offer Show Message even when the other account's record comes first.
    accounts(2);
    put("same", 1);
    add("same", 2).Body = "text";
    store();
    open();
    for (int view : {0, 2}) {
        list->RebuildList(view);
        int withBody = -1;
        for (int r = 0; r < rows(); ++r) {
            if (cell(r, maillist::TagAccount) == QStringLiteral("acc2"))
                withBody = r;
        }
        ASSERT_GE(withBody, 0) << view;
        select({withBody});
        EXPECT_TRUE(action("A_ShowMessage")->isEnabled()) << view;
        EXPECT_FALSE(action("A_RetrieveBody")->isEnabled()) << view;
    }
    list->RebuildList(1);
    select({0});
    EXPECT_FALSE(action("A_ShowMessage")->isEnabled());
    EXPECT_TRUE(action("A_RetrieveBody")->isEnabled());
}

TEST_F(MailListWindowTest, ToolbarTogglesShowButtonsAndSeparatorsFollowTheirNeighbours) {
    accounts(1);
    open();
    auto shown = [&](const char* name) { return find<QAction>(name)->isVisible(); };
    // Defaults: Delete All, Launch and Purge off.
    EXPECT_TRUE(shown("ToolButtonCheckNewMails"));
    EXPECT_TRUE(shown("ToolSeparator1"));
    EXPECT_FALSE(shown("ToolButtonDeleteAll"));
    EXPECT_FALSE(shown("ToolButtonLaunchEmailClient"));
    EXPECT_FALSE(shown("ToolSeparator13"));
    action("ToolBar_CheckNewMails")->trigger();
    EXPECT_FALSE(shown("ToolButtonCheckNewMails"));
    EXPECT_FALSE(shown("ToolSeparator1"));
    action("ToolBar_PurgeMaillist")->trigger();
    EXPECT_TRUE(shown("ToolButtonPurgeMaillist"));
    EXPECT_TRUE(shown("ToolSeparator13"));
    for (const char* t : {"ToolBar_HideSelected", "ToolBar_HideAll", "ToolBar_ShowAll"})
        action(t)->trigger();
    EXPECT_FALSE(shown("ToolSeparator9"));
    // Hiding a button leaves its menu entry.
    EXPECT_TRUE(action("A_HideAllMessages")->isVisible());

    list->show();
    action("A_ToolBar")->trigger();
    EXPECT_FALSE(find<QWidget>("CoolBar1")->isVisible());
    action("A_StatusBar")->trigger();
    EXPECT_FALSE(find<QWidget>("StatusBar1")->isVisible());
}

TEST_F(MailListWindowTest, WindowSettingsSurviveARestart) {
    accounts(1);
    open();
    list->resize(640, 360);
    list->move(30, 40);
    view()->header()->resizeSection(MailListModel::columnOf(maillist::TagSender), 177);
    view()->header()->resizeSection(MailListModel::columnOf(maillist::TagAction), 66);
    action("ToolBar_DeleteAll")->trigger();
    action("A_StatusBar")->trigger();
    emit view()->header()->sectionClicked(MailListModel::columnOf(maillist::TagDate));
    ASSERT_TRUE(list->SaveWindowSettings());

    const IniFile ini(session.path(kSettingsFileName));
    EXPECT_EQ(ini.readInteger("EMailList", "Column_Sender_Width", 0), 177);
    EXPECT_EQ(ini.readInteger("EMailList", "Column_Action_Width", 0), 66);
    EXPECT_EQ(ini.readString("EMailList", "SortType", ""), "DateIndex");

    checker->setMailList(nullptr);
    list.reset();
    {
        NamedLock lock(session.db().mutex());
        session.db().setSortOrder(SortType::CountIndex);
    }
    list = std::make_unique<TF_EMailList>(session, *checker);
    EXPECT_EQ(list->size(), QSize(640, 360));
    EXPECT_EQ(view()->header()->sectionSize(MailListModel::columnOf(maillist::TagSender)), 177);
    EXPECT_EQ(view()->header()->sectionSize(MailListModel::columnOf(maillist::TagAction)), 66);
    EXPECT_TRUE(action("ToolBar_DeleteAll")->isChecked());
    EXPECT_FALSE(action("A_StatusBar")->isChecked());
    EXPECT_EQ(session.db().sortOrder(), SortType::DateIndex);
}

// Every column holds its texts at the default width, a wider window shares the room among
// the text columns, and the sorted column shows its direction.
TEST_F(MailListWindowTest, ColumnsFitTheirTextsAndShareTheRoom) {
    accounts(2);
    session.settings().account(2).Name = "A rather long account name";
    put("a", 1, "Short", 123456789);
    add("b", 2, "Subject", 5).Sender = "Somebody With Name <somebody@example.org>";
    store();
    open();
    list->show();
    auto width = [&](int tag) {
        return view()->header()->sectionSize(MailListModel::columnOf(tag));
    };
    const int tags[] = {maillist::TagSubject, maillist::TagSender, maillist::TagSize,
                        maillist::TagAccount, maillist::TagAction, maillist::TagDate};
    for (int wide : {0, 1}) {
        SCOPED_TRACE(wide);
        if (wide)
            list->resize(1400, list->height());
        list->RebuildList(0);
        test::processUntil([] { return false; }, 50ms);
        int total = 0;
        for (int tag : tags) {
            const int col = MailListModel::columnOf(tag);
            const int need =
                std::max(static_cast<QAbstractItemView*>(view())->sizeHintForColumn(col),
                         view()->header()->sectionSizeHint(col));
            if (tag != maillist::TagSubject && tag != maillist::TagSender &&
                tag != maillist::TagAccount) {
                EXPECT_GE(width(tag), need) << tag;
            }
            total += width(tag);
        }
        EXPECT_TRUE(view()->isColumnHidden(MailListModel::columnOf(maillist::TagUID)));
        if (wide) {
            // No room left over, none of the long texts cut.
            EXPECT_EQ(total, view()->viewport()->width());
            for (int tag : {maillist::TagSender, maillist::TagAccount}) {
                const int col = MailListModel::columnOf(tag);
                EXPECT_GE(width(tag),
                          static_cast<QAbstractItemView*>(view())->sizeHintForColumn(col))
                    << tag;
            }
        }
    }

    QHeaderView* h = view()->header();
    EXPECT_TRUE(h->isSortIndicatorShown());
    list->ListView1ColumnClick(MailListModel::columnOf(maillist::TagSize));
    EXPECT_EQ(h->sortIndicatorSection(), MailListModel::columnOf(maillist::TagSize));
    const Qt::SortOrder first = h->sortIndicatorOrder();
    list->ListView1ColumnClick(MailListModel::columnOf(maillist::TagSize));
    EXPECT_NE(h->sortIndicatorOrder(), first);
}

TEST_F(MailListWindowTest, HelpOpensTheFileInTheBrowserOrSaysWhyNot) {
    accounts(1);
    open();
    const std::string apps = session.path("apps");
    std::filesystem::create_directories(apps + "/applications");
    test::writeFile(apps + "/applications/web.desktop",
                    "[Desktop Entry]\nExec=/usr/lib/firefox-esr/firefox-esr %u\n");
    test::RecordingProcessLauncher rec;
    std::string browserId = "web.desktop";
    list->setHelpBrowser(std::make_shared<BrowserLauncher>(
        rec, [&] { return browserId; }, [&] { return std::vector<std::string>{apps}; }));

    action("A_Help")->trigger();
    EXPECT_EQ(boxes, std::vector<QString>{"No help file found"});
    EXPECT_TRUE(rec.calls.empty());
    test::writeFile(session.path("help.html"), "<html></html>");
    boxes.clear();
    // The checker window's "Help..." runs the same command.
    checker->popupMenu()->findChild<QAction*>("Help1")->trigger();
    EXPECT_TRUE(boxes.empty());
    const std::string url =
        "file://" + std::filesystem::absolute(session.path("help.html")).string();
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv,
              (std::vector<std::string>{"/usr/lib/firefox-esr/firefox-esr", url}));

    // No browser at all: one box that says so, instead of nothing.
    browserId.clear();
    action("A_Help")->trigger();
    EXPECT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(boxes, std::vector<QString>{
                         QString::fromStdString(BrowserLauncher::NotDeterminedText + url)});
}

TEST_F(MailListWindowTest, CheckerCommandsAndTheEndOfACheckReachTheList) {
    accounts(2);
    session.settings().Main.PopupMailList = true;
    put("a", 1);
    put("b", 2);
    open();
    ShowWatcher shows;
    list->installEventFilter(&shows);
    checker->popupMenu()->findChild<QAction*>("MailList1")->trigger();
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->viewAccount(), 0);
    EXPECT_EQ(rows(), 2);
    checker->fieldMenu(2)->actions().at(4)->trigger(); // "Email List..."
    EXPECT_EQ(list->viewAccount(), 2);
    EXPECT_EQ(rows(), 1);
    // "Hide Messages" of a field rebuilds the shown view.
    checker->fieldMenu(2)->actions().at(3)->trigger();
    EXPECT_EQ(rows(), 0);

    // A check that read the mailbox rebuilds the view; a grown count pops the hidden list up
    // for the account, without taking the focus.
    list->hide();
    put("c", 1);
    CheckResult r;
    r.account = 1;
    r.listFlag = true;
    checker->EndOfCheckUpdate(r);
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(list->viewAccount(), 1);
    EXPECT_EQ(rows(), 2);
    // The user's command was activated, the program's own pop-up was not.
    EXPECT_EQ(shows.withoutActivating, (std::vector<bool>{false, true}));

    // A failed check does not pop up.
    list->hide();
    put("d", 1);
    r.failed = true;
    checker->EndOfCheckUpdate(r);
    EXPECT_FALSE(list->isVisible());
    EXPECT_EQ(rows(), 3); // but the list is rebuilt
}

TEST_F(MailListWindowTest, AFailedChecksReasonShowsInTheActivityPanelOfItsView) {
    accounts(2);
    open();
    CheckResult r;
    r.account = 1;
    r.failed = true;
    r.failureKind = ErrorKind::TimedOut;
    r.failureText = "No answer within 60000 ms.";
    list->RebuildList(2);
    checker->EndOfCheckUpdate(r);
    EXPECT_EQ(list->statusPanelText(2), "");
    list->RebuildList(1);
    checker->EndOfCheckUpdate(r);
    const QString shown = list->statusPanelText(2);
    EXPECT_TRUE(shown.startsWith("Check failed: ")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("No answer within 60000 ms.")) << shown.toStdString();
    // A check that did not fail leaves the panel to the worker's reports.
    list->applyStatus(1, 1, "");
    r.failed = false;
    checker->EndOfCheckUpdate(r);
    EXPECT_EQ(list->statusPanelText(2), "");

    // The view of all accounts names each account that failed, and keeps it through the
    // reports of other accounts' checks, until that account's next check succeeds.
    list->RebuildList(0);
    r.failed = true;
    checker->EndOfCheckUpdate(r);
    const std::string name1 = session.settings().account(1).Name;
    EXPECT_EQ(list->statusPanelText(2).toStdString(),
              name1 + ": Check failed: time-out: No answer within 60000 ms.");
    list->applyStatus(2, 1, "Connecting");
    EXPECT_EQ(list->statusPanelText(2).toStdString(),
              name1 + ": Check failed: time-out: No answer within 60000 ms.");
    list->RebuildList(2);
    EXPECT_EQ(list->statusPanelText(2), "");
    list->RebuildList(1);
    EXPECT_TRUE(list->statusPanelText(2).startsWith("Check failed: "));
    r.failed = false;
    checker->EndOfCheckUpdate(r);
    list->RebuildList(0);
    EXPECT_EQ(list->statusPanelText(2), "");
}

TEST_F(MailListWindowTest, ACommandWaitsForALockHeldByACheckAndThenCompletes) {
    accounts(1);
    put("m", 1);
    open();
    list->RebuildList(1);
    select({0});
    std::atomic<bool> holding{false};
    std::thread check([&] {
        NamedLock lock(session.db().mutex());
        holding = true;
        std::this_thread::sleep_for(300ms);
    });
    while (!holding)
        std::this_thread::yield();
    action("DeleteMail1")->trigger();
    check.join();
    EXPECT_TRUE(rec("m", 1).Delete.value_or(false));
    EXPECT_EQ(cell(0, maillist::TagAction), "Deleting");
}

} // namespace
} // namespace tarn
