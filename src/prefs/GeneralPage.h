#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class GeneralPage;
}

namespace tarn {

// The "General Preferences" page (tree node "General Prefs"). Its form carries the caption,
// introduction and level notices.
class GeneralPage : public PrefsPage {
    Q_OBJECT
public:
    explicit GeneralPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~GeneralPage() override;

private:
    std::unique_ptr<Ui::GeneralPage> m_ui;
};

} // namespace tarn
