#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/TarnError.h"

namespace tarn {

class TlsTransport;

// Byte stream under a LineConnection: plain TCP, with TLS (TlsTransport) over it when asked.
// Every call waits at most the time it is given; the LineConnection works out that time from
// its deadlines, so a transport needs no clock of its own. Failures are TarnErrors with a
// kind: TimedOut when the time given ran out (the LineConnection then words the error),
// HostNotFound, ConnectionRefused, NetworkError, TlsError, CertificateError, NotConnected.
class Transport {
public:
    virtual ~Transport() = default;
    // Name lookup included.
    virtual void connect(const std::string& host, int port, std::chrono::milliseconds timeout) = 0;
    // Reads up to n bytes; returns 0 when the peer closed. Takes what has already arrived
    // even when timeout is 0.
    virtual std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) = 0;
    virtual void writeAll(std::string_view data, std::chrono::milliseconds timeout) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

std::unique_ptr<Transport> makeTcpTransport();

// The time limits of a mail server connection: the name lookup and connect, each answer
// from the command that asked for it, each write. The option sets of checks, idle
// connections and the tools built on them start from these.
struct ConnectionTimeouts {
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds readTimeout{60000};
    std::chrono::milliseconds writeTimeout{60000};
};

// A line-oriented client connection (POP3, IMAP4, HTTP). Reads in chunks of up to 32768
// bytes; LF ends a line and a CR before it is dropped; lines are written with CR LF.
//
// Time limits: the answer to a command must arrive within the read time-out counted from
// the moment the command was written (from the connect for a greeting), however the server
// spreads its bytes; a long answer earns one more second for every kMinAnswerRate bytes it
// delivers, so a large message on a slow line still arrives while a server that drips a
// byte now and then cannot hold the client. A write has its own time-out, and an optional
// end time (a whole check's limit) bounds every wait.
class LineConnection {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::size_t kMaxLineLength = 1024;
    static constexpr std::size_t kChunkSize = 32768;
    static constexpr std::size_t kMinAnswerRate = 8 * 1024; // bytes per second

    explicit LineConnection(std::unique_ptr<Transport> transport = makeTcpTransport());
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    void Connect(const std::string& host, int port);
    void Disconnect();
    bool Connected() const;
    // Switches the open connection to TLS (at once for TLS from the first byte, after the
    // server agreed for STARTTLS): whatever was received and not yet read is dropped first,
    // so nothing the server sent in clear can pass for a protected reply. The handshake must
    // end within the read time-out; the certificate is checked against the host given to
    // Connect, or against the pin (see TlsTransport). A failure closes the connection.
    void StartTls(std::string_view pin = {});
    bool Encrypted() const { return m_tls != nullptr; }
    // The TLS layer while Encrypted(), else nullptr.
    const TlsTransport* tls() const { return m_tls.get(); }

    // The next line without its end. Throws TarnError: "Max line length exceeded." (and
    // from then on for every read; kind OverBudget), "Connection Closed Gracefully." (kind
    // ConnectionClosed), or a time-out (kind TimedOut).
    // A peer that closes after a partial line: that partial line is returned once as the
    // last line, and the read after it fails with "Connection Closed Gracefully.". Protocols
    // that need a terminator line ("." or a tagged reply) thus still fail on a cut transfer.
    std::string ReadLn();
    // Exactly n bytes (for counted data such as IMAP literals); no line limit applies.
    std::string ReadBytes(std::size_t n);
    // What has arrived, up to max bytes, waiting for one read when nothing is buffered; an
    // empty string once the peer has closed (for data that ends with the connection).
    std::string ReadSome(std::size_t max);
    void WriteLn(std::string_view line);
    // The bytes as given, no line end added.
    void Write(std::string_view data);

    // Closes the connection because of reason (an answer over its budget, say), which
    // lastError() then reports.
    void Abandon(const TarnError& reason);
    // The last failure of a connect, read or write, or the reason given to Abandon: what a
    // later "Not Connected." goes back to.
    const std::optional<TarnError>& lastError() const { return m_lastError; }

    void setTimeouts(const ConnectionTimeouts& t) {
        m_connectTimeout = t.connectTimeout;
        m_readTimeout = t.readTimeout;
        m_writeTimeout = t.writeTimeout;
    }
    void setConnectTimeout(std::chrono::milliseconds t) { m_connectTimeout = t; }
    void setReadTimeout(std::chrono::milliseconds t) { m_readTimeout = t; }
    void setWriteTimeout(std::chrono::milliseconds t) { m_writeTimeout = t; }
    // No wait goes past this point; nullopt: no end time.
    void setEndTime(std::optional<Clock::time_point> end) { m_endTime = end; }
    std::chrono::milliseconds connectTimeout() const { return m_connectTimeout; }
    std::chrono::milliseconds readTimeout() const { return m_readTimeout; }
    std::chrono::milliseconds writeTimeout() const { return m_writeTimeout; }
    std::optional<Clock::time_point> endTime() const { return m_endTime; }

private:
    // Appends one chunk from the transport; false when the peer has closed.
    bool fill();
    // The time left until deadline, capped by the end time; endTimeFirst tells which one
    // it is.
    std::chrono::milliseconds timeLeft(Clock::time_point deadline, bool& endTimeFirst) const;
    [[noreturn]] void fail(const TarnError& e);
    // Rewords a transport's time-out; other errors pass unchanged.
    [[noreturn]] void failTransport(const TarnError& e, const char* what,
                                    std::chrono::milliseconds limit, bool endTimeFirst);
    void startAnswer();
    std::size_t buffered() const { return m_buffer.size() - m_pos; }
    Transport& active();
    const Transport& active() const;

    std::unique_ptr<Transport> m_transport;
    std::unique_ptr<TlsTransport> m_tls; // over m_transport once StartTls ran
    std::string m_host;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_lineTooLong = false;
    bool m_peerClosed = false;
    std::chrono::milliseconds m_connectTimeout = ConnectionTimeouts().connectTimeout;
    std::chrono::milliseconds m_readTimeout = ConnectionTimeouts().readTimeout;
    std::chrono::milliseconds m_writeTimeout = ConnectionTimeouts().writeTimeout;
    std::optional<Clock::time_point> m_endTime;
    Clock::time_point m_answerStart = Clock::now();
    std::size_t m_answerBytes = 0; // received since m_answerStart
    std::optional<TarnError> m_lastError;
};

} // namespace tarn
