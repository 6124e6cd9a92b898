#pragma once

#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class GeneralPage;
}

namespace tarn {

// The "General Preferences" page: start-up, mail list and download options.
class GeneralPage : public PrefsPage {
    Q_OBJECT
public:
    explicit GeneralPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~GeneralPage() override;

    // The download limit's check when the focus leaves it.
    void MaxDlEditExit();
    // The tips window's "Show this window at startup" as it was closed.
    void setTipsAtStartup(bool on);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::GeneralPage> m_ui;
};

} // namespace tarn
