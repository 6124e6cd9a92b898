#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class CheckerWindowPage;
}

namespace tarn {

// The "Checker Window" page: snapping, staying on top, hiding offline, the round look and
// the transparency with its live preview.
class CheckerWindowPage : public PrefsPage {
    Q_OBJECT
public:
    explicit CheckerWindowPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~CheckerWindowPage() override;

    void formCreate() override;

    void AlphaCheckBoxClick();
    void AlphaSliderChange();
    // Transparency can be changed only where the desktop allows it (ForceTransparency); the
    // slider only while the box is ticked.
    void enableTransparencyControls();

private:
    std::unique_ptr<Ui::CheckerWindowPage> m_ui;
};

} // namespace tarn
