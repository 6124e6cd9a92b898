#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class SoundPage;
}

namespace tarn {

// The "Sound Settings" page: when sounds play and which files. Its form carries the caption,
// introduction and level notices.
class SoundPage : public PrefsPage {
    Q_OBJECT
public:
    explicit SoundPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~SoundPage() override;

private:
    std::unique_ptr<Ui::SoundPage> m_ui;
};

} // namespace tarn
