#pragma once

#include "store/MailRecord.h"

#include <QWidget>

namespace tarn {

class MessageTextArea;
class Session;

// "Message Headers": the stored header lines of one message, unchanged. Freed when closed.
class TF_HeaderWindow : public QWidget {
    Q_OBJECT
public:
    // Built invisible; the caller shows it.
    TF_HeaderWindow(Session& session, const MailRecord& record, QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Session& m_session;
    MessageTextArea* m_text = nullptr;
};

} // namespace tarn
