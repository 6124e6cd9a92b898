#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class ShortcutsPage;
}

namespace tarn {

// The "Shortcuts" page. Its form carries the caption, introduction and level notices.
class ShortcutsPage : public PrefsPage {
    Q_OBJECT
public:
    explicit ShortcutsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~ShortcutsPage() override;

private:
    std::unique_ptr<Ui::ShortcutsPage> m_ui;
};

} // namespace tarn
