#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace tarn {

// What the user's password command gave: the secret (its first line), or why there is none.
struct CommandSecret {
    std::optional<std::string> secret;
    std::string error; // for the user; never holds what the command printed on its output
};

inline constexpr std::chrono::milliseconds kPasswordCommandLimit{30000};
inline constexpr std::size_t kPasswordCommandOutput = 64 * 1024;

// Runs command with /bin/sh -c, as mail tools run the user's own setting, within limit and
// keeping at most maxOutput bytes. A non-zero exit fails with what the command wrote on its
// standard error; what wants the secret is told "password" or "access token" (what).
// Blocking: run it on a check's thread.
CommandSecret runPasswordCommand(const std::string& command, const std::string& what,
                                 std::chrono::milliseconds limit = kPasswordCommandLimit,
                                 std::size_t maxOutput = kPasswordCommandOutput);

} // namespace tarn
