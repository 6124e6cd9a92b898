#include "app/TarnApplication.h"
#include "app/TarnwickApp.h"

#include <QDir>

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
    status = app.exec();
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
