#include "engine/LineConnection.h"

#include <algorithm>
#include <cstring>

#include "engine/TlsTransport.h"

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
        active().close();
}

Transport& LineConnection::active() {
    return m_tls ? static_cast<Transport&>(*m_tls) : *m_transport;
}

const Transport& LineConnection::active() const {
    return m_tls ? static_cast<const Transport&>(*m_tls) : *m_transport;
}

void LineConnection::Connect(const std::string& host, int port) {
    Disconnect();
    m_lineTooLong = false;
    m_peerClosed = false;
    m_host = host;
    m_transport->connect(host, port, m_connectTimeout);
}

void LineConnection::Disconnect() {
    active().close();
    m_tls.reset();
    m_buffer.clear();
    m_pos = 0;
}

bool LineConnection::Connected() const {
    return active().isOpen();
}

void LineConnection::StartTls(std::string_view pin) {
    if (!Connected())
        throw TarnError("Not Connected.");
    if (m_tls)
        throw TarnError("The connection is encrypted already.");
    // Injected after the server's go-ahead: not part of any protected reply.
    m_buffer.clear();
    m_pos = 0;
    m_peerClosed = false;
    try {
        auto tls = std::make_unique<TlsTransport>(*m_transport, m_host, pin);
        tls->handshake(m_readTimeout);
        m_tls = std::move(tls);
    } catch (...) {
        m_transport->close();
        throw;
    }
}

bool LineConnection::fill() {
    if (m_peerClosed)
        return false;
    if (!active().isOpen())
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
        got = active().read(m_buffer.data() + old, kChunkSize, m_readTimeout);
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

void LineConnection::WriteLn(std::string_view line) {
    std::string data;
    data.reserve(line.size() + 2);
    data.append(line);
    data.append("\r\n");
    Write(data);
}

void LineConnection::Write(std::string_view data) {
    if (!active().isOpen())
        throw TarnError("Not Connected.");
    active().writeAll(data, m_readTimeout);
}

} // namespace tarn
