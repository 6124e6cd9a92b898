#include "app/RunTarnwick.h"

#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"
#include "core/StartupDecisions.h"
#include "platform/PowerOff.h"
#include "platform/keyring/SecretServiceStore.h"

#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace tarn {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// Before the application object exists: it reads QT_QPA_PLATFORM when it is made.
void chooseDisplayPlatform() {
    const DisplayDecision d = decideDisplayPlatform(
        {env("QT_QPA_PLATFORM"), env("XDG_SESSION_TYPE"), env("WAYLAND_DISPLAY"), env("DISPLAY")});
    if (!d.qtPlatform.empty())
        ::setenv("QT_QPA_PLATFORM", d.qtPlatform.c_str(), 1);
    if (!d.logLine.empty())
        std::fprintf(stderr, "tarnwick: %s\n", d.logLine.c_str());
}

} // namespace

int runTarnwick(int argc, char** argv, const RunHooks& hooks) {
    chooseDisplayPlatform();
    TarnApplication app(argc, argv);
    StartOptions options;
    for (int i = 1; i < argc; ++i)
        options.args.emplace_back(argv[i]);
    options.currentFolder = QDir::currentPath().toStdString();
    // The one place the real power-off is handed out.
    options.powerOff = &systemPowerOff();
    // Lives to the end of the process: a check may still read from it during quick_exit.
    static SecretServiceStore keyring;
    options.secretStore = &keyring;

    auto* tarnwick = new TarnwickApp(std::move(options));
    tarnwick->installSignalHandlers();
    tarnwick->start();
    if (hooks.beforeLoop)
        hooks.beforeLoop();
    const int status = app.exec();
    if (hooks.afterLoop)
        hooks.afterLoop();
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

} // namespace tarn
