#include "AppTestSupport.h"
#include "app/TarnwickApp.h"
#include "auxwin/TF_About.h"
#include "auxwin/TF_Update.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/TestApp.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "maillist/TF_EMailList.h"
#include "platform/NamedMutex.h"

#include <QAction>
#include <QLabel>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace tarn {
namespace {

// The program started in a private working folder, with the user's XDG folders in a private
// home, so shortcuts land there.
class DesktopIntegration : public ::testing::Test {
protected:
    DesktopIntegration() {
        test::tarnApp();
        fs::create_directories(work());
        save("XDG_CONFIG_HOME", (dir.path() / "home/config").string());
        save("XDG_DATA_HOME", (dir.path() / "home/data").string());
    }
    ~DesktopIntegration() override {
        for (const auto& [name, old] : m_saved)
            old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str());
    }
    void save(const std::string& name, const std::string& value) {
        const char* old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    }
    fs::path work() const { return dir.path() / "work"; }
    std::unique_ptr<TarnwickApp> startApp(std::vector<std::string> args) {
        StartOptions o;
        o.args = std::move(args);
        o.currentFolder = work().string();
        o.powerOff = &powerOff;
        o.lockSuffix = test::uniqueLockSuffix();
        o.programPath = "/opt/tarnwick/bin/tarnwick";
        auto a = std::make_unique<TarnwickApp>(std::move(o));
        a->start();
        return a;
    }

    test::TempDir dir;
    test::NoPowerOff powerOff;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(DesktopIntegration, MenuReachesUpdateAndAboutAndMinimiseSaysGotcha) {
    auto a = startApp({});
    TF_CheckerWindow& w = a->window();
    EXPECT_FALSE(a->update().isVisible());
    w.findChild<QAction*>("CheckforUpdate2")->trigger();
    EXPECT_TRUE(a->update().isVisible());
    EXPECT_EQ(a->update().newsText(), "Not Connected");
    w.findChild<QAction*>("About2")->trigger();
    EXPECT_TRUE(a->about().isVisible());
    // The mail list window's "About..." opens the same box.
    a->about().hide();
    QAction* listAbout = a->mailList().findChild<QAction*>("A_About");
    ASSERT_NE(listAbout, nullptr);
    EXPECT_TRUE(listAbout->isEnabled());
    listAbout->trigger();
    EXPECT_TRUE(a->about().isVisible());
    QLabel* notice = a->about().findChild<QLabel*>("Label1");
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->text(), TF_About::NoticeText);

    w.show();
    w.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(test::processUntil([&] { return notice->text() == "Gotcha"; }, 2s));
    a->exitProcedure();
}

TEST_F(DesktopIntegration, AddMenuCreatesTheStartMenuEntriesAtStart) {
    const fs::path group = dir.path() / "home/data/applications/Tarnwick";
    {
        auto a = startApp({"-prefs", "prefs3.dat"});
        EXPECT_FALSE(fs::exists(group)) << "entries without -addmenu";
        a->exitProcedure();
    }
    auto a = startApp({"-addmenu", "-prefs", "prefs3.dat"});
    for (const char* name :
         {"Tarnwick Instance 3.desktop", "Tarnwick ReadMe.desktop", "Tarnwick FAQ.desktop"})
        EXPECT_TRUE(fs::exists(group / name)) << name;
    const std::string entry = test::readFile((group / "Tarnwick Instance 3.desktop").string());
    EXPECT_NE(entry.find("Exec=\"/opt/tarnwick/bin/tarnwick\" -prefs \"prefs3.dat\"\n"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.find("Path=" + work().string() + "\n"), std::string::npos) << entry;
    EXPECT_FALSE(fs::exists(dir.path() / "home/config/autostart"));
    a->exitProcedure();
}

TEST_F(DesktopIntegration, FirstRunCopiesTheShippedFilesWithoutReplacingTheUsers) {
    test::writeFile((work() / "readme.txt").string(), "the user's own notes");
    {
        auto a = startApp({});
        ASSERT_TRUE(a->firstStart());
        for (const char* name : {"bip.wav", "incoming.wav", "dykt.ini", "help.html", "faq.txt"}) {
            const fs::path copy = work() / name;
            ASSERT_TRUE(fs::is_regular_file(copy)) << name;
            EXPECT_GT(fs::file_size(copy), 0u) << name;
            // The user may edit the copies.
            EXPECT_NE(fs::status(copy).permissions() & fs::perms::owner_write, fs::perms::none)
                << name;
        }
        EXPECT_EQ(test::readFile((work() / "readme.txt").string()), "the user's own notes");
        a->exitProcedure();
    }
    // Later runs leave the working folder as the user keeps it.
    fs::remove(work() / "bip.wav");
    auto a = startApp({});
    EXPECT_FALSE(a->firstStart());
    EXPECT_FALSE(fs::exists(work() / "bip.wav"));
    a->exitProcedure();
}

} // namespace
} // namespace tarn
