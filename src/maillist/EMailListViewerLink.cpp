#include "maillist/EMailListViewerLink.h"

#include "check/MailListActions.h"
#include "check/Session.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "maillist/MailListModel.h"
#include "maillist/MessageViewer.h"
#include "maillist/TF_EMailList.h"
#include "maillist/TF_HeaderWindow.h"
#include "maillist/TF_MessageWindow.h"
#include "platform/NamedMutex.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QTreeView>

#include <algorithm>

namespace tarn {

EMailListViewerLink::EMailListViewerLink(Session& session, TF_EMailList& list,
                                         TF_CheckerWindow& checker)
    : m_session(session), m_list(list), m_checker(checker) {
    m_list.setRebuiltHandler([this] { openFetchedHeaders(); });
}

EMailListViewerLink::~EMailListViewerLink() {
    m_list.setRebuiltHandler({});
    for (const QPointer<QWidget>& w : m_open)
        delete w.data();
}

void EMailListViewerLink::keep(QWidget* w) {
    std::erase_if(m_open, [](const QPointer<QWidget>& p) { return p.isNull(); });
    m_open.emplace_back(w);
}

void EMailListViewerLink::showHeaders() {
    std::vector<MessageKey> shown;
    std::vector<MessageKey> missing;
    {
        NamedLock lock(m_session.db().mutex());
        for (const MessageKey& key : m_list.selectedKeys()) {
            const std::optional<MailRecord> rec = m_session.db().FindMessage(key.UID, key.Account);
            if (rec && !rec->Header)
                missing.push_back(key);
            else
                shown.push_back(key);
        }
    }
    for (TF_HeaderWindow* w : tarn::ShowHeader1Click(m_session, shown))
        keep(w);
    if (missing.empty())
        return;
    for (const MessageKey& key : actions().retrieveHeaders(missing))
        if (std::find(m_pendingHeaders.begin(), m_pendingHeaders.end(), key) ==
            m_pendingHeaders.end())
            m_pendingHeaders.push_back(key);
    if (!m_pendingHeaders.empty())
        ReportStatus(m_list.viewAccount(), 1, "Fetching message headers...");
}

void EMailListViewerLink::openFetchedHeaders() {
    if (m_pendingHeaders.empty())
        return;
    std::vector<MessageKey> arrived;
    {
        NamedLock lock(m_session.db().mutex());
        std::erase_if(m_pendingHeaders, [&](const MessageKey& key) {
            const std::optional<MailRecord> rec = m_session.db().FindMessage(key.UID, key.Account);
            if (rec && rec->Header) {
                arrived.push_back(key);
                return true;
            }
            // Gone, or a check came and went without bringing them: nothing more to wait for.
            return !rec || !rec->RetrieveMail.value_or(false);
        });
    }
    for (TF_HeaderWindow* w : tarn::ShowHeader1Click(m_session, arrived))
        keep(w);
}

void EMailListViewerLink::A_ShowMessageExecute() {
    m_list.A_ShowMessageExecute();
}

void EMailListViewerLink::showMessages() {
    showMessages(m_list.selectedKeys());
}

void EMailListViewerLink::showMessages(const std::vector<MessageKey>& rows) {
    for (TF_MessageWindow* w : tarn::A_ShowMessageExecute(m_session, *this, rows))
        keep(w);
}

int EMailListViewerLink::ViewAccount() const {
    return m_list.viewAccount();
}

void EMailListViewerLink::RebuildList(int account) {
    m_list.RebuildList(account);
}

void EMailListViewerLink::ReportStatus(int account, int kind, const std::string& text) {
    m_list.applyStatus(account, kind, uiText(text));
}

void EMailListViewerLink::UpdateFieldCount(int account) {
    m_checker.UpdateFieldCount(account);
}

void EMailListViewerLink::UpdateTrayState() {
    m_checker.UpdateTrayState();
}

MailListActions& EMailListViewerLink::actions() {
    return m_list.actions();
}

std::vector<std::string> EMailListViewerLink::rowUids() const {
    const MailListRows& rows = m_list.model().rows();
    std::vector<std::string> out;
    out.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        out.emplace_back(rows.uid(i));
    return out;
}

void EMailListViewerLink::clearSelection() {
    m_list.listView()->selectionModel()->clearSelection();
}

void EMailListViewerLink::selectRow(int row) {
    QTreeView* view = m_list.listView();
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool EMailListViewerLink::showMessageEnabled() const {
    const QAction* a = m_list.findChild<QAction*>(QStringLiteral("A_ShowMessage"));
    return a && a->isEnabled();
}

} // namespace tarn
