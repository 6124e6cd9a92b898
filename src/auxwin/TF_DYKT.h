#pragma once

#include "core/DyktTips.h"

#include <QWidget>

#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tarn {

struct MainSettings;

// "Tarnwick Tips": one tip at a time from the tips file, "Next Tip" walks through them, and
// the box below decides whether the window greets the user at start. Created once, last of
// the program's windows; shown and hidden, never freed before the end.
class TF_DYKT : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 235;
    static constexpr int ClientHeight = 216;

    // Shows itself at once when DYKTStartup is on. tipsPath: dykt.ini in the working folder.
    TF_DYKT(MainSettings& settings, const std::string& tipsPath, const std::string& homePage,
            QWidget* parent = nullptr);

    // Told the choice of "Show this window at startup" each time the window closes, so the
    // preferences dialog's "Show tips at startup" box can show it too.
    void setStartupChoiceHandler(std::function<void(bool)> handler) {
        m_startupChoice = std::move(handler);
    }

    int tipNumber() const { return m_tips.tipNumber(); }

    void TFr_DYKT1bNextClick();
    void TFr_DYKT1bCloseClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormShow();
    void FormClose();

    MainSettings& m_settings;
    DyktTips m_tips;
    std::function<void(bool)> m_startupChoice;
    QLabel* m_label = nullptr;
    QPlainTextEdit* m_mDYKT = nullptr;
    QCheckBox* m_cbShowAgain = nullptr;
    QPushButton* m_bNext = nullptr;
    QPushButton* m_bClose = nullptr;
};

} // namespace tarn
