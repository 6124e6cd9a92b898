// The POP3 check with commands sent ahead (PIPELINING) against the scripted server: what the
// server receives, and that every misbehaviour ends the check as the one-at-a-time check ends
// it, with nothing wrong in the mail list.

#include "check/CheckPass.h"
#include "mailproto/Pop3MailboxClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::ErrorKind;
using tarn::Pop3MailboxClient;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;

namespace {

std::string header(int i) {
    return "From: Sender " + std::to_string(i) + " <s" + std::to_string(i) +
           "@example.org>\r\nSubject: Message " + std::to_string(i) + "\r\n";
}

std::string body(int i) {
    return "Body of message " + std::to_string(i) + ".\r\n";
}

std::size_t sizeOf(int i) {
    return header(i).size() + 2 + body(i).size();
}

// A mailbox of n messages on the scripted server. Rules for single commands given in
// overrides come first, so a test can make one answer go wrong.
struct Pop3Script {
    int n = 3;
    bool pipelining = true;
    std::size_t claimedSize = 0; // the size listing's size of every message; 0: the real one
    std::vector<ScriptedServer::Rule> overrides;

    void serve(ScriptedServer& srv) const {
        srv.clearRules();
        for (const ScriptedServer::Rule& r : overrides)
            srv.addRule(r);
        srv.setGreeting("+OK ready\r\n");
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK\r\n");
        std::string list = "+OK\r\n";
        std::string uidl = "+OK\r\n";
        std::size_t total = 0;
        for (int i = 1; i <= n; ++i) {
            const std::string k = std::to_string(i);
            const std::size_t size = claimedSize ? claimedSize : sizeOf(i);
            total += size;
            list += k + " " + std::to_string(size) + "\r\n";
            uidl += k + " uid-" + k + "\r\n";
            srv.on("LIST " + k, "+OK " + k + " " + std::to_string(size) + "\r\n");
            srv.on("TOP " + k + " 0", "+OK\r\n" + header(i) + "\r\n.\r\n");
            srv.on("RETR " + k, "+OK\r\n" + header(i) + "\r\n" + body(i) + ".\r\n");
            srv.on("DELE " + k, "+OK\r\n");
        }
        srv.on("STAT", "+OK " + std::to_string(n) + " " + std::to_string(total) + "\r\n");
        srv.on("LIST", list + ".\r\n");
        srv.on("UIDL", uidl + ".\r\n");
        srv.on("CAPA", pipelining ? "+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.\r\n"
                                  : "+OK\r\nTOP\r\nUIDL\r\n.\r\n");
        srv.on("QUIT", "+OK\r\n", After::Close);
    }
};

// What a check left behind, to compare one with another.
struct Outcome {
    bool failed = false;
    ErrorKind kind = ErrorKind::Other;
    std::map<std::string, std::string> records; // UID -> count, size, subject, sender, body
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    os << (o.failed ? "failed (" + std::string(tarn::errorKindName(o.kind)) + ")" : "ok");
    for (const auto& [uid, fields] : o.records)
        os << "\n  " << uid << ": " << fields;
    return os;
}

class PipelinedPop3 : public tarn::test::CheckSessionSupport {
protected:
    PipelinedPop3() : CheckSessionSupport("tarn-pipe") {
        tarn::AccountSettings acc;
        acc.Name = "Work";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
    }

    std::unique_ptr<Pop3MailboxClient> makeClient() {
        auto c = std::make_unique<tarn::LineConnection>();
        c->setReadTimeout(readTimeout);
        c->setConnectTimeout(5s);
        auto pop = std::make_unique<tarn::Pop3Client>(std::move(c));
        pop->setHost("127.0.0.1");
        pop->setPort(srv.port());
        pop->setUser("bob");
        pop->setPassword("secret");
        if (tls)
            pop->setSecurity(tarn::ConnectionSecurity::Tls);
        return std::make_unique<Pop3MailboxClient>(std::move(pop));
    }

    Outcome check(const Pop3Script& script) {
        // The last check's goodbye is not waited for by the client: let it arrive first.
        srv.waitForClosed(srv.connectionCount());
        script.serve(srv);
        srv.clearReceived();
        client = makeClient();
        CheckPass pass(session, host, *client, session.runtimeOf(1), 1, settings);
        pass.run();
        lastFailure = pass.failureText();
        Outcome o;
        o.failed = pass.failed();
        o.kind = pass.failureKind();
        session.db().walk(1, [&](const tarn::MailRecord& r) {
            o.records[r.UID.value_or("")] =
                std::to_string(r.Count.value_or(0)) + " " + std::to_string(r.Size.value_or(0)) +
                " " + r.Subject.value_or("-") + " | " + r.Sender.value_or("-") + " | " +
                (r.Body ? *r.Body : std::string("(no body)"));
            return true;
        });
        return o;
    }

    // The same script checked one command at a time and with PIPELINING, each from an empty
    // list; both outcomes.
    std::pair<Outcome, Outcome> bothWays(Pop3Script script) {
        script.pipelining = false;
        const Outcome sequential = check(script);
        sequentialCommands = srv.received();
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        script.pipelining = true;
        const Outcome pipelined = check(script);
        return {sequential, pipelined};
    }

    bool received(const std::string& line) const {
        const auto r = srv.received();
        return std::find(r.begin(), r.end(), line) != r.end();
    }

    ScriptedServer srv;
    std::unique_ptr<Pop3MailboxClient> client;
    CheckPassSettings settings = [] {
        CheckPassSettings s;
        s.accountName = "Work";
        s.deletePause = 0ms;
        return s;
    }();
    std::chrono::milliseconds readTimeout = 5s;
    bool tls = false;
    std::string lastFailure;
    std::vector<std::string> sequentialCommands;
};

TEST_F(PipelinedPop3, WithoutPipeliningEveryCommandWaitsForItsAnswerAndSizesComeFromTheListing) {
    for (const char* capa : {"+OK\r\nTOP\r\nUIDL\r\n.\r\n", "-ERR unknown command\r\n"}) {
        SCOPED_TRACE(capa);
        Pop3Script script;
        script.overrides = {{ScriptedServer::Match::Exact, "CAPA", capa}};
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        const Outcome o = check(script);
        EXPECT_FALSE(o.failed) << lastFailure;
        ASSERT_TRUE(srv.waitForLine("QUIT"));
        EXPECT_EQ(srv.received(), (std::vector<std::string>{
                                      "CAPA", "USER bob", "PASS secret", "STAT", "LIST", "UIDL",
                                      "CAPA", "TOP 1 0", "TOP 2 0", "TOP 3 0", "QUIT"}));
        EXPECT_EQ(client->pipelining(), false);
        EXPECT_EQ(o.records.at("uid-2"), "2 " + std::to_string(sizeOf(2)) +
                                             " Message 2 | Sender 2 <s2@example.org> | (no body)");
    }
}

TEST_F(PipelinedPop3, WithPipeliningEachHeaderIsFollowedByItsSizeAndTheResultIsTheSame) {
    const auto [sequential, pipelined] = bothWays(Pop3Script{});
    EXPECT_FALSE(pipelined.failed) << lastFailure;
    EXPECT_EQ(pipelined, sequential);
    ASSERT_TRUE(srv.waitForLine("QUIT"));
    EXPECT_EQ(srv.received(),
              (std::vector<std::string>{"CAPA", "USER bob", "PASS secret", "STAT", "LIST", "UIDL",
                                        "CAPA", "TOP 1 0", "LIST 1", "TOP 2 0", "LIST 2", "TOP 3 0",
                                        "LIST 3", "QUIT"}));
    EXPECT_EQ(client->pipelining(), true);
}

// A server that never answers the first header still receives the whole first window: that
// is what sending ahead means. The window ends at its bound.
TEST_F(PipelinedPop3, AWindowGoesOutBeforeTheFirstAnswerAndStopsAtItsBound) {
    readTimeout = 500ms;
    struct Case {
        const char* name;
        int n;
        bool allBodies;
        std::size_t claimedSize;
        std::size_t commandsAfterFirst; // what arrives although the first answer never comes
    };
    const Case cases[] = {
        // Headers: bounded by the commands in flight (a header and its size check each).
        {"headers", 300, false, 0, Pop3MailboxClient::kMaxCommandsInFlight - 1},
        // Whole messages of 10 MB each: one in flight at a time.
        {"large messages", 50, true, 10 * 1024 * 1024, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        settings.allBodies = c.allBodies;
        settings.maxDownloadBytes = 20LL * 1024 * 1024;
        Pop3Script script;
        script.n = c.n;
        script.claimedSize = c.claimedSize;
        script.overrides = {
            {ScriptedServer::Match::Exact, c.allBodies ? "RETR 1" : "TOP 1 0", "", After::Stall}};
        const Outcome o = check(script);
        EXPECT_TRUE(o.failed);
        EXPECT_EQ(o.kind, ErrorKind::TimedOut) << lastFailure;
        auto r = srv.received();
        // The goodbye after the time-out is no part of the window.
        r.erase(std::remove(r.begin(), r.end(), "QUIT"), r.end());
        const auto first = std::find(r.begin(), r.end(), c.allBodies ? "RETR 1" : "TOP 1 0");
        ASSERT_NE(first, r.end());
        EXPECT_EQ(static_cast<std::size_t>(r.end() - first - 1), c.commandsAfterFirst);
        // Nothing was stored from answers that never came.
        EXPECT_TRUE(o.records.empty() || c.allBodies);
        for (const auto& [uid, fields] : o.records) {
            EXPECT_EQ(fields.find("Body of"), std::string::npos) << uid;
        }
    }
}

TEST_F(PipelinedPop3, MisbehavingServersEndTheCheckAsTheySequentiallyWouldAndStoreNothingWrong) {
    readTimeout = 700ms;
    using M = ScriptedServer::Match;
    const std::string answer2 = "+OK\r\n" + header(2) + "\r\n.\r\n";
    const std::string answer3 = "+OK\r\n" + header(3) + "\r\n.\r\n";
    struct Case {
        const char* name;
        std::vector<ScriptedServer::Rule> overrides;
        // The same outcome in every detail; otherwise the answers can be seen to be out of step
        // with the commands, and the check fails where one command at a time would go on
        // reading each answer as the next command's (and store what it read there).
        bool sameKind;
    };
    const Case cases[] = {
        {"a refused header", {{M::Exact, "TOP 2 0", "-ERR no such message\r\n"}}, true},
        {"closes halfway through a header",
         {{M::Exact, "TOP 2 0", "+OK\r\nFrom: x@example.org\r\n", After::Close}},
         true},
        {"closes halfway through a window", {{M::Exact, "TOP 3 0", "+OK\r\n", After::Close}}, true},
        {"drops an answer", {{M::Exact, "TOP 2 0", ""}}, false},
        {"answers out of order",
         {{M::Exact, "TOP 1 0", ""},
          {M::Exact, "LIST 1", ""},
          {M::Exact, "TOP 2 0",
           answer2 + "+OK 2 10\r\n" + "+OK\r\n" + header(1) + "\r\n.\r\n" + "+OK 1 10\r\n"},
          {M::Exact, "LIST 2", ""}},
         false},
        {"a garbage status line",
         {{M::Exact, "TOP 2 0", "*** what?\r\n" + header(2) + "\r\n.\r\n"}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        session.db().PurgeAll();
        session.runtime()[1].LastMailboxTotal = 0;
        Pop3Script script;
        script.n = 4;
        script.overrides = c.overrides;
        auto [sequential, pipelined] = bothWays(script);
        SCOPED_TRACE(lastFailure);
        if (c.sameKind) {
            EXPECT_EQ(pipelined, sequential);
            continue;
        }
        EXPECT_TRUE(pipelined.failed);
        EXPECT_EQ(pipelined.kind, ErrorKind::ProtocolError);
        // Whatever was stored is what the one-at-a-time check stored.
        for (const auto& [uid, fields] : pipelined.records) {
            const auto it = sequential.records.find(uid);
            if (it != sequential.records.end()) {
                EXPECT_EQ(fields, it->second) << uid;
            } else {
                EXPECT_EQ(fields.find("Message"), std::string::npos) << uid << ": " << fields;
            }
            // A subject is never filed under another message's id.
            const std::string n = uid.substr(uid.find('-') + 1);
            const std::size_t at = fields.find("Message ");
            if (at != std::string::npos) {
                EXPECT_EQ(fields.substr(at + 8, n.size()), n) << uid;
            }
        }
        EXPECT_EQ(pipelined.records.count("uid-1"), sequential.records.count("uid-1"));
    }
}

TEST_F(PipelinedPop3, BodiesForAllMessagesComeThroughTheWindowAsTheyDoOneAtATime) {
    settings.allBodies = true;
    Pop3Script script;
    script.n = 5;
    const auto [sequential, pipelined] = bothWays(script);
    EXPECT_FALSE(pipelined.failed) << lastFailure;
    EXPECT_EQ(pipelined, sequential);
    EXPECT_NE(pipelined.records.at("uid-4").find("Body of message 4."), std::string::npos);
    EXPECT_TRUE(received("RETR 5"));
    EXPECT_TRUE(received("LIST 5"));
}

TEST_F(PipelinedPop3, WorksTheSameOverTls) {
    const auto& pki = tarn::test::TestPki::shared();
    srv.setTls(pki.good().certFile, pki.good().keyFile, ScriptedServer::TlsFrom::Accept);
    tls = true;
    Pop3Script script;
    script.n = 40;
    const auto [sequential, pipelined] = bothWays(script);
    EXPECT_FALSE(pipelined.failed) << lastFailure;
    EXPECT_EQ(pipelined, sequential);
    EXPECT_EQ(pipelined.records.size(), 40u);
    EXPECT_EQ(client->pipelining(), true);
}

} // namespace
