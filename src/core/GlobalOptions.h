#pragma once

#include "core/CheckerColors.h"

#include <string>
#include <string_view>

namespace tarn {

struct Settings;

// The rules behind the preferences pages of the global options, kept apart from the widgets.

inline constexpr const char* kRepeatCountError =
    "Error: That is not a valid number! Resetting the value to 10...";
inline constexpr const char* kDownloadLimitError =
    "Error: That is not a number! Resetting the value to 50...";

// What a number field holds after its focus left it, and the error that ends the command
// (null when none).
struct NumberFieldCheck {
    std::string text;
    const char* error = nullptr;
};

// The repeat count of the mail-count sound: no integer becomes "10" with an error; -2 or less
// becomes "0" without a word; anything else, -1 included, stays as typed.
NumberFieldCheck checkRepeatCount(std::string_view text);
// The download limit in kB: no integer becomes "50" with an error.
NumberFieldCheck checkDownloadLimit(std::string_view text);

// The float-back slider: positions 1 to 21 stand for 1, 3, 6, ..., 60 seconds.
int jumpbackFromPosition(int position);
int positionFromJumpback(int seconds);

// What "Reset Window Size" sets; not the reader's defaults.
struct ResetSizes {
    int CheckerHeight, CheckerWidth, VSpace, HSpace, FontSize;
};
inline constexpr ResetSizes kResetMetrics{18, 20, 8, 4, 8};

// "Import Desktop Colors": references to the desktop scheme's colours (pure red for errors).
CheckerColors desktopColorReferences();

// Gives every account the active and idle colour of a colour set.
void setAccountColors(Settings& settings, const CheckerColors& colors);

} // namespace tarn
