#pragma once

#include "check/CheckHost.h"
#include "check/Session.h"
#include "check/TIdCheckThread.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarn::test {

struct StatusReport {
    int account = 0;
    int kind = 0;
    std::string text;
    bool operator==(const StatusReport&) const = default;
};

// A CheckHost that runs everything inline and records it. The termination step runs the
// real one. Thread-safe, so one host can serve several workers at once.
class RecordingCheckHost : public CheckHost {
public:
    explicit RecordingCheckHost(Session& session) : m_session(session) {}

    void ReportStatus(int account, int kind, const std::string& text) override {
        std::lock_guard<std::mutex> l(m_mutex);
        reports.push_back({account, kind, text});
    }
    void EndOfCheckUpdate(const CheckResult& result) override {
        // What the list shows at this moment: New marks are still set.
        long long shown = m_session.db().CountShownMessages(result.account);
        long long newShown = m_session.db().CountNewShown(result.account);
        bool busy = false;
        if (AccountRuntime* rt = m_session.runtimeOf(result.account)) {
            rt->ShownCount = static_cast<int>(shown);
            busy = rt->Busy.load();
        }
        std::lock_guard<std::mutex> l(m_mutex);
        busyAtEnd.push_back(busy);
        ends.push_back(result);
        newShownAtEnd.push_back(newShown);
    }
    void NewMailSounds(int account, long long count) override {
        std::lock_guard<std::mutex> l(m_mutex);
        sounds.emplace_back(account, count);
    }
    void TerminateCheck(const CheckResult& result) override {
        TIdCheckThread::terminationStep(m_session, result);
        std::lock_guard<std::mutex> l(m_mutex);
        terminations.push_back(result);
        m_done.notify_all();
    }
    std::optional<std::string> PromptPassword(const std::string& prompt) override {
        std::lock_guard<std::mutex> l(m_mutex);
        prompts.push_back(prompt);
        return promptAnswer;
    }

    bool waitForTerminations(std::size_t n, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> l(m_mutex);
        return m_done.wait_for(l, timeout, [&] { return terminations.size() >= n; });
    }
    std::vector<StatusReport> reportsOf(int account) {
        std::lock_guard<std::mutex> l(m_mutex);
        std::vector<StatusReport> out;
        for (const auto& r : reports)
            if (r.account == account)
                out.push_back(r);
        return out;
    }

    std::vector<StatusReport> reports;
    std::vector<CheckResult> ends;
    std::vector<long long> newShownAtEnd;
    std::vector<bool> busyAtEnd;
    std::vector<std::pair<int, long long>> sounds;
    std::vector<CheckResult> terminations;
    std::vector<std::string> prompts;
    std::optional<std::string> promptAnswer;

private:
    Session& m_session;
    std::mutex m_mutex;
    std::condition_variable m_done;
};

// Lock names of their own per process and session, so parallel test programs never share
// the MailDB lock.
inline std::string uniqueLockSuffix() {
    static std::atomic<int> counter{0};
    return "_t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
}

} // namespace tarn::test
