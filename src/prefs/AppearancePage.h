#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class AppearancePage;
}

namespace tarn {

// The "Visual Appearance" page: blinking fields and the animated tray icon.
class AppearancePage : public PrefsPage {
    Q_OBJECT
public:
    explicit AppearancePage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~AppearancePage() override;

private:
    std::unique_ptr<Ui::AppearancePage> m_ui;
};

} // namespace tarn
