#pragma once

#include "core/AccountSettings.h"

#include <vector>

namespace tarn {

// Whether a check would reach another server or log in otherwise: server (with its port),
// type, security, certificate pin, user, password or sign-in (method, OAuth 2.0 client and
// token, password command) differ.
bool connectionChanged(const AccountSettings& before, const AccountSettings& after);

// The accounts (numbered from 1) to check as soon as edited settings are confirmed: those
// beyond the accounts before (new ones) and those whose connection changed. Accounts without
// a server are left out: there is nothing to connect to yet.
std::vector<int> accountsToCheckAfterEdit(const std::vector<AccountSettings>& before,
                                          const std::vector<AccountSettings>& after);

} // namespace tarn
