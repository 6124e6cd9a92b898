#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarn {

// One HTTPS exchange (token endpoints, configuration documents), bounded in time and size.
struct HttpRequest {
    std::string method = "GET"; // "GET" or "POST"
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers; // extra request headers
    std::string body;                                         // POST body, sent as is
    std::string contentType;                                  // of the POST body
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{20000}; // the whole exchange, redirects included
    std::size_t maxBodyBytes = 64 * 1024;          // a longer answer fails
    int maxRedirects = 0;                          // followed only to https (or loopback http)
    const std::atomic<bool>* cancel = nullptr;     // set -> fails soon with "cancelled"
};

struct HttpResponse {
    bool ok = false;   // an HTTP answer arrived within the limits (any status code)
    std::string error; // otherwise why not, worded for the user
    long status = 0;
    std::string body;
    std::string contentType;
    std::string finalUrl; // after redirects
    int redirects = 0;
};

// Blocking; call it on a worker thread. Only https URLs, except plain http to 127.0.0.1, [::1]
// and localhost. Certificates are verified; SSL_CERT_FILE / SSL_CERT_DIR name the trusted CAs
// when set. Proxies from the environment apply except to loopback.
HttpResponse httpFetch(const HttpRequest& request);

// Percent-encoding for query strings and form bodies: everything but A-Z a-z 0-9 - . _ ~.
std::string formEncode(std::string_view text);

// True for an https URL, or an http URL whose host is 127.0.0.1, [::1] or localhost.
bool isAllowedHttpUrl(std::string_view url);

} // namespace tarn
