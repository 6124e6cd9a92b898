#pragma once

#include "check/DeletionLog.h"
#include "prefs/PrefsPage.h"

#include <memory>

namespace Ui {
class LogPage;
}

namespace tarn {

// The "Log File" page: whether deletions are logged, and the log shown in the desktop's viewer.
class LogPage : public PrefsPage {
    Q_OBJECT
public:
    explicit LogPage(TF_Prefs& prefs, QWidget* parent = nullptr);
    ~LogPage() override;

    // "Display log file".
    void ShowLogClick();
    // What opens the log (tests record it); the desktop's viewer unless set.
    void setViewer(ViewerLauncher viewer) { m_viewer = std::move(viewer); }

private:
    std::unique_ptr<Ui::LogPage> m_ui;
    ViewerLauncher m_viewer = launchDesktopViewer;
};

} // namespace tarn
