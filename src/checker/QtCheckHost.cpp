#include "checker/QtCheckHost.h"

#include "engine/Session.h"
#include "engine/TIdCheckThread.h"

#include <QCoreApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QThread>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace tarn {

QtCheckHost::QtCheckHost(Session& session, QObject* parent) : QObject(parent), m_session(session) {}

void QtCheckHost::ReportStatus(int account, int kind, const std::string& text) {
    const QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this, [this, account, kind, t] { emit statusReported(account, kind, t); },
        Qt::QueuedConnection);
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
    auto done = std::make_shared<Done>();
    QMetaObject::invokeMethod(
        this,
        [run, done] {
            run();
            std::lock_guard<std::mutex> l(done->mutex);
            done->done = true;
            done->cv.notify_all();
        },
        Qt::QueuedConnection);
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
    QMetaObject::invokeMethod(
        this,
        [this, result] {
            TIdCheckThread::terminationStep(m_session, result);
            if (onTerminated)
                onTerminated(result);
        },
        Qt::QueuedConnection);
}

std::optional<std::string> QtCheckHost::PromptPassword(const std::string& prompt) {
    if (onPassword)
        return onPassword(prompt);
    bool ok = false;
    const QString typed =
        QInputDialog::getText(nullptr, QStringLiteral("Tarnwick"), QString::fromStdString(prompt),
                              QLineEdit::Password, QString(), &ok);
    if (!ok)
        return std::nullopt;
    return typed.toStdString();
}

} // namespace tarn
