#include "maillist/TF_HeaderWindow.h"

#include "check/Session.h"
#include "maillist/MessageTextArea.h"

#include <QKeyEvent>
#include <QResizeEvent>

namespace tarn {

TF_HeaderWindow::TF_HeaderWindow(Session& session, const MailRecord& record, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session) {
    setObjectName(QStringLiteral("TF_HeaderWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Message Headers"));
    m_text = new MessageTextArea(this);
    m_text->setObjectName(QStringLiteral("Memo1"));
    m_text->setAccessibleName(QStringLiteral("Message headers"));
    m_text->setBytes(record.Header.value_or(std::string()));
    const EMailListSettings& list = session.settings().EMailList;
    resize(list.MailFormWidth, list.MailFormHeight);
}

void TF_HeaderWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_text->setGeometry(rect());
    EMailListSettings& list = m_session.settings().EMailList;
    list.MailFormWidth = width();
    list.MailFormHeight = height();
}

void TF_HeaderWindow::keyPressEvent(QKeyEvent* event) {
    // Escape closes it, as it closes the program's dialogs.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace tarn
