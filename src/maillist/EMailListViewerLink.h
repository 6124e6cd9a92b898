#pragma once

#include "maillist/MessageWindowHost.h"
#include "store/MailListDB.h"

#include <QPointer>
#include <QWidget>

#include <vector>

namespace tarn {

class Session;
class TF_CheckerWindow;
class TF_EMailList;

// Connects the mail list window's Show Headers and Show Message to the message and header
// windows, and gives those windows the list and the checker window they work with. Windows
// still open when the link goes (at program end) are freed with it, before the session goes.
class EMailListViewerLink : public MessageWindowHost {
public:
    EMailListViewerLink(Session& session, TF_EMailList& list, TF_CheckerWindow& checker);
    ~EMailListViewerLink() override;
    EMailListViewerLink(const EMailListViewerLink&) = delete;
    EMailListViewerLink& operator=(const EMailListViewerLink&) = delete;

    // What the list's Show Headers and Show Message do: windows for its selected rows. A
    // message whose header lines have not been fetched (IMAP4) has them fetched at a check
    // requested at once; the status bar says so, and its window opens when they are there.
    void showHeaders();
    // The rows waiting for their header lines.
    const std::vector<MessageKey>& pendingHeaders() const { return m_pendingHeaders; }
    void showMessages();
    void showMessages(const std::vector<MessageKey>& rows);

    // The list's own Show Message command, as the message window's option boxes run it.
    void A_ShowMessageExecute() override;

    int ViewAccount() const override;
    void RebuildList(int account) override;
    void ReportStatus(int account, int kind, const std::string& text) override;
    void UpdateFieldCount(int account) override;
    void UpdateTrayState() override;
    MailListActions& actions() override;
    std::vector<std::string> rowUids() const override;
    void clearSelection() override;
    void selectRow(int row) override;
    bool showMessageEnabled() const override;

private:
    void keep(QWidget* w);
    void openFetchedHeaders();

    Session& m_session;
    TF_EMailList& m_list;
    TF_CheckerWindow& m_checker;
    std::vector<QPointer<QWidget>> m_open;
    std::vector<MessageKey> m_pendingHeaders;
};

} // namespace tarn
