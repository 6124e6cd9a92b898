#pragma once

#include <functional>

namespace tarn {

// Points where a measuring harness may look at a running program; the program itself hangs
// nothing there.
struct RunHooks {
    // After the start-up, just before the message loop begins.
    std::function<void()> beforeLoop;
    // Right after the message loop has ended, before the exit procedure.
    std::function<void()> afterLoop;
};

// The whole life of the program: start-up, message loop, exit. Returns the exit status.
int runTarnwick(int argc, char** argv, const RunHooks& hooks = RunHooks());

} // namespace tarn
