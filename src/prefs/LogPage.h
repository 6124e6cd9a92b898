#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class LogPage;
}

namespace tarn {

// The "Log File" page. Its form carries the caption, introduction and level notices.
class LogPage : public PrefsPage {
    Q_OBJECT
public:
    explicit LogPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~LogPage() override;

private:
    std::unique_ptr<Ui::LogPage> m_ui;
};

} // namespace tarn
