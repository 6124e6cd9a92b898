#include "net/LineConnection.h"
#include "net/TcpTransport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include <thread>

#include "fakes/ErrorOf.h"
#include "fakes/ScriptedServer.h"

using namespace std::chrono_literals;
using tarn::LineConnection;
using tarn::TarnError;
using tarn::test::errorOf;
using tarn::test::ScriptedServer;

namespace {

struct LinesCase {
    const char* name;
    std::string sent;
    std::vector<std::string> expected;
    std::size_t chunk = 0; // server sends in pieces of this many bytes
};

class LineSplitting : public ::testing::TestWithParam<LinesCase> {};

TEST_P(LineSplitting, HandsOutLinesWithoutTheirEnds) {
    const auto& c = GetParam();
    ScriptedServer srv;
    srv.setGreeting(c.sent, ScriptedServer::After::Close);
    if (c.chunk)
        srv.setChunking(c.chunk, 1ms);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    for (const auto& want : c.expected)
        EXPECT_EQ(conn.ReadLn(), want);
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Connection Closed Gracefully.");
}

std::string manyLines(int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += "line " + std::to_string(i) + " " + std::string(90, 'x') + "\r\n";
    return s;
}

std::vector<std::string> manyExpected(int n) {
    std::vector<std::string> v;
    for (int i = 0; i < n; ++i)
        v.push_back("line " + std::to_string(i) + " " + std::string(90, 'x'));
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineSplitting,
    ::testing::Values(LinesCase{"CrLf", "+OK a\r\nsecond\r\n", {"+OK a", "second"}},
                      LinesCase{"BareLf", "one\ntwo\n", {"one", "two"}},
                      LinesCase{"EmptyLinesKept", "\r\n\nx\r\n", {"", "", "x"}},
                      // Only a CR right before the LF belongs to the line end.
                      LinesCase{"InnerCrKept", "a\rb\r\n\rc\n", {"a\rb", "\rc"}},
                      LinesCase{"OneByteAtATime", "+OK hello\r\n.\r\n", {"+OK hello", "."}, 1},
                      LinesCase{"CrAndLfInSeparateReads", "ab\r\ncd\r\n", {"ab", "cd"}, 3},
                      // Half a megabyte: lines straddle many chunk boundaries.
                      LinesCase{"ManyChunks", manyLines(5000), manyExpected(5000)},
                      // A partial last line is handed out once, then the close is reported.
                      LinesCase{"PartialLastLine", "full\r\npart", {"full", "part"}},
                      LinesCase{"PartialLastLineWithCr", "full\npart\r", {"full", "part"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LengthCase {
    const char* name;
    std::string line; // sent followed by a good line "next"
    bool accepted;
};

class LineLength : public ::testing::TestWithParam<LengthCase> {};

// The limit counts every byte before the LF, the CR included, and a refusal is sticky:
// even the well-formed line behind it is never handed out.
TEST_P(LineLength, RefusesMoreThan1024BytesBeforeTheLineFeed) {
    const auto& c = GetParam();
    ScriptedServer srv;
    srv.setGreeting(c.line + "next\r\n", ScriptedServer::After::Stall);
    LineConnection conn;
    conn.setReadTimeout(5s);
    conn.Connect("127.0.0.1", srv.port());
    if (c.accepted) {
        std::string got = conn.ReadLn();
        EXPECT_EQ(got.size(), c.line.size() - (c.line.ends_with("\r\n") ? 2 : 1));
        EXPECT_EQ(conn.ReadLn(), "next");
    } else {
        EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
        EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
        EXPECT_EQ(errorOf([&] { conn.ReadBytes(1); }), "Max line length exceeded.");
        EXPECT_TRUE(conn.Connected());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineLength,
    ::testing::Values(LengthCase{"Lf1024", std::string(1024, 'a') + "\n", true},
                      LengthCase{"CrLf1023", std::string(1023, 'a') + "\r\n", true},
                      LengthCase{"CrLf1024", std::string(1024, 'a') + "\r\n", false},
                      LengthCase{"Lf1025", std::string(1025, 'a') + "\n", false},
                      LengthCase{"CrLf1025", std::string(1025, 'a') + "\r\n", false},
                      LengthCase{"Huge", std::string(100000, 'a') + "\r\n", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineConnection, LongLineBehindGoodLinesFailsOnlyWhenReached) {
    ScriptedServer srv;
    srv.setGreeting("ok\r\n" + std::string(2000, 'z') + "\r\nnext\r\n",
                    ScriptedServer::After::Stall);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "ok");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
}

TEST(LineConnection, TooMuchWithoutLineFeedFailsWithoutWaitingForTheEnd) {
    ScriptedServer srv;
    // 1025 bytes and then silence: the read must not wait for a line feed that never comes.
    srv.setGreeting(std::string(1025, 'q'), ScriptedServer::After::Stall);
    LineConnection conn;
    conn.setReadTimeout(20s);
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
}

TEST(LineConnection, ReadTimeoutFailsTheReadAndAllowsWritingQuit) {
    ScriptedServer srv;
    srv.setGreeting("", ScriptedServer::After::Stall);
    LineConnection conn;
    conn.setReadTimeout(200ms);
    conn.Connect("127.0.0.1", srv.port());
    const auto start = std::chrono::steady_clock::now();
    std::string err = errorOf([&] { conn.ReadLn(); });
    EXPECT_NE(err.find("timed out"), std::string::npos) << err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    conn.WriteLn("QUIT");
    EXPECT_TRUE(srv.waitForLine("QUIT"));
}

TEST(LineConnection, PartialLineBeforeTimeoutIsKept) {
    ScriptedServer srv;
    srv.setGreeting("hal", ScriptedServer::After::Continue);
    srv.on("MORE", "lo\r\n");
    LineConnection conn;
    conn.setReadTimeout(200ms);
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_NE(errorOf([&] { conn.ReadLn(); }).find("timed out"), std::string::npos);
    conn.WriteLn("MORE");
    conn.setReadTimeout(5s);
    EXPECT_EQ(conn.ReadLn(), "hallo");
}

int unusedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

TEST(LineConnection, ConnectFailures) {
    LineConnection conn;
    std::string refused = errorOf([&] { conn.Connect("127.0.0.1", unusedPort()); });
    EXPECT_NE(refused.find("Could not connect"), std::string::npos) << refused;
    EXPECT_FALSE(conn.Connected());
    // A name goes through the transport's resolver, here one that knows only localhost, so
    // no name server is asked; the refusal shows the address was found and tried.
    LineConnection named(std::make_unique<tarn::TcpTransport>(
        [](const std::string& host, int port) -> std::vector<tarn::ResolvedAddress> {
            if (host != "localhost")
                throw TarnError(tarn::ErrorKind::HostNotFound, "Host " + host + " not found.");
            tarn::ResolvedAddress r;
            r.family = AF_INET;
            r.socktype = SOCK_STREAM;
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            std::memcpy(&r.addr, &a, sizeof a);
            r.length = sizeof a;
            return {r};
        }));
    std::string viaResolver = errorOf([&] { named.Connect("localhost", unusedPort()); });
    EXPECT_NE(viaResolver.find("Could not connect to localhost:"), std::string::npos)
        << viaResolver;
    // An unknown name, from a resolver that knows none, without asking any name server.
    LineConnection noNames(std::make_unique<tarn::TcpTransport>(
        [](const std::string& host, int) -> std::vector<tarn::ResolvedAddress> {
            throw TarnError(tarn::ErrorKind::HostNotFound, "Host " + host + " not found.");
        }));
    std::string unknown = errorOf([&] { noNames.Connect("no-such-host.invalid", 110); });
    EXPECT_NE(unknown.find("not found"), std::string::npos) << unknown;
    EXPECT_NE(errorOf([&] { conn.Connect("127.0.0.1", 0); }), "<no error>");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Not Connected.");
    EXPECT_EQ(errorOf([&] { conn.WriteLn("x"); }), "Not Connected.");
}

TEST(LineConnection, ConnectTimesOutWhenTheServerNeverCompletesTheHandshake) {
    // A listener with a full accept queue drops further SYNs, so the handshake never ends.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(fd, 0), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    const int port = ntohs(a.sin_port);

    std::vector<std::unique_ptr<LineConnection>> fillers;
    std::string err;
    for (int i = 0; i < 8 && err.find("timed out") == std::string::npos; ++i) {
        auto c = std::make_unique<LineConnection>();
        c->setConnectTimeout(300ms);
        err = errorOf([&] { c->Connect("127.0.0.1", port); });
        fillers.push_back(std::move(c));
    }
    ::close(fd);
    EXPECT_NE(err.find("timed out after 300 ms"), std::string::npos) << err;
}

TEST(LineConnection, WritingToAClosedPeerFailsInsteadOfKillingTheProcess) {
    ScriptedServer srv;
    srv.setGreeting("bye\r\n", ScriptedServer::After::Close);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "bye");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Connection Closed Gracefully.");
    ASSERT_TRUE(srv.waitForClosed(1));
    std::string err;
    for (int i = 0; i < 50 && err.empty(); ++i) {
        try {
            conn.WriteLn(std::string(4096, 'w'));
        } catch (const TarnError& e) {
            err = e.what();
        }
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_NE(err.find("Write failed"), std::string::npos) << err;
}

// An in-memory transport shows exactly what goes over the wire.
class RecordingTransport : public tarn::Transport {
public:
    explicit RecordingTransport(std::string* out) : m_out(out) {}
    void connect(const std::string&, int, std::chrono::milliseconds) override { m_open = true; }
    std::size_t read(char*, std::size_t, std::chrono::milliseconds) override { return 0; }
    void writeAll(std::string_view d, std::chrono::milliseconds) override { m_out->append(d); }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }

private:
    std::string* m_out;
    bool m_open = false;
};

TEST(LineConnection, LinesAreWrittenWithCrLf) {
    std::string wire;
    LineConnection conn(std::make_unique<RecordingTransport>(&wire));
    conn.Connect("example", 1);
    conn.WriteLn("USER bob");
    conn.WriteLn("");
    conn.Write("raw");
    EXPECT_EQ(wire, "USER bob\r\n\r\nraw");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Connection Closed Gracefully.");
}

TEST(LineConnection, ReadBytesTakesBufferedDataFirst) {
    ScriptedServer srv;
    srv.setGreeting("* 1 FETCH {5}\r\nab\ncd)\r\n", ScriptedServer::After::Stall);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "* 1 FETCH {5}");
    EXPECT_EQ(conn.ReadBytes(5), "ab\ncd");
    EXPECT_EQ(conn.ReadLn(), ")");
}

TEST(LineConnection, ReadSomeHandsOutBufferedBytesThenTheRestUntilTheClose) {
    ScriptedServer srv;
    srv.setGreeting("head\r\nbody line one\r\n" + std::string(3000, 'b'),
                    ScriptedServer::After::Close);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "head");
    std::string body;
    for (std::string piece = conn.ReadSome(1000); !piece.empty(); piece = conn.ReadSome(1000)) {
        EXPECT_LE(piece.size(), 1000u);
        body += piece;
    }
    // Line ends and lines beyond the line limit come through untouched.
    EXPECT_EQ(body, "body line one\r\n" + std::string(3000, 'b'));
    EXPECT_EQ(conn.ReadSome(10), "");
}

TEST(LineConnection, ReconnectStartsWithAFreshBuffer) {
    ScriptedServer srv;
    srv.setGreeting("first\r\n" + std::string(2000, 'x') + "\r\n", ScriptedServer::After::Close);
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "first");
    EXPECT_EQ(errorOf([&] { conn.ReadLn(); }), "Max line length exceeded.");
    conn.Disconnect();
    EXPECT_FALSE(conn.Connected());
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "first");
    EXPECT_EQ(srv.connectionCount(), 2);
}

} // namespace

namespace {

// The fake server is the ground every network test stands on; its script rules are checked
// here through a real connection.
TEST(ScriptedServerScript, RulesTagsLimitsAndFallback) {
    ScriptedServer srv;
    srv.setGreeting("* OK hello\r\n");
    srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK LOGIN done for {TAG}\r\n");
    srv.on("PASS a", "-ERR first\r\n", ScriptedServer::After::Continue, 1);
    srv.on("PASS a", "+OK second\r\n");
    srv.onPrefix("LIST", "+OK list\r\n");
    srv.setUnmatchedReply("? what\r\n");
    LineConnection conn;
    conn.Connect("127.0.0.1", srv.port());
    EXPECT_EQ(conn.ReadLn(), "* OK hello");
    conn.WriteLn("C7 LOGIN bob pw");
    EXPECT_EQ(conn.ReadLn(), "C7 OK LOGIN done for C7");
    conn.WriteLn("PASS a");
    EXPECT_EQ(conn.ReadLn(), "-ERR first");
    conn.WriteLn("PASS a");
    EXPECT_EQ(conn.ReadLn(), "+OK second");
    conn.WriteLn("LIST 3");
    EXPECT_EQ(conn.ReadLn(), "+OK list");
    conn.WriteLn("NOOP");
    EXPECT_EQ(conn.ReadLn(), "? what");
    EXPECT_EQ(srv.received(),
              (std::vector<std::string>{"C7 LOGIN bob pw", "PASS a", "PASS a", "LIST 3", "NOOP"}));
}

TEST(ScriptedServerScript, StallingServerStillShutsDownAndServesTheNextConnection) {
    auto srv = std::make_unique<ScriptedServer>();
    srv->setGreeting("+OK\r\n");
    srv->on("STAT", "", ScriptedServer::After::Stall);
    LineConnection first;
    first.Connect("127.0.0.1", srv->port());
    EXPECT_EQ(first.ReadLn(), "+OK");
    first.WriteLn("STAT");
    first.WriteLn("QUIT");
    EXPECT_TRUE(srv->waitForLine("QUIT")); // recorded though never answered
    first.Disconnect();
    ASSERT_TRUE(srv->waitForClosed(1));

    LineConnection second;
    second.Connect("127.0.0.1", srv->port());
    EXPECT_EQ(second.ReadLn(), "+OK");
    second.WriteLn("STAT");
    ASSERT_TRUE(srv->waitForLineCount(3));
    srv.reset(); // while the second client is still connected and stalled
    second.setReadTimeout(5s);
    EXPECT_EQ(errorOf([&] { second.ReadLn(); }), "Connection Closed Gracefully.");
}

} // namespace
