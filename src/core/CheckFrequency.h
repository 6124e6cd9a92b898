#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarn {

// How the account page shows an account's check interval (Timer, in milliseconds): whole
// minutes from one minute up, else whole seconds. The unit is never shown (the label always
// says "Minutes"); it only lets a stored value below a minute come back unchanged.
enum class FrequencyUnit { Seconds = 0, Minutes = 1 };

struct FrequencyShown {
    long long number = 0;
    FrequencyUnit unit = FrequencyUnit::Minutes;
};

FrequencyShown frequencyShown(int timerMs);

// A decimal integer as the page's number fields take it: optional sign, digits, blanks
// around allowed, within the range of int. Anything else is not a number.
std::optional<int> parseFieldInteger(std::string_view text);

// The Timer a frequency field and its unit stand for; empty when the text is not a number,
// is negative, or the milliseconds would not fit the setting.
std::optional<int> timerFromField(std::string_view text, FrequencyUnit unit);

} // namespace tarn
