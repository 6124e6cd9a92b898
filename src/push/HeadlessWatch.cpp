#include "push/HeadlessWatch.h"

#include "check/Session.h"

namespace tarn {

HeadlessWatch::HeadlessWatch(Session& session, CheckOptions checkOptions, PushOptions pushOptions)
    : m_session(session), m_checkOptions(std::move(checkOptions)), m_schedulerHost(session) {
    m_scheduler = std::make_unique<Scheduler>(
        session.settings(), session.runtime(), session.Quitting, session.Online, m_loop,
        m_schedulerHost, [this](int a) {
            auto worker = TIdCheckThread::forAccount(m_session, *this, a, m_checkOptions);
            TIdCheckThread::start(std::move(worker));
        });
    m_actions = std::make_unique<MailListActions>(
        session, [this](int a, int ms) { m_scheduler->scheduleCheck(a, ms); });
    m_push = std::make_unique<PushAccounts>(
        session, [this](std::function<void()> f) { m_loop.post(std::move(f)); },
        [this](int a) {
            if (AccountRuntime* rt = m_session.runtimeOf(a))
                m_pushed.insert(rt);
            m_actions->requestCheck(a, MailListActions::CheckNewMailsDelayMs);
        },
        std::move(pushOptions));
}

HeadlessWatch::~HeadlessWatch() {
    m_push->stopAll();
}

void HeadlessWatch::start() {
    m_scheduler->syncAccounts();
    m_push->sync();
}

void HeadlessWatch::stop() {
    m_push->stopAll();
    for (int a = 1; a <= m_scheduler->timerCount(); ++a)
        m_scheduler->checkTimer(a).stop();
    m_loop.quit();
}

void HeadlessWatch::EndOfCheckUpdate(const CheckResult& result) {
    // Only the count is kept up to date here, under the MailDB lock like everything else.
    m_session.RecountShown(result.currentAccount());
}

void HeadlessWatch::TerminateCheck(const CheckResult& result) {
    m_loop.post([this, result] {
        TIdCheckThread::terminationStep(m_session, result);
        bool pushed = false;
        if (result.runtime)
            pushed = m_pushed.erase(result.runtime) > 0;
        m_push->checkEnded(result.currentAccount());
        if (onCheckEnded)
            onCheckEnded(result, pushed);
    });
}

std::optional<std::string> HeadlessWatch::PromptPassword(const std::string& prompt) {
    if (onPassword)
        return onPassword(prompt);
    return std::nullopt;
}

} // namespace tarn
