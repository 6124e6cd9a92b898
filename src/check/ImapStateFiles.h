#pragma once

#include "core/AccountSettings.h"

#include <string>
#include <vector>

namespace tarn {

// The IMAP4 state files in the working folder, seen from the accounts: each IMAP4 account's
// check keeps one, named after its server, user and mailbox. A file no account names any more
// (the account was deleted, or now points elsewhere) is never read again and goes.

// The name (no folder) of the state file the check of account keeps; empty for a POP3
// account. fixedImapPort is the port an IMAP4 account without security uses (the checks'
// CheckOptions::imapPort).
std::string imapStateFileOf(const AccountSettings& account, int fixedImapPort);

// Whether name is one this program gives a state file.
bool isImapStateFileName(const std::string& name);

// Removes from folder the state files that none of accounts names; only names of the state
// files' own form are touched. Returns the names removed. Never fails: a file that cannot be
// removed stays.
std::vector<std::string> removeStaleImapStates(const std::string& folder,
                                               const std::vector<AccountSettings>& accounts,
                                               int fixedImapPort);

} // namespace tarn
