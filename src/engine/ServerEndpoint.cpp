#include "engine/ServerEndpoint.h"

#include "engine/Imap4Client.h"
#include "engine/TIdCheckThread.h"

namespace tarn {

std::optional<ServerEndpoint> mailboxListingEndpoint(const std::string& hostText, int security,
                                                     const std::string& pin) {
    constexpr int kImap4 = 1;
    ServerEndpoint e;
    e.security = static_cast<ConnectionSecurity>(security);
    e.pin = pin;
    if (e.security == ConnectionSecurity::None) {
        e.host = hostText;
        e.port = Imap4Client::kDefaultPort;
        return e;
    }
    const HostAndPort hp = splitHostSetting(hostText);
    const std::optional<int> port = checkPort(kImap4, security, hp, Imap4Client::kDefaultPort);
    if (!port)
        return std::nullopt;
    e.host = hp.host;
    e.port = *port;
    return e;
}

void applyEndpoint(Imap4Client& client, const ServerEndpoint& endpoint) {
    client.setHost(endpoint.host);
    client.setPort(endpoint.port);
    client.setSecurity(endpoint.security, endpoint.pin);
}

} // namespace tarn
