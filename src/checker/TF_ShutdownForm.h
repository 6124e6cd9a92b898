#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace tarn {

// The countdown window shown before a forced power-off. It frees itself when closed.
class TF_ShutdownForm : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* CaptionText = "Shutting down Windows";
    static constexpr const char* LabelText = "Shutting down your Windows System in 20 seconds";
    static constexpr const char* AbortText = "Abort";

    explicit TF_ShutdownForm(QWidget* parent = nullptr);

    QLabel* label() const { return m_label; }
    QPushButton* abortButton() const { return m_abort; }

signals:
    void abortClicked(TF_ShutdownForm* form);
    // Closed by its close box, the system or Escape.
    void closed(TF_ShutdownForm* form);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QLabel* m_label = nullptr;
    QPushButton* m_abort = nullptr;
};

} // namespace tarn
