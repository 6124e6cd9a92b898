// SELECT sent right behind the log-in, against the scripted server: the two answers come in
// one round trip, a refused log-in fails with its own reason whatever the server says to the
// SELECT, and log-ins that may ask again keep the SELECT back until they are done.

#include "mailproto/Imap4Client.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::failureOf;
using test::ScriptedServer;
using After = ScriptedServer::After;

// base64 of "\0bob\0secret"
constexpr const char* kPlain = "AGJvYgBzZWNyZXQ=";

std::unique_ptr<Imap4Client> clientFor(const ScriptedServer& srv) {
    auto conn = std::make_unique<LineConnection>();
    conn->setReadTimeout(2s);
    conn->setConnectTimeout(2s);
    auto client = std::make_unique<Imap4Client>(std::move(conn));
    client->setHost(ScriptedServer::host());
    client->setPort(srv.port());
    client->setUser("bob");
    client->setPassword("secret");
    return client;
}

struct AheadCase {
    const char* name;
    std::string greeting;
    // The log-in's own line, and what the server answers to it alone (nothing when the
    // answer waits for the SELECT behind it).
    std::string login;
    std::string loginAnswer;
    // Answered to the SELECT; {TAG} is its tag.
    std::string selectAnswer;
    std::vector<std::string> extraRules; // regex, reply pairs flattened
    ErrorKind kind = ErrorKind::Other;   // Other: Connect and SelectMailbox succeed
    std::string error;
    std::vector<std::string> sent; // every line the server saw, in order
};

void PrintTo(const AheadCase& c, std::ostream* os) {
    *os << c.name;
}

class SelectAhead : public ::testing::TestWithParam<AheadCase> {};

TEST_P(SelectAhead, ComesWithTheLogInOnlyWhenTheLogInCannotAskAgain) {
    const AheadCase& c = GetParam();
    ScriptedServer srv;
    srv.setGreeting(c.greeting);
    srv.onRegex("^C\\d+ " + c.login + "$", c.loginAnswer, After::Continue, 1);
    srv.onRegex(R"(^C\d+ SELECT "INBOX")", c.selectAnswer);
    for (std::size_t k = 0; k + 1 < c.extraRules.size(); k += 2)
        srv.onRegex(c.extraRules[k], c.extraRules[k + 1]);
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);

    auto client = clientFor(srv);
    client->setSelectAhead("INBOX", true);
    const test::KindAndText failure = failureOf([&] {
        client->Connect();
        // As a check asks: CONDSTORE when announced.
        EXPECT_EQ(client->SelectMailbox("INBOX", client->Announced("CONDSTORE")).exists, 3);
        client->Disconnect();
    });
    EXPECT_EQ(failure.kind, c.kind) << failure.text;
    if (!c.error.empty()) {
        EXPECT_EQ(failure.text, c.error);
    }
    EXPECT_NE(client->state(), Imap4Client::State::Selected);
    EXPECT_FALSE(client->Connected());
    ASSERT_TRUE(srv.waitForClosed(1));
    std::vector<std::string> seen = srv.received();
    // The goodbye is not the subject here.
    if (!seen.empty() && seen.back().find(" LOGOUT") != std::string::npos)
        seen.pop_back();
    EXPECT_EQ(seen, c.sent);
}

const std::string kSelected = "* 3 EXISTS\r\n{TAG} OK [READ-WRITE] selected\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectAhead,
    ::testing::Values(
        // The server answers the LOGIN only once the SELECT is there: a client that waited
        // for the log-in's answer first would wait for ever.
        AheadCase{"LoginThenSelectInOneTurn",
                  "* OK [CAPABILITY IMAP4rev1] ready\r\n",
                  "LOGIN bob secret",
                  "",
                  "C1 OK logged in\r\n" + kSelected,
                  {},
                  ErrorKind::Other,
                  "",
                  {"C1 LOGIN bob secret", "C2 SELECT \"INBOX\""}},
        AheadCase{"PlainWithInitialResponseThenSelect",
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
                  std::string("AUTHENTICATE PLAIN ") + kPlain,
                  "",
                  "C1 OK logged in\r\n" + kSelected,
                  {},
                  ErrorKind::Other,
                  "",
                  {std::string("C1 AUTHENTICATE PLAIN ") + kPlain, "C2 SELECT \"INBOX\""}},
        AheadCase{"CondstoreAnnouncedBeforeTheLogIn",
                  "* OK [CAPABILITY IMAP4rev1 CONDSTORE] ready\r\n",
                  "LOGIN bob secret",
                  "",
                  "C1 OK logged in\r\n" + kSelected,
                  {},
                  ErrorKind::Other,
                  "",
                  {"C1 LOGIN bob secret", "C2 SELECT \"INBOX\" (CONDSTORE)"}},
        // A refused log-in fails with the server's reason; the SELECT's OK behind it, from a
        // server that forgot it refused, is never read.
        AheadCase{"RefusedLoginWinsOverTheSelectsOk",
                  "* OK [CAPABILITY IMAP4rev1] ready\r\n",
                  "LOGIN bob secret",
                  "",
                  "C1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n" + kSelected,
                  {},
                  ErrorKind::LoginRejected,
                  "[AUTHENTICATIONFAILED] Invalid credentials",
                  {"C1 LOGIN bob secret", "C2 SELECT \"INBOX\""}},
        AheadCase{"RefusedPlainWinsOverTheSelectsOk",
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
                  std::string("AUTHENTICATE PLAIN ") + kPlain,
                  "",
                  "C1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n" + kSelected,
                  {},
                  ErrorKind::LoginRejected,
                  "[AUTHENTICATIONFAILED] Invalid credentials",
                  {std::string("C1 AUTHENTICATE PLAIN ") + kPlain, "C2 SELECT \"INBOX\""}},
        // The server asks for more after the initial response: it took the SELECT for our
        // answer, and nothing after that can be trusted.
        AheadCase{"PlainAskedAgainAfterTheSelectWentOut",
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
                  std::string("AUTHENTICATE PLAIN ") + kPlain,
                  "+ \r\n",
                  "C1 OK logged in\r\n" + kSelected,
                  {},
                  ErrorKind::ProtocolError,
                  "",
                  {std::string("C1 AUTHENTICATE PLAIN ") + kPlain, "C2 SELECT \"INBOX\""}},
        // Without the initial response PLAIN takes two turns: the SELECT waits for the end,
        // or the server would read it as the credentials.
        AheadCase{"PlainWithoutInitialResponseKeepsTheSelectBack",
                  "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n",
                  "AUTHENTICATE PLAIN",
                  "+ \r\n",
                  kSelected,
                  {"^" + std::string(kPlain) + "$", "C1 OK logged in\r\n"},
                  ErrorKind::Other,
                  "",
                  {"C1 AUTHENTICATE PLAIN", kPlain, "C2 SELECT \"INBOX\""}},
        // Without capabilities in the greeting they are asked for first; the SELECT still
        // rides with the LOGIN.
        AheadCase{"CapabilitiesAskedFirst",
                  "* OK ready\r\n",
                  "LOGIN bob secret",
                  "",
                  "C2 OK logged in\r\n" + kSelected,
                  {R"(^C1 CAPABILITY$)", "* CAPABILITY IMAP4rev1\r\nC1 OK\r\n"},
                  ErrorKind::Other,
                  "",
                  {"C1 CAPABILITY", "C2 LOGIN bob secret", "C3 SELECT \"INBOX\""}}),
    [](const ::testing::TestParamInfo<AheadCase>& i) { return std::string(i.param.name); });

// Any other command first reads the answer still due, so the replies stay in step; another
// mailbox is selected anew.
TEST(SelectAheadSettling, AnotherMailboxOrCommandReadsTheAnswerDueFirst) {
    ScriptedServer srv;
    srv.setGreeting("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    srv.onRegex(R"(^C1 LOGIN bob secret$)", "{TAG} OK\r\n");
    srv.onRegex(R"(^C2 SELECT "INBOX"$)", "* 3 EXISTS\r\n{TAG} OK [READ-WRITE]\r\n");
    srv.onRegex(R"(^C3 SELECT "Archive"$)", "* 7 EXISTS\r\n{TAG} OK [READ-ONLY]\r\n");
    srv.onRegex(R"(^C\d+ CAPABILITY$)", "* CAPABILITY IMAP4rev1 IDLE\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);

    auto client = clientFor(srv);
    client->setSelectAhead("INBOX", false);
    client->Connect();
    const ImapMailboxData& box = client->SelectMailbox("Archive");
    EXPECT_EQ(box.exists, 7);
    EXPECT_TRUE(box.readOnly);
    client->Disconnect();

    // A command other than SELECT right after the log-in.
    client->Connect();
    EXPECT_TRUE(client->HasCapability("IDLE"));
    EXPECT_EQ(client->state(), Imap4Client::State::Authenticated);
    client->Disconnect();
    const std::vector<std::string> seen = srv.received();
    ASSERT_EQ(seen.size(), 8u);
    EXPECT_EQ(seen[2], "C3 SELECT \"Archive\"");
    EXPECT_EQ(seen[6], "C3 CAPABILITY");
}

} // namespace
} // namespace tarn
