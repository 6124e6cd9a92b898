#include "checker/QtCheckHost.h"

#include "checker/PasswordPrompt.h"
#include "checker/UiText.h"

#include "check/Session.h"
#include "check/TIdCheckThread.h"

#include <QCoreApplication>

namespace tarn {

QtCheckHost::QtCheckHost(Session& session, QObject* parent)
    : QObject(parent), m_session(session), m_toMain(this) {}

void QtCheckHost::ReportStatus(int account, int kind, const std::string& text) {
    // The text crosses as bytes; its QString is made on the main thread that uses it.
    m_toMain.post(
        [this, account, kind, text] { emit statusReported(account, kind, uiText(text)); });
}

void QtCheckHost::EndOfCheckUpdate(const CheckResult& result) {
    auto run = [this, result] {
        if (!onEndOfCheck)
            return;
        try {
            onEndOfCheck(result);
        } catch (...) {
            // An error in the update ends it; the worker must still go on.
        }
    };
    // Runs at once on the main thread itself. A quitting program's main thread may have left
    // its event loop for good: the worker then goes on after a short wait, and the update
    // does not run later.
    m_toMain.call(run, MainThreadWait, &m_session.Quitting, QuittingWait);
}

void QtCheckHost::NewMailSounds(int account, long long count) {
    if (onSounds && !m_session.Quitting)
        onSounds(account, count);
}

void QtCheckHost::TerminateCheck(const CheckResult& result) {
    m_toMain.post([this, result] {
        TIdCheckThread::terminationStep(m_session, result);
        if (onTerminated)
            onTerminated(result);
    });
}

std::optional<std::string> QtCheckHost::PromptPassword(const std::string& prompt) {
    if (onPassword)
        return onPassword(prompt);
    return PasswordPrompt::ask(prompt);
}

} // namespace tarn
