#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class FloatingPage;
}

namespace tarn {

// The "Floating" page: jumping between the two positions, floating back after an interval,
// and resetting the window positions.
class FloatingPage : public PrefsPage {
    Q_OBJECT
public:
    explicit FloatingPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~FloatingPage() override;

    void formCreate() override;

    // "Reset Window Positions".
    void Button1Click();
    void CheckBox11Click();
    void TrackBar1Change();

private:
    std::unique_ptr<Ui::FloatingPage> m_ui;
};

} // namespace tarn
