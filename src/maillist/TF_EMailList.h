#pragma once

#include "check/MailListActions.h"
#include "checker/MailListPresenter.h"
#include "maillist/MailListIcons.h"
#include "store/MailListDB.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QTreeView;
class QItemSelection;

namespace tarn {
class BrowserLauncher;
class CrossThreadQueue;
} // namespace tarn

namespace Ui {
class TF_EMailList;
}

namespace tarn {

class MailListModel;
class Session;
class TF_CheckerWindow;

// The mail list window: the messages of one account or of all, the commands on them, the
// toolbar and the status bar. The rules that change the mail list are MailListActions'; this
// window presents them and forwards the user's commands.
class TF_EMailList : public QMainWindow, public MailListPresenter {
    Q_OBJECT
public:
    static constexpr const char* Title = "Tarnwick";
    static constexpr const char* HelpFileName = "help.html";
    static constexpr const char* NoHelpText = "No help file found";
    static constexpr const char* DeletingText = "Deleting mails on next connection";
    static constexpr const char* FailedPrefix = "Check failed: ";
    static constexpr int PanelWidths[3] = {120, 110, 250};

    // The window is created hidden; it reads its section of tarn.ini (LoadWindowSettings) and
    // builds its "Accounts" menu.
    TF_EMailList(Session& session, TF_CheckerWindow& checker, QWidget* parent = nullptr);
    ~TF_EMailList() override;

    // --- MailListPresenter ---
    void showList(int account) override;
    void popupList(int account) override;
    int viewAccount() const override { return m_view; }
    bool listVisible() const override { return isVisible(); }
    void RebuildList(int account) override;
    void BuildAccountMenu() override;
    void showCheckFailure(int account, const std::string& reason) override;
    void checkSucceeded(int account) override;
    void help() override { A_HelpExecute(); }

    // Any thread: a check worker's status. Applied on this window's thread.
    void ReportStatus(int account, int kind, const std::string& text);
    // This window's thread.
    void applyStatus(int account, int kind, const QString& text);

    void LoadWindowSettings();
    // Writes the window's section of tarn.ini; false when the file could not be written.
    bool SaveWindowSettings();
    void ToolBarUpdate();

    // What the other windows connect, each on its own: the message viewer ("Show Headers",
    // "Show Message", also reached by double click and Enter; they read selectedKeys()), the
    // preferences, the tips and the about box. "Preferences...", "Tips..." and "About..." stay
    // disabled until their window is connected.
    enum class Hook { ShowHeaders, ShowMessage, Preferences, Tips, About };
    void setHook(Hook which, std::function<void()> run);
    // Several at once; the members left empty keep what is connected already.
    struct Hooks {
        std::function<void()> showHeaders;
        std::function<void()> showMessage;
        std::function<void()> preferences;
        std::function<void()> tips;
        std::function<void()> about;
    };
    void setHooks(Hooks hooks);
    // How files are opened in the desktop's viewer (help, log); tests record instead.
    void setViewerLauncher(std::function<bool(const std::string&)> launcher);
    // Opens the message windows of the given rows; a double-click on rows without their body
    // fetches them and opens them through it when the bodies have come.
    void setMessageOpener(std::function<void(const std::vector<MessageKey>&)> open);
    // The browser that shows the help file; tests record instead.
    void setHelpBrowser(std::shared_ptr<BrowserLauncher> browser);
    // Runs after every rebuild of the list (a check ended, a command changed records).
    void setRebuiltHandler(std::function<void()> handler) { m_rebuilt = std::move(handler); }
    // How error boxes are shown; tests record instead of waiting for a click.
    void setErrorBox(std::function<void(const QString&)> box);

    // The (UID, Account) of the selected rows, and of all rows, in list order; rows whose
    // account is unknown are left out.
    std::vector<MessageKey> selectedKeys() const;
    std::vector<MessageKey> allKeys() const;
    MessageKey keyOfRow(int row) const;

    QTreeView* listView() const;
    MailListModel& model() const { return *m_model; }
    MailListActions& actions() { return m_actions; }
    QMenu* accountsMenu() const;
    QMenu* toolbarPopup() const { return m_toolbarPopup; }
    QMenu* rowPopup() const { return m_rowPopup; }
    QString statusPanelText(int panel) const;
    int progress() const;

    // --- commands ---
    void A_CheckNewMailsExecute();
    void A_SelectAllExecute();
    void A_RetrieveBodyExecute();
    void ShowHeader1Click();
    void A_ShowMessageExecute();
    void IconsMenu1Click(int icon);
    void A_HideMessageExecute();
    void A_HideAllMessagesExecute();
    void A_ShowAllHiddenMessagesExecute();
    void DeleteMail1Click();
    void DeleteAllMails1Click();
    void A_UndeleteAllExecute();
    void A_PreferencesExecute();
    void A_ShowLogExecute();
    void A_PurgeMaillistExecute();
    void A_LaunchEmailClientExecute();
    void A_StatusBarExecute();
    void A_ToolBarExecute();
    void Close1Click();
    void A_HelpExecute();
    void ips1Click();
    void A_AboutExecute();

    // --- event handlers ---
    void ListView1ColumnClick(int column);
    void ListView1DblClick();
    void FormActivate();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildToolBar();
    void buildStatusBar();
    void buildIconMenus();
    void connectCommands();
    void ListView1SelectItem(const QItemSelection& selected, const QItemSelection& deselected);
    void selectionRule(int row, int selectedCount, bool wasNoneSelected);
    void setEnterShortcut();
    void refreshAccounts(const std::set<int>& accounts);
    void bringUp(int account, bool activate);
    void setColumnWidth(int tag, int width);
    int columnWidth(int tag) const;
    int accountCount() const;
    std::string accountNameOf(int account) const;

    Session& m_session;
    TF_CheckerWindow& m_checker;
    std::unique_ptr<Ui::TF_EMailList> m_ui;
    MailListModel* m_model = nullptr;
    MailListActions m_actions;
    int m_view = 0;
    int m_selectedCount = 0;
    std::array<std::function<void()>, 5> m_hooks;
    std::function<bool(const std::string&)> m_viewer;
    std::function<void(const QString&)> m_errorBox;
    std::shared_ptr<BrowserLauncher> m_helpBrowser;
    std::function<void(const std::vector<MessageKey>&)> m_openMessages;
    std::vector<MessageKey> m_openWhenFetched; // double-clicked, body on its way
    std::map<int, QString> m_failures;         // account -> reason of its failed check

    QString failureTextOfView() const;
    void showSortIndicator();
    bool m_fittingColumns = false;   // widths being set by the program, not the user
    bool m_userColumnWidths = false; // the user has chosen column widths: they stay
    void fitColumns();

    void restoreSelection(const std::vector<MessageKey>& chosen, const MessageKey& focused);
    void openFetchedMessages();
    std::function<void()> m_rebuilt;
    CrossThreadQueue* m_toMain = nullptr;

    QLabel* m_panels[3] = {nullptr, nullptr, nullptr};
    QProgressBar* m_progress = nullptr;
    QMenu* m_toolbarPopup = nullptr;
    QMenu* m_rowPopup = nullptr;
    // Toolbar items 0..15 (separators at 1, 5, 9 and 13).
    std::array<QAction*, 16> m_items{};
    std::vector<QAction*> m_accountEntries; // [0] "All Accounts", [k] account k
    QAction* m_accountSeparator = nullptr;
};

} // namespace tarn
