#include "mailproto/ImapSyncState.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>

using tarn::ImapSyncState;

namespace {

ImapSyncState sample() {
    ImapSyncState s;
    s.key = "mail.example.org:143 bob\tINBOX";
    s.uidValidity = 1700000000;
    s.uidNext = 42;
    s.highestModSeq = 9000;
    ImapSyncState::Message a;
    a.uid = 3;
    a.size = 1234;
    // Every byte the file uses for its own structure, inside the fields.
    a.fields = {"tab\there, line\nbreak\r, back\\slash \\t", "Doe, Jane", "jane@example.org",
                "Tue, 5 Mar 2024 10:00:00 +0000", "<a@example.org>"};
    a.fields.subject += std::string(1, '\0') + "after a NUL";
    ImapSyncState::Message b;
    b.uid = 41;
    b.size = 0;
    s.messages = {a, b};
    return s;
}

bool same(const ImapSyncState& x, const ImapSyncState& y) {
    if (x.key != y.key || x.uidValidity != y.uidValidity || x.uidNext != y.uidNext ||
        x.highestModSeq != y.highestModSeq || x.messages.size() != y.messages.size())
        return false;
    for (std::size_t k = 0; k < x.messages.size(); ++k) {
        const auto& a = x.messages[k];
        const auto& b = y.messages[k];
        if (a.uid != b.uid || a.size != b.size || a.fields.subject != b.fields.subject ||
            a.fields.senderName != b.fields.senderName ||
            a.fields.senderAddress != b.fields.senderAddress || a.fields.date != b.fields.date ||
            a.fields.messageId != b.fields.messageId)
            return false;
    }
    return true;
}

TEST(ImapSyncStateTest, WhatIsWrittenReadsBackFieldForField) {
    const ImapSyncState s = sample();
    const std::optional<ImapSyncState> back = ImapSyncState::parse(s.serialize());
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(*back, s));
    EXPECT_EQ(back->total(), 1234);
}

TEST(ImapSyncStateTest, ADamagedOrInconsistentFileIsNotUsed) {
    const std::string good = sample().serialize();
    struct Case {
        const char* name;
        std::string text;
    };
    std::string flipped = good;
    flipped[good.find("jane@")] = 'J';
    ImapSyncState descending = sample();
    std::swap(descending.messages[0].uid, descending.messages[1].uid);
    ImapSyncState beyondNext = sample();
    beyondNext.messages[1].uid = 42;
    ImapSyncState noValidity = sample();
    noValidity.uidValidity = 0;
    const Case cases[] = {
        {"empty", ""},
        {"cut short", good.substr(0, good.size() / 2)},
        {"without its last line end", good.substr(0, good.size() - 1)},
        {"one byte changed", flipped},
        {"a line added", good + "7\t1\ta\tb\tc\td\te\n"},
        // Written with a valid checksum, but no mailbox has such UIDs.
        {"UIDs that do not ascend", descending.serialize()},
        {"a UID at UIDNEXT", beyondNext.serialize()},
        {"no UIDVALIDITY", noValidity.serialize()},
    };
    for (const Case& c : cases)
        EXPECT_FALSE(ImapSyncState::parse(c.text)) << c.name;
}

TEST(ImapSyncStateTest, TheFirstLinesAreReadAndCheckedOnTheirOwn) {
    const std::string path = testing::TempDir() + "/imap-state-header";
    const ImapSyncState s = sample();
    const std::string text = s.serialize();
    const std::size_t headerEnd = text.find('\n', text.find("\nmailbox ") + 1);
    struct Case {
        const char* name;
        std::size_t damageAt; // npos: none
        bool headerReads;
        bool wholeReads;
    };
    const Case cases[] = {
        {"intact", std::string::npos, true, true},
        {"a message line damaged", headerEnd + 5, true, false},
        {"the key damaged", text.find("key ") + 6, false, false},
        {"the counts damaged", headerEnd - 20, false, false},
    };
    for (const Case& c : cases) {
        std::string t = text;
        if (c.damageAt != std::string::npos)
            t[c.damageAt] = t[c.damageAt] == '7' ? '8' : '7';
        std::ofstream(path, std::ios::binary | std::ios::trunc) << t;
        const std::optional<ImapSyncState> head = ImapSyncState::loadHeader(path);
        EXPECT_EQ(head.has_value(), c.headerReads) << c.name;
        if (head) {
            EXPECT_TRUE(head->messages.empty()) << c.name;
            EXPECT_EQ(head->count, 2u) << c.name;
            EXPECT_EQ(head->totalSize, 1234) << c.name;
            EXPECT_EQ(head->uidNext, 42) << c.name;
        }
        EXPECT_EQ(ImapSyncState::load(path, 1 << 20).has_value(), c.wholeReads) << c.name;
    }
    std::filesystem::remove(path);
}

TEST(ImapSyncStateTest, SavedPrivatelyAndReplacedWhole) {
    const std::string dir = testing::TempDir() + "/imap-state-test";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + tarn::imapSyncStateFileName("h", 143, "bob", "INBOX");
    ImapSyncState s = sample();
    s.save(path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    s.messages.pop_back();
    s.save(path);
    const std::optional<ImapSyncState> back = ImapSyncState::load(path, 1 << 20);
    ASSERT_TRUE(back);
    EXPECT_TRUE(same(*back, s));
    // Only the file itself is left: no temporary one beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_FALSE(ImapSyncState::load(path, 10)) << "larger than allowed";
    EXPECT_FALSE(ImapSyncState::load(dir + "/missing", 1 << 20));
    std::filesystem::remove_all(dir);

    // Other settings, another file.
    EXPECT_NE(tarn::imapSyncStateFileName("h", 143, "bob", "INBOX"),
              tarn::imapSyncStateFileName("h", 143, "bob", "Work"));
    EXPECT_NE(tarn::imapSyncStateFileName("h", 143, "bob", "INBOX"),
              tarn::imapSyncStateFileName("h", 993, "bob", "INBOX"));
}

} // namespace
