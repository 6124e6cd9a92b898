#include "net/LineConnection.h"

#include <algorithm>
#include <cstring>

#include "net/TlsTransport.h"

namespace tarn {

namespace {
const char* const kTooLong = "Max line length exceeded.";
const char* const kClosed = "Connection Closed Gracefully.";
const char* const kEndTimeReached = "The time allowed for the whole check has run out.";

TarnError notConnected() {
    return TarnError(ErrorKind::NotConnected, "Not Connected.");
}
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

std::chrono::milliseconds LineConnection::timeLeft(Clock::time_point deadline,
                                                   bool& endTimeFirst) const {
    endTimeFirst = false;
    if (m_endTime && *m_endTime < deadline) {
        deadline = *m_endTime;
        endTimeFirst = true;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max(left, std::chrono::milliseconds(0));
}

void LineConnection::fail(const TarnError& e) {
    m_lastError = e;
    throw e;
}

void LineConnection::failTransport(const TarnError& e, const char* what,
                                   std::chrono::milliseconds limit, bool endTimeFirst) {
    if (e.kind() != ErrorKind::TimedOut)
        fail(e);
    if (endTimeFirst)
        fail(TarnError(ErrorKind::TimedOut, kEndTimeReached));
    fail(TarnError(ErrorKind::TimedOut, std::string(what) + " timed out after " +
                                            std::to_string(limit.count()) + " ms."));
}

void LineConnection::startAnswer() {
    m_answerStart = Clock::now();
    m_answerBytes = 0;
}

void LineConnection::Connect(const std::string& host, int port) {
    Disconnect();
    m_lineTooLong = false;
    m_peerClosed = false;
    m_host = host;
    m_lastError.reset();
    bool endTimeFirst = false;
    const auto left = timeLeft(Clock::now() + m_connectTimeout, endTimeFirst);
    if (endTimeFirst && left.count() == 0)
        fail(TarnError(ErrorKind::TimedOut, kEndTimeReached));
    try {
        m_transport->connect(host, port, left);
    } catch (const TarnError& e) {
        // A transport words its own connect time-out; only the end time needs saying.
        if (e.kind() == ErrorKind::TimedOut && endTimeFirst)
            fail(TarnError(ErrorKind::TimedOut, kEndTimeReached));
        fail(e);
    }
    startAnswer();
}

void LineConnection::Disconnect() {
    active().close();
    m_tls.reset();
    m_buffer.clear();
    m_pos = 0;
}

void LineConnection::Abandon(const TarnError& reason) {
    Disconnect();
    m_lastError = reason;
}

bool LineConnection::Connected() const {
    return active().isOpen();
}

void LineConnection::StartTls(std::string_view pin) {
    if (!Connected())
        throw notConnected();
    if (m_tls)
        throw TarnError(ErrorKind::TlsError, "The connection is encrypted already.");
    // Injected after the server's go-ahead: not part of any protected reply.
    m_buffer.clear();
    m_pos = 0;
    m_peerClosed = false;
    // The handshake is the server's answer to the connect or the go-ahead.
    bool endTimeFirst = false;
    const auto left = timeLeft(Clock::now() + m_readTimeout, endTimeFirst);
    try {
        auto tls = std::make_unique<TlsTransport>(*m_transport, m_host, pin);
        tls->handshake(left);
        m_tls = std::move(tls);
    } catch (const TarnError& e) {
        m_transport->close();
        failTransport(e, "TLS handshake", m_readTimeout, endTimeFirst);
    }
    startAnswer();
}

bool LineConnection::fill() {
    if (m_peerClosed)
        return false;
    if (!active().isOpen())
        throw notConnected();
    // Drop what has been handed out before growing the buffer.
    if (m_pos > 0) {
        m_buffer.erase(0, m_pos);
        m_pos = 0;
    }
    const auto earned =
        std::chrono::milliseconds(static_cast<long long>(m_answerBytes / (kMinAnswerRate / 1000)));
    bool endTimeFirst = false;
    const auto left = timeLeft(m_answerStart + m_readTimeout + earned, endTimeFirst);
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + kChunkSize);
    std::size_t got = 0;
    try {
        got = active().read(m_buffer.data() + old, kChunkSize, left);
    } catch (const TarnError& e) {
        m_buffer.resize(old);
        failTransport(e, "Read", m_readTimeout, endTimeFirst);
    } catch (...) {
        m_buffer.resize(old);
        throw;
    }
    m_buffer.resize(old + got);
    if (got == 0) {
        m_peerClosed = true;
        return false;
    }
    m_answerBytes += got;
    return true;
}

std::string LineConnection::ReadLn() {
    std::size_t scanned = 0; // bytes after m_pos already known to hold no LF
    for (;;) {
        if (m_lineTooLong)
            fail(TarnError(ErrorKind::OverBudget, kTooLong));
        const char* start = m_buffer.data() + m_pos;
        const std::size_t avail = buffered();
        const void* lf = std::memchr(start + scanned, '\n', avail - scanned);
        if (lf != nullptr) {
            std::size_t len = static_cast<const char*>(lf) - start;
            // The CR before the LF counts towards the limit.
            if (len > kMaxLineLength) {
                m_lineTooLong = true;
                fail(TarnError(ErrorKind::OverBudget, kTooLong));
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
            fail(TarnError(ErrorKind::OverBudget, kTooLong));
        }
        if (!fill()) {
            if (buffered() == 0)
                fail(TarnError(ErrorKind::ConnectionClosed, kClosed));
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
        fail(TarnError(ErrorKind::OverBudget, kTooLong));
    while (buffered() < n) {
        if (!fill())
            fail(TarnError(ErrorKind::ConnectionClosed, kClosed));
    }
    std::string out(m_buffer.data() + m_pos, n);
    m_pos += n;
    return out;
}

std::string LineConnection::ReadSome(std::size_t max) {
    if (m_lineTooLong)
        fail(TarnError(ErrorKind::OverBudget, kTooLong));
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
    if (!active().isOpen())
        throw notConnected();
    bool endTimeFirst = false;
    const auto left = timeLeft(Clock::now() + m_writeTimeout, endTimeFirst);
    try {
        active().writeAll(data, left);
    } catch (const TarnError& e) {
        failTransport(e, "Write", m_writeTimeout, endTimeFirst);
    }
    // The answer to what was just written is due from now on.
    startAnswer();
}

} // namespace tarn
