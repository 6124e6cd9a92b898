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

    explicit LineConnection(std::unique_ptr<Transport> transport = makeTcpTransport());
    ~LineConnection();

    void Connect(const std::string& host, int port);
    void Disconnect();
    bool Connected() const;

    // The next line without its end. Throws TarnError: "Max line length exceeded." (and
    // from then on for every read), "Connection Closed Gracefully.", or a time-out.
    std::string ReadLn();
    void WriteLn(std::string_view line);

    void setConnectTimeout(std::chrono::milliseconds t) { m_connectTimeout = t; }
    void setReadTimeout(std::chrono::milliseconds t) { m_readTimeout = t; }

private:
    std::unique_ptr<Transport> m_transport;
    std::string m_buffer;
    std::size_t m_pos = 0;
    bool m_lineTooLong = false;
    std::chrono::milliseconds m_connectTimeout{30000};
    std::chrono::milliseconds m_readTimeout{60000};
};

} // namespace tarn
