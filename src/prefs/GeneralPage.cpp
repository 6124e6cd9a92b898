#include "prefs/GeneralPage.h"

#include "ui_GeneralPage.h"

#include "core/MainSettings.h"

namespace tarn {

GeneralPage::GeneralPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::GeneralPage>()) {
    m_ui->setupUi(this);
    bindCheckBox(m_ui->DesktopNotify, &MainSettings::DesktopNotify);
}

GeneralPage::~GeneralPage() = default;

} // namespace tarn
