#include "prefs/CheckerWindowPage.h"

#include "ui_CheckerWindowPage.h"

namespace tarn {

CheckerWindowPage::CheckerWindowPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::CheckerWindowPage>()) {
    m_ui->setupUi(this);
}

CheckerWindowPage::~CheckerWindowPage() = default;

} // namespace tarn
