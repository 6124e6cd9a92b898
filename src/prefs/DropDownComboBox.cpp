#include "prefs/DropDownComboBox.h"

#include <QAbstractItemView>

namespace tarn {

void DropDownComboBox::showPopup() {
    if (!m_refreshing)
        emit popupAboutToShow();
    QComboBox::showPopup();
}

void DropDownComboBox::refreshPopup() {
    if (!view() || !view()->isVisible())
        return;
    m_refreshing = true;
    QComboBox::showPopup();
    m_refreshing = false;
}

} // namespace tarn
