#include "core/CheckFrequency.h"

#include "core/AsciiText.h"

#include <climits>

namespace tarn {

FrequencyShown frequencyShown(int timerMs) {
    if (timerMs >= 60000)
        return {timerMs / 60000, FrequencyUnit::Minutes};
    return {timerMs / 1000, FrequencyUnit::Seconds};
}

std::optional<int> parseFieldInteger(std::string_view text) {
    const std::optional<std::int64_t> v = parseSignedDecimal(trimSpaceTab(text), INT_MIN, INT_MAX);
    if (!v)
        return std::nullopt;
    return static_cast<int>(*v);
}

std::optional<int> timerFromField(std::string_view text, FrequencyUnit unit) {
    const std::optional<int> n = parseFieldInteger(text);
    if (!n || *n < 0)
        return std::nullopt;
    const long long ms =
        static_cast<long long>(*n) * (unit == FrequencyUnit::Seconds ? 1000 : 60000);
    // The check timer's interval adds 10 ms per account on top.
    if (ms > INT_MAX / 2)
        return std::nullopt;
    return static_cast<int>(ms);
}

} // namespace tarn
