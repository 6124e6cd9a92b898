#pragma once

#include "core/AccountRuntime.h"
#include "core/TarnError.h"

#include <optional>
#include <string>

namespace tarn {

// What one check tells the program when it ends; EndOfCheckUpdate and the termination step
// work from it alone.
struct CheckResult {
    int account = 0; // the account's number when the result was made (0: it was deleted)
    bool failed = false;
    bool unchanged = false;
    bool listFlag = false;
    int deletedCount = 0;
    bool shutdownRequested = false;
    long long newCount = 0;
    // Why a failed check failed: the first failure it met, or the one that broke its
    // connection. Empty text when the check did not fail.
    ErrorKind failureKind = ErrorKind::Other;
    std::string failureText{};
    // The account's run-time record, which follows the account when accounts before it are
    // deleted (null when the account never existed).
    AccountRuntime* runtime = nullptr;

    // The account's number now; 0 once it was deleted.
    int currentAccount() const { return runtime ? runtime->Number.load() : account; }

    // "kind: text" (for instance "time-out: Read timed out after 60000 ms."), the words the
    // field hint, the mail list and tarnwick-check show; empty when the check did not fail.
    std::string failureReason() const {
        if (!failed)
            return std::string();
        if (failureText.empty())
            return errorKindName(failureKind);
        return std::string(errorKindName(failureKind)) + ": " + failureText;
    }
};

// The hint of an account's checker field after a check: its name and the time of day, and
// after a failure the reason in parentheses.
inline std::string checkFieldHint(const std::string& name, const std::string& timeOfDay,
                                  const CheckResult& result) {
    std::string hint = name + " " + timeOfDay;
    const std::string reason = result.failureReason();
    if (!reason.empty())
        hint += " (" + reason + ")";
    return hint;
}

// What a status report of a check is about. The values are those the hosts have always
// been given (the parameter stays an int for them), hence the gap.
enum StatusKind : int {
    StatusConnection = 0, // "Contacting", "Connected", "Disconnected"
    StatusActivity = 1,   // what the check is doing, for the mail list's status line
    StatusProgress = 3,   // percent done, as decimal text
};

// Everything a check worker tells the rest of the program goes through this interface. The
// UI binds it to the main thread; tests bind a recorder that runs everything inline.
class CheckHost {
public:
    virtual ~CheckHost() = default;

    // Worker thread; returns at once. kind is a StatusKind.
    virtual void ReportStatus(int account, int kind, const std::string& text) = 0;
    // Must run on the main thread; the worker waits until it has run.
    virtual void EndOfCheckUpdate(const CheckResult& result) = 0;
    // Worker thread: the new-mail sounds of one account.
    virtual void NewMailSounds(int account, long long count) = 0;
    // Main thread, after the worker has finished.
    virtual void TerminateCheck(const CheckResult& result) = 0;
    // Main thread, while the check is created: the password prompt. nullopt = cancelled.
    virtual std::optional<std::string> PromptPassword(const std::string& prompt) = 0;
};

} // namespace tarn
