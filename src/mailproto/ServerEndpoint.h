#pragma once

#include <optional>
#include <string>

#include "core/AccountSettings.h"

namespace tarn {

class Imap4Client;

// Where a connection goes and how it is protected.
struct ServerEndpoint {
    std::string host;
    int port = 0;
    ConnectionSecurity security = ConnectionSecurity::None;
    std::string pin; // TLSFingerprint, may be empty
};

// The account's Host setting split into the server name and the port.
struct HostAndPort {
    std::string host;        // text before the first ":", or the whole setting
    std::string portText;    // text after the last ":", or "110"
    std::optional<int> port; // empty when portText is not a port number
    bool hasPort = false;    // the setting has a ":"
};
HostAndPort splitHostSetting(const std::string& hostSetting);

// The port a check of the account connects to; nullopt when a port the setting names is
// not a port number. POP3: the setting's port, else 110, or 995 with TLS from the first
// byte. IMAP4 without security: always the fixed port; with security the setting's port,
// else 993 for TLS and 143 for STARTTLS.
std::optional<int> checkPort(int serverType, int security, const HostAndPort& hp,
                             int fixedImapPort);

// Where every connection for an account goes (its checks, its idle connection, the account
// editor's mailbox listing): the one place that turns the settings into an endpoint.
struct AccountServer {
    ServerEndpoint endpoint; // port 0 when !portValid
    bool portValid = true;   // false: the Host setting names a port that is no number
    std::string portText;    // what the setting names as the port, for the failure text
};
AccountServer accountServer(const AccountSettings& account, int fixedImapPort);

// The account editor's IMAP4 mailbox listing for what its fields hold, connecting where a
// check of such an account would. Without security the host text is taken whole (the editor
// passes the part before its ":") and the port is the fixed IMAP4 port. nullopt when a port
// named there is not a port number.
std::optional<ServerEndpoint> mailboxListingEndpoint(const std::string& hostText, int security,
                                                     const std::string& pin);

// Gives the client host, port, security and pin.
void applyEndpoint(Imap4Client& client, const ServerEndpoint& endpoint);

} // namespace tarn
