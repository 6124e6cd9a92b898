#pragma once

#include "app/TarnApplication.h"
#include "platform/PowerOff.h"

#include <QCoreApplication>

namespace tarn::test {

// The one application object of the test program; whichever test comes first makes it.
inline TarnApplication& tarnApp() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    if (auto* existing = qobject_cast<TarnApplication*>(QCoreApplication::instance()))
        return *existing;
    static TarnApplication* instance = new TarnApplication(argc, argv);
    return *instance;
}

// Tests never reach the real power-off.
struct NoPowerOff : PowerOff {
    bool powerOff() override { return false; }
};

} // namespace tarn::test
