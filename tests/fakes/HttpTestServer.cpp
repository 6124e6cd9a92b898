#include "fakes/HttpTestServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarn::test {

namespace {

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("HttpTestServer: socket failed");
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        throw std::runtime_error("HttpTestServer: bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

HttpTestServer::HttpTestServer(Handler handler) : m_handler(std::move(handler)) {
    m_listenFd = listenOnLoopback(m_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

HttpTestServer::~HttpTestServer() {
    m_stop = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto rc = ::write(m_wakeFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
}

std::string HttpTestServer::address() const {
    return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<std::string> HttpTestServer::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

HttpTestServer::Reply HttpTestServer::answer(const std::string& statusLine,
                                             const std::vector<std::string>& headers,
                                             const std::string& body) {
    Reply r;
    r.raw = statusLine + "\r\n";
    for (const std::string& h : headers)
        r.raw += h + "\r\n";
    r.raw += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return r;
}

std::string HttpTestServer::requestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

int HttpTestServer::closedPort() {
    int port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

bool HttpTestServer::waitReadable(int fd, int timeoutMs) const {
    pollfd p[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int rc = ::poll(p, 2, timeoutMs);
    return rc > 0 && !m_stop && (p[0].revents & (POLLIN | POLLHUP | POLLERR));
}

void HttpTestServer::run() {
    while (!m_stop) {
        if (!waitReadable(m_listenFd, 200))
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        serve(fd);
        ::close(fd);
    }
}

bool HttpTestServer::sendAll(int fd, const char* data, std::size_t n) {
    while (n > 0 && !m_stop) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        if (::poll(p, 2, 200) <= 0)
            continue;
        if (m_stop)
            return false;
        const ssize_t sent = ::send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (sent <= 0)
            return false;
        m_sent += static_cast<std::size_t>(sent);
        data += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return n == 0;
}

void HttpTestServer::serve(int fd) {
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (!waitReadable(fd, 5000))
            return;
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        request.append(buf, static_cast<std::size_t>(n));
    }
    // A request with a body (a form POST) is recorded whole.
    const std::size_t headerEnd = request.find("\r\n\r\n");
    if (headerEnd != std::string::npos) {
        std::size_t length = 0;
        std::string lower = request.substr(0, headerEnd);
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        if (const std::size_t at = lower.find("\r\ncontent-length:"); at != std::string::npos)
            length = std::strtoul(lower.c_str() + at + 17, nullptr, 10);
        const std::size_t want = headerEnd + 4 + std::min<std::size_t>(length, 1 << 20);
        while (request.size() < want) {
            if (!waitReadable(fd, 5000))
                return;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            request.append(buf, static_cast<std::size_t>(n));
        }
    }
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
    }
    const Reply reply = m_handler(request);
    if (reply.silent) {
        // Hold the connection until the client gives up or the server stops.
        while (!m_stop && !waitReadable(fd, 200)) {
        }
        return;
    }
    if (reply.bytePause.count() > 0) {
        for (char c : reply.raw) {
            if (!sendAll(fd, &c, 1))
                return;
            pollfd p{m_wakeFd, POLLIN, 0};
            ::poll(&p, 1, static_cast<int>(reply.bytePause.count()));
        }
    } else if (!sendAll(fd, reply.raw.data(), reply.raw.size())) {
        return;
    }
    for (std::size_t i = 0; i < reply.fillerRepeat && !m_stop; ++i) {
        if (!sendAll(fd, reply.filler.data(), reply.filler.size()))
            return;
    }
    ::shutdown(fd, SHUT_WR);
    // Let the client read to the end before the socket goes.
    waitReadable(fd, 2000);
}

} // namespace tarn::test
