#pragma once

#include "net/HostLookup.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tarn {

// The HTTP/1.0 GET of the update text: one fixed request, redirects followed, the body read
// until the server closes. Runs on any thread; it shares nothing with the caller.
class UpdateHttpClient {
public:
    struct Address {
        std::string host;
        int port = 80;
        std::string path = "/";
    };

    struct Limits {
        std::chrono::milliseconds connectTimeout{10000};
        // Each read; the whole exchange also ends at totalTimeout.
        std::chrono::milliseconds readTimeout{15000};
        std::chrono::milliseconds totalTimeout{30000};
        std::size_t maxBody = 1024 * 1024;
        std::size_t maxHeader = 64 * 1024;
        int maxRedirects = 5;
        // Name lookup for the update server and every redirect; empty for the system's.
        HostLookup hostLookup;
    };

    struct Reply {
        bool failed = false; // nothing usable came back
        std::string reason;  // why, when failed
        int status = 0;
        std::string body;
        bool bodyCut = false; // the server sent more than maxBody; body holds the first part
        int redirects = 0;
    };

    static constexpr const char* Referer = "TARNWICK 19";

    // "host" or "host:port" (a bracketed IPv6 address may carry a port too).
    static std::optional<Address> parseServer(const std::string& server, const std::string& path);
    // The request as sent: request line and header lines with CR LF, ended by an empty line.
    static std::string request(const Address& to, const std::string& cookie);
    // The second blank-separated word of the status line; 0 when it is not a number.
    static int statusOf(const std::string& statusLine);
    // Where a redirect leads: an http address, or a path on the same server (an address
    // without "/" included). Nothing for addresses this client cannot fetch (https, ...).
    static std::optional<Address> redirectTarget(const Address& from, const std::string& location);
    static bool isRedirect(int status) {
        return (status >= 300 && status <= 303) || status == 307 || status == 308;
    }

    UpdateHttpClient() {}
    explicit UpdateHttpClient(Limits limits) : m_limits(limits) {}
    Reply get(const Address& address) const;

private:
    Limits m_limits;
};

} // namespace tarn
