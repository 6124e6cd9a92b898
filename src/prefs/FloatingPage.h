#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class FloatingPage;
}

namespace tarn {

// The "Floating" page. Its form carries the caption, introduction and level notices.
class FloatingPage : public PrefsPage {
    Q_OBJECT
public:
    explicit FloatingPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~FloatingPage() override;

private:
    std::unique_ptr<Ui::FloatingPage> m_ui;
};

} // namespace tarn
