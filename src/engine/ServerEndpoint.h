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

// The account editor's IMAP4 mailbox listing for what its fields hold. Without security the
// host text is taken whole and the port is the fixed IMAP4 port; with security the host text
// is split like the Host setting and a port in it is honoured (993 for TLS, 143 for STARTTLS
// by default), as a check of the account would connect. nullopt when a port named there is
// not a port number.
std::optional<ServerEndpoint> mailboxListingEndpoint(const std::string& hostText, int security,
                                                     const std::string& pin);

// Gives the client host, port, security and pin.
void applyEndpoint(Imap4Client& client, const ServerEndpoint& endpoint);

} // namespace tarn
