// The start-up steps below the windows, driven without a widget.

#include "check/SessionStartup.h"

#include "check/ImapStateFiles.h"
#include "mailproto/ImapSyncState.h"

#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "store/MailStoreFiles.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

TEST(SessionStartup, ReadsTheWorkingFolderNamedOnTheCommandLineAndSyncsTheRunTimeState) {
    test::TempDir current, chosen;
    test::writeFile(chosen.file("tarn.ini"), "[Main]\nReleaseNr=19\nECount=3\nFilterCount=1\n"
                                             "[1]\nName=A\n[2]\nName=B\n[3]\nName=C\n"
                                             "[Filter 0]\nAccount=2\n");
    SessionStartup::Options options;
    options.currentFolder = current.path().string();
    options.args = {"-d", chosen.path().string() + "/", "-prefs", "other.dat"};
    options.lockSuffix = test::uniqueLockSuffix();
    SessionStartup startup(options);
    Session& session = startup.session();
    EXPECT_EQ(session.workingFolder(), chosen.path().string());
    EXPECT_EQ(startup.commandLine().PrefsName, "other.dat");

    const SettingsReadResult read = startup.readSettings({});
    EXPECT_FALSE(read.FirstStart);
    EXPECT_FALSE(read.ReleaseChanged);
    ASSERT_EQ(session.settings().accountCount(), 3);
    EXPECT_EQ(session.settings().account(3).Name, "C");
    EXPECT_EQ(session.runtime().size(), 3);
    EXPECT_EQ(session.filters().load()->size(), 1u);
    // Readers elsewhere see the same accounts through the store.
    EXPECT_EQ(session.settingsStore().snapshot()->account(2).Name, "B");

    int boxes = 0;
    EXPECT_TRUE(startup.loadMailList([&](const std::string&) { ++boxes; }).empty());
    EXPECT_EQ(boxes, 0);

    // The program takes the session over; the later steps still reach it.
    std::unique_ptr<Session> owned = startup.release();
    EXPECT_EQ(owned.get(), &startup.session());
}

TEST(SessionStartup, AFolderWithoutSettingsIsAFirstStartWithOneAccount) {
    test::TempDir folder;
    SessionStartup::Options options;
    options.currentFolder = folder.path().string();
    options.lockSuffix = test::uniqueLockSuffix();
    SessionStartup startup(options);
    const SettingsReadResult read = startup.readSettings({});
    EXPECT_TRUE(read.FirstStart);
    EXPECT_TRUE(read.ReleaseChanged);
    EXPECT_EQ(startup.session().settings().accountCount(), 1);
    EXPECT_EQ(startup.session().runtime().size(), 1);
    startup.loadMailList([](const std::string&) {});
    EXPECT_FALSE(std::filesystem::exists(folder.file("tarn.ini"))) << "starting writes nothing";
}

// State files of mailboxes no account names any more go at start-up; a first start, whose
// accounts are only defaults, removes none.
TEST(SessionStartup, LoadingTheMailListRemovesImapStatesOfMailboxesNoAccountNames) {
    for (const bool firstStart : {false, true}) {
        SCOPED_TRACE(firstStart ? "first start" : "settings read");
        test::TempDir folder;
        if (!firstStart)
            test::writeFile(folder.file("tarn.ini"),
                            "[Main]\nReleaseNr=19\nECount=2\n[1]\nName=A\nMailServerType=1\n"
                            "Host=imap.example.org\nUserID=bob\n[2]\nName=B\n");
        SessionStartup::Options options;
        options.currentFolder = folder.path().string();
        options.lockSuffix = test::uniqueLockSuffix();
        options.imapPort = 1143;
        SessionStartup startup(options);
        startup.readSettings({});
        AccountSettings a;
        a.MailServerType = static_cast<int>(MailServerKind::Imap4);
        a.Host = "imap.example.org";
        a.UserID = "bob";
        const std::string kept = imapStateFileOf(a, 1143);
        const std::string stale = imapSyncStateFileName("imap.example.org", 1143, "carol", "INBOX");
        test::writeFile(folder.file(kept), "tarnwick-imap-state 1\n");
        test::writeFile(folder.file(stale), "tarnwick-imap-state 1\n");
        startup.loadMailList([](const std::string&) {});
        EXPECT_TRUE(std::filesystem::exists(folder.file(kept)));
        EXPECT_EQ(std::filesystem::exists(folder.file(stale)), firstStart);
    }
}

} // namespace
} // namespace tarn
