#pragma once

#include <cstddef>
#include <string>

namespace tarn {

// What the tray icon shows after the last check: the hint and the index of the static image
// (ImageList1: 0 no mail, 1 mail waiting, 2 offline).
struct TrayState {
    static constexpr int NoMailImage = 0;
    static constexpr int MailImage = 1;
    static constexpr int OfflineImage = 2;
    // The notification area shows at most this many characters of a hint.
    static constexpr std::size_t MaxHintLength = 63;

    std::string hint;
    int image = NoMailImage;

    bool operator==(const TrayState&) const = default;
};

// The decision of UpdateTrayState for shownCount not-hidden messages of all accounts.
// Offline shows the offline image whatever the count.
TrayState trayStateFor(int shownCount, bool online);

// Cuts a hint to what the tray can show.
std::string limitTrayHint(std::string hint);

} // namespace tarn
