#pragma once

#include <QComboBox>

namespace tarn {

// A drop-down that says when its list is about to open, so its items can be fetched then.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override;
    // Opens the list again without announcing it (after new items arrived).
    void refreshPopup();

signals:
    void popupAboutToShow();

private:
    bool m_refreshing = false;
};

} // namespace tarn
