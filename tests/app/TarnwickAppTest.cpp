#include "app/TarnwickApp.h"
#include "AppTestSupport.h"
#include "app/TarnApplication.h"
#include "auxwin/TF_DYKT.h"
#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "core/IniFile.h"
#include "core/PasswordScrambling.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingProcessLauncher.h"
#include "fakes/ScriptedServer.h"
#include "maillist/TF_EMailList.h"
#include "platform/BrowserLauncher.h"
#include "platform/NamedMutex.h"
#include "platform/PowerOff.h"
#include "prefs/TF_Prefs.h"
#include "store/MailStoreFiles.h"

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarn {
namespace {

TarnApplication& app() {
    return test::tarnApp();
}

QString plain(QString caption) {
    return caption.remove(QLatin1Char('&'));
}

using test::NoPowerOff;

class TarnwickAppTest : public ::testing::Test {
protected:
    TarnwickAppTest() { app(); }

    std::unique_ptr<TarnwickApp> startApp(std::vector<std::string> args = {}) {
        StartOptions o;
        o.args = std::move(args);
        o.currentFolder = dir.path().string();
        o.powerOff = &powerOff;
        o.lockSuffix = test::uniqueLockSuffix();
        auto a = std::make_unique<TarnwickApp>(std::move(o));
        a->start();
        return a;
    }
    // A saved list with two shown messages of account 1.
    void saveList(const std::string& folder) {
        Session s(folder, systemClock(), test::uniqueLockSuffix());
        for (int i = 0; i < 2; ++i) {
            MailRecord r;
            r.UID = "m" + std::to_string(i);
            r.Account = 1;
            s.db().AppendMessage(r);
        }
        MailStoreFiles::SaveStore(s.db(), folder, true);
    }
    void writeIni(const std::string& text) { test::writeFile(dir.file("tarn.ini"), text); }

    test::TempDir dir;
    NoPowerOff powerOff;
};

TEST_F(TarnwickAppTest, FirstStartWithoutSettingsFile) {
    auto a = startApp();
    Session& s = a->session();
    EXPECT_TRUE(a->firstStart());
    EXPECT_FALSE(s.Online);
    ASSERT_EQ(s.settings().accountCount(), 1);
    EXPECT_EQ(s.settings().account(1).Name, "Account 1");
    ASSERT_EQ(s.settings().Filters.size(), 1u);
    EXPECT_EQ(s.settings().Filters[0].Icon, 12);
    EXPECT_EQ(plain(a->window().findChild<QAction*>("online1")->text()), "Go Online");
    EXPECT_TRUE(a->window().isVisible());
    EXPECT_EQ(a->window().size(), QSize(49, 27));

    // Written at once, before any exit.
    ASSERT_TRUE(std::filesystem::exists(dir.file("tarn.ini")));
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readInteger("Main", "ECount", -1), 1);
    EXPECT_EQ(ini.readInteger("Main", "FilterCount", -1), 1);
    EXPECT_EQ(ini.readString("Main", "ReleaseNr", ""), "19");
    EXPECT_EQ(ini.readString("Main", "on/offline", ""), "off");
    EXPECT_EQ(ini.readString("1", "Name", ""), "Account 1");
    EXPECT_TRUE(ini.sectionExists("Filter 0"));
    EXPECT_TRUE(ini.sectionExists("BlueColorSet"));
    a->exitProcedure();
}

// The tips file is installed by the first start only, and the tips window, created last, shows
// its first tip when the setting says so.
TEST_F(TarnwickAppTest, TipsAtStart) {
    {
        auto a = startApp();
        ASSERT_TRUE(std::filesystem::exists(dir.file("dykt.ini")));
        // A first start: the preferences first, the tips once they close.
        ASSERT_TRUE(a->prefs().isVisible());
        EXPECT_FALSE(a->tips().isVisible());
        a->prefs().findChild<QPushButton*>("Button11")->click();
        EXPECT_TRUE(a->tips().isVisible());
        EXPECT_EQ(a->tips().tipNumber(), 1);
        const QString tip = a->tips().findChild<QPlainTextEdit*>("mDYKT")->toPlainText();
        EXPECT_TRUE(tip.startsWith(QStringLiteral("\nDouble-click"))) << tip.toStdString();
        a->exitProcedure();
    }
    std::filesystem::remove(dir.file("dykt.ini"));
    IniFile ini(dir.file("tarn.ini"));
    ini.writeBool("Main", "DYKTStartup", false);
    ini.save();
    auto a = startApp();
    EXPECT_FALSE(std::filesystem::exists(dir.file("dykt.ini")));
    EXPECT_FALSE(a->tips().isVisible());
    a->mailList().ips1Click(); // "Tips..."
    EXPECT_TRUE(a->tips().isVisible());
    EXPECT_EQ(a->tips().tipNumber(), 1);
    a->exitProcedure();
}

// The tips window's "Show this window at startup" and the preferences' "Show tips at startup"
// show the same choice, and the next write of the settings keeps it.
TEST_F(TarnwickAppTest, TipsWindowChoiceReachesThePreferences) {
    auto a = startApp();
    a->prefs().findChild<QPushButton*>("Button11")->click(); // the first start's dialog
    ASSERT_TRUE(a->tips().isVisible());
    a->prefs().openPreferences();
    auto* box = a->prefs().findChild<QCheckBox*>("dyktCheckBox");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isChecked());
    a->tips().findChild<QCheckBox*>("cbShowAgain")->setChecked(false);
    a->tips().TFr_DYKT1bCloseClick();
    EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(a->session().settings().Main.DYKTStartup);
    a->prefs().findChild<QPushButton*>("SaveButton")->click();
    EXPECT_FALSE(IniFile(dir.file("tarn.ini")).readBool("Main", "DYKTStartup", true));
    a->exitProcedure();
}

// The mail list window is created hidden at start with the saved list, keeps its settings
// across a restart, and the first start installs the help it opens.
TEST_F(TarnwickAppTest, MailListWindowAcrossARestart) {
    {
        auto a = startApp();
        TF_EMailList& list = a->mailList();
        EXPECT_FALSE(list.isVisible());
        EXPECT_TRUE(std::filesystem::exists(dir.file("help.html")));
        // The help opens in the browser the desktop names (a recording one here).
        const std::string apps = dir.file("apps");
        std::filesystem::create_directories(apps + "/applications");
        std::ofstream(apps + "/applications/web.desktop")
            << "[Desktop Entry]\nExec=/usr/bin/web-browser %u\n";
        test::RecordingProcessLauncher rec;
        list.setHelpBrowser(std::make_shared<BrowserLauncher>(
            rec, [] { return std::string("web.desktop"); },
            [apps] { return std::vector<std::string>{apps}; }));
        list.A_HelpExecute();
        ASSERT_EQ(rec.calls.size(), 1u);
        EXPECT_EQ(rec.calls[0].argv,
                  (std::vector<std::string>{
                      "/usr/bin/web-browser",
                      "file://" + std::filesystem::absolute(dir.file("help.html")).string()}));
        list.resize(520, 280);
        list.findChild<QAction*>("ToolBar_PurgeMaillist")->trigger();
        list.findChild<QAction*>("A_StatusBar")->trigger();
        a->exitProcedure();
    }
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readInteger("EMailList", "Width", 0), 520);
    EXPECT_TRUE(ini.readBool("EMailList", "ToolBar_PurgeMaillist", false));
    // The whole file is still there around the section.
    EXPECT_EQ(ini.readInteger("Main", "ECount", -1), 1);

    auto a = startApp();
    TF_EMailList& list = a->mailList();
    EXPECT_EQ(list.size(), QSize(520, 280));
    EXPECT_TRUE(list.findChild<QAction*>("ToolBar_PurgeMaillist")->isChecked());
    EXPECT_FALSE(list.findChild<QAction*>("A_StatusBar")->isChecked());
    // "Mail List..." of the checker window shows it for all accounts.
    a->window().findChild<QAction*>("MailList1")->trigger();
    EXPECT_TRUE(list.isVisible());
    EXPECT_EQ(plain(list.windowTitle()), "List of All Accounts");
    a->exitProcedure();
}

TEST_F(TarnwickAppTest, SavedListIsUsedOnlyByThisRelease) {
    struct Case {
        const char* release;
        const char* expectedText;
    };
    for (const Case& c : {Case{"19", "2"}, Case{"18", ""}}) {
        SCOPED_TRACE(c.release);
        saveList(dir.path().string());
        writeIni(std::string("[Main]\nReleaseNr=") + c.release +
                 "\nECount=1\nkeepMailDB=0\n[1]\nName=One\n");
        auto a = startApp();
        EXPECT_EQ(a->releaseChanged(), std::string(c.release) != "19");
        // With KeepMailDB off only a changed release loads anything: the empty template.
        EXPECT_EQ(a->session().db().size(), 0u);
        EXPECT_TRUE(a->window().EShowVar(1)->text().isEmpty());
        EXPECT_EQ(std::filesystem::exists(dir.file("blankMDB.tdb")),
                  std::string(c.release) != "19");
        std::filesystem::remove(dir.file("blankMDB.tdb"));
        a->exitProcedure();
    }
    // KeepMailDB on with this release: the saved list and its counts come back.
    saveList(dir.path().string());
    writeIni("[Main]\nReleaseNr=19\nECount=2\nkeepMailDB=1\n[1]\nName=One\n[2]\nName=Two\n");
    auto a = startApp();
    EXPECT_EQ(a->session().db().size(), 2u);
    EXPECT_EQ(a->window().EShowVar(1)->text(), "2");
    EXPECT_TRUE(a->window().EShowVar(2)->text().isEmpty());
    a->exitProcedure();

    // ReleaseNr 18 with KeepMailDB on: empty all the same.
    saveList(dir.path().string());
    writeIni("[Main]\nReleaseNr=18\nECount=1\nkeepMailDB=1\n[1]\nName=One\n");
    auto b = startApp();
    EXPECT_EQ(b->session().db().size(), 0u);
    EXPECT_TRUE(b->window().EShowVar(1)->text().isEmpty());
    b->exitProcedure();
}

TEST_F(TarnwickAppTest, CommandLinePositionOverridesSavedOneAndIsSavedAtExit) {
    writeIni("[Main]\nReleaseNr=19\nECount=1\nSnapWindow=0\ncurrentX=300\ncurrentY=400\n"
             "on/offline=on\n[1]\nName=One\n");
    auto a = startApp({"-x", "10", "-y", "20"});
    EXPECT_EQ(a->window().pos(), QPoint(10, 20));
    EXPECT_TRUE(a->session().Online);
    a->exitProcedure();
    EXPECT_TRUE(a->session().Quitting);
    EXPECT_FALSE(a->window().isVisible());
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readInteger("Main", "currentX", -1), 10);
    EXPECT_EQ(ini.readInteger("Main", "currentY", -1), 20);
    EXPECT_EQ(ini.readString("Main", "on/offline", ""), "on");
}

TEST_F(TarnwickAppTest, StartOnlineDecisions) {
    struct Case {
        const char* ini;
        bool online;
        bool visible;
    };
    const std::vector<Case> cases = {
        {"on/offline=on\nAlwaysOffline=1\n", false, true},
        {"on/offline=off\nHideWhenOffline=1\nHidden=0\n", false, false},
        {"on/offline=on\nHidden=1\n", true, false},
        {"on/offline=on\n", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        writeIni(std::string("[Main]\nReleaseNr=19\nECount=1\n") + c.ini + "[1]\nName=One\n");
        auto a = startApp();
        EXPECT_EQ(a->session().Online.load(), c.online);
        EXPECT_EQ(a->window().isVisible(), c.visible);
        EXPECT_EQ(plain(a->window().findChild<QAction*>("Restore1")->text()),
                  c.visible ? "Hide" : "Show");
        a->exitProcedure();
    }
}

TEST_F(TarnwickAppTest, UnwritableFolderDoesNotStopTheExit) {
    writeIni("[Main]\nReleaseNr=19\nECount=1\nkeepMailDB=1\n[1]\nName=One\n");
    auto a = startApp();
    a->session().setWorkingFolder(dir.file("missing/deeper"));
    a->exitProcedure();
    EXPECT_TRUE(a->exited());
    EXPECT_FALSE(a->lastSaveError().empty());
    EXPECT_FALSE(a->window().isVisible());
}

TEST_F(TarnwickAppTest, ErrorsEscapingAnEventAreDropped) {
    const int before = app().droppedErrors();
    struct Thrower : QObject {
        bool event(QEvent*) override { throw std::runtime_error("dropped"); }
    } thrower;
    QEvent e(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&thrower, &e));
    EXPECT_EQ(app().droppedErrors(), before + 1);
}

// The real program, quit by SIGTERM while its check hangs on a silent server.
// The build passes the program's own file, so a missing program fails instead of hiding.
std::string programPath() {
    return TARNWICK_BIN;
}

TEST(TarnwickProgram, QuitWhileACheckRunsSavesAndExitsCleanly) {
    const std::string program = programPath();
    ASSERT_TRUE(std::filesystem::exists(program)) << "program not built: " << program;
    test::TempDir dir;
    test::ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "", test::ScriptedServer::After::Stall);
    test::writeFile(dir.file("tarn.ini"),
                    "[Main]\nReleaseNr=19\nECount=1\non/offline=on\nkeepMailDB=1\n"
                    "[1]\nName=One\nHost=127.0.0.1:" +
                        std::to_string(srv.port()) + "\nUserID=bob\nPassword=" +
                        storedPasswordText("secret") + "\nSavePwd=1\nTimer=600000\n");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(program.c_str(), program.c_str(), "-d", dir.path().c_str(), nullptr);
        ::_exit(127);
    }
    const bool connected = srv.waitForLine("STAT", std::chrono::seconds(15)) ||
                           srv.waitForLineCount(1, std::chrono::seconds(1));
    ::kill(pid, SIGTERM);
    int status = 0;
    pid_t done = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the program did not end after SIGTERM";
    }
    EXPECT_TRUE(connected) << "the check never reached the server";
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("MailDB.tdb")));
    IniFile ini(dir.file("tarn.ini"));
    EXPECT_EQ(ini.readString("Main", "on/offline", ""), "on");
    EXPECT_EQ(ini.readString("Main", "Hidden", ""), "0");
}

} // namespace
} // namespace tarn
