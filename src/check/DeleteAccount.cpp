#include "check/DeleteAccount.h"

#include "check/Session.h"
#include "core/Scheduler.h"
#include "core/TarnError.h"
#include "store/MailStoreFiles.h"

namespace tarn {

void deleteAccount(Session& session, Scheduler& scheduler, int d, AccountDeletionView& view) {
    Settings& s = session.settings();
    const int count = s.accountCount();
    if (d < 1 || d > count || count <= 1)
        throw TarnError("Account " + std::to_string(d) + " cannot be deleted.");
    for (int a = 1; a <= count; ++a)
        scheduler.ResetConnection(a);
    session.deleteAccount(d);
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
