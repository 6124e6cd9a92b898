#include "prefs/LogPage.h"

#include "ui_LogPage.h"

namespace tarn {

LogPage::LogPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::LogPage>()) {
    m_ui->setupUi(this);
}

LogPage::~LogPage() = default;

} // namespace tarn
