#include "prefs/AppearancePage.h"

#include "checker/CheckerTray.h"
#include "checker/TF_CheckerWindow.h"
#include "core/MainSettings.h"

#include "ui_AppearancePage.h"

namespace tarn {

AppearancePage::AppearancePage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::AppearancePage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->CheckBox10, &MainSettings::Blinking);
    bind([this] { m_ui->CheckBox6->setChecked(mainSettings().AnimIcons); },
         [this] {
             mainSettings().AnimIcons = m_ui->CheckBox6->isChecked();
             // Without the animation the icon goes back to the plain one at once.
             if (!mainSettings().AnimIcons)
                 checker().tray().setStaticImage(0);
         },
         OkStep::TrayAnimation);
}

AppearancePage::~AppearancePage() = default;

} // namespace tarn
