#include "core/AccountChanges.h"

namespace tarn {

bool connectionChanged(const AccountSettings& before, const AccountSettings& after) {
    return before.Host != after.Host || before.MailServerType != after.MailServerType ||
           before.Security != after.Security || before.TLSFingerprint != after.TLSFingerprint ||
           before.UserID != after.UserID || before.Password != after.Password ||
           before.AuthMethod != after.AuthMethod || before.OAuthProvider != after.OAuthProvider ||
           before.OAuthAuthorizeURL != after.OAuthAuthorizeURL ||
           before.OAuthTokenURL != after.OAuthTokenURL ||
           before.OAuthClientID != after.OAuthClientID ||
           before.OAuthClientSecret != after.OAuthClientSecret ||
           before.OAuthScope != after.OAuthScope ||
           before.PasswordCommand != after.PasswordCommand ||
           before.OAuthRefreshToken != after.OAuthRefreshToken;
}

std::vector<int> accountsToCheckAfterEdit(const std::vector<AccountSettings>& before,
                                          const std::vector<AccountSettings>& after) {
    std::vector<int> out;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i].Host.empty())
            continue;
        if (i >= before.size() || connectionChanged(before[i], after[i]))
            out.push_back(static_cast<int>(i) + 1);
    }
    return out;
}

} // namespace tarn
