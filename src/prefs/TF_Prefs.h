#pragma once

#include "core/AccountSettings.h"
#include "core/CommandLine.h"
#include "core/PrefsLevel.h"
#include "prefs/PrefsPage.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class QTreeWidgetItem;

namespace Ui {
class TF_Prefs;
}

namespace tarn {

class AccountConfigPage;
class AccountsPage;
class AppearancePage;
class CheckerWindowPage;
class ColorsPage;
class FilterPage;
class FloatingPage;
class GeneralPage;
class LogPage;
class Session;
class ShortcutsPage;
class SizesPage;
class SoundPage;
class TF_CheckerWindow;

// The windows the dialog opens on its own; tests put recorders in their place.
struct PrefsDialogs {
    // The colour dialog (full editor) starting at a colour of the settings; empty on cancel.
    std::function<std::optional<std::uint32_t>(std::uint32_t initial)> chooseColor;
    // A file dialog; the chosen file name, empty on cancel.
    std::function<std::string(const QString& title, const QString& filter)> openFileName;
    // A confirmation (Yes and No); true only for Yes.
    std::function<bool(const QString& text)> confirm;
    // An error message box (OK).
    std::function<void(const QString& text)> error;
    // A warning message box (OK).
    std::function<void(const QString& text)> warning;

    static PrefsDialogs system(QWidget* parent);
};

// What the dialog asks of the mail list window.
struct MailListHooks {
    std::function<void()> show;             // show the mail list window
    std::function<void()> BuildAccountMenu; // its "Accounts" menu from the account names
    // "Purge Maillist". Unset: the dialog forgets the known messages itself.
    std::function<void()> PurgeMaillist;
};

struct PrefsOptions {
    bool addMenu = false; // "-addmenu": make the start-menu shortcuts at creation
    // What the shortcuts start: this program, with "-prefs" and this instance's name.
    std::string programPath;
    std::string PrefsName = kDefaultPrefsName;
    int imapPort = 143; // the mailbox list's server port (tests use a private server)
};

// The preferences dialog: level selector, navigation tree, one page at a time, OK and Cancel.
// Created once at start, hidden, shown by "Preferences..." after FillPrefsDialog.
class TF_Prefs : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 629;
    static constexpr int ClientHeight = 486;

    // Runs FormCreate.
    TF_Prefs(Session& session, TF_CheckerWindow& checker, PrefsOptions options = {},
             QWidget* parent = nullptr);
    ~TF_Prefs() override;

    Session& session() { return m_session; }
    TF_CheckerWindow& checker() { return m_checker; }
    const PrefsOptions& options() const { return m_options; }
    PrefsDialogs& dialogs() { return m_dialogs; }
    void setMailListHooks(MailListHooks hooks) { m_mailList = std::move(hooks); }
    const MailListHooks& mailList() const { return m_mailList; }
    // Set at a first start; the first hiding afterwards goes online and shows the mail list.
    void setFirstStart(bool on) { m_firstStart = on; }
    bool firstStart() const { return m_firstStart; }

    // --- operations ---
    void FillPrefsDialog();
    // "Preferences...": fill, show, bring to the front.
    void openPreferences();
    // The first start: shown, filled, the settings file written once, the first account's
    // node selected and the focus in its name.
    void showAtFirstStart();
    // Writes the whole settings file (atomically); throws TarnError when it cannot.
    void Save();
    void TabControl1Change();
    void PrefsTreeChange();
    void RebuildAccountNodes();
    void SaveButtonClick();
    void Button11Click();
    // The hide handler.
    void Button2Click();
    // Account d was deleted: the accounts behind it keep what they were last confirmed as.
    void accountDeleted(int d);

    // --- state ---
    PrefsLevel level() const;
    void setLevel(PrefsLevel level); // selects the tab, which applies the level
    PrefsPage* currentPage() const { return m_current; }
    int currentAccountIndex() const { return m_currentAccountIndex; }
    void setCurrentAccountIndex(int index) { m_currentAccountIndex = index; }
    const std::vector<PrefsPage*>& pages() const { return m_pages; }
    AccountConfigPage& accountPage() { return *m_accountPage; }
    AccountsPage& accountsPage() { return *m_accountsPage; }
    ShortcutsPage& shortcutsPage() { return *m_shortcutsPage; }
    // The page of a class, null if there is none.
    template <class Page> Page* page() const {
        for (PrefsPage* p : m_pages)
            if (auto* found = qobject_cast<Page*>(p))
                return found;
        return nullptr;
    }

    // --- the tree by absolute index (pre-order over all nodes; "Accounts" is 0) ---
    QTreeWidgetItem* nodeAt(int absoluteIndex) const;
    int absoluteIndexOf(const QTreeWidgetItem* item) const;
    // Selects a node; with navigate, the page follows (PrefsTreeChange), else only the mark.
    void selectNode(int absoluteIndex, bool navigate = true);
    int selectedNode() const;

    // Runs a command as the application's handler would: an error ends it without a word.
    // The last such error's text stays readable for tests.
    void runCommand(const std::function<void()>& command);
    const std::string& lastDiscardedError() const { return m_lastDiscarded; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Node {
        const char* text;
        PrefsPage* page;
        const char* parent; // null for a top node
    };
    void createPages();
    void FormCreate();
    void makeCurrent(PrefsPage* page);
    void applyLevelTo(QWidget* root, PrefsLevel level);
    // Warns once about stored values that the pages show corrected.
    void tellOutOfRange();
    // Shows the page of the first number field out of range, with the reason; true if any.
    bool refuseOutOfRange();

    Session& m_session;
    TF_CheckerWindow& m_checker;
    PrefsOptions m_options;
    PrefsDialogs m_dialogs;
    MailListHooks m_mailList;
    std::unique_ptr<Ui::TF_Prefs> m_ui;
    std::vector<Node> m_nodes; // the fixed nodes in the order of the page table
    std::vector<PrefsPage*> m_pages;
    AccountsPage* m_accountsPage = nullptr;
    AccountConfigPage* m_accountPage = nullptr;
    ShortcutsPage* m_shortcutsPage = nullptr;
    PrefsPage* m_current = nullptr;
    QTreeWidgetItem* m_selected = nullptr; // the node whose page is shown
    int m_currentAccountIndex = -1;
    bool m_firstStart = false;
    bool m_shownOnce = false;
    std::string m_lastDiscarded;
    std::set<std::string> m_toldOutOfRange;
    // The accounts as the last OK (or the start) left them: OK checks those that differ.
    std::vector<AccountSettings> m_confirmedAccounts;
};

} // namespace tarn
