#include "check/ImapStateFiles.h"

#include "mailproto/ImapSyncState.h"
#include "mailproto/ServerEndpoint.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

namespace tarn {

std::string imapStateFileOf(const AccountSettings& account, int fixedImapPort) {
    if (account.MailServerType != static_cast<int>(MailServerKind::Imap4))
        return {};
    const AccountServer server = accountServer(account, fixedImapPort);
    // As the check names it: without security the fixed port, whatever the setting says.
    const int port = account.Security == static_cast<int>(ConnectionSecurity::None)
                         ? fixedImapPort
                         : server.endpoint.port;
    return imapSyncStateFileName(server.endpoint.host, port, account.UserID,
                                 account.IMAPMailBoxName);
}

bool isImapStateFileName(const std::string& name) {
    // "MailDB.imap-" 16 lower-case hex digits ".state"
    static constexpr std::string_view kHead = "MailDB.imap-";
    static constexpr std::string_view kTail = ".state";
    constexpr std::size_t kDigits = 16;
    if (name.size() != kHead.size() + kDigits + kTail.size() || !name.starts_with(kHead) ||
        !name.ends_with(kTail))
        return false;
    return std::all_of(name.begin() + kHead.size(), name.begin() + kHead.size() + kDigits,
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::vector<std::string> removeStaleImapStates(const std::string& folder,
                                               const std::vector<AccountSettings>& accounts,
                                               int fixedImapPort) {
    std::vector<std::string> removed;
    if (folder.empty())
        return removed;
    std::set<std::string> named;
    for (const AccountSettings& a : accounts)
        if (std::string n = imapStateFileOf(a, fixedImapPort); !n.empty())
            named.insert(std::move(n));
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec)
        return removed;
    std::vector<std::filesystem::path> stale;
    for (const std::filesystem::directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        // Only plain files of our own naming; a link or folder of that name is left alone.
        if (isImapStateFileName(name) && !named.count(name) &&
            it->symlink_status(ec).type() == std::filesystem::file_type::regular)
            stale.push_back(it->path());
    }
    for (const std::filesystem::path& p : stale)
        if (std::filesystem::remove(p, ec) && !ec)
            removed.push_back(p.filename().string());
    std::sort(removed.begin(), removed.end());
    return removed;
}

} // namespace tarn
