#include "net/OAuth2.h"
#include "net/LoopbackRedirect.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/FakeAuthServer.h"
#include "fakes/HttpTestServer.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::FakeAuthServer;
using test::HttpTestServer;

TEST(Pkce, ChallengeIsTheBase64UrlSha256OfTheVerifier) {
    // Worked out apart from the program (Python's hashlib and base64).
    EXPECT_EQ(pkceChallenge("M25iVXpKU3puUjFaYWg3T1NDTDQtcW1ROUY5YXlwalNoc0hhakxifmZHag"),
              "qjrzSW9gMiUgpUvqgEPE4_-8swvyCtfOVvg55o5S_es");
    const std::string v = pkceVerifier();
    EXPECT_EQ(v.size(), 64u);
    EXPECT_EQ(
        v.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~"),
        std::string::npos);
    EXPECT_NE(pkceVerifier(), v);
    EXPECT_NE(oauthState(), oauthState());
}

TEST(OAuthClientRules, EndpointsMustBeHttpsExceptOnThisMachine) {
    struct Case {
        std::string url;
        bool usable;
    };
    for (const Case& c : std::vector<Case>{{"https://login.example.com/token", true},
                                           {"http://127.0.0.1:8080/token", true},
                                           {"http://localhost/token", true},
                                           {"http://[::1]:9/token", true},
                                           {"http://login.example.com/token", false},
                                           {"http://127.0.0.1.example.com/token", false},
                                           {"ftp://login.example.com/token", false}}) {
        const OAuthClient client{"https://login.example.com/auth", c.url, "id", "", "mail"};
        EXPECT_EQ(oauthClientProblem(client).empty(), c.usable) << c.url;
    }
    EXPECT_EQ(oauthClientProblem({"https://a/", "https://b/", "", "", ""}),
              "No OAuth 2.0 client ID is set for the account.");
}

TEST(OAuthAuthorization, UrlCarriesEveryParameterEncoded) {
    const OAuthClient client{"https://login.example.com/auth?tenant=x", "https://t/", "my id", "",
                             "a b"};
    EXPECT_EQ(authorizationUrl(client, "http://127.0.0.1:5/", "st", "ch", "&x=1"),
              "https://login.example.com/auth?tenant=x&response_type=code&client_id=my%20id"
              "&redirect_uri=http%3A%2F%2F127.0.0.1%3A5%2F&scope=a%20b&state=st"
              "&code_challenge=ch&code_challenge_method=S256&x=1");
}

struct TokenCase {
    const char* name;
    HttpTestServer::Reply reply;
    std::string error; // the start of the reason; empty: succeeds
    bool invalidGrant = false;
};

HttpTestServer::Reply json(const char* status, const std::string& body) {
    return HttpTestServer::answer(std::string("HTTP/1.1 ") + status,
                                  {"Content-Type: application/json"}, body);
}

HttpTestServer::Reply huge() {
    HttpTestServer::Reply r;
    r.raw = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n{\"access_token\":\"";
    r.filler = std::string(1024, 'x');
    r.fillerRepeat = 10 * 1024; // 10 MB
    return r;
}

HttpTestServer::Reply silent() {
    HttpTestServer::Reply r;
    r.silent = true;
    return r;
}

// Every answer of a token endpoint, good or bad, within the request's bounds.
TEST(OAuthTokenEndpoint, ReadsTheAnswerOrSaysWhyNot) {
    const std::vector<TokenCase> cases = {
        {"Good",
         json("200 OK", R"({"access_token":"AT","token_type":"bearer","expires_in":60,)"
                        R"("refresh_token":"RT2"})"),
         ""},
        {"Garbage", HttpTestServer::answer("HTTP/1.1 200 OK", {}, "<html>oops</html>"),
         "The token endpoint's answer (HTTP 200) is not JSON."},
        {"NoAccessToken", json("200 OK", R"({"token_type":"Bearer","refresh_token":"RT2"})"),
         "The token endpoint's answer holds no access token."},
        {"NotBearer", json("200 OK", R"({"access_token":"AT","token_type":"mac"})"),
         "The token endpoint gave a token of type \"mac\""},
        {"InvalidGrant",
         json("400 Bad Request", R"({"error":"invalid_grant","error_description":"expired"})"),
         "The sign-in is no longer valid; sign in again: expired.", true},
        {"OtherRefusal", json("401 Unauthorized", R"({"error":"invalid_client"})"),
         "The token endpoint refused (HTTP 401, invalid_client)."},
        {"ServerErrorWithToken", json("500 Oops", R"({"access_token":"AT"})"),
         "The token endpoint refused (HTTP 500)."},
        {"TenMegabytes", huge(), "The token endpoint did not answer: "},
        {"NeverAnswers", silent(), "The token endpoint did not answer: "},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string body;
        HttpTestServer server([&](const std::string& request) {
            body = request.substr(request.find("\r\n\r\n") + 4);
            return c.reply;
        });
        const OAuthClient client{"https://a/",
                                 "http://127.0.0.1:" + std::to_string(server.port()) + "/token",
                                 "cid", "", "mail"};
        OAuthLimits limits;
        limits.totalTimeout = 1500ms;
        const auto start = std::chrono::steady_clock::now();
        const OAuthTokenAnswer a = refreshAccessToken(client, "RT1 +&", limits);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
        EXPECT_EQ(body, "grant_type=refresh_token&refresh_token=RT1%20%2B%26&client_id=cid");
        EXPECT_EQ(a.ok, c.error.empty());
        EXPECT_EQ(a.error.substr(0, c.error.size()), c.error) << a.error;
        EXPECT_EQ(a.invalidGrant, c.invalidGrant);
        if (a.ok) {
            EXPECT_EQ(a.accessToken, "AT");
            EXPECT_EQ(a.refreshToken, "RT2");
            EXPECT_EQ(a.expiresIn, 60s);
        } else {
            EXPECT_EQ(a.accessToken, "");
            EXPECT_EQ(a.error.find("AT"), std::string::npos) << "no token in an error";
        }
    }
}

// The browser's visits to the listener, from the test's side.
HttpResponse visit(int port, const std::string& target, const std::string& method = "GET") {
    HttpRequest r;
    r.method = method;
    r.url = "http://127.0.0.1:" + std::to_string(port) + target;
    r.totalTimeout = 3s;
    return httpFetch(r);
}

struct ListenerCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> visits; // method, target
    std::string code;                                        // ok when set
    std::string error;
    std::vector<long> statuses; // what each visit was answered
};

TEST(LoopbackRedirectTest, TakesOnlyTheRedirectWithItsState) {
    const std::vector<ListenerCase> cases = {
        {"Redirect", {{"GET", "/?code=c%2B1&state=S1"}}, "c+1", "", {200}},
        {"WrongState",
         {{"GET", "/?code=c1&state=S2"}},
         "",
         "The browser came back with an answer to another sign-in",
         {400}},
        {"NoState", {{"GET", "/?code=c1"}}, "", "The browser came back with an answer", {400}},
        {"ErrorRedirect",
         {{"GET", "/?error=access_denied&state=S1"}},
         "",
         "The provider refused the sign-in: access_denied.",
         {200}},
        {"NoCode",
         {{"GET", "/?state=S1"}},
         "",
         "The browser came back without an authorization code.",
         {400}},
        {"OtherRequestsRefusedThenTheRedirect",
         {{"GET", "/favicon.ico"}, {"POST", "/?code=c1&state=S1"}, {"GET", "/?code=c1&state=S1"}},
         "c1",
         "",
         {404, 404, 200}},
        {"OnlyOtherRequests",
         {{"GET", "/favicon.ico"}},
         "",
         "The browser did not come back within 1 second (1 other request was refused); nothing "
         "was stored.",
         {404}},
    };
    for (const ListenerCase& c : cases) {
        SCOPED_TRACE(c.name);
        LoopbackRedirect listener;
        EXPECT_EQ(listener.redirectUri(),
                  "http://127.0.0.1:" + std::to_string(listener.port()) + "/");
        LoopbackRedirect::Outcome outcome;
        std::thread waiter([&] { outcome = listener.wait("S1", 1500ms); });
        std::vector<long> statuses;
        for (const auto& [method, target] : c.visits)
            statuses.push_back(visit(listener.port(), target, method).status);
        waiter.join();
        EXPECT_EQ(statuses, c.statuses);
        EXPECT_EQ(outcome.ok, !c.code.empty());
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(outcome.error.substr(0, c.error.size()), c.error) << outcome.error;
    }
}

TEST(LoopbackRedirectTest, ACancelEndsTheWaitSoon) {
    LoopbackRedirect listener;
    std::atomic<bool> cancel{false};
    std::thread([&cancel] {
        std::this_thread::sleep_for(200ms);
        cancel = true;
    }).detach();
    const auto start = std::chrono::steady_clock::now();
    const LoopbackRedirect::Outcome o = listener.wait("S", 60s, &cancel);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(o.error, "The sign-in was cancelled.");
}

// The code is only good with the verifier whose challenge went with the authorization.
TEST(OAuthCodeExchange, TheProviderRefusesAnotherVerifier) {
    FakeAuthServer auth;
    const OAuthClient client{auth.authorizeUrl(), auth.tokenUrl(), auth.clientId(), "", "mail"};
    LoopbackRedirect listener;
    const std::string verifier = pkceVerifier();
    const std::string url =
        authorizationUrl(client, listener.redirectUri(), "S", pkceChallenge(verifier));
    std::thread browser([&url] {
        HttpRequest r;
        r.url = url;
        r.maxRedirects = 1;
        r.totalTimeout = 3s;
        httpFetch(r);
    });
    const LoopbackRedirect::Outcome redirect = listener.wait("S", 3s);
    browser.join();
    ASSERT_TRUE(redirect.ok) << redirect.error;

    const OAuthTokenAnswer wrong =
        exchangeAuthorizationCode(client, redirect.code, pkceVerifier(), listener.redirectUri());
    EXPECT_FALSE(wrong.ok);
    EXPECT_TRUE(wrong.invalidGrant);
    EXPECT_EQ(auth.currentRefreshToken(), "");
    const OAuthTokenAnswer right =
        exchangeAuthorizationCode(client, redirect.code, verifier, listener.redirectUri());
    EXPECT_TRUE(right.ok) << right.error;
    EXPECT_TRUE(auth.accessTokenValid(right.accessToken));
    EXPECT_EQ(right.refreshToken, auth.currentRefreshToken());
}

} // namespace
} // namespace tarn
