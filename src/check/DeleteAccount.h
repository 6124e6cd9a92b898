#pragma once

#include "core/AccountSettings.h"

namespace tarn {

class Scheduler;
class Session;

// The windows' side of deleting an account; each position's field, timer and menu stay and
// now serve the account that moved into it.
class AccountDeletionView {
public:
    virtual ~AccountDeletionView() = default;
    // The fields, timers and menus follow the new account count; the last position's go.
    virtual void accountsRenumbered() = 0;
    // Account a (numbered after the move) shows its name and whether its mail list opens.
    virtual void showAccount(int a, const AccountSettings& account) = 0;
    // The mail list window purges the saved list itself; false when there is none.
    virtual bool purgeInMailList() = 0;
    // The list was purged here: the field counts and the tray follow.
    virtual void mailListPurged() = 0;
};

// "Delete Account" for account d once the user has confirmed it: every account's connection is
// reset (the numbers move), the session removes the account with its records and filters,
// the windows follow, and the saved mail list is purged (the purged accounts list their
// mailbox afresh at the next check). The account's IMAP4 state file goes too, unless another
// account uses the same mailbox (fixedImapPort: the checks' CheckOptions::imapPort). Throws
// TarnError when d is not an account or is the only one, before anything changed.
void deleteAccount(Session& session, Scheduler& scheduler, int d, AccountDeletionView& view,
                   int fixedImapPort = 143);

} // namespace tarn
