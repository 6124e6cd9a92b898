#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "net/HostLookup.h"
#include "net/LineConnection.h"

namespace tarn {

// Plain TCP over a non-blocking socket: every wait (name lookup, connect, read, write) is
// bounded by the caller's time-out, so a stalled peer or resolver can never hang a check.
class TcpTransport : public Transport {
public:
    // lookup: how server names become addresses (empty: the system's resolver).
    explicit TcpTransport(HostLookup lookup = HostLookup());
    ~TcpTransport() override;
    TcpTransport(const TcpTransport&) = delete;
    TcpTransport& operator=(const TcpTransport&) = delete;

    // Looks the name up and tries every address (IPv4 and IPv6), all within one time-out.
    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override;
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) override;
    void writeAll(std::string_view data, std::chrono::milliseconds timeout) override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }

    // A descriptor another thread makes readable (an eventfd, a pipe) to end a wait for the
    // server at once: a connect or read waiting when it becomes readable fails with kind Other
    // and kInterrupted. Writes are not cut short, so a last word can still go out. -1: none.
    // The descriptor must outlive the transport's use of it.
    void setWakeFd(int fd) { m_wakeFd = fd; }
    static constexpr const char* kInterrupted = "Interrupted.";

private:
    HostLookup m_lookup;
    int m_fd = -1;
    int m_wakeFd = -1;
};

} // namespace tarn
