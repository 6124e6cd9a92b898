#include "core/TrayState.h"

#include "core/NewMailNoticeText.h"

namespace tarn {

TrayState trayStateFor(int shownCount, bool online) {
    TrayState s;
    s.hint = limitTrayHint("You have " + newMailCountText(shownCount));
    if (!online)
        s.image = TrayState::OfflineImage;
    else if (shownCount > 0)
        s.image = TrayState::MailImage;
    else
        s.image = TrayState::NoMailImage;
    return s;
}

std::string limitTrayHint(std::string hint) {
    if (hint.size() <= TrayState::MaxHintLength)
        return hint;
    std::size_t n = TrayState::MaxHintLength;
    // Do not leave half of a UTF-8 sequence at the end.
    while (n > 0 && (static_cast<unsigned char>(hint[n]) & 0xC0) == 0x80)
        --n;
    hint.resize(n);
    return hint;
}

} // namespace tarn
