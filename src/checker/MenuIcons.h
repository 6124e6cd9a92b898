#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tarn {

// The pictures of the tray menu's items (ImageList8): the desktop theme's standard icon where
// one fits, else our own drawing, 16 x 16 and drawn afresh (not scaled) at twice the size.
class MenuIcons {
public:
    static constexpr int Size = 16;

    // The icon for a tray menu item by its name (Preferences1, MailList1, ...); a null icon
    // for an item without a picture.
    static QIcon forItem(const QString& itemName);
    // Our own drawing for the item at the given scale (1: 16 x 16, 2: 32 x 32); a null image
    // for an item without a picture.
    static QImage drawing(const QString& itemName, int scale);
    // The theme icon name preferred for the item (empty when there is none).
    static QString themeName(const QString& itemName);
};

} // namespace tarn
