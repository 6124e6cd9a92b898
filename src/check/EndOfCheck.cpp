#include "check/EndOfCheck.h"

#include "check/Session.h"
#include "core/Scheduler.h"

namespace tarn {

EndOfCheckSteps endOfCheck(Session& session, const CheckResult& result, const MailListState& list,
                           const std::string& timeOfDay) {
    EndOfCheckSteps steps;
    // The account's number now: accounts may have been deleted while it was checked.
    const int a = result.currentAccount();
    const Settings& s = session.settings();
    AccountRuntime* rt = session.runtimeOf(a);
    if (!rt || a > s.accountCount())
        return steps;
    steps.account = a;
    const int previousCount = rt->ShownCount;
    session.RecountShown(a);
    steps.fieldColor = Scheduler::endOfCheckColor(s.account(a), s.Main.Colors, result.failed);
    steps.failed = result.failed;
    if (result.failed) {
        // The reason of a failure goes beside the time.
        steps.fieldHint = checkFieldHint(s.account(a).Name, timeOfDay, result);
        steps.failureReason = result.failureReason();
    }
    if (list.present) {
        steps.rebuildList = ((result.listFlag && !result.unchanged) || result.deletedCount > 0) &&
                            (list.viewAccount == a || list.viewAccount == 0);
        steps.popupList = rt->ShownCount > previousCount && s.Main.PopupMailList && !list.visible &&
                          !result.failed;
    }
    steps.startShutdown = result.shutdownRequested;
    return steps;
}

} // namespace tarn
