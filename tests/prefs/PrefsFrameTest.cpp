#include "PrefsFixture.h"

#include "core/NumberRanges.h"

#include "core/IniFile.h"
#include "core/PrefsLevel.h"

#include <QGroupBox>
#include <QLabel>
#include <QTabBar>
#include <QTest>

#include <map>
#include <set>

namespace tarn {
namespace {

using test::PrefsFixture;

const char* const AdvancedNotice = "You can switch to 'Advanced Mode' to access more settings.";
const char* const ExpertNotice = "You can switch to 'Expert Mode' to access all settings.";

std::vector<QWidget*> taggedControls(QWidget* root) {
    std::vector<QWidget*> out;
    for (QWidget* w : root->findChildren<QWidget*>())
        if (w->property("level").isValid())
            out.push_back(w);
    return out;
}

using FrameTest = PrefsFixture;

TEST_F(FrameTest, WindowAndFixedNodes) {
    make(2);
    EXPECT_EQ(prefs->windowTitle(), "Tarnwick Preferences");
    EXPECT_EQ(prefs->size(), QSize(629, 486));
    EXPECT_EQ(w<QWidget>("TabControl1Frame")->size(), QSize(609, 433));
    EXPECT_EQ(w<QWidget>("PrefsTree")->width(), 160);
    EXPECT_EQ(w<QWidget>("PrefsTabControl")->width(), 441);
    auto* tabs = w<QTabBar>("TabControl1");
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), "Basic");
    EXPECT_EQ(tabs->tabText(1), "Advanced");
    EXPECT_EQ(tabs->tabText(2), "Expert");
    EXPECT_EQ(w<QPushButton>("SaveButton")->text(), "OK");
    EXPECT_EQ(w<QPushButton>("SaveButton")->toolTip(), "Save Current settings");
    EXPECT_EQ(w<QPushButton>("Button11")->text(), "Cancel");
    EXPECT_EQ(w<QPushButton>("Button11")->toolTip(), "Close without saving");

    // Pre-order: the account nodes are the first children of the first node.
    const std::vector<std::pair<QString, QString>> nodes = {
        {"Accounts", ""},
        {"A1", "Accounts"},
        {"A2", "Accounts"},
        {"Sound Settings", ""},
        {"Message Filters", ""},
        {"Visual Appearance", ""},
        {"Checker Window", "Visual Appearance"},
        {"Floating", "Visual Appearance"},
        {"Default Colors", "Visual Appearance"},
        {"Sizes", "Visual Appearance"},
        {"General Prefs", ""},
        {"Shortcuts", "General Prefs"},
        {"Log File", "General Prefs"},
    };
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem* item = prefs->nodeAt(static_cast<int>(i));
        ASSERT_TRUE(item) << i;
        EXPECT_EQ(item->text(0), nodes[i].first) << i;
        EXPECT_EQ(item->parent() ? item->parent()->text(0) : QString(), nodes[i].second) << i;
    }
    EXPECT_FALSE(prefs->nodeAt(static_cast<int>(nodes.size())));
    EXPECT_EQ(prefs->currentPage(), &prefs->accountsPage());
    EXPECT_EQ(prefs->currentAccountIndex(), -1);
}

TEST_F(FrameTest, EachNodeShowsItsPageAndEveryPageHasItsNotices) {
    make(1);
    prefs->openPreferences();
    struct Case {
        const char* node;
        const char* caption;
        bool advancedNotice;
        bool expertNotice;
    };
    const Case cases[] = {
        {"Accounts", "Accounts", false, false},
        {"A1", "Account Configuration", true, true},
        {"Sound Settings", "Sound Settings", true, true},
        {"Message Filters", "Message Filters", true, false},
        {"Visual Appearance", "Visual Appearance", true, false},
        {"Checker Window", "Checker Window", true, true},
        {"Floating", "Floating", true, true},
        {"Default Colors", "Colors", true, true},
        {"Sizes", "Checker Window Size", true, true},
        {"General Prefs", "General Preferences", true, true},
        {"Shortcuts", "Shortcuts", false, false},
        {"Log File", "Log File", true, false},
    };
    std::set<PrefsPage*> seen;
    for (const Case& c : cases) {
        const auto found = tree()->findItems(c.node, Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(found.size(), 1) << c.node;
        tree()->setCurrentItem(found.front());
        PrefsPage* page = prefs->currentPage();
        ASSERT_TRUE(page) << c.node;
        EXPECT_EQ(page->caption(), c.caption) << c.node;
        EXPECT_FALSE(page->isHidden()) << c.node;
        seen.insert(page);
        std::map<int, QString> notices;
        for (QLabel* l : page->findChildren<QLabel*>()) {
            const int tag = l->property("level").toInt();
            if (tag < 0)
                notices[tag] = l->text();
        }
        EXPECT_EQ(notices.count(-1), c.advancedNotice ? 1u : 0u) << c.node;
        EXPECT_EQ(notices.count(-2), c.expertNotice ? 1u : 0u) << c.node;
        if (c.advancedNotice) {
            EXPECT_EQ(notices[-1], AdvancedNotice) << c.node;
        }
        if (c.expertNotice) {
            EXPECT_EQ(notices[-2], ExpertNotice) << c.node;
        }
    }
    // One page at a time, every page reachable.
    EXPECT_EQ(seen.size(), prefs->pages().size());
    int shown = 0;
    for (PrefsPage* p : prefs->pages())
        shown += p->isHidden() ? 0 : 1;
    EXPECT_EQ(shown, 1);
}

TEST_F(FrameTest, LevelSwitchOverEveryControlOfEveryPage) {
    make(2);
    session.settings().account(1).MailServerType = 1; // IMAP4: its mailbox field is shown
    prefs->openPreferences();
    prefs->selectNode(1);
    auto* mailbox = w<QWidget>("cbMailBox");
    ASSERT_FALSE(mailbox->isHidden());

    // Every named control states its level.
    for (PrefsPage* page : prefs->pages()) {
        for (QWidget* c : page->findChildren<QWidget*>()) {
            if (!c->objectName().isEmpty() && !c->objectName().startsWith("qt_")) {
                EXPECT_TRUE(c->property("level").isValid()) << c->objectName().toStdString();
            }
        }
    }

    std::vector<QWidget*> controls;
    for (PrefsPage* page : prefs->pages())
        for (QWidget* c : taggedControls(page))
            controls.push_back(c);
    std::map<QWidget*, bool> untouched;
    for (QWidget* c : controls)
        if (c->property("level").toInt() == 0)
            untouched[c] = c->isHidden();
    std::set<int> tagsSeen;
    for (PrefsLevel level : {PrefsLevel::Expert, PrefsLevel::Advanced, PrefsLevel::Basic,
                             PrefsLevel::Expert, PrefsLevel::Basic, PrefsLevel::Advanced}) {
        prefs->setLevel(level);
        ASSERT_EQ(prefs->level(), level);
        for (QWidget* c : controls) {
            const int tag = c->property("level").toInt();
            tagsSeen.insert(tag);
            const std::string name = c->objectName().toStdString();
            if (tag == 0) {
                EXPECT_EQ(c->isHidden(), untouched[c]) << name;
                continue;
            }
            const bool shown = tag == -1   ? level == PrefsLevel::Basic
                               : tag == -2 ? level == PrefsLevel::Advanced
                               : tag == 1  ? level != PrefsLevel::Basic
                                           : level == PrefsLevel::Expert; // 2
            EXPECT_EQ(!c->isHidden(), shown) << name << " at level " << static_cast<int>(level);
        }
    }
    EXPECT_EQ(tagsSeen, (std::set<int>{-2, -1, 0, 1, 2}));
    EXPECT_FALSE(mailbox->isHidden());
    EXPECT_FALSE(w<QWidget>("rgServerType")->isHidden()); // every level
    EXPECT_TRUE(w<QWidget>("ComboBox7")->isHidden());     // never visible
    EXPECT_TRUE(w<QWidget>("ComboBox6")->isHidden());
}

TEST_F(FrameTest, StoredLevelIsAppliedAtCreation) {
    session.settings().Main.PrefsLevel = 2;
    make(1);
    EXPECT_EQ(prefs->level(), PrefsLevel::Expert);
    EXPECT_FALSE(w<QWidget>("CheckBox15")->isHidden());
    EXPECT_TRUE(w<QWidget>("AccountConfigExpertNotice")->isHidden());
}

TEST_F(FrameTest, AnAccountNamedLikeAFixedNodeShowsTheAccount) {
    make(3, {"Sizes", "Floating", "Accounts"});
    prefs->openPreferences();
    for (int a = 1; a <= 3; ++a) {
        prefs->selectNode(a);
        EXPECT_EQ(prefs->currentPage(), &prefs->accountPage()) << a;
        EXPECT_EQ(text("LabeledEdit1"), QString::fromStdString(session.settings().account(a).Name));
    }
    // The fixed node "Sizes" still shows the size page.
    prefs->selectNode(session.settings().accountCount() + 7);
    EXPECT_EQ(nodeText(prefs->selectedNode()), "Sizes");
    EXPECT_EQ(prefs->currentPage()->caption(), "Checker Window Size");
}

TEST_F(FrameTest, OkAtAdvancedWritesTheWholeFileAndHides) {
    make(2);
    prefs->openPreferences();
    prefs->selectNode(2);
    setText("LabeledEdit1", "Work");
    prefs->setLevel(PrefsLevel::Advanced);
    w<QPushButton>("SaveButton")->click();
    EXPECT_EQ(prefs->lastDiscardedError(), "");
    EXPECT_FALSE(prefs->isVisible());
    EXPECT_EQ(session.settings().Main.PrefsLevel, 1);
    EXPECT_EQ(session.settings().account(2).Name, "Work");
    EXPECT_EQ(accountMenuBuilt > 0, true);
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readInteger("Main", "PrefsLevel", -1), 1);
    EXPECT_EQ(ini.readInteger("Main", "ECount", -1), 2);
    EXPECT_EQ(ini.readString("2", "Name", ""), "Work");

    // The next dialog made from that file opens at Advanced.
    Settings reread;
    loadSettingsFile(dir.file("tarn.ini"), {}, reread);
    EXPECT_EQ(reread.Main.PrefsLevel, 1);
}

TEST_F(FrameTest, CancelTheCloseBoxAndEscapeHideWithoutWriting) {
    make(1);
    for (int way : {0, 1, 2}) {
        SCOPED_TRACE(way);
        prefs->openPreferences();
        prefs->setLevel(PrefsLevel::Expert);
        if (way == 0)
            w<QPushButton>("Button11")->click();
        else if (way == 1)
            prefs->close();
        else // Escape wherever the focus is: here the navigation tree
            QTest::keyClick(w<QTreeWidget>("PrefsTree"), Qt::Key_Escape);
        EXPECT_FALSE(prefs->isVisible());
        EXPECT_FALSE(iniExists());
        EXPECT_EQ(session.settings().Main.PrefsLevel, 0);
    }
}

TEST_F(FrameTest, HideHandlerGoesOnlineAndShowsTheMailListOnlyAfterAFirstStart) {
    make(1);
    session.settings().Main.CheckAllWhenGoingOnline = false;
    window->scheduler().online1xClick(); // offline, as a first start is
    ASSERT_FALSE(session.Online);
    prefs->setFirstStart(true);
    prefs->openPreferences();
    prefs->close();
    EXPECT_TRUE(session.Online);
    EXPECT_EQ(mailListShown, 1);
    EXPECT_FALSE(prefs->firstStart());

    window->scheduler().online1xClick();
    prefs->openPreferences();
    w<QPushButton>("Button11")->click();
    EXPECT_FALSE(session.Online);
    EXPECT_EQ(mailListShown, 1);
}

TEST_F(FrameTest, HideHandlerRestoresTheStoredOpacity) {
    make(1);
    session.settings().Main.TransparencyValue = 200;
    prefs->openPreferences();
    window->setWindowOpacity(0.3); // a preview that OK did not confirm
    prefs->close();
    EXPECT_NEAR(window->windowOpacity(), 200.0 / 255.0, 0.01);
}

TEST_F(FrameTest, OkWithAFrequencyThatIsNoNumberWritesNothingAndStaysOpen) {
    make(2);
    openAccount(2);
    setText("LabeledEdit1", "Renamed");
    setText("Edit29", "soon");
    w<QPushButton>("SaveButton")->click();
    EXPECT_TRUE(prefs->isVisible());
    EXPECT_FALSE(iniExists());
    EXPECT_FALSE(prefs->lastDiscardedError().empty());
    // Refused before anything of the account is stored, and said.
    EXPECT_EQ(session.settings().account(2).Name, "A2");
    EXPECT_EQ(session.settings().account(2).Timer, 300000);
    EXPECT_EQ(errors, std::vector<std::string>{rangeMessage(kCheckFrequencyRange)});

    // Leaving the page through the tree stops at its first step: the page stays.
    prefs->selectNode(0);
    EXPECT_EQ(prefs->currentPage(), &prefs->accountPage());
    EXPECT_EQ(prefs->selectedNode(), 2);
}

TEST_F(FrameTest, FirstShowingLoadsTheFirstAccount) {
    make(2);
    EXPECT_EQ(prefs->currentAccountIndex(), -1);
    prefs->openPreferences();
    EXPECT_EQ(prefs->currentAccountIndex(), 0);
    EXPECT_EQ(text("LabeledEdit1"), "A1");
    EXPECT_EQ(w<QComboBox>("ComboBox6")->count(), 2);
}

} // namespace
} // namespace tarn
