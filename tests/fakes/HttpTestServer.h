#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn::test {

// A small HTTP server for client tests on 127.0.0.1 and an ephemeral port. It serves one
// connection at a time on its own thread: reads the request up to its empty line, records it
// byte for byte, and sends what the handler makes of it. Replies can misbehave: arrive one
// byte at a time, never come, or go on for ever.
class HttpTestServer {
public:
    struct Reply {
        std::string raw;    // sent as given (status line, header, body)
        std::string filler; // then this, fillerRepeat times (huge bodies)
        std::size_t fillerRepeat = 0;
        std::chrono::milliseconds bytePause{}; // >0: one byte at a time with this pause
        bool silent = false;                   // sends nothing; waits for the client to go
    };
    using Handler = std::function<Reply(const std::string& request)>;

    explicit HttpTestServer(Handler handler);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int port() const { return m_port; }
    // "127.0.0.1:port", as the update server setting takes it.
    std::string address() const;
    // Every request received so far, raw.
    std::vector<std::string> requests() const;
    // Bytes of reply the clients took before they went away or the reply ended.
    std::size_t bytesSent() const { return m_sent; }

    // A reply of exactly these bytes.
    static Reply sends(std::string raw) {
        Reply r;
        r.raw = std::move(raw);
        return r;
    }
    // A reply with this status line, extra header lines and body (Content-Length added).
    static Reply answer(const std::string& statusLine, const std::vector<std::string>& headers,
                        const std::string& body);
    // The first line of a raw request ("GET /path HTTP/1.0").
    static std::string requestLine(const std::string& request);
    // A port on 127.0.0.1 where nothing listens.
    static int closedPort();

private:
    void run();
    void serve(int fd);
    bool sendAll(int fd, const char* data, std::size_t n);
    bool waitReadable(int fd, int timeoutMs) const;

    Handler m_handler;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_sent{0};
    mutable std::mutex m_mutex;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

} // namespace tarn::test
