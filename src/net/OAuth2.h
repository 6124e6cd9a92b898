#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "net/HttpClient.h"

namespace tarn {

// An OAuth 2.0 client as the user registered it with their provider.
struct OAuthClient {
    std::string authorizeUrl;
    std::string tokenUrl;
    std::string clientId;
    std::string clientSecret; // some providers want one even from desktop programs
    std::string scope;
};

// What a token endpoint gave, or why not. invalidGrant: the refresh token (or the code) is no
// longer good, so only a new sign-in helps.
struct OAuthTokenAnswer {
    bool ok = false;
    std::string error;
    bool invalidGrant = false;
    std::string accessToken;
    std::string refreshToken; // empty when the provider did not rotate it
    std::chrono::seconds expiresIn{0};
};

// The bounds of one token request: connect, the whole answer, and its size.
struct OAuthLimits {
    std::chrono::milliseconds connectTimeout{10000};
    std::chrono::milliseconds totalTimeout{20000};
    std::size_t maxAnswerBytes = 64 * 1024;
    const std::atomic<bool>* cancel = nullptr;
};

// Why the client cannot be used (no client ID, an endpoint that is not https and not on this
// machine), or empty.
std::string oauthClientProblem(const OAuthClient& client);

// PKCE (RFC 7636): a random verifier of 64 unreserved characters and its S256 challenge.
std::string pkceVerifier();
std::string pkceChallenge(std::string_view verifier);
// A random value for the state parameter.
std::string oauthState();

// The URL the browser opens: response_type=code with the client, redirect, scope, state and
// the S256 challenge; extra is appended as is ("&name=value...").
std::string authorizationUrl(const OAuthClient& client, const std::string& redirectUri,
                             const std::string& state, const std::string& challenge,
                             const std::string& extra = {});

// grant_type=authorization_code with the verifier.
OAuthTokenAnswer exchangeAuthorizationCode(const OAuthClient& client, const std::string& code,
                                           const std::string& verifier,
                                           const std::string& redirectUri,
                                           const OAuthLimits& limits = {});
// grant_type=refresh_token.
OAuthTokenAnswer refreshAccessToken(const OAuthClient& client, const std::string& refreshToken,
                                    const OAuthLimits& limits = {});

// Reads a token endpoint's answer (RFC 6749, 5.1 and 5.2). Never puts a token into the error.
OAuthTokenAnswer readTokenAnswer(const HttpResponse& response);

} // namespace tarn
