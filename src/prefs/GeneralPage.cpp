#include "prefs/GeneralPage.h"

#include "ui_GeneralPage.h"

namespace tarn {

GeneralPage::GeneralPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::GeneralPage>()) {
    m_ui->setupUi(this);
}

GeneralPage::~GeneralPage() = default;

} // namespace tarn
