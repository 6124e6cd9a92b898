#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class CheckerWindowPage;
}

namespace tarn {

// The "Checker Window" page. Its form carries the caption, introduction and level notices.
class CheckerWindowPage : public PrefsPage {
    Q_OBJECT
public:
    explicit CheckerWindowPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~CheckerWindowPage() override;

private:
    std::unique_ptr<Ui::CheckerWindowPage> m_ui;
};

} // namespace tarn
