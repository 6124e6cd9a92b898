#pragma once

#include "core/AccountSettings.h"
#include "net/OAuth2.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace tarn {

class SettingsStore;

// The account's OAuth 2.0 client: its own fields, with its provider's preset (and a client ID
// built in by the packager) where it leaves them empty.
OAuthClient oauthClientOf(const AccountSettings& account);
// What the preset adds to the authorization URL.
std::string oauthAuthorizeExtras(const AccountSettings& account);

struct SignInOptions {
    std::chrono::milliseconds browserLimit{std::chrono::minutes(5)};
    OAuthLimits limits;
    const std::atomic<bool>* cancel = nullptr;
};

struct SignInOutcome {
    bool ok = false;
    std::string error; // for the user; never holds a token
    OAuthTokenAnswer tokens;
};

// The whole browser sign-in: a listener on 127.0.0.1, the authorization URL (with PKCE S256
// and a fresh state) handed to showUrl (which prints it or opens the browser), the wait for
// the redirect, and the code exchanged for tokens. Blocking: not for the GUI thread. Stores
// nothing.
SignInOutcome runOAuthSignIn(const AccountSettings& account,
                             const std::function<void(const std::string& url)>& showUrl,
                             const SignInOptions& options = {});

// Keeps a sign-in's tokens: the refresh token where the account's secrets go (the keyring, or
// the file), the access token in memory. account must have a SecretId. Empty on success.
std::string keepSignIn(SettingsStore& store, int number, const AccountSettings& account,
                       const OAuthTokenAnswer& tokens,
                       std::chrono::milliseconds keyringLimit = std::chrono::seconds(20));

struct AccessToken {
    std::string token; // empty on failure
    std::string error;
    bool signInAgain = false; // the refresh token was refused: only a new sign-in helps
};

// An access token for a check of account number: the one in memory while it is good for
// more than a minute (unless fresh is asked for), else one from the token endpoint with the
// refresh token, whose rotation is kept. Blocking: a check's thread.
AccessToken accessTokenFor(SettingsStore& store, int number, const AccountSettings& account,
                           bool fresh, const OAuthLimits& limits = {},
                           std::chrono::milliseconds keyringLimit = std::chrono::seconds(20));

} // namespace tarn
