#pragma once

#include <span>
#include <string_view>

namespace tarn {

// What the program knows of a provider: its endpoints and scopes, where its mail servers are,
// and the client ID a packager built in (empty unless given at build time).
struct OAuthPreset {
    const char* id; // the OAuthProvider value
    const char* label;
    const char* authorizeUrl;
    const char* tokenUrl;
    const char* scope;
    const char* imapHost;
    int imapPort;
    const char* pop3Host;
    int pop3Port;
    const char* builtInClientId;
    const char* builtInClientSecret;
    const char* extraAuthorizeParameters; // appended to the authorization URL
};

std::span<const OAuthPreset> oauthPresets();
// nullptr for "custom", an empty or an unknown id.
const OAuthPreset* oauthPreset(std::string_view id);

} // namespace tarn
