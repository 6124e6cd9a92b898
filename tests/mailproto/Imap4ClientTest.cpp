#include "mailproto/Imap4Client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/TarnError.h"
#include "fakes/ErrorOf.h"

namespace tarn {
namespace {

using namespace std::chrono_literals;
using test::errorOf;

// In-memory IMAP4 server: queues canned bytes, answers each command line the client writes
// from rules keyed to the command (the tag is stripped before matching and "{TAG}" in a
// reply becomes the client's tag). Nothing queued means the read times out at once.
struct ServerScript {
    struct Rule {
        std::string command; // matched against the line after the tag
        bool prefix = false;
        std::string reply;
        bool closeAfter = false;
    };

    std::string greeting = "* OK [CAPABILITY IMAP4rev1] Service Ready\r\n";
    std::vector<Rule> rules;
    std::size_t chunk = 0; // hand out at most this many bytes per read (0: all)
    bool refuseConnect = false;

    // Observed.
    std::vector<std::string> written;
    std::string host;
    int port = 0;
    std::chrono::milliseconds connectTimeout{0};
    int connects = 0;
    int closes = 0;

    // Transport state.
    std::string pending;
    bool open = false;
    bool peerClosed = false;
    std::string partial;

    ServerScript& on(std::string command, std::string reply, bool closeAfter = false) {
        rules.push_back({std::move(command), false, std::move(reply), closeAfter});
        return *this;
    }
    ServerScript& onPrefix(std::string command, std::string reply) {
        rules.push_back({std::move(command), true, std::move(reply), false});
        return *this;
    }
    void receive(const std::string& line) {
        written.push_back(line);
        const std::size_t sp = line.find(' ');
        const std::string tag = sp == std::string::npos ? line : line.substr(0, sp);
        const std::string cmd = sp == std::string::npos ? "" : line.substr(sp + 1);
        for (const Rule& r : rules) {
            if (r.prefix ? cmd.rfind(r.command, 0) == 0 : cmd == r.command) {
                std::string reply = r.reply;
                for (std::size_t at; (at = reply.find("{TAG}")) != std::string::npos;) {
                    reply.replace(at, 5, tag);
                }
                pending += reply;
                if (r.closeAfter) {
                    peerClosed = true;
                }
                return;
            }
        }
    }
};

class ScriptTransport : public Transport {
public:
    explicit ScriptTransport(std::shared_ptr<ServerScript> s) : m_s(std::move(s)) {}

    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override {
        m_s->host = host;
        m_s->port = port;
        m_s->connectTimeout = timeout;
        ++m_s->connects;
        if (m_s->refuseConnect) {
            throw TarnError("Connect timed out.");
        }
        m_s->open = true;
        m_s->peerClosed = false;
        m_s->pending = m_s->greeting;
    }
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds) override {
        if (m_s->pending.empty()) {
            if (m_s->peerClosed) {
                return 0;
            }
            throw TarnError("Read timed out.");
        }
        std::size_t k = std::min(n, m_s->pending.size());
        if (m_s->chunk > 0) {
            k = std::min(k, m_s->chunk);
        }
        m_s->pending.copy(buf, k);
        m_s->pending.erase(0, k);
        return k;
    }
    void writeAll(std::string_view data, std::chrono::milliseconds) override {
        m_s->partial.append(data);
        for (std::size_t nl; (nl = m_s->partial.find("\r\n")) != std::string::npos;) {
            const std::string line = m_s->partial.substr(0, nl);
            m_s->partial.erase(0, nl + 2);
            m_s->receive(line);
        }
    }
    void close() override {
        if (m_s->open) {
            ++m_s->closes;
        }
        m_s->open = false;
    }
    bool isOpen() const override { return m_s->open; }

private:
    std::shared_ptr<ServerScript> m_s;
};

const std::string kOk = "{TAG} OK done\r\n";

std::string wrongState(const char* state) {
    return std::string("Unable to execute command, wrong connection state;Current connection "
                       "state: ") +
           state + ".";
}

class Imap4ClientTest : public ::testing::Test {
protected:
    Imap4ClientTest() : s(std::make_shared<ServerScript>()) {
        s->on("LOGIN bob secret", "{TAG} OK Logged in\r\n");
        s->on("LOGOUT", "* BYE Logging out\r\n{TAG} OK Logout completed.\r\n", true);
    }

    std::unique_ptr<Imap4Client> makeClient() {
        auto c = std::make_unique<Imap4Client>(std::make_unique<ScriptTransport>(s));
        c->setHost("127.0.0.1");
        c->setUser("bob");
        c->setPassword("secret");
        return c;
    }

    // Connected, logged in and INBOX selected with `exists` messages.
    std::unique_ptr<Imap4Client> selected(int exists) {
        s->on("SELECT \"INBOX\"", "* " + std::to_string(exists) +
                                      " EXISTS\r\n* 0 RECENT\r\n{TAG} OK [READ-WRITE] done\r\n");
        auto c = makeClient();
        c->Connect();
        c->SelectMailbox("INBOX");
        s->written.clear();
        return c;
    }

    std::shared_ptr<ServerScript> s;
};

// ---------------------------------------------------------------------------------------
// Greeting and login

struct GreetingCase {
    const char* name;
    std::string greeting;
    const char* error; // nullptr: connects
};

void PrintTo(const GreetingCase& c, std::ostream* os) {
    *os << c.name;
}

class Imap4GreetingTest : public Imap4ClientTest,
                          public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(Imap4GreetingTest, OnlyOkGreetingLeadsToLogin) {
    const GreetingCase& gc = GetParam();
    s->greeting = gc.greeting;
    // Without capabilities in the greeting the client asks before it logs in.
    s->on("CAPABILITY", "* CAPABILITY IMAP4rev1\r\n{TAG} OK\r\n");
    auto c = makeClient();
    if (gc.error == nullptr) {
        c->Connect();
        const bool listed = gc.greeting.find("CAPABILITY") != std::string::npos;
        const std::vector<std::string> expected =
            listed ? std::vector<std::string>{"C1 LOGIN bob secret"}
                   : std::vector<std::string>{"C1 CAPABILITY", "C2 LOGIN bob secret"};
        EXPECT_EQ(s->written, expected);
        EXPECT_EQ(c->state(), Imap4Client::State::Authenticated);
        EXPECT_TRUE(c->Connected());
    } else {
        EXPECT_EQ(errorOf([&] { c->Connect(); }), gc.error);
        EXPECT_TRUE(s->written.empty()) << "no LOGIN after a refused greeting";
        EXPECT_FALSE(c->Connected());
        EXPECT_EQ(c->state(), Imap4Client::State::NotAuthenticated);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Greetings, Imap4GreetingTest,
    ::testing::Values(
        GreetingCase{"Ok", "* OK [CAPABILITY IMAP4rev1] Dovecot ready.\r\n", nullptr},
        GreetingCase{"OkLowerCase", "* ok hello\r\n", nullptr},
        GreetingCase{"OkAfterEmptyLines", "\r\n  \r\n* OK ready\r\n", nullptr},
        GreetingCase{"Preauth", "* PREAUTH logged in already\r\n",
                     "Unrecognized IMAP4 Response Header."},
        GreetingCase{"Bye", "* BYE too many connections\r\n",
                     "Unrecognized IMAP4 Response Header."},
        GreetingCase{"No", "* NO not today\r\n", "not today"},
        GreetingCase{"Garbage", "SSH-2.0-OpenSSH_9.2\r\n", "Unrecognized IMAP4 Response Header."},
        GreetingCase{"Pop3", "+OK POP3 ready\r\n", "Unrecognized IMAP4 Response Header."},
        GreetingCase{"Silent", "", "Read timed out."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Imap4ClientTest, LoginIsSentUnquotedSoASpaceInThePasswordSplitsIt) {
    s->on("LOGIN bob pass word", "{TAG} BAD Error in IMAP command LOGIN: Unexpected string\r\n");
    auto c = makeClient();
    c->setPassword("pass word");
    EXPECT_EQ(errorOf([&] { c->Connect(); }), "Error in IMAP command LOGIN: Unexpected string");
    ASSERT_GE(s->written.size(), 1u);
    EXPECT_EQ(s->written[0], "C1 LOGIN bob pass word");
}

TEST_F(Imap4ClientTest, RefusedLoginLogsOutClosesAndCarriesServerText) {
    s->rules.clear();
    s->on("LOGIN bob secret",
          "* OK hint\r\n{TAG} NO [AUTHENTICATIONFAILED] Authentication failed.\r\n");
    auto c = makeClient();
    const std::string err = errorOf([&] { c->Connect(); });
    EXPECT_NE(err.find("[AUTHENTICATIONFAILED] Authentication failed."), std::string::npos) << err;
    EXPECT_EQ(s->written, (std::vector<std::string>{"C1 LOGIN bob secret", "C2 LOGOUT"}));
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->state(), Imap4Client::State::NotAuthenticated);
    EXPECT_EQ(c->lastReply().status, "NO");
}

TEST_F(Imap4ClientTest, LineBreakInCredentialsIsRefusedBeforeConnecting) {
    auto c = makeClient();
    c->setPassword("x\r\nC9 DELETE INBOX");
    EXPECT_NE(errorOf([&] { c->Connect(); }).find("line break"), std::string::npos);
    EXPECT_EQ(s->connects, 0);
    EXPECT_TRUE(s->written.empty());
}

TEST_F(Imap4ClientTest, ConnectTimeoutIsPassedOnAndItsFailureRaised) {
    s->refuseConnect = true;
    auto c = makeClient();
    c->setPort(10143);
    c->setConnectTimeout(60ms);
    EXPECT_EQ(errorOf([&] { c->Connect(); }), "Connect timed out.");
    EXPECT_EQ(s->port, 10143);
    EXPECT_EQ(s->connectTimeout, 60ms);
}

TEST_F(Imap4ClientTest, TagsRestartAtC1OnEveryConnection) {
    auto c = makeClient();
    EXPECT_EQ(c->stateName(c->state()), std::string("not authenticated"));
    c->Connect();
    c->Disconnect();
    c->Connect();
    EXPECT_EQ(s->written, (std::vector<std::string>{"C1 LOGIN bob secret", "C2 LOGOUT",
                                                    "C1 LOGIN bob secret"}));
    EXPECT_EQ(s->port, Imap4Client::kDefaultPort);
}

// ---------------------------------------------------------------------------------------
// Connection state

TEST_F(Imap4ClientTest, OperationsOutsideTheirStateFailWithoutSendingAnything) {
    auto c = makeClient();
    EXPECT_EQ(errorOf([&] { c->SelectMailbox("INBOX"); }), wrongState("not authenticated"));
    EXPECT_EQ(errorOf([&] { c->ListMailboxes({"."}); }), wrongState("not authenticated"));
    EXPECT_EQ(s->connects, 0);

    c->Connect();
    s->written.clear();
    const std::vector<std::pair<const char*, std::function<void()>>> needSelected = {
        {"MessageCount", [&] { c->MessageCount(); }},
        {"MailboxTotal", [&] { c->MailboxTotal(); }},
        {"MessageSize", [&] { c->MessageSize(1); }},
        {"FetchEnvelope", [&] { c->FetchEnvelope(1); }},
        {"FetchMessage", [&] { c->FetchMessage(1); }},
        {"AddFlag", [&] { c->AddFlag(1, "\\Seen"); }},
        {"DeleteMessage", [&] { c->DeleteMessage(1); }},
        {"Expunge", [&] { c->Expunge(); }},
    };
    for (const auto& [name, op] : needSelected) {
        EXPECT_EQ(errorOf(op), wrongState("authenticated")) << name;
    }
    EXPECT_TRUE(s->written.empty());
}

TEST_F(Imap4ClientTest, DisconnectLogsOutClosesAndFailsWhenNotOpen) {
    auto c = selected(2);
    c->Disconnect();
    EXPECT_EQ(s->written, (std::vector<std::string>{"C3 LOGOUT"}));
    EXPECT_FALSE(c->Connected());
    EXPECT_EQ(c->state(), Imap4Client::State::NotAuthenticated);
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }), wrongState("not authenticated"));
    EXPECT_EQ(errorOf([&] { c->Disconnect(); }), "Not connected.");
}

TEST_F(Imap4ClientTest, ServerClosingAfterByeStillCountsAsLoggedOut) {
    s->rules.clear();
    s->on("LOGIN bob secret", "{TAG} OK Logged in\r\n");
    s->on("LOGOUT", "* BYE see you\r\n", true);
    auto c = makeClient();
    c->Connect();
    EXPECT_NO_THROW(c->Disconnect());
    EXPECT_FALSE(c->Connected());
}

TEST_F(Imap4ClientTest, ContinuationRequestFailsInsteadOfPassingForSuccess) {
    s->rules.clear();
    s->on("LOGIN bob pw{3}", "+ Ready for argument\r\n");
    auto c = makeClient();
    c->setPassword("pw{3}");
    EXPECT_NE(errorOf([&] { c->Connect(); }).find("continuation"), std::string::npos);
    EXPECT_NE(c->state(), Imap4Client::State::Authenticated);
}

TEST_F(Imap4ClientTest, StalledReplyDropsTheConnectionSoNoLaterReplyIsMisread) {
    auto c = selected(3);
    s->on("FETCH 1 (RFC822.SIZE)", "* 1 FETCH (RFC8"); // cut off, then silence
    EXPECT_EQ(errorOf([&] { c->MessageSize(1); }), "Read timed out.");
    EXPECT_FALSE(c->Connected());
    EXPECT_THROW(c->MessageCount(), TarnError);
}

TEST_F(Imap4ClientTest, UnexpectedLineAndUnknownStatusAreRejected) {
    auto c = selected(1);
    s->on("EXPUNGE", "hello there\r\n");
    s->onPrefix("STORE ", "{TAG} MAYBE later\r\n");
    EXPECT_EQ(errorOf([&] { c->AddFlag(1, "\\Seen"); }), "Unrecognized IMAP4 Response Header.");
    EXPECT_FALSE(c->Connected());

    auto d = selected(1);
    EXPECT_EQ(errorOf([&] { d->Expunge(); }), "Unrecognized IMAP4 Response Header.");
}

// ---------------------------------------------------------------------------------------
// SELECT

TEST_F(Imap4ClientTest, SelectQuotesTheNameAndReadsTheMailboxData) {
    s->on("SELECT \"My \\\"Box\\\\x\"",
          "* FLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft)\r\n"
          "* OK [PERMANENTFLAGS (\\Answered \\Flagged \\Deleted \\Seen \\Draft \\*)] Limited\r\n"
          "* 172 EXISTS\r\n"
          "* 3 RECENT\r\n"
          "* OK [UNSEEN 12] Message 12 is first unseen\r\n"
          "* OK [UIDVALIDITY 3857529045] UIDs valid\r\n"
          "* OK [UIDNEXT 4392] Predicted next UID\r\n"
          "* OK [ALERT] Quota nearly full\r\n"
          "{TAG} OK [READ-WRITE] Select completed.\r\n");
    auto c = makeClient();
    c->Connect();
    const ImapMailboxData& m = c->SelectMailbox("My \"Box\\x");
    EXPECT_EQ(s->written.back(), "C2 SELECT \"My \\\"Box\\\\x\"");
    EXPECT_EQ(m.exists, 172);
    EXPECT_EQ(c->MessageCount(), 172);
    EXPECT_EQ(m.recent, 3);
    EXPECT_EQ(m.unseen, 12);
    EXPECT_EQ(m.uidValidity, 3857529045LL);
    EXPECT_EQ(m.uidNext, 4392);
    EXPECT_EQ(m.flags, (std::vector<std::string>{"\\Answered", "\\Flagged", "\\Deleted", "\\Seen",
                                                 "\\Draft"}));
    EXPECT_EQ(m.permanentFlags, (std::vector<std::string>{"\\Answered", "\\Flagged", "\\Deleted",
                                                          "\\Seen", "\\Draft", "\\*"}));
    EXPECT_FALSE(m.readOnly);
    EXPECT_EQ(m.alert, "Quota nearly full");
    EXPECT_EQ(c->state(), Imap4Client::State::Selected);
}

TEST_F(Imap4ClientTest, SelectWithSpacesReadOnlyAndNoExistsLine) {
    s->on("SELECT \"Old Mail\"", "{TAG} OK [READ-ONLY] Examine completed.\r\n");
    auto c = makeClient();
    c->Connect();
    const ImapMailboxData& m = c->SelectMailbox("Old Mail");
    EXPECT_EQ(m.exists, 0);
    EXPECT_TRUE(m.readOnly);
    EXPECT_EQ(c->MailboxTotal(), 0);
    EXPECT_EQ(s->written.back(), "C2 SELECT \"Old Mail\"") << "no FETCH for an empty mailbox";
}

TEST_F(Imap4ClientTest, RefusedSelectFailsAndLeavesNoMailboxSelected) {
    auto c = selected(5);
    s->on("SELECT \"Nope\"", "{TAG} NO Mailbox doesn't exist: Nope\r\n");
    EXPECT_EQ(errorOf([&] { c->SelectMailbox("Nope"); }), "Mailbox doesn't exist: Nope");
    EXPECT_EQ(c->state(), Imap4Client::State::Authenticated);
    EXPECT_EQ(errorOf([&] { c->MessageCount(); }), wrongState("authenticated"));
    EXPECT_TRUE(c->Connected());
}

// ---------------------------------------------------------------------------------------
// Sizes

struct TotalCase {
    const char* name;
    std::string listing; // untagged lines of the reply to FETCH 1:3 (RFC822.SIZE)
    std::int64_t total;
};

void PrintTo(const TotalCase& c, std::ostream* os) {
    *os << c.name;
}

class Imap4TotalTest : public Imap4ClientTest, public ::testing::WithParamInterface<TotalCase> {};

TEST_P(Imap4TotalTest, SumsOnlyAListingOfExactlyTheExpectedForm) {
    auto c = selected(3);
    s->on("FETCH 1:3 (RFC822.SIZE)", GetParam().listing + "{TAG} OK Fetch completed.\r\n");
    EXPECT_EQ(c->MailboxTotal(), GetParam().total);
    EXPECT_EQ(s->written, (std::vector<std::string>{"C3 FETCH 1:3 (RFC822.SIZE)"}));
}

INSTANTIATE_TEST_SUITE_P(
    Totals, Imap4TotalTest,
    ::testing::Values(
        TotalCase{"Fits",
                  "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE 2500)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  2607},
        TotalCase{"LowerCase",
                  "* 1 fetch (rfc822.size 1)\r\n* 2 FETCH (RFC822.SIZE 2)\r\n"
                  "* 3 FETCH (RFC822.SIZE 3)\r\n",
                  6},
        TotalCase{"ExistsInTheMiddle",
                  "* 1 FETCH (RFC822.SIZE 100)\r\n* 4 EXISTS\r\n* 2 FETCH (RFC822.SIZE 2500)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  0},
        TotalCase{"OutOfOrder",
                  "* 2 FETCH (RFC822.SIZE 100)\r\n* 1 FETCH (RFC822.SIZE 2500)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  0},
        TotalCase{"DoubleSpace",
                  "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH  (RFC822.SIZE 2500)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  0},
        TotalCase{"NotANumber",
                  "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE big)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  0},
        TotalCase{"OtherItemFirst",
                  "* 1 FETCH (FLAGS (\\Seen) RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE 2)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n",
                  0},
        TotalCase{"ExtraLineAfterTheLast",
                  "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE 2)\r\n"
                  "* 3 FETCH (RFC822.SIZE 7)\r\n* 4 EXISTS\r\n",
                  0},
        TotalCase{"LineMissing", "* 1 FETCH (RFC822.SIZE 100)\r\n* 2 FETCH (RFC822.SIZE 2)\r\n", 0},
        TotalCase{"LargeSizes",
                  "* 1 FETCH (RFC822.SIZE 999999999999999999)\r\n"
                  "* 2 FETCH (RFC822.SIZE 999999999999999999)\r\n"
                  "* 3 FETCH (RFC822.SIZE 999999999999999999)\r\n",
                  2999999999999999997}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Imap4ClientTest, RefusedSizeListingFails) {
    auto c = selected(2);
    s->on("FETCH 1:2 (RFC822.SIZE)", "{TAG} BAD Invalid messageset\r\n");
    EXPECT_EQ(errorOf([&] { c->MailboxTotal(); }), "Invalid messageset");
}

TEST_F(Imap4ClientTest, MessageSizeReadsTheSizeOrGivesMinusOne) {
    auto c = selected(9);
    s->on("FETCH 4 (RFC822.SIZE)", "* 4 FETCH (RFC822.SIZE 1234)\r\n{TAG} OK done\r\n");
    s->on("FETCH 5 (RFC822.SIZE)", "* 5 FETCH (RFC822.SIZE x1)\r\n{TAG} OK done\r\n");
    s->on("FETCH 6 (RFC822.SIZE)", "* 7 FETCH (RFC822.SIZE 10)\r\n{TAG} OK done\r\n");
    s->on("FETCH 7 (RFC822.SIZE)", "* 7 FETCH (RFC822.SIZE (10\r\n{TAG} OK done\r\n");
    s->on("FETCH 8 (RFC822.SIZE)", "{TAG} NO no such message\r\n");
    EXPECT_EQ(c->MessageSize(4), 1234);
    EXPECT_EQ(c->MessageSize(5), -1);
    EXPECT_EQ(c->MessageSize(6), -1);
    EXPECT_EQ(c->MessageSize(7), -1);
    EXPECT_EQ(errorOf([&] { c->MessageSize(8); }), "no such message");
    EXPECT_TRUE(c->Connected());
}

// ---------------------------------------------------------------------------------------
// Envelope

struct EnvelopeCase {
    const char* name;
    std::string reply; // untagged part of the reply to FETCH 2 (ENVELOPE)
    std::string date, subject, fromName, fromAddress, messageId;
};

void PrintTo(const EnvelopeCase& c, std::ostream* os) {
    *os << c.name;
}

class Imap4EnvelopeTest : public Imap4ClientTest,
                          public ::testing::WithParamInterface<EnvelopeCase> {};

TEST_P(Imap4EnvelopeTest, ReadsDateSubjectFirstSenderAndMessageId) {
    const EnvelopeCase& ec = GetParam();
    auto c = selected(3);
    s->chunk = 5; // lines and literals arrive in small pieces
    s->on("FETCH 2 (ENVELOPE)", ec.reply + "{TAG} OK Fetch completed.\r\n");
    s->onPrefix("STORE ", kOk);
    const ImapEnvelope env = c->FetchEnvelope(2);
    EXPECT_EQ(s->written.front(), "C3 FETCH 2 (ENVELOPE)");
    EXPECT_EQ(env.date, ec.date);
    EXPECT_EQ(env.subject, ec.subject);
    EXPECT_EQ(env.firstFrom().name, ec.fromName);
    EXPECT_EQ(env.firstFrom().address(), ec.fromAddress);
    EXPECT_EQ(env.messageId, ec.messageId);
    // The whole reply was consumed: the next command reads its own answer.
    c->AddFlag(2, "\\Seen");
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, Imap4EnvelopeTest,
    ::testing::Values(
        EnvelopeCase{
            "Plain",
            "* 2 FETCH (ENVELOPE (\"Wed, 17 Jul 1996 02:23:25 -0700 (PDT)\" "
            "\"IMAP4rev1 WG mtg summary and minutes\" "
            "((\"Terry Gray\" NIL \"gray\" \"cac.washington.edu\")) "
            "((\"Terry Gray\" NIL \"gray\" \"cac.washington.edu\")) "
            "((\"Terry Gray\" NIL \"gray\" \"cac.washington.edu\")) "
            "((NIL NIL \"imap\" \"cac.washington.edu\")) "
            "((NIL NIL \"minutes\" \"CNRI.Reston.VA.US\")(\"John Klensin\" NIL \"KLENSIN\" "
            "\"MIT.EDU\")) NIL NIL \"<B27397-0100000@cac.washington.edu>\"))\r\n",
            "Wed, 17 Jul 1996 02:23:25 -0700 (PDT)", "IMAP4rev1 WG mtg summary and minutes",
            "Terry Gray", "gray@cac.washington.edu", "<B27397-0100000@cac.washington.edu>"},
        EnvelopeCase{"NilEverywhere",
                     "* 2 FETCH (ENVELOPE (NIL NIL NIL NIL NIL NIL NIL NIL NIL NIL))\r\n", "", "",
                     "", "", ""},
        EnvelopeCase{"EscapesAndEncodedWordKept",
                     "* 2 FETCH (ENVELOPE (\"1 Jan 2020 10:00:00 +0000\" "
                     "\"say \\\"hi\\\" to C:\\\\ =?ISO-8859-1?Q?caf=E9?=\" "
                     "((\"O\\\"Brien, Pat\" NIL \"pat\" \"example.org\")) NIL NIL NIL NIL NIL "
                     "NIL \"  <id@x>  \"))\r\n",
                     "1 Jan 2020 10:00:00 +0000", "say \"hi\" to C:\\ =?ISO-8859-1?Q?caf=E9?=",
                     "O\"Brien, Pat", "pat@example.org", "<id@x>"},
        EnvelopeCase{"LiteralsSpanningLines",
                     "* 2 FETCH (ENVELOPE (\"2 Feb 2021 08:00:00 +0100\" {20}\r\n"
                     "first line\r\n"
                     "second)\" ((NIL NIL \"a\" \"b.c\")) NIL NIL NIL NIL NIL NIL {8}\r\n"
                     "<m@id>\r\n))\r\n",
                     "2 Feb 2021 08:00:00 +0100", "first line\r\nsecond)\"", "", "a@b.c", "<m@id>"},
        EnvelopeCase{"EmptyLiteralAndLowerCaseNil",
                     "* 2 FETCH (ENVELOPE (nil {0}\r\n ((\"X\" nil \"x\" \"y\")) nil nil nil "
                     "nil nil nil nil))\r\n",
                     "", "", "X", "x@y", ""},
        EnvelopeCase{"GroupMarkerBeforeAddressAndOtherItems",
                     "* 2 FETCH (UID 77 ENVELOPE (NIL \"s\" ((NIL NIL \"team\" NIL)(\"Ann\" "
                     "NIL \"ann\" \"ex.com\")(NIL NIL NIL NIL)) NIL NIL NIL NIL NIL NIL "
                     "\"<a@b>\") FLAGS (\\Seen))\r\n",
                     "", "s", "Ann", "ann@ex.com", "<a@b>"},
        EnvelopeCase{"SourceRouteIsNotAName",
                     "* 2 FETCH (ENVELOPE (NIL NIL ((NIL \"@relay.net\" \"joe\" \"ex.com\")) "
                     "NIL NIL NIL NIL NIL NIL NIL))\r\n",
                     "", "", "", "joe@ex.com", ""},
        EnvelopeCase{"UnrelatedUntaggedLinesFirst",
                     "* 4 EXISTS\r\n* 1 FETCH (FLAGS (\\Seen))\r\n"
                     "* 2 FETCH (ENVELOPE (NIL \"here\" NIL NIL NIL NIL NIL NIL NIL \"<z>\"))\r\n",
                     "", "here", "", "", "<z>"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadEnvelopeCase {
    const char* name;
    std::string reply; // everything the server sends after the command
    const char* errorPart;
    bool staysConnected;
};

void PrintTo(const BadEnvelopeCase& c, std::ostream* os) {
    *os << c.name;
}

class Imap4BadEnvelopeTest : public Imap4ClientTest,
                             public ::testing::WithParamInterface<BadEnvelopeCase> {};

TEST_P(Imap4BadEnvelopeTest, FailsWithAClearErrorAndNeverCrashes) {
    const BadEnvelopeCase& bc = GetParam();
    auto c = selected(3);
    s->on("FETCH 2 (ENVELOPE)", bc.reply);
    const std::string err = errorOf([&] { c->FetchEnvelope(2); });
    EXPECT_NE(err.find(bc.errorPart), std::string::npos) << err;
    EXPECT_EQ(c->Connected(), bc.staysConnected);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, Imap4BadEnvelopeTest,
    ::testing::Values(
        BadEnvelopeCase{"UnterminatedQuote",
                        "* 2 FETCH (ENVELOPE (\"date NIL NIL NIL NIL NIL NIL NIL NIL NIL))\r\n" +
                            kOk,
                        "Malformed IMAP4 response", true},
        BadEnvelopeCase{"UnclosedList",
                        "* 2 FETCH (ENVELOPE (NIL NIL NIL NIL NIL NIL NIL NIL NIL NIL\r\n" + kOk,
                        "Malformed IMAP4 response", true},
        BadEnvelopeCase{"NineItems",
                        "* 2 FETCH (ENVELOPE (NIL NIL NIL NIL NIL NIL NIL NIL NIL))\r\n" + kOk,
                        "expected 10 items", true},
        BadEnvelopeCase{"AddressOfThree",
                        "* 2 FETCH (ENVELOPE (NIL NIL ((NIL NIL \"a\")) NIL NIL NIL NIL NIL NIL "
                        "NIL))\r\n" +
                            kOk,
                        "Malformed IMAP4 envelope", true},
        BadEnvelopeCase{"SubjectIsAList",
                        "* 2 FETCH (ENVELOPE (NIL (x) NIL NIL NIL NIL NIL NIL NIL NIL))\r\n" + kOk,
                        "Malformed IMAP4 envelope", true},
        BadEnvelopeCase{"NotAList", "* 2 FETCH (ENVELOPE NIL)\r\n" + kOk, "not a list", true},
        BadEnvelopeCase{"ItemWithoutValue", "* 2 FETCH (ENVELOPE)\r\n" + kOk, "no value", true},
        BadEnvelopeCase{"DeepNesting",
                        "* 2 FETCH (ENVELOPE " + std::string(300, '(') + std::string(300, ')') +
                            ")\r\n" + kOk,
                        "nested too deeply", true},
        BadEnvelopeCase{"NoEnvelopeInReply", "* 2 FETCH (FLAGS ())\r\n" + kOk, "no envelope", true},
        BadEnvelopeCase{"Refused", "{TAG} NO Invalid messageset\r\n", "Invalid messageset", true},
        BadEnvelopeCase{"HugeLiteral",
                        "* 2 FETCH (ENVELOPE (NIL {99999999999999999999999}\r\n" + kOk,
                        "literal of unbounded size", false},
        BadEnvelopeCase{"LiteralCutOff", "* 2 FETCH (ENVELOPE (NIL {50}\r\nshort\r\n",
                        "Read timed out.", false},
        BadEnvelopeCase{"BareLiteralBrace", "* 2 FETCH (ENVELOPE ({ NIL))\r\n" + kOk,
                        "Malformed IMAP4 response", true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Whole messages

TEST_F(Imap4ClientTest, FetchMessageSplitsHeaderAndBodyAndEndsWithTheLiteral) {
    const std::string msg = "Subject: hi\r\n"
                            "From: a@b.c\r\n"
                            " continued\r\n"
                            "\r\n"
                            "line one\r\n"
                            ")\r\n"
                            "..dots stay\r\n"
                            "\r\n"
                            "last\r\n";
    auto c = selected(2);
    s->on("FETCH 1 (RFC822)", "* 1 FETCH (RFC822 {" + std::to_string(msg.size()) + "}\r\n" + msg +
                                  ")\r\n* 1 FETCH (FLAGS (\\Seen \\Recent))\r\n{TAG} OK done\r\n");
    s->on("EXPUNGE", kOk);
    const ImapFetchedMessage m = c->FetchMessage(1);
    EXPECT_EQ(s->written.front(), "C3 FETCH 1 (RFC822)");
    EXPECT_EQ(m.headerLines,
              (std::vector<std::string>{"Subject: hi", "From: a@b.c", " continued"}));
    EXPECT_TRUE(m.hasBody);
    EXPECT_EQ(m.bodyLines, (std::vector<std::string>{"line one", ")", "..dots stay", "", "last"}));
    EXPECT_EQ(m.flags, (std::vector<std::string>{"\\Seen", "\\Recent"}));
    c->Expunge(); // the stream is still in step
}

TEST_F(Imap4ClientTest, FetchMessageVariants) {
    struct Case {
        const char* name;
        std::string reply;
        std::vector<std::string> header;
        bool hasBody;
        std::vector<std::string> body;
    };
    const std::string longLine(3000, 'x'); // literals are counted, not cut into lines
    const std::vector<Case> cases = {
        {"NoTrailingLineEnd",
         "* 1 FETCH (RFC822 {22}\r\nSubject: s\r\n\r\nbody end)\r\n",
         {"Subject: s"},
         true,
         {"body end"}},
        {"HeaderOnly", "* 1 FETCH (RFC822 {12}\r\nSubject: s\r\n)\r\n", {"Subject: s"}, false, {}},
        {"FlagsFirstThenMessage",
         "* 1 FETCH (FLAGS (\\Seen) RFC822 {11}\r\nA: b\r\n\r\nc\r\n)\r\n",
         {"A: b"},
         true,
         {"c"}},
        {"LongBodyLine",
         "* 1 FETCH (RFC822 {" + std::to_string(longLine.size() + 10) + "}\r\nA: b\r\n\r\n" +
             longLine + "\r\n)\r\n",
         {"A: b"},
         true,
         {longLine}},
        {"BareLineFeeds", "* 1 FETCH (RFC822 {9}\r\nA: b\n\nc\n\n)\r\n", {"A: b"}, true, {"c", ""}},
        {"Nil", "* 1 FETCH (RFC822 NIL)\r\n", {}, false, {}},
    };
    for (const Case& k : cases) {
        auto c = selected(1);
        s->rules.insert(s->rules.begin(), {"FETCH 1 (RFC822)", false, k.reply + kOk, false});
        const ImapFetchedMessage m = c->FetchMessage(1);
        EXPECT_EQ(m.headerLines, k.header) << k.name;
        EXPECT_EQ(m.hasBody, k.hasBody) << k.name;
        EXPECT_EQ(m.bodyLines, k.body) << k.name;
        s->rules.erase(s->rules.begin());
    }
}

TEST_F(Imap4ClientTest, FetchMessageFailures) {
    auto c = selected(2);
    s->on("FETCH 1 (RFC822)", "{TAG} NO Message expunged\r\n");
    s->on("FETCH 2 (RFC822)", "* 2 FETCH (FLAGS (\\Seen))\r\n" + kOk);
    EXPECT_EQ(errorOf([&] { c->FetchMessage(1); }), "Message expunged");
    EXPECT_NE(errorOf([&] { c->FetchMessage(2); }).find("no message data"), std::string::npos);
    EXPECT_NE(errorOf([&] { c->FetchMessage(0); }).find("out of range"), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Flags, expunge, mailbox list

TEST_F(Imap4ClientTest, DeleteStoresSeenThenDeletedAndExpungeShrinksTheCount) {
    auto c = selected(4);
    s->onPrefix("STORE ", kOk);
    s->on("EXPUNGE", "* 3 EXPUNGE\r\n* 1 EXPUNGE\r\n{TAG} OK Expunge completed.\r\n");
    c->DeleteMessage(3);
    c->AddFlag(1, "\\Deleted");
    c->Expunge();
    EXPECT_EQ(s->written,
              (std::vector<std::string>{"C3 STORE 3 +FLAGS.SILENT (\\Seen)",
                                        "C4 STORE 3 +FLAGS.SILENT (\\Deleted)",
                                        "C5 STORE 1 +FLAGS.SILENT (\\Deleted)", "C6 EXPUNGE"}));
    EXPECT_EQ(c->MessageCount(), 2);
}

TEST_F(Imap4ClientTest, RefusedStoreAndExpungeFail) {
    auto c = selected(1);
    s->onPrefix("STORE ", "{TAG} NO Mailbox is read-only\r\n");
    s->on("EXPUNGE", "{TAG} BAD Unknown command\r\n");
    EXPECT_EQ(errorOf([&] { c->DeleteMessage(1); }), "Mailbox is read-only");
    EXPECT_EQ(s->written.size(), 1u) << "no \\Deleted after a refused \\Seen";
    EXPECT_EQ(errorOf([&] { c->Expunge(); }), "Unknown command");
}

TEST_F(Imap4ClientTest, ListSendsTheParentPatternAndCollectsNames) {
    s->on("LIST \"\" \"./%\"", "* LIST (\\HasNoChildren) \"/\" \"./Sent Items\"\r\n"
                               "* LIST (\\Noselect \\HasChildren) \"/\" ./Archive\r\n"
                               "* LIST () NIL {7}\r\n./a\"b\\c\r\n"
                               "* STATUS x (MESSAGES 1)\r\n"
                               "{TAG} OK List completed.\r\n");
    s->on("LIST \"\" \"Work/%\"", "* LIST () \"/\" Work/Q1\r\n" + kOk);
    s->on("LIST \"\" \"%\"", "* LIST () \".\" INBOX\r\n" + kOk);
    auto c = makeClient();
    c->Connect();
    EXPECT_EQ(c->ListMailboxes({"."}),
              (std::vector<std::string>{"./Sent Items", "./Archive", "./a\"b\\c"}));
    EXPECT_EQ(s->written.back(), "C2 LIST \"\" \"./%\"");
    EXPECT_EQ(c->ListMailboxes({".", "Work"}),
              (std::vector<std::string>{"./Sent Items", "./Archive", "./a\"b\\c", "Work/Q1"}));
    // An empty parent is the top level.
    EXPECT_EQ(c->ListMailboxes({""}), (std::vector<std::string>{"INBOX"}));
    EXPECT_EQ(s->written.back(), "C5 LIST \"\" \"%\"");
}

TEST_F(Imap4ClientTest, ListFailures) {
    s->on("LIST \"\" \"x/%\"", "* LIST (\\HasNoChildren) \"/\"\r\n" + kOk);
    s->on("LIST \"\" \"y/%\"", "{TAG} NO not allowed\r\n");
    auto c = makeClient();
    c->Connect();
    EXPECT_NE(errorOf([&] { c->ListMailboxes({"x"}); }).find("Malformed IMAP4 LIST response"),
              std::string::npos);
    EXPECT_EQ(errorOf([&] { c->ListMailboxes({"y"}); }), "not allowed");
}

// ---------------------------------------------------------------------------------------
// Reply assembly over a real line reader

TEST_F(Imap4ClientTest, OversizedReplyIsRefusedInsteadOfFillingMemory) {
    auto c = selected(1);
    s->on("FETCH 1 (RFC822)",
          "* 1 FETCH (RFC822 {" + std::to_string(Imap4Client::kMaxLiteral + 1) + "}\r\n");
    const std::string err = errorOf([&] { c->FetchMessage(1); });
    EXPECT_NE(err.find("more than the"), std::string::npos) << err;
    EXPECT_FALSE(c->Connected());
}

TEST_F(Imap4ClientTest, OverlongLineFailsWithTheLineReadersError) {
    auto c = selected(1);
    s->on("FETCH 1 (RFC822.SIZE)", "* 1 FETCH (RFC822.SIZE 1 " + std::string(2000, 'a') + ")\r\n");
    EXPECT_EQ(errorOf([&] { c->MessageSize(1); }), "Max line length exceeded.");
    EXPECT_FALSE(c->Connected());
}

} // namespace
} // namespace tarn
