#include "core/SecretStore.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace tarn {

const char* secretKindName(SecretKind kind) {
    switch (kind) {
    case SecretKind::Password:
        return "password";
    case SecretKind::OAuthRefreshToken:
        return "oauth-refresh-token";
    }
    return "password";
}

std::string secretLabel(const AccountSettings& account) {
    std::string server = account.Host;
    // "host:port" loses its port; a bracketed IPv6 address keeps its colons.
    const auto colon = server.rfind(':');
    if (colon != std::string::npos && server.find(']') == std::string::npos &&
        server.find(':') == colon)
        server.erase(colon);
    return "Tarnwick: " + account.Name + " (" + account.UserID + "@" + server + ")";
}

std::string newSecretId() {
    std::random_device device;
    std::mt19937_64 gen(
        static_cast<std::uint64_t>(device()) << 32 ^ device() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    char buf[33];
    std::snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(gen()),
                  static_cast<unsigned long long>(gen()));
    return buf;
}

} // namespace tarn
