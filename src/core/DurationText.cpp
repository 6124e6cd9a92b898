#include "core/DurationText.h"

namespace tarn {

std::string secondsText(std::chrono::milliseconds ms) {
    const long long tenths = (ms.count() + 50) / 100;
    std::string s = std::to_string(tenths / 10);
    if (tenths % 10)
        s += "." + std::to_string(tenths % 10);
    return s + " s";
}

} // namespace tarn
