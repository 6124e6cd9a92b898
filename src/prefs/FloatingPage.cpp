#include "prefs/FloatingPage.h"

#include "checker/CheckerPlacement.h"
#include "checker/TF_CheckerWindow.h"
#include "core/GlobalOptions.h"
#include "core/MainSettings.h"
#include "prefs/TF_Prefs.h"

#include "ui_FloatingPage.h"

#include <QAction>
#include <QMenu>
#include <QSignalBlocker>

namespace tarn {

FloatingPage::FloatingPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::FloatingPage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->CheckBox7, &MainSettings::AutoFloat);
    bind(
        [this] {
            const int seconds = mainSettings().Jumpback;
            {
                // Showing the stored interval does not round it to a slider step.
                const QSignalBlocker block(m_ui->TrackBar1);
                m_ui->TrackBar1->setValue(positionFromJumpback(seconds));
            }
            m_ui->Label17->setText(QString::number(seconds) + QStringLiteral(" seconds"));
        },
        nullptr);
    bind([this] { m_ui->CheckBox11->setChecked(mainSettings().Floating); },
         [this] {
             const bool on = m_ui->CheckBox11->isChecked();
             mainSettings().Floating = on;
             // The menu's check mark follows the stored value.
             if (auto* item =
                     checker().popupMenu()->findChild<QAction*>(QStringLiteral("Floating2"));
                 item && item->isChecked() != on)
                 item->setChecked(on);
         },
         OkStep::Floating);

    connect(m_ui->CheckBox11, &QCheckBox::toggled, this,
            [this] { this->prefs().runCommand([this] { CheckBox11Click(); }); });
    connect(m_ui->TrackBar1, &QSlider::valueChanged, this,
            [this] { this->prefs().runCommand([this] { TrackBar1Change(); }); });
    connect(m_ui->Button1, &QPushButton::clicked, this,
            [this] { this->prefs().runCommand([this] { Button1Click(); }); });
    // The checker window's "Floating" command keeps the box in line.
    connect(&checker().placement(), &CheckerPlacement::floatingChanged, m_ui->CheckBox11,
            &QCheckBox::setChecked);
    CheckBox11Click();
}

FloatingPage::~FloatingPage() = default;

void FloatingPage::formCreate() {
    m_ui->CheckBox11->setChecked(mainSettings().Floating);
    CheckBox11Click();
}

void FloatingPage::CheckBox11Click() {
    const bool on = m_ui->CheckBox11->isChecked();
    m_ui->CheckBox7->setEnabled(on);
    m_ui->TrackBar1->setEnabled(on);
    m_ui->Label17->setEnabled(on);
}

void FloatingPage::TrackBar1Change() {
    const int seconds = jumpbackFromPosition(m_ui->TrackBar1->value());
    mainSettings().Jumpback = seconds;
    m_ui->Label17->setText(QString::number(seconds) + QStringLiteral(" seconds."));
}

void FloatingPage::Button1Click() {
    checker().placement().ResetWindowPositions1Click();
}

} // namespace tarn
