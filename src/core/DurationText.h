#pragma once

#include <chrono>
#include <string>

namespace tarn {

// A time limit as a failure reason names it: "10 s", "1.5 s" (tenths, rounded).
std::string secondsText(std::chrono::milliseconds ms);

} // namespace tarn
