#include "prefs/ColorsPage.h"

#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "core/GlobalOptions.h"
#include "core/Settings.h"
#include "prefs/AccountConfigPage.h"
#include "prefs/CheckerWindowPage.h"
#include "prefs/TF_Prefs.h"

#include "ui_ColorsPage.h"

namespace tarn {

ColorsPage::ColorsPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::ColorsPage>()) {
    m_ui->setupUi(this);
    m_swatches = {m_ui->CBack, m_ui->CActive, m_ui->CIdle, m_ui->CBlink, m_ui->CFont, m_ui->CError};
    m_labels = {m_ui->CBackLabel,  m_ui->CActiveLabel, m_ui->CIdleLabel,
                m_ui->CBlinkLabel, m_ui->CFontLabel,   m_ui->CErrorLabel};
    for (int i = 0; i < SwatchCount; ++i) {
        const auto s = static_cast<Swatch>(i);
        connect(m_swatches[i], &QPushButton::clicked, this,
                [this, s] { this->prefs().runCommand([this, s] { swatchClick(s); }); });
    }
    connect(m_ui->ResetColorsButton, &QPushButton::clicked, this,
            [this] { this->prefs().runCommand([this] { ResetColorsButtonClick(); }); });
    connect(m_ui->ImportWinColors, &QPushButton::clicked, this,
            [this] { this->prefs().runCommand([this] { ImportWinColorsClick(); }); });
    connect(m_ui->CheckBox8, &QCheckBox::toggled, this,
            [this] { this->prefs().runCommand([this] { ColorPickerEnabled(); }); });

    // The desktop-colours box chooses the set at OK: the gray one, or the custom set as the
    // colour commands have written it.
    bind([this] { m_ui->CheckBox8->setChecked(!mainSettings().BlueSetInUse); },
         [this] {
             if (m_ui->CheckBox8->isChecked())
                 checker().GrayColorSet();
             else
                 checker().BlueColorSet();
         },
         OkStep::ColorSet);
    showColorSet();
}

ColorsPage::~ColorsPage() = default;

void ColorsPage::fill() {
    PrefsPage::fill();
    showColorSet();
    ColorPickerEnabled();
}

std::uint32_t ColorsPage::swatchColor(Swatch swatch) const {
    return m_colors[swatch];
}

void ColorsPage::setSwatch(Swatch swatch, std::uint32_t color) {
    m_colors[swatch] = color;
    m_swatches[swatch]->setStyleSheet(
        QStringLiteral("background-color: %1; border: 1px solid gray;")
            .arg(CheckerField::toQColor(color).name()));
}

void ColorsPage::showColorSet() {
    const CheckerColors& c = mainSettings().Colors;
    setSwatch(CBack, c.Back);
    setSwatch(CActive, c.Active);
    setSwatch(CIdle, c.Idle);
    setSwatch(CBlink, c.Connected);
    setSwatch(CFont, c.Font);
    setSwatch(CError, c.Error);
}

void ColorsPage::UpdateCustomColors() {
    CheckerColors& c = mainSettings().Colors;
    c.Back = m_colors[CBack];
    c.Idle = m_colors[CIdle];
    c.Active = m_colors[CActive];
    c.Connected = m_colors[CBlink];
    c.Font = m_colors[CFont];
    c.Error = m_colors[CError];
    c.BorderSize = 0;
}

void ColorsPage::WriteBlueColorSet() {
    session().settingsStore().saveColorSet(mainSettings().Colors);
}

void ColorsPage::accountColorsChanged() {
    prefs().accountPage().ComboBox6_update_sheet();
}

void ColorsPage::swatchClick(Swatch swatch) {
    m_ui->CheckBox8->setChecked(false);
    if (const std::optional<std::uint32_t> chosen = prefs().dialogs().chooseColor(m_colors[swatch]))
        setSwatch(swatch, *chosen);
    UpdateCustomColors();
    checker().SetColorSet();
    WriteBlueColorSet();
}

void ColorsPage::ResetColorsButtonClick() {
    mainSettings().Colors = CheckerColors::blueDefaults();
    setAccountColors(settings(), mainSettings().Colors);
    accountColorsChanged();
    checker().SetColorSet();
    CButtonsUpdate();
    WriteBlueColorSet();
}

void ColorsPage::ImportWinColorsClick() {
    const CheckerColors d = desktopColorReferences();
    setSwatch(CBack, d.Back);
    setSwatch(CActive, d.Active);
    setSwatch(CIdle, d.Idle);
    setSwatch(CBlink, d.Connected);
    setSwatch(CError, d.Error);
    setSwatch(CFont, d.Font);
    UpdateCustomColors();
    setAccountColors(settings(), mainSettings().Colors);
    accountColorsChanged();
    checker().SetColorSet();
    WriteBlueColorSet();
}

void ColorsPage::CButtonsUpdate() {
    showColorSet();
    prefs().page<CheckerWindowPage>()->enableTransparencyControls();
    ColorPickerEnabled();
}

void ColorsPage::ColorPickerEnabled() {
    const bool on = !m_ui->CheckBox8->isChecked();
    m_ui->ResetColorsButton->setEnabled(on);
    for (int i = 0; i < SwatchCount; ++i) {
        m_swatches[i]->setEnabled(on);
        m_labels[i]->setEnabled(on);
    }
}

} // namespace tarn
