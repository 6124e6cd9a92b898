#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class SizesPage;
}

namespace tarn {

// The "Checker Window Size" page (tree node "Sizes"). Its form carries the caption, introduction
// and level notices.
class SizesPage : public PrefsPage {
    Q_OBJECT
public:
    explicit SizesPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~SizesPage() override;

private:
    std::unique_ptr<Ui::SizesPage> m_ui;
};

} // namespace tarn
