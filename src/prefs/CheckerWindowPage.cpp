#include "prefs/CheckerWindowPage.h"

#include "checker/CheckerPlacement.h"
#include "checker/TF_CheckerWindow.h"
#include "core/MainSettings.h"
#include "prefs/TF_Prefs.h"

#include "ui_CheckerWindowPage.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>

namespace tarn {

CheckerWindowPage::CheckerWindowPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::CheckerWindowPage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->SnapCheckBox, &MainSettings::SnapWindow);
    bindCheckBox(m_ui->CheckBox13, &MainSettings::HideWhenOffline);
    bindCheckBox(m_ui->RoundCheckBox, &MainSettings::Round);
    bindCheckBox(m_ui->CheckBox4, &MainSettings::Hidden);
    bind([this] { m_ui->CheckBox12->setChecked(mainSettings().AlwaysOnTop); },
         [this] {
             const bool on = m_ui->CheckBox12->isChecked();
             mainSettings().AlwaysOnTop = on;
             const auto* item =
                 checker().popupMenu()->findChild<QAction*>(QStringLiteral("AlwaysonTop2"));
             if (!item || item->isChecked() != on)
                 checker().placement().setAlwaysOnTop(on);
         },
         OkStep::AlwaysOnTop);
    bind(
        [this] {
            const QSignalBlocker boxBlock(m_ui->AlphaCheckBox);
            const QSignalBlocker sliderBlock(m_ui->AlphaSlider);
            m_ui->AlphaCheckBox->setChecked(mainSettings().Transparency);
            m_ui->AlphaSlider->setValue(mainSettings().TransparencyValue);
            enableTransparencyControls();
        },
        [this] {
            MainSettings& m = mainSettings();
            if (!m.ForceTransparency)
                return;
            m.Transparency = m_ui->AlphaCheckBox->isChecked();
            m.TransparencyValue = m_ui->AlphaSlider->value();
            if (m.Transparency)
                checker().ApplyOpacity();
        },
        OkStep::Transparency);

    connect(m_ui->AlphaCheckBox, &QCheckBox::toggled, this,
            [this] { this->prefs().runCommand([this] { AlphaCheckBoxClick(); }); });
    connect(m_ui->AlphaSlider, &QSlider::valueChanged, this,
            [this] { this->prefs().runCommand([this] { AlphaSliderChange(); }); });
    // The checker window's "Always on Top" command keeps this box in line.
    connect(&checker().placement(), &CheckerPlacement::alwaysOnTopChanged, m_ui->CheckBox12,
            &QCheckBox::setChecked);
}

CheckerWindowPage::~CheckerWindowPage() = default;

void CheckerWindowPage::formCreate() {
    m_ui->CheckBox12->setChecked(mainSettings().AlwaysOnTop);
    const QSignalBlocker boxBlock(m_ui->AlphaCheckBox);
    const QSignalBlocker sliderBlock(m_ui->AlphaSlider);
    m_ui->AlphaCheckBox->setChecked(mainSettings().Transparency);
    m_ui->AlphaSlider->setValue(mainSettings().TransparencyValue);
    enableTransparencyControls();
}

void CheckerWindowPage::enableTransparencyControls() {
    const bool allowed = mainSettings().ForceTransparency;
    m_ui->AlphaCheckBox->setEnabled(allowed);
    m_ui->AlphaSlider->setEnabled(allowed && m_ui->AlphaCheckBox->isChecked());
    m_ui->AlphaSliderLabel->setEnabled(m_ui->AlphaSlider->isEnabled());
}

void CheckerWindowPage::AlphaCheckBoxClick() {
    const bool on = m_ui->AlphaCheckBox->isChecked();
    enableTransparencyControls();
    // Unticked means opaque; ticked starts from the stored level.
    m_ui->AlphaSlider->setValue(on ? mainSettings().TransparencyValue : 255);
}

void CheckerWindowPage::AlphaSliderChange() {
    if (!mainSettings().ForceTransparency)
        return;
    checker().setWindowOpacity(m_ui->AlphaSlider->value() / 255.0);
}

} // namespace tarn
