// POP3 and IMAP4 log-ins over TLS and STARTTLS against the scripted server: the password is
// only ever sent inside a verified TLS connection.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"
#include "mailproto/Imap4Client.h"
#include "mailproto/Pop3Client.h"
#include "mailproto/ServerEndpoint.h"

using namespace std::chrono_literals;
using tarn::ConnectionSecurity;
using tarn::Imap4Client;
using tarn::Pop3Client;
using tarn::test::errorOf;
using tarn::test::ScriptedServer;
using tarn::test::TestPki;
using After = ScriptedServer::After;
using TlsFrom = ScriptedServer::TlsFrom;

namespace {

const TestPki& pki() {
    return TestPki::shared();
}

enum class Proto { Pop3, Imap4 };

struct ClientCase {
    const char* name;
    Proto proto;
    ConnectionSecurity security;
    // Scripts the server (certificate included) for this case.
    std::function<void(ScriptedServer&)> script;
    std::string expectedError; // empty: logged in
    // Lines the server must have received, in order, when the log-in succeeds.
    std::vector<std::string> dialogue;
};

void pop3Session(ScriptedServer& srv) {
    srv.on("USER bob", "+OK\r\n");
    srv.on("PASS secret", "+OK in\r\n");
    srv.on("STAT", "+OK 1 100\r\n");
}

void imapSession(ScriptedServer& srv) {
    srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK logged in\r\n");
    srv.onRegex(R"(^\S+ SELECT )", "* 1 EXISTS\r\n{TAG} OK [READ-WRITE] done\r\n");
}

void good(ScriptedServer& srv, TlsFrom from) {
    srv.setTls(pki().good().certFile, pki().good().keyFile, from);
}

const std::string kCapsWithStartTls =
    "* CAPABILITY IMAP4rev1 STARTTLS AUTH=PLAIN\r\n{TAG} OK done\r\n";

class ClientTls : public ::testing::TestWithParam<ClientCase> {};

TEST_P(ClientTls, SendsTheLogInOnlyInsideAVerifiedConnection) {
    const ClientCase& c = GetParam();
    ScriptedServer srv;
    c.script(srv);
    std::string err;
    if (c.proto == Proto::Pop3) {
        Pop3Client client;
        client.setHost("127.0.0.1");
        client.setPort(srv.port());
        client.setUser("bob");
        client.setPassword("secret");
        client.setSecurity(c.security);
        client.connection().setReadTimeout(5s);
        err = errorOf([&] {
            client.Connect();
            EXPECT_TRUE(client.connection().Encrypted());
            EXPECT_EQ(client.MessageCount(), 1);
        });
    } else {
        Imap4Client client;
        client.setHost("127.0.0.1");
        client.setPort(srv.port());
        client.setUser("bob");
        client.setPassword("secret");
        client.setSecurity(c.security);
        client.setReadTimeout(5s);
        err = errorOf([&] {
            client.Connect();
            EXPECT_EQ(client.SelectMailbox("INBOX").exists, 1);
        });
    }
    if (c.expectedError.empty()) {
        EXPECT_EQ(err, "<no error>");
        const std::vector<std::string> got = srv.received();
        EXPECT_TRUE(std::equal(c.dialogue.begin(), c.dialogue.end(), got.begin(), got.end()) ||
                    (got.size() > c.dialogue.size() &&
                     std::equal(c.dialogue.begin(), c.dialogue.end(), got.begin())))
            << ::testing::PrintToString(got);
        return;
    }
    EXPECT_EQ(err.rfind(c.expectedError, 0), 0u) << err;
    for (const std::string& line : srv.received()) {
        EXPECT_EQ(line.find("secret"), std::string::npos) << line;
        EXPECT_EQ(line.rfind("USER", 0), std::string::npos) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClientTls,
    ::testing::Values(
        ClientCase{"Pop3TlsFromTheFirstByte",
                   Proto::Pop3,
                   ConnectionSecurity::Tls,
                   [](ScriptedServer& srv) {
                       good(srv, TlsFrom::Accept);
                       srv.setGreeting("+OK ready\r\n");
                       pop3Session(srv);
                   },
                   "",
                   {"CAPA", "USER bob", "PASS secret", "STAT"}},
        // "-ERR injected" arrives in the same packet as the go-ahead; read as the answer to
        // USER it would fail the log-in.
        ClientCase{"Pop3StartTlsDropsInjectedLines",
                   Proto::Pop3,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       good(srv, TlsFrom::Command);
                       srv.setGreeting("+OK ready\r\n");
                       srv.on("STLS", "+OK begin TLS\r\n-ERR injected\r\n", After::StartTls);
                       pop3Session(srv);
                   },
                   "",
                   {"STLS", "CAPA", "USER bob", "PASS secret", "STAT"}},
        ClientCase{"Pop3StlsRefused",
                   Proto::Pop3,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       srv.setGreeting("+OK ready\r\n");
                       srv.on("STLS", "-ERR not here\r\n");
                       pop3Session(srv);
                   },
                   "server does not offer STARTTLS (not here).",
                   {}},
        ClientCase{"Pop3StartTlsBadCertificate",
                   Proto::Pop3,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       srv.setTls(pki().selfSigned().certFile, pki().selfSigned().keyFile,
                                  TlsFrom::Command);
                       srv.setGreeting("+OK ready\r\n");
                       srv.on("STLS", "+OK begin TLS\r\n", After::StartTls);
                       pop3Session(srv);
                   },
                   "certificate verify failed: self-signed certificate",
                   {}},
        ClientCase{"Pop3PlainTextOnTheTlsPort",
                   Proto::Pop3,
                   ConnectionSecurity::Tls,
                   [](ScriptedServer& srv) {
                       srv.setGreeting("+OK ready\r\n");
                       pop3Session(srv);
                   },
                   "TLS handshake failed: ",
                   {}},
        ClientCase{"ImapTlsFromTheFirstByte",
                   Proto::Imap4,
                   ConnectionSecurity::Tls,
                   [](ScriptedServer& srv) {
                       good(srv, TlsFrom::Accept);
                       srv.setGreeting("* OK ready\r\n");
                       imapSession(srv);
                   },
                   "",
                   {"C1 LOGIN bob secret", "C2 SELECT \"INBOX\""}},
        ClientCase{"ImapStartTlsDropsInjectedLines",
                   Proto::Imap4,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       good(srv, TlsFrom::Command);
                       srv.setGreeting("* OK ready\r\n");
                       srv.onRegex(R"(^\S+ CAPABILITY$)", kCapsWithStartTls);
                       srv.onRegex(R"(^\S+ STARTTLS$)", "{TAG} OK begin TLS\r\nC3 NO injected\r\n",
                                   After::StartTls);
                       imapSession(srv);
                   },
                   "",
                   {"C1 CAPABILITY", "C2 STARTTLS", "C3 LOGIN bob secret", "C4 SELECT \"INBOX\""}},
        ClientCase{"ImapStartTlsNotInCapabilities",
                   Proto::Imap4,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       srv.setGreeting("* OK ready\r\n");
                       srv.onRegex(R"(^\S+ CAPABILITY$)",
                                   "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\n{TAG} OK done\r\n");
                       srv.onRegex(R"(^\S+ STARTTLS$)", "{TAG} OK begin TLS\r\n");
                       imapSession(srv);
                   },
                   "server does not offer STARTTLS.",
                   {}},
        ClientCase{"ImapStartTlsAnsweredNo",
                   Proto::Imap4,
                   ConnectionSecurity::StartTls,
                   [](ScriptedServer& srv) {
                       srv.setGreeting("* OK ready\r\n");
                       srv.onRegex(R"(^\S+ CAPABILITY$)", kCapsWithStartTls);
                       srv.onRegex(R"(^\S+ STARTTLS$)", "{TAG} NO not now\r\n");
                       imapSession(srv);
                   },
                   "server does not offer STARTTLS (not now).",
                   {}},
        ClientCase{"ImapTlsOtherName",
                   Proto::Imap4,
                   ConnectionSecurity::Tls,
                   [](ScriptedServer& srv) {
                       srv.setTls(pki().otherName().certFile, pki().otherName().keyFile,
                                  TlsFrom::Accept);
                       srv.setGreeting("* OK ready\r\n");
                       imapSession(srv);
                   },
                   "host name mismatch: ",
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ClientTlsSettings, UnknownSecurityOrAnUnusablePinFailsBeforeConnecting) {
    ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    Pop3Client pop;
    pop.setHost("127.0.0.1");
    pop.setPort(srv.port());
    pop.setSecurity(static_cast<ConnectionSecurity>(3));
    EXPECT_EQ(errorOf([&] { pop.Connect(); }),
              "Unknown Security setting 3 (0 none, 1 SSL/TLS, 2 STARTTLS).");
    Imap4Client imap;
    imap.setHost("127.0.0.1");
    imap.setPort(srv.port());
    imap.setSecurity(ConnectionSecurity::Tls, "not a fingerprint");
    EXPECT_EQ(errorOf([&] { imap.Connect(); }),
              "The TLS fingerprint setting is not a SHA-256 fingerprint (64 hex digits, colons "
              "allowed).");
    EXPECT_EQ(srv.connectionCount(), 0);
}

// A pinned self-signed server is accepted on the strength of the pin alone.
TEST(ClientTlsSettings, PinnedSelfSignedServerLogsIn) {
    ScriptedServer srv;
    srv.setTls(pki().selfSigned().certFile, pki().selfSigned().keyFile, TlsFrom::Accept);
    srv.setGreeting("+OK ready\r\n");
    pop3Session(srv);
    Pop3Client pop;
    pop.setHost("127.0.0.1");
    pop.setPort(srv.port());
    pop.setUser("bob");
    pop.setPassword("secret");
    pop.setSecurity(ConnectionSecurity::Tls, TestPki::fingerprint(pki().selfSigned()));
    EXPECT_EQ(errorOf([&] { pop.Connect(); }), "<no error>");
    EXPECT_EQ(pop.MessageCount(), 1);
}

} // namespace

namespace {

struct EndpointCase {
    std::string hostText;
    int security;
    std::optional<tarn::ServerEndpoint> expected;
};

class MailboxListingEndpoint : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(MailboxListingEndpoint, FollowsTheAccountsSecurity) {
    const EndpointCase& c = GetParam();
    const auto got = tarn::mailboxListingEndpoint(c.hostText, c.security, "pin");
    ASSERT_EQ(got.has_value(), c.expected.has_value());
    if (!got)
        return;
    EXPECT_EQ(got->host, c.expected->host);
    EXPECT_EQ(got->port, c.expected->port);
    EXPECT_EQ(got->security, c.expected->security);
    EXPECT_EQ(got->pin, "pin");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailboxListingEndpoint,
    ::testing::Values(
        // In clear the editor's host text is taken whole, on the fixed port.
        EndpointCase{
            "mail.example.org:993", 0,
            tarn::ServerEndpoint{"mail.example.org:993", 143, ConnectionSecurity::None, "pin"}},
        EndpointCase{"mail.example.org", 1,
                     tarn::ServerEndpoint{"mail.example.org", 993, ConnectionSecurity::Tls, "pin"}},
        EndpointCase{
            "mail.example.org:1993", 1,
            tarn::ServerEndpoint{"mail.example.org", 1993, ConnectionSecurity::Tls, "pin"}},
        EndpointCase{
            "mail.example.org", 2,
            tarn::ServerEndpoint{"mail.example.org", 143, ConnectionSecurity::StartTls, "pin"}},
        EndpointCase{"mail.example.org:imap", 2, std::nullopt}));

TEST(MailboxListingEndpoint, ListsMailboxesOfAPinnedServerOverTls) {
    ScriptedServer srv;
    srv.setTls(pki().selfSigned().certFile, pki().selfSigned().keyFile, TlsFrom::Accept);
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^\S+ LOGIN bob secret$)", "{TAG} OK in\r\n");
    srv.onRegex(R"(^\S+ LIST "" "\./%"$)",
                "* LIST () \"/\" \"./Work\"\r\n* LIST () \"/\" \"./Spam\"\r\n{TAG} OK\r\n");
    srv.onRegex(R"(^\S+ LOGOUT$)", "* BYE\r\n{TAG} OK\r\n", After::Close);
    const auto endpoint = tarn::mailboxListingEndpoint("127.0.0.1:" + std::to_string(srv.port()), 1,
                                                       TestPki::fingerprint(pki().selfSigned()));
    ASSERT_TRUE(endpoint);
    Imap4Client client;
    tarn::applyEndpoint(client, *endpoint);
    client.setUser("bob");
    client.setPassword("secret");
    client.setReadTimeout(5s);
    client.Connect();
    EXPECT_EQ(client.ListMailboxes({"."}), (std::vector<std::string>{"./Work", "./Spam"}));
    client.Disconnect();
}

} // namespace
