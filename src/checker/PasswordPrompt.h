#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarn {

// The small modal dialog a check shows for an account that does not save its password:
// the prompt text, a password edit echoing "*", OK and Cancel, centred on the screen.
class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* Caption = "Enter Password";

    explicit PasswordPrompt(const QString& prompt, QWidget* parent = nullptr);

    QLabel* promptLabel() const { return m_label; }
    QLineEdit* passwordEdit() const { return m_edit; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

    // Shows the dialog and waits: OK gives the typed text, Cancel or closing gives nothing.
    static std::optional<std::string> ask(const std::string& prompt);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* m_label;
    QLineEdit* m_edit;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

} // namespace tarn
