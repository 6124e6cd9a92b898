#include "checker/QtCheckHost.h"

#include "checker/PasswordPrompt.h"
#include "checker/UiText.h"

#include "check/Session.h"
#include "check/TIdCheckThread.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

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
    if (QThread::currentThread() == thread()) {
        run();
        return;
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    // Marks the update done when the main thread's function ends, whether it ran or was
    // dropped because the host went away first: the worker must not wait for it then.
    struct Release {
        std::shared_ptr<Done> done;
        ~Release() {
            {
                std::lock_guard<std::mutex> l(done->mutex);
                done->done = true;
            }
            done->cv.notify_all();
        }
    };
    auto done = std::make_shared<Done>();
    std::shared_ptr<Release> release(new Release{done});
    m_toMain.post([run, release] { run(); });
    release.reset();
    std::unique_lock<std::mutex> l(done->mutex);
    while (!done->done) {
        if (m_session.Quitting) {
            done->cv.wait_for(l, QuittingWait, [&] { return done->done; });
            return;
        }
        done->cv.wait_for(l, std::chrono::milliseconds(50), [&] { return done->done; });
    }
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
