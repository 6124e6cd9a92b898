// The IMAP4 state files of accounts that are gone: what the start-up sweep removes and what it
// must leave alone.

#include "check/ImapStateFiles.h"

#include "core/TempDir.h"
#include "mailproto/ImapSyncState.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace tarn {
namespace {

AccountSettings imapAccount(const std::string& host, const std::string& user) {
    AccountSettings a;
    a.MailServerType = static_cast<int>(MailServerKind::Imap4);
    a.Host = host;
    a.UserID = user;
    return a;
}

TEST(ImapStateFiles, TheSweepRemovesOnlyStateFilesNoAccountNames) {
    test::TempDir dir;
    const AccountSettings live = imapAccount("imap.example.org", "bob");
    AccountSettings pop = imapAccount("pop.example.org", "bob");
    pop.MailServerType = static_cast<int>(MailServerKind::Pop3);
    const std::string kept = imapStateFileOf(live, 143);
    ASSERT_TRUE(isImapStateFileName(kept)) << kept;
    EXPECT_EQ(imapStateFileOf(pop, 143), "");
    // The same account's file under another user, another mailbox: both belong to no one now.
    const std::string otherUser = imapSyncStateFileName("imap.example.org", 143, "carol", "INBOX");
    const std::string otherBox = imapSyncStateFileName("imap.example.org", 143, "bob", "Archive");
    const std::string asFolder = imapSyncStateFileName("old.example.org", 143, "bob", "INBOX");
    // Names that only look alike are not ours to remove.
    const std::vector<std::string> strangers = {"MailDB.imap-0123456789ABCDEF.state",
                                                "MailDB.imap-0123.state",
                                                otherUser + ".tmp",
                                                "x" + otherUser,
                                                "MailDB.tdb",
                                                "notes.state"};
    for (const std::string& n : std::vector<std::string>{kept, otherUser, otherBox})
        test::writeFile(dir.file(n), "tarnwick-imap-state 1\n");
    for (const std::string& n : strangers)
        test::writeFile(dir.file(n), "x");
    std::filesystem::create_directory(dir.file(asFolder));

    const std::vector<std::string> removed =
        removeStaleImapStates(dir.path().string(), {live, pop}, 143);
    std::vector<std::string> expected = {otherUser, otherBox};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(removed, expected);
    EXPECT_TRUE(std::filesystem::exists(dir.file(kept)));
    EXPECT_FALSE(std::filesystem::exists(dir.file(otherUser)));
    EXPECT_FALSE(std::filesystem::exists(dir.file(otherBox)));
    for (const std::string& n : strangers)
        EXPECT_TRUE(std::filesystem::exists(dir.file(n))) << n;
    EXPECT_TRUE(std::filesystem::is_directory(dir.file(asFolder)));

    // Without security the port named in the setting is not the one the check uses.
    EXPECT_EQ(imapStateFileOf(imapAccount("imap.example.org:999", "bob"), 143), kept);
    // No folder, or one that is not there: nothing happens.
    EXPECT_TRUE(removeStaleImapStates("", {}, 143).empty());
    EXPECT_TRUE(removeStaleImapStates(dir.file("missing"), {}, 143).empty());
}

} // namespace
} // namespace tarn
