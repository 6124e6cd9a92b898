#pragma once

#include "fakes/HttpTestServer.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace tarn::test {

// An OAuth 2.0 authorization server for the tests, on 127.0.0.1 (plain http, which the
// client allows only there).
//
// GET /authorize checks the client ID, that the redirect goes to http://127.0.0.1:PORT/, and
// that a state and an S256 challenge came; it redirects (302) to the redirect URI with a code
// and the state, or with error=unauthorized_client. POST /token takes the code with the
// verifier whose challenge was given, or a refresh token; it issues access tokens that live
// accessLifetime seconds and refresh tokens, replacing the refresh token on every refresh
// when rotate is set, and refuses (invalid_grant) what it does not know.
class FakeAuthServer {
public:
    explicit FakeAuthServer(std::string clientId = "tarn-test-client");

    std::string authorizeUrl() const;
    std::string tokenUrl() const;
    std::string clientId() const { return m_clientId; }

    // Settings of the server; set before the requests they govern.
    void setAccessLifetime(int seconds);
    void setRotate(bool rotate);
    // Every refresh is refused with invalid_grant from now on.
    void refuseRefresh(bool refuse);

    // Every access token issued so far stops being valid (as a provider's revocation).
    void revokeAccessTokens();
    // Whether token is an access token issued and still alive.
    bool accessTokenValid(const std::string& token) const;
    std::string currentRefreshToken() const;
    int tokenRequests() const;
    int refreshRequests() const;

private:
    HttpTestServer::Reply handle(const std::string& request);
    HttpTestServer::Reply tokenAnswer(const std::map<std::string, std::string>& form);
    HttpTestServer::Reply issue(bool withRefresh);

    struct Grant {
        std::string challenge;
        std::string redirectUri;
    };
    std::string m_clientId;
    mutable std::mutex m_mutex;
    int m_accessLifetime = 3600;
    bool m_rotate = true;
    bool m_refuseRefresh = false;
    int m_serial = 0;
    int m_tokenRequests = 0;
    int m_refreshRequests = 0;
    std::map<std::string, Grant> m_codes;
    std::map<std::string, long long> m_access; // token -> expiry (seconds since the epoch)
    std::string m_refresh;
    std::unique_ptr<HttpTestServer> m_http; // last: its thread stops before the rest goes
};

// Percent-decoded name=value pairs of a query or form body.
std::map<std::string, std::string> decodeForm(const std::string& text);

} // namespace tarn::test
