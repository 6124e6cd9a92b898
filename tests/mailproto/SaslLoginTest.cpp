#include "mailproto/Imap4Client.h"
#include "mailproto/Pop3Client.h"
#include "mailproto/Sasl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::errorOf;
using test::ScriptedServer;
using Match = ScriptedServer::Match;

// base64 of "\0bob\0secret", "bob", "secret", and the XOAUTH2 message for bob and "tok123".
constexpr const char* kPlain = "AGJvYgBzZWNyZXQ=";
constexpr const char* kBob = "Ym9i";
constexpr const char* kSecret = "c2VjcmV0";
constexpr const char* kXOAuth2 = "dXNlcj1ib2IBYXV0aD1CZWFyZXIgdG9rMTIzAQE=";
// {"status":"401","schemes":"bearer","scope":"https://mail.google.com/"}
constexpr const char* kError401 = "eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJodHRw"
                                  "czovL21haWwuZ29vZ2xlLmNvbS8ifQ==";
// {"status":"invalid_token","scope":"mail"}
constexpr const char* kErrorInvalid = "eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIiwic2NvcGUiOiJtYWlsIn0=";

struct Rule {
    Match match;
    std::string pattern;
    std::string reply;
};

struct LoginCase {
    const char* name;
    bool imap;
    bool token; // sign in with the access token "tok123", else password "secret"
    std::string greeting;
    std::vector<Rule> rules;
    std::string error;             // empty: the log-in succeeds
    std::vector<std::string> sent; // the lines the server saw up to the log-in's end
    bool tokenRefused = false;
};

void PrintTo(const LoginCase& c, std::ostream* os) {
    *os << c.name;
}

std::string s(const char* text) {
    return text;
}

class SaslLogin : public ::testing::TestWithParam<LoginCase> {};

// Which command proves who we are, what it carries, and why a refusal fails.
TEST_P(SaslLogin, ChoosesTheMechanismAndReportsTheReason) {
    const LoginCase& c = GetParam();
    ScriptedServer srv;
    srv.setGreeting(c.greeting);
    for (const Rule& r : c.rules)
        srv.addRule({r.match, r.pattern, r.reply});
    // Goodbyes are answered so that nothing waits on them; they are not part of the log-in.
    srv.onRegex(R"(^\S+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n");
    srv.on("QUIT", "+OK bye\r\n");

    auto conn = std::make_unique<LineConnection>();
    conn->setReadTimeout(3s);
    conn->setConnectTimeout(3s);
    std::function<void()> connect;
    std::function<bool()> refused;
    if (c.imap) {
        auto client = std::make_shared<Imap4Client>(std::move(conn));
        client->setHost(ScriptedServer::host());
        client->setPort(srv.port());
        client->setUser("bob");
        if (c.token)
            client->setAccessToken("tok123");
        else
            client->setPassword("secret");
        connect = [client] { client->Connect(); };
        refused = [client] { return client->accessTokenRefused(); };
    } else {
        auto client = std::make_shared<Pop3Client>(std::move(conn));
        client->setHost(ScriptedServer::host());
        client->setPort(srv.port());
        client->setUser("bob");
        if (c.token)
            client->setAccessToken("tok123");
        else
            client->setPassword("secret");
        connect = [client] { client->Connect(); };
        refused = [client] { return client->accessTokenRefused(); };
    }
    EXPECT_EQ(errorOf(connect), c.error.empty() ? "<no error>" : c.error);
    EXPECT_EQ(refused(), c.tokenRefused);
    std::vector<std::string> seen = srv.received();
    // What follows the log-in (the goodbye of a failed one) is not part of the case.
    while (!seen.empty() && (seen.back() == "QUIT" || seen.back().ends_with(" LOGOUT")))
        seen.pop_back();
    // "<any>" stands for a line that carries the test server's port.
    ASSERT_EQ(seen.size(), c.sent.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        if (c.sent[i] != "<any>") {
            EXPECT_EQ(seen[i], c.sent[i]) << "line " << i;
        }
    }
}

const std::string kImapGreeting = "* OK ready\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, SaslLogin,
    ::testing::Values(
        LoginCase{"ImapPlainWithInitialResponse",
                  true,
                  false,
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=LOGIN] ready\r\n",
                  {{Match::Regex, R"(^C1 AUTHENTICATE PLAIN )", "{TAG} OK in\r\n"}},
                  "",
                  {s("C1 AUTHENTICATE PLAIN ") + kPlain}},
        LoginCase{"ImapPlainAnswersTheEmptyChallenge",
                  true,
                  false,
                  kImapGreeting,
                  {{Match::Regex, R"(^\S+ CAPABILITY$)",
                    "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n{TAG} OK\r\n"},
                   {Match::Exact, "C2 AUTHENTICATE PLAIN", "+ \r\n"},
                   {Match::Exact, kPlain, "C2 OK in\r\n"}},
                  "",
                  {"C1 CAPABILITY", "C2 AUTHENTICATE PLAIN", kPlain}},
        LoginCase{"ImapLoginMechanismAnswersBothPrompts",
                  true,
                  false,
                  "* OK [CAPABILITY IMAP4rev1 AUTH=LOGIN] ready\r\n",
                  {{Match::Exact, "C1 AUTHENTICATE LOGIN", "+ VXNlcm5hbWU6\r\n"},
                   {Match::Exact, kBob, "+ UGFzc3dvcmQ6\r\n"},
                   {Match::Exact, kSecret, "C1 OK in\r\n"}},
                  "",
                  {"C1 AUTHENTICATE LOGIN", kBob, kSecret}},
        LoginCase{"ImapLoginCommandWhenNothingElseIsOffered",
                  true,
                  false,
                  "* OK [CAPABILITY IMAP4rev1 AUTH=CRAM-MD5] ready\r\n",
                  {{Match::Exact, "C1 LOGIN bob secret", "C1 OK in\r\n"}},
                  "",
                  {"C1 LOGIN bob secret"}},
        LoginCase{"ImapLoginDisabledSendsNoPassword",
                  true,
                  false,
                  kImapGreeting,
                  {{Match::Regex, R"(^\S+ CAPABILITY$)",
                    "* CAPABILITY IMAP4rev1 STARTTLS LOGINDISABLED AUTH=PLAIN\r\n{TAG} OK\r\n"}},
                  kLoginDisabledReason,
                  {"C1 CAPABILITY"}},
        LoginCase{"ImapLoginDisabledKeepsTheTokenToo",
                  true,
                  true,
                  "* OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=XOAUTH2] ready\r\n",
                  {},
                  kLoginDisabledReason,
                  {}},
        LoginCase{"ImapXOAuth2",
                  true,
                  true,
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=XOAUTH2] ready\r\n",
                  {{Match::Prefix, "C1 AUTHENTICATE XOAUTH2 ", "C1 OK in\r\n"}},
                  "",
                  {s("C1 AUTHENTICATE XOAUTH2 ") + kXOAuth2}},
        LoginCase{"ImapXOAuth2ErrorIsFinishedAndItsStatusIsTheReason",
                  true,
                  true,
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\r\n",
                  {{Match::Prefix, "C1 AUTHENTICATE XOAUTH2 ", s("+ ") + kError401 + "\r\n"},
                   {Match::Exact, "", "C1 NO [AUTHENTICATIONFAILED] Invalid credentials\r\n"}},
                  "The server refused the access token (status 401).",
                  {s("C1 AUTHENTICATE XOAUTH2 ") + kXOAuth2, ""},
                  true},
        LoginCase{"ImapTokenWithoutAnOAuthMechanism",
                  true,
                  true,
                  "* OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\r\n",
                  {},
                  kNoOAuthMechanism,
                  {}},
        LoginCase{"ImapRefusedPlainCarriesTheServerText",
                  true,
                  false,
                  "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\r\n",
                  {{Match::Prefix, "C1 AUTHENTICATE PLAIN", "C1 NO Authentication failed.\r\n"}},
                  "Authentication failed.",
                  {s("C1 AUTHENTICATE PLAIN ") + kPlain}},
        LoginCase{"ImapChallengeThatIsNotBase64IsCancelled",
                  true,
                  false,
                  "* OK [CAPABILITY IMAP4rev1 AUTH=LOGIN] ready\r\n",
                  {{Match::Exact, "C1 AUTHENTICATE LOGIN", "+ not base64!\r\n"},
                   {Match::Exact, "*", "C1 BAD cancelled\r\n"}},
                  "cancelled",
                  {"C1 AUTHENTICATE LOGIN", "*"}},
        LoginCase{"Pop3PlainChosenOverUserPass",
                  false,
                  false,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nUSER\r\nSASL PLAIN LOGIN\r\n.\r\n"},
                   {Match::Prefix, "AUTH PLAIN ", "+OK in\r\n"}},
                  "",
                  {"CAPA", s("AUTH PLAIN ") + kPlain}},
        LoginCase{"Pop3LoginMechanism",
                  false,
                  false,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nSASL LOGIN\r\n.\r\n"},
                   {Match::Exact, "AUTH LOGIN", "+ VXNlcm5hbWU6\r\n"},
                   {Match::Exact, kBob, "+ UGFzc3dvcmQ6\r\n"},
                   {Match::Exact, kSecret, "+OK in\r\n"}},
                  "",
                  {"CAPA", "AUTH LOGIN", kBob, kSecret}},
        LoginCase{"Pop3UserPassWithoutSasl",
                  false,
                  false,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nUSER\r\n.\r\n"},
                   {Match::Exact, "USER bob", "+OK\r\n"},
                   {Match::Exact, "PASS secret", "+OK\r\n"}},
                  "",
                  {"CAPA", "USER bob", "PASS secret"}},
        LoginCase{"Pop3XOAuth2",
                  false,
                  true,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nSASL PLAIN XOAUTH2\r\n.\r\n"},
                   {Match::Prefix, "AUTH XOAUTH2 ", "+OK in\r\n"}},
                  "",
                  {"CAPA", s("AUTH XOAUTH2 ") + kXOAuth2}},
        LoginCase{"Pop3OAuthBearerErrorEndsWithControlA",
                  false,
                  true,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nSASL OAUTHBEARER XOAUTH2\r\n.\r\n"},
                   {Match::Prefix, "AUTH OAUTHBEARER ", s("+ ") + kErrorInvalid + "\r\n"},
                   {Match::Exact, "AQ==", "-ERR [AUTH] Authentication failed\r\n"}},
                  "The server refused the access token (status invalid_token).",
                  {"CAPA", "<any>", "AQ=="},
                  true},
        LoginCase{"Pop3SaslAnnouncedButEveryMechanismRejected",
                  false,
                  false,
                  "+OK ready\r\n",
                  {{Match::Exact, "CAPA", "+OK\r\nSASL PLAIN LOGIN\r\n.\r\n"},
                   {Match::Prefix, "AUTH ", "-ERR Unsupported mechanism\r\n"}},
                  "Unsupported mechanism",
                  {"CAPA", s("AUTH PLAIN ") + kPlain}}),
    [](const auto& info) { return std::string(info.param.name); });

// The OAUTHBEARER message names the user, the host and the port (RFC 7628); its transcript
// is checked apart because the port is the test server's.
TEST(SaslLoginBearer, OAuthBearerCarriesHostPortAndToken) {
    ScriptedServer srv;
    srv.setGreeting("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready\r\n");
    srv.onPrefix("C1 AUTHENTICATE OAUTHBEARER ", "C1 OK in\r\n");
    auto conn = std::make_unique<LineConnection>();
    conn->setReadTimeout(3s);
    Imap4Client client(std::move(conn));
    client.setHost(ScriptedServer::host());
    client.setPort(srv.port());
    client.setUser("bob,x");
    client.setAccessToken("tok123");
    client.Connect();
    const std::vector<std::string> seen = srv.received();
    ASSERT_EQ(seen.size(), 1u);
    const std::string prefix = "C1 AUTHENTICATE OAUTHBEARER ";
    ASSERT_TRUE(seen[0].starts_with(prefix));
    EXPECT_EQ(saslBase64Decode(seen[0].substr(prefix.size())),
              "n,a=bob=2Cx,\x01host=127.0.0.1\x01port=" + std::to_string(srv.port()) +
                  "\x01"
                  "auth=Bearer tok123\x01\x01");
}

// A token of a real provider is far longer than POP3's 255-octet command: it then follows
// the server's empty challenge instead of riding on AUTH.
TEST(SaslLoginBearer, Pop3LongTokenWaitsForTheEmptyChallenge) {
    const std::string token(1500, 'T');
    ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    srv.on("CAPA", "+OK\r\nSASL XOAUTH2\r\n.\r\n");
    srv.on("AUTH XOAUTH2", "+ \r\n");
    srv.onRegex("^[A-Za-z0-9+/=]{200,}$", "+OK in\r\n");
    auto conn = std::make_unique<LineConnection>();
    conn->setReadTimeout(3s);
    Pop3Client client(std::move(conn));
    client.setHost(ScriptedServer::host());
    client.setPort(srv.port());
    client.setUser("bob");
    client.setAccessToken(token);
    client.Connect();
    const std::vector<std::string> seen = srv.received();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1], "AUTH XOAUTH2");
    EXPECT_EQ(saslBase64Decode(seen[2]), "user=bob\x01"
                                         "auth=Bearer " +
                                             token + "\x01\x01");
}

TEST(SaslBase64, RoundTripsAndRefusesWhatIsNotBase64) {
    for (const std::string& text : {std::string(), std::string("a"), std::string("ab"),
                                    std::string("abc"), std::string("\0\xff\x01\x80", 4)})
        EXPECT_EQ(saslBase64Decode(saslBase64Encode(text)), text);
    EXPECT_EQ(saslBase64Encode("ab"), "YWI=");
    for (const char* bad : {"YWI", "Y=I=", "YW=I", "Y!I=", "=AAA", "YWI==A=="})
        EXPECT_EQ(saslBase64Decode(bad), std::nullopt) << bad;
}

TEST(SaslChoice, TakesTheBestMechanismForTheSecret) {
    const std::vector<std::string> all = {"login", "XOAUTH2", "PLAIN", "OAUTHBEARER"};
    EXPECT_EQ(chooseSaslMechanism(all, false), SaslMechanism::Plain);
    EXPECT_EQ(chooseSaslMechanism(all, true), SaslMechanism::OAuthBearer);
    EXPECT_EQ(chooseSaslMechanism({"LOGIN", "XOAUTH2"}, false), SaslMechanism::Login);
    EXPECT_EQ(chooseSaslMechanism({"LOGIN", "XOAUTH2"}, true), SaslMechanism::XOAuth2);
    EXPECT_EQ(chooseSaslMechanism({"CRAM-MD5"}, false), std::nullopt);
    EXPECT_EQ(chooseSaslMechanism({"PLAIN"}, true), std::nullopt);
}

} // namespace
} // namespace tarn
