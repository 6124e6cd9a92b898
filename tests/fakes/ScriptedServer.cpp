#include "fakes/ScriptedServer.h"

#include <strings.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace tarn::test {

ScriptedServer::ScriptedServer() {
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        throw std::runtime_error("ScriptedServer: socket failed");
    int one = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listenFd, 8) != 0) {
        ::close(m_listenFd);
        throw std::runtime_error("ScriptedServer: bind/listen failed");
    }
    socklen_t len = sizeof addr;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    m_thread = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
    m_stop = true;
    std::uint64_t one = 1;
    [[maybe_unused]] auto rc = ::write(m_wakeFd, &one, sizeof one);
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_listenFd);
    ::close(m_wakeFd);
    SSL_CTX_free(m_tlsContext);
}

void ScriptedServer::setTls(const std::string& certFile, const std::string& keyFile, TlsFrom from,
                            int maxVersion) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx == nullptr || SSL_CTX_use_certificate_chain_file(ctx, certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("ScriptedServer: cannot use " + certFile);
    }
    if (maxVersion != 0) {
        // Old protocols are refused at the default security level; this server must offer
        // them anyway.
        SSL_CTX_set_security_level(ctx, 0);
        SSL_CTX_set_cipher_list(ctx, "DEFAULT:@SECLEVEL=0");
        SSL_CTX_set_min_proto_version(ctx, 0);
        SSL_CTX_set_max_proto_version(ctx, maxVersion);
    }
    std::lock_guard lock(m_mutex);
    SSL_CTX_free(m_tlsContext);
    m_tlsContext = ctx;
    m_tlsFrom = from;
}

void ScriptedServer::setGreeting(std::string raw, After after) {
    std::lock_guard lock(m_mutex);
    m_greeting = std::move(raw);
    m_greetingAfter = after;
}

ScriptedServer& ScriptedServer::addRule(Rule rule) {
    CompiledRule c{std::move(rule), {}};
    if (c.rule.match == Match::Regex)
        c.re = std::regex(c.rule.pattern, std::regex::ECMAScript);
    std::lock_guard lock(m_mutex);
    m_rules.push_back(std::move(c));
    return *this;
}

ScriptedServer& ScriptedServer::on(std::string line, std::string reply, After after, int times) {
    return addRule({Match::Exact, std::move(line), std::move(reply), after, times});
}

ScriptedServer& ScriptedServer::onPrefix(std::string prefix, std::string reply, After after,
                                         int times) {
    return addRule({Match::Prefix, std::move(prefix), std::move(reply), after, times});
}

ScriptedServer& ScriptedServer::onRegex(std::string regex, std::string reply, After after,
                                        int times) {
    return addRule({Match::Regex, std::move(regex), std::move(reply), after, times});
}

void ScriptedServer::setUnmatchedReply(std::string raw) {
    std::lock_guard lock(m_mutex);
    m_unmatched = std::move(raw);
    m_hasUnmatched = true;
}

void ScriptedServer::setChunking(std::size_t bytes, std::chrono::milliseconds pause) {
    std::lock_guard lock(m_mutex);
    m_chunkBytes = bytes;
    m_chunkPause = pause;
}

void ScriptedServer::clearRules() {
    std::lock_guard lock(m_mutex);
    m_rules.clear();
}

std::string ScriptedServer::lines(std::initializer_list<std::string_view> ls) {
    std::string out;
    for (auto l : ls) {
        out.append(l);
        out.append("\r\n");
    }
    return out;
}

std::vector<std::string> ScriptedServer::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void ScriptedServer::clearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
}

bool ScriptedServer::waitForLine(std::string_view line, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] {
        for (const auto& l : m_received)
            if (l == line)
                return true;
        return false;
    });
}

bool ScriptedServer::waitForLineCount(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_received.size() >= n; });
}

int ScriptedServer::connectionCount() const {
    std::lock_guard lock(m_mutex);
    return m_connections;
}

int ScriptedServer::closedCount() const {
    std::lock_guard lock(m_mutex);
    return m_closed;
}

bool ScriptedServer::waitForClosed(int n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, timeout, [&] { return m_closed >= n; });
}

// Takes the first complete line (without its CR LF or LF) off the front of buf.
// "<tag> CAPABILITY" in any case.
static bool isCapabilityCommand(const std::string& line) {
    const std::size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0)
        return false;
    const std::string word = line.substr(sp + 1);
    return word.size() == 10 && strncasecmp(word.c_str(), "CAPABILITY", 10) == 0;
}

static bool takeLine(std::string& buf, std::string& line) {
    const std::size_t lf = buf.find('\n');
    if (lf == std::string::npos)
        return false;
    line = buf.substr(0, lf);
    buf.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// Appends what one read brings to buf; false when the client closed or the read failed.
static bool receiveMore(int fd, SSL* ssl, std::string& buf, int flags = 0) {
    char tmp[4096];
    if (ssl != nullptr) {
        if ((flags & MSG_DONTWAIT) && SSL_pending(ssl) == 0)
            return false;
        std::size_t got = 0;
        if (SSL_read_ex(ssl, tmp, sizeof tmp, &got) != 1)
            return false;
        buf.append(tmp, got);
        return true;
    }
    for (;;) {
        const ssize_t got = ::recv(fd, tmp, sizeof tmp, flags);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        buf.append(tmp, static_cast<std::size_t>(got));
        return true;
    }
}

// Records and removes every complete line at the front of buf.
void ScriptedServer::recordLines(std::string& buf) {
    std::string line;
    while (takeLine(buf, line))
        record(std::move(line));
}

void ScriptedServer::record(std::string line) {
    {
        std::lock_guard lock(m_mutex);
        m_received.push_back(std::move(line));
    }
    m_cv.notify_all();
}

bool ScriptedServer::waitReadable(const Link& link, int timeoutMs) const {
    if (link.ssl != nullptr && SSL_pending(link.ssl) > 0)
        return !m_stop;
    return waitReadable(link.fd, timeoutMs);
}

bool ScriptedServer::waitReadable(int fd, int timeoutMs) const {
    for (;;) {
        if (m_stop)
            return false;
        pollfd p[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
        int rc = ::poll(p, 2, timeoutMs);
        if (rc < 0 && errno == EINTR)
            continue;
        if (m_stop || (p[1].revents & POLLIN))
            return false;
        return rc > 0;
    }
}

void ScriptedServer::run() {
    // OpenSSL writes to the socket with write(): a client that has already closed would kill
    // the test program with SIGPIPE. Blocked here, the write fails with EPIPE instead.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!m_stop) {
        if (!waitReadable(m_listenFd, -1))
            return;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(m_mutex);
            ++m_connections;
        }
        Link link{fd, nullptr};
        serve(link);
        SSL_free(link.ssl);
        ::close(fd);
        {
            std::lock_guard lock(m_mutex);
            ++m_closed;
        }
        m_cv.notify_all();
    }
}

bool ScriptedServer::acceptTls(Link& link) {
    SSL_CTX* ctx;
    {
        std::lock_guard lock(m_mutex);
        ctx = m_tlsContext;
    }
    if (ctx == nullptr)
        return false;
    // A client that never finishes its part must not hold the server for ever.
    timeval limit{10, 0};
    ::setsockopt(link.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    link.ssl = SSL_new(ctx);
    SSL_set_fd(link.ssl, link.fd);
    const bool ok = SSL_accept(link.ssl) == 1;
    ERR_clear_error();
    return ok;
}

ScriptedServer::Outcome ScriptedServer::sendReply(Link& link, const std::string& raw) {
    std::size_t chunk;
    std::chrono::milliseconds pause;
    {
        std::lock_guard lock(m_mutex);
        chunk = m_chunkBytes == 0 ? raw.size() : m_chunkBytes;
        pause = m_chunkPause;
    }
    std::size_t pos = 0;
    while (pos < raw.size()) {
        if (m_stop)
            return Outcome::Stopped;
        std::size_t n = std::min(chunk, raw.size() - pos);
        ssize_t sent = -1;
        if (link.ssl != nullptr) {
            std::size_t written = 0;
            sent = SSL_write_ex(link.ssl, raw.data() + pos, n, &written) == 1
                       ? static_cast<ssize_t>(written)
                       : 0;
        } else {
            sent = ::send(link.fd, raw.data() + pos, n, MSG_NOSIGNAL);
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return Outcome::Closed; // the client went away; nothing more to say
        pos += static_cast<std::size_t>(sent);
        if (pos < raw.size() && pause.count() > 0)
            std::this_thread::sleep_for(pause);
    }
    return Outcome::Open;
}

// Keeps the connection open and records what arrives, answering nothing, until the client
// closes or the server stops.
bool ScriptedServer::stall(Link& link, std::string buf) {
    recordLines(buf);
    while (waitReadable(link, -1)) {
        if (!receiveMore(link.fd, link.ssl, buf))
            return true;
        recordLines(buf);
    }
    return false;
}

// Sends FIN and records what the client still says until it closes (bounded), so that an
// intended close is never turned into a reset that could discard data the client has not
// read yet.
void ScriptedServer::closeGracefully(Link& link, std::string buf) {
    recordLines(buf);
    if (link.ssl != nullptr)
        SSL_shutdown(link.ssl);
    ::shutdown(link.fd, SHUT_WR);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline && waitReadable(link, 300)) {
        if (!receiveMore(link.fd, link.ssl, buf))
            break;
        recordLines(buf);
    }
}

const ScriptedServer::CompiledRule* ScriptedServer::findRule(const std::string& line) {
    for (auto& c : m_rules) {
        if (c.rule.times == 0)
            continue;
        bool hit = false;
        switch (c.rule.match) {
        case Match::Exact:
            hit = line == c.rule.pattern;
            break;
        case Match::Prefix:
            hit = line.compare(0, c.rule.pattern.size(), c.rule.pattern) == 0;
            break;
        case Match::Regex:
            hit = std::regex_search(line, c.re);
            break;
        case Match::Any:
            hit = true;
            break;
        }
        if (hit) {
            if (c.rule.times > 0)
                --c.rule.times;
            return &c;
        }
    }
    return nullptr;
}

void ScriptedServer::serve(Link& link) {
    std::string greeting;
    After greetingAfter;
    bool tlsAtOnce;
    {
        std::lock_guard lock(m_mutex);
        greeting = m_greeting;
        greetingAfter = m_greetingAfter;
        tlsAtOnce = m_tlsContext != nullptr && m_tlsFrom == TlsFrom::Accept;
    }
    if (tlsAtOnce && !acceptTls(link))
        return;
    if (!greeting.empty() && sendReply(link, greeting) != Outcome::Open)
        return;
    if (greetingAfter == After::Close) {
        closeGracefully(link, {});
        return;
    }
    if (greetingAfter == After::Stall) {
        stall(link, {});
        return;
    }

    std::string buf;
    while (waitReadable(link, -1)) {
        if (!receiveMore(link.fd, link.ssl, buf))
            return;
        std::string line;
        while (takeLine(buf, line)) {
            record(line);

            std::string reply;
            After after = After::Continue;
            bool answer = false;
            {
                std::lock_guard lock(m_mutex);
                if (const CompiledRule* c = findRule(line)) {
                    reply = c->rule.reply;
                    after = c->rule.after;
                    answer = true;
                } else if (m_hasUnmatched) {
                    reply = m_unmatched;
                    answer = true;
                } else if (line == "CAPA") {
                    // What a POP3 server from before capabilities says; a script that wants
                    // otherwise has a rule for it.
                    reply = "-ERR unknown command\r\n";
                    answer = true;
                } else if (isCapabilityCommand(line)) {
                    // An IMAP4 server that offers nothing beyond LOGIN.
                    reply = "* CAPABILITY IMAP4rev1\r\n{TAG} OK done\r\n";
                    answer = true;
                }
            }
            if (!answer)
                continue;
            const std::string tag = line.substr(0, line.find(' '));
            for (std::size_t p = reply.find("{TAG}"); p != std::string::npos;
                 p = reply.find("{TAG}", p + tag.size()))
                reply.replace(p, 5, tag);
            if (sendReply(link, reply) != Outcome::Open) {
                // A client that resets the connection may still have sent lines before it
                // (its last QUIT): they are in the socket and count as received.
                while (receiveMore(link.fd, link.ssl, buf, MSG_DONTWAIT)) {
                }
                recordLines(buf);
                return;
            }
            if (after == After::Close) {
                closeGracefully(link, std::move(buf));
                return;
            }
            if (after == After::Stall) {
                stall(link, std::move(buf));
                return;
            }
            if (after == After::StartTls) {
                // Whatever else arrived in clear is not part of the protected dialogue.
                buf.clear();
                if (link.ssl != nullptr || !acceptTls(link))
                    return;
            }
        }
    }
}

} // namespace tarn::test
