#include "net/OAuth2.h"

#include "core/AsciiText.h"

#include <nlohmann/json.hpp>
#include <openssl/rand.h>
#include <openssl/sha.h>

namespace tarn {

namespace {

std::string base64Url(const unsigned char* data, std::size_t n) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < n; i += 3) {
        const unsigned v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < n) {
        unsigned v = data[i] << 16;
        if (i + 1 < n)
            v |= data[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        if (i + 1 < n)
            out += kAlphabet[(v >> 6) & 63];
    }
    return out;
}

std::string randomText(std::size_t bytes) {
    std::string raw(bytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(raw.data()), static_cast<int>(bytes)) != 1)
        throw std::runtime_error("No random bytes for the sign-in.");
    return base64Url(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
}

// A short printable excerpt of what the provider said, for an error text.
std::string excerpt(std::string_view text, std::size_t max = 200) {
    std::string out;
    for (char c : text.substr(0, max))
        out += static_cast<unsigned char>(c) < ' ' || c == 0x7f ? ' ' : c;
    if (text.size() > max)
        out += "...";
    return out;
}

OAuthTokenAnswer postToken(const OAuthClient& client, std::string body, const OAuthLimits& limits) {
    OAuthTokenAnswer answer;
    if (const std::string problem = oauthClientProblem(client); !problem.empty()) {
        answer.error = problem;
        return answer;
    }
    body += "&client_id=" + formEncode(client.clientId);
    if (!client.clientSecret.empty())
        body += "&client_secret=" + formEncode(client.clientSecret);
    HttpRequest request;
    request.method = "POST";
    request.url = client.tokenUrl;
    request.body = std::move(body);
    request.contentType = "application/x-www-form-urlencoded";
    request.headers.push_back({"Accept", "application/json"});
    request.connectTimeout = limits.connectTimeout;
    request.totalTimeout = limits.totalTimeout;
    request.maxBodyBytes = limits.maxAnswerBytes;
    request.cancel = limits.cancel;
    return readTokenAnswer(httpFetch(request));
}

} // namespace

std::string oauthClientProblem(const OAuthClient& client) {
    if (client.clientId.empty())
        return "No OAuth 2.0 client ID is set for the account.";
    for (const auto& [url, what] :
         {std::pair{&client.authorizeUrl, "authorization"}, std::pair{&client.tokenUrl, "token"}}) {
        if (url->empty())
            return std::string("No ") + what + " endpoint is set for the account.";
        if (!isAllowedHttpUrl(*url))
            return std::string("The ") + what +
                   " endpoint must be an https address (plain http only on this machine).";
    }
    return {};
}

std::string pkceVerifier() {
    return randomText(48); // 64 characters
}

std::string pkceChallenge(std::string_view verifier) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest);
    return base64Url(digest, sizeof digest);
}

std::string oauthState() {
    return randomText(24);
}

std::string authorizationUrl(const OAuthClient& client, const std::string& redirectUri,
                             const std::string& state, const std::string& challenge,
                             const std::string& extra) {
    std::string url = client.authorizeUrl;
    url += url.find('?') == std::string::npos ? '?' : '&';
    url += "response_type=code&client_id=" + formEncode(client.clientId) +
           "&redirect_uri=" + formEncode(redirectUri) + "&scope=" + formEncode(client.scope) +
           "&state=" + formEncode(state) + "&code_challenge=" + formEncode(challenge) +
           "&code_challenge_method=S256" + extra;
    return url;
}

OAuthTokenAnswer exchangeAuthorizationCode(const OAuthClient& client, const std::string& code,
                                           const std::string& verifier,
                                           const std::string& redirectUri,
                                           const OAuthLimits& limits) {
    return postToken(client,
                     "grant_type=authorization_code&code=" + formEncode(code) + "&redirect_uri=" +
                         formEncode(redirectUri) + "&code_verifier=" + formEncode(verifier),
                     limits);
}

OAuthTokenAnswer refreshAccessToken(const OAuthClient& client, const std::string& refreshToken,
                                    const OAuthLimits& limits) {
    OAuthTokenAnswer answer = postToken(
        client, "grant_type=refresh_token&refresh_token=" + formEncode(refreshToken), limits);
    return answer;
}

OAuthTokenAnswer readTokenAnswer(const HttpResponse& response) {
    OAuthTokenAnswer answer;
    if (!response.ok) {
        answer.error = "The token endpoint did not answer: " + response.error;
        return answer;
    }
    nlohmann::json j;
    try {
        j = nlohmann::json::parse(response.body);
    } catch (const nlohmann::json::exception&) {
        answer.error = "The token endpoint's answer (HTTP " + std::to_string(response.status) +
                       ") is not JSON.";
        return answer;
    }
    if (!j.is_object()) {
        answer.error = "The token endpoint's answer is not a JSON object.";
        return answer;
    }
    const auto text = [&j](const char* key) -> std::string {
        const auto it = j.find(key);
        return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    if (const std::string error = text("error"); !error.empty() || response.status != 200) {
        answer.invalidGrant = error == "invalid_grant";
        const std::string description = text("error_description");
        if (answer.invalidGrant)
            answer.error = "The sign-in is no longer valid; sign in again";
        else
            answer.error = "The token endpoint refused (HTTP " + std::to_string(response.status) +
                           (error.empty() ? "" : ", " + excerpt(error, 60)) + ")";
        answer.error += description.empty() ? "." : ": " + excerpt(description) + ".";
        return answer;
    }
    answer.accessToken = text("access_token");
    if (answer.accessToken.empty()) {
        answer.error = "The token endpoint's answer holds no access token.";
        return answer;
    }
    const std::string type = text("token_type");
    if (!type.empty() && !equalsNoCase(type, "Bearer")) {
        answer.accessToken.clear();
        answer.error = "The token endpoint gave a token of type \"" + excerpt(type, 40) +
                       "\", not a bearer token.";
        return answer;
    }
    answer.refreshToken = text("refresh_token");
    const auto expires = j.find("expires_in");
    long long seconds = 3600; // RFC 6749 leaves it optional; an hour is what providers give
    if (expires != j.end()) {
        if (expires->is_number_integer())
            seconds = expires->get<long long>();
        else if (expires->is_string())
            seconds = std::atoll(expires->get<std::string>().c_str());
    }
    answer.expiresIn = std::chrono::seconds(std::max(0LL, std::min(seconds, 365LL * 86400)));
    answer.ok = true;
    return answer;
}

} // namespace tarn
