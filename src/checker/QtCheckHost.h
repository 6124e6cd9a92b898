#pragma once

#include "check/CheckHost.h"
#include "checker/CrossThreadQueue.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace tarn {

class Session;

// The check workers' host in the program: status reports and the termination step are queued
// to the main thread; the end-of-check update runs on the main thread while the worker waits.
class QtCheckHost : public QObject, public CheckHost {
    Q_OBJECT
public:
    // How long a worker still waits for the main thread once the program is quitting (the
    // main thread may have left its event loop for good).
    static constexpr std::chrono::milliseconds QuittingWait{200};
    // How long a worker waits for the main thread to run the end-of-check update otherwise.
    static constexpr std::chrono::minutes MainThreadWait{30};

    explicit QtCheckHost(Session& session, QObject* parent = nullptr);

    void ReportStatus(int account, int kind, const std::string& text) override;
    void EndOfCheckUpdate(const CheckResult& result) override;
    void NewMailSounds(int account, long long count) override;
    void TerminateCheck(const CheckResult& result) override;
    std::optional<std::string> PromptPassword(const std::string& prompt) override;

    // Main thread: what the end-of-check update and the termination step do above the
    // session (the window binds them).
    std::function<void(const CheckResult&)> onEndOfCheck;
    std::function<void(const CheckResult&)> onTerminated;
    // Worker thread: the new-mail sounds.
    std::function<void(int, long long)> onSounds;
    // Main thread: the password prompt.
    std::function<std::optional<std::string>(const std::string&)> onPassword;

signals:
    void statusReported(int account, int kind, const QString& text);

private:
    Session& m_session;
    // Carries the workers' reports and steps to the main thread.
    CrossThreadQueue m_toMain;
};

} // namespace tarn
