#pragma once

#include <string>
#include <vector>

namespace tarn {

// Forced power-off of the machine. Injectable: the countdown only ever talks to this
// interface, so tests bind a recorder.
class PowerOff {
public:
    virtual ~PowerOff() = default;
    // Asks the system to power off now. False when the request was refused or failed.
    virtual bool powerOff() = 0;
};

// The real service: asks logind through "systemctl poweroff". It refuses, doing nothing,
// whenever the environment marks a test or CI run, so a run of the test suite can never
// turn the machine off.
PowerOff& systemPowerOff();

// True when the environment entries ("NAME=value") mark a test run: TARN_TEST_RUN or CI set
// (to anything, even empty), or any GTEST_ variable present.
bool isTestRunEnvironment(const std::vector<std::string>& environment);

// The process's environment as "NAME=value" entries.
std::vector<std::string> currentEnvironment();

} // namespace tarn
