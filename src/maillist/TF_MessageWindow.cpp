#include "maillist/TF_MessageWindow.h"

#include "check/MailListActions.h"
#include "check/Session.h"
#include "checker/UiText.h"
#include "maillist/MessageTextArea.h"
#include "maillist/MessageWindowHost.h"
#include "mime/ConvertMessageText.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTextDocument>

#include <algorithm>

namespace tarn {

TF_MessageWindow::TF_MessageWindow(Session& session, MessageWindowHost& host,
                                   const MailRecord& record, QWidget* parent)
    : QWidget(parent, Qt::Window), m_session(session), m_host(host),
      m_uid(record.UID.value_or(std::string())), m_account(record.Account.value_or(0)) {
    setObjectName(QStringLiteral("TF_MessageWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(uiText(record.Subject.value_or(std::string())) + QStringLiteral(" from ") +
                   uiText(record.Sender.value_or(std::string())));
    const Settings& settings = session.settings();

    m_strip = new QWidget(this);
    m_strip->setObjectName(QStringLiteral("Panel1"));
    // The strip's controls have fixed widths; at the list's small font their captions fit.
    QFont small = m_strip->font();
    small.setPointSize(8);
    m_strip->setFont(small);

    m_convert = new QCheckBox(QStringLiteral("Convert HTML"), m_strip);
    m_convert->setObjectName(QStringLiteral("ConvertHTMLBox"));
    m_convert->setGeometry(16, 2, 100, 17);
    m_wrap = new QCheckBox(QStringLiteral("Wrap Text"), m_strip);
    m_wrap->setObjectName(QStringLiteral("WrapTextBox"));
    m_wrap->setGeometry(16, 19, 100, 17);
    for (QCheckBox* box : {m_convert, m_wrap}) {
        box->setFocusPolicy(Qt::ClickFocus); // not on the Tab chain
        QPalette p = box->palette();
        p.setColor(QPalette::WindowText, p.color(QPalette::ButtonText));
        box->setPalette(p);
    }
    m_convert->setChecked(settings.Main.ConvertHTML);
    m_wrap->setChecked(settings.Main.WrapText);
    // clicked: only the user's own clicks, never the initial state.
    connect(m_convert, &QCheckBox::clicked, this, &TF_MessageWindow::ConvertHTMLClick);
    connect(m_wrap, &QCheckBox::clicked, this, &TF_MessageWindow::WrapTextClick);

    m_close = new QPushButton(QStringLiteral("Close"), m_strip);
    m_close->setObjectName(QStringLiteral("CloseButton"));
    m_hide = new QPushButton(QStringLiteral("Hide Message and Close"), m_strip);
    m_hide->setObjectName(QStringLiteral("HideButton"));
    m_delete = new QPushButton(QStringLiteral("Delete Message and Close"), m_strip);
    m_delete->setObjectName(QStringLiteral("DeleteButton"));
    connect(m_close, &QPushButton::clicked, this, &TF_MessageWindow::CloseButtonClick);
    connect(m_hide, &QPushButton::clicked, this, &TF_MessageWindow::HideButtonClick);
    connect(m_delete, &QPushButton::clicked, this, &TF_MessageWindow::DeleteButtonClick);

    m_text = new MessageTextArea(this);
    m_text->setObjectName(QStringLiteral("Memo1"));
    m_text->setAccessibleName(QStringLiteral("Message"));
    m_text->setBytes(ConvertMessageText(record.Body.value_or(std::string()),
                                        settings.Main.ConvertHTML, settings.Main.WrapText));

    // A window that replaces one (a box ticked) takes its place and size; otherwise the
    // size the user last gave, and at first one that shows 80 columns whole.
    if (s_replacedGeometry) {
        setGeometry(*s_replacedGeometry);
        s_replacedGeometry.reset();
    } else {
        int w = settings.EMailList.MailFormWidth;
        if (w == EMailListSettings().MailFormWidth)
            w = std::max(w, widthFor80Columns());
        resize(w, settings.EMailList.MailFormHeight);
    }
}

int TF_MessageWindow::widthFor80Columns() const {
    const QFontMetrics fm(m_text->font());
    const int text = fm.horizontalAdvance(QString(80, QLatin1Char('m')));
    const int margins = 2 * static_cast<int>(m_text->document()->documentMargin()) +
                        2 * m_text->frameWidth() + m_text->verticalScrollBar()->sizeHint().width() +
                        4;
    return text + margins;
}

void TF_MessageWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    m_text->setGeometry(0, 0, w, std::max(0, h - StripHeight));
    m_strip->setGeometry(0, h - StripHeight, w, StripHeight);
    // The buttons keep their distances from the right edge.
    m_close->setGeometry(w - 82, 7, 65, 25);
    m_hide->setGeometry(w - 245, 7, 155, 25);
    m_delete->setGeometry(w - 410, 7, 155, 25);
    // Every size the user gives a message window is the size of the next one.
    EMailListSettings& list = m_session.settings().EMailList;
    list.MailFormWidth = w;
    list.MailFormHeight = h;
}

void TF_MessageWindow::ConvertHTMLClick(bool checked) {
    m_session.settings().Main.ConvertHTML = checked;
    reopen();
}

void TF_MessageWindow::WrapTextClick(bool checked) {
    m_session.settings().Main.WrapText = checked;
    reopen();
}

void TF_MessageWindow::reopen() {
    // The list may have changed since this window opened: the message is found by its UID
    // (any account) among the rows. Without it the window stays as it is.
    m_host.clearSelection();
    const std::vector<std::string> rows = m_host.rowUids();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i] != m_uid)
            continue;
        m_host.selectRow(static_cast<int>(i));
        if (m_host.showMessageEnabled()) {
            s_replacedGeometry = geometry();
            m_host.A_ShowMessageExecute();
            s_replacedGeometry.reset();
        }
        close();
    }
}

void TF_MessageWindow::CloseButtonClick() {
    close();
}

void TF_MessageWindow::HideButtonClick() {
    for (int account : m_host.actions().hideRows({{m_uid, m_account}}))
        m_host.UpdateFieldCount(account);
    m_host.RebuildList(m_host.ViewAccount());
    m_host.UpdateTrayState();
    close();
}

void TF_MessageWindow::DeleteButtonClick() {
    // Unlike the list's Delete, this never takes a mark back.
    m_host.actions().markForDeletion({{m_uid, m_account}}, DeleteCheckDelayMs);
    m_host.ReportStatus(m_host.ViewAccount(), 1, DeletingText);
    m_host.RebuildList(m_host.ViewAccount());
    close();
}

} // namespace tarn
