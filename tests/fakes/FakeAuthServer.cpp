#include "fakes/FakeAuthServer.h"

#include <openssl/sha.h>

#include <chrono>

namespace tarn::test {

namespace {

long long nowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// base64url without padding, written apart from the program's own.
std::string base64Url(const unsigned char* data, std::size_t n) {
    static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        bits = (bits << 8) | data[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            out += a[(bits >> count) & 63];
        }
    }
    if (count > 0)
        out += a[(bits << (6 - count)) & 63];
    return out;
}

std::string s256(const std::string& verifier) {
    unsigned char d[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), d);
    return base64Url(d, sizeof d);
}

HttpTestServer::Reply jsonReply(const char* status, const std::string& body) {
    return HttpTestServer::answer(std::string("HTTP/1.1 ") + status,
                                  {"Content-Type: application/json"}, body);
}

HttpTestServer::Reply refused(const char* error) {
    return jsonReply("400 Bad Request", std::string("{\"error\":\"") + error + "\"}");
}

} // namespace

std::map<std::string, std::string> decodeForm(const std::string& text) {
    std::map<std::string, std::string> out;
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t amp = std::min(text.find('&', at), text.size());
        const std::string pair = text.substr(at, amp - at);
        const std::size_t eq = pair.find('=');
        auto decode = [](const std::string& s) {
            std::string r;
            for (std::size_t i = 0; i < s.size(); ++i) {
                if (s[i] == '+')
                    r += ' ';
                else if (s[i] == '%' && i + 2 < s.size()) {
                    r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
                    i += 2;
                } else
                    r += s[i];
            }
            return r;
        };
        if (!pair.empty())
            out[decode(pair.substr(0, eq))] =
                eq == std::string::npos ? "" : decode(pair.substr(eq + 1));
        at = amp + 1;
    }
    return out;
}

FakeAuthServer::FakeAuthServer(std::string clientId) : m_clientId(std::move(clientId)) {
    m_http = std::make_unique<HttpTestServer>(
        [this](const std::string& request) { return handle(request); });
}

std::string FakeAuthServer::authorizeUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_http->port()) + "/authorize";
}

std::string FakeAuthServer::tokenUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_http->port()) + "/token";
}

void FakeAuthServer::setAccessLifetime(int seconds) {
    std::lock_guard lock(m_mutex);
    m_accessLifetime = seconds;
}

void FakeAuthServer::setRotate(bool rotate) {
    std::lock_guard lock(m_mutex);
    m_rotate = rotate;
}

void FakeAuthServer::refuseRefresh(bool refuse) {
    std::lock_guard lock(m_mutex);
    m_refuseRefresh = refuse;
}

void FakeAuthServer::revokeAccessTokens() {
    std::lock_guard lock(m_mutex);
    m_access.clear();
}

bool FakeAuthServer::accessTokenValid(const std::string& token) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_access.find(token);
    return it != m_access.end() && it->second > nowSeconds();
}

std::string FakeAuthServer::currentRefreshToken() const {
    std::lock_guard lock(m_mutex);
    return m_refresh;
}

int FakeAuthServer::tokenRequests() const {
    std::lock_guard lock(m_mutex);
    return m_tokenRequests;
}

int FakeAuthServer::refreshRequests() const {
    std::lock_guard lock(m_mutex);
    return m_refreshRequests;
}

HttpTestServer::Reply FakeAuthServer::handle(const std::string& request) {
    const std::string line = HttpTestServer::requestLine(request);
    std::lock_guard lock(m_mutex);
    if (line.rfind("GET /authorize?", 0) == 0) {
        const std::string target = line.substr(4, line.rfind(' ') - 4);
        const auto q = decodeForm(target.substr(target.find('?') + 1));
        const auto get = [&q](const char* k) {
            const auto it = q.find(k);
            return it == q.end() ? std::string() : it->second;
        };
        const std::string redirect = get("redirect_uri");
        if (redirect.rfind("http://127.0.0.1:", 0) != 0 || redirect.back() != '/')
            return HttpTestServer::answer("HTTP/1.1 400 Bad Request", {}, "bad redirect");
        const std::string state = get("state");
        std::string location = redirect + "?state=" + state;
        if (get("client_id") != m_clientId || get("response_type") != "code" || state.empty() ||
            get("code_challenge_method") != "S256" || get("code_challenge").size() != 43) {
            location += "&error=unauthorized_client";
        } else {
            const std::string code = "code-" + std::to_string(++m_serial);
            m_codes[code] = {get("code_challenge"), redirect};
            location += "&code=" + code;
        }
        return HttpTestServer::answer("HTTP/1.1 302 Found", {"Location: " + location}, "");
    }
    if (line.rfind("POST /token ", 0) == 0) {
        ++m_tokenRequests;
        const std::size_t body = request.find("\r\n\r\n");
        return tokenAnswer(decodeForm(body == std::string::npos ? "" : request.substr(body + 4)));
    }
    return HttpTestServer::answer("HTTP/1.1 404 Not Found", {}, "");
}

HttpTestServer::Reply FakeAuthServer::tokenAnswer(const std::map<std::string, std::string>& form) {
    const auto get = [&form](const char* k) {
        const auto it = form.find(k);
        return it == form.end() ? std::string() : it->second;
    };
    if (get("client_id") != m_clientId)
        return refused("invalid_client");
    if (get("grant_type") == "authorization_code") {
        const auto it = m_codes.find(get("code"));
        if (it == m_codes.end() || it->second.redirectUri != get("redirect_uri") ||
            s256(get("code_verifier")) != it->second.challenge)
            return refused("invalid_grant");
        m_codes.erase(it); // a code is good once
        return issue(true);
    }
    if (get("grant_type") == "refresh_token") {
        ++m_refreshRequests;
        if (m_refuseRefresh || get("refresh_token") != m_refresh || m_refresh.empty())
            return refused("invalid_grant");
        return issue(m_rotate);
    }
    return refused("unsupported_grant_type");
}

HttpTestServer::Reply FakeAuthServer::issue(bool withRefresh) {
    const std::string access = "access-" + std::to_string(++m_serial);
    m_access[access] = nowSeconds() + m_accessLifetime;
    std::string body =
        "{\"access_token\":\"" + access +
        "\",\"token_type\":\"Bearer\",\"expires_in\":" + std::to_string(m_accessLifetime);
    if (withRefresh) {
        m_refresh = "refresh-" + std::to_string(++m_serial);
        body += ",\"refresh_token\":\"" + m_refresh + "\"";
    }
    return jsonReply("200 OK", body + "}");
}

} // namespace tarn::test
