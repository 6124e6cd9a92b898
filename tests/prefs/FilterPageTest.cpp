#include "PrefsFixture.h"

#include "check/TIdCheckThread.h"
#include "checker/MailListPresenter.h"
#include "checker/ShutdownCountdown.h"
#include "checker/TF_ShutdownForm.h"
#include "core/IniFile.h"
#include "core/PrefsLevel.h"
#include "fakes/ScriptedServer.h"
#include "prefs/FilterListModel.h"
#include "prefs/FilterPage.h"

#include <QApplication>
#include <QListView>
#include <QMouseEvent>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QTest>

#include <chrono>
#include <memory>

namespace tarn {
namespace {

using namespace std::chrono_literals;

const char* const Incomplete = "Filter arguments are not complete";
const char* const NothingToDelete =
    "Nothing to delete. Please select the filter you want to delete first!";

// Records what the page asks of the mail list window.
struct RecordingMailList : MailListPresenter {
    void showList(int) override {}
    void popupList(int) override {}
    int viewAccount() const override { return shownAccount; }
    bool listVisible() const override { return false; }
    void RebuildList(int account) override { rebuilt.push_back(account); }
    void BuildAccountMenu() override {}
    void showCheckFailure(int, const std::string&) override {}
    void checkSucceeded(int) override {}
    void help() override {}
    int shownAccount = 0;
    std::vector<int> rebuilt;
};

TFilter rule(int condition, std::string argument, int account, int action, bool active = true) {
    TFilter f;
    f.IfCondition = condition;
    f.Argument = std::move(argument);
    f.Account = account;
    f.Action = action;
    f.Active = active;
    return f;
}

class FilterPageTest : public test::PrefsFixture {
protected:
    // The dialog open at Advanced on the "Message Filters" page.
    void open(int accounts, std::vector<TFilter> filters = {}) {
        session.settings().Filters = std::move(filters);
        session.settings().Main.FilterCount = static_cast<int>(session.settings().Filters.size());
        make(accounts);
        prefs->dialogs().warning = [this](const QString& t) {
            warnings.push_back(t.toStdString());
        };
        prefs->openPreferences();
        prefs->setLevel(PrefsLevel::Advanced);
        selectFilterPage();
    }
    void selectFilterPage() {
        const auto found = tree()->findItems("Message Filters", Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        tree()->setCurrentItem(nullptr);
        tree()->setCurrentItem(found.front());
        page = dynamic_cast<FilterPage*>(prefs->currentPage());
        ASSERT_TRUE(page);
    }
    QComboBox* combo(const char* name) const { return w<QComboBox>(name); }
    QListView* list() const { return w<QListView>("FilterListBox"); }
    // A choice as the user makes it: the handler runs.
    void choose(const char* name, int index) const {
        QComboBox* c = combo(name);
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
    void compose(int condition, const QString& argument, int account, int action) const {
        choose("Filter_If_ComboBox", condition);
        setText("Filter_arg_edit", argument);
        choose("Filter_Account_comboBox", account);
        choose("Filter_Action_ComboBox", action);
    }
    void click(const char* name) const { w<QPushButton>(name)->click(); }
    // A mouse click on a line's text (selects it and loads the editor).
    void clickLine(int row) const {
        const QRect r = list()->visualRect(list()->model()->index(row, 0));
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, r.center() + QPoint(20, 0));
    }
    // A mouse click on a line's check box.
    void clickCheck(int row) const {
        QStyleOptionViewItem opt;
        opt.initFrom(list());
        opt.rect = list()->visualRect(list()->model()->index(row, 0));
        opt.features = QStyleOptionViewItem::HasCheckIndicator;
        const QRect box =
            list()->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, list());
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {}, box.center());
    }
    std::vector<QString> lines() const {
        std::vector<QString> out;
        for (int i = 0; i < page->lineCount(); ++i)
            out.push_back(page->lineText(i));
        return out;
    }
    // The workers' snapshot is the table as it is now, and FilterCount its size.
    void expectPublished() {
        const Settings& s = session.settings();
        EXPECT_EQ(session.filters().load()->rules(), s.Filters);
        EXPECT_EQ(s.Main.FilterCount, static_cast<int>(s.Filters.size()));
        EXPECT_EQ(page->lineCount(), static_cast<int>(s.Filters.size()));
        for (int i = 0; i < page->lineCount(); ++i) {
            EXPECT_EQ(page->lineChecked(i), s.Filters[static_cast<std::size_t>(i)].Active) << i;
        }
    }
    bool editorClear() const {
        return combo("Filter_If_ComboBox")->currentIndex() == -1 &&
               combo("Filter_Account_comboBox")->currentIndex() == -1 &&
               combo("Filter_Action_ComboBox")->currentIndex() == -1 &&
               text("Filter_arg_edit").isEmpty() && text("Filter_SoundFile").isEmpty() &&
               combo("ComboBoxEx1")->currentIndex() == -1 && combo("ComboBoxEx1")->isHidden() &&
               page->currentLine() == -1 && !w<QPushButton>("UpdateFilterButton")->isEnabled() &&
               !w<QPushButton>("B_DeleteFilter")->isEnabled();
    }
    std::vector<TFilter>& table() { return session.settings().Filters; }

    FilterPage* page = nullptr;
    std::vector<std::string> warnings;
};

TEST_F(FilterPageTest, ControlsItemsAndLevels) {
    open(2);
    const std::vector<QString> conditions = {"sender contains",
                                             "sender does not contain",
                                             "subject is",
                                             "subject contains",
                                             "subject does not contain",
                                             "size is smaller than",
                                             "size is larger than",
                                             "message is older than",
                                             "spam mail is suspected",
                                             "regular expression on header is",
                                             "regular expression on body is"};
    const std::vector<QString> actions = {"delete message", "hide message", "retrieve full message",
                                          "use custom mail icon",
                                          "shutdown System and delete mail"};
    auto items = [this](const char* name) {
        std::vector<QString> out;
        for (int i = 0; i < combo(name)->count(); ++i)
            out.push_back(combo(name)->itemText(i));
        return out;
    };
    EXPECT_EQ(items("Filter_If_ComboBox"), conditions);
    EXPECT_EQ(items("Filter_Action_ComboBox"), actions);
    EXPECT_EQ(items("Filter_Account_comboBox"), (std::vector<QString>{"any account", "A1", "A2"}));
    EXPECT_EQ(combo("ComboBoxEx1")->count(), 15);

    const std::pair<const char*, const char*> hints[] = {
        {"Filter_If_ComboBox", "Select the trigger for this filter"},
        {"Filter_arg_edit", "Specify the condition for this filter"},
        {"Filter_Account_comboBox", "Select the account where this filter should be applied"},
        {"Filter_Action_ComboBox", "Specify what to do if filter applies"},
        {"ActivateFilterButton", "Click here to activate the filter specified above"},
    };
    for (const auto& [name, hint] : hints) {
        EXPECT_EQ(w<QWidget>(name)->toolTip(), hint) << name;
    }
    EXPECT_EQ(w<QPushButton>("ActivateFilterButton")->text(), "Save");
    EXPECT_EQ(w<QPushButton>("UpdateFilterButton")->text(), "Update");
    EXPECT_EQ(w<QPushButton>("ClearFilterButton")->text(), "Clear");
    EXPECT_EQ(w<QPushButton>("B_DeleteFilter")->text(), "Delete Selected");
    EXPECT_EQ(w<QPushButton>("ApplyFilters")->text(), "Apply All Filters Now");
    EXPECT_EQ(w<QLabel>("FilterWarning")->text(),
              "Warning: mails that match your filter rule can be deleted without further notice!");
    // Fields have their labels as buddies.
    EXPECT_EQ(w<QLabel>("FilterIfLabel")->buddy(), combo("Filter_If_ComboBox"));
    EXPECT_EQ(w<QLabel>("FilterAccountLabel")->buddy(), combo("Filter_Account_comboBox"));
    EXPECT_EQ(w<QLabel>("FilterThenLabel")->buddy(), combo("Filter_Action_ComboBox"));
    EXPECT_TRUE(w<QWidget>("Filter_SoundFile")->isHidden());
    EXPECT_TRUE(editorClear());
    EXPECT_TRUE(w<QWidget>("FilterEditor")->isVisible());

    // At Basic only the introduction and the notice remain; the picker stays hidden with its
    // editor even after "use custom mail icon" was chosen.
    choose("Filter_Action_ComboBox", 3);
    ASSERT_TRUE(combo("ComboBoxEx1")->isVisible());
    prefs->setLevel(PrefsLevel::Basic);
    EXPECT_TRUE(w<QWidget>("FilterIntro")->isVisible());
    EXPECT_TRUE(w<QWidget>("FilterPageAdvancedNotice")->isVisible());
    EXPECT_FALSE(w<QWidget>("FilterEditor")->isVisible());
    EXPECT_FALSE(combo("ComboBoxEx1")->isVisible());
    prefs->setLevel(PrefsLevel::Expert);
    EXPECT_TRUE(combo("ComboBoxEx1")->isVisible());
}

TEST_F(FilterPageTest, EmptyListHasWidthZeroAndDeleteWithoutALineSaysSo) {
    open(1);
    EXPECT_EQ(page->lineCount(), 0);
    EXPECT_EQ(list()->width(), 0);
    EXPECT_EQ(list()->height(), 0);
    choose("Filter_If_ComboBox", 3);
    setText("Filter_arg_edit", "x");
    page->B_DeleteFilterClick(); // the button itself is disabled until a line is clicked
    EXPECT_EQ(errors, std::vector<std::string>{NothingToDelete});
    EXPECT_TRUE(questions.empty());
    EXPECT_TRUE(editorClear());
}

TEST_F(FilterPageTest, ConditionSetsTheUnitAndTheArgumentField) {
    open(1);
    struct Case {
        int condition;
        const char* unit;
        bool argumentEnabled;
    };
    const Case cases[] = {{0, "", true},     {5, "kB", true}, {6, "kB", true},
                          {7, "days", true}, {8, "", false},  {9, "", true}};
    for (const Case& c : cases) {
        choose("Filter_If_ComboBox", c.condition);
        EXPECT_EQ(w<QLabel>("FilterUnitLabel")->text(), c.unit) << c.condition;
        EXPECT_EQ(w<QWidget>("Filter_arg_edit")->isEnabled(), c.argumentEnabled) << c.condition;
    }
    click("ClearFilterButton");
    EXPECT_EQ(w<QLabel>("FilterUnitLabel")->text(), "");
    EXPECT_TRUE(w<QWidget>("Filter_arg_edit")->isEnabled());
}

TEST_F(FilterPageTest, AnIncompleteEditorIsRefusedAndChangesNothing) {
    open(2, {rule(3, "old", 0, 1)});
    const auto before = session.filters().load();
    struct Case {
        int condition;
        const char* argument;
        int account;
        int action;
    };
    // Each misses one thing; the spam condition alone needs no argument, but still the rest.
    const Case cases[] = {{-1, "x", 0, 1}, {3, "", 0, 1},  {3, "x", -1, 1},
                          {3, "x", 0, -1}, {8, "", -1, 1}, {-1, "", -1, -1}};
    for (const Case& c : cases) {
        errors.clear();
        compose(c.condition, c.argument, c.account, c.action);
        click("ActivateFilterButton");
        EXPECT_EQ(errors, std::vector<std::string>{Incomplete}) << c.condition << c.argument;
        // The half-composed filter stays in the editor for the user to complete.
        EXPECT_EQ(combo("Filter_If_ComboBox")->currentIndex(), c.condition);
        EXPECT_EQ(text("Filter_arg_edit"), c.argument);
    }
    EXPECT_EQ(session.filters().load(), before);
    EXPECT_EQ(table().size(), 1u);
    EXPECT_EQ(lines(), std::vector<QString>{"If subject contains old and account is any account "
                                            "then hide message"});
}

TEST_F(FilterPageTest, SaveAppendsAnActiveFilterAndTheSpamLineHasTwoBlanks) {
    open(2);
    compose(8, "", 0, 1);
    click("ActivateFilterButton");
    compose(6, "250", 2, 0);
    click("ActivateFilterButton");
    EXPECT_TRUE(errors.empty());
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(lines(),
              (std::vector<QString>{
                  "If spam mail is suspected  and account is any account then hide message",
                  "If size is larger than 250 and account is A2 then delete message"}));
    ASSERT_EQ(table().size(), 2u);
    TFilter spam = rule(8, "", 0, 1);
    spam.Icon = -1;
    EXPECT_EQ(table()[0], spam);
    EXPECT_EQ(table()[1].Argument, "250");
    expectPublished();
    EXPECT_TRUE(editorClear());
    // The list is as large as its lines.
    EXPECT_EQ(list()->height(), 2 * page->lineHeight());
    const QFontMetrics m(list()->font());
    EXPECT_EQ(list()->width(), std::max(m.horizontalAdvance(page->lineText(0)),
                                        m.horizontalAdvance(page->lineText(1))) +
                                   30);
}

TEST_F(FilterPageTest, AnAccountWithoutHeadersIsWarnedAboutAndStillGetsItsFilter) {
    session.settings().Accounts.clear();
    open(3);
    session.settings().account(2).Name = "Work";
    session.settings().account(2).List = false;
    page->FilterTabSheetShow();
    for (int account : {0, 1, 2}) {
        compose(0, "boss@", account, 1);
        click("ActivateFilterButton");
    }
    EXPECT_EQ(warnings, std::vector<std::string>{"\"Retrieve EMail List\" feature on account Work "
                                                 "must be turned ON to activate this filter"});
    ASSERT_EQ(table().size(), 3u);
    EXPECT_EQ(table()[2].Account, 2);
    EXPECT_TRUE(table()[2].Active);
    EXPECT_TRUE(page->lineChecked(2));
    expectPublished();
}

TEST_F(FilterPageTest, UntickThenUpdateSwitchesTheFilterOnAgainAndKeepsItsSound) {
    TFilter withSound = rule(3, "news", 1, 1);
    withSound.SoundFile = "ding.wav";
    open(2, {rule(0, "a@", 0, 0), withSound});
    ASSERT_TRUE(page->lineChecked(1));
    clickCheck(1);
    EXPECT_FALSE(table()[1].Active);
    EXPECT_FALSE(page->lineChecked(1));
    expectPublished();

    clickLine(1);
    ASSERT_EQ(page->currentLine(), 1);
    EXPECT_TRUE(w<QPushButton>("UpdateFilterButton")->isEnabled());
    EXPECT_TRUE(w<QPushButton>("B_DeleteFilter")->isEnabled());
    EXPECT_EQ(combo("Filter_If_ComboBox")->currentIndex(), 3);
    EXPECT_EQ(combo("Filter_Account_comboBox")->currentIndex(), 1);
    EXPECT_EQ(combo("Filter_Action_ComboBox")->currentIndex(), 1);
    EXPECT_EQ(text("Filter_arg_edit"), "news");
    EXPECT_EQ(text("Filter_SoundFile"), "ding.wav");

    setText("Filter_arg_edit", "newsletter");
    click("UpdateFilterButton");
    ASSERT_EQ(table().size(), 2u);
    EXPECT_TRUE(table()[1].Active);
    EXPECT_EQ(table()[1].Argument, "newsletter");
    EXPECT_EQ(table()[1].SoundFile, "ding.wav");
    EXPECT_EQ(table()[0], rule(0, "a@", 0, 0));
    EXPECT_EQ(page->lineText(1),
              "If subject contains newsletter and account is A1 then hide message");
    expectPublished();
    EXPECT_TRUE(editorClear());

    // Switched off in memory and written so by OK.
    clickCheck(0);
    click("SaveButton");
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readInteger("Main", "FilterCount", -1), 2);
    EXPECT_FALSE(ini.readBool("Filter 0", "Active", true));
    EXPECT_EQ(ini.readString("Filter 1", "Argument", ""), "newsletter");
}

TEST_F(FilterPageTest, IconPickerFollowsTheCustomIconAction) {
    open(1);
    EXPECT_TRUE(combo("ComboBoxEx1")->isHidden());
    compose(3, "a", 0, 3);
    EXPECT_FALSE(combo("ComboBoxEx1")->isHidden());
    EXPECT_EQ(combo("ComboBoxEx1")->currentIndex(), 0);
    click("ActivateFilterButton"); // icon 0 as shown

    compose(3, "b", 0, 3);
    combo("ComboBoxEx1")->setCurrentIndex(7);
    click("ActivateFilterButton"); // the picked icon

    compose(3, "c", 0, 3);
    choose("Filter_Action_ComboBox", 1); // the picker goes, its choice stays
    EXPECT_TRUE(combo("ComboBoxEx1")->isHidden());
    click("ActivateFilterButton");

    compose(3, "d", 0, 1); // after Clear: none
    click("ActivateFilterButton");

    ASSERT_EQ(table().size(), 4u);
    EXPECT_EQ(table()[0].Icon, 0);
    EXPECT_EQ(table()[1].Icon, 7);
    EXPECT_EQ(table()[2].Icon, 0);
    EXPECT_EQ(table()[3].Icon, -1);

    clickLine(1);
    EXPECT_FALSE(combo("ComboBoxEx1")->isHidden());
    EXPECT_EQ(combo("ComboBoxEx1")->currentIndex(), 7);
    click("ClearFilterButton");
    EXPECT_TRUE(editorClear());
}

TEST_F(FilterPageTest, DeletingTheSecondOfThreeKeepsLinesAndFiltersAligned) {
    open(1, {rule(0, "one", 0, 0), rule(0, "two", 0, 1), rule(0, "three", 0, 2)});
    clickLine(1);
    confirmAnswer = false;
    click("B_DeleteFilter");
    EXPECT_EQ(questions, std::vector<std::string>{"Are you sure you want to delete this filter?"});
    EXPECT_EQ(table().size(), 3u);
    EXPECT_TRUE(editorClear());

    clickLine(1);
    confirmAnswer = true;
    click("B_DeleteFilter");
    ASSERT_EQ(table().size(), 2u);
    EXPECT_EQ(table()[0].Argument, "one");
    EXPECT_EQ(table()[1].Argument, "three");
    EXPECT_EQ(lines(), (std::vector<QString>{
                           "If sender contains one and account is any account then delete message",
                           "If sender contains three and account is any account then retrieve "
                           "full message"}));
    EXPECT_EQ(session.settings().Main.FilterCount, 2);
    expectPublished();
    EXPECT_TRUE(editorClear());
    EXPECT_EQ(list()->height(), 2 * page->lineHeight());
}

TEST_F(FilterPageTest, RefillShowsTheTableWithItsChecksAndTheLineUnderTheMouseAsHint) {
    // A damaged file may hold numbers outside the lists: their texts stay empty.
    open(2, {rule(9, "^From: .*x", 2, 3, false), rule(13, "odd", 7, 5)});
    EXPECT_EQ(lines(), (std::vector<QString>{
                           "If regular expression on header is ^From: .*x and account is A2 then "
                           "use custom mail icon",
                           "If  odd and account is  then "}));
    EXPECT_FALSE(page->lineChecked(0));
    EXPECT_TRUE(page->lineChecked(1));
    EXPECT_TRUE(editorClear());

    const int h = page->lineHeight();
    QMouseEvent move(QEvent::MouseMove, QPointF(5, h + h / 2), QPointF(5, h + h / 2), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(list()->viewport(), &move);
    EXPECT_EQ(list()->toolTip(), page->lineText(1));
    page->FilterListBoxMouseMove(QPoint(5, 2 * h + 1));
    EXPECT_EQ(list()->toolTip(), "");

    // Account names are read again at every visit.
    session.settings().account(2).Name = "Home";
    tree()->setCurrentItem(prefs->nodeAt(0));
    selectFilterPage();
    EXPECT_EQ(page->lineText(0).contains("account is Home then"), true);
}

TEST_F(FilterPageTest, ARegexThatDoesNotCompileIsSavedAndFailsOnlyWhenApplied) {
    open(1);
    test::addMessages(session, 1, 2, 0);
    compose(9, "([unclosed", 0, 1);
    click("ActivateFilterButton");
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(table().size(), 1u);
    EXPECT_EQ(table()[0].Argument, "([unclosed");

    click("ApplyFilters");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind("Perlre: ", 0), 0u) << errors[0];
    EXPECT_EQ(table().size(), 1u);
    EXPECT_EQ(window->EShowVar(1)->text(), "2");
}

TEST_F(FilterPageTest, ApplyAllFiltersNowHidesAndRefreshesListAndFields) {
    open(3, {rule(3, "Offer", 0, 1), rule(0, "boss@", 2, 3)});
    table()[1].Icon = 4;
    session.filters().store(table());
    RecordingMailList mailList;
    mailList.shownAccount = 2;
    window->setMailList(&mailList);
    {
        NamedLock lock(session.db().mutex());
        const char* subjects[] = {"Offer inside", "Minutes", "Great Offer", "Hello"};
        for (int a = 1; a <= 3; ++a) {
            for (int i = 0; i < 4; ++i) {
                MailRecord r;
                r.UID = "u" + std::to_string(a) + "-" + std::to_string(i);
                r.Account = a;
                r.Subject = subjects[i];
                r.Sender = i == 3 ? "boss@work.example" : "x@y.example";
                session.db().AppendMessage(r);
            }
        }
    }
    for (int a = 1; a <= 3; ++a)
        window->UpdateFieldCount(a);
    ASSERT_EQ(window->EShowVar(1)->text(), "4");

    click("ApplyFilters");
    EXPECT_TRUE(errors.empty());
    for (int a = 1; a <= 3; ++a) {
        EXPECT_EQ(window->EShowVar(a)->text(), "2") << a;
        EXPECT_EQ(session.db().CountShownMessages(a), 2) << a;
    }
    EXPECT_EQ(mailList.rebuilt, std::vector<int>{2});
    EXPECT_EQ(session.db().FindMessage("u2-3", 2)->icon, 4);
    EXPECT_FALSE(session.db().FindMessage("u1-3", 1)->icon.has_value());
    EXPECT_EQ(session.db().size(), 12u);
    EXPECT_FALSE(window->shutdownCountdown().isCounting());
    window->setMailList(nullptr);
}

TEST_F(FilterPageTest, AShutdownFilterStartsTheCountdownThroughThePowerOffService) {
    open(3, {rule(3, "SHUTDOWN", 0, 4)});
    test::addMessages(session, 1, 1, 0);
    {
        NamedLock lock(session.db().mutex());
        for (int i = 0; i < 2; ++i) {
            MailRecord r;
            r.UID = "down" + std::to_string(i);
            r.Account = 3;
            r.Subject = "SHUTDOWN now";
            session.db().AppendMessage(r);
        }
    }
    window->shutdownCountdown().setPeriodMs(50);
    const auto formsOpen = [] {
        int n = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            n += qobject_cast<TF_ShutdownForm*>(top) && top->isVisible() ? 1 : 0;
        return n;
    };
    ASSERT_EQ(formsOpen(), 0);
    click("ApplyFilters");
    EXPECT_TRUE(window->shutdownCountdown().isCounting());
    EXPECT_EQ(formsOpen(), 2); // one window per matching message
    EXPECT_TRUE(session.db().FindMessage("down0", 3)->Delete.value_or(false));
    EXPECT_FALSE(session.db().FindMessage("u1-0", 1)->Delete.value_or(false));
    EXPECT_EQ(window->EShowVar(3)->text(), "2");
    // The period runs out into the recording service, which refuses; it is asked again.
    EXPECT_TRUE(test::processUntil([this] { return powerOff.calls >= 2; }, 10s));
    window->shutdownCountdown().AbortShutdown(window->shutdownCountdown().latestForm());
    EXPECT_FALSE(window->shutdownCountdown().isCounting());
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<TF_ShutdownForm*>(top))
            top->close();
    test::processUntil([&] { return formsOpen() == 0; }, 2s);
}

// POP3 with three messages whose ids name the server; the first one's subject is an offer. The
// answers come a few bytes at a time, so the checks are still at work while the page acts.
void serveSlowly(test::ScriptedServer& srv, char letter) {
    using After = test::ScriptedServer::After;
    const std::string l(1, letter);
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "+OK 3 300\r\n");
    srv.on("LIST", "+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n");
    srv.on("UIDL", "+OK\r\n1 " + l + "-1\r\n2 " + l + "-2\r\n3 " + l + "-3\r\n.\r\n");
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        const std::string subject = i == 1 ? "Special Offer " + l : "Note " + l + n;
        srv.on("LIST " + n, "+OK " + n + " 100\r\n");
        srv.on("TOP " + n + " 0", "+OK\r\nSubject: " + subject + "\r\n\r\n.\r\n");
    }
    srv.on("QUIT", "+OK\r\n", After::Close);
    srv.setChunking(4, 10ms);
}

TEST_F(FilterPageTest, ArgumentsReadBackFromTheFileAsTheyWereStored) {
    open(1);
    const QString inputs[] = {QString("two\nlines\r\nthree"), QString(5000, QLatin1Char('x')),
                              QString("[Filter 0]"), QString("a=b;c")};
    for (const QString& input : inputs) {
        compose(3, input, 0, 1);
        click("ActivateFilterButton");
    }
    ASSERT_EQ(table().size(), 4u);
    EXPECT_EQ(table()[0].Argument, "two lines  three");
    click("SaveButton");
    ASSERT_EQ(prefs->lastDiscardedError(), "");
    Settings reread;
    loadSettingsFile(dir.file("tarn.ini"), {}, reread);
    EXPECT_EQ(reread.Filters, table());
}

TEST_F(FilterPageTest, ApplyAndEditsWhileFourChecksRunLoseNothing) {
    open(4, {rule(3, "Offer", 0, 1)});
    std::vector<std::unique_ptr<test::ScriptedServer>> servers;
    for (int a = 1; a <= 4; ++a) {
        servers.push_back(std::make_unique<test::ScriptedServer>());
        serveSlowly(*servers.back(), static_cast<char>('a' + a - 1));
        AccountSettings& acc = session.settings().account(a);
        acc.Host = "127.0.0.1:" + std::to_string(servers.back()->port());
        acc.UserID = "bob";
        acc.Password = "secret";
    }
    test::RecordingCheckHost host(session);
    CheckOptions opt;
    opt.readTimeout = 20s;
    opt.deletePause = 0ms;
    for (int a = 1; a <= 4; ++a) {
        session.runtime()[a].Busy = true;
        ASSERT_TRUE(TIdCheckThread::start(TIdCheckThread::forAccount(session, host, a, opt)));
    }
    // The page works on while the checks store their messages: passes over the whole table,
    // a filter switched off and on, filters added and removed.
    int passes = 0;
    while (!host.waitForTerminations(4, 0ms) && passes < 2000) {
        click("ApplyFilters");
        clickCheck(0);
        clickCheck(0);
        compose(0, "nobody@", 0, 3);
        click("ActivateFilterButton");
        clickLine(1);
        click("B_DeleteFilter");
        ++passes;
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(host.waitForTerminations(4, 60s));
    ASSERT_TRUE(session.waitForWorkers(10s));
    click("ApplyFilters");
    EXPECT_GT(passes, 0);
    EXPECT_TRUE(errors.empty());
    for (const CheckResult& r : host.terminations) {
        EXPECT_FALSE(r.failed) << r.account << ": " << r.failureText;
    }
    // Every message is known, and every offer is hidden whichever pass met it first.
    EXPECT_EQ(session.db().size(), 12u);
    for (int a = 1; a <= 4; ++a) {
        const std::string l(1, static_cast<char>('a' + a - 1));
        EXPECT_TRUE(session.db().FindMessage(l + "-1", a)->Ignore.value_or(false)) << a;
        EXPECT_EQ(session.db().CountShownMessages(a), 2) << a;
        EXPECT_EQ(window->EShowVar(a)->text(), "2") << a;
    }
    ASSERT_EQ(table().size(), 1u);
    EXPECT_EQ(table()[0], rule(3, "Offer", 0, 1));
    expectPublished();
}

TEST_F(FilterPageTest, TenThousandFiltersStayUsable) {
    std::vector<TFilter> many;
    for (int i = 0; i < kMaxFilters; ++i)
        many.push_back(rule(i % 11, "arg" + std::to_string(i), i % 2, i % 5, i % 3 != 0));
    open(1, many);
    ASSERT_EQ(page->lineCount(), kMaxFilters);
    EXPECT_EQ(list()->height(), kMaxFilters * page->lineHeight());
    EXPECT_EQ(page->lineText(9999), "If sender contains arg9999 and account is A1 "
                                    "then shutdown System and delete mail");

    // The file keeps no more than this many: one more is refused, not lost at the next start.
    compose(0, "more", 0, 1);
    click("ActivateFilterButton");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(table().size(), static_cast<std::size_t>(kMaxFilters));

    page->selectLine(5000);
    page->FilterListBoxClick();
    click("B_DeleteFilter");
    EXPECT_EQ(table().size(), static_cast<std::size_t>(kMaxFilters - 1));
    EXPECT_EQ(table()[5000].Argument, "arg5001");
    EXPECT_TRUE(page->lineText(5000).contains(" arg5001 "));
    compose(0, "more", 0, 1);
    click("ActivateFilterButton");
    EXPECT_EQ(table().back().Argument, "more");
    expectPublished();
}

} // namespace
} // namespace tarn
