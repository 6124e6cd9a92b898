#pragma once

#include "check/CheckHost.h"

#include <cstdint>
#include <string>

namespace tarn {

class Session;

// What the mail list window shows when a check ends (absent: there is no mail list window).
struct MailListState {
    bool present = false;
    int viewAccount = 0; // 0: every account
    bool visible = false;
};

// What the windows do when a check has ended, decided without them.
struct EndOfCheckSteps {
    int account = 0; // the account's number now; 0: it was deleted meanwhile, nothing to do
    std::uint32_t fieldColor = 0;
    bool failed = false;
    std::string fieldHint;     // set after a failure: name, time and reason
    std::string failureReason; // for the mail list, after a failure
    bool rebuildList = false;  // the list shows this account (or all) and its records changed
    bool popupList = false;
    bool startShutdown = false;
};

// The end of a check: recounts the account's shown messages (under the MailDB lock) and
// decides what the fields, the mail list and the shutdown countdown do. The list pops up when
// the check succeeded, brought more shown messages than before, the settings ask for it and
// the list is not already showing.
EndOfCheckSteps endOfCheck(Session& session, const CheckResult& result, const MailListState& list,
                           const std::string& timeOfDay);

} // namespace tarn
