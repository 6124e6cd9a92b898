#include "PrefsFixture.h"

#include "core/ScopedEnv.h"
#include "prefs/ShortcutsPage.h"

#include <fstream>
#include <set>
#include <sstream>

namespace tarn {
namespace {

namespace fs = std::filesystem;

// The dialog with the user's XDG folders in a private home, so the entries land there.
class ShortcutsPageTest : public test::PrefsFixture {
protected:
    ShortcutsPageTest() {
        env.set("XDG_CONFIG_HOME", (dir.path() / "home/config").string());
        env.set("XDG_DATA_HOME", (dir.path() / "home/data").string());
        options.programPath = "/opt/tarnwick/bin/tarnwick";
    }
    fs::path autostart() const { return dir.path() / "home/config/autostart"; }
    fs::path group() const { return dir.path() / "home/data/applications/Tarnwick"; }
    static std::set<std::string> filesIn(const fs::path& folder) {
        std::set<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec))
            names.insert(e.path().filename().string());
        return names;
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    void click(const char* button) {
        prefs->openPreferences();
        const auto node = tree()->findItems("Shortcuts", Qt::MatchExactly | Qt::MatchRecursive);
        ASSERT_EQ(node.size(), 1);
        tree()->setCurrentItem(node.front());
        ASSERT_EQ(prefs->currentPage(), &prefs->shortcutsPage());
        w<QPushButton>(button)->click();
    }

    test::ScopedEnv env;
};

TEST_F(ShortcutsPageTest, ButtonsAndTexts) {
    make(1);
    struct Row {
        const char* button;
        const char* caption;
        const char* hint;
        const char* text;
    };
    const Row rows[] = {
        {"StartupButton1", "Add Shortcut to Startup",
         "Tarnwick starts automatically when you log in",
         "Hit this button to run Tarnwick automatically every time you log in."},
        {"StartmenuButton1", "Add Shortcut to Menu", "Add Tarnwick to your applications menu",
         "Hit this button to add Tarnwick shortcuts to your applications menu."},
    };
    for (const Row& r : rows) {
        auto* b = w<QPushButton>(r.button);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->text(), r.caption);
        EXPECT_EQ(b->toolTip(), r.hint);
        QLabel* beside = nullptr;
        for (QLabel* l : prefs->shortcutsPage().findChildren<QLabel*>())
            if (l->buddy() == b)
                beside = l;
        ASSERT_TRUE(beside) << r.button;
        EXPECT_EQ(beside->text(), r.text);
    }
    EXPECT_EQ(w<QLabel>("ShortcutsIntro")->text(),
              "Add shortcuts to the autostart and applications-menu folders");
    // Every control at every level.
    for (QWidget* c : prefs->shortcutsPage().findChildren<QWidget*>())
        EXPECT_EQ(c->property("level").toInt(), 0) << c->objectName().toStdString();
}

TEST_F(ShortcutsPageTest, ButtonsWriteThisInstancesEntriesAgainAndAgain) {
    options.PrefsName = "prefs3.dat";
    make(1);
    EXPECT_FALSE(fs::exists(group()));

    click("StartupButton1");
    EXPECT_EQ(filesIn(autostart()), std::set<std::string>{"Tarnwick Instance 3.desktop"});
    const std::string entry = read(autostart() / "Tarnwick Instance 3.desktop");
    EXPECT_NE(entry.find("Exec=\"/opt/tarnwick/bin/tarnwick\" -prefs \"prefs3.dat\"\n"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Path=" + dir.path().string() + "\n"), std::string::npos) << entry;
    EXPECT_FALSE(fs::exists(group()));

    const std::set<std::string> menu = {"Tarnwick Instance 3.desktop", "Tarnwick ReadMe.desktop",
                                        "Tarnwick FAQ.desktop"};
    for (int press = 0; press < 2; ++press) {
        click("StartmenuButton1");
        EXPECT_EQ(filesIn(group()), menu);
    }
    EXPECT_EQ(filesIn(autostart()).size(), 1u);
    // Success says nothing.
    EXPECT_TRUE(errors.empty());
}

TEST_F(ShortcutsPageTest, AFolderThatCannotBeMadeShowsItsReason) {
    fs::create_directories(dir.path() / "home");
    std::ofstream(dir.path() / "home/config") << "a file where the folder should be";
    make(1);
    click("StartupButton1");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("autostart"), std::string::npos) << errors[0];
    // The other folder is unaffected.
    click("StartmenuButton1");
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(filesIn(group()).size(), 3u);
}

TEST_F(ShortcutsPageTest, AddMenuMakesTheStartMenuEntriesWhileTheDialogIsCreated) {
    make(1);
    EXPECT_FALSE(fs::exists(group()));
    options.addMenu = true;
    make(1);
    EXPECT_EQ(filesIn(group()),
              (std::set<std::string>{"Tarnwick.desktop", "Tarnwick ReadMe.desktop",
                                     "Tarnwick FAQ.desktop"}));
    EXPECT_FALSE(fs::exists(autostart()));
    EXPECT_FALSE(prefs->isVisible());
}

} // namespace
} // namespace tarn
