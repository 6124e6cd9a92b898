#include "prefs/SoundPage.h"

#include "ui_SoundPage.h"

namespace tarn {

SoundPage::SoundPage(TF_Prefs& prefs, QWidget* parent)
    : PrefsPage(prefs, parent), m_ui(std::make_unique<Ui::SoundPage>()) {
    m_ui->setupUi(this);
}

SoundPage::~SoundPage() = default;

} // namespace tarn
