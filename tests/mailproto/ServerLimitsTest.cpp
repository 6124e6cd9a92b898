// Time limits and size budgets that a slow, stalled or flooding server cannot get around.

#include "mailproto/Imap4Client.h"
#include "mailproto/Pop3Client.h"
#include "net/HostLookup.h"
#include "net/LineConnection.h"
#include "net/TcpTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::ErrorKind;
using tarn::LineConnection;
using tarn::test::failureOf;
using tarn::test::ScriptedServer;
using After = ScriptedServer::After;
using SteadyClock = std::chrono::steady_clock;

namespace {

std::chrono::milliseconds since(SteadyClock::time_point t0) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - t0);
}

TEST(AnswerDeadline, DrippingServerCannotStretchAnAnswerPastTheReadTimeout) {
    // One byte every 50 ms: every single read comes well inside the 400 ms time-out, the
    // whole line would take four seconds.
    ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    srv.on("STAT", "+OK " + std::string(80, '7') + "\r\n");
    srv.setChunking(1, 50ms);
    LineConnection conn;
    conn.setReadTimeout(5s); // the greeting drips too
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "+OK ready");

    conn.setReadTimeout(400ms);
    conn.WriteLn("STAT");
    const auto t0 = SteadyClock::now();
    const auto f = failureOf([&] { conn.ReadLn(); });
    EXPECT_EQ(f.kind, ErrorKind::TimedOut) << f.text;
    EXPECT_EQ(f.text, "Read timed out after 400 ms.");
    EXPECT_LT(since(t0), 2000ms);
    ASSERT_TRUE(conn.lastError());
    EXPECT_EQ(conn.lastError()->kind(), ErrorKind::TimedOut);
}

TEST(AnswerDeadline, LongAnswerAtAFairPaceEarnsTheTimeItNeeds) {
    // 160 KiB in 4 KiB pieces 25 ms apart: a second in all, past the 300 ms time-out, but far
    // faster than the slowest rate an answer may have.
    std::string listing = "+OK\r\n";
    for (int i = 1; i <= 2000; ++i)
        listing += std::to_string(i) + " " + std::string(76, 'u') + "\r\n";
    listing += ".\r\n";
    ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    srv.on("UIDL", listing);
    srv.setChunking(4096, 25ms);
    tarn::Pop3Client pop(std::make_unique<LineConnection>());
    pop.connection().setReadTimeout(300ms);
    pop.setHost("127.0.0.1");
    pop.setPort(srv.port());
    srv.onPrefix("USER", "+OK\r\n");
    srv.onPrefix("PASS", "+OK\r\n");
    pop.Connect();
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(pop.UniqueIdListing().size(), 2000u);
    EXPECT_GT(since(t0), 300ms);
}

TEST(AnswerDeadline, EndTimeBoundsEveryWaitWhateverTheReadTimeout) {
    ScriptedServer srv;
    srv.setGreeting("+OK ready\r\n");
    srv.on("NOOP", "+OK\r\n");
    srv.onPrefix("SLOW", std::string(200, 'x') + "\r\n");
    srv.setChunking(1, 30ms);
    LineConnection conn;
    conn.setReadTimeout(30s);
    conn.setEndTime(SteadyClock::now() + 700ms);
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "+OK ready");
    conn.WriteLn("SLOW");
    const auto t0 = SteadyClock::now();
    const auto f = failureOf([&] { conn.ReadLn(); });
    EXPECT_EQ(f.kind, ErrorKind::TimedOut);
    EXPECT_EQ(f.text, "The time allowed for the whole check has run out.");
    EXPECT_LT(since(t0), 3000ms);
    // Past the end time nothing waits at all, not even a connect.
    const auto c = failureOf([&] { conn.Connect("127.0.0.1", srv.port()); });
    EXPECT_EQ(c.text, "The time allowed for the whole check has run out.");
}

TEST(WriteDeadline, PeerThatNeverReadsFailsTheWriteInTime) {
    // A listener that never accepts: the kernel completes the handshake, then the socket
    // buffers fill and stay full.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);

    LineConnection conn;
    conn.setWriteTimeout(300ms);
    conn.setReadTimeout(30s);
    conn.Connect("127.0.0.1", ntohs(a.sin_port));
    const std::string big(64 * 1024 * 1024, 'w');
    const auto t0 = SteadyClock::now();
    const auto f = failureOf([&] { conn.Write(big); });
    ::close(fd);
    EXPECT_EQ(f.kind, ErrorKind::TimedOut) << f.text;
    EXPECT_EQ(f.text, "Write timed out after 300 ms.");
    EXPECT_LT(since(t0), 5000ms);
}

// A resolver that answers only when the test lets it, as a hanging DNS server would. Its
// state is shared with the lookup, which may still be waking up after the test has ended.
class HeldLookup {
public:
    tarn::HostLookup lookup() {
        return [state = m_state](const std::string&, int) -> std::vector<tarn::ResolvedAddress> {
            std::unique_lock<std::mutex> l(state->mutex);
            state->cv.wait(l, [&] { return state->released; });
            throw tarn::TarnError(ErrorKind::HostNotFound, "gave up");
        };
    }
    void release() {
        std::lock_guard<std::mutex> l(m_state->mutex);
        m_state->released = true;
        m_state->cv.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable cv;
        bool released = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

TEST(NameLookup, SlowResolverFailsTheConnectAfterTheConnectTimeout) {
    HeldLookup held;
    LineConnection conn(std::make_unique<tarn::TcpTransport>(held.lookup()));
    conn.setConnectTimeout(300ms);
    const auto t0 = SteadyClock::now();
    const auto f = failureOf([&] { conn.Connect("mail.example.test", 110); });
    const auto took = since(t0);
    held.release();
    EXPECT_EQ(f.kind, ErrorKind::TimedOut);
    EXPECT_EQ(f.text, "Looking up mail.example.test timed out after 300 ms.");
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 3000ms);
    EXPECT_FALSE(conn.Connected());
}

TEST(NameLookup, AddressesComeFromTheLookupAndItsFailuresKeepTheirKind) {
    ScriptedServer srv;
    srv.setGreeting("hello\r\n");
    const tarn::HostLookup local = [](const std::string& host, int port) {
        if (host != "mail.example.test")
            throw tarn::TarnError(ErrorKind::HostNotFound, "Host " + host + " not found.");
        return tarn::resolveWithin(tarn::systemHostLookup(), "127.0.0.1", port, 5s);
    };
    LineConnection conn(std::make_unique<tarn::TcpTransport>(local));
    conn.Connect("mail.example.test", srv.port());
    EXPECT_EQ(conn.ReadLn(), "hello");
    const auto f = failureOf([&] { conn.Connect("other.example.test", srv.port()); });
    EXPECT_EQ(f.kind, ErrorKind::HostNotFound);
    EXPECT_EQ(f.text, "Host other.example.test not found.");

    const tarn::HostLookup none = [](const std::string&, int) {
        return std::vector<tarn::ResolvedAddress>{};
    };
    LineConnection empty(std::make_unique<tarn::TcpTransport>(none));
    const auto g = failureOf([&] { empty.Connect("mail.example.test", srv.port()); });
    EXPECT_EQ(g.kind, ErrorKind::HostNotFound);
    EXPECT_NE(g.text.find("not found"), std::string::npos) << g.text;
}

// --- POP3 budgets ---

std::string repeatLines(std::size_t n, const std::string& line) {
    std::string out;
    out.reserve(n * (line.size() + 2));
    for (std::size_t i = 0; i < n; ++i)
        out += line + "\r\n";
    return out;
}

class Pop3Budget : public ::testing::Test {
protected:
    void SetUp() override {
        srv.setGreeting("+OK ready\r\n");
        srv.onPrefix("USER", "+OK\r\n");
        srv.onPrefix("PASS", "+OK\r\n");
        srv.on("NOOP", "+OK still here\r\n");
    }
    std::unique_ptr<tarn::Pop3Client> loggedIn() {
        auto conn = std::make_unique<LineConnection>();
        conn->setReadTimeout(20s);
        auto c = std::make_unique<tarn::Pop3Client>(std::move(conn));
        c->setHost("127.0.0.1");
        c->setPort(srv.port());
        c->Connect();
        return c;
    }
    ScriptedServer srv;
};

TEST_F(Pop3Budget, UidListingOverItsLineBudgetClosesTheConnection) {
    std::string listing = "+OK\r\n";
    for (std::size_t i = 1; i <= tarn::Pop3Client::kMaxListingLines + 1; ++i)
        listing += std::to_string(i) + " u\r\n";
    srv.on("UIDL", listing + ".\r\n");
    auto c = loggedIn();
    const auto f = failureOf([&] { c->UniqueIdListing(); });
    EXPECT_EQ(f.kind, ErrorKind::OverBudget);
    EXPECT_EQ(f.text, "The unique-id listing has more than the 250000 lines allowed.");
    EXPECT_FALSE(c->Connected());
    ASSERT_TRUE(c->connection().lastError());
    EXPECT_EQ(c->connection().lastError()->kind(), ErrorKind::OverBudget);
}

TEST_F(Pop3Budget, UidListingOverItsByteBudgetClosesTheConnection) {
    // Few lines, each near the line limit: the bytes run out first.
    const std::size_t lines = tarn::Pop3Client::kMaxListingBytes / 1000 + 1;
    srv.on("UIDL", "+OK\r\n" + repeatLines(lines, "1 " + std::string(998, 'u')) + ".\r\n");
    auto c = loggedIn();
    const auto f = failureOf([&] { c->UniqueIdListing(); });
    EXPECT_EQ(f.kind, ErrorKind::OverBudget);
    EXPECT_EQ(f.text, "The unique-id listing is larger than the 33554432 bytes allowed.");
    EXPECT_FALSE(c->Connected());
}

struct FetchBudgetCase {
    const char* name;
    std::string command;
    std::string answer;
    std::function<void(tarn::Pop3Client&)> fetch;
    std::string error;
};

class Pop3FetchBudget : public Pop3Budget, public ::testing::WithParamInterface<FetchBudgetCase> {};

TEST_P(Pop3FetchBudget, FetchOverItsBudgetFailsAloneAndTheDialogueGoesOn) {
    const FetchBudgetCase& c = GetParam();
    srv.on(c.command, c.answer);
    auto pop = loggedIn();
    pop->setMaxMessageBytes(64 * 1024);
    const auto f = failureOf([&] { c.fetch(*pop); });
    EXPECT_EQ(f.kind, ErrorKind::OverBudget);
    EXPECT_EQ(f.text, c.error);
    // The rest of the answer was read and dropped: the next command gets its own answer.
    ASSERT_TRUE(pop->Connected());
    pop->connection().WriteLn("NOOP");
    EXPECT_EQ(pop->connection().ReadLn(), "+OK still here");
}

INSTANTIATE_TEST_SUITE_P(
    Caps, Pop3FetchBudget,
    ::testing::Values(
        // A header bigger than any header may be.
        FetchBudgetCase{"Header", "TOP 1 0",
                        "+OK\r\n" + repeatLines(20000, "X-Pad: " + std::string(60, 'h')) + ".\r\n",
                        [](tarn::Pop3Client& p) { p.FetchHeader(1); },
                        "The header of message 1 is larger than the 1048576 bytes allowed."},
        // A message announced as 10 bytes that goes on and on.
        FetchBudgetCase{"MessageBody", "RETR 2",
                        "+OK\r\nSubject: small\r\n\r\n" + repeatLines(4000, std::string(70, 'b')) +
                            ".\r\n",
                        [](tarn::Pop3Client& p) { p.FetchMessage(2); },
                        "Message 2 is larger than the 65536 bytes allowed."},
        // All header, no empty line: the header part counts too.
        FetchBudgetCase{"MessageHeader", "RETR 3",
                        "+OK\r\n" + repeatLines(4000, "X-H: " + std::string(70, 'h')) + ".\r\n",
                        [](tarn::Pop3Client& p) { p.FetchMessage(3); },
                        "Message 3 is larger than the 65536 bytes allowed."}),
    [](const ::testing::TestParamInfo<FetchBudgetCase>& i) { return i.param.name; });

TEST_F(Pop3Budget, MessageWithinItsBudgetIsFetchedWhole) {
    srv.on("RETR 1",
           "+OK\r\nSubject: fits\r\n\r\n" + repeatLines(800, std::string(70, 'b')) + ".\r\n");
    auto pop = loggedIn();
    pop->setMaxMessageBytes(64 * 1024);
    const auto m = pop->FetchMessage(1);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->bodyLines.size(), 800u);
}

// --- IMAP4 budget ---

TEST(Imap4Budget, MessageLiteralOverTheMessageBudgetIsRefusedBeforeItIsRead) {
    ScriptedServer srv;
    srv.setGreeting("* OK ready\r\n");
    srv.onRegex(R"(^C\d+ LOGIN )", "{TAG} OK\r\n");
    srv.onRegex(R"(^C\d+ SELECT )", "* 1 EXISTS\r\n{TAG} OK\r\n");
    // Announces 2 GB; sends a little, then waits.
    srv.onRegex(R"(^C\d+ FETCH 1 \(RFC822\)$)", "* 1 FETCH (RFC822 {2147483648}\r\nFrom: x\r\n",
                After::Stall);
    tarn::Imap4Client c;
    c.setHost("127.0.0.1");
    c.setPort(srv.port());
    c.setUser("bob");
    c.setPassword("pw");
    c.setReadTimeout(20s);
    c.setMaxMessageBytes(100 * 1024);
    c.Connect();
    c.SelectMailbox("INBOX");
    const auto t0 = SteadyClock::now();
    const auto f = failureOf([&] { c.FetchMessage(1); });
    EXPECT_EQ(f.kind, ErrorKind::OverBudget);
    EXPECT_EQ(f.text, "The IMAP4 server announced a literal of 2147483648 bytes, more than the "
                      "102400 allowed.");
    EXPECT_LT(since(t0), 5000ms);
    EXPECT_FALSE(c.Connected());
}

} // namespace
