// The check pass run on the test's own thread, for POP3 and IMAP4 alike, through the one
// mailbox-client interface.

#include "check/CheckPass.h"
#include "mailproto/Imap4MailboxClient.h"
#include "mailproto/Pop3MailboxClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>

#include "fakes/CheckSessionSupport.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::CheckPass;
using tarn::CheckPassSettings;
using tarn::MailboxClient;
using tarn::test::ScriptedServer;
using tarn::test::StatusReport;
using After = ScriptedServer::After;

namespace {

std::unique_ptr<tarn::LineConnection> quickConnection() {
    auto c = std::make_unique<tarn::LineConnection>();
    c->setReadTimeout(5s);
    c->setConnectTimeout(5s);
    return c;
}

// Two messages, "Lunch" and "Report", the second to be deleted.
void servePop3(ScriptedServer& srv) {
    srv.setGreeting("+OK ready\r\n");
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK\r\n");
    srv.on("STAT", "+OK 2 300\r\n");
    srv.on("LIST", "+OK\r\n1 100\r\n2 200\r\n.\r\n");
    srv.on("UIDL", "+OK\r\n1 id-1\r\n2 id-2\r\n.\r\n");
    srv.on("CAPA", "-ERR\r\n"); // one command at a time
    srv.on("LIST 1", "+OK 1 100\r\n");
    srv.on("LIST 2", "+OK 2 200\r\n");
    srv.on("TOP 1 0", "+OK\r\nFrom: Alice <alice@example.org>\r\nSubject: Lunch\r\n\r\n.\r\n");
    srv.on("TOP 2 0", "+OK\r\nFrom: Bob <bob@example.org>\r\nSubject: Report\r\n\r\n.\r\n");
    srv.on("DELE 2", "+OK\r\n");
    srv.on("QUIT", "+OK\r\n", After::Close);
}

void serveImap4(ScriptedServer& srv) {
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^C\d+ LOGIN bob secret$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ SELECT "INBOX"$)", "* 2 EXISTS\r\n{TAG} OK [READ-WRITE]\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1:2 \(RFC822\.SIZE\)$)",
                "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE 200)\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1 \(ENVELOPE\)$)",
                "* 1 FETCH (ENVELOPE (NIL \"Lunch\" ((\"Alice\" NIL \"alice\" \"example.org\")) "
                "NIL NIL NIL NIL NIL NIL \"id-1\"))\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 2 \(ENVELOPE\)$)",
                "* 2 FETCH (ENVELOPE (NIL \"Report\" ((\"Bob\" NIL \"bob\" \"example.org\")) "
                "NIL NIL NIL NIL NIL NIL \"id-2\"))\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 1 \(RFC822\.SIZE\)$)",
                "* 1 FETCH (RFC822.SIZE 100)\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ FETCH 2 \(RFC822\.SIZE\)$)",
                "* 2 FETCH (RFC822.SIZE 200)\r\n{TAG} OK\r\n");
    // Batches refused: every message is asked for on its own.
    srv.onRegex(R"(^C\d+ FETCH \d+:\d+ \(RFC822\.SIZE ENVELOPE\)$)", "{TAG} NO not here\r\n");
    srv.onRegex(R"(^C\d+ STORE)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ EXPUNGE$)", "* 2 EXPUNGE\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
}

struct ProtocolCase {
    const char* name;
    std::function<void(ScriptedServer&)> serve;
    std::function<std::unique_ptr<MailboxClient>(int port)> client;
    // What the server received for the deletion of message 2.
    std::vector<std::string> deletion;
};

std::unique_ptr<MailboxClient> pop3Client(int port) {
    auto pop = std::make_unique<tarn::Pop3Client>(quickConnection());
    pop->setHost("127.0.0.1");
    pop->setPort(port);
    pop->setUser("bob");
    pop->setPassword("secret");
    return std::make_unique<tarn::Pop3MailboxClient>(std::move(pop));
}

std::unique_ptr<MailboxClient> imap4Client(int port) {
    auto imap = std::make_unique<tarn::Imap4Client>(quickConnection());
    imap->setHost("127.0.0.1");
    imap->setPort(port);
    imap->setUser("bob");
    imap->setPassword("secret");
    return std::make_unique<tarn::Imap4MailboxClient>(std::move(imap), "INBOX");
}

class SynchronousPass : public tarn::test::CheckSessionSupport,
                        public ::testing::WithParamInterface<ProtocolCase> {
protected:
    SynchronousPass() : CheckSessionSupport("tarn-pass") {}
    void SetUp() override {
        tarn::AccountSettings acc;
        acc.Name = "Work";
        session.settings().Accounts = {acc};
        session.syncWithSettings();
        GetParam().serve(srv);
    }
    // One pass with a fresh client, as one check makes it.
    std::unique_ptr<CheckPass> pass() {
        client = GetParam().client(srv.port());
        CheckPassSettings settings;
        settings.accountName = "Work";
        settings.deletePause = 0ms;
        auto p =
            std::make_unique<CheckPass>(session, host, *client, session.runtimeOf(1), 1, settings);
        p->run();
        return p;
    }
    std::vector<std::string> commandsAfterTag() const {
        std::vector<std::string> out;
        for (const std::string& l : srv.received()) {
            const bool tagged =
                l.size() > 1 && l[0] == 'C' && std::isdigit(static_cast<unsigned char>(l[1]));
            out.push_back(tagged ? l.substr(l.find(' ') + 1) : l);
        }
        return out;
    }

    ScriptedServer srv;
    std::unique_ptr<MailboxClient> client;
};

TEST_P(SynchronousPass, StoresTheMailboxThenDeletesWhatIsMarkedAndSkipsAnUnchangedTotal) {
    auto first = pass();
    EXPECT_FALSE(first->failed()) << first->failureText();
    EXPECT_EQ(first->newCount(), 2);
    tarn::MailListDB& db = session.db();
    for (const auto& [uid, subject, size] :
         {std::tuple{"id-1", "Lunch", 100}, std::tuple{"id-2", "Report", 200}}) {
        SCOPED_TRACE(uid);
        const auto rec = db.FindMessage(uid, 1);
        ASSERT_TRUE(rec);
        EXPECT_EQ(rec->Subject, subject);
        EXPECT_EQ(rec->Size, size);
        EXPECT_NE(rec->Sender.value_or("").find("example.org"), std::string::npos);
    }
    EXPECT_EQ(session.runtime()[1].LastMailboxTotal, 300);
    const auto reports = host.reportsOf(1);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front(), (StatusReport{1, 0, "Contacting"}));
    EXPECT_EQ(reports.back(), (StatusReport{1, 3, "0"}));
    EXPECT_NE(std::find(reports.begin(), reports.end(), StatusReport{1, 1, "2 Messages detected"}),
              reports.end());

    // Second check: the total is the same, so no message is looked at; the marked one goes.
    db.ClearNewFlags(1);
    auto marked = *db.FindMessage("id-2", 1);
    marked.Delete = true;
    db.UpdateMessage(marked);
    srv.clearReceived();
    auto second = pass();
    EXPECT_FALSE(second->failed()) << second->failureText();
    EXPECT_TRUE(second->unchanged());
    EXPECT_EQ(second->deletedCount(), 1);
    EXPECT_FALSE(db.FindMessage("id-2", 1));
    EXPECT_TRUE(db.FindMessage("id-1", 1));
    // The goodbye is not waited for by the client; give the server a moment to record it.
    for (int k = 0; k < 500; ++k) {
        const auto now = commandsAfterTag();
        if (std::find(now.begin(), now.end(), GetParam().deletion.back()) != now.end())
            break;
        std::this_thread::sleep_for(10ms);
    }
    const std::vector<std::string> sent = commandsAfterTag();
    for (const std::string& expected : GetParam().deletion)
        EXPECT_NE(std::find(sent.begin(), sent.end(), expected), sent.end()) << expected;
    EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                            [](const std::string& c) {
                                return c.find("ENVELOPE") != std::string::npos ||
                                       c.rfind("TOP", 0) == 0 || c == "UIDL";
                            }),
              0);
}

TEST_P(SynchronousPass, ServerThatGoesSilentFailsThePassWithATimeOut) {
    srv.clearRules();
    srv.setGreeting("", After::Stall);
    auto c = GetParam().client(srv.port());
    c->lineConnection().setReadTimeout(300ms);
    CheckPassSettings settings;
    CheckPass p(session, host, *c, session.runtimeOf(1), 1, settings);
    p.run();
    EXPECT_TRUE(p.failed());
    EXPECT_EQ(p.failureKind(), tarn::ErrorKind::TimedOut);
    EXPECT_EQ(p.failureText(), "Read timed out after 300 ms.");
}

INSTANTIATE_TEST_SUITE_P(
    Protocols, SynchronousPass,
    ::testing::Values(ProtocolCase{"Pop3", servePop3, pop3Client, {"DELE 2", "QUIT"}},
                      ProtocolCase{"Imap4",
                                   serveImap4,
                                   imap4Client,
                                   {"STORE 2 +FLAGS.SILENT (\\Seen)",
                                    "STORE 2 +FLAGS.SILENT (\\Deleted)", "EXPUNGE", "LOGOUT"}}),
    [](const ::testing::TestParamInfo<ProtocolCase>& i) { return i.param.name; });

} // namespace
