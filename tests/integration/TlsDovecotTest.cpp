// Checks over TLS and STARTTLS against private Dovecot instances with certificates made at
// test time: one signed by the test CA for 127.0.0.1, one for another name, an expired one
// and a self-signed one.

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "check/TIdCheckThread.h"
#include "fakes/CheckSessionSupport.h"
#include "fakes/ErrorOf.h"
#include "fakes/TestPki.h"
#include "integration/fixture/DovecotFixture.h"
#include "mailproto/Imap4Client.h"
#include "mailproto/Pop3Client.h"

using namespace std::chrono_literals;
using tarn::CheckOptions;
using tarn::CheckResult;
using tarn::ConnectionSecurity;
using tarn::TIdCheckThread;
using tarn::test::CheckSessionSupport;
using tarn::test::DovecotFixture;
using tarn::test::errorOf;
using tarn::test::TestPki;

namespace {

// Where a protected connection goes: protocol, security and the Dovecot port for it.
struct Route {
    const char* name;
    int serverType; // 0 POP3, 1 IMAP4
    ConnectionSecurity security;
    int (DovecotFixture::*port)() const;
};

const Route kRoutes[] = {
    {"Pop3Tls", 0, ConnectionSecurity::Tls, &DovecotFixture::pop3sPort},
    {"Pop3StartTls", 0, ConnectionSecurity::StartTls, &DovecotFixture::pop3Port},
    {"ImapTls", 1, ConnectionSecurity::Tls, &DovecotFixture::imapsPort},
    {"ImapStartTls", 1, ConnectionSecurity::StartTls, &DovecotFixture::imapPort},
};

std::string message(int n) {
    return "From: Alice <alice@example.org>\r\nSubject: secret " + std::to_string(n) +
           "\r\nMessage-ID: <tls" + std::to_string(n) + "@example.org>\r\n\r\nBody.\r\n";
}

// One Dovecot per certificate, started on first use and kept for the program.
class TlsDovecotBase : public CheckSessionSupport {
protected:
    TlsDovecotBase() : CheckSessionSupport("tarn-tls") {}

    static void TearDownTestSuite() { s_servers.clear(); }

    void SetUp() override { TARN_REQUIRE_DOVECOT(); }

    static DovecotFixture& serverWith(const TestPki::Pair& pair) {
        auto& slot = s_servers[pair.certFile];
        if (!slot) {
            DovecotFixture::Options o;
            o.sslCertFile = pair.certFile;
            o.sslKeyFile = pair.keyFile;
            slot = std::make_unique<DovecotFixture>(o);
        }
        return *slot;
    }

    // Logs in with the route's client and leaves again; the failure text, or "<no error>".
    static std::string logIn(const Route& route, DovecotFixture& dovecot, const std::string& user,
                             const std::string& pin = {}) {
        const int port = (dovecot.*route.port)();
        if (route.serverType == 0) {
            tarn::Pop3Client c;
            c.setHost(DovecotFixture::host());
            c.setPort(port);
            c.setUser(user);
            c.setPassword("pw");
            c.setSecurity(route.security, pin);
            c.connection().setReadTimeout(10s);
            return errorOf([&] {
                c.Connect();
                EXPECT_TRUE(c.connection().Encrypted());
                c.Disconnect();
            });
        }
        tarn::Imap4Client c;
        c.setHost(DovecotFixture::host());
        c.setPort(port);
        c.setUser(user);
        c.setPassword("pw");
        c.setSecurity(route.security, pin);
        c.setReadTimeout(10s);
        return errorOf([&] {
            c.Connect();
            c.Disconnect();
        });
    }

    // A full check of a new account holding two messages, through the worker.
    CheckResult checkAccount(const Route& route, DovecotFixture& dovecot, const std::string& pin) {
        const std::string user =
            std::string("t") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string safe;
        for (char c : user)
            safe += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        dovecot.addUser(safe, "pw");
        dovecot.addMessage(safe, message(1));
        dovecot.addMessage(safe, message(2));
        tarn::AccountSettings acc;
        acc.Name = "Protected";
        acc.MailServerType = route.serverType;
        acc.Host =
            std::string(DovecotFixture::host()) + ":" + std::to_string((dovecot.*route.port)());
        acc.UserID = safe;
        acc.Password = "pw";
        acc.Security = static_cast<int>(route.security);
        acc.TLSFingerprint = pin;
        session.settings().Accounts.push_back(acc);
        session.syncWithSettings();
        const int a = session.settings().accountCount();
        session.runtime()[a].Busy = true;
        CheckOptions o;
        o.connectTimeout = 10s;
        o.readTimeout = 20s;
        return TIdCheckThread::forAccount(session, host, a, o)->run();
    }

    int recordCount() {
        int n = 0;
        session.db().walk(0, [&](const tarn::MailRecord&) {
            ++n;
            return true;
        });
        return n;
    }

    static inline std::map<std::string, std::unique_ptr<DovecotFixture>> s_servers;
};

class TlsDovecotCheck : public TlsDovecotBase, public ::testing::WithParamInterface<Route> {};

TEST_P(TlsDovecotCheck, ChecksTheMailboxOverAVerifiedConnection) {
    DovecotFixture& dovecot = serverWith(TestPki::shared().good());
    const CheckResult r = checkAccount(GetParam(), dovecot, "");
    EXPECT_FALSE(r.failed) << dovecot.log();
    EXPECT_EQ(recordCount(), 2);
}

// The self-signed server is refused until its fingerprint is pinned.
TEST_P(TlsDovecotCheck, SelfSignedServerIsCheckedOnceItsFingerprintIsPinned) {
    const TestPki::Pair& self = TestPki::shared().selfSigned();
    DovecotFixture& dovecot = serverWith(self);
    const std::string err = logIn(GetParam(), dovecot, "nobody-needed");
    ASSERT_EQ(err.rfind("certificate verify failed: self-signed certificate", 0), 0u) << err;
    // The text carries the fingerprint to pin.
    const std::string fp = TestPki::fingerprint(self);
    ASSERT_NE(err.find(fp), std::string::npos) << err;
    const CheckResult r = checkAccount(GetParam(), dovecot, fp);
    EXPECT_FALSE(r.failed) << dovecot.log();
    EXPECT_EQ(recordCount(), 2);
}

INSTANTIATE_TEST_SUITE_P(Routes, TlsDovecotCheck, ::testing::ValuesIn(kRoutes),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadCertificate {
    const char* name;
    const TestPki::Pair& (TestPki::*pair)() const;
    const char* expected; // the failure text starts with it
};

const BadCertificate kBad[] = {
    {"OtherName", &TestPki::otherName,
     "host name mismatch: the certificate is for mail.other.test, not 127.0.0.1"},
    {"Expired", &TestPki::expired, "certificate verify failed: certificate has expired"},
    {"SelfSigned", &TestPki::selfSigned, "certificate verify failed: self-signed certificate"},
};

class TlsDovecotRefused : public TlsDovecotBase,
                          public ::testing::WithParamInterface<std::tuple<BadCertificate, Route>> {
};

TEST_P(TlsDovecotRefused, BadCertificateFailsTheCheckWithItsReason) {
    const auto& [bad, route] = GetParam();
    DovecotFixture& dovecot = serverWith((TestPki::shared().*bad.pair)());
    const std::string err = logIn(route, dovecot, "bob");
    EXPECT_EQ(err.rfind(bad.expected, 0), 0u) << err;
    const CheckResult r = checkAccount(route, dovecot, "");
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(recordCount(), 0);
    // Nothing reached the log-in: Dovecot saw no authentication attempt.
    const std::string log = dovecot.log();
    EXPECT_EQ(log.find("auth failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("Login: "), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Certificates, TlsDovecotRefused,
                         ::testing::Combine(::testing::ValuesIn(kBad),
                                            ::testing::ValuesIn(kRoutes)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    std::get<1>(info.param).name;
                         });

} // namespace
