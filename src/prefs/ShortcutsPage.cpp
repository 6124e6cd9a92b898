#include "prefs/ShortcutsPage.h"

#include "ui_ShortcutsPage.h"

namespace tarn {

ShortcutsPage::ShortcutsPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::ShortcutsPage>()) {
    m_ui->setupUi(this);
}

ShortcutsPage::~ShortcutsPage() = default;

} // namespace tarn
