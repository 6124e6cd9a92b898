#include "prefs/AppearancePage.h"

#include "ui_AppearancePage.h"

namespace tarn {

AppearancePage::AppearancePage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::AppearancePage>()) {
    m_ui->setupUi(this);
}

AppearancePage::~AppearancePage() = default;

} // namespace tarn
