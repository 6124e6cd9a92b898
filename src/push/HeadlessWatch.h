#pragma once

#include "check/CheckHost.h"
#include "check/MailListActions.h"
#include "check/QuietSchedulerHost.h"
#include "check/TIdCheckThread.h"
#include "check/TaskLoop.h"
#include "core/Scheduler.h"
#include "push/PushAccounts.h"

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace tarn {

class Session;

// The program's checking without windows, for tarnwick-check --watch: the accounts' check
// timers, the idle connections of the push accounts and the checks they ask for, all on one
// TaskLoop run by the calling thread. Checks start through the scheduler's checkmail and run
// on worker threads, as in the program; an announcement asks for a check as the mail list's
// "Check New Mails" does.
class HeadlessWatch : public CheckHost {
public:
    HeadlessWatch(Session& session, CheckOptions checkOptions = CheckOptions(),
                  PushOptions pushOptions = PushOptions());
    ~HeadlessWatch() override;
    HeadlessWatch(const HeadlessWatch&) = delete;
    HeadlessWatch& operator=(const HeadlessWatch&) = delete;

    // Creates the check timers (first tick after a second) and the idle connections.
    void start();
    // Ends the idle connections (each logs out) and stops the timers; the loop returns.
    void stop();

    TaskLoop& loop() { return m_loop; }
    Scheduler& scheduler() { return *m_scheduler; }
    PushAccounts& push() { return *m_push; }

    // Loop thread: a check has ended (after its termination step); pushed says whether a
    // server's announcement (or a wake-up) asked for it.
    std::function<void(const CheckResult&, bool pushed)> onCheckEnded;
    // Loop thread, while a check is created: the password of an account that does not save
    // it. None given: the check fails without one.
    std::function<std::optional<std::string>(const std::string&)> onPassword;

private:
    // CheckHost
    void ReportStatus(int, int, const std::string&) override {}
    void EndOfCheckUpdate(const CheckResult& result) override;
    void NewMailSounds(int, long long) override {}
    void TerminateCheck(const CheckResult& result) override;
    std::optional<std::string> PromptPassword(const std::string& prompt) override;

    Session& m_session;
    CheckOptions m_checkOptions;
    QuietSchedulerHost m_schedulerHost;
    TaskLoop m_loop;
    std::unique_ptr<Scheduler> m_scheduler;
    std::unique_ptr<MailListActions> m_actions;
    std::unique_ptr<PushAccounts> m_push;
    std::set<AccountRuntime*> m_pushed; // accounts whose asked-for check is still to end
};

} // namespace tarn
