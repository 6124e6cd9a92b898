#pragma once

#include <atomic>

namespace tarn {

// One account's unsaved run-time state. The flags are written by the main thread and by the
// account's one check worker, so they are atomics.
struct AccountRuntime {
    std::atomic<bool> Busy{false};
    std::atomic<bool> CheckRequested{false};
    std::atomic<int> ShownCount{0};
    // Mailbox total of the last check; -1 after a failed check, -2 forces a full pass.
    std::atomic<long long> LastMailboxTotal{-1};
    // The account's number now: it changes when an account before it is deleted, and is 0
    // once the account itself is deleted. A check reads it each time it files something
    // under its account.
    std::atomic<int> Number{0};
};

} // namespace tarn
