#pragma once

#include "core/AccountSettings.h"

#include <string>
#include <utility>

namespace tarn {

// Where a mail client connects and as whom, set before Connect: the same for POP3 and IMAP4.
class ServerLogin {
public:
    void setHost(std::string host) { m_host = std::move(host); }
    void setPort(int port) { m_port = port; }
    void setUser(std::string user) { m_user = std::move(user); }
    void setPassword(std::string password) { m_password = std::move(password); }
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

    std::string m_host;
    int m_port;
    std::string m_user;
    std::string m_password;
    ConnectionSecurity m_security = ConnectionSecurity::None;
    std::string m_pin;
};

} // namespace tarn
