#pragma once

#include "store/MailRecord.h"

#include <QRect>
#include <QWidget>

#include <optional>

#include <string>

class QCheckBox;
class QPushButton;

namespace tarn {

class MessageTextArea;
class MessageWindowHost;
class Session;

// One message: its body as ConvertMessageText makes it, the two options that shape it, and
// the buttons that hide it or mark it for deletion and close the window. Not modal; freed when
// closed. The text is computed once, when the window is built.
class TF_MessageWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int StripHeight = 38;
    static constexpr const char* DeletingText = "Deleting mails on next connection";
    static constexpr int DeleteCheckDelayMs = 10000;

    // Built invisible; the caller shows it. record must have a body.
    TF_MessageWindow(Session& session, MessageWindowHost& host, const MailRecord& record,
                     QWidget* parent = nullptr);

    const std::string& uid() const { return m_uid; }
    int account() const { return m_account; }

    // The check boxes: the option follows the box, and the message opens anew with it.
    void ConvertHTMLClick(bool checked);
    void WrapTextClick(bool checked);
    void CloseButtonClick();
    void HideButtonClick();
    void DeleteButtonClick();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The place of the window being replaced, for the one that replaces it.
    static inline std::optional<QRect> s_replacedGeometry;
    int widthFor80Columns() const;

    void reopen();

    Session& m_session;
    MessageWindowHost& m_host;
    std::string m_uid;
    int m_account = 0;
    QWidget* m_strip = nullptr;
    QCheckBox* m_convert = nullptr;
    QCheckBox* m_wrap = nullptr;
    QPushButton* m_close = nullptr;
    QPushButton* m_hide = nullptr;
    QPushButton* m_delete = nullptr;
    MessageTextArea* m_text = nullptr;
};

} // namespace tarn
