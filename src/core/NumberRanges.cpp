#include "core/NumberRanges.h"

#include "core/CheckFrequency.h"
#include "core/Settings.h"

#include <algorithm>

namespace tarn {

namespace {

constexpr int kMsPerMinute = 60000;

// The sliders' ranges, as their pages set them.
constexpr NumberRange kSliderRanges[] = {
    {"Height of your checker fields", 5, 50, ""},
    {"Width of your checker fields", 5, 50, ""},
    {"Fontsize of the mailcount number on your checker fields", 5, 30, ""},
    {"Space between checker fields", 1, 20, ""},
    {"Space between checker fields and top/bottom edge of your window", 1, 20, ""},
    {"Level of transparency", 20, 255, ""},
    {"Float back interval", 1, 60, "seconds"},
};

} // namespace

std::optional<int> numberInRange(std::string_view text, const NumberRange& range) {
    const std::optional<int> n = parseFieldInteger(text);
    if (!n || *n < range.min || *n > range.max)
        return std::nullopt;
    return n;
}

std::string rangeMessage(const NumberRange& range) {
    std::string text = std::string("\"") + range.field + "\" takes a whole number from " +
                       std::to_string(range.min) + " to " + std::to_string(range.max);
    if (*range.unit)
        text += std::string(" ") + range.unit;
    return text + ".";
}

int clampToRange(long long value, const NumberRange& range) {
    return static_cast<int>(std::clamp<long long>(value, range.min, range.max));
}

int frequencyMinutesShown(int timerMs) {
    return clampToRange(timerMs / kMsPerMinute, kCheckFrequencyRange);
}

std::vector<OutOfRange> storedOutOfRange(const Settings& settings) {
    std::vector<OutOfRange> out;
    auto note = [&out](const std::string& where, const NumberRange& range, long long stored) {
        const int shown = clampToRange(stored, range);
        if (shown != stored)
            out.push_back({where, range.field, stored, shown});
    };
    for (const AccountSettings& acc : settings.Accounts) {
        const long long ms = acc.Timer;
        if (ms < static_cast<long long>(kCheckFrequencyRange.min) * kMsPerMinute ||
            ms > static_cast<long long>(kCheckFrequencyRange.max) * kMsPerMinute)
            out.push_back({acc.Name, kCheckFrequencyRange.field, ms / 1000,
                           frequencyMinutesShown(acc.Timer)});
    }
    const MainSettings& m = settings.Main;
    note({}, kDownloadLimitRange, m.MaxDownloadSize);
    note({}, kRepeatCountRange, m.MAXMailCount);
    const int sliders[] = {m.CheckerHeight, m.CheckerWidth,      m.FontSize, m.HSpace,
                           m.VSpace,        m.TransparencyValue, m.Jumpback};
    for (std::size_t i = 0; i < std::size(sliders); ++i)
        note({}, kSliderRanges[i], sliders[i]);
    return out;
}

std::string outOfRangeNotice(const std::vector<OutOfRange>& values) {
    std::string text = "Some stored values lie outside what their fields accept; the "
                       "preferences show them corrected and OK stores them so:";
    for (const OutOfRange& v : values) {
        text += "\n";
        if (!v.where.empty())
            text += v.where + ": ";
        text += "\"" + v.field + "\" " + std::to_string(v.stored);
        if (v.field == kCheckFrequencyRange.field)
            text += " seconds -> " + std::to_string(v.shown) + " minutes";
        else
            text += " -> " + std::to_string(v.shown);
    }
    return text;
}

} // namespace tarn
