#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "engine/LineConnection.h"

namespace tarn {

// Plain TCP over a non-blocking socket: every wait (connect, read, write) is bounded by
// poll() with the caller's time-out, so a stalled peer can never hang a check.
class TcpTransport : public Transport {
public:
    TcpTransport() = default;
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    // Tries every address getaddrinfo() gives (IPv4 and IPv6) within one overall time-out.
    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override;
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) override;
    void writeAll(std::string_view data, std::chrono::milliseconds timeout) override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace tarn
