#pragma once

#include <cstdint>
#include <string>

namespace tarn {

// How an account's connection is protected: the values of its Security key.
enum class ConnectionSecurity { None = 0, Tls = 1, StartTls = 2 };
// The protocol an account is checked with: the values of its MailServerType key.
enum class MailServerKind { Pop3 = 0, Imap4 = 1 };

// The IMAP4 mailbox an account checks when none is named.
inline constexpr const char* kDefaultMailbox = "INBOX";
// The PasswordStore value of an account whose password is in the desktop keyring.
inline constexpr const char* kKeyringStore = "keyring";

// How an account signs in: the values of its AuthMethod key.
enum class AuthMethod {
    Automatic = 0, // OAuth 2.0 when the account has a sign-in, else the password
    Password = 1,  // the password, with the best mechanism the server offers
    OAuth2 = 2,    // an OAuth 2.0 access token (SASL OAUTHBEARER or XOAUTH2)
};

// One account's saved settings. Accounts are numbered from 1; the section is the number.
struct AccountSettings {
    std::string Name;
    int MailServerType = 0; // 0 POP3, 1 IMAP4
    std::string IMAPMailBoxName = kDefaultMailbox;
    std::string Host;
    std::string UserID;
    std::string Password; // plain text in memory
    bool SavePwd = true;
    int Timer = 300000; // milliseconds
    bool Active = true;
    std::uint32_t ActiveColor = 0;
    std::uint32_t IdleColor = 0;
    bool Sound = true;
    bool Show = true;
    bool List = true;
    bool RetrieveAllBodies = false;
    std::string CustomMailClientPath;
    int DefaultMailClient = 0;  // 0 system mail handler, 1 CustomMailClientPath
    int Security = 0;           // a ConnectionSecurity; other values fail the account's checks
    std::string TLSFingerprint; // SHA-256 pin of the server certificate (hex, colons allowed)
    bool Push = false;          // IMAP4: keep an IDLE connection and check when the server says
    // Where the saved password is: empty for this file (Password, scrambled), kKeyringStore
    // for the desktop keyring, whose items SecretId names.
    std::string PasswordStore;
    std::string SecretId;
    int AuthMethod = 0; // an AuthMethod; other values read as automatic
    // OAuth 2.0: "microsoft", "google" or "custom", and the client the user registered.
    std::string OAuthProvider;
    std::string OAuthAuthorizeURL;
    std::string OAuthTokenURL;
    std::string OAuthClientID;
    std::string OAuthClientSecret;
    std::string OAuthScope;
    // Run before each log-in (by /bin/sh -c); its first line is the password, or the access
    // token when AuthMethod is OAuth 2.0.
    std::string PasswordCommand;
    // The OAuth 2.0 refresh token (plain in memory), and where it is kept: empty for this
    // file (scrambled), kKeyringStore for the desktop keyring.
    std::string OAuthRefreshToken;
    std::string OAuthTokenStore;

    MailServerKind serverKind() const {
        return MailServerType == static_cast<int>(MailServerKind::Imap4) ? MailServerKind::Imap4
                                                                         : MailServerKind::Pop3;
    }
    bool isImap4() const { return serverKind() == MailServerKind::Imap4; }
    bool passwordInKeyring() const { return PasswordStore == kKeyringStore; }
    bool refreshTokenInKeyring() const { return OAuthTokenStore == kKeyringStore; }
    // Whether the account has been signed in with OAuth 2.0 (a refresh token is kept).
    bool hasOAuthSignIn() const { return !OAuthRefreshToken.empty() || refreshTokenInKeyring(); }
    // Whether its checks sign in with an access token rather than a password.
    bool usesOAuth() const {
        return AuthMethod == static_cast<int>(tarn::AuthMethod::OAuth2) ||
               (AuthMethod != static_cast<int>(tarn::AuthMethod::Password) && hasOAuthSignIn());
    }
    // The mailbox a check selects: the named one, else the default.
    std::string mailbox() const {
        return IMAPMailBoxName.empty() ? kDefaultMailbox : IMAPMailBoxName;
    }

    bool operator==(const AccountSettings&) const = default;
};

} // namespace tarn
