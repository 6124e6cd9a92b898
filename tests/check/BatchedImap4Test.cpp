// The IMAP4 check with envelopes and sizes fetched over ranges, against the scripted server:
// responses matched by number whatever else the server sends in between, and every answer the
// batch does not give cleanly asked for on its own, so the outcome is the one-at-a-time one.

#include "check/CheckPass.h"
#include "mailproto/Imap4MailboxClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::ErrorKind;
using tarn::Imap4MailboxClient;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;

namespace {

std::string envelope(int i, const std::string& subject = {}) {
    const std::string k = std::to_string(i);
    return "(\"Tue, 5 Mar 2024 10:0" + std::to_string(i % 10) + ":00 +0000\" \"" +
           (subject.empty() ? "Message " + k : subject) + "\" ((\"Sender " + k + "\" NIL \"s" + k +
           "\" \"example.org\")) NIL NIL NIL NIL NIL NIL \"<id-" + k + "@example.org>\")";
}

std::string batchLine(int i, const std::string& subject = {}) {
    return "* " + std::to_string(i) + " FETCH (RFC822.SIZE " + std::to_string(100 + i) +
           " ENVELOPE " + envelope(i, subject) + ")\r\n";
}

// A mailbox of n messages: per-message answers always; the batch answer as given (empty: the
// right one).
void serve(ScriptedServer& srv, int n, const std::string& batchAnswer,
           const std::string& batchStatus = "OK done", After batchAfter = After::Continue) {
    srv.clearRules();
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ SELECT "INBOX"$)",
                "* " + std::to_string(n) + " EXISTS\r\n{TAG} OK [READ-WRITE]\r\n");
    std::string sizes;
    std::string batch;
    for (int i = 1; i <= n; ++i) {
        const std::string k = std::to_string(i);
        sizes += "* " + k + " FETCH (RFC822.SIZE " + std::to_string(100 + i) + ")\r\n";
        batch += batchLine(i);
        srv.onRegex("^C\\d+ FETCH " + k + " \\(ENVELOPE\\)$",
                    "* " + k + " FETCH (ENVELOPE " + envelope(i) + ")\r\n{TAG} OK\r\n");
        srv.onRegex("^C\\d+ FETCH " + k + " \\(RFC822\\.SIZE\\)$",
                    "* " + k + " FETCH (RFC822.SIZE " + std::to_string(100 + i) +
                        ")\r\n{TAG} OK\r\n");
    }
    srv.onRegex("^C\\d+ FETCH 1:" + std::to_string(n) + " \\(RFC822\\.SIZE\\)$",
                sizes + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1:\d+ \(RFC822\.SIZE ENVELOPE\)$)",
                (batchAnswer.empty() ? batch : batchAnswer) +
                    (batchStatus.empty() ? "" : "{TAG} " + batchStatus + "\r\n"),
                batchAfter);
    srv.onRegex(R"(^C\d+ FETCH \d+:\d+ \(RFC822\.SIZE ENVELOPE\)$)", batch + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ EXPUNGE$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
}

struct Outcome {
    bool failed = false;
    ErrorKind kind = ErrorKind::Other;
    std::map<std::string, std::string> records;
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << (o.failed ? "failed (" + std::string(tarn::errorKindName(o.kind)) + ")" : "ok");
    for (const auto& [uid, fields] : o.records)
        os << "\n  " << uid << ": " << fields;
    return os;
}

class BatchedImap4 : public tarn::test::CheckSessionSupport {
protected:
    BatchedImap4() : CheckSessionSupport("tarn-batch") {
        tarn::AccountSettings acc;
        acc.Name = "Work";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
    }

    Outcome check(bool batching) {
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        srv.clearReceived();
        auto c = std::make_unique<tarn::LineConnection>();
        c->setReadTimeout(3s);
        auto imap = std::make_unique<tarn::Imap4Client>(std::move(c));
        imap->setHost("127.0.0.1");
        imap->setPort(srv.port());
        imap->setUser("bob");
        imap->setPassword("secret");
        Imap4MailboxClient client(std::move(imap), "INBOX");
        client.setBatchingAllowed(batching);
        CheckPassSettings settings;
        settings.accountName = "Work";
        settings.deletePause = 0ms;
        CheckPass pass(session, host, client, session.runtimeOf(1), 1, settings);
        pass.run();
        lastFailure = pass.failureText();
        Outcome o;
        o.failed = pass.failed();
        o.kind = pass.failureKind();
        session.db().walk(1, [&](const tarn::MailRecord& r) {
            o.records[r.UID.value_or("")] =
                std::to_string(r.Count.value_or(0)) + " " + std::to_string(r.Size.value_or(0)) +
                " " + r.Subject.value_or("-") + " | " + r.Sender.value_or("-") + " | " +
                std::to_string(r.Date.value_or(0));
            return true;
        });
        return o;
    }

    // Commands received without their tags.
    std::vector<std::string> commands() const {
        std::vector<std::string> out;
        for (const std::string& l : srv.received())
            out.push_back(l.substr(l.find(' ') + 1));
        return out;
    }
    std::vector<std::string> singleFetches() const {
        std::vector<std::string> out;
        for (const std::string& c : commands())
            if (c.rfind("FETCH ", 0) == 0 && c.find(':') == std::string::npos)
                out.push_back(c);
        return out;
    }

    ScriptedServer srv;
    std::string lastFailure;
};

TEST_F(BatchedImap4, EnvelopesAndSizesComeInBatchesOfAtMostFiveHundred) {
    serve(srv, 520, "");
    const Outcome sequential = check(false);
    EXPECT_EQ(singleFetches().size(), 520u * 2);
    const Outcome batched = check(true);
    EXPECT_FALSE(batched.failed) << lastFailure;
    EXPECT_EQ(batched.records.size(), 520u);
    EXPECT_EQ(batched, sequential);
    ASSERT_TRUE(srv.waitForLine(srv.received().back()));
    EXPECT_EQ(commands(), (std::vector<std::string>{
                              "CAPABILITY", "LOGIN bob secret", "SELECT \"INBOX\"",
                              "FETCH 1:520 (RFC822.SIZE)", "FETCH 1:500 (RFC822.SIZE ENVELOPE)",
                              "FETCH 501:520 (RFC822.SIZE ENVELOPE)", "EXPUNGE", "LOGOUT"}));
}

TEST_F(BatchedImap4, WhatABatchDoesNotAnswerCleanlyIsAskedOnItsOwnWithTheSameOutcome) {
    struct Case {
        const char* name;
        std::string batch;
        std::vector<std::string> askedAlone;
    };
    const Case cases[] = {
        {"in another order", batchLine(4) + batchLine(2) + batchLine(3) + batchLine(1), {}},
        {"numbers it was not asked about",
         batchLine(1) + batchLine(9) + batchLine(2) + "* 0 FETCH (RFC822.SIZE 1)\r\n" +
             batchLine(3) + batchLine(4),
         {}},
        {"untagged responses in between",
         batchLine(1) + "* 5 EXISTS\r\n* 1 RECENT\r\n* FLAGS (\\Seen \\Deleted)\r\n" +
             "* 2 FETCH (FLAGS (\\Seen))\r\n" + batchLine(2) + "* OK still here\r\n" +
             batchLine(3) + batchLine(4),
         {}},
        {"a repeated number",
         batchLine(1) + batchLine(2) + batchLine(2, "Other") + batchLine(3) + batchLine(4),
         {"FETCH 2 (ENVELOPE)", "FETCH 2 (RFC822.SIZE)"}},
        {"a missing number",
         batchLine(1) + batchLine(2) + batchLine(4),
         {"FETCH 3 (ENVELOPE)", "FETCH 3 (RFC822.SIZE)"}},
        {"an envelope that cannot be read",
         batchLine(1) + "* 2 FETCH (RFC822.SIZE 102 ENVELOPE (NIL \"x\"))\r\n" + batchLine(3) +
             batchLine(4),
         {"FETCH 2 (ENVELOPE)"}},
        {"a size that is no number",
         batchLine(1) + "* 2 FETCH (RFC822.SIZE big ENVELOPE " + envelope(2) + ")\r\n" +
             batchLine(3) + batchLine(4),
         {"FETCH 2 (RFC822.SIZE)"}},
        {"an expunge in the middle",
         batchLine(1) + batchLine(2) + "* 2 EXPUNGE\r\n" + batchLine(2, "Message 3") +
             batchLine(3, "Message 4"),
         {"FETCH 2 (ENVELOPE)", "FETCH 2 (RFC822.SIZE)", "FETCH 3 (ENVELOPE)",
          "FETCH 3 (RFC822.SIZE)", "FETCH 4 (ENVELOPE)", "FETCH 4 (RFC822.SIZE)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        serve(srv, 4, c.batch);
        const Outcome sequential = check(false);
        const Outcome batched = check(true);
        EXPECT_FALSE(batched.failed) << lastFailure;
        EXPECT_EQ(batched, sequential);
        EXPECT_EQ(singleFetches(), c.askedAlone);
    }
}

TEST_F(BatchedImap4, ARefusedBatchFallsBackAndALostConnectionFailsTheCheck) {
    serve(srv, 3, "", "NO [SERVERBUG] try later");
    const Outcome sequential = check(false);
    const Outcome refused = check(true);
    EXPECT_FALSE(refused.failed) << lastFailure;
    EXPECT_EQ(refused, sequential);
    EXPECT_EQ(singleFetches().size(), 6u);

    serve(srv, 3, batchLine(1) + "* 2 FETCH (RFC822.SIZE 102 ENV", "", After::Close);
    const Outcome lost = check(true);
    EXPECT_TRUE(lost.failed);
    EXPECT_EQ(lost.kind, ErrorKind::ConnectionClosed) << lastFailure;
    EXPECT_TRUE(lost.records.empty()) << lost;
}

// The SELECT goes out behind the log-in. A server that refuses the log-in and then answers the
// SELECT (and everything after) as if all were well fails the check with the log-in's reason,
// and nothing of that mailbox is taken.
TEST_F(BatchedImap4, ARefusedLogInFailsTheCheckWhateverFollowsIt) {
    srv.clearRules();
    srv.setGreeting("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    // The log-in's answer comes only with the SELECT's, as from a server reading ahead.
    srv.onRegex(R"(^C1 LOGIN bob secret$)", "");
    srv.onRegex(R"(^C2 SELECT "INBOX"$)", "C1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n"
                                          "* 3 EXISTS\r\nC2 OK [READ-WRITE]\r\n");
    std::string batch;
    for (int i = 1; i <= 3; ++i)
        batch += batchLine(i);
    srv.onRegex(R"(^C\d+ FETCH )", batch + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    const Outcome o = check(true);
    EXPECT_TRUE(o.failed);
    EXPECT_EQ(o.kind, ErrorKind::LoginRejected);
    EXPECT_EQ(lastFailure, "[AUTHENTICATIONFAILED] Invalid credentials");
    EXPECT_TRUE(o.records.empty()) << o;
    for (const std::string& c : commands())
        EXPECT_EQ(c.find("FETCH"), std::string::npos) << c;
}

} // namespace

namespace {

class BatchesInFlight : public BatchedImap4 {};

// The server withholds its answers until it has seen a later command: a client that waited for
// each batch's answer before sending the next would wait for ever (here: its read time-out).
TEST_F(BatchesInFlight, EnvelopeBatchesGoOutBeforeTheEarlierOnesAreAnswered) {
    constexpr int n = 1200;
    std::string first, second, third;
    for (int i = 1; i <= n; ++i)
        (i <= 500 ? first : i <= 1000 ? second : third) += batchLine(i);
    std::string sizes;
    for (int i = 1; i <= n; ++i)
        sizes +=
            "* " + std::to_string(i) + " FETCH (RFC822.SIZE " + std::to_string(100 + i) + ")\r\n";
    srv.clearRules();
    // Capabilities in the greeting: the log-in asks for none, so the tags below hold.
    srv.setGreeting("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    srv.onRegex(R"(^C1 LOGIN bob secret$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C2 SELECT "INBOX"$)", "* 1200 EXISTS\r\n{TAG} OK [READ-WRITE]\r\n");
    srv.onRegex(R"(^C3 FETCH 1:1200 \(RFC822\.SIZE\)$)", sizes + "{TAG} OK\r\n");
    // C4..C6 ask for the batches; C4's and C5's answers come only once C6 is there.
    srv.onRegex(R"(^C4 FETCH 1:500 \(RFC822\.SIZE ENVELOPE\)$)", "");
    srv.onRegex(R"(^C5 FETCH 501:1000 \(RFC822\.SIZE ENVELOPE\)$)", "");
    srv.onRegex(R"(^C6 FETCH 1001:1200 \(RFC822\.SIZE ENVELOPE\)$)",
                first + "C4 OK\r\n" + second + "C5 OK\r\n" + third + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ EXPUNGE$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    const Outcome held = check(true);
    EXPECT_FALSE(held.failed) << lastFailure;
    EXPECT_EQ(held.records.size(), static_cast<std::size_t>(n));
    // The same as from a server that answers each batch at once.
    serve(srv, n, "");
    EXPECT_EQ(held, check(true));
}

// Batches in flight are bounded: to a server that answers no batch at all, the client sends
// what the window allows and then waits, and the check ends with its time-out instead of
// piling up commands.
TEST_F(BatchesInFlight, NoMoreThanTheWindowGoesOutUnanswered) {
    constexpr int n = 15000;
    srv.clearRules();
    // Capabilities in the greeting: the log-in asks for none, so the tags below hold.
    srv.setGreeting("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ SELECT "INBOX"$)", "* 15000 EXISTS\r\n{TAG} OK [READ-WRITE]\r\n");
    std::string sizes;
    for (int i = 1; i <= n; ++i)
        sizes += "* " + std::to_string(i) + " FETCH (RFC822.SIZE 100)\r\n";
    srv.onRegex(R"(^C3 FETCH 1:15000 \(RFC822\.SIZE\)$)", sizes + "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    const Outcome o = check(true);
    EXPECT_TRUE(o.failed);
    std::size_t batches = 0;
    for (const std::string& c : commands())
        batches += c.find("ENVELOPE") != std::string::npos;
    EXPECT_GE(batches, 2u);
    EXPECT_LE(batches * Imap4MailboxClient::kBatchSize *
                  Imap4MailboxClient::kFirstGuessBytesPerMessage,
              Imap4MailboxClient::kMaxAnswerBytesInFlight);
}

} // namespace
