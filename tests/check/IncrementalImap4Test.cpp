// Repeat IMAP4 checks with the state of the last one, against a scripted server that announces
// CONDSTORE and ESEARCH and then says things that do not add up: whatever it says, the mail
// list comes out as a check without the state makes it, and the state is only trusted where
// the server's answers agree with each other.

#include "check/CheckPass.h"
#include "mailproto/Imap4MailboxClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::Imap4MailboxClient;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;
using Sync = Imap4MailboxClient::Sync;

namespace {

std::string envelope(int uid) {
    const std::string k = std::to_string(uid);
    return "(\"Tue, 5 Mar 2024 10:0" + std::to_string(uid % 10) + ":00 +0000\" \"Message " + k +
           "\" ((\"Sender " + k + "\" NIL \"s" + k +
           "\" \"example.org\")) NIL NIL NIL NIL NIL NIL " + "\"<id-" + k + "@example.org>\")";
}

// The mailbox as the server shows it, and how it misbehaves.
struct Box {
    std::vector<int> uids; // message i has uids[i - 1]
    int uidNext = 0;       // 0: not reported
    int modSeq = 0;        // 0: not reported
    std::string search;    // untagged answer to the UID search; empty: the right one
    std::string uidFetch;  // untagged answer to every UID FETCH; empty: the right one
};

Box box(std::vector<int> uids, int uidNext, int modSeq, std::string search = {},
        std::string uidFetch = {}) {
    return Box{std::move(uids), uidNext, modSeq, std::move(search), std::move(uidFetch)};
}

std::string fetchLine(int number, int uid, bool withUid) {
    return "* " + std::to_string(number) + " FETCH (" +
           (withUid ? "UID " + std::to_string(uid) + " " : std::string()) + "RFC822.SIZE " +
           std::to_string(100 + uid) + " ENVELOPE " + envelope(uid) + ")\r\n";
}

void serve(ScriptedServer& srv, const Box& box, const std::vector<int>& newUids) {
    srv.clearRules();
    const std::string caps = "[CAPABILITY IMAP4rev1 CONDSTORE ESEARCH]";
    srv.setGreeting("* OK " + caps + " ready\r\n");
    srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK " + caps + " Logged in\r\n");
    const int n = static_cast<int>(box.uids.size());
    std::string select = "* " + std::to_string(n) + " EXISTS\r\n* OK [UIDVALIDITY 7] ok\r\n";
    if (box.uidNext > 0)
        select += "* OK [UIDNEXT " + std::to_string(box.uidNext) + "] ok\r\n";
    if (box.modSeq > 0)
        select += "* OK [HIGHESTMODSEQ " + std::to_string(box.modSeq) + "] ok\r\n";
    srv.onRegex(R"(^C\d+ SELECT "INBOX"( \(CONDSTORE\))?$)", select + "{TAG} OK [READ-WRITE]\r\n");

    std::string sizes, all, allWithUids, set;
    for (int i = 1; i <= n; ++i) {
        const int uid = box.uids[static_cast<std::size_t>(i - 1)];
        const std::string k = std::to_string(i);
        sizes += "* " + k + " FETCH (RFC822.SIZE " + std::to_string(100 + uid) + ")\r\n";
        all += fetchLine(i, uid, false);
        allWithUids += fetchLine(i, uid, true);
        set += (set.empty() ? "" : ",") + std::to_string(uid);
        srv.onRegex("^C\\d+ FETCH " + k + " \\(ENVELOPE\\)$",
                    "* " + k + " FETCH (ENVELOPE " + envelope(uid) + ")\r\n{TAG} OK\r\n");
        srv.onRegex("^C\\d+ FETCH " + k + " \\(RFC822\\.SIZE\\)$",
                    "* " + k + " FETCH (RFC822.SIZE " + std::to_string(100 + uid) +
                        ")\r\n{TAG} OK\r\n");
    }
    srv.onRegex("^C\\d+ FETCH 1:" + std::to_string(n) + " \\(RFC822\\.SIZE\\)$",
                sizes + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1:\d+ \(RFC822\.SIZE ENVELOPE\)$)", all + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1:\d+ \(UID RFC822\.SIZE ENVELOPE\)$)",
                allWithUids + "{TAG} OK\r\n");
    srv.onRegex(
        R"(^C\d+ UID SEARCH RETURN \(ALL\) ALL$)",
        (box.search.empty() ? "* ESEARCH (TAG \"x\") UID ALL " + set + "\r\n" : box.search) +
            "{TAG} OK\r\n");
    std::string fetched;
    for (int uid : newUids) {
        for (int i = 1; i <= n; ++i)
            if (box.uids[static_cast<std::size_t>(i - 1)] == uid)
                fetched += fetchLine(i, uid, true);
    }
    srv.onRegex(R"(^C\d+ UID FETCH \S+ \(UID RFC822\.SIZE ENVELOPE\)$)",
                (box.uidFetch.empty() ? fetched : box.uidFetch) + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ EXPUNGE$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
}

class IncrementalImap4 : public tarn::test::CheckSessionSupport {
protected:
    IncrementalImap4() : CheckSessionSupport("tarn-incr4") {
        tarn::AccountSettings acc;
        acc.Name = "Work";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
    }

    struct Outcome {
        bool failed = false;
        Sync sync = Sync::Full;
        std::map<std::string, std::string> records;
    };

    // A check from an empty mail list, with the state file or without.
    Outcome check(bool withState) {
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = -1;
        srv.clearReceived();
        auto c = std::make_unique<tarn::LineConnection>();
        c->setReadTimeout(3s);
        auto imap = std::make_unique<tarn::Imap4Client>(std::move(c));
        imap->setHost("127.0.0.1");
        imap->setPort(srv.port());
        imap->setUser("bob");
        imap->setPassword("secret");
        Imap4MailboxClient client(std::move(imap), "INBOX");
        if (withState)
            client.setStateFile(session.path("imap.state"), "bob");
        CheckPassSettings settings;
        settings.accountName = "Work";
        settings.deletePause = 0ms;
        CheckPass pass(session, host, client, session.runtimeOf(1), 1, settings);
        pass.run();
        Outcome o;
        o.failed = pass.failed();
        o.sync = client.sync();
        session.db().walk(1, [&](const tarn::MailRecord& r) {
            o.records[r.UID.value_or("")] =
                std::to_string(r.Count.value_or(0)) + " " + std::to_string(r.Size.value_or(0)) +
                " " + r.Subject.value_or("-") + " | " + r.Sender.value_or("-");
            return true;
        });
        EXPECT_FALSE(o.failed) << pass.failureText();
        return o;
    }

    ScriptedServer srv;
};

TEST_F(IncrementalImap4, WhatDoesNotAddUpMakesTheFullPassesMailList) {
    const Box before = box({1, 2, 3, 4}, 5, 40);
    struct Case {
        const char* name;
        Box after;
        std::vector<int> newUids;
        Sync expected;
    };
    const Case cases[] = {
        {"HIGHESTMODSEQ unchanged but one message more",
         box({1, 2, 3, 4, 5}, 0, 40),
         {5},
         Sync::Changed},
        {"HIGHESTMODSEQ unchanged but UIDNEXT moved", box({1, 2, 4, 6}, 7, 40), {6}, Sync::Changed},
        {"a listing shorter than the count",
         box({1, 2, 4, 5}, 6, 41, "* ESEARCH (TAG \"x\") UID ALL 1:2,5\r\n"),
         {5},
         Sync::Full},
        {"a listing that does not read",
         box({1, 2, 4, 5}, 6, 41, "* ESEARCH (TAG \"x\") UID ALL 1:two,4:5\r\n"),
         {5},
         Sync::Full},
        {"two listings",
         box({1, 2, 4, 5}, 6, 41, "* ESEARCH UID ALL 1:2,4:5\r\n* ESEARCH UID ALL 1:2,4:5\r\n"),
         {5},
         Sync::Full},
        {"UIDs out of order",
         box({1, 2, 4, 5}, 6, 41, "* ESEARCH UID ALL 1,4,2,5\r\n"),
         {5},
         Sync::Full},
        {"a UID beyond UIDNEXT", box({1, 2, 4, 9}, 6, 41, ""), {9}, Sync::Full},
        {"a listing of message numbers, not UIDs",
         box({1, 2, 4, 5}, 6, 41, "* ESEARCH ALL 1:4\r\n"),
         {5},
         Sync::Full},
        {"the new message answered under another number",
         box({1, 2, 4, 5}, 6, 41, "", fetchLine(3, 5, true)),
         {5},
         Sync::Full},
        {"the new message not answered",
         box({1, 2, 4, 5}, 6, 41, "", "* 4 FETCH (FLAGS (\\Seen))\r\n"),
         {5},
         Sync::Full},
        {"the new message without its envelope",
         box({1, 2, 4, 5}, 6, 41, "", "* 4 FETCH (UID 5 RFC822.SIZE 105)\r\n"),
         {5},
         Sync::Full},
        {"a message answered that was not asked for",
         box({1, 2, 4, 5}, 6, 41, "", fetchLine(4, 5, true) + fetchLine(1, 1, true)),
         {5},
         Sync::Full},
        {"an expunge while the new ones are fetched",
         box({1, 2, 4, 5}, 6, 41, "", fetchLine(4, 5, true) + "* 1 EXPUNGE\r\n"),
         {5},
         Sync::Full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(session.path("imap.state"));
        serve(srv, before, {});
        EXPECT_EQ(check(true).sync, Sync::Full);
        ASSERT_TRUE(std::filesystem::exists(session.path("imap.state")));
        ASSERT_EQ(check(true).sync, Sync::Unchanged);

        serve(srv, c.after, c.newUids);
        const Outcome reference = check(false);
        const Outcome incremental = check(true);
        EXPECT_EQ(incremental.sync, c.expected);
        EXPECT_EQ(incremental.records, reference.records);
        EXPECT_EQ(incremental.records.size(), c.after.uids.size());
    }
}

TEST_F(IncrementalImap4, ACountThatDisagreesWithTheUnchangedModSeqIsNotTakenForNoChange) {
    // The server claims nothing changed (same HIGHESTMODSEQ and UIDNEXT) but reports another
    // count: the messages are listed again rather than trusted.
    serve(srv, box({1, 2, 3, 4}, 5, 40), {});
    check(true);
    serve(srv, box({1, 2, 3}, 5, 40), {});
    const Outcome o = check(true);
    EXPECT_EQ(o.sync, Sync::Changed);
    EXPECT_EQ(o.records.size(), 3u);
    EXPECT_EQ(o.records.count("<id-4@example.org>"), 0u);
}

} // namespace

namespace {

// Nothing changed by the first lines of the state, but its message lines are damaged: the
// pass that needs them fetches what it needs as without a state, and keeps a sound one again.
TEST_F(IncrementalImap4, DamagedMessageLinesFoundWhenThePassNeedsThem) {
    const Box b = box({1, 2, 3, 4}, 5, 40);
    serve(srv, b, {});
    const Outcome reference = check(false);
    check(true);
    const std::string path = session.path("imap.state");
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(std::filesystem::file_size(path) / 2));
        f.put('#');
    }
    // check() starts from an empty mail list, so the pass walks every message.
    const Outcome damaged = check(true);
    EXPECT_EQ(damaged.sync, Sync::Full);
    EXPECT_EQ(damaged.records, reference.records);
    const Outcome again = check(true);
    EXPECT_EQ(again.sync, Sync::Unchanged);
    EXPECT_EQ(again.records, reference.records);
}

} // namespace
