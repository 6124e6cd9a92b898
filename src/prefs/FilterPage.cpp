#include "prefs/FilterPage.h"

#include "ui_FilterPage.h"

namespace tarn {

FilterPage::FilterPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::FilterPage>()) {
    m_ui->setupUi(this);
}

FilterPage::~FilterPage() = default;

} // namespace tarn
