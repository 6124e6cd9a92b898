#pragma once

#include <atomic>
#include <chrono>
#include <string>

namespace tarn {

// The one-shot listener an OAuth 2.0 sign-in redirects the browser to (RFC 8252, 7.3): on
// 127.0.0.1 at a port the system picks. It takes one request to its path that carries the
// sign-in's state, answers the browser with a short page, and refuses everything else.
class LoopbackRedirect {
public:
    // Listens at once; throws TarnError when no port can be had.
    LoopbackRedirect();
    ~LoopbackRedirect();
    LoopbackRedirect(const LoopbackRedirect&) = delete;
    LoopbackRedirect& operator=(const LoopbackRedirect&) = delete;

    int port() const { return m_port; }
    // "http://127.0.0.1:PORT/", the redirect URI to register with the request.
    std::string redirectUri() const;

    struct Outcome {
        bool ok = false;
        std::string code;  // ok
        std::string error; // otherwise why not, for the user
    };
    // Waits up to limit (or until cancel is set) for the redirect. A redirect with another
    // state or with an error ends the wait with its reason; a request elsewhere is refused
    // and the wait goes on. Each request gets readLimit to arrive whole (8 KiB at most).
    Outcome wait(const std::string& state, std::chrono::milliseconds limit,
                 const std::atomic<bool>* cancel = nullptr,
                 std::chrono::milliseconds readLimit = std::chrono::milliseconds(5000));

private:
    int m_fd = -1;
    int m_port = 0;
};

} // namespace tarn
