#include "prefs/ColorsPage.h"

#include "ui_ColorsPage.h"

namespace tarn {

ColorsPage::ColorsPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::ColorsPage>()) {
    m_ui->setupUi(this);
}

ColorsPage::~ColorsPage() = default;

} // namespace tarn
