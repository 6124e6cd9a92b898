#include "prefs/SizesPage.h"

#include "ui_SizesPage.h"

namespace tarn {

SizesPage::SizesPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::SizesPage>()) {
    m_ui->setupUi(this);
}

SizesPage::~SizesPage() = default;

} // namespace tarn
