#include "check/DeleteAccount.h"

#include "check/ImapStateFiles.h"
#include "check/Session.h"
#include "core/Scheduler.h"
#include "core/TarnError.h"
#include "store/MailStoreFiles.h"

#include <filesystem>
#include <system_error>

namespace tarn {

void deleteAccount(Session& session, Scheduler& scheduler, int d, AccountDeletionView& view,
                   int fixedImapPort) {
    Settings& s = session.settings();
    const int count = s.accountCount();
    if (d < 1 || d > count || count <= 1)
        throw TarnError("Account " + std::to_string(d) + " cannot be deleted.");
    for (int a = 1; a <= count; ++a)
        scheduler.ResetConnection(a);
    const std::string state = imapStateFileOf(s.account(d), fixedImapPort);
    session.deleteAccount(d);
    if (!state.empty() && !session.workingFolder().empty()) {
        bool shared = false;
        for (int a = 1; a <= s.accountCount(); ++a)
            shared = shared || imapStateFileOf(s.account(a), fixedImapPort) == state;
        std::error_code ec;
        if (!shared)
            std::filesystem::remove(session.workingFolder() + "/" + state, ec);
    }
    view.accountsRenumbered();
    for (int a = 1; a <= s.accountCount(); ++a)
        view.showAccount(a, s.account(a));
    if (view.purgeInMailList())
        return;
    for (int a : MailStoreFiles::PurgeMaillist(session.db(), session.workingFolder()))
        if (AccountRuntime* rt = session.runtimeOf(a))
            rt->LastMailboxTotal = -2;
    view.mailListPurged();
}

} // namespace tarn
