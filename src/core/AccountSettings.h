#pragma once

#include <cstdint>
#include <string>

namespace tarn {

// How an account's connection is protected: the values of its Security key.
enum class ConnectionSecurity { None = 0, Tls = 1, StartTls = 2 };

// One account's saved settings. Accounts are numbered from 1; the section is the number.
struct AccountSettings {
    std::string Name;
    int MailServerType = 0; // 0 POP3, 1 IMAP4
    std::string IMAPMailBoxName = "INBOX";
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

    bool operator==(const AccountSettings&) const = default;
};

} // namespace tarn
