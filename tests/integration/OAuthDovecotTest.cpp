#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "check/OAuthSignIn.h"
#include "check/TIdCheckThread.h"
#include "core/SettingsStore.h"
#include "fakes/CheckSessionSupport.h"
#include "fakes/FakeAuthServer.h"
#include "fakes/HttpTestServer.h"
#include "integration/fixture/DovecotFixture.h"
#include "net/HttpClient.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::DovecotFixture;
using tarn::test::FakeAuthServer;
using tarn::test::HttpTestServer;

struct OAuthCase {
    const char* name;
    int serverType; // 0 POP3, 1 IMAP4
    const char* mechanism;
};

void PrintTo(const OAuthCase& c, std::ostream* os) {
    *os << c.name;
}

// Sign-in through the fake provider, then checks of a private Dovecot whose oauth2 passdb asks
// the test's introspection endpoint about every token.
class OAuthDovecot : public tarn::test::CheckSessionSupport,
                     public ::testing::WithParamInterface<OAuthCase> {
protected:
    OAuthDovecot() : CheckSessionSupport("tarn-oauth") {}

    void SetUp() override {
        TARN_REQUIRE_DOVECOT();
        DovecotFixture::Options o;
        o.oauth2IntrospectionUrl =
            "http://127.0.0.1:" + std::to_string(introspection.port()) + "/introspect";
        o.oauth2Mechanisms = GetParam().mechanism;
        dovecot = std::make_unique<DovecotFixture>(o);
        dovecot->addUser("alice", "not-the-token");
        tarn::AccountSettings a;
        a.Name = "Work";
        a.UserID = "alice";
        a.MailServerType = GetParam().serverType;
        a.Host = "127.0.0.1:" + std::to_string(dovecot->pop3Port());
        a.AuthMethod = 2;
        a.OAuthProvider = "custom";
        a.OAuthAuthorizeURL = auth.authorizeUrl();
        a.OAuthTokenURL = auth.tokenUrl();
        a.OAuthClientID = auth.clientId();
        a.OAuthScope = "mail offline_access";
        a.SecretId = "oauth-dovecot";
        session.settings().Accounts.push_back(a);
        session.settings().Main.PasswordsInFile = true;
        session.syncWithSettings();
        session.settingsStore().save(tarn::SaveInputs{});
    }

    // The test is the browser: it follows the provider's redirect back to the listener.
    void signIn() {
        std::thread browser;
        const tarn::SignInOutcome outcome =
            tarn::runOAuthSignIn(account(), [&browser](const std::string& url) {
                browser = std::thread([url] {
                    tarn::HttpRequest r;
                    r.url = url;
                    r.maxRedirects = 1;
                    r.totalTimeout = 10s;
                    tarn::httpFetch(r);
                });
            });
        if (browser.joinable())
            browser.join();
        ASSERT_TRUE(outcome.ok) << outcome.error;
        ASSERT_EQ(tarn::keepSignIn(session.settingsStore(), 1, account(), outcome.tokens), "");
    }
    const tarn::AccountSettings& account() { return session.settings().account(1); }
    tarn::CheckResult check() {
        tarn::CheckOptions o;
        o.connectTimeout = 10s;
        o.readTimeout = 20s;
        o.imapPort = dovecot->imapPort();
        session.runtime()[1].Busy = true;
        return tarn::TIdCheckThread::forAccount(session, host, 1, o)->run();
    }

    FakeAuthServer auth;
    // RFC 7662 introspection for Dovecot: "token=..." in, whose it is out.
    HttpTestServer introspection{[this](const std::string& request) {
        const auto form = tarn::test::decodeForm(request.substr(request.find("\r\n\r\n") + 4));
        const auto token = form.find("token");
        const bool active = token != form.end() && auth.accessTokenValid(token->second);
        ++introspections;
        return HttpTestServer::answer("HTTP/1.1 200 OK", {"Content-Type: application/json"},
                                      active ? R"({"active":"true","username":"alice"})"
                                             : R"({"active":"false"})");
    }};
    std::atomic<int> introspections{0};
    std::unique_ptr<DovecotFixture> dovecot;
};

TEST_P(OAuthDovecot, ChecksWithTheTokenRefreshesItAndReportsARefusedRefresh) {
    dovecot->addMessage("alice", "From: a@example.org\r\nSubject: Hello\r\n\r\nbody\r\n");
    // Tokens that expire within a minute are refreshed before a check.
    auth.setAccessLifetime(30);
    signIn();
    tarn::CheckResult r = check();
    ASSERT_FALSE(r.failed) << r.failureText << "\n" << dovecot->log();
    EXPECT_EQ(r.newCount, 1);
    EXPECT_EQ(auth.refreshRequests(), 1) << "the short-lived token was refreshed first";
    EXPECT_GE(introspections.load(), 1);

    // A token the server no longer takes: one refresh, one more log-in.
    auth.setAccessLifetime(3600);
    ASSERT_FALSE(check().failed);
    const int refreshes = auth.refreshRequests();
    auth.revokeAccessTokens();
    r = check();
    EXPECT_FALSE(r.failed) << r.failureText << "\n" << dovecot->log();
    EXPECT_EQ(auth.refreshRequests(), refreshes + 1);

    // The provider refuses the refresh: the check says to sign in again.
    auth.revokeAccessTokens();
    auth.refuseRefresh(true);
    r = check();
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.failureText.find("sign in again"), std::string::npos) << r.failureText;
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, OAuthDovecot,
                         ::testing::Values(OAuthCase{"Pop3XOAuth2", 0, "xoauth2"},
                                           OAuthCase{"Pop3OAuthBearer", 0, "oauthbearer"},
                                           OAuthCase{"Imap4XOAuth2", 1, "xoauth2"},
                                           OAuthCase{"Imap4OAuthBearer", 1, "oauthbearer"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
