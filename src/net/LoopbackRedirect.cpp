#include "net/LoopbackRedirect.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

namespace tarn {

namespace {

constexpr std::size_t kMaxRequest = 8 * 1024;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 &&
                   hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::map<std::string, std::string> queryOf(std::string_view query) {
    std::map<std::string, std::string> out;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        const std::size_t eq = pair.find('=');
        const std::string name = percentDecode(pair.substr(0, eq));
        // The first of a repeated name counts; a second state cannot override the first.
        if (!name.empty() && !out.count(name))
            out[name] = eq == std::string_view::npos ? "" : percentDecode(pair.substr(eq + 1));
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    return out;
}

std::string printable(std::string_view s, std::size_t max = 160) {
    std::string out;
    for (char c : s.substr(0, max))
        out += static_cast<unsigned char>(c) < ' ' || c == 0x7f ? '?' : c;
    return out;
}

void sendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // the browser went away; nothing more to tell it
        sent += static_cast<std::size_t>(n);
    }
}

void answer(int fd, const char* status, const std::string& text) {
    const std::string body = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Tarnwick"
                             "</title></head><body><p>" +
                             text + "</p></body></html>\n";
    sendAll(fd, std::string("HTTP/1.1 ") + status +
                    "\r\nContent-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\n"
                    "Connection: close\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\n\r\n" + body);
}

// Reads a request head within the deadline; empty when none came whole.
std::string readHead(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string head;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.find("\n\n") == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || head.size() > kMaxRequest)
            return {};
        pollfd p{fd, POLLIN, 0};
        const int pr = ::poll(&p, 1, static_cast<int>(left));
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr <= 0)
            return {};
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return {};
        head.append(buf, static_cast<std::size_t>(n));
    }
    return head;
}

// "5 minutes", "1 second".
std::string spoken(std::chrono::milliseconds t) {
    const long long s = std::chrono::duration_cast<std::chrono::seconds>(t).count();
    if (s >= 60 && s % 60 == 0)
        return std::to_string(s / 60) + (s == 60 ? " minute" : " minutes");
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

} // namespace

LoopbackRedirect::LoopbackRedirect() {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
        throw TarnError(ErrorKind::LocalError, "No socket for the sign-in's redirect.");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_fd, 8) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(m_fd);
        m_fd = -1;
        throw TarnError(ErrorKind::LocalError,
                        "No port on 127.0.0.1 could be had for the sign-in's redirect.");
    }
    m_port = ntohs(addr.sin_port);
}

LoopbackRedirect::~LoopbackRedirect() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string LoopbackRedirect::redirectUri() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

LoopbackRedirect::Outcome LoopbackRedirect::wait(const std::string& state,
                                                 std::chrono::milliseconds limit,
                                                 const std::atomic<bool>* cancel,
                                                 std::chrono::milliseconds readLimit) {
    Outcome out;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int refused = 0;
    for (;;) {
        if (cancel && cancel->load()) {
            out.error = "The sign-in was cancelled.";
            return out;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            out.error = "The browser did not come back within " + spoken(limit) +
                        (refused ? " (" + std::to_string(refused) + " other request" +
                                       (refused == 1 ? " was" : "s were") + " refused)"
                                 : std::string()) +
                        "; nothing was stored.";
            return out;
        }
        pollfd p{m_fd, POLLIN, 0};
        // Short rounds, so that a cancel is seen soon.
        const int pr = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 200)));
        if (pr < 0 && errno != EINTR) {
            out.error = "The sign-in's listener failed.";
            return out;
        }
        if (pr <= 0)
            continue;
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        const std::string head =
            readHead(fd, std::min(deadline, std::chrono::steady_clock::now() + readLimit));
        const std::string_view line = std::string_view(head).substr(0, head.find_first_of("\r\n"));
        // "GET /?code=...&state=... HTTP/1.1"
        const std::size_t sp1 = line.find(' ');
        const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
        const std::string_view method = line.substr(0, sp1);
        const std::string_view target = sp2 == std::string_view::npos
                                            ? std::string_view()
                                            : line.substr(sp1 + 1, sp2 - sp1 - 1);
        const std::string_view path = target.substr(0, target.find('?'));
        if (method != "GET" || path != "/" || target.find('?') == std::string_view::npos) {
            answer(fd, "404 Not Found", "This is not the address of a sign-in.");
            ::close(fd);
            ++refused;
            continue;
        }
        const auto query = queryOf(target.substr(target.find('?') + 1));
        const auto get = [&query](const char* name) {
            const auto it = query.find(name);
            return it == query.end() ? std::string() : it->second;
        };
        if (get("state") != state) {
            answer(fd, "400 Bad Request",
                   "This answer does not belong to the sign-in Tarnwick started. Nothing was "
                   "stored.");
            ::close(fd);
            out.error = "The browser came back with an answer to another sign-in (the state "
                        "does not match); nothing was stored.";
            return out;
        }
        if (const std::string error = get("error"); !error.empty()) {
            const std::string description = get("error_description");
            answer(fd, "200 OK", "The sign-in was refused. You can close this window.");
            ::close(fd);
            out.error = "The provider refused the sign-in: " + printable(error) +
                        (description.empty() ? "" : " (" + printable(description) + ")") + ".";
            return out;
        }
        out.code = get("code");
        if (out.code.empty()) {
            answer(fd, "400 Bad Request", "The answer carries no authorization code.");
            ::close(fd);
            out.error = "The browser came back without an authorization code.";
            return out;
        }
        answer(fd, "200 OK", "Signed in. You can close this window and return to Tarnwick.");
        ::close(fd);
        out.ok = true;
        return out;
    }
}

} // namespace tarn
