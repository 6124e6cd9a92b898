#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/TarnError.h"

namespace tarn {

// Byte stream under a LineConnection: plain TCP now, TLS can be slotted in later.
class Transport {
public:
    virtual ~Transport() = default;
    virtual void connect(const std::string& host, int port, std::chrono::milliseconds timeout) = 0;
    // Reads up to n bytes; returns 0 when the peer closed. Throws TarnError on time-out.
    virtual std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) = 0;
    virtual void writeAll(std::string_view data, std::chrono::milliseconds timeout) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
};

std::unique_ptr<Transport> makeTcpTransport();

// A line-oriented client connection (POP3, IMAP4, HTTP). Reads in chunks of up to 32768
// bytes; LF ends a line and a CR before it is dropped; lines are written with CR LF.
class LineConnection {
public:
    static constexpr std::size_t kMaxLineLength = 1024;
    static constexpr std::size_t kChunkSize = 32768;

    explicit LineConnection(std::unique_ptr<Transport> transport = makeTcpTransport());
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    void Connect(const std::string& host, int port);
    void Disconnect();
    bool Connected() const;

    // The next line without its end. Throws TarnError: "Max line length exceeded." (and
    // from then on for every read), "Connection Closed Gracefully.", or a time-out.
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

    void setConnectTimeout(std::chrono::milliseconds t) { m_connectTimeout = t; }
    void setReadTimeout(std::chrono::milliseconds t) { m_readTimeout = t; }
    std::chrono::milliseconds connectTimeout() const { return m_connectTimeout; }
    std::chrono::milliseconds readTimeout() const { return m_readTimeout; }

private:
    // Appends one chunk from the transport; false when the peer has closed.
    bool fill();
    std::size_t buffered() const { return m_buffer.size() - m_pos; }

    std::unique_ptr<Transport> m_transport;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_lineTooLong = false;
    bool m_peerClosed = false;
    std::chrono::milliseconds m_connectTimeout{30000};
    std::chrono::milliseconds m_readTimeout{60000};
};

} // namespace tarn
