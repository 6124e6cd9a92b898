#pragma once

#include <QApplication>

#include <chrono>
#include <functional>

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

} // namespace tarn::test
