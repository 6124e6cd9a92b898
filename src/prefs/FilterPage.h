#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class FilterPage;
}

namespace tarn {

// The "Message Filters" page. Its form carries the caption, introduction and level notices.
class FilterPage : public PrefsPage {
    Q_OBJECT
public:
    explicit FilterPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~FilterPage() override;

private:
    std::unique_ptr<Ui::FilterPage> m_ui;
};

} // namespace tarn
