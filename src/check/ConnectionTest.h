#pragma once

#include "check/TIdCheckThread.h"
#include "core/AccountSettings.h"
#include "core/TarnError.h"

#include <string>

namespace tarn {

// The outcome of "Test Connection": the mailbox's message count, or why it could not be had.
struct ConnectionTestResult {
    bool ok = false;
    int messages = 0;
    ErrorKind kind = ErrorKind::Other;
    std::string text;

    // "Connected: 12 messages", or the reason as a failed check words it ("login rejected: ...").
    std::string outcome() const;
};

// Connects where a check of the account would (server, port, type, security, pin), logs in,
// opens the mailbox and counts its messages, then logs out. Blocking, bounded by the options'
// time-outs and the whole check's limit; call it on a worker thread. The account is taken as
// given (the page's fields, not yet saved); its password is used as it stands.
ConnectionTestResult testConnection(const AccountSettings& account, const CheckOptions& options);

} // namespace tarn
