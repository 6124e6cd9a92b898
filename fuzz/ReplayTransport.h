#pragma once

#include "net/LineConnection.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>

namespace tarn::fuzz {

// Plays a server's byte stream to a client: the bytes in chunks of a fixed size, then the
// peer closes. What the client writes is dropped. No sockets and no waiting.
class ReplayTransport : public Transport {
public:
    ReplayTransport(std::string_view bytes, std::size_t chunk)
        : m_bytes(bytes), m_chunk(std::max<std::size_t>(chunk, 1)) {}

    void connect(const std::string&, int, std::chrono::milliseconds) override { m_open = true; }
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds) override {
        if (!m_open)
            throw TarnError("Not Connected.");
        const std::size_t k = std::min({n, m_chunk, m_bytes.size() - m_pos});
        std::memcpy(buf, m_bytes.data() + m_pos, k);
        m_pos += k;
        return k;
    }
    void writeAll(std::string_view, std::chrono::milliseconds) override {
        if (!m_open)
            throw TarnError("Not Connected.");
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }

private:
    std::string_view m_bytes;
    std::size_t m_pos = 0;
    std::size_t m_chunk;
    bool m_open = false;
};

// The first input byte picks the chunk size (one byte at a time up to whole reads), the rest
// is the server's stream.
inline std::size_t chunkSizeOf(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 1;
    return data[0] < 0xC0 ? std::size_t{data[0]} % 16 + 1 : LineConnection::kChunkSize;
}

// One step of a client dialogue: a failed step is expected; any other exception or a sanitizer
// report is a finding.
inline void step(const std::function<void()>& f) {
    try {
        f();
    } catch (const TarnError&) {
    }
}

} // namespace tarn::fuzz
