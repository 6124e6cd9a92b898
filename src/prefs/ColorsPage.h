#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class ColorsPage;
}

namespace tarn {

// The "Colors" page (tree node "Default Colors"). Its form carries the caption, introduction and
// level notices.
class ColorsPage : public PrefsPage {
    Q_OBJECT
public:
    explicit ColorsPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~ColorsPage() override;

private:
    std::unique_ptr<Ui::ColorsPage> m_ui;
};

} // namespace tarn
