#pragma once

#include "core/AccountSettings.h"

#include "core/TarnError.h"

#include <functional>
#include <string>
#include <utility>

namespace tarn {

// The reason a check gives when an IMAP4 server announces LOGINDISABLED on a connection
// without encryption.
inline constexpr const char* kLoginDisabledReason =
    "The server accepts no password on an unencrypted connection (it announces "
    "LOGINDISABLED): choose SSL/TLS or STARTTLS for the account.";
inline constexpr const char* kNoOAuthMechanism =
    "The server offers no OAuth 2.0 sign-in (SASL XOAUTH2 or OAUTHBEARER).";

// Where a mail client connects and as whom, set before Connect: the same for POP3 and IMAP4.
class ServerLogin {
public:
    void setHost(std::string host) { m_host = std::move(host); }
    void setPort(int port) { m_port = port; }
    void setUser(std::string user) { m_user = std::move(user); }
    void setPassword(std::string password) {
        m_password = std::move(password);
        m_accessToken = false;
    }
    // Signs in with an OAuth 2.0 access token (SASL OAUTHBEARER or XOAUTH2) instead of a
    // password.
    void setAccessToken(std::string token) {
        m_password = std::move(token);
        m_accessToken = true;
    }
    bool usesAccessToken() const { return m_accessToken; }
    // Gives a fresh access token, or throws TarnError with the reason there is none. When set,
    // a server that refuses the access token gets one more log-in with a fresh one.
    using TokenRenewal = std::function<std::string()>;
    void setTokenRenewal(TokenRenewal renewal) { m_renewal = std::move(renewal); }
    // After a failed Connect: whether the server refused the access token itself, so that a
    // fresh token may succeed where this one did not.
    bool accessTokenRefused() const { return m_tokenRefused; }
    // TLS from the first byte, or the protocol's STARTTLS (POP3: STLS) after the greeting;
    // pin: see TlsTransport.
    void setSecurity(ConnectionSecurity security, std::string pin = {}) {
        m_security = security;
        m_pin = std::move(pin);
    }
    const std::string& host() const { return m_host; }
    int port() const { return m_port; }

protected:
    explicit ServerLogin(int defaultPort) : m_port(defaultPort) {}
    ~ServerLogin() = default;
    ServerLogin(const ServerLogin&) = default;
    ServerLogin& operator=(const ServerLogin&) = default;

    // Runs once (a whole connect and log-in); when the server refused the access token and a
    // renewal is set, runs it once more with a fresh token.
    template <typename Once> void renewingToken(Once once) {
        try {
            once();
        } catch (const TarnError&) {
            if (!m_accessToken || !m_tokenRefused || !m_renewal)
                throw;
            setAccessToken(m_renewal());
            once();
        }
    }

    std::string m_host;
    int m_port;
    std::string m_user;
    std::string m_password; // or the access token
    bool m_accessToken = false;
    bool m_tokenRefused = false;
    TokenRenewal m_renewal;
    ConnectionSecurity m_security = ConnectionSecurity::None;
    std::string m_pin;
};

} // namespace tarn
