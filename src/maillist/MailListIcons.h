#pragma once

#include <QIcon>

namespace tarn {

// The pictures of the mail list window, drawn for this program at 1x and 2x. Toolbar pictures
// prefer the desktop theme's standard icon where one fits.
class MailListIcons {
public:
    enum class Tool {
        CheckNewMails,
        ShowHeaders,
        RetrieveBody,
        ShowMessage,
        DeleteSelected,
        DeleteAll,
        UndeleteAll,
        HideSelected,
        HideAll,
        ShowAll,
    };

    // Row icon 0..14 (16 x 16); a number outside that range gives icon 0.
    static QIcon rowIcon(int n);
    // A toolbar picture (32 x 32).
    static QIcon toolIcon(Tool tool);
    // Our own picture, without the theme.
    static QIcon ownToolIcon(Tool tool);
};

} // namespace tarn
