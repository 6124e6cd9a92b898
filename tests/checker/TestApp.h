#pragma once

#include "check/Session.h"
#include "platform/NamedMutex.h"
#include "store/MailRecord.h"

#include <QApplication>

#include <chrono>
#include <functional>
#include <string>

namespace tarn::test {

// One QApplication for the whole test program, created on first use (offscreen under CTest).
inline QApplication& app() {
    static int argc = 1;
    static char name[] = "test_checker";
    static char* argv[] = {name, nullptr};
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *existing;
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// Runs the event loop until done() holds or the time is up; returns done().
inline bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

// Puts shown and hidden records of one account into the session's mail list.
inline void addMessages(Session& session, int account, int shown, int hidden) {
    NamedLock lock(session.db().mutex());
    for (int i = 0; i < shown + hidden; ++i) {
        MailRecord r;
        r.UID = "u" + std::to_string(account) + "-" + std::to_string(i);
        r.Account = account;
        r.Ignore = i >= shown;
        session.db().AppendMessage(r);
    }
}

} // namespace tarn::test
