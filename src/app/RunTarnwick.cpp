#include "app/RunTarnwick.h"

#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"
#include "platform/PowerOff.h"
#include "platform/keyring/SecretServiceStore.h"

#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace tarn {

int runTarnwick(int argc, char** argv, const RunHooks& hooks) {
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
