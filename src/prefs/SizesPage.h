#pragma once

#include "prefs/PrefsPage.h"

#include <memory>
#include <vector>

class QSlider;

namespace Ui {
class SizesPage;
}

namespace tarn {

// The "Checker Window Size" page: five sliders that resize the checker window as they move.
class SizesPage : public PrefsPage {
    Q_OBJECT
public:
    explicit SizesPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~SizesPage() override;

    void fill() override;
    // "Reset Window Size".
    void ResetMetricsClick();

private:
    struct Slider {
        QSlider* slider;
        int MainSettings::*setting;
    };
    // TrackBar2Change to TrackBar6Change.
    void TrackBarChange(const Slider& s);
    void showSettings();

    std::unique_ptr<Ui::SizesPage> m_ui;
    std::vector<Slider> m_sliders;
};

} // namespace tarn
