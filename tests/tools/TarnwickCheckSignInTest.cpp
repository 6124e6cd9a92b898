#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/IniFile.h"
#include "core/Settings.h"
#include "fakes/FakeAuthServer.h"
#include "fakes/ScriptedServer.h"
#include "mailproto/Sasl.h"
#include "net/HttpClient.h"

namespace {

using namespace std::chrono_literals;
using tarn::test::FakeAuthServer;
using tarn::test::ScriptedServer;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// tarnwick-check with args; browser (when set) gets the first line of its output while it
// runs, as a user's browser gets the URL.
ToolRun runTool(const std::string& dir, const std::string& args,
                const std::function<void(const std::string&)>& browser = {}) {
    const std::string errFile = dir + "/stderr.txt";
    // No keyring on the test's bus: the sign-in goes to the file, scrambled.
    const std::string cmd = "env -u DBUS_SESSION_BUS_ADDRESS " + std::string(TARNWICK_CHECK_BIN) +
                            " -d " + dir + " " + args + " </dev/null 2>" + errFile;
    ToolRun r;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return r;
    std::array<char, 4096> buf{};
    bool handed = false;
    while (std::fgets(buf.data(), buf.size(), p)) {
        r.out += buf.data();
        if (browser && !handed && r.out.find('\n') != std::string::npos) {
            handed = true;
            browser(r.out.substr(0, r.out.find('\n')));
        }
    }
    const int st = ::pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.err = readFile(errFile);
    return r;
}

// The browser: follows the provider's redirect to the program's listener.
tarn::HttpResponse browse(const std::string& url) {
    tarn::HttpRequest request;
    request.url = url;
    request.maxRedirects = 1;
    request.totalTimeout = 10s;
    return tarn::httpFetch(request);
}

class SignIn : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarn-signin-XXXXXX";
        dir = ::mkdtemp(tmpl);
        tarn::AccountSettings a;
        a.Name = "Mail";
        a.UserID = "bob";
        a.Host = "127.0.0.1:" + std::to_string(pop.port());
        a.AuthMethod = 2;
        a.OAuthProvider = "custom";
        a.OAuthAuthorizeURL = auth.authorizeUrl();
        a.OAuthTokenURL = auth.tokenUrl();
        a.OAuthClientID = auth.clientId();
        a.OAuthScope = "mail offline_access";
        settings.Accounts = {a};
        settings.Main.PasswordsInFile = true;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    void writeIni() { tarn::saveSettingsFile(dir + "/tarn.ini", settings, tarn::SaveInputs{}); }
    std::string stored(const char* key) {
        return tarn::IniFile(dir + "/tarn.ini").readString("1", key, "");
    }
    // A POP3 server that takes any XOAUTH2 log-in; the test checks the token it carried.
    void servePop3() {
        pop.setGreeting("+OK ready\r\n");
        pop.on("CAPA", "+OK\r\nSASL XOAUTH2\r\n.\r\n");
        pop.onPrefix("AUTH XOAUTH2 ", "+OK in\r\n");
        pop.on("STAT", "+OK 0 0\r\n");
        pop.on("QUIT", "+OK\r\n", ScriptedServer::After::Close);
    }
    // The access tokens the POP3 server was given, in order.
    std::vector<std::string> tokensSeen() {
        std::vector<std::string> out;
        for (const std::string& line : pop.received()) {
            const std::string prefix = "AUTH XOAUTH2 ";
            if (line.rfind(prefix, 0) != 0)
                continue;
            const auto raw = tarn::saslBase64Decode(line.substr(prefix.size()));
            if (!raw || raw->find("auth=Bearer ") == std::string::npos)
                continue;
            const std::size_t at = raw->find("auth=Bearer ") + 12;
            out.push_back(raw->substr(at, raw->find('\x01', at) - at));
        }
        return out;
    }
    ToolRun signIn() {
        return runTool(dir, "--sign-in 1 --no-browser",
                       [this](const std::string& url) { browserAnswer = browse(url); });
    }

    std::string dir;
    FakeAuthServer auth;
    ScriptedServer pop;
    tarn::Settings settings;
    tarn::HttpResponse browserAnswer;
};

// Sign in once through the browser, then checks use the token, refresh it when it is about
// to expire and keep the rotated refresh token.
TEST_F(SignIn, SignsInThenChecksRefreshingTheToken) {
    writeIni();
    servePop3();
    const ToolRun r = signIn();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, auth.authorizeUrl().size()), auth.authorizeUrl());
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one line: " << r.out;
    EXPECT_TRUE(browserAnswer.ok) << browserAnswer.error;
    EXPECT_EQ(browserAnswer.status, 200);
    EXPECT_NE(browserAnswer.body.find("Signed in"), std::string::npos);
    const std::string refresh = auth.currentRefreshToken();
    ASSERT_FALSE(refresh.empty());
    // Kept scrambled with the account, never as it is.
    EXPECT_FALSE(stored("OAuthToken").empty());
    EXPECT_EQ(readFile(dir + "/tarn.ini").find(refresh), std::string::npos);
    EXPECT_FALSE(stored("SecretId").empty());

    // A check of another process: no access token in memory, so one refresh.
    const ToolRun check = runTool(dir, "");
    EXPECT_EQ(check.status, 0) << check.out << check.err;
    const std::vector<std::string> seen = tokensSeen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(auth.accessTokenValid(seen[0]));
    EXPECT_EQ(auth.refreshRequests(), 1);
    // The refresh rotated the token; the file holds the new one, which works next time.
    EXPECT_NE(auth.currentRefreshToken(), refresh);
    EXPECT_EQ(runTool(dir, "").status, 0);
    EXPECT_EQ(auth.refreshRequests(), 2);
    EXPECT_EQ(readFile(dir + "/tarn.ini").find(auth.currentRefreshToken()), std::string::npos);
}

TEST_F(SignIn, ARefusedRefreshAsksToSignInAgain) {
    writeIni();
    servePop3();
    ASSERT_EQ(signIn().status, 0);
    auth.refuseRefresh(true);
    const ToolRun check = runTool(dir, "");
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("sign in again"), std::string::npos) << check.out;
    EXPECT_TRUE(tokensSeen().empty()) << "no log-in without a token";
}

TEST_F(SignIn, AServerThatRefusesTheTokenGetsOneFreshTokenAndOneRetry) {
    writeIni();
    pop.setGreeting("+OK ready\r\n");
    pop.on("CAPA", "+OK\r\nSASL XOAUTH2\r\n.\r\n");
    // The first token is refused with the provider's error challenge, the second taken.
    pop.onPrefix("AUTH XOAUTH2 ", "+ eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0=\r\n",
                 ScriptedServer::After::Continue, 1);
    pop.on("", "-ERR [AUTH] Authentication failed\r\n");
    pop.onPrefix("AUTH XOAUTH2 ", "+OK in\r\n");
    pop.on("STAT", "+OK 0 0\r\n");
    pop.on("QUIT", "+OK\r\n", ScriptedServer::After::Close);
    ASSERT_EQ(signIn().status, 0);
    const ToolRun check = runTool(dir, "");
    EXPECT_EQ(check.status, 0) << check.out;
    const std::vector<std::string> seen = tokensSeen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], seen[1]);
    EXPECT_EQ(auth.refreshRequests(), 2);
}

struct BrowserCase {
    const char* name;
    // What the browser does with the authorization URL.
    std::function<void(const std::string& url, int listenerPort)> act;
    std::string reason;
};

// Each way the browser's side can go wrong fails with its reason and stores nothing.
TEST_F(SignIn, BrowserFailuresStoreNothing) {
    const auto portOf = [](const std::string& url) {
        const auto q = tarn::test::decodeForm(url.substr(url.find('?') + 1));
        const std::string redirect = q.at("redirect_uri");
        return std::stoi(redirect.substr(redirect.rfind(':') + 1));
    };
    const auto get = [](const std::string& url) {
        tarn::HttpRequest request;
        request.url = url;
        request.totalTimeout = 5s;
        return tarn::httpFetch(request);
    };
    const std::vector<BrowserCase> cases = {
        {"WrongState",
         [&](const std::string&, int port) {
             get("http://127.0.0.1:" + std::to_string(port) + "/?code=abc&state=forged");
         },
         "another sign-in (the state does not match)"},
        {"ErrorRedirect",
         [&](const std::string& url, int port) {
             const auto q = tarn::test::decodeForm(url.substr(url.find('?') + 1));
             get("http://127.0.0.1:" + std::to_string(port) +
                 "/?error=access_denied&error_description=User+said+no&state=" +
                 tarn::formEncode(q.at("state")));
         },
         "The provider refused the sign-in: access_denied (User said no)."},
    };
    writeIni();
    for (const BrowserCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun r = runTool(dir, "--sign-in 1 --no-browser",
                                  [&](const std::string& url) { c.act(url, portOf(url)); });
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(stored("OAuthToken"), "");
        EXPECT_EQ(auth.tokenRequests(), 0);
    }
}

TEST_F(SignIn, AnAccountWithoutClientIdFailsBeforeAnyBrowser) {
    settings.Accounts[0].OAuthClientID.clear();
    writeIni();
    bool browsed = false;
    const ToolRun r =
        runTool(dir, "--sign-in 1 --no-browser", [&](const std::string&) { browsed = true; });
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(browsed);
    EXPECT_NE(r.err.find("No OAuth 2.0 client ID is set"), std::string::npos) << r.err;
}

} // namespace
