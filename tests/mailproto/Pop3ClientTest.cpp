#include "mailproto/Pop3Client.h"

#include <gtest/gtest.h>

#include <functional>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::Pop3Client;
using tarn::TarnError;
using tarn::test::errorOf;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;

namespace {

class Pop3Fake : public ::testing::Test {
protected:
    void SetUp() override {
        srv.setGreeting("+OK POP3 ready\r\n");
        srv.on("USER bob", "+OK\r\n");
        srv.on("PASS secret", "+OK Logged in.\r\n");
        srv.onPrefix("PASS ", "-ERR [AUTH] Authentication failed.\r\n");
        srv.setUnmatchedReply("-ERR Unknown command\r\n");
    }

    std::unique_ptr<Pop3Client> makeClient(std::string password = "secret") {
        auto conn = std::make_unique<tarn::LineConnection>();
        conn->setReadTimeout(5s);
        conn->setConnectTimeout(5s);
        auto c = std::make_unique<Pop3Client>(std::move(conn));
        c->setHost("127.0.0.1");
        c->setPort(srv.port());
        c->setUser("bob");
        c->setPassword(std::move(password));
        return c;
    }

    std::unique_ptr<Pop3Client> loggedIn() {
        auto c = makeClient();
        c->Connect();
        return c;
    }

    ScriptedServer srv;
};

TEST_F(Pop3Fake, LogsInWithUserAndPassAndQuitsWithoutWaiting) {
    srv.on("QUIT", "", After::Stall); // never answers QUIT
    auto c = loggedIn();
    EXPECT_TRUE(c->Connected());
    c->Disconnect();
    EXPECT_FALSE(c->Connected());
    EXPECT_TRUE(srv.waitForLine("QUIT"));
    EXPECT_EQ(srv.received(),
              (std::vector<std::string>{"CAPA", "USER bob", "PASS secret", "QUIT"}));
    c->Disconnect(); // closed already: nothing more is sent
    EXPECT_TRUE(srv.waitForClosed(1));
    EXPECT_EQ(srv.received().size(), 4u);
}

struct LoginFailure {
    const char* name;
    std::string greeting;
    std::string userReply;
    std::string password;
    std::string error;
    std::vector<std::string> sent; // everything the server saw, QUIT included
};

class Pop3LoginFailure : public Pop3Fake, public ::testing::WithParamInterface<LoginFailure> {};

// Every refusal after the TCP connection fails Connect with the server's text, and the
// client still says QUIT and closes.
TEST_P(Pop3LoginFailure, FailsWithServerTextAndQuits) {
    const auto& p = GetParam();
    srv.setGreeting(p.greeting);
    if (!p.userReply.empty()) {
        srv.clearRules();
        srv.on("USER bob", p.userReply);
    }
    auto c = makeClient(p.password);
    EXPECT_EQ(errorOf([&] { c->Connect(); }), p.error);
    EXPECT_FALSE(c->Connected());
    EXPECT_TRUE(srv.waitForLine("QUIT"));
    EXPECT_EQ(srv.received(), p.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pop3LoginFailure,
    ::testing::Values(LoginFailure{"WrongPassword",
                                   "+OK ready\r\n",
                                   "",
                                   "nope",
                                   "[AUTH] Authentication failed.",
                                   {"CAPA", "USER bob", "PASS nope", "QUIT"}},
                      LoginFailure{
                          "GreetingErr", "-ERR go away\r\n", "", "secret", "go away", {"QUIT"}},
                      LoginFailure{"UserErr",
                                   "+OK ready\r\n",
                                   "-ERR no such user\r\n",
                                   "secret",
                                   "no such user",
                                   {"CAPA", "USER bob", "QUIT"}},
                      LoginFailure{"GarbageGreeting",
                                   "HELLO there\r\n",
                                   "",
                                   "secret",
                                   "Unrecognized POP3 Response Header:\n\"O there\"",
                                   {"QUIT"}},
                      LoginFailure{"BareErr", "-ERR\r\n", "", "secret", "-ERR", {"QUIT"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3Fake, ConnectRefusedFailsWithoutAnyDialogue) {
    int port;
    {
        ScriptedServer gone;
        port = gone.port();
    }
    auto c = makeClient();
    c->setPort(port);
    EXPECT_NE(errorOf([&] { c->Connect(); }).find("Could not connect"), std::string::npos);
    EXPECT_FALSE(c->Connected());
}

TEST_F(Pop3Fake, PasswordOrUserThatWouldSplitTheCommandFailsBeforeAnyDialogue) {
    const std::pair<std::string, std::string> cases[] = {
        {"bob", "sec\r\nDELE 1"},
        {"bob", std::string("sec\0ret", 7)},
        {"bob\nDELE 1", "secret"},
    };
    for (const auto& [user, password] : cases) {
        auto c = makeClient(password);
        c->setUser(user);
        EXPECT_NE(errorOf([&] { c->Connect(); }).find("cannot contain a line break"),
                  std::string::npos);
        EXPECT_FALSE(c->Connected());
    }
    EXPECT_TRUE(srv.received().empty());
}

TEST_F(Pop3Fake, ServerClosingAfterGreetingFailsConnect) {
    srv.setGreeting("+OK ready\r\n", After::Close);
    auto c = makeClient();
    EXPECT_EQ(errorOf([&] { c->Connect(); }), "Connection Closed Gracefully.");
    EXPECT_FALSE(c->Connected());
}

struct CountCase {
    const char* name;
    std::string reply;
    int expected; // -1: the operation fails
};

class Pop3Count : public Pop3Fake, public ::testing::WithParamInterface<CountCase> {};

TEST_P(Pop3Count, ReadsTheCountBeforeTheFirstSpace) {
    srv.on("STAT", GetParam().reply);
    srv.on("NOOP", "+OK\r\n");
    auto c = loggedIn();
    if (GetParam().expected >= 0)
        EXPECT_EQ(c->MessageCount(), GetParam().expected);
    else
        EXPECT_NE(errorOf([&] { c->MessageCount(); }), "<no error>");
    // The reply was consumed whole: the dialogue stays in step.
    c->connection().WriteLn("NOOP");
    EXPECT_EQ(c->connection().ReadLn(), "+OK");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pop3Count,
    ::testing::Values(CountCase{"Normal", "+OK 2 320\r\n", 2}, CountCase{"NoText", "+OK\r\n", 0},
                      CountCase{"LowerCase", "+ok 3 4500\r\n", 3},
                      CountCase{"EmptyLinesAndSpaces", "\r\n   \r\n  +OK 4 10  \r\n", 4},
                      CountCase{"CountWithoutTotal", "+OK 3\r\n", -1},
                      CountCase{"NotANumber", "+OK x 5\r\n", -1},
                      CountCase{"Negative", "+OK -1 5\r\n", -1},
                      CountCase{"Err", "-ERR locked\r\n", -1},
                      CountCase{"Garbage", "* OK imap?\r\n", -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3Fake, ErrorsCarryTheServerText) {
    srv.on("STAT", "-ERR [IN-USE] Mailbox locked\r\n");
    srv.on("DELE 7", "-ERR no such message\r\n");
    srv.on("TOP 9 0", "-ERR gone\r\n");
    srv.on("LIST 4", "-ERR nope\r\n");
    auto c = loggedIn();
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }), "[IN-USE] Mailbox locked");
    EXPECT_EQ(errorOf([&] { c->DeleteMessage(7); }), "no such message");
    EXPECT_EQ(errorOf([&] { c->FetchHeader(9); }), "gone");
    EXPECT_EQ(errorOf([&] { c->MessageSize(4); }), "nope");
    EXPECT_EQ(c->LastReply().status, tarn::Pop3Reply::Status::Error);
}

TEST_F(Pop3Fake, UnrecognizedReplyQuotesItsText) {
    srv.on("STAT", "HELLO world\r\n");
    auto c = loggedIn();
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }),
              "Unrecognized POP3 Response Header:\n\"O world\"");
}

TEST_F(Pop3Fake, ContinuationLinesBelongToOneReply) {
    // "+OK-" is no status word, so such a reply is refused, but all its lines are consumed.
    srv.on("STAT", ScriptedServer::lines({"+OK-first", "middle line", "+OK last"}));
    srv.on("DELE 1", "+OK deleted\r\n");
    auto c = loggedIn();
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }),
              "Unrecognized POP3 Response Header:\n\"first\nle line\nlast\"");
    EXPECT_NO_THROW(c->DeleteMessage(1));
    EXPECT_EQ(c->LastReply().textLines, std::vector<std::string>{"deleted"});
}

struct TotalCase {
    const char* name;
    std::string reply;
    After after;
    std::int64_t expected;
};

class Pop3Total : public Pop3Fake, public ::testing::WithParamInterface<TotalCase> {};

TEST_P(Pop3Total, SumsTheListing) {
    srv.on("LIST", GetParam().reply, GetParam().after);
    auto c = loggedIn();
    EXPECT_EQ(c->MailboxTotal(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Pop3Total,
    ::testing::Values(
        TotalCase{"Normal",
                  ScriptedServer::lines({"+OK 3 messages", "1 100", "2 200", "3 50", "."}),
                  After::Continue, 350},
        TotalCase{"NonNumericSizeCountsZero",
                  ScriptedServer::lines({"+OK", "1 100", "2 abc", "3", "4 50", "."}),
                  After::Continue, 150},
        TotalCase{"ExtraTextAfterSize", ScriptedServer::lines({"+OK", "1 100 x", "2 20", "."}),
                  After::Continue, 120},
        TotalCase{"EmptyListing", ScriptedServer::lines({"+OK", "."}), After::Continue, 0},
        TotalCase{"Err", "-ERR no\r\n", After::Continue, -1},
        TotalCase{"ClosedMidListing", ScriptedServer::lines({"+OK", "1 100", "2 200"}),
                  After::Close, -1},
        TotalCase{"OverlongLine", "+OK\r\n1 " + std::string(1100, '9') + "\r\n.\r\n",
                  After::Continue, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pop3Fake, UniqueIdListingUnstuffsOnlyALeadingDoubleDot) {
    srv.on("UIDL", ScriptedServer::lines({"+OK", "1 abc", "2 ..def", "..x", "...", "."}));
    auto c = loggedIn();
    EXPECT_EQ(c->UniqueIdListing(), (std::vector<std::string>{"1 abc", "2 ..def", ".x", ".."}));
}

TEST_F(Pop3Fake, UniqueIdListingRefusedIsEmptyNotAFailure) {
    srv.on("UIDL", "-ERR not supported\r\n");
    srv.on("STAT", "+OK 1 10\r\n");
    auto c = loggedIn();
    EXPECT_TRUE(c->UniqueIdListing().empty());
    EXPECT_EQ(c->MessageCount(), 1);
}

TEST_F(Pop3Fake, MessageSize) {
    srv.on("LIST 1", "+OK 1 320\r\n");
    srv.on("LIST 2", "+OK 2 abc\r\n");
    srv.on("LIST 3", "+OK\r\n");
    srv.on("LIST 4", "+OK 4 99 extra\r\n");
    srv.on("LIST 5", "+OK 320\r\n");
    auto c = loggedIn();
    EXPECT_EQ(c->MessageSize(1), 320);
    EXPECT_EQ(c->MessageSize(2), -1);
    EXPECT_EQ(c->MessageSize(3), -1);
    EXPECT_EQ(c->MessageSize(4), 99);
    EXPECT_EQ(c->MessageSize(5), -1);
}

TEST_F(Pop3Fake, FetchHeaderDropsEmptyLinesAndKeepsDots) {
    srv.on("TOP 2 0", ScriptedServer::lines(
                          {"+OK", "Subject: hi", " folded", "", "..odd", "From: a@b", "", "."}));
    auto c = loggedIn();
    EXPECT_EQ(c->FetchHeader(2),
              (std::vector<std::string>{"Subject: hi", " folded", "..odd", "From: a@b"}));
}

TEST_F(Pop3Fake, FetchMessageSplitsHeaderAndUnstuffedBody) {
    srv.on("RETR 1", ScriptedServer::lines({"+OK 50 octets", "Subject: hi", "From: a@b", "", "body",
                                            "", "..leading dot", "...", "."}));
    srv.on("RETR 2", ScriptedServer::lines({"+OK", "Subject: only header", "."}));
    srv.on("RETR 3", "-ERR no such message\r\n");
    auto c = loggedIn();

    auto m1 = c->FetchMessage(1);
    ASSERT_TRUE(m1);
    EXPECT_EQ(m1->headerLines, (std::vector<std::string>{"Subject: hi", "From: a@b"}));
    EXPECT_TRUE(m1->hasBody);
    EXPECT_EQ(m1->bodyLines, (std::vector<std::string>{"body", "", ".leading dot", ".."}));

    auto m2 = c->FetchMessage(2);
    ASSERT_TRUE(m2);
    EXPECT_EQ(m2->headerLines, std::vector<std::string>{"Subject: only header"});
    EXPECT_FALSE(m2->hasBody);

    EXPECT_FALSE(c->FetchMessage(3));
}

// An over-long line ruins the connection for the rest of the check, but QUIT still goes out.
TEST_F(Pop3Fake, OverlongMessageLineFailsTheRestButStillQuits) {
    srv.on("RETR 1", "+OK\r\nSubject: x\r\n\r\n" + std::string(1025, 'b') + "\r\n.\r\n");
    srv.on("STAT", "+OK 1 2000\r\n");
    auto c = loggedIn();
    EXPECT_EQ(errorOf([&] { c->FetchMessage(1); }), "Max line length exceeded.");
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }), "Max line length exceeded.");
    EXPECT_EQ(c->MailboxTotal(), -1);
    c->Disconnect();
    EXPECT_TRUE(srv.waitForLine("QUIT"));
    EXPECT_FALSE(c->Connected());
}

TEST_F(Pop3Fake, StalledServerTimesOutAndQuitIsStillSent) {
    srv.on("STAT", "", After::Stall);
    auto c = loggedIn();
    c->connection().setReadTimeout(200ms);
    EXPECT_NE(errorOf([&] { c->MessageCount(); }).find("timed out"), std::string::npos);
    c->Disconnect();
    EXPECT_TRUE(srv.waitForLine("QUIT"));
}

TEST_F(Pop3Fake, DeleteSendsTheNumber) {
    srv.onPrefix("DELE ", "+OK marked\r\n");
    auto c = loggedIn();
    c->DeleteMessage(12);
    c->Disconnect();
    ASSERT_TRUE(srv.waitForLine("QUIT"));
    auto r = srv.received();
    EXPECT_EQ(std::vector<std::string>(r.begin() + 3, r.end()),
              (std::vector<std::string>{"DELE 12", "QUIT"}));
}

} // namespace
