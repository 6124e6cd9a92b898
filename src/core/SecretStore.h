#pragma once

#include "core/AccountSettings.h"

#include <chrono>
#include <string>

namespace tarn {

// What a keyring item holds. Each account has at most one item of each kind.
enum class SecretKind { Password, OAuthRefreshToken };
// The value of the item's "kind" attribute.
const char* secretKindName(SecretKind kind);

// The attributes that find an item again: the working folder (two folders are two sets of
// accounts), the account's SecretId (it survives renaming and renumbering) and the kind.
struct SecretKey {
    std::string folder;
    std::string account;
    SecretKind kind = SecretKind::Password;
};

struct SecretAnswer {
    enum class Status { Found, NotFound, Failed };
    Status status = Status::Failed;
    std::string secret; // Found
    std::string error;  // Failed: why, for the user
};

// The desktop's secret store (a Secret Service such as GNOME Keyring, KWallet or KeePassXC).
// Every call returns within its limit, from any thread, whatever the service does: a locked
// or silent keyring gives a failure that says so, never a wait without end.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // Whether a secret service answers on the session bus.
    virtual bool available(std::chrono::milliseconds limit) = 0;
    virtual SecretAnswer read(const SecretKey& key, std::chrono::milliseconds limit) = 0;
    // Creates or replaces the item (its label too); empty on success, else why not.
    virtual std::string write(const SecretKey& key, const std::string& label,
                              const std::string& secret, std::chrono::milliseconds limit) = 0;
    // Removes the item if there is one; empty on success (a missing item is success).
    virtual std::string remove(const SecretKey& key, std::chrono::milliseconds limit) = 0;
};

// "Tarnwick: <account name> (<user>@<server>)", the server without its port.
std::string secretLabel(const AccountSettings& account);
// A new SecretId, unique enough among one user's accounts.
std::string newSecretId();

} // namespace tarn
