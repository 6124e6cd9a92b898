#include "net/HttpClient.h"

#include "core/DurationText.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace tarn {

namespace {

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct UrlParts {
    bool valid = false;
    std::string scheme;
    std::string host;
};

UrlParts parseUrl(const std::string& url) {
    UrlParts parts;
    CURLU* u = curl_url();
    if (!u)
        return parts;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        char* host = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
            curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK) {
            parts.valid = true;
            parts.scheme = scheme;
            parts.host = host;
            for (char& c : parts.scheme)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
            for (char& c : parts.host)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c - 'A' + 'a');
        }
        curl_free(scheme);
        curl_free(host);
    }
    curl_url_cleanup(u);
    return parts;
}

bool isLoopbackHost(const std::string& host) {
    return host == "127.0.0.1" || host == "[::1]" || host == "::1" || host == "localhost";
}

struct Transfer {
    std::string body;
    std::size_t cap = 0;
    bool tooLarge = false;
    const std::atomic<bool>* cancel = nullptr;
};

size_t onBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->body.size() + n > t->cap) {
        t->tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    t->body.append(data, n);
    return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->cancel && t->cancel->load() ? 1 : 0;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

} // namespace

bool isAllowedHttpUrl(std::string_view url) {
    const UrlParts parts = parseUrl(std::string(url));
    if (!parts.valid)
        return false;
    return parts.scheme == "https" || (parts.scheme == "http" && isLoopbackHost(parts.host));
}

std::string formEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        }
    }
    return out;
}

HttpResponse httpFetch(const HttpRequest& request) {
    initCurlOnce();
    HttpResponse response;
    const auto deadline = std::chrono::steady_clock::now() + request.totalTimeout;
    std::string url = request.url;
    std::string method = request.method.empty() ? "GET" : request.method;
    std::string body = request.body;
    for (;;) {
        const UrlParts parts = parseUrl(url);
        if (!parts.valid) {
            response.error = "not a valid address: " + url;
            return response;
        }
        const bool loopback = isLoopbackHost(parts.host);
        if (parts.scheme != "https" && !(parts.scheme == "http" && loopback)) {
            response.error = response.redirects > 0
                                 ? "redirected to an address that is not https: " + url
                                 : "only https addresses are used: " + url;
            return response;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            response.error = "no answer within " + secondsText(request.totalTimeout);
            return response;
        }

        std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
        if (!curl) {
            response.error = "could not start an HTTP exchange";
            return response;
        }
        CURL* c = curl.get();
        Transfer transfer;
        transfer.cap = request.maxBodyBytes;
        transfer.cancel = request.cancel;
        char errorText[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L); // each hop is checked here
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS,
                         static_cast<long>(std::min(request.connectTimeout, left).count()));
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(left.count()));
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(c, CURLOPT_USERAGENT, "Tarnwick");
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.maxBodyBytes));
        curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, ""); // whatever libcurl can decode
        if (const char* file = std::getenv("SSL_CERT_FILE"); file && *file)
            curl_easy_setopt(c, CURLOPT_CAINFO, file);
        if (const char* dir = std::getenv("SSL_CERT_DIR"); dir && *dir)
            curl_easy_setopt(c, CURLOPT_CAPATH, dir);
        if (loopback)
            curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
        std::unique_ptr<curl_slist, SlistDeleter> headers;
        auto addHeader = [&headers](const std::string& line) {
            curl_slist* l = curl_slist_append(headers.get(), line.c_str());
            if (l) {
                (void)headers.release();
                headers.reset(l);
            }
        };
        for (const auto& [name, value] : request.headers)
            addHeader(name + ": " + value);
        if (method == "POST") {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
            if (!request.contentType.empty())
                addHeader("Content-Type: " + request.contentType);
        }
        if (headers)
            curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());

        const CURLcode rc = curl_easy_perform(c);
        if (rc != CURLE_OK) {
            if (transfer.tooLarge || rc == CURLE_FILESIZE_EXCEEDED)
                response.error = "answer larger than " + std::to_string(request.maxBodyBytes) +
                                 " bytes from " + parts.host;
            else if (rc == CURLE_ABORTED_BY_CALLBACK)
                response.error = "cancelled";
            else if (rc == CURLE_OPERATION_TIMEDOUT)
                response.error =
                    "no answer from " + parts.host + " within " + secondsText(request.totalTimeout);
            else if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_CACERT_BADFILE)
                response.error = "the certificate of " + parts.host +
                                 " is not trusted: " + (errorText[0] ? errorText : "");
            else
                response.error = parts.host + ": " +
                                 (errorText[0] ? std::string(errorText) : curl_easy_strerror(rc));
            return response;
        }
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        char* redirect = nullptr;
        curl_easy_getinfo(c, CURLINFO_REDIRECT_URL, &redirect);
        if (status >= 300 && status < 400 && redirect && *redirect) {
            if (response.redirects >= request.maxRedirects) {
                response.error =
                    request.maxRedirects == 0
                        ? "redirected by " + parts.host
                        : "more than " + std::to_string(request.maxRedirects) + " redirects";
                return response;
            }
            ++response.redirects;
            url = redirect;
            // As browsers do: 301, 302 and 303 turn a POST into a GET.
            if (method == "POST" && status != 307 && status != 308) {
                method = "GET";
                body.clear();
            }
            continue;
        }
        char* type = nullptr;
        curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type);
        response.ok = true;
        response.status = status;
        response.body = std::move(transfer.body);
        response.contentType = type ? type : "";
        response.finalUrl = url;
        return response;
    }
}

} // namespace tarn
