#include "core/GlobalOptions.h"

#include "core/CheckFrequency.h"
#include "core/Settings.h"

namespace tarn {

NumberFieldCheck checkRepeatCount(std::string_view text) {
    const std::optional<int> n = parseFieldInteger(text);
    if (!n)
        return {"10", kRepeatCountError};
    if (*n <= -2)
        return {"0", nullptr};
    return {std::string(text), nullptr};
}

NumberFieldCheck checkDownloadLimit(std::string_view text) {
    // An unreadable limit falls back to the one a new working folder starts with.
    if (!parseFieldInteger(text))
        return {std::to_string(MainSettings{}.MaxDownloadSize), kDownloadLimitError};
    return {std::string(text), nullptr};
}

int jumpbackFromPosition(int position) {
    const int seconds = position * 3 - 3;
    return seconds == 0 ? 1 : seconds;
}

int positionFromJumpback(int seconds) {
    return (seconds + 3) / 3;
}

CheckerColors desktopColorReferences() {
    CheckerColors c;
    c.BorderSize = 0;
    c.Back = CheckerColors::systemColor(15);      // button face
    c.Active = CheckerColors::systemColor(20);    // button highlight
    c.Idle = CheckerColors::systemColor(16);      // button shadow
    c.Connected = CheckerColors::systemColor(13); // selection highlight
    c.Error = 255;                                // pure red
    c.Font = CheckerColors::systemColor(18);      // button text
    return c;
}

void setAccountColors(Settings& settings, const CheckerColors& colors) {
    for (AccountSettings& a : settings.Accounts) {
        a.ActiveColor = colors.Active;
        a.IdleColor = colors.Idle;
    }
}

} // namespace tarn
