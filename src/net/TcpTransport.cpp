#include "net/TcpTransport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarn {

namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(int err) {
    char buf[256];
    // GNU strerror_r returns the message pointer, which may or may not be buf.
    return strerror_r(err, buf, sizeof buf);
}

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return 0;
    if (left.count() > 0x7fffffff)
        return 0x7fffffff;
    return static_cast<int>(left.count());
}

// Waits for the events on fd until the deadline; false on time-out. EINTR restarts the wait
// with what is left of the time. A readable wakeFd (when not -1) ends the wait with an error.
bool waitFor(int fd, short events, Clock::time_point deadline, int wakeFd = -1) {
    for (;;) {
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int rc = ::poll(p, wakeFd >= 0 ? 2 : 1, remainingMs(deadline));
        if (rc > 0 && wakeFd >= 0 && (p[1].revents & POLLIN) != 0)
            throw TarnError(ErrorKind::Other, TcpTransport::kInterrupted);
        if (rc > 0)
            return true;
        if (rc == 0)
            return false;
        if (errno != EINTR)
            throw TarnError(ErrorKind::NetworkError, "Socket error: " + errnoText(errno));
    }
}

} // namespace

std::unique_ptr<Transport> makeTcpTransport() {
    return std::make_unique<TcpTransport>();
}

TcpTransport::TcpTransport(HostLookup lookup)
    : m_lookup(lookup ? std::move(lookup) : systemHostLookup()) {}

TcpTransport::~TcpTransport() {
    close();
}

void TcpTransport::connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
    close();
    if (port <= 0 || port > 65535)
        throw TarnError(ErrorKind::LocalError, "Invalid port " + std::to_string(port) + ".");
    const auto deadline = Clock::now() + timeout;

    const std::string service = std::to_string(port);
    const std::vector<ResolvedAddress> addresses = resolveWithin(m_lookup, host, port, timeout);

    std::string lastError = "no address";
    int lastErrno = 0;
    bool timedOut = false;
    for (const ResolvedAddress& ai : addresses) {
        if (remainingMs(deadline) == 0) {
            timedOut = true;
            break;
        }
        int fd = ::socket(ai.family, ai.socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.protocol);
        if (fd < 0) {
            lastErrno = errno;
            lastError = errnoText(errno);
            continue;
        }
        int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&ai.addr), ai.length);
        int err = rc == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            bool connected = false;
            try {
                connected = waitFor(fd, POLLOUT, deadline, m_wakeFd);
            } catch (const TarnError&) {
                ::close(fd);
                throw;
            }
            if (!connected) {
                ::close(fd);
                timedOut = true;
                break;
            }
            socklen_t len = sizeof err;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
        }
        if (err == 0) {
            m_fd = fd;
            break;
        }
        lastErrno = err;
        lastError = errnoText(err);
        ::close(fd);
        if (remainingMs(deadline) == 0) {
            timedOut = true;
            break;
        }
    }
    if (m_fd >= 0)
        return;
    if (timedOut)
        throw TarnError(ErrorKind::TimedOut, "Connect to " + host + ":" + service +
                                                 " timed out after " +
                                                 std::to_string(timeout.count()) + " ms.");
    throw TarnError(lastErrno == ECONNREFUSED ? ErrorKind::ConnectionRefused
                                              : ErrorKind::NetworkError,
                    "Could not connect to " + host + ":" + service + ": " + lastError);
}

std::size_t TcpTransport::read(char* buf, std::size_t n, std::chrono::milliseconds timeout) {
    if (m_fd < 0)
        throw TarnError(ErrorKind::NotConnected, "Not Connected.");
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        ssize_t got = ::recv(m_fd, buf, n, 0);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw TarnError(ErrorKind::NetworkError, "Read failed: " + errnoText(errno));
        if (!waitFor(m_fd, POLLIN, deadline, m_wakeFd))
            throw TarnError(ErrorKind::TimedOut,
                            "Read timed out after " + std::to_string(timeout.count()) + " ms.");
    }
}

void TcpTransport::writeAll(std::string_view data, std::chrono::milliseconds timeout) {
    if (m_fd < 0)
        throw TarnError(ErrorKind::NotConnected, "Not Connected.");
    const auto deadline = Clock::now() + timeout;
    while (!data.empty()) {
        // MSG_NOSIGNAL: a peer that went away must give an error here, not kill the process.
        ssize_t sent = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            throw TarnError(ErrorKind::NetworkError, "Write failed: " + errnoText(errno));
        if (!waitFor(m_fd, POLLOUT, deadline))
            throw TarnError(ErrorKind::TimedOut,
                            "Write timed out after " + std::to_string(timeout.count()) + " ms.");
    }
}

void TcpTransport::close() {
    if (m_fd >= 0) {
        // A close with unread input resets the connection at once, dropping what is still
        // queued to send (a last QUIT held back by Nagle). Shutting down the sending side
        // first pushes it out ahead of the reset.
        ::shutdown(m_fd, SHUT_WR);
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace tarn
