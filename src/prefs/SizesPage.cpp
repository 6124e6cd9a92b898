#include "prefs/SizesPage.h"

#include "checker/TF_CheckerWindow.h"
#include "core/GlobalOptions.h"
#include "core/MainSettings.h"
#include "prefs/TF_Prefs.h"

#include "ui_SizesPage.h"

#include <QSignalBlocker>

namespace tarn {

SizesPage::SizesPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::SizesPage>()) {
    m_ui->setupUi(this);
    m_sliders = {
        {m_ui->TrackBar2, &MainSettings::CheckerHeight},
        {m_ui->TrackBar3, &MainSettings::CheckerWidth},
        {m_ui->TrackBar4, &MainSettings::VSpace},
        {m_ui->TrackBar5, &MainSettings::HSpace},
        {m_ui->TrackBar6, &MainSettings::FontSize},
    };
    for (const Slider& s : m_sliders)
        connect(s.slider, &QSlider::valueChanged, this,
                [this, s] { this->prefs().runCommand([this, s] { TrackBarChange(s); }); });
    connect(m_ui->ResetMetrics, &QPushButton::clicked, this,
            [this] { this->prefs().runCommand([this] { ResetMetricsClick(); }); });
}

SizesPage::~SizesPage() = default;

void SizesPage::fill() {
    PrefsPage::fill();
    showSettings();
}

void SizesPage::showSettings() {
    // Showing a size that lies outside a slider's range must not store the clipped value.
    for (const Slider& s : m_sliders) {
        const QSignalBlocker block(s.slider);
        s.slider->setValue(mainSettings().*s.setting);
    }
}

void SizesPage::TrackBarChange(const Slider& s) {
    mainSettings().*s.setting = s.slider->value();
    checker().EShowTest();
}

void SizesPage::ResetMetricsClick() {
    MainSettings& m = mainSettings();
    m.CheckerHeight = kResetMetrics.CheckerHeight;
    m.CheckerWidth = kResetMetrics.CheckerWidth;
    m.VSpace = kResetMetrics.VSpace;
    m.HSpace = kResetMetrics.HSpace;
    m.FontSize = kResetMetrics.FontSize;
    showSettings();
    checker().EShowTest();
}

} // namespace tarn
