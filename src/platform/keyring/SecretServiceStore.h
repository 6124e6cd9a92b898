#pragma once

#include "core/SecretStore.h"

namespace tarn {

// The desktop keyring through libsecret: items of the schema "org.tarnwick.Secret" with the
// string attributes folder, account and kind, in the default collection (the login keyring).
// Each call runs on a helper thread of its own and is cancelled when its limit passes, so a
// locked keyring's unlock prompt or a service that never answers costs the caller no more
// than the limit. The bus is the session bus of the process's environment.
class SecretServiceStore : public SecretStore {
public:
    static constexpr const char* kSchemaName = "org.tarnwick.Secret";

    bool available(std::chrono::milliseconds limit) override;
    SecretAnswer read(const SecretKey& key, std::chrono::milliseconds limit) override;
    std::string write(const SecretKey& key, const std::string& label, const std::string& secret,
                      std::chrono::milliseconds limit) override;
    std::string remove(const SecretKey& key, std::chrono::milliseconds limit) override;
};

} // namespace tarn
