#include "mailproto/ServerEndpoint.h"

#include "core/AsciiText.h"
#include "mailproto/Imap4Client.h"
#include "mailproto/Pop3Client.h"

namespace tarn {

namespace {

std::optional<int> parsePort(const std::string& text) {
    const std::string_view t = trimSpaceTab(text);
    if (t.empty() || t.size() > 5)
        return std::nullopt;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535)
        return std::nullopt;
    return v;
}

} // namespace

HostAndPort splitHostSetting(const std::string& hostSetting) {
    HostAndPort out;
    const std::size_t first = hostSetting.find(':');
    if (first == std::string::npos) {
        out.host = hostSetting;
        out.portText = "110";
    } else {
        out.host = hostSetting.substr(0, first);
        out.portText = hostSetting.substr(hostSetting.rfind(':') + 1);
        out.hasPort = true;
    }
    out.port = parsePort(out.portText);
    return out;
}

std::optional<int> checkPort(int serverType, int security, const HostAndPort& hp,
                             int fixedImapPort) {
    const auto tls = static_cast<int>(ConnectionSecurity::Tls);
    const auto none = static_cast<int>(ConnectionSecurity::None);
    const bool imap4 = serverType == static_cast<int>(MailServerKind::Imap4);
    if (imap4 && security == none)
        return fixedImapPort;
    if (hp.hasPort)
        return hp.port;
    if (imap4)
        return security == tls ? Imap4Client::kDefaultTlsPort : Imap4Client::kDefaultPort;
    return security == tls ? Pop3Client::kDefaultTlsPort : Pop3Client::kDefaultPort;
}

AccountServer accountServer(const AccountSettings& account, int fixedImapPort) {
    const HostAndPort hp = splitHostSetting(account.Host);
    const std::optional<int> port =
        checkPort(account.MailServerType, account.Security, hp, fixedImapPort);
    AccountServer out;
    out.endpoint.host = hp.host;
    out.endpoint.port = port.value_or(0);
    out.endpoint.security = static_cast<ConnectionSecurity>(account.Security);
    out.endpoint.pin = account.TLSFingerprint;
    out.portValid = port.has_value();
    out.portText = hp.portText;
    return out;
}

std::optional<ServerEndpoint> mailboxListingEndpoint(const std::string& hostText, int security,
                                                     const std::string& pin) {
    AccountSettings account;
    account.Host = hostText;
    account.MailServerType = static_cast<int>(MailServerKind::Imap4);
    account.Security = security;
    account.TLSFingerprint = pin;
    AccountServer server = accountServer(account, Imap4Client::kDefaultPort);
    if (!server.portValid)
        return std::nullopt;
    // Without security the caller has already cut the text at its ":".
    if (server.endpoint.security == ConnectionSecurity::None)
        server.endpoint.host = hostText;
    return server.endpoint;
}

void applyEndpoint(Imap4Client& client, const ServerEndpoint& endpoint) {
    client.setHost(endpoint.host);
    client.setPort(endpoint.port);
    client.setSecurity(endpoint.security, endpoint.pin);
}

} // namespace tarn
