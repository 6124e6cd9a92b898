#include "platform/MailClientLauncher.h"

#include <gtest/gtest.h>

#include "fakes/RecordingProcessLauncher.h"
#include "platform/DesktopFilesFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarn;
namespace fs = std::filesystem;

namespace {

using RecordingLauncher = tarn::test::RecordingProcessLauncher;
using tarn::test::DesktopFiles;

TEST(MailClientLauncher, ClientCommand) {
    struct {
        int defaultMailClient;
        const char* custom;
        const char* defaultCommand;
        const char* expected;
    } cases[] = {
        {0, "/custom/prog", "/usr/bin/thunderbird", "/usr/bin/thunderbird"},
        {1, "/custom/prog --x", "/usr/bin/thunderbird", "/custom/prog --x"},
        {2, "/custom/prog", "", "/custom/prog"},
        {1, R"(C:\Programs\NetScape\NETSCAPE.EXE)", "",
         R"(C:\Programs\NetScape\NETSCAPE.EXE -mail)"},
        {1, "/opt/nEtScApE/bin/netscape", "", "/opt/nEtScApE/bin/netscape -mail"},
        {0, "", "/usr/lib/MOZILLA/Mozilla", "/usr/lib/MOZILLA/Mozilla -mail"},
        // Only the file name counts, not the folder.
        {1, "/opt/netscape/bin/mail", "", "/opt/netscape/bin/mail"},
        {1, R"(D:\netscape\mail.exe)", "", R"(D:\netscape\mail.exe)"},
        {1, "C:NETS.exe", "", "C:NETS.exe"},
        {1, "C:NETSC.exe", "", "C:NETSC.exe -mail"},
        {0, "", "", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            MailClientLauncher::clientCommand(c.defaultMailClient, c.custom, c.defaultCommand),
            c.expected)
            << c.custom << " | " << c.defaultCommand;
}

TEST(MailClientLauncher, FileAndFolderParts) {
    EXPECT_EQ(MailClientLauncher::fileNamePart(R"(C:\a\b\prog.exe)"), "prog.exe");
    EXPECT_EQ(MailClientLauncher::folderPart(R"(C:\a\b\prog.exe)"), R"(C:\a\b\)");
    EXPECT_EQ(MailClientLauncher::folderPart("/usr/bin/thunderbird"), "/usr/bin/");
    EXPECT_EQ(MailClientLauncher::folderPart("C:prog"), "C:");
    EXPECT_EQ(MailClientLauncher::folderPart("thunderbird"), "");
    EXPECT_EQ(MailClientLauncher::fileNamePart("thunderbird"), "thunderbird");
}

TEST(MailClientLauncher, StripFieldCodes) {
    struct {
        const char* exec;
        const char* expected;
    } cases[] = {
        {"thunderbird %u", "thunderbird"},
        {"/usr/bin/evolution %U --component=mail", "/usr/bin/evolution --component=mail"},
        {"prog --name %c --icon %i %k %f %F %d %D %n %N %v %m", "prog --name --icon"},
        {"prog 100%%", "prog 100%"},
        {"\"/opt/My Mail/mail\" %u", "\"/opt/My Mail/mail\""},
        {"/opt/my\\smail %u", "/opt/my mail"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MailClientLauncher::stripFieldCodes(c.exec), c.expected) << c.exec;
}

TEST_F(DesktopFiles, ExecLineLookup) {
    write("home/applications/fakemail.desktop", "[Desktop Entry]\nName=Fake Mail\nTryExec=nothing\n"
                                                "Exec=\"/opt/fake mail/fakemail\" --compose %u\n"
                                                "[Desktop Action New]\nExec=/wrong/one\n");
    write("system/applications/fakemail.desktop", "[Desktop Entry]\nExec=/system/copy %u\n");
    write("system/applications/vendor/mailer.desktop", "[Desktop Entry]\nExec=/opt/vm %U\n");
    write("system/applications/noexec.desktop", "[Desktop Entry]\nName=x\n");
    write("system/applications/actionfirst.desktop",
          "[Desktop Action A]\nExec=/wrong\n[Desktop Entry]\nExec=/right %F\n");

    // The user's folder wins over the system's.
    EXPECT_EQ(MailClientLauncher::desktopFileExec("fakemail.desktop", dirs()),
              "\"/opt/fake mail/fakemail\" --compose");
    EXPECT_EQ(MailClientLauncher::desktopFileExec("vendor-mailer.desktop", dirs()), "/opt/vm");
    EXPECT_EQ(MailClientLauncher::desktopFileExec("actionfirst.desktop", dirs()), "/right");
    EXPECT_FALSE(MailClientLauncher::desktopFileExec("noexec.desktop", dirs()));
    EXPECT_FALSE(MailClientLauncher::desktopFileExec("missing.desktop", dirs()));
    EXPECT_FALSE(
        MailClientLauncher::desktopFileExec("../home/applications/fakemail.desktop", dirs()));
    EXPECT_FALSE(MailClientLauncher::desktopFileExec("", dirs()));
}

TEST_F(DesktopFiles, XdgDataHomeComesFirst) {
    const char* oldHome = std::getenv("XDG_DATA_HOME");
    const char* oldDirs = std::getenv("XDG_DATA_DIRS");
    const std::string savedHome = oldHome ? oldHome : "";
    const std::string savedDirs = oldDirs ? oldDirs : "";
    setenv("XDG_DATA_HOME", (m_root / "home").c_str(), 1);
    setenv("XDG_DATA_DIRS", ((m_root / "system").string() + ":/usr/share").c_str(), 1);
    const std::vector<std::string> got = MailClientLauncher::xdgDataDirs();
    oldHome ? setenv("XDG_DATA_HOME", savedHome.c_str(), 1) : unsetenv("XDG_DATA_HOME");
    oldDirs ? setenv("XDG_DATA_DIRS", savedDirs.c_str(), 1) : unsetenv("XDG_DATA_DIRS");

    EXPECT_EQ(got, (std::vector<std::string>{(m_root / "home").string(),
                                             (m_root / "system").string(), "/usr/share"}));
}

TEST_F(DesktopFiles, LaunchesDefaultHandlerInItsFolder) {
    write("home/applications/fakemail.desktop",
          "[Desktop Entry]\nExec=\"/opt/mozilla/MozillaMail\" %u\n");
    RecordingLauncher rec;
    MailClientLauncher launcher(
        rec, [] { return std::string("fakemail.desktop"); }, [this] { return dirs(); });
    EXPECT_EQ(launcher.defaultMailClientArgv(),
              std::vector<std::string>{"/opt/mozilla/MozillaMail"});

    std::vector<std::string> errors;
    EXPECT_TRUE(launcher.launch(0, "/ignored", [&](const std::string& e) { errors.push_back(e); }));
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv, (std::vector<std::string>{"/opt/mozilla/MozillaMail", "-mail"}));
    EXPECT_EQ(rec.calls[0].folder, "/opt/mozilla/");
    EXPECT_TRUE(errors.empty());
}

TEST_F(DesktopFiles, CustomCommandDoesNotAskTheDesktop) {
    RecordingLauncher rec;
    bool asked = false;
    MailClientLauncher launcher(
        rec,
        [&] {
            asked = true;
            return std::string();
        },
        [this] { return dirs(); });
    EXPECT_TRUE(launcher.launch(1, "/usr/local/bin/mutt -y", nullptr));
    EXPECT_FALSE(asked);
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv, (std::vector<std::string>{"/usr/local/bin/mutt", "-y"}));
    EXPECT_EQ(rec.calls[0].folder, "/usr/local/bin/");
}

TEST_F(DesktopFiles, FailuresReportTheMessage) {
    write("home/applications/dash.desktop", "[Desktop Entry]\nExec=/opt/mail-client/bin/mail %u\n");
    struct {
        const char* name;
        const char* handlerId;
        int defaultMailClient;
        const char* custom;
        bool launcherResult;
        bool expectStartAttempt;
    } cases[] = {
        {"NoHandler", "", 0, "", true, false},
        {"UnknownHandler", "nothing.desktop", 0, "", true, false},
        {"EmptyCustom", "dash.desktop", 1, "", true, false},
        {"BlankCustom", "dash.desktop", 1, "   ", true, false},
        {"StartFails", "dash.desktop", 0, "", false, true},
    };
    for (const auto& c : cases) {
        RecordingLauncher rec;
        rec.result = c.launcherResult;
        const std::string id = c.handlerId;
        MailClientLauncher launcher(
            rec, [id] { return id; }, [this] { return dirs(); });
        std::vector<std::string> errors;
        EXPECT_FALSE(launcher.launch(c.defaultMailClient, c.custom, [&](const std::string& e) {
            errors.push_back(e);
        })) << c.name;
        EXPECT_EQ(errors, std::vector<std::string>{"Default Mail Client could not be detected\n\r"
                                                   "Please open your Mail Client manually."})
            << c.name;
        EXPECT_EQ(!rec.calls.empty(), c.expectStartAttempt) << c.name;
    }
}

// The real start of a mail program in a folder with a "-" in its name: it runs.
TEST_F(DesktopFiles, RealStartOfDashedCommandRuns) {
    fs::create_directories(m_root / "mail-client");
    write("mail-client/mail", "#!/bin/sh\ntouch \"$0.ran\"\n");
    fs::permissions(m_root / "mail-client/mail", fs::perms::owner_all);
    const std::string exec = (m_root / "mail-client/mail").string() + " %u";
    write("home/applications/dashed.desktop", "[Desktop Entry]\nExec=" + exec + "\n");

    MailClientLauncher launcher(
        systemProcessLauncher(), [] { return std::string("dashed.desktop"); },
        [this] { return dirs(); });
    std::string error;
    EXPECT_TRUE(launcher.launch(0, "", [&](const std::string& e) { error = e; }));
    EXPECT_EQ(error, "");
    const fs::path ran = m_root / "mail-client/mail.ran";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(ran) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(fs::exists(ran));
}

} // namespace
