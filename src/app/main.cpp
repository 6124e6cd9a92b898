#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    tarn::TarnApplication app(argc, argv);
    tarn::StartOptions options;
    for (int i = 1; i < argc; ++i)
        options.args.emplace_back(argv[i]);
    options.currentFolder = QDir::currentPath().toStdString();

    int status = 0;
    auto* tarnwick = new tarn::TarnwickApp(std::move(options));
    tarnwick->installSignalHandlers();
    tarnwick->start();

    // Measuring hooks for the start-up benchmark: time from the launcher's clock reading to
    // the first turn of the message loop with the window shown, and the longest gap between
    // loop turns while running.
    if (const char* t0 = std::getenv("TARN_BENCH_T0")) {
        const long long start = std::atoll(t0);
        QTimer::singleShot(0, [start] {
            const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      std::chrono::steady_clock::now().time_since_epoch())
                                      .count();
            std::fprintf(stderr, "startup_ms=%.1f\n", (now - start) / 1e6);
        });
    }
    QElapsedTimer gapClock;
    long long maxGap = -1;
    QTimer gapTimer;
    if (std::getenv("TARN_BENCH_GAPS")) {
        gapClock.start();
        maxGap = 0;
        QObject::connect(&gapTimer, &QTimer::timeout,
                         [&] { maxGap = std::max(maxGap, gapClock.restart()); });
        gapTimer.start(1);
    }
    status = app.exec();
    if (maxGap >= 0)
        std::fprintf(stderr, "max_gap_ms=%lld\n", maxGap);
    tarnwick->exitProcedure();
    if (!tarnwick->workersGone(std::chrono::milliseconds(300))) {
        // A check still talks to its server. Its session and host must outlive it, so the
        // process ends here without running any destructor; everything was saved above.
        std::fflush(nullptr);
        std::quick_exit(status);
    }
    delete tarnwick;
    return status;
}
