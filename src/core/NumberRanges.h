#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

struct Settings;

// The range a number setting accepts, and the words the preferences use for it.
struct NumberRange {
    const char* field; // the field's label, as the user reads it
    int min;
    int max;
    const char* unit; // after the number, may be empty
};

// The number fields of the preferences. The check frequency is in minutes: a check every few
// seconds would hammer the server, and a negative download limit made every message too big.
inline constexpr NumberRange kCheckFrequencyRange{"Automatically check for new mails every", 1,
                                                  1440, "minutes"};
inline constexpr NumberRange kDownloadLimitRange{"Do not retrieve messages that are bigger than", 1,
                                                 1048576, "kB"};
inline constexpr NumberRange kRepeatCountRange{"Maximum repeats of MailCount soundfile", 0, 100,
                                               ""};

// The text a field's number must be: an integer (as parseFieldInteger reads it) within the
// range; nullopt otherwise.
std::optional<int> numberInRange(std::string_view text, const NumberRange& range);

// What OK says about a field that does not hold a number of its range.
std::string rangeMessage(const NumberRange& range);

int clampToRange(long long value, const NumberRange& range);

// The minutes the frequency field shows for a stored Timer (milliseconds), within the range.
int frequencyMinutesShown(int timerMs);

// One stored value outside the range its control accepts, as the preferences show it.
struct OutOfRange {
    std::string where; // the account's name, or empty for a global option
    std::string field;
    long long stored;
    int shown;
};

// The stored values an older or hand-edited file may hold beyond their controls' ranges:
// the number fields above, the sliders of the sizes, transparency and float-back pages.
std::vector<OutOfRange> storedOutOfRange(const Settings& settings);

// One line per value, for the notice that tells the user what the dialog shows instead.
std::string outOfRangeNotice(const std::vector<OutOfRange>& values);

} // namespace tarn
