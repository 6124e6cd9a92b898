#include "platform/DesktopExec.h"

#include <gtest/gtest.h>

#include "fakes/RecordingProcessLauncher.h"
#include "platform/BrowserLauncher.h"
#include "platform/DesktopFilesFixture.h"
#include "platform/MailClientLauncher.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace tarn;
using tarn::test::DesktopFiles;
using tarn::test::RecordingProcessLauncher;

namespace {

using Args = std::vector<std::string>;
const std::string kUrl = "http://www.example.org/tarnwick/";

// Exec lines as the packages write them (escaped as in the file), and the arguments a
// launcher starts with one address to pass and with none.
struct ExecCase {
    const char* name;
    const char* exec;
    Args withUrl;
    Args withoutTarget;
};

const ExecCase kRealEntries[] = {
    {"firefox-esr",
     "/usr/lib/firefox-esr/firefox-esr %u",
     {"/usr/lib/firefox-esr/firefox-esr", kUrl},
     {"/usr/lib/firefox-esr/firefox-esr"}},
    {"google-chrome-stable",
     "/usr/bin/google-chrome-stable %U",
     {"/usr/bin/google-chrome-stable", kUrl},
     {"/usr/bin/google-chrome-stable"}},
    {"claws-mail", "claws-mail %u", {"claws-mail", kUrl}, {"claws-mail"}},
    {"thunderbird",
     "/usr/bin/thunderbird %u",
     {"/usr/bin/thunderbird", kUrl},
     {"/usr/bin/thunderbird"}},
    {"evolution", "evolution %U", {"evolution", kUrl}, {"evolution"}},
    {"chromium",
     "/usr/bin/chromium --new-window %U",
     {"/usr/bin/chromium", "--new-window", kUrl},
     {"/usr/bin/chromium", "--new-window"}},
    {"flatpak",
     "/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=firefox --file-forwarding "
     "org.mozilla.firefox @@u %u @@",
     {"/usr/bin/flatpak", "run", "--branch=stable", "--arch=x86_64", "--command=firefox",
      "--file-forwarding", "org.mozilla.firefox", "@@u", kUrl, "@@"},
     {"/usr/bin/flatpak", "run", "--branch=stable", "--arch=x86_64", "--command=firefox",
      "--file-forwarding", "org.mozilla.firefox", "@@u", "@@"}},
    {"snap",
     "env BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop "
     "/snap/bin/firefox %u",
     {"env", "BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop",
      "/snap/bin/firefox", kUrl},
     {"env", "BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/firefox_firefox.desktop",
      "/snap/bin/firefox"}},
    {"quoted with blanks",
     "\"/opt/My Browser/browse\" --profile \"work and home\" %u",
     {"/opt/My Browser/browse", "--profile", "work and home", kUrl},
     {"/opt/My Browser/browse", "--profile", "work and home"}},
    // In the file a backslash is written twice, and once more inside quotes.
    {"escapes in quotes",
     R"("/opt/odd\\\\name/go" "say \\"hi\\" \\$HOME" 100%% %u)",
     {R"(/opt/odd\name/go)", R"(say "hi" $HOME)", "100%", kUrl},
     {R"(/opt/odd\name/go)", R"(say "hi" $HOME)", "100%"}},
    {"blank escape", R"("/opt/my\sbrowser" %u)", {"/opt/my browser", kUrl}, {"/opt/my browser"}},
    {"code inside a word",
     "browse --url=%u --name %c --icon %i %k",
     {"browse", "--url=" + kUrl, "--name", "--icon"},
     {"browse", "--url=", "--name", "--icon"}},
    {"empty quoted argument", "prog \"\" %f", {"prog", "", kUrl}, {"prog", ""}},
};

TEST(DesktopExec, RealEntriesTakeApartWithoutCutting) {
    for (const ExecCase& c : kRealEntries) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parseDesktopExec(c.exec, {kUrl}), c.withUrl);
        EXPECT_EQ(parseDesktopExec(c.exec, {}), c.withoutTarget);
    }
}

TEST(DesktopExec, ListCodesAndBrokenLines) {
    EXPECT_EQ(parseDesktopExec("viewer %F", {"/a b", "/c"}), (Args{"viewer", "/a b", "/c"}));
    EXPECT_EQ(parseDesktopExec("viewer %f", {"/a b", "/c"}), (Args{"viewer", "/a b"}));
    for (const char* broken : {"", "   ", "\"/opt/unclosed %u", "%i", "\"\" x"}) {
        SCOPED_TRACE(broken);
        EXPECT_FALSE(parseDesktopExec(broken, {kUrl}));
    }
    EXPECT_TRUE(desktopExecTakesTargets("a %U"));
    EXPECT_FALSE(desktopExecTakesTargets("a 100%%u --x %i"));
}

// The whole road: the desktop's default handler's entry, read from a data folder, started
// through a recording launcher, for the browser (with the address) and the mail client.
TEST_F(DesktopFiles, LaunchersStartRealEntriesWhole) {
    for (const ExecCase& c : kRealEntries) {
        SCOPED_TRACE(c.name);
        write("home/applications/entry.desktop",
              std::string("[Desktop Entry]\nType=Application\nName=X\nExec=") + c.exec + "\n");
        const auto id = [] { return std::string("entry.desktop"); };
        const auto folders = [this] { return dirs(); };

        RecordingProcessLauncher browserRec;
        std::vector<std::string> messages;
        EXPECT_TRUE(
            BrowserLauncher(browserRec, id, folders)
                .LaunchHomePage(kUrl, [&](const std::string& m) { messages.push_back(m); }));
        EXPECT_TRUE(messages.empty());
        ASSERT_EQ(browserRec.calls.size(), 1u);
        EXPECT_EQ(browserRec.calls[0].argv, c.withUrl);
        EXPECT_EQ(browserRec.calls[0].folder, MailClientLauncher::folderPart(c.withUrl.front()));

        RecordingProcessLauncher mailRec;
        EXPECT_TRUE(MailClientLauncher(mailRec, id, folders).launch(0, "", nullptr));
        ASSERT_EQ(mailRec.calls.size(), 1u);
        EXPECT_EQ(mailRec.calls[0].argv, c.withoutTarget);
    }
}

// A line without a field code still gets the address, at its end.
TEST_F(DesktopFiles, BrowserWithoutFieldCodeGetsTheAddressAppended) {
    write("home/applications/plain.desktop", "[Desktop Entry]\nExec=/opt/web-x/browse --new\n");
    RecordingProcessLauncher rec;
    BrowserLauncher launcher(
        rec, [] { return std::string("plain.desktop"); }, [this] { return dirs(); });
    EXPECT_EQ(launcher.GetDefaultBrowser(kUrl, nullptr), "/opt/web-x/browse");
    EXPECT_TRUE(launcher.LaunchHomePage(kUrl, nullptr));
    ASSERT_EQ(rec.calls.size(), 1u);
    EXPECT_EQ(rec.calls[0].argv, (Args{"/opt/web-x/browse", "--new", kUrl}));
}

// The real start, no shell in between, of a browser in a folder whose name has a "-" and a
// blank: it runs and gets the address as one argument.
TEST_F(DesktopFiles, RealBrowserInDashedFolderStartsWithTheAddress) {
    namespace fs = std::filesystem;
    fs::create_directories(m_root / "web-browser x");
    const fs::path prog = m_root / "web-browser x/web-browser";
    write("web-browser x/web-browser", "#!/bin/sh\nprintf '%s' \"$1\" > \"$0.ran\"\n");
    fs::permissions(prog, fs::perms::owner_all);
    write("home/applications/real.desktop", "[Desktop Entry]\nExec=\"" + prog.string() + "\" %u\n");
    BrowserLauncher launcher(
        systemProcessLauncher(), [] { return std::string("real.desktop"); },
        [this] { return dirs(); });
    const std::string address = "http://127.0.0.1:9/a b;$(touch nope)";
    EXPECT_TRUE(launcher.LaunchHomePage(address, nullptr));
    const fs::path ran = prog.string() + ".ran";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!fs::exists(ran) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(fs::exists(ran));
    std::ifstream in(ran);
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, address);
    EXPECT_FALSE(fs::exists(m_root / "web-browser x/nope"));
}

} // namespace
