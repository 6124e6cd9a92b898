#include "net/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "fakes/HttpTestServer.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"

using namespace std::chrono_literals;
using tarn::httpFetch;
using tarn::HttpRequest;
using tarn::HttpResponse;
using tarn::test::HttpTestServer;
using tarn::test::ScriptedServer;
using tarn::test::TestPki;

namespace {

HttpRequest quick(const std::string& url) {
    HttpRequest r;
    r.url = url;
    r.connectTimeout = 2s;
    r.totalTimeout = 3s;
    return r;
}

std::string base(const HttpTestServer& srv) {
    return "http://127.0.0.1:" + std::to_string(srv.port());
}

TEST(HttpClient, GetReturnsStatusTypeAndBody) {
    HttpTestServer srv([](const std::string&) {
        return HttpTestServer::answer("HTTP/1.1 404 Not Found", {"Content-Type: text/plain"},
                                      "no such thing");
    });
    const HttpResponse r = httpFetch(quick(base(srv) + "/x?a=1"));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.status, 404); // an answer, whatever its status
    EXPECT_EQ(r.body, "no such thing");
    EXPECT_EQ(r.contentType, "text/plain");
    ASSERT_EQ(srv.requests().size(), 1u);
    EXPECT_EQ(HttpTestServer::requestLine(srv.requests()[0]), "GET /x?a=1 HTTP/1.1");
}

TEST(HttpClient, PostSendsTheFormBodyWithItsType) {
    HttpTestServer srv(
        [](const std::string&) { return HttpTestServer::answer("HTTP/1.1 200 OK", {}, "{}"); });
    HttpRequest req = quick(base(srv) + "/token");
    req.method = "POST";
    req.contentType = "application/x-www-form-urlencoded";
    req.body = "grant_type=refresh_token&refresh_token=" + tarn::formEncode("a b/+=");
    req.headers = {{"Accept", "application/json"}};
    const HttpResponse r = httpFetch(req);
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_EQ(srv.requests().size(), 1u);
    const std::string raw = srv.requests()[0];
    EXPECT_EQ(HttpTestServer::requestLine(raw), "POST /token HTTP/1.1");
    EXPECT_NE(raw.find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"),
              std::string::npos);
    EXPECT_NE(raw.find("\r\nAccept: application/json\r\n"), std::string::npos);
    EXPECT_EQ(raw.substr(raw.find("\r\n\r\n") + 4),
              "grant_type=refresh_token&refresh_token=a%20b%2F%2B%3D");
}

struct FailureCase {
    const char* name;
    HttpTestServer::Reply reply;
    std::size_t cap;
    const char* errorPart;
};

TEST(HttpClient, AnswersBeyondTheLimitsFailWithTheirReason) {
    HttpTestServer::Reply huge =
        HttpTestServer::sends("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    huge.filler = std::string(4096, 'x');
    huge.fillerRepeat = 100000; // 400 MB, never read to the end
    HttpTestServer::Reply silent;
    silent.silent = true;
    HttpTestServer::Reply trickle = HttpTestServer::answer("HTTP/1.1 200 OK", {}, "slow body");
    trickle.bytePause = 400ms;
    const FailureCase cases[] = {
        {"body over the cap, no length", huge, 64 * 1024, "answer larger than 65536 bytes"},
        {"declared length over the cap",
         HttpTestServer::answer("HTTP/1.1 200 OK", {}, std::string(2000, 'y')), 1000,
         "answer larger than 1000 bytes"},
        {"never answers", silent, 1024, "no answer from 127.0.0.1 within 3 s"},
        {"answers too slowly", trickle, 1024, "no answer from 127.0.0.1 within 3 s"},
        {"redirect not allowed",
         HttpTestServer::answer("HTTP/1.1 302 Found", {"Location: /elsewhere"}, ""), 1024,
         "redirected by 127.0.0.1"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        HttpTestServer srv([&c](const std::string&) { return c.reply; });
        HttpRequest req = quick(base(srv) + "/");
        req.maxBodyBytes = c.cap;
        const auto start = std::chrono::steady_clock::now();
        const HttpResponse r = httpFetch(req);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.errorPart), std::string::npos) << r.error;
        EXPECT_TRUE(r.body.empty());
        EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    }
}

TEST(HttpClient, RedirectsAreFollowedUpToTheLimitAndOnlyToSafeAddresses) {
    HttpTestServer srv([](const std::string& request) {
        const std::string line = HttpTestServer::requestLine(request);
        if (line.rfind("GET /hop", 0) == 0) {
            const int n = line[8] - '0';
            return HttpTestServer::answer("HTTP/1.1 301 Moved",
                                          {"Location: /hop" + std::to_string(n + 1)}, "");
        }
        if (line.rfind("GET /plain", 0) == 0)
            return HttpTestServer::answer("HTTP/1.1 302 Found",
                                          {"Location: http://mail.example.invalid/config"}, "");
        return HttpTestServer::answer("HTTP/1.1 200 OK", {}, "end");
    });
    HttpRequest req = quick(base(srv) + "/hop1");
    req.maxRedirects = 3;
    HttpResponse r = httpFetch(req);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("more than 3 redirects"), std::string::npos) << r.error;

    // A redirect to plain http elsewhere is refused before anything is sent there.
    req.url = base(srv) + "/plain";
    r = httpFetch(req);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find("not https"), std::string::npos) << r.error;

    // Within the limit the final address and body come back.
    HttpTestServer two([](const std::string& request) {
        if (HttpTestServer::requestLine(request).rfind("GET /a", 0) == 0)
            return HttpTestServer::answer("HTTP/1.1 307 Temporary", {"Location: /b"}, "");
        return HttpTestServer::answer("HTTP/1.1 200 OK", {}, "found");
    });
    req.url = base(two) + "/a";
    r = httpFetch(req);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body, "found");
    EXPECT_EQ(r.redirects, 1);
    EXPECT_EQ(r.finalUrl, base(two) + "/b");
}

TEST(HttpClient, OnlyHttpsLeavesTheMachine) {
    struct Case {
        const char* url;
        bool allowed;
    };
    const Case cases[] = {
        {"https://login.example.com/token", true},
        {"HTTPS://Example.com/", true},
        {"http://127.0.0.1:8080/x", true},
        {"http://localhost/x", true},
        {"http://[::1]:99/x", true},
        {"http://example.com/x", false},
        {"http://127.0.0.1.example.com/", false},
        {"ftp://127.0.0.1/x", false},
        {"file:///etc/passwd", false},
        {"not a url", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(tarn::isAllowedHttpUrl(c.url), c.allowed);
        if (!c.allowed) {
            const HttpResponse r = httpFetch(quick(c.url));
            EXPECT_FALSE(r.ok);
            EXPECT_FALSE(r.error.empty());
        }
    }
}

TEST(HttpClient, HttpsVerifiesTheServerAgainstTheTrustedAuthorities) {
    const TestPki& pki = TestPki::shared();
    struct Case {
        const char* name;
        const TestPki::Pair& pair;
        bool ok;
    };
    const Case cases[] = {
        {"trusted", pki.good(), true},
        {"self-signed", pki.selfSigned(), false},
        {"expired", pki.expired(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer srv;
        srv.setTls(c.pair.certFile, c.pair.keyFile, ScriptedServer::TlsFrom::Accept);
        srv.onPrefix("GET ",
                     "HTTP/1.1 200 OK\r\nContent-Length: 6\r\nConnection: close\r\n\r\nsecret",
                     ScriptedServer::After::Close);
        const HttpResponse r =
            httpFetch(quick("https://localhost:" + std::to_string(srv.port()) + "/doc"));
        EXPECT_EQ(r.ok, c.ok) << r.error;
        if (c.ok)
            EXPECT_EQ(r.body, "secret");
        else
            EXPECT_NE(r.error.find("not trusted"), std::string::npos) << r.error;
    }
}

TEST(HttpClient, CancellingEndsAWaitingExchange) {
    HttpTestServer::Reply silent;
    silent.silent = true;
    HttpTestServer srv([&silent](const std::string&) { return silent; });
    std::atomic<bool> cancel{false};
    HttpRequest req = quick(base(srv) + "/");
    req.totalTimeout = 30s;
    req.cancel = &cancel;
    std::thread canceller([&cancel] {
        std::this_thread::sleep_for(200ms);
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const HttpResponse r = httpFetch(req);
    canceller.join();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "cancelled");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(HttpClient, FormEncodingKeepsOnlyUnreservedCharacters) {
    EXPECT_EQ(tarn::formEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(tarn::formEncode("a b&c=d/e?f#g+h%"), "a%20b%26c%3Dd%2Fe%3Ff%23g%2Bh%25");
    EXPECT_EQ(tarn::formEncode("\xC3\xBC"), "%C3%BC");
    EXPECT_EQ(tarn::formEncode(""), "");
}

} // namespace
