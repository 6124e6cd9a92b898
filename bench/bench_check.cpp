// Check worker timings against a running server given in the environment (bench/check_vs_python.py
// starts a private Dovecot and sets these):
//   TARN_BENCH_HOST, TARN_BENCH_PORT, TARN_BENCH_USER, TARN_BENCH_PASS, TARN_BENCH_TYPE (0 POP3,
//   1 IMAP4; IMAP4 uses port 143).
// Without them every benchmark reports an error and measures nothing.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "check/CheckHost.h"
#include "check/Session.h"
#include "check/TIdCheckThread.h"

namespace {

using namespace tarn;

class QuietHost : public CheckHost {
public:
    explicit QuietHost(Session& s) : m_session(s) {}
    void ReportStatus(int, int, const std::string&) override {}
    void EndOfCheckUpdate(const CheckResult&) override {}
    void NewMailSounds(int, long long) override {}
    void TerminateCheck(const CheckResult& r) override {
        TIdCheckThread::terminationStep(m_session, r);
    }
    std::optional<std::string> PromptPassword(const std::string&) override { return {}; }

private:
    Session& m_session;
};

const char* env(const char* name) {
    return std::getenv(name);
}

bool configured() {
    return env("TARN_BENCH_HOST") && env("TARN_BENCH_PORT") && env("TARN_BENCH_USER") &&
           env("TARN_BENCH_PASS");
}

struct Bench {
    std::string folder;
    std::unique_ptr<Session> session;
    std::unique_ptr<QuietHost> host;

    Bench() {
        char tmpl[] = "/tmp/tarn-bench-XXXXXX";
        folder = ::mkdtemp(tmpl);
        session =
            std::make_unique<Session>(folder, systemClock(), "_bench" + std::to_string(::getpid()));
        AccountSettings a;
        a.Name = "bench";
        a.Host = std::string(env("TARN_BENCH_HOST")) + ":" + env("TARN_BENCH_PORT");
        a.UserID = env("TARN_BENCH_USER");
        a.Password = env("TARN_BENCH_PASS");
        a.MailServerType = env("TARN_BENCH_TYPE") ? std::atoi(env("TARN_BENCH_TYPE")) : 0;
        session->settings().Accounts = {a};
        session->syncWithSettings();
        host = std::make_unique<QuietHost>(*session);
    }
    ~Bench() {
        host.reset();
        session.reset();
        std::filesystem::remove_all(folder);
    }
    CheckResult check() {
        session->runtime()[1].Busy = true;
        return TIdCheckThread::forAccount(*session, *host, 1)->run();
    }
};

void BM_FirstCheck(benchmark::State& state) {
    if (!configured()) {
        state.SkipWithError("TARN_BENCH_* not set");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        auto b = std::make_unique<Bench>();
        state.ResumeTiming();
        const CheckResult r = b->check();
        if (r.failed)
            state.SkipWithError("check failed");
        state.PauseTiming();
        state.counters["messages"] = static_cast<double>(b->session->db().size());
        b.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstCheck)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_UnchangedRecheck(benchmark::State& state) {
    if (!configured()) {
        state.SkipWithError("TARN_BENCH_* not set");
        return;
    }
    Bench b;
    if (b.check().failed) {
        state.SkipWithError("first check failed");
        return;
    }
    for (auto _ : state) {
        const CheckResult r = b.check();
        if (r.failed || !r.unchanged)
            state.SkipWithError("re-check was not an unchanged check");
    }
    state.counters["messages"] = static_cast<double>(b.session->db().size());
}
BENCHMARK(BM_UnchangedRecheck)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
