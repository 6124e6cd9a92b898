#include "core/CheckFrequency.h"

#include <charconv>
#include <climits>

namespace tarn {

FrequencyShown frequencyShown(int timerMs) {
    if (timerMs >= 60000)
        return {timerMs / 60000, FrequencyUnit::Minutes};
    return {timerMs / 1000, FrequencyUnit::Seconds};
}

std::optional<int> parseFieldInteger(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    int value = 0;
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, value);
    if (r.ec != std::errc() || r.ptr != end)
        return std::nullopt;
    return value;
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
