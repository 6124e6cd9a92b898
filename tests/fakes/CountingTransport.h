#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/LineConnection.h"

namespace tarn::test {

// What went over one connection, as a CountingTransport saw it.
struct WireCounts {
    std::size_t bytesRead = 0;
    std::size_t bytesWritten = 0;
    // Turns of the dialogue: each time data arrives after the client connected or wrote.
    int roundTrips = 0;
    std::string written; // everything sent, in order
};

// A transport over plain TCP that counts and keeps what passes through it, for the tests and
// benchmarks that say how much a check asks of a server.
class CountingTransport : public Transport {
public:
    explicit CountingTransport(std::shared_ptr<WireCounts> counts,
                               std::unique_ptr<Transport> inner = makeTcpTransport())
        : m_inner(std::move(inner)), m_counts(std::move(counts)) {}

    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override {
        m_inner->connect(host, port, timeout);
        m_waiting = true;
    }
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) override {
        const std::size_t got = m_inner->read(buf, n, timeout);
        m_counts->bytesRead += got;
        if (got > 0 && m_waiting) {
            ++m_counts->roundTrips;
            m_waiting = false;
        }
        return got;
    }
    void writeAll(std::string_view data, std::chrono::milliseconds timeout) override {
        m_inner->writeAll(data, timeout);
        m_counts->bytesWritten += data.size();
        m_counts->written.append(data);
        m_waiting = true;
    }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }

private:
    std::unique_ptr<Transport> m_inner;
    std::shared_ptr<WireCounts> m_counts;
    bool m_waiting = false;
};

} // namespace tarn::test
