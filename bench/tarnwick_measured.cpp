// The program as the start-up benchmark runs it: the real program with two measuring hooks.
//   TARN_BENCH_T0=<steady clock in ns>  prints startup_ms, the time from that reading to the
//                                       first turn of the message loop with the window shown
//   TARN_BENCH_GAPS=1                   prints max_gap_ms, the longest gap between loop turns
#include "app/RunTarnwick.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char** argv) {
    QElapsedTimer gapClock;
    long long maxGap = -1;
    std::unique_ptr<QTimer> gapTimer;
    tarn::RunHooks hooks;
    hooks.beforeLoop = [&] {
        if (const char* t0 = std::getenv("TARN_BENCH_T0")) {
            const long long start = std::atoll(t0);
            QTimer::singleShot(0, [start] {
                const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count();
                std::fprintf(stderr, "startup_ms=%.1f\n", (now - start) / 1e6);
            });
        }
        if (std::getenv("TARN_BENCH_GAPS")) {
            gapClock.start();
            maxGap = 0;
            gapTimer = std::make_unique<QTimer>();
            QObject::connect(gapTimer.get(), &QTimer::timeout,
                             [&] { maxGap = std::max(maxGap, gapClock.restart()); });
            gapTimer->start(1);
        }
    };
    hooks.afterLoop = [&] {
        gapTimer.reset();
        if (maxGap >= 0)
            std::fprintf(stderr, "max_gap_ms=%lld\n", maxGap);
    };
    return tarn::runTarnwick(argc, argv, hooks);
}
