#pragma once

#include <memory>
#include <string>

namespace tarn {

// Forced power-off of the machine. Injectable: the countdown only ever talks to this
// interface, so tests bind a recorder.
class PowerOff {
public:
    virtual ~PowerOff() = default;
    // Asks the system to power off now. False when the request was refused or failed.
    virtual bool powerOff() = 0;
};

// Runs "<program> poweroff -i" (program looked up on PATH unless it names a path) and waits
// for it; true when it exited 0.
std::unique_ptr<PowerOff> commandPowerOff(std::string program);

// The real service: asks logind through "systemctl poweroff". Only the program's entry point
// hands it out; every other part is given the PowerOff it uses.
PowerOff& systemPowerOff();

// Refuses and does nothing: what a part uses when it was given no power-off.
PowerOff& refusingPowerOff();

} // namespace tarn
