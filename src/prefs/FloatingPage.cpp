#include "prefs/FloatingPage.h"

#include "ui_FloatingPage.h"

namespace tarn {

FloatingPage::FloatingPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::FloatingPage>()) {
    m_ui->setupUi(this);
}

FloatingPage::~FloatingPage() = default;

} // namespace tarn
