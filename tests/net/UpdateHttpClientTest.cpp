#include "net/UpdateHttpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/ScopedEnv.h"
#include "fakes/HttpTestServer.h"
#include "net/HostLookup.h"

using namespace std::chrono_literals;
using tarn::UpdateHttpClient;
using tarn::test::HttpTestServer;

namespace {

using Address = UpdateHttpClient::Address;
using Reply = UpdateHttpClient::Reply;

UpdateHttpClient::Limits quickLimits() {
    UpdateHttpClient::Limits l;
    l.connectTimeout = 2s;
    l.readTimeout = 2s;
    l.totalTimeout = 5s;
    return l;
}

Address at(const HttpTestServer& srv, const std::string& path = "/pub/upd_19.txt") {
    return Address{"127.0.0.1", srv.port(), path};
}

TEST(UpdateHttpClient, SendsTheFixedRequestByteForByte) {
    HttpTestServer srv(
        [](const std::string&) { return HttpTestServer::answer("HTTP/1.0 200 OK", {}, "x"); });
    UpdateHttpClient(quickLimits()).get(at(srv));
    ASSERT_EQ(srv.requests().size(), 1u);
    EXPECT_EQ(srv.requests()[0],
              "GET /pub/upd_19.txt HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(srv.port()) +
                  "\r\n"
                  "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
                  "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n"
                  "From: Tarnwick\r\n"
                  "Referer: TARNWICK 19\r\n"
                  "Content-type: application/x-www-form-urlencoded\r\n"
                  "\r\n");
    // On the standard port the host stands alone.
    EXPECT_EQ(UpdateHttpClient::request({"updates.example.org", 80, "/p"}, "").substr(0, 51),
              "GET /p HTTP/1.0\r\nHost: updates.example.org\r\nAccept:");
}

struct ReplyCase {
    const char* name;
    std::string raw;
    bool failed;
    int status;
    std::string body;
};

class UpdateReplies : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(UpdateReplies, AreReadAsTheyCome) {
    const ReplyCase& c = GetParam();
    HttpTestServer srv([&](const std::string&) { return HttpTestServer::sends(c.raw); });
    const Reply r = UpdateHttpClient(quickLimits()).get(at(srv));
    EXPECT_EQ(r.failed, c.failed) << r.reason;
    if (!c.failed) {
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.body, c.body);
    } else {
        EXPECT_FALSE(r.reason.empty());
        EXPECT_EQ(r.body, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateReplies,
    ::testing::Values(
        ReplyCase{"TwoLines",
                  "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nTarnwick 20 is out.\r\n"
                  "Get it from the home page.\r\n",
                  false, 200, "Tarnwick 20 is out.\r\nGet it from the home page.\r\n"},
        ReplyCase{"NotFoundWithItsPage",
                  "HTTP/1.1 404 Not Found\r\n\r\n<html><body>No such file</body></html>", false,
                  404, "<html><body>No such file</body></html>"},
        ReplyCase{"LengthIsNotTrusted", "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nall of it",
                  false, 200, "all of it"},
        ReplyCase{"GarbageStatus", "what is this\r\n\r\nstill a body", false, 0, "still a body"},
        ReplyCase{"BareLineFeeds", "HTTP/1.0 200 OK\nX: y\n\nbody\n", false, 200, "body\n"},
        ReplyCase{"ClosesAfterTheStatusLine", "HTTP/1.0 200 OK\r\n", true, 0, ""},
        ReplyCase{"ClosesInTheHeader", "HTTP/1.0 200 OK\r\nServer: x\r\n", true, 0, ""},
        ReplyCase{"SaysNothing", "", true, 0, ""},
        ReplyCase{"HeaderLineOf1MB",
                  "HTTP/1.0 200 OK\r\nX-Big: " + std::string(1024 * 1024, 'a') + "\r\n\r\nbody",
                  true, 0, ""}),
    [](const auto& info) { return info.param.name; });

TEST(UpdateHttpClient, UnreachableServerFailsWithItsReason) {
    const Reply r =
        UpdateHttpClient(quickLimits()).get({"127.0.0.1", HttpTestServer::closedPort(), "/"});
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.reason.find("connect"), std::string::npos) << r.reason;
}

// The update check goes where it is sent whatever the environment says (a user with CI set
// keeps it); tests keep it on this machine by giving it their own name lookup, which maps
// every name to 127.0.0.1.
TEST(UpdateHttpClient, IgnoresTestMarkersAndUsesTheGivenLookup) {
    HttpTestServer srv(
        [](const std::string&) { return HttpTestServer::answer("HTTP/1.0 200 OK", {}, "news"); });
    std::vector<std::string> asked;
    UpdateHttpClient::Limits limits = quickLimits();
    limits.hostLookup = [&asked](const std::string& host, int port) {
        asked.push_back(host);
        return tarn::resolveWithin(tarn::systemHostLookup(), "127.0.0.1", port, 5s);
    };
    tarn::test::ScopedEnv env;
    env.set("CI", "true");
    env.set("GTEST_SOMETHING", "1");
    const Reply r =
        UpdateHttpClient(limits).get({"updates.example", srv.port(), "/pub/upd_19.txt"});
    EXPECT_FALSE(r.failed) << r.reason;
    EXPECT_EQ(r.body, "news");
    EXPECT_EQ(asked, std::vector<std::string>{"updates.example"});
}

TEST(UpdateHttpClient, RedirectIsFollowedWithItsCookie) {
    HttpTestServer srv([](const std::string& req) {
        const std::string line = HttpTestServer::requestLine(req);
        if (line == "GET /pub/upd_19.txt HTTP/1.0")
            return HttpTestServer::answer(
                "HTTP/1.0 301 Moved", {"Location: /pub/moved.txt", "Set-Cookie: sid=42; Path=/"},
                "moved");
        if (line == "GET /pub/moved.txt HTTP/1.0")
            return HttpTestServer::answer("HTTP/1.0 302 Found",
                                          {"LOCATION: news.txt", "set-cookie: lang=en"}, "");
        return HttpTestServer::answer("HTTP/1.0 200 OK", {}, "the news");
    });
    const Reply r = UpdateHttpClient(quickLimits()).get(at(srv));
    ASSERT_FALSE(r.failed) << r.reason;
    EXPECT_EQ(r.body, "the news");
    EXPECT_EQ(r.redirects, 2);
    const auto reqs = srv.requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(reqs[0].find("Cookie:"), std::string::npos);
    EXPECT_EQ(HttpTestServer::requestLine(reqs[1]), "GET /pub/moved.txt HTTP/1.0");
    EXPECT_NE(reqs[1].find("\r\nCookie: sid=42\r\n\r\n"), std::string::npos) << reqs[1];
    // A location without "/" is a file on the same server.
    EXPECT_EQ(HttpTestServer::requestLine(reqs[2]), "GET /news.txt HTTP/1.0");
    EXPECT_NE(reqs[2].find("\r\nCookie: sid=42; lang=en\r\n\r\n"), std::string::npos) << reqs[2];
}

TEST(UpdateHttpClient, EndlessRedirectsEndAtTheCap) {
    HttpTestServer srv([](const std::string&) {
        return HttpTestServer::answer("HTTP/1.0 302 Found", {"Location: /pub/upd_19.txt"}, "");
    });
    UpdateHttpClient::Limits limits = quickLimits();
    limits.maxRedirects = 3;
    const Reply r = UpdateHttpClient(limits).get(at(srv));
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.reason.find("redirected more than 3 times"), std::string::npos) << r.reason;
    EXPECT_EQ(srv.requests().size(), 4u);
}

TEST(UpdateHttpClient, RedirectsItCannotFetchFail) {
    HttpTestServer srv([](const std::string&) {
        return HttpTestServer::answer("HTTP/1.0 301 Moved",
                                      {"Location: https://updates.example.org/x"}, "");
    });
    const Reply r = UpdateHttpClient(quickLimits()).get(at(srv));
    EXPECT_TRUE(r.failed);
    EXPECT_NE(r.reason.find("https://updates.example.org/x"), std::string::npos) << r.reason;
}

TEST(UpdateHttpClient, HugeBodyIsCutAt1MB) {
    HttpTestServer srv([&](const std::string&) {
        HttpTestServer::Reply r = HttpTestServer::sends("HTTP/1.0 200 OK\r\n\r\n");
        r.filler = std::string(1024 * 1024, 'z');
        r.fillerRepeat = 100; // 100 MB if anyone took it all
        return r;
    });
    const Reply r = UpdateHttpClient(quickLimits()).get(at(srv));
    ASSERT_FALSE(r.failed) << r.reason;
    EXPECT_TRUE(r.bodyCut);
    EXPECT_EQ(r.body.size(), 1024u * 1024u);
    EXPECT_EQ(r.body.find_first_not_of('z'), std::string::npos);
    EXPECT_LT(srv.bytesSent(), 20u * 1024 * 1024);
}

TEST(UpdateHttpClient, ServersThatStallOrCrawlEndAtTheDeadline) {
    struct Case {
        const char* name;
        HttpTestServer::Reply reply;
    };
    HttpTestServer::Reply crawl =
        HttpTestServer::sends("HTTP/1.0 200 OK\r\n\r\n" + std::string(1000, 'c'));
    crawl.bytePause = 50ms; // 50 s for the whole reply, each byte in time for a read
    HttpTestServer::Reply silent;
    silent.silent = true;
    for (const Case& c : {Case{"crawl", crawl}, Case{"silent", silent}}) {
        SCOPED_TRACE(c.name);
        HttpTestServer srv([&](const std::string&) { return c.reply; });
        UpdateHttpClient::Limits limits = quickLimits();
        limits.readTimeout = 700ms;
        limits.totalTimeout = 1500ms;
        const auto start = std::chrono::steady_clock::now();
        const Reply r = UpdateHttpClient(limits).get(at(srv));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(r.failed);
        EXPECT_FALSE(r.reason.empty());
        // Bounded by the deadline, not by the server (which would take 50 s or for ever).
        EXPECT_LT(took, 10s);
    }
}

struct ServerCase {
    const char* text;
    std::optional<std::pair<std::string, int>> expected;
};

TEST(UpdateHttpClient, ServerSettingIsHostOrHostAndPort) {
    const ServerCase cases[] = {
        {"updates.example.org", std::pair<std::string, int>{"updates.example.org", 80}},
        {"127.0.0.1:8080", std::pair<std::string, int>{"127.0.0.1", 8080}},
        {"[::1]:81", std::pair<std::string, int>{"::1", 81}},
        {" host ", std::pair<std::string, int>{"host", 80}},
        {"host:0", std::nullopt},
        {"host:99999", std::nullopt},
        {"host:http", std::nullopt},
        {"", std::nullopt},
        {"bad host", std::nullopt},
        {"evil\r\nX: y", std::nullopt},
    };
    for (const ServerCase& c : cases) {
        SCOPED_TRACE(c.text);
        const auto a = UpdateHttpClient::parseServer(c.text, "/pub/upd_19.txt");
        ASSERT_EQ(a.has_value(), c.expected.has_value());
        if (a) {
            EXPECT_EQ(a->host, c.expected->first);
            EXPECT_EQ(a->port, c.expected->second);
            EXPECT_EQ(a->path, "/pub/upd_19.txt");
        }
    }
}

TEST(UpdateHttpClient, RedirectTargets) {
    const Address from{"a.example.org", 8080, "/pub/upd_19.txt"};
    struct Case {
        const char* location;
        std::optional<std::string> expected; // host:port path
    };
    const Case cases[] = {
        {"/pub/upd_20.txt", "a.example.org:8080 /pub/upd_20.txt"},
        {"upd_20.txt", "a.example.org:8080 /upd_20.txt"},
        {"http://b.example.org/x?y=1", "b.example.org:80 /x?y=1"},
        {"HTTP://b.example.org:81", "b.example.org:81 /"},
        {"/with space", "a.example.org:8080 /with%20space"},
        {"https://b.example.org/x", std::nullopt},
        {"ftp://b.example.org/x", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        const auto to = UpdateHttpClient::redirectTarget(from, c.location);
        ASSERT_EQ(to.has_value(), c.expected.has_value());
        if (to) {
            EXPECT_EQ(to->host + ":" + std::to_string(to->port) + " " + to->path, *c.expected);
        }
    }
}

TEST(UpdateHttpClient, StatusIsTheSecondWord) {
    EXPECT_EQ(UpdateHttpClient::statusOf("HTTP/1.0 200 OK"), 200);
    EXPECT_EQ(UpdateHttpClient::statusOf("HTTP/1.1 404"), 404);
    EXPECT_EQ(UpdateHttpClient::statusOf("HTTP/1.0 OK 200"), 0);
    EXPECT_EQ(UpdateHttpClient::statusOf("HTTP/1.0"), 0);
    EXPECT_EQ(UpdateHttpClient::statusOf("HTTP/1.0 99999999999999"), 0);
}

} // namespace
