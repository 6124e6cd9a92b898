#include "engine/LineConnection.h"

#include <algorithm>
#include <cstring>

namespace tarn {

namespace {
const char* const kTooLong = "Max line length exceeded.";
const char* const kClosed = "Connection Closed Gracefully.";
} // namespace

LineConnection::LineConnection(std::unique_ptr<Transport> transport)
    : m_transport(std::move(transport)) {
    if (!m_transport)
        m_transport = makeTcpTransport();
}

LineConnection::~LineConnection() {
    if (m_transport)
        m_transport->close();
}

void LineConnection::Connect(const std::string& host, int port) {
    m_transport->close();
    m_buffer.clear();
    m_pos = 0;
    m_lineTooLong = false;
    m_peerClosed = false;
    m_transport->connect(host, port, m_connectTimeout);
}

void LineConnection::Disconnect() {
    m_transport->close();
    m_buffer.clear();
    m_pos = 0;
}

bool LineConnection::Connected() const {
    return m_transport->isOpen();
}

bool LineConnection::fill() {
    if (m_peerClosed)
        return false;
    if (!m_transport->isOpen())
        throw TarnError("Not Connected.");
    // Drop what has been handed out before growing the buffer.
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kChunkSize);
    std::size_t got = 0;
    try {
        got = m_transport->read(m_buffer.data() + old, kChunkSize, m_readTimeout);
    } catch (...) {
        m_buffer.resize(old);
        throw;
    }
    m_buffer.resize(old + got);
    if (got == 0) {
        m_peerClosed = true;
        return false;
    }
    return true;
}

std::string LineConnection::ReadLn() {
    std::size_t scanned = 0; // bytes after m_pos already known to hold no LF
    for (;;) {
        if (m_lineTooLong)
            throw TarnError(kTooLong);
        const char* start = m_buffer.data() + m_pos;
        const std::size_t avail = buffered();
        const void* lf = std::memchr(start + scanned, '\n', avail - scanned);
        if (lf != nullptr) {
            std::size_t len = static_cast<const char*>(lf) - start;
            // The CR before the LF counts towards the limit.
            if (len > kMaxLineLength) {
                m_lineTooLong = true;
                throw TarnError(kTooLong);
            }
            std::string line(start, len);
            m_pos += len + 1;
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        scanned = avail;
        if (avail > kMaxLineLength) {
            m_lineTooLong = true;
            throw TarnError(kTooLong);
        }
        if (!fill()) {
            if (buffered() == 0)
                throw TarnError(kClosed);
            std::string line(m_buffer.data() + m_pos, buffered());
            m_pos = m_buffer.size();
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        // fill() may have compacted the buffer; scanned is relative to m_pos and stays valid.
    }
}

std::string LineConnection::ReadBytes(std::size_t n) {
    if (m_lineTooLong)
        throw TarnError(kTooLong);
    while (buffered() < n) {
        if (!fill())
            throw TarnError(kClosed);
    }
    std::string out(m_buffer.data() + m_pos, n);
    m_pos += n;
    return out;
}

std::string LineConnection::ReadSome(std::size_t max) {
    if (m_lineTooLong)
        throw TarnError(kTooLong);
    if (buffered() == 0 && !fill())
        return std::string();
    const std::size_t n = std::min(max, buffered());
    std::string out(m_buffer.data() + m_pos, n);
    m_pos += n;
    return out;
}

void LineConnection::WriteLn(std::string_view line) {
    std::string data;
    data.reserve(line.size() + 2);
    data.append(line);
    data.append("\r\n");
    Write(data);
}

void LineConnection::Write(std::string_view data) {
    if (!m_transport->isOpen())
        throw TarnError("Not Connected.");
    m_transport->writeAll(data, m_readTimeout);
}

} // namespace tarn
