#include "net/TlsTransport.h"

#include <openssl/ssl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"
#include "net/LineConnection.h"
#include "net/TcpTransport.h"
#include "net/TlsFingerprint.h"

using namespace std::chrono_literals;
using tarn::LineConnection;
using tarn::TcpTransport;
using tarn::TlsTransport;
using tarn::test::errorOf;
using tarn::test::ScriptedServer;
using tarn::test::TestPki;

namespace {

const TestPki& pki() {
    return TestPki::shared();
}

struct CertCase {
    const char* name;
    const TestPki::Pair& (TestPki::*pair)() const;
    std::string serverName; // checked against the certificate; the socket goes to 127.0.0.1
    // Pin: empty, or the fingerprint of this pair's certificate, written as the user may.
    const TestPki::Pair& (TestPki::*pinOf)() const;
    std::string expectedError; // empty: the handshake succeeds; else the text it starts with
};

class TlsCertificates : public ::testing::TestWithParam<CertCase> {};

TEST_P(TlsCertificates, AcceptsOnlyWhatVerifiesOrIsPinned) {
    const CertCase& c = GetParam();
    const TestPki::Pair& served = (pki().*c.pair)();
    ScriptedServer srv;
    srv.setTls(served.certFile, served.keyFile, ScriptedServer::TlsFrom::Accept);
    srv.setGreeting("+OK over TLS\r\n");
    std::string pin;
    if (c.pinOf != nullptr) {
        // Lower case, colons dropped: both forms are a pin.
        pin = *tarn::normalizeFingerprint(TestPki::fingerprint((pki().*c.pinOf)()));
    }

    TcpTransport tcp;
    tcp.connect("127.0.0.1", srv.port(), 5s);
    TlsTransport tls(tcp, c.serverName, pin);
    const std::string err = errorOf([&] { tls.handshake(5s); });
    if (c.expectedError.empty()) {
        ASSERT_EQ(err, "<no error>");
        EXPECT_EQ(tls.peerFingerprint(), TestPki::fingerprint(served));
        EXPECT_TRUE(tls.protocol() == "TLSv1.3" || tls.protocol() == "TLSv1.2") << tls.protocol();
        char buf[64];
        const std::size_t n = tls.read(buf, sizeof buf, 5s);
        EXPECT_EQ(std::string(buf, n), "+OK over TLS\r\n");
        return;
    }
    EXPECT_EQ(err.rfind(c.expectedError, 0), 0u) << err;
    // The refused certificate's fingerprint is there to be pinned knowingly.
    EXPECT_NE(err.find("(SHA-256 fingerprint " + TestPki::fingerprint(served) + ")"),
              std::string::npos)
        << err;
    EXPECT_FALSE(tls.isOpen());
    EXPECT_FALSE(tcp.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsCertificates,
    ::testing::Values(
        CertCase{"ChainAndAddress", &TestPki::good, "127.0.0.1", nullptr, ""},
        CertCase{"ChainAndName", &TestPki::good, "localhost", nullptr, ""},
        CertCase{"OtherNameForAddress", &TestPki::otherName, "127.0.0.1", nullptr,
                 "host name mismatch: the certificate is for mail.other.test, not 127.0.0.1"},
        CertCase{"OtherNameForName", &TestPki::good, "mail.other.test", nullptr,
                 "host name mismatch: the certificate is for localhost, 127.0.0.1, not "
                 "mail.other.test"},
        CertCase{"Expired", &TestPki::expired, "127.0.0.1", nullptr,
                 "certificate verify failed: certificate has expired"},
        CertCase{"SelfSigned", &TestPki::selfSigned, "127.0.0.1", nullptr,
                 "certificate verify failed: self-signed certificate"},
        CertCase{"SelfSignedPinned", &TestPki::selfSigned, "127.0.0.1", &TestPki::selfSigned, ""},
        // A pin stands for that one certificate, whatever name it carries...
        CertCase{"PinnedOtherName", &TestPki::otherName, "127.0.0.1", &TestPki::otherName, ""},
        // ... and refuses every other one, a valid chain included.
        CertCase{"ValidChainButOtherPin", &TestPki::good, "127.0.0.1", &TestPki::selfSigned,
                 "certificate verify failed: the server's certificate is not the pinned one"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BrokenCase {
    const char* name;
    std::string greeting;
    ScriptedServer::After after;
    int serverMaxVersion; // 0: the server speaks TLS with OpenSSL's defaults
    std::string expectedError;
};

class TlsBrokenServers : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(TlsBrokenServers, FailTheHandshakeWithTheirReasonAndInTime) {
    const BrokenCase& c = GetParam();
    ScriptedServer srv;
    if (c.serverMaxVersion != 0)
        srv.setTls(pki().good().certFile, pki().good().keyFile, ScriptedServer::TlsFrom::Accept,
                   c.serverMaxVersion);
    srv.setGreeting(c.greeting, c.after);
    TcpTransport tcp;
    tcp.connect("127.0.0.1", srv.port(), 5s);
    TlsTransport tls(tcp, "127.0.0.1");
    const auto start = std::chrono::steady_clock::now();
    const std::string err = errorOf([&] { tls.handshake(400ms); });
    EXPECT_EQ(err.rfind(c.expectedError, 0), 0u) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_FALSE(tcp.isOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TlsBrokenServers,
    ::testing::Values(BrokenCase{"PlainTextOnTheTlsPort", "+OK POP3 server ready\r\n",
                                 ScriptedServer::After::Continue, 0, "TLS handshake failed: "},
                      BrokenCase{"ClosesInTheHandshake", "", ScriptedServer::After::Close, 0,
                                 "TLS handshake failed: the server closed the connection."},
                      BrokenCase{"StallsInTheHandshake", "", ScriptedServer::After::Stall, 0,
                                 "TLS handshake timed out after 400 ms."},
                      BrokenCase{"OffersOnlyTls10", "+OK\r\n", ScriptedServer::After::Continue,
                                 TLS1_VERSION, "TLS handshake failed: "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TlsTransport, AnUnusablePinIsRefusedBeforeAnythingIsSent) {
    TcpTransport tcp;
    for (const std::string& pin : {std::string("12:34"), std::string("zz"), std::string(64, 'g')})
        EXPECT_EQ(errorOf([&] { TlsTransport tls(tcp, "127.0.0.1", pin); }),
                  "The TLS fingerprint setting is not a SHA-256 fingerprint (64 hex digits, colons "
                  "allowed).")
            << pin;
}

TEST(TlsFingerprint, AcceptsHexWithOrWithoutColonsInEitherCase) {
    const std::string canonical(64, 'a');
    std::string withColons;
    for (int i = 0; i < 32; ++i)
        withColons += (i ? ":" : "") + std::string("AA");
    EXPECT_EQ(tarn::normalizeFingerprint(withColons), canonical);
    EXPECT_EQ(tarn::normalizeFingerprint(" " + canonical + " "), canonical);
    EXPECT_EQ(tarn::normalizeFingerprint(canonical.substr(1)), std::nullopt);
    EXPECT_EQ(tarn::normalizeFingerprint(canonical + "aa"), std::nullopt);
    EXPECT_EQ(tarn::displayFingerprint(std::string("\x01\xab\xff", 3)), "01:AB:FF");
}

// A large transfer crosses many TLS records and reads.
TEST(TlsLineConnection, ReadsLinesAcrossManyRecords) {
    ScriptedServer srv;
    srv.setTls(pki().good().certFile, pki().good().keyFile, ScriptedServer::TlsFrom::Accept);
    std::string big;
    for (int i = 0; i < 4000; ++i)
        big += "line " + std::to_string(i) + " " + std::string(90, 'x') + "\r\n";
    srv.setGreeting(big + ".\r\n");
    srv.on("QUIT", "+OK bye\r\n", ScriptedServer::After::Close);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    conn.StartTls();
    EXPECT_TRUE(conn.Encrypted());
    for (int i = 0; i < 4000; ++i)
        ASSERT_EQ(conn.ReadLn(), "line " + std::to_string(i) + " " + std::string(90, 'x'));
    EXPECT_EQ(conn.ReadLn(), ".");
    conn.WriteLn("QUIT");
    EXPECT_EQ(conn.ReadLn(), "+OK bye");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Connection Closed Gracefully.");
    EXPECT_TRUE(srv.waitForLine("QUIT"));
}

// What a server (or someone in the path) sends in clear after agreeing to STARTTLS is never
// read as an answer from inside the protected connection.
TEST(TlsLineConnection, LinesSentInClearWithTheGoAheadAreDropped) {
    ScriptedServer srv;
    srv.setTls(pki().good().certFile, pki().good().keyFile, ScriptedServer::TlsFrom::Command);
    srv.setGreeting("+OK ready\r\n");
    srv.on("STLS", "+OK begin TLS\r\n-ERR injected\r\n", ScriptedServer::After::StartTls);
    srv.on("USER bob", "+OK protected\r\n");
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "+OK ready");
    conn.WriteLn("STLS");
    EXPECT_EQ(conn.ReadLn(), "+OK begin TLS");
    conn.StartTls();
    conn.WriteLn("USER bob");
    EXPECT_EQ(conn.ReadLn(), "+OK protected");
}

TEST(TlsLineConnection, AFailedHandshakeLeavesNothingToSendOn) {
    ScriptedServer srv;
    srv.setTls(pki().selfSigned().certFile, pki().selfSigned().keyFile,
               ScriptedServer::TlsFrom::Command);
    srv.setGreeting("+OK ready\r\n");
    srv.on("STLS", "+OK begin TLS\r\n", ScriptedServer::After::StartTls);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    conn.ReadLn();
    conn.WriteLn("STLS");
    conn.ReadLn();
    EXPECT_EQ(errorOf([&] { conn.StartTls(); }).rfind("certificate verify failed: ", 0), 0u);
    EXPECT_FALSE(conn.Connected());
    EXPECT_FALSE(conn.Encrypted());
    EXPECT_EQ(errorOf([&] { conn.WriteLn("PASS secret"); }), "Not Connected.");
}

} // namespace
