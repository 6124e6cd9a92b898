#include "PrefsFixture.h"

#include "checker/TestApp.h"
#include "core/IniFile.h"
#include "store/MailStoreFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QRadioButton>

#include <fstream>

namespace tarn {
namespace {

using test::PrefsFixture;
using AccountEditorTest = PrefsFixture;

TEST_F(AccountEditorTest, LoadAndStoreEveryField) {
    make(2);
    AccountSettings& acc = session.settings().account(2);
    acc.Host = "mail.example.org:995";
    acc.UserID = "bob";
    acc.Password = "pa ss";
    acc.MailServerType = 1;
    acc.IMAPMailBoxName = "Archive";
    acc.SavePwd = false;
    acc.Active = false;
    acc.List = false;
    acc.RetrieveAllBodies = true;
    acc.Show = false;
    acc.Sound = false;
    acc.ActiveColor = 0x123456;
    acc.IdleColor = 0x654321;
    acc.DefaultMailClient = 1;
    const AccountSettings before = acc;
    openAccount(2);

    EXPECT_EQ(text("Edit26"), "mail.example.org:995");
    EXPECT_EQ(text("Edit27"), "bob");
    EXPECT_EQ(text("Edit30"), "pa ss");
    EXPECT_EQ(w<QLineEdit>("Edit30")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(w<QRadioButton>("rgServerTypeIMAP4")->isChecked());
    EXPECT_EQ(w<QComboBox>("cbMailBox")->currentText(), "Archive");
    EXPECT_FALSE(w<QWidget>("cbMailBox")->isHidden());
    EXPECT_FALSE(w<QCheckBox>("CheckBox14")->isChecked());
    EXPECT_FALSE(w<QWidget>("Edit29")->isEnabled());
    EXPECT_FALSE(w<QCheckBox>("CheckBox1")->isChecked());
    EXPECT_TRUE(w<QCheckBox>("CheckBox5")->isChecked());
    EXPECT_EQ(w<QComboBox>("MailClientComboBox1")->currentIndex(), 1);
    EXPECT_EQ(prefs->accountPage().activeSwatch(), 0x123456u);

    // Stored back unchanged, and the field menu follows List.
    prefs->selectNode(1);
    EXPECT_EQ(session.settings().account(2), before);
    QMenu* menu = window->fieldMenu(2);
    ASSERT_TRUE(menu);
    for (QAction* item : menu->actions()) {
        if (item->text() == "Email List...") {
            EXPECT_FALSE(item->isEnabled());
        }
    }

    // Ticking "Automatically check..." enables the frequency; POP3 hides the mailbox field.
    prefs->selectNode(2);
    w<QCheckBox>("CheckBox14")->setChecked(true);
    EXPECT_TRUE(w<QWidget>("Edit29")->isEnabled());
    w<QRadioButton>("rgServerTypePOP3")->setChecked(true);
    EXPECT_TRUE(w<QWidget>("cbMailBox")->isHidden());
    EXPECT_TRUE(w<QWidget>("cbMailBoxLabel")->isHidden());
}

TEST_F(AccountEditorTest, EveryFieldIsFoundThroughItsLabel) {
    make(1);
    const std::vector<std::pair<const char*, const char*>> labels = {
        {"Account Name:", "LabeledEdit1"},
        {"Mail Server*:", "Edit26"},
        {"User ID*:", "Edit27"},
        {"Password*:", "Edit30"},
        {"IMAP MailBox:", "cbMailBox"},
        {"Active Checker Field Color", "CAccActive"},
        {"Idle Checker Field Color", "CAccIdle"},
        {"The popup menu item 'Launch Email Client' starts", "MailClientComboBox1"},
        {"Security:", "cbSecurity"},
        {"Certificate pin:", "EditTLSFingerprint"},
    };
    for (const auto& [caption, field] : labels) {
        QLabel* found = nullptr;
        for (QLabel* l : prefs->findChildren<QLabel*>())
            if (l->text() == caption)
                found = l;
        ASSERT_TRUE(found) << caption;
        ASSERT_TRUE(found->buddy()) << caption;
        EXPECT_EQ(found->buddy()->objectName(), field);
    }
}

TEST_F(AccountEditorTest, FrequencyIsShownAndStoredInWholeMinutesOfItsRange) {
    struct Case {
        int stored;
        const char* shown;
        const char* typed; // null: stored unchanged
        int storedBack;
    };
    const Case cases[] = {
        {30000, "1", nullptr, 60000},           {90000, "1", nullptr, 60000},
        {300000, "5", nullptr, 300000},         {300000, "5", " 7 ", 420000},
        {59999, "1", nullptr, 60000},           {0, "1", nullptr, 60000},
        {-60000, "1", nullptr, 60000},          {86400000, "1440", nullptr, 86400000},
        {200000000, "1440", nullptr, 86400000},
    };
    make(2);
    for (const Case& c : cases) {
        session.settings().account(2).Timer = c.stored;
        prefs->accountPage().TabSheet9Show();
        prefs->selectNode(2);
        EXPECT_EQ(text("Edit29"), c.shown) << c.stored;
        if (c.typed)
            setText("Edit29", c.typed);
        prefs->selectNode(0);
        EXPECT_EQ(session.settings().account(2).Timer, c.storedBack) << c.stored;
        EXPECT_EQ(window->scheduler().checkTimer(2).interval(), c.storedBack + 20) << c.stored;
    }
}

TEST_F(AccountEditorTest, LeavingAFrequencyThatIsNoNumberResetsIt) {
    make(1);
    session.settings().account(1).Timer = 300000;
    openAccount(1);
    for (const char* typed : {"abc", "", "99999999999", "1.5"}) {
        setText("Edit29", typed);
        prefs->runCommand([&] { prefs->accountPage().Edit29Exit(); });
        EXPECT_EQ(text("Edit29"), "5") << typed;
        EXPECT_EQ(prefs->lastDiscardedError(), AccountConfigPage::NotANumberText) << typed;
    }
    prefs->selectNode(0);
    EXPECT_EQ(session.settings().account(1).Timer, 300000);
}

TEST_F(AccountEditorTest, SwitchingAccountsRefusesAFrequencyThatIsNoNumber) {
    make(3);
    openAccount(2);
    setText("Edit29", "x");
    prefs->runCommand([&] { prefs->accountPage().selectAccount(2); });
    EXPECT_EQ(prefs->lastDiscardedError(), AccountConfigPage::IllegalValueText);
    EXPECT_EQ(prefs->currentAccountIndex(), 1);
    EXPECT_EQ(w<QComboBox>("ComboBox6")->currentIndex(), 1);
    EXPECT_EQ(text("LabeledEdit1"), "A2");
    EXPECT_EQ(text("Edit29"), "x");
}

TEST_F(AccountEditorTest, RenamingRenamesTheNodeAndTheFieldHintAtOnce) {
    make(3);
    openAccount(2);
    setText("LabeledEdit1", "Private");
    prefs->selectNode(3);
    EXPECT_EQ(nodeText(2), "Private");
    EXPECT_EQ(fieldHint(2), "Private");
    EXPECT_EQ(prefs->selectedNode(), 3);
    EXPECT_EQ(text("LabeledEdit1"), "A3");
}

TEST_F(AccountEditorTest, NamesThatNoSettingsLineCanHoldAreStoredSafely) {
    make(1);
    openAccount(1);
    const QString longName(10000, QLatin1Char('n'));
    for (const QString& name :
         {longName, QString("two\nlines"), QString("[Main]"), QString("x=y;z")}) {
        setText("LabeledEdit1", name);
        w<QPushButton>("SaveButton")->click();
        ASSERT_EQ(prefs->lastDiscardedError(), "") << name.left(20).toStdString();
        Settings reread;
        loadSettingsFile(dir.file("tarn.ini"), {}, reread);
        ASSERT_EQ(reread.accountCount(), 1);
        const std::string stored = session.settings().account(1).Name;
        EXPECT_EQ(stored.find('\n'), std::string::npos);
        EXPECT_EQ(reread.account(1).Name, stored.substr(0, 2047));
        EXPECT_EQ(reread.Main.ECount, 1);
        prefs->openPreferences();
    }
}

TEST_F(AccountEditorTest, CreateNamesTheAccountAfterTheNewCount) {
    make(2, {"A1", "Account 3"});
    session.settings().Main.Colors.Active = 0x111111;
    session.settings().Main.Colors.Idle = 0x222222;
    openAccount(1);
    setText("LabeledEdit1", "First");
    prefs->selectNode(0);
    w<QPushButton>("NewButton1")->click();
    ASSERT_EQ(prefs->lastDiscardedError(), "");

    const Settings& s = session.settings();
    ASSERT_EQ(s.accountCount(), 3);
    EXPECT_EQ(s.account(1).Name, "First"); // the page was stored first
    const AccountSettings& n = s.account(3);
    EXPECT_EQ(n.Name, "Account 3");
    EXPECT_EQ(n.MailServerType, 0);
    EXPECT_EQ(n.Security, static_cast<int>(ConnectionSecurity::Tls));
    EXPECT_EQ(n.IMAPMailBoxName, "INBOX");
    EXPECT_EQ(n.Host, "");
    EXPECT_FALSE(n.SavePwd);
    EXPECT_EQ(n.Timer, 300000);
    EXPECT_TRUE(n.Active && n.List && n.Show && n.Sound);
    EXPECT_FALSE(n.RetrieveAllBodies);
    EXPECT_EQ(n.ActiveColor, 0x111111u);
    EXPECT_EQ(n.IdleColor, 0x222222u);
    EXPECT_EQ(n.DefaultMailClient, 0);
    EXPECT_EQ(session.runtime().size(), 3);
    EXPECT_FALSE(session.runtime()[3].Busy);

    EXPECT_TRUE(window->EShowVar(3));
    EXPECT_EQ(window->scheduler().timerCount(), 3);
    EXPECT_EQ(fieldHint(3), "Account 3");
    EXPECT_EQ(prefs->selectedNode(), 3);
    EXPECT_EQ(nodeText(3), "Account 3");
    EXPECT_EQ(prefs->currentPage(), &prefs->accountPage());
    EXPECT_EQ(prefs->currentAccountIndex(), 2);
    EXPECT_EQ(text("Edit29"), "5");
    EXPECT_FALSE(iniExists());
}

TEST_F(AccountEditorTest, DeleteTheSecondOfFourAccounts) {
    make(4);
    Settings& s = session.settings();
    s.Filters.clear();
    for (int account : {0, 2, 3, 4}) {
        TFilter f;
        f.Account = account;
        f.IfCondition = 10 + account;
        s.Filters.push_back(f);
    }
    session.syncWithSettings();
    test::addMessages(session, 1, 2, 0);
    MailStoreFiles::SaveStore(session.db(), session.workingFolder(), true);
    for (int a = 1; a <= 4; ++a) {
        session.runtime()[a].ShownCount = 10 * a;
        session.runtime()[a].LastMailboxTotal = 100 * a;
        session.runtime()[a].CheckRequested = a % 2 == 0;
    }
    session.runtime()[3].Busy = true;

    openAccount(2);
    w<QPushButton>("Deletebutton")->click();
    ASSERT_EQ(prefs->lastDiscardedError(), "");
    ASSERT_EQ(questions, std::vector<std::string>{"Do you really want to delete A2"});

    ASSERT_EQ(s.accountCount(), 3);
    EXPECT_EQ(s.account(1).Name, "A1");
    EXPECT_EQ(s.account(2).Name, "A3");
    EXPECT_EQ(s.account(3).Name, "A4");
    ASSERT_EQ(s.Filters.size(), 3u);
    EXPECT_EQ(s.Filters[0].Account, 0);
    EXPECT_EQ(s.Filters[1].Account, 2);
    EXPECT_EQ(s.Filters[1].IfCondition, 13);
    EXPECT_EQ(s.Filters[2].Account, 3);
    EXPECT_EQ(s.Filters[2].IfCondition, 14);
    EXPECT_EQ(session.filters().load()->size(), 3u);

    // The whole run-time record moves with its account, so a pending check request stays
    // with the account that asked. Every connection was reset first, so nothing is busy.
    ASSERT_EQ(session.runtime().size(), 3);
    EXPECT_EQ(session.runtime()[2].ShownCount, 30);
    EXPECT_EQ(session.runtime()[3].ShownCount, 40);
    for (int a = 1; a <= 3; ++a)
        EXPECT_FALSE(session.runtime()[a].Busy) << a;
    EXPECT_FALSE(session.runtime()[2].CheckRequested);
    EXPECT_TRUE(session.runtime()[3].CheckRequested);
    EXPECT_EQ(session.runtime()[2].LastMailboxTotal, 300);
    EXPECT_EQ(session.runtime()[3].LastMailboxTotal, 400);
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, -2); // its messages were purged

    // The mail list is purged and its file gone; fields, timers and nodes shrink.
    {
        NamedLock lock(session.db().mutex());
        EXPECT_EQ(session.db().CountShownMessages(0), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(MailStoreFiles::savedPath(session.workingFolder())));
    EXPECT_FALSE(window->EShowVar(4));
    EXPECT_EQ(window->scheduler().timerCount(), 3);
    EXPECT_EQ(fieldHint(2), "A3");
    EXPECT_EQ(nodeText(1), "A1");
    EXPECT_EQ(nodeText(2), "A3");
    EXPECT_EQ(nodeText(3), "A4");
    EXPECT_EQ(nodeText(4), "Sound Settings");
    EXPECT_EQ(w<QComboBox>("ComboBox6")->count(), 3);
    EXPECT_EQ(prefs->currentAccountIndex(), 0);
    EXPECT_GT(accountMenuBuilt, 0);
    EXPECT_FALSE(iniExists()); // the next OK writes the shorter list

    // That OK removes the surplus section.
    w<QPushButton>("SaveButton")->click();
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_FALSE(ini.sectionExists("4"));
    EXPECT_EQ(ini.readString("3", "Name", ""), "A4");
}

TEST_F(AccountEditorTest, DeleteNeedsAYesAndAnotherAccount) {
    make(2);
    confirmAnswer = false;
    openAccount(1);
    w<QPushButton>("Deletebutton")->click();
    EXPECT_EQ(questions.size(), 1u);
    EXPECT_EQ(session.settings().accountCount(), 2);

    make(1);
    openAccount(1);
    questions.clear();
    w<QPushButton>("Deletebutton")->click();
    EXPECT_EQ(errors, std::vector<std::string>{"You must have at least one account!"});
    EXPECT_TRUE(questions.empty());
    EXPECT_EQ(session.settings().accountCount(), 1);
}

TEST_F(AccountEditorTest, ManyAccountsCanBeCreatedAndDeleted) {
    make(1);
    prefs->openPreferences();
    for (int i = 0; i < 199; ++i)
        prefs->accountPage().NewButton1Click();
    ASSERT_EQ(session.settings().accountCount(), 200);
    EXPECT_EQ(nodeText(200), "Account 200");
    prefs->selectNode(100);
    w<QPushButton>("Deletebutton")->click();
    EXPECT_EQ(session.settings().accountCount(), 199);
    EXPECT_EQ(session.settings().account(100).Name, "Account 101");
    EXPECT_EQ(nodeText(200), "Sound Settings");
}

TEST_F(AccountEditorTest, CustomMailClientIsTakenOnlyWhenTheFileExists) {
    make(2);
    openAccount(2);
    auto* choice = w<QComboBox>("MailClientComboBox1");
    const std::string program = dir.file("mailer");
    std::ofstream(program) << "#!/bin/sh\n";
    struct Case {
        std::string answer;
        std::string stored;
    };
    const Case cases[] = {{"", ""}, {dir.file("missing"), ""}, {program, program}};
    for (const Case& c : cases) {
        fileAnswer = c.answer;
        choice->setCurrentIndex(1);
        prefs->runCommand([&] { prefs->accountPage().MailClientComboBox1Change(); });
        EXPECT_EQ(session.settings().account(2).CustomMailClientPath, c.stored) << c.answer;
        EXPECT_EQ(fileTitles.back(), "Browse for Email Client");
    }
    prefs->selectNode(0);
    EXPECT_EQ(session.settings().account(2).DefaultMailClient, 1);
}

TEST_F(AccountEditorTest, SwatchesSetTheColoursAtOnce) {
    make(2);
    openAccount(2);
    session.settings().account(2).ActiveColor = 0x010203;
    prefs->accountPage().ComboBox6_update_sheet();
    colorAnswer = 0x00AA00;
    w<QPushButton>("CAccActive")->click();
    EXPECT_EQ(colorAsked, std::vector<std::uint32_t>{0x010203});
    EXPECT_EQ(session.settings().account(2).ActiveColor, 0x00AA00u);
    EXPECT_EQ(prefs->accountPage().activeSwatch(), 0x00AA00u);

    colorAnswer.reset();
    w<QPushButton>("CAccIdle")->click();
    const std::uint32_t idle = session.settings().account(2).IdleColor;
    EXPECT_EQ(prefs->accountPage().idleSwatch(), idle);

    w<QPushButton>("ResetAccColors")->click();
    EXPECT_EQ(session.settings().account(2).ActiveColor, session.settings().Main.Colors.Active);
    EXPECT_EQ(session.settings().account(2).IdleColor, session.settings().Main.Colors.Idle);
    EXPECT_EQ(prefs->accountPage().activeSwatch(), session.settings().Main.Colors.Active);
}

} // namespace
} // namespace tarn

namespace tarn {
namespace {

class CredentialsOnThePageTest : public test::PrefsFixture {};

TEST_F(CredentialsOnThePageTest, LineBreakOrNulInUserOrPasswordIsRefusedWithAMessage) {
    struct Case {
        const char* name;
        QString user;
        QString password;
        const char* says; // nullptr: accepted
    };
    const Case cases[] = {
        {"plain", "bob", "pa ss", nullptr},
        {"LF in password", "bob", "pa\nss", "The password cannot contain a line break"},
        {"CR in password", "bob", "pa\rss", "The password cannot contain a line break"},
        {"NUL in password", "bob", QString::fromUtf8("pa\0ss", 5), "The password"},
        {"CR LF in user", "bo\r\nb", "secret", "The user name cannot contain a line break"},
        {"NUL in user", QString::fromUtf8("bo\0b", 4), "secret", "The user name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.file("tarn.ini"));
        make(1);
        AccountSettings& acc = session.settings().account(1);
        acc.UserID = "old";
        acc.Password = "oldpw";
        openAccount(1);
        setText("Edit27", c.user);
        setText("Edit30", c.password);
        errors.clear();
        w<QPushButton>("SaveButton")->click();
        if (!c.says) {
            EXPECT_TRUE(errors.empty());
            EXPECT_EQ(acc.UserID, c.user.toStdString());
            EXPECT_EQ(acc.Password, c.password.toStdString());
            continue;
        }
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].rfind(c.says, 0), 0u) << errors[0];
        EXPECT_EQ(acc.UserID, "old");
        EXPECT_EQ(acc.Password, "oldpw");
        EXPECT_FALSE(iniExists()) << "OK stops before the file is written";
    }
}

} // namespace
} // namespace tarn
