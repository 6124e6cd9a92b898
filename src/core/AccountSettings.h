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

    MailServerKind serverKind() const {
        return MailServerType == static_cast<int>(MailServerKind::Imap4) ? MailServerKind::Imap4
                                                                         : MailServerKind::Pop3;
    }
    bool isImap4() const { return serverKind() == MailServerKind::Imap4; }
    bool passwordInKeyring() const { return PasswordStore == kKeyringStore; }
    // The mailbox a check selects: the named one, else the default.
    std::string mailbox() const {
        return IMAPMailBoxName.empty() ? kDefaultMailbox : IMAPMailBoxName;
    }

    bool operator==(const AccountSettings&) const = default;
};

} // namespace tarn
