#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <mutex>
// GCC 12 with -fsanitize=address reports a false -Wmaybe-uninitialized inside
// libstdc++'s regex compiler.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <string>
#include <string_view>
#include <thread>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace tarn::test {

// A line-oriented TCP server for client tests. It listens on 127.0.0.1 on an ephemeral port,
// serves one connection at a time (any number of them in sequence) on its own thread,
// answers every received line from a script and records what it received.
//
// Script: a greeting sent on accept, then rules tried in the order they were added; the first
// rule that matches the received line (without its CR LF) and has uses left sends its reply.
// Replies are raw bytes, sent exactly as given (write the "\r\n" yourself, or build them with
// lines()), so garbage, over-long lines, missing line ends and cut-off listings are all just
// replies. In a reply, "{TAG}" is replaced by the first word of the received line, which
// answers IMAP commands whatever tag the client chose. After its reply a rule can keep
// going, close the connection, or stall: read and record further lines but never answer
// again until the client goes away (stalling never blocks the server's destruction).
// With setTls the server speaks TLS from the first byte, or switches to it after a rule's reply
// (After::StartTls: the reply is sent in clear, in one piece, then the server handshakes).
//
//   ScriptedServer srv;
//   srv.setGreeting("+OK ready\r\n");
//   srv.on("USER bob", "+OK\r\n").on("PASS secret", "+OK\r\n");
//   srv.onPrefix("RETR ", ScriptedServer::lines({"+OK", "Subject: x", "", "body", "."}));
//   srv.onRegex(R"(^\S+ LOGIN )", "{TAG} OK done\r\n");
//   srv.on("LIST", "+OK\r\n1 100\r\n", ScriptedServer::After::Close); // dies mid-listing
//   ... client connects to 127.0.0.1:srv.port() ...
//   EXPECT_TRUE(srv.waitForLine("QUIT"));
class ScriptedServer {
public:
    enum class Match { Exact, Prefix, Regex, Any };
    enum class After { Continue, Close, Stall, StartTls };
    enum class TlsFrom { Accept, Command };

    struct Rule {
        Match match = Match::Exact;
        std::string pattern;
        std::string reply;
        After after = After::Continue;
        int times = -1; // how often the rule may fire; -1 = without limit
    };

    ScriptedServer();
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return m_port; }
    static constexpr const char* host() { return "127.0.0.1"; }

    // Sent on every accepted connection (empty: nothing is sent). Close and Stall act right
    // after the greeting, so a server that never greets is setGreeting("", After::Stall).
    void setGreeting(std::string raw, After after = After::Continue);
    ScriptedServer& addRule(Rule rule);
    ScriptedServer& on(std::string line, std::string reply, After after = After::Continue,
                       int times = -1);
    ScriptedServer& onPrefix(std::string prefix, std::string reply, After after = After::Continue,
                             int times = -1);
    // ECMAScript regex, searched anywhere in the line (anchor it with ^ and $ as needed).
    ScriptedServer& onRegex(std::string regex, std::string reply, After after = After::Continue,
                            int times = -1);
    // Reply to lines no rule matches (default: nothing is sent, except "-ERR" to a POP3
    // "CAPA", as a server without capabilities answers it, and an IMAP4 "CAPABILITY" listing
    // only IMAP4rev1).
    void setUnmatchedReply(std::string raw);
    // Sends every reply in pieces of `bytes` with a pause between them, so the client has to
    // assemble lines from several reads.
    void setChunking(std::size_t bytes, std::chrono::milliseconds pause);
    void clearRules();
    // The server's certificate and key (PEM files). TlsFrom::Accept: TLS from the first byte;
    // Command: only after a rule with After::StartTls. maxVersion (TLS1_VERSION, ...) limits
    // the protocol versions the server speaks; 0 leaves OpenSSL's defaults.
    void setTls(const std::string& certFile, const std::string& keyFile, TlsFrom from,
                int maxVersion = 0);

    // Joins lines with CR LF, including after the last one.
    static std::string lines(std::initializer_list<std::string_view> ls);

    // Every line received so far over all connections, without line ends.
    std::vector<std::string> received() const;
    void clearReceived();
    bool waitForLine(std::string_view line,
                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    bool waitForLineCount(std::size_t n,
                          std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Connections accepted so far, and of those, the ones that have ended.
    int connectionCount() const;
    int closedCount() const;
    bool waitForClosed(int n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    struct CompiledRule {
        Rule rule;
        std::regex re;
    };
    enum class Outcome { Open, Closed, Stopped };
    // One accepted connection; ssl is set once it speaks TLS.
    struct Link {
        int fd = -1;
        SSL* ssl = nullptr;
    };

    void run();
    void serve(Link& link);
    // Server side of the TLS handshake; false when it failed.
    bool acceptTls(Link& link);
    Outcome sendReply(Link& link, const std::string& raw);
    bool stall(Link& link, std::string pending);
    void closeGracefully(Link& link, std::string pending);
    void recordLines(std::string& buf);
    bool waitReadable(const Link& link, int timeoutMs) const; // false when stopping
    bool waitReadable(int fd, int timeoutMs) const;
    void record(std::string line);
    const CompiledRule* findRule(const std::string& line);

    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    std::string m_greeting;
    After m_greetingAfter = After::Continue;
    std::vector<CompiledRule> m_rules;
    std::string m_unmatched;
    bool m_hasUnmatched = false;
    std::size_t m_chunkBytes = 0;
    std::chrono::milliseconds m_chunkPause{0};
    SSL_CTX* m_tlsContext = nullptr;
    TlsFrom m_tlsFrom = TlsFrom::Accept;
    std::vector<std::string> m_received;
    int m_connections = 0;
    int m_closed = 0;

    std::thread m_thread;
};

} // namespace tarn::test
