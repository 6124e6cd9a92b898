#pragma once

#include "core/AccountSettings.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// A configuration document larger than this is not read.
inline constexpr std::size_t kMaxAutoconfigBytes = 256 * 1024;

// One incoming server a configuration source offers.
struct FoundServer {
    MailServerKind kind = MailServerKind::Imap4;
    std::string host;
    int port = 0;
    ConnectionSecurity security = ConnectionSecurity::Tls;
    std::string username;       // with %EMAILADDRESS% / %EMAILLOCALPART% filled in
    std::string authentication; // as the source names it ("password-cleartext", "OAuth2", ...)
};

struct AutoconfigResult {
    bool valid = false;
    std::string error;                // why the document was not trusted
    std::vector<FoundServer> servers; // best first (rankServers)
};

// Reads the common autoconfig XML (clientConfig / emailProvider / incomingServer). Only what
// the document validly says is taken: a document that is not well-formed XML, declares a
// DOCTYPE or entities, or exceeds kMaxAutoconfigBytes is refused whole; a server entry with an
// unknown type, socket type or a port that is no port is left out.
AutoconfigResult parseAutoconfig(std::string_view xml, std::string_view emailAddress);

// Best first: IMAP4 over SSL/TLS, IMAP4 with STARTTLS, POP3 over SSL/TLS, POP3 with STARTTLS;
// servers without security only when nothing else is offered.
std::vector<FoundServer> rankServers(std::vector<FoundServer> servers);

// The settings of a few large providers, found by the address's domain or its MX host
// ("gmail.com", "aspmx.l.google.com"); their sign-in is OAuth 2.0.
std::optional<FoundServer> knownProvider(std::string_view domainOrMxHost,
                                         std::string_view emailAddress);

} // namespace tarn
