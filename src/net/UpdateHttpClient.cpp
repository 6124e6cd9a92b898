#include "net/UpdateHttpClient.h"

#include "core/AsciiText.h"
#include "net/LineConnection.h"
#include "net/TcpTransport.h"

#include <algorithm>
#include <cctype>
#include <utility>
#include <vector>

namespace tarn {

namespace {

using Clock = std::chrono::steady_clock;

// Every wait of the exchange ends at one deadline, so a server that sends a byte now and
// then cannot keep it going for ever.
class DeadlineTransport : public Transport {
public:
    DeadlineTransport(std::unique_ptr<Transport> inner, Clock::time_point deadline,
                      std::chrono::milliseconds total)
        : m_inner(std::move(inner)), m_deadline(deadline), m_total(total) {}

    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override {
        guarded([&](std::chrono::milliseconds t) { m_inner->connect(host, port, t); }, timeout);
    }
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) override {
        std::size_t got = 0;
        guarded([&](std::chrono::milliseconds t) { got = m_inner->read(buf, n, t); }, timeout);
        return got;
    }
    void writeAll(std::string_view data, std::chrono::milliseconds timeout) override {
        guarded([&](std::chrono::milliseconds t) { m_inner->writeAll(data, t); }, timeout);
    }
    void close() override { m_inner->close(); }
    bool isOpen() const override { return m_inner->isOpen(); }

private:
    template <class Step> void guarded(Step step, std::chrono::milliseconds timeout) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - Clock::now());
        if (left.count() <= 0)
            throw overdue();
        try {
            step(std::min(timeout, left));
        } catch (const TarnError&) {
            if (Clock::now() >= m_deadline)
                throw overdue();
            throw;
        }
    }
    TarnError overdue() const {
        return TarnError("The update server did not finish its answer within " +
                         std::to_string(m_total.count() / 1000) + " s.");
    }

    std::unique_ptr<Transport> m_inner;
    Clock::time_point m_deadline;
    std::chrono::milliseconds m_total;
};

std::string trimmed(std::string_view s) {
    return std::string(trimSpaceTab(s));
}

// The part of a header line after its name and colon.
std::string headerValue(const std::string& line) {
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : trimmed(line.substr(colon + 1));
}

// Cookies received so far, one value per name, in the order they first came.
class CookieJar {
public:
    void take(const std::string& setCookieValue) {
        std::string pair = trimmed(setCookieValue.substr(0, setCookieValue.find(';')));
        if (pair.empty())
            return;
        const std::string name = pair.substr(0, pair.find('='));
        for (std::string& p : m_pairs) {
            if (p.substr(0, p.find('=')) == name) {
                p = pair;
                return;
            }
        }
        m_pairs.push_back(pair);
    }
    std::string header() const {
        std::string out;
        for (const std::string& p : m_pairs)
            out += (out.empty() ? "" : "; ") + p;
        return out;
    }

private:
    std::vector<std::string> m_pairs;
};

bool validHost(const std::string& host) {
    if (host.empty() || host.size() > 255)
        return false;
    return std::all_of(host.begin(), host.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':';
    });
}

std::optional<int> portOf(const std::string& text) {
    const std::optional<std::uint64_t> port = parseDecimal(text, 65535);
    if (!port || *port < 1)
        return std::nullopt;
    return static_cast<int>(*port);
}

// A path as it may stand on the request line: no blanks or control characters.
std::string cleanPath(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if (c <= 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out.empty() || out[0] != '/' ? "/" + out : out;
}

} // namespace

std::optional<UpdateHttpClient::Address> UpdateHttpClient::parseServer(const std::string& server,
                                                                       const std::string& path) {
    Address a;
    a.path = cleanPath(path);
    std::string s = trimmed(server);
    if (!s.empty() && s[0] == '[') {
        const std::size_t close = s.find(']');
        if (close == std::string::npos)
            return std::nullopt;
        a.host = s.substr(1, close - 1);
        const std::string rest = s.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return std::nullopt;
            const std::optional<int> port = portOf(rest.substr(1));
            if (!port)
                return std::nullopt;
            a.port = *port;
        }
    } else {
        const std::size_t colon = s.find(':');
        if (colon != std::string::npos && s.find(':', colon + 1) == std::string::npos) {
            const std::optional<int> port = portOf(s.substr(colon + 1));
            if (!port)
                return std::nullopt;
            a.port = *port;
            s.resize(colon);
        }
        a.host = s;
    }
    if (!validHost(a.host))
        return std::nullopt;
    return a;
}

std::string UpdateHttpClient::request(const Address& to, const std::string& cookie) {
    std::string host = to.host.find(':') != std::string::npos ? "[" + to.host + "]" : to.host;
    // Another port than the standard one belongs to the name the server knows itself by.
    if (to.port != 80)
        host += ":" + std::to_string(to.port);
    std::string r = "GET " + to.path + " HTTP/1.0\r\n";
    r += "Host: " + host + "\r\n";
    r += "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n";
    r += "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
    r += "From: Tarnwick\r\n";
    r += std::string("Referer: ") + Referer + "\r\n";
    r += "Content-type: application/x-www-form-urlencoded\r\n";
    if (!cookie.empty())
        r += "Cookie: " + cookie + "\r\n";
    r += "\r\n";
    return r;
}

int UpdateHttpClient::statusOf(const std::string& statusLine) {
    std::size_t b = statusLine.find_first_not_of(' ');
    b = b == std::string::npos ? b : statusLine.find(' ', b);
    b = b == std::string::npos ? b : statusLine.find_first_not_of(' ', b);
    if (b == std::string::npos)
        return 0;
    const std::size_t e = statusLine.find(' ', b);
    const std::string word = statusLine.substr(b, e == std::string::npos ? e : e - b);
    return static_cast<int>(parseDecimal(word, 999999999).value_or(0));
}

std::optional<UpdateHttpClient::Address>
UpdateHttpClient::redirectTarget(const Address& from, const std::string& location) {
    const std::string loc = trimmed(location);
    if (loc.empty())
        return std::nullopt;
    const std::size_t scheme = loc.find("://");
    if (scheme != std::string::npos && loc.find('/') > scheme) {
        if (lowerAsciiCopy(loc.substr(0, scheme)) != "http")
            return std::nullopt;
        const std::string rest = loc.substr(scheme + 3);
        const std::size_t slash = rest.find('/');
        return parseServer(rest.substr(0, slash),
                           slash == std::string::npos ? "/" : rest.substr(slash));
    }
    // Anything else is a path on the same server; one without "/" hangs off its root.
    Address to = from;
    to.path = cleanPath(loc);
    return to;
}

UpdateHttpClient::Reply UpdateHttpClient::get(const Address& address) const {
    Reply reply;
    const auto deadline = Clock::now() + m_limits.totalTimeout;
    CookieJar cookies;
    Address to = address;
    try {
        for (;;) {
            LineConnection conn(std::make_unique<DeadlineTransport>(
                std::make_unique<TcpTransport>(m_limits.hostLookup), deadline,
                m_limits.totalTimeout));
            conn.setConnectTimeout(m_limits.connectTimeout);
            conn.setReadTimeout(m_limits.readTimeout);
            conn.Connect(to.host, to.port);
            conn.Write(request(to, cookies.header()));

            const std::string statusLine = conn.ReadLn();
            const int status = statusOf(statusLine);
            std::string location;
            std::size_t headerBytes = statusLine.size();
            for (;;) {
                const std::string line = conn.ReadLn();
                if (line.empty())
                    break;
                headerBytes += line.size() + 2;
                if (headerBytes > m_limits.maxHeader)
                    throw TarnError("The update server's header is longer than " +
                                    std::to_string(m_limits.maxHeader / 1024) + " KB.");
                const std::string name = upperAsciiCopy(line.substr(0, line.find(' ')));
                if (name == "LOCATION:")
                    location = headerValue(line);
                else if (name == "SET-COOKIE:")
                    cookies.take(headerValue(line));
                // CONTENT-LENGTH is not trusted: the body ends when the server closes.
            }

            if (isRedirect(status) && !location.empty()) {
                if (reply.redirects >= m_limits.maxRedirects)
                    throw TarnError("The update server redirected more than " +
                                    std::to_string(m_limits.maxRedirects) + " times.");
                const std::optional<Address> next = redirectTarget(to, location);
                if (!next)
                    throw TarnError("The update server redirected to an address Tarnwick "
                                    "cannot fetch: " +
                                    location.substr(0, 200));
                ++reply.redirects;
                to = *next;
                continue;
            }

            reply.status = status;
            for (;;) {
                const std::size_t room = m_limits.maxBody - reply.body.size();
                std::string piece = conn.ReadSome(room + 1);
                if (piece.empty())
                    break;
                if (piece.size() > room) {
                    reply.body += piece.substr(0, room);
                    reply.bodyCut = true;
                    break;
                }
                reply.body += piece;
            }
            return reply;
        }
    } catch (const std::exception& e) {
        reply.failed = true;
        reply.reason = e.what();
        reply.body.clear();
        reply.bodyCut = false;
        return reply;
    }
}

} // namespace tarn
