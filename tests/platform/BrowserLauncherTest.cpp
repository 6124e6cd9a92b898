#include "platform/BrowserLauncher.h"

#include <gtest/gtest.h>

#include "fakes/RecordingProcessLauncher.h"
#include "platform/DesktopFilesFixture.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tarn;
using tarn::test::DesktopFiles;
using tarn::test::RecordingProcessLauncher;

namespace {

const std::string kHome = "http://www.example.org/tarnwick/";

TEST_F(DesktopFiles, DefaultBrowserFromItsDesktopEntry) {
    write("home/applications/quoted.desktop",
          "[Desktop Entry]\nExec=\"/opt/browser/browse\" --new-window %u\n");
    write("home/applications/option.desktop",
          "[Desktop Entry]\nExec=/usr/bin/browse -new-window %u\n");
    write("home/applications/plain.desktop", "[Desktop Entry]\nExec=browse %U\n");
    write("system/applications/dash.desktop",
          "[Desktop Entry]\nExec=/usr/lib/web-browser/web %u\n");
    write("system/applications/vendor/web.desktop", "[Desktop Entry]\nExec=/opt/vendor/web\n");
    write("home/applications/noexec.desktop", "[Desktop Entry]\nName=x\n");

    struct Case {
        const char* id;
        const char* path;                     // what GetDefaultBrowser returns
        std::vector<std::string> startedArgv; // empty when nothing starts
        const char* folder;
        std::vector<std::string> messages;
    };
    const std::string notDetermined = BrowserLauncher::NotDeterminedText + kHome;
    // One failure, one message.
    const Case cases[] = {
        {"quoted.desktop",
         "/opt/browser/browse",
         {"/opt/browser/browse", "--new-window", kHome},
         "/opt/browser/",
         {}},
        {"option.desktop",
         "/usr/bin/browse",
         {"/usr/bin/browse", "-new-window", kHome},
         "/usr/bin/",
         {}},
        {"plain.desktop", "browse", {"browse", kHome}, "", {}},
        {"dash.desktop",
         "/usr/lib/web-browser/web",
         {"/usr/lib/web-browser/web", kHome},
         "/usr/lib/web-browser/",
         {}},
        {"vendor-web.desktop", "/opt/vendor/web", {"/opt/vendor/web", kHome}, "/opt/vendor/", {}},
        {"noexec.desktop", "", {}, "", {notDetermined}},
        {"missing.desktop", "", {}, "", {notDetermined}},
        {"", "", {}, "", {notDetermined}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        RecordingProcessLauncher rec;
        const std::string id = c.id;
        BrowserLauncher launcher(
            rec, [id] { return id; }, [this] { return dirs(); });
        std::vector<std::string> messages;
        const auto onMessage = [&](const std::string& m) { messages.push_back(m); };
        EXPECT_EQ(launcher.GetDefaultBrowser(kHome, nullptr), c.path);

        EXPECT_EQ(launcher.LaunchHomePage(kHome, onMessage), !c.startedArgv.empty());
        EXPECT_EQ(messages, c.messages);
        if (!c.startedArgv.empty()) {
            ASSERT_EQ(rec.calls.size(), 1u);
            EXPECT_EQ(rec.calls[0].argv, c.startedArgv);
            EXPECT_EQ(rec.calls[0].folder, c.folder);
        } else {
            EXPECT_TRUE(rec.calls.empty());
        }
    }
}

// A quoted path with blanks names one program when it exists, as the system's process start
// would take it.
TEST_F(DesktopFiles, QuotedBrowserPathWithBlanksStaysWhole) {
    // A folder of its own: the fixture's name holds "-", where the path would be cut.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("tarnbrowser" + std::to_string(getpid())) / "My Browser";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "browse").string();
    std::ofstream(path) << "#!/bin/sh\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    write("home/applications/blanks.desktop",
          "[Desktop Entry]\nExec=\"" + path + "\" --new-window %u\n");
    RecordingProcessLauncher rec;
    BrowserLauncher launcher(
        rec, [] { return std::string("blanks.desktop"); }, [this] { return dirs(); });
    EXPECT_TRUE(launcher.LaunchHomePage(kHome, nullptr));
    std::filesystem::remove_all(folder.parent_path());
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv, (std::vector<std::string>{path, "--new-window", kHome}));
    EXPECT_EQ(rec.calls[0].folder, folder.string() + "/");
}

// A browser that does not start gets the "could not be started" text alone.
TEST_F(DesktopFiles, BrowserThatDoesNotStartIsTold) {
    write("home/applications/web.desktop", "[Desktop Entry]\nExec=/opt/web/browse %u\n");
    RecordingProcessLauncher rec;
    rec.result = false;
    BrowserLauncher launcher(
        rec, [] { return std::string("web.desktop"); }, [this] { return dirs(); });
    std::vector<std::string> messages;
    EXPECT_FALSE(
        launcher.LaunchHomePage(kHome, [&](const std::string& m) { messages.push_back(m); }));
    EXPECT_EQ(messages, std::vector<std::string>{std::string(BrowserLauncher::NotStartedText) +
                                                 " \"" + kHome + "\""});
}

} // namespace
