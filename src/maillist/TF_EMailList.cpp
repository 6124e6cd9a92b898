#include "maillist/TF_EMailList.h"

#include "ui_TF_EMailList.h"

#include "check/DeletionLog.h"
#include "check/Session.h"
#include "checker/CheckerTray.h"
#include "checker/CrossThreadQueue.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "core/EMailListSettings.h"
#include "core/Settings.h"
#include "maillist/MailListModel.h"
#include "maillist/MailListRules.h"
#include "platform/BrowserLauncher.h"
#include "store/MailListRows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>

#include <algorithm>
#include <filesystem>

namespace tarn {

using maillist::ColumnTag;

namespace {

// Design widths of the columns (Subject, Sender, Size, Account, Action, Date).
constexpr std::array<int, 6> kDesignWidths = {215, 130, 40, 60, 45, 110};

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

TF_EMailList::TF_EMailList(Session& session, TF_CheckerWindow& checker, QWidget* parent)
    : QMainWindow(parent), m_session(session), m_checker(checker),
      m_ui(std::make_unique<Ui::TF_EMailList>()),
      m_actions(session, [&checker](int account, int ms) {
          checker.scheduler().scheduleCheck(account, ms);
      }) {
    m_ui->setupUi(this);
    setAttribute(Qt::WA_QuitOnClose, false);
    m_viewer = launchDesktopViewer;
    m_toMain = new CrossThreadQueue(this);
    m_errorBox = [this](const QString& text) {
        QMessageBox::critical(this, QString::fromLatin1(Title), text);
    };

    m_model = new MailListModel(this);
    QTreeView* list = m_ui->ListView1;
    list->setModel(m_model);
    list->header()->setSectionsMovable(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsClickable(true);
    list->setColumnHidden(MailListModel::columnOf(ColumnTag::TagUID), true);
    // The columns fit their texts and share the room left (fitColumns); the sorted one
    // shows its direction.
    list->header()->setSortIndicatorShown(true);
    connect(list->header(), &QHeaderView::sectionResized, this, [this] {
        if (!m_fittingColumns)
            m_userColumnWidths = true;
    });
    // The list's small font: the designed column widths hold their texts.
    QFont small = list->font();
    small.setPointSize(8);
    list->setFont(small);
    // The list's background is the desktop's button face, as the window's panels are.
    QPalette pal = list->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    list->setPalette(pal);
    list->installEventFilter(this);

    buildIconMenus();
    buildToolBar();
    buildStatusBar();
    connectCommands();

    for (QAction* a : {m_ui->ShowHeader1, m_ui->A_ShowMessage, m_ui->DeleteMail1,
                       m_ui->A_HideMessage, m_ui->A_RetrieveBody})
        a->setEnabled(false);
    for (QAction* a : {m_ui->A_Preferences, m_ui->ips1, m_ui->A_About})
        a->setEnabled(false);
    m_items[4]->setVisible(false);
    setEnterShortcut();

    connect(&checker.checkHost(), &QtCheckHost::statusReported, this, &TF_EMailList::applyStatus);

    LoadWindowSettings();
    BuildAccountMenu();
    applyStatus(0, 2, QString::fromStdString(maillist::viewPanelText(0, std::string())));
    setWindowTitle(qs(maillist::viewCaption(0, std::string())));
}

TF_EMailList::~TF_EMailList() = default;

QTreeView* TF_EMailList::listView() const {
    return m_ui->ListView1;
}

QMenu* TF_EMailList::accountsMenu() const {
    return m_ui->Accounts1;
}

int TF_EMailList::accountCount() const {
    return m_session.settings().accountCount();
}

std::string TF_EMailList::accountNameOf(int account) const {
    const Settings& s = m_session.settings();
    return account >= 1 && account <= s.accountCount() ? s.account(account).Name : std::string();
}

void TF_EMailList::buildIconMenus() {
    m_rowPopup = new QMenu(this);
    m_rowPopup->setObjectName(QStringLiteral("PopupMenu1"));
    QMenu* popupIcons = m_rowPopup->addMenu(QStringLiteral("Assign Icon"));
    popupIcons->setObjectName(QStringLiteral("PopupAssignIcon1"));
    for (int n = 0; n < maillist::IconCount; ++n) {
        // The same fifteen entries in both menus, each with its picture and no text.
        QAction* entry = new QAction(MailListIcons::rowIcon(n), QString(), this);
        entry->setObjectName(QStringLiteral("IconsMenu%1").arg(n));
        entry->setIconVisibleInMenu(true);
        entry->setToolTip(QStringLiteral("Icon %1").arg(n));
        connect(entry, &QAction::triggered, this, [this, n] { IconsMenu1Click(n); });
        m_ui->AssignIcon1->addAction(entry);
        popupIcons->addAction(entry);
    }
    m_rowPopup->addSeparator();
    m_rowPopup->addAction(m_ui->A_RetrieveBody);
    m_rowPopup->addAction(m_ui->A_ShowMessage);
    m_rowPopup->addAction(m_ui->ShowHeader1);
    m_rowPopup->addSeparator();
    m_rowPopup->addAction(m_ui->A_HideMessage);
    m_rowPopup->addAction(m_ui->DeleteMail1);
}

void TF_EMailList::buildToolBar() {
    QToolBar* bar = m_ui->ActionToolBar2;
    using T = MailListIcons::Tool;
    // Buttons are actions of their own, so hiding a button never hides its menu entry; each
    // runs its command and follows its enabled state.
    auto button = [this, bar](int item, QAction* command, const char* name, const char* caption,
                              const char* hint, std::optional<T> picture) {
        QAction* b = new QAction(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        if (picture)
            b->setIcon(MailListIcons::toolIcon(*picture));
        b->setToolTip(QString::fromLatin1(hint ? hint : caption));
        b->setEnabled(command->isEnabled());
        connect(b, &QAction::triggered, command, &QAction::trigger);
        connect(command, &QAction::changed, b,
                [b, command] { b->setEnabled(command->isEnabled()); });
        bar->addAction(b);
        if (!picture) {
            if (auto* tb = qobject_cast<QToolButton*>(bar->widgetForAction(b)))
                tb->setToolButtonStyle(Qt::ToolButtonTextOnly);
        }
        m_items[static_cast<std::size_t>(item)] = b;
    };
    auto separator = [this, bar](int item) {
        QAction* s = bar->addSeparator();
        s->setObjectName(QStringLiteral("ToolSeparator%1").arg(item));
        m_items[static_cast<std::size_t>(item)] = s;
    };
    button(0, m_ui->A_CheckNewMails, "ToolButtonCheckNewMails", "Check New Mails",
           "Check New Mails", T::CheckNewMails);
    separator(1);
    button(2, m_ui->ShowHeader1, "ToolButtonShowHeaders", "Show Headers", "Show Headers",
           T::ShowHeaders);
    button(3, m_ui->A_RetrieveBody, "ToolButtonRetrieveBody", "Retrieve Body", "Retrieve Body",
           T::RetrieveBody);
    button(4, m_ui->A_ShowMessage, "ToolButtonShowMessage", "Show Message", "Show Message",
           T::ShowMessage);
    separator(5);
    button(6, m_ui->DeleteMail1, "ToolButtonDeleteSelected", "Delete Selected",
           "Delete Selected Message", T::DeleteSelected);
    button(7, m_ui->DeleteAllMails1, "ToolButtonDeleteAll", "Delete All", "Delete All Messages",
           T::DeleteAll);
    button(8, m_ui->A_UndeleteAll, "ToolButtonUndeleteAll", "Undelete All", "Undelete All Messages",
           T::UndeleteAll);
    separator(9);
    button(10, m_ui->A_HideMessage, "ToolButtonHideSelected", "Hide Selected",
           "Hide Selected Message", T::HideSelected);
    button(11, m_ui->A_HideAllMessages, "ToolButtonHideAll", "Hide All", "Hide All Messages",
           T::HideAll);
    button(12, m_ui->A_ShowAllHiddenMessages, "ToolButtonShowAll", "Show All",
           "Show All Hidden Messages", T::ShowAll);
    separator(13);
    button(14, m_ui->A_LaunchEmailClient, "ToolButtonLaunchEmailClient", "Launch Email Client",
           nullptr, std::nullopt);
    button(15, m_ui->A_PurgeMaillist, "ToolButtonPurgeMaillist", "Purge Maillist", nullptr,
           std::nullopt);

    m_toolbarPopup = new QMenu(this);
    m_toolbarPopup->setObjectName(QStringLiteral("ToolbarPopup"));
    for (QAction* t :
         {m_ui->ToolBar_CheckNewMails, m_ui->ToolBar_ShowHeaders, m_ui->ToolBar_DeleteSelected,
          m_ui->ToolBar_DeleteAll, m_ui->ToolBar_UndeleteAll, m_ui->ToolBar_HideSelected,
          m_ui->ToolBar_HideAll, m_ui->ToolBar_ShowAll, m_ui->ToolBar_LaunchMailClient,
          m_ui->ToolBar_PurgeMaillist}) {
        m_toolbarPopup->addAction(t);
        connect(t, &QAction::triggered, this, [this] { ToolBarUpdate(); });
    }
    auto popup = [this](QWidget* w) {
        connect(w, &QWidget::customContextMenuRequested, this,
                [this, w](const QPoint& p) { m_toolbarPopup->popup(w->mapToGlobal(p)); });
    };
    popup(m_ui->CoolBar1);
    popup(m_ui->ActionToolBar2);
}

void TF_EMailList::buildStatusBar() {
    QStatusBar* bar = m_ui->StatusBar1;
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(PanelWidths[i]);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        bar->addWidget(panel);
        m_panels[i] = panel;
    }
    m_panels[0]->setAccessibleName(QStringLiteral("View"));
    m_panels[1]->setAccessibleName(QStringLiteral("Progress"));
    m_panels[2]->setAccessibleName(QStringLiteral("Activity"));
    // The progress bar sits over the second panel.
    m_progress = new QProgressBar(m_panels[1]);
    m_progress->setObjectName(QStringLiteral("ConnectProgressBar"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    m_progress->setGeometry(5, 4, 100, 12);
    m_progress->setAccessibleName(QStringLiteral("Check progress"));
}

void TF_EMailList::connectCommands() {
    auto on = [this](QAction* a, void (TF_EMailList::*handler)()) {
        connect(a, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    on(m_ui->A_CheckNewMails, &TF_EMailList::A_CheckNewMailsExecute);
    on(m_ui->A_SelectAll, &TF_EMailList::A_SelectAllExecute);
    on(m_ui->A_RetrieveBody, &TF_EMailList::A_RetrieveBodyExecute);
    on(m_ui->ShowHeader1, &TF_EMailList::ShowHeader1Click);
    on(m_ui->A_ShowMessage, &TF_EMailList::A_ShowMessageExecute);
    on(m_ui->A_HideMessage, &TF_EMailList::A_HideMessageExecute);
    on(m_ui->A_HideAllMessages, &TF_EMailList::A_HideAllMessagesExecute);
    on(m_ui->A_ShowAllHiddenMessages, &TF_EMailList::A_ShowAllHiddenMessagesExecute);
    on(m_ui->DeleteMail1, &TF_EMailList::DeleteMail1Click);
    on(m_ui->DeleteAllMails1, &TF_EMailList::DeleteAllMails1Click);
    on(m_ui->A_UndeleteAll, &TF_EMailList::A_UndeleteAllExecute);
    on(m_ui->A_Preferences, &TF_EMailList::A_PreferencesExecute);
    on(m_ui->A_ShowLog, &TF_EMailList::A_ShowLogExecute);
    on(m_ui->A_PurgeMaillist, &TF_EMailList::A_PurgeMaillistExecute);
    on(m_ui->A_LaunchEmailClient, &TF_EMailList::A_LaunchEmailClientExecute);
    on(m_ui->A_StatusBar, &TF_EMailList::A_StatusBarExecute);
    on(m_ui->A_ToolBar, &TF_EMailList::A_ToolBarExecute);
    on(m_ui->Close1, &TF_EMailList::Close1Click);
    on(m_ui->A_Help, &TF_EMailList::A_HelpExecute);
    on(m_ui->ips1, &TF_EMailList::ips1Click);
    on(m_ui->A_About, &TF_EMailList::A_AboutExecute);
    // Every shortcut works wherever the window has the focus.
    for (QAction* a : findChildren<QAction*>())
        a->setShortcutContext(Qt::WindowShortcut);
    addActions(findChildren<QAction*>());

    QTreeView* list = m_ui->ListView1;
    connect(list->header(), &QHeaderView::sectionClicked, this,
            &TF_EMailList::ListView1ColumnClick);
    connect(list, &QTreeView::doubleClicked, this, [this] { ListView1DblClick(); });
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &TF_EMailList::ListView1SelectItem);
    connect(list, &QWidget::customContextMenuRequested, this,
            [this, list](const QPoint& p) { m_rowPopup->popup(list->viewport()->mapToGlobal(p)); });
}

void TF_EMailList::setHook(Hook which, std::function<void()> run) {
    const bool present = static_cast<bool>(run);
    m_hooks[static_cast<std::size_t>(which)] = std::move(run);
    switch (which) {
    case Hook::Preferences:
        m_ui->A_Preferences->setEnabled(present);
        break;
    case Hook::Tips:
        m_ui->ips1->setEnabled(present);
        break;
    case Hook::About:
        m_ui->A_About->setEnabled(present);
        break;
    default:
        break;
    }
}

void TF_EMailList::setHooks(Hooks hooks) {
    auto set = [this](Hook which, std::function<void()>& run) {
        if (run)
            setHook(which, std::move(run));
    };
    set(Hook::ShowHeaders, hooks.showHeaders);
    set(Hook::ShowMessage, hooks.showMessage);
    set(Hook::Preferences, hooks.preferences);
    set(Hook::Tips, hooks.tips);
    set(Hook::About, hooks.about);
}

void TF_EMailList::setViewerLauncher(std::function<bool(const std::string&)> launcher) {
    m_viewer = std::move(launcher);
}

void TF_EMailList::setMessageOpener(std::function<void(const std::vector<MessageKey>&)> open) {
    m_openMessages = std::move(open);
}

void TF_EMailList::setHelpBrowser(std::shared_ptr<BrowserLauncher> browser) {
    m_helpBrowser = std::move(browser);
}

void TF_EMailList::setErrorBox(std::function<void(const QString&)> box) {
    m_errorBox = std::move(box);
}

// ---------------------------------------------------------------------------------------------
// Showing and rebuilding

void TF_EMailList::bringUp(int account, bool activate) {
    RebuildList(account);
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    if (activate) {
        setAttribute(Qt::WA_ShowWithoutActivating, false);
        show();
        raise();
        activateWindow();
    } else {
        // The program's own pop-up leaves the keyboard where the user has it.
        setAttribute(Qt::WA_ShowWithoutActivating, true);
        show();
        setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
}

void TF_EMailList::showList(int account) {
    bringUp(account, true);
}

void TF_EMailList::popupList(int account) {
    bringUp(account, false);
}

void TF_EMailList::RebuildList(int a) {
    QTreeView* list = m_ui->ListView1;
    // 1. The scroll position, the chosen rows and the focus mark survive a rebuild of the
    // view already shown.
    int topRow = -1;
    std::vector<MessageKey> chosen;
    MessageKey focused;
    if (a == m_view && m_model->rowCount() > 0) {
        topRow = list->indexAt(QPoint(0, 0)).row();
        chosen = selectedKeys();
        focused = keyOfRow(list->selectionModel()->currentIndex().row());
    }

    // 2. The view and its texts; a view newly shown shows its failed checks.
    const bool viewChanged = a != m_view;
    m_view = a;
    if (viewChanged)
        m_panels[2]->setText(failureTextOfView());
    const std::string name = accountNameOf(a);
    setWindowTitle(qs(maillist::viewCaption(a, name)));
    applyStatus(a, 2, qs(maillist::viewPanelText(a, name)));

    // 3 to 5. The rows, read under the MailDB lock.
    MailListRows rows;
    rows.fill(m_session.db(), a);
    QStringList names;
    for (int k = 1; k <= accountCount(); ++k)
        names << qs(m_session.settings().account(k).Name);
    m_model->reset(std::move(rows), std::move(names), m_session.clock().localToday());

    // 6. Back to the remembered place; the topmost visible row gets the focus mark.
    if (m_model->rowCount() > 0) {
        if (topRow > 0 && topRow < m_model->rowCount())
            list->scrollTo(m_model->index(topRow, 0), QAbstractItemView::PositionAtTop);
        else
            list->scrollToTop();
        QModelIndex top = list->indexAt(QPoint(0, 0));
        if (!top.isValid())
            top = m_model->index(topRow > 0 && topRow < m_model->rowCount() ? topRow : 0, 0);
        list->selectionModel()->setCurrentIndex(top, QItemSelectionModel::NoUpdate);
    }
    // The rows are new and none is selected; then the ones chosen before are again.
    m_selectedCount = 0;
    selectionRule(-1, 0, true);
    if (!chosen.empty()) {
        restoreSelection(chosen, focused);
        // Moving the focus mark may have scrolled: the place stays the user's.
        if (topRow > 0 && topRow < m_model->rowCount())
            list->scrollTo(m_model->index(topRow, 0), QAbstractItemView::PositionAtTop);
    }

    // 7.
    if (m_session.settings().Main.HideWhenEmpty && m_model->rowCount() == 0)
        hide();

    showSortIndicator();
    fitColumns();
    openFetchedMessages();
    if (m_rebuilt)
        m_rebuilt();
}

void TF_EMailList::restoreSelection(const std::vector<MessageKey>& chosen,
                                    const MessageKey& focused) {
    QTreeView* list = m_ui->ListView1;
    QItemSelection selection;
    int focusRow = -1;
    const int last = m_model->columnCount() - 1;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        const MessageKey k = keyOfRow(r);
        if (std::find(chosen.begin(), chosen.end(), k) == chosen.end())
            continue;
        selection.select(m_model->index(r, 0), m_model->index(r, last));
        // The focus mark goes back to the chosen row that had it.
        if (k == focused || focusRow < 0)
            focusRow = r;
    }
    if (focusRow >= 0)
        list->selectionModel()->setCurrentIndex(m_model->index(focusRow, 0),
                                                QItemSelectionModel::NoUpdate);
    if (!selection.isEmpty())
        list->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                      QItemSelectionModel::Rows);
}

void TF_EMailList::openFetchedMessages() {
    if (m_openWhenFetched.empty() || !m_openMessages)
        return;
    // Messages whose body has come are opened; those that can no longer come (record gone,
    // fetch given up) are forgotten; the rest wait for the next rebuild.
    std::vector<MessageKey> ready;
    std::vector<MessageKey> waiting;
    try {
        NamedLock lock(m_session.db().mutex());
        for (const MessageKey& k : m_openWhenFetched) {
            const std::optional<MailRecord> rec = m_session.db().FindMessage(k.UID, k.Account);
            if (!rec)
                continue;
            if (rec->Body)
                ready.push_back(k);
            else if (rec->RetrieveMail.value_or(false))
                waiting.push_back(k);
        }
    } catch (const std::exception&) {
        return;
    }
    m_openWhenFetched = std::move(waiting);
    if (!ready.empty())
        m_openMessages(ready);
}

void TF_EMailList::BuildAccountMenu() {
    QMenu* menu = m_ui->Accounts1;
    auto entry = [this, menu](int k) {
        QAction* a = new QAction(menu);
        a->setObjectName(QStringLiteral("AccountEntry%1").arg(k));
        const std::string shortcut = maillist::accountMenuShortcut(k);
        if (!shortcut.empty())
            a->setShortcut(QKeySequence(qs(shortcut)));
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, [this, k] { RebuildList(k); });
        menu->addAction(a);
        addAction(a);
        return a;
    };
    if (m_accountEntries.empty()) {
        m_accountEntries.push_back(entry(0));
        m_accountEntries[0]->setText(QStringLiteral("All Accounts"));
        m_accountSeparator = menu->addSeparator();
    }
    const int count = accountCount();
    // Entries of accounts that no longer exist go; a view of one of them would be empty.
    while (static_cast<int>(m_accountEntries.size()) > count + 1) {
        delete m_accountEntries.back();
        m_accountEntries.pop_back();
    }
    for (int k = static_cast<int>(m_accountEntries.size()); k <= count; ++k)
        m_accountEntries.push_back(entry(k));
    for (int k = 1; k <= count; ++k)
        m_accountEntries[static_cast<std::size_t>(k)]->setText(qs(accountNameOf(k)));
}

void TF_EMailList::FormActivate() {
    const Settings& s = m_session.settings();
    for (int k = 1; k < static_cast<int>(m_accountEntries.size()); ++k)
        m_accountEntries[static_cast<std::size_t>(k)]->setEnabled(k <= s.accountCount() &&
                                                                  s.account(k).List);
}

// ---------------------------------------------------------------------------------------------
// Status

void TF_EMailList::ReportStatus(int account, int kind, const std::string& text) {
    // The text crosses as bytes; the queue drops what is left when the window goes.
    m_toMain->post([this, account, kind, text] { applyStatus(account, kind, uiText(text)); });
}

void TF_EMailList::showCheckFailure(int account, const std::string& reason) {
    m_failures[account] = uiText(reason);
    // Where the account's activity shows, and in the view of all accounts.
    if (account == m_view || m_view == 0)
        m_panels[2]->setText(failureTextOfView());
}

void TF_EMailList::checkSucceeded(int account) {
    if (m_failures.erase(account) && (account == m_view || m_view == 0))
        m_panels[2]->setText(failureTextOfView());
}

QString TF_EMailList::failureTextOfView() const {
    const QString prefix = QString::fromLatin1(FailedPrefix);
    if (m_view != 0) {
        const auto it = m_failures.find(m_view);
        return it == m_failures.end() ? QString() : prefix + it->second;
    }
    // All accounts: each failed one by name.
    QStringList parts;
    for (const auto& [account, reason] : m_failures)
        parts << qs(accountNameOf(account)) + QStringLiteral(": ") + prefix + reason;
    return parts.join(QStringLiteral("; "));
}

void TF_EMailList::applyStatus(int account, int kind, const QString& text) {
    if (account == m_view) {
        if (kind == 1)
            m_panels[2]->setText(text);
        else if (kind == 3)
            m_progress->setValue(std::clamp(text.trimmed().toInt(), 0, 100));
    } else {
        const AccountRuntime* rt = m_session.runtimeOf(m_view);
        const bool viewBusy = m_view != 0 && rt && rt->Busy;
        if (!viewBusy) {
            m_progress->setValue(0);
            m_panels[2]->setText(failureTextOfView());
        }
    }
    if (kind == 2)
        m_panels[0]->setText(text);
}

QString TF_EMailList::statusPanelText(int panel) const {
    return panel >= 0 && panel < 3 ? m_panels[panel]->text() : QString();
}

int TF_EMailList::progress() const {
    return m_progress->value();
}

// ---------------------------------------------------------------------------------------------
// Selection

MessageKey TF_EMailList::keyOfRow(int row) const {
    const MailListRows& rows = m_model->rows();
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size())
        return {};
    const std::size_t i = static_cast<std::size_t>(row);
    return {std::string(rows.uid(i)),
            maillist::rowAccount(m_view, rows.row(i).account, accountCount())};
}

std::vector<MessageKey> TF_EMailList::selectedKeys() const {
    std::vector<int> rows;
    for (const QModelIndex& i : m_ui->ListView1->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    std::vector<MessageKey> keys;
    keys.reserve(rows.size());
    for (int r : rows) {
        MessageKey k = keyOfRow(r);
        if (k.Account != 0)
            keys.push_back(std::move(k));
    }
    return keys;
}

std::vector<MessageKey> TF_EMailList::allKeys() const {
    std::vector<MessageKey> keys;
    keys.reserve(m_model->rows().size());
    for (int r = 0; r < m_model->rowCount(); ++r) {
        MessageKey k = keyOfRow(r);
        if (k.Account != 0)
            keys.push_back(std::move(k));
    }
    return keys;
}

void TF_EMailList::ListView1SelectItem(const QItemSelection& selected,
                                       const QItemSelection& deselected) {
    const bool wasNone = m_selectedCount == 0;
    m_selectedCount = static_cast<int>(m_ui->ListView1->selectionModel()->selectedRows().size());
    int row = -1;
    if (!selected.isEmpty())
        row = selected.last().bottom();
    else if (!deselected.isEmpty())
        row = deselected.last().bottom();
    selectionRule(row, m_selectedCount, wasNone);
}

void TF_EMailList::selectionRule(int row, int selectedCount, bool wasNoneSelected) {
    QAction* five[] = {m_ui->ShowHeader1, m_ui->A_ShowMessage, m_ui->DeleteMail1,
                       m_ui->A_HideMessage, m_ui->A_RetrieveBody};
    if (selectedCount == 0) {
        for (QAction* a : five)
            a->setEnabled(false);
        setEnterShortcut();
        return;
    }
    // A selection that grows from none in one step passed through one selected row.
    if (selectedCount == 1 || wasNoneSelected) {
        for (QAction* a : five)
            a->setEnabled(true);
    }
    bool r = m_ui->A_RetrieveBody->isEnabled();
    bool m = m_ui->A_ShowMessage->isEnabled();
    bool show3 = m_items[3]->isVisible();
    bool show4 = m_items[4]->isVisible();
    if (row >= 0 && row < m_model->rowCount()) {
        // By UID and account: two accounts on one server often report the same UIDs, and the
        // other account's record would tell the wrong story about this row's body.
        const MessageKey key = keyOfRow(row);
        try {
            NamedLock lock(m_session.db().mutex());
            if (std::optional<MailRecord> rec = m_session.db().FindMessage(key.UID, key.Account)) {
                if (!rec->Body) {
                    show3 = true, show4 = false, m = false;
                } else {
                    show3 = false, show4 = true, r = false;
                }
            }
        } catch (const std::exception&) {
            // The states stay as noted.
        }
    }
    m_items[3]->setVisible(show3);
    m_items[4]->setVisible(show4);
    m_ui->A_RetrieveBody->setEnabled(r);
    m_ui->A_ShowMessage->setEnabled(m);
    setEnterShortcut();
}

void TF_EMailList::setEnterShortcut() {
    const QList<QKeySequence> enter = {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)};
    if (m_ui->A_ShowMessage->isEnabled()) {
        m_ui->A_ShowMessage->setShortcuts(enter);
        m_ui->A_RetrieveBody->setShortcuts({});
    } else {
        m_ui->A_RetrieveBody->setShortcuts(enter);
        m_ui->A_ShowMessage->setShortcuts({});
    }
}

void TF_EMailList::ListView1DblClick() {
    if (m_ui->A_ShowMessage->isEnabled()) {
        m_ui->A_ShowMessage->trigger();
        return;
    }
    // The body is fetched first; the message opens when it arrives.
    const std::vector<MessageKey> keys = selectedKeys();
    m_ui->A_RetrieveBody->trigger();
    for (const MessageKey& k : keys) {
        if (std::find(m_openWhenFetched.begin(), m_openWhenFetched.end(), k) ==
            m_openWhenFetched.end())
            m_openWhenFetched.push_back(k);
    }
    openFetchedMessages();
}

void TF_EMailList::ListView1ColumnClick(int column) {
    const std::optional<SortType> next =
        maillist::toggledSortType(MailListModel::tagOf(column), m_session.db().sortOrder());
    if (next) {
        try {
            NamedLock lock(m_session.db().mutex());
            m_session.db().setSortOrder(*next);
        } catch (const std::exception&) {
        }
    }
    RebuildList(m_view);
}

// ---------------------------------------------------------------------------------------------
// Commands

void TF_EMailList::refreshAccounts(const std::set<int>& accounts) {
    for (int a : accounts)
        m_checker.UpdateFieldCount(a);
    RebuildList(m_view);
    m_checker.UpdateTrayState();
}

void TF_EMailList::A_CheckNewMailsExecute() {
    m_actions.checkNewMails(m_view, [this] { m_checker.scheduler().online1xClick(); });
}

void TF_EMailList::A_SelectAllExecute() {
    m_ui->ListView1->selectAll();
}

void TF_EMailList::A_RetrieveBodyExecute() {
    if (!m_ui->A_RetrieveBody->isEnabled())
        return;
    const std::vector<MessageKey> keys = selectedKeys();
    if (keys.empty())
        return;
    m_actions.retrieveBodies(
        keys, m_session.settings().Main.MaxDownloadSize, [this](const MessageKey&) {
            m_errorBox(
                qs(maillist::tooBigToRetrieveText(m_session.settings().Main.MaxDownloadSize)));
        });
    RebuildList(m_view);
}

void TF_EMailList::ShowHeader1Click() {
    if (m_ui->ShowHeader1->isEnabled() && m_hooks[static_cast<std::size_t>(Hook::ShowHeaders)])
        m_hooks[static_cast<std::size_t>(Hook::ShowHeaders)]();
}

void TF_EMailList::A_ShowMessageExecute() {
    if (m_ui->A_ShowMessage->isEnabled() && m_hooks[static_cast<std::size_t>(Hook::ShowMessage)])
        m_hooks[static_cast<std::size_t>(Hook::ShowMessage)]();
}

void TF_EMailList::IconsMenu1Click(int icon) {
    m_actions.assignIcon(selectedKeys(), icon);
    RebuildList(m_view);
}

void TF_EMailList::A_HideMessageExecute() {
    if (!m_ui->A_HideMessage->isEnabled())
        return;
    refreshAccounts(m_actions.hideRows(selectedKeys()));
}

void TF_EMailList::A_HideAllMessagesExecute() {
    refreshAccounts(m_actions.hideAll(m_view));
}

void TF_EMailList::A_ShowAllHiddenMessagesExecute() {
    refreshAccounts(m_actions.showAllHidden(m_view));
}

void TF_EMailList::DeleteMail1Click() {
    if (!m_ui->DeleteMail1->isEnabled())
        return;
    m_actions.toggleDeleteMarks(selectedKeys(), MailListActions::DeleteCheckDelayMs);
    applyStatus(m_view, 1, QString::fromLatin1(DeletingText));
    RebuildList(m_view);
}

void TF_EMailList::DeleteAllMails1Click() {
    m_actions.toggleDeleteMarks(allKeys(), std::nullopt);
    applyStatus(m_view, 1, QString::fromLatin1(DeletingText));
    RebuildList(m_view);
}

void TF_EMailList::A_UndeleteAllExecute() {
    m_actions.undeleteAll();
    RebuildList(m_view);
}

void TF_EMailList::A_PreferencesExecute() {
    if (m_hooks[static_cast<std::size_t>(Hook::Preferences)])
        m_hooks[static_cast<std::size_t>(Hook::Preferences)]();
}

void TF_EMailList::A_ShowLogExecute() {
    ShowDeletionLog(m_session.workingFolder(), m_viewer,
                    [this](const std::string& text) { m_errorBox(qs(text)); });
}

void TF_EMailList::A_PurgeMaillistExecute() {
    refreshAccounts(m_actions.purgeMaillist());
}

void TF_EMailList::A_LaunchEmailClientExecute() {
    if (m_view != 0)
        m_checker.launchMailClient(m_view);
}

void TF_EMailList::A_StatusBarExecute() {
    m_ui->StatusBar1->setVisible(m_ui->A_StatusBar->isChecked());
}

void TF_EMailList::A_ToolBarExecute() {
    m_ui->CoolBar1->setVisible(m_ui->A_ToolBar->isChecked());
}

void TF_EMailList::ToolBarUpdate() {
    auto set = [this](int item, bool shown) {
        m_items[static_cast<std::size_t>(item)]->setVisible(shown);
    };
    set(0, m_ui->ToolBar_CheckNewMails->isChecked());
    set(2, m_ui->ToolBar_ShowHeaders->isChecked());
    set(6, m_ui->ToolBar_DeleteSelected->isChecked());
    set(7, m_ui->ToolBar_DeleteAll->isChecked());
    set(8, m_ui->ToolBar_UndeleteAll->isChecked());
    set(10, m_ui->ToolBar_HideSelected->isChecked());
    set(11, m_ui->ToolBar_HideAll->isChecked());
    set(12, m_ui->ToolBar_ShowAll->isChecked());
    set(14, m_ui->ToolBar_LaunchMailClient->isChecked());
    set(15, m_ui->ToolBar_PurgeMaillist->isChecked());
    auto shown = [this](int item) { return m_items[static_cast<std::size_t>(item)]->isVisible(); };
    set(1, shown(0));
    set(5, shown(6) || shown(7) || shown(8));
    set(9, shown(10) || shown(11) || shown(12));
    set(13, shown(14) || shown(15));
}

void TF_EMailList::Close1Click() {
    hide();
}

void TF_EMailList::A_HelpExecute() {
    const std::string path = m_session.path(HelpFileName);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        m_errorBox(QString::fromLatin1(NoHelpText));
        return;
    }
    // The help is a web page: the browser shows it, and a user without one is told why
    // nothing opens.
    if (!m_helpBrowser)
        m_helpBrowser = std::make_shared<BrowserLauncher>();
    std::error_code absError;
    const std::filesystem::path full = std::filesystem::absolute(path, absError);
    const QString url =
        QUrl::fromLocalFile(qs(absError ? path : full.string())).toString(QUrl::FullyEncoded);
    m_helpBrowser->LaunchHomePage(url.toStdString(),
                                  [this](const std::string& text) { m_errorBox(qs(text)); });
}

void TF_EMailList::ips1Click() {
    if (m_hooks[static_cast<std::size_t>(Hook::Tips)])
        m_hooks[static_cast<std::size_t>(Hook::Tips)]();
}

void TF_EMailList::A_AboutExecute() {
    if (m_hooks[static_cast<std::size_t>(Hook::About)])
        m_hooks[static_cast<std::size_t>(Hook::About)]();
}

// ---------------------------------------------------------------------------------------------
// Window settings

void TF_EMailList::setColumnWidth(int tag, int width) {
    m_ui->ListView1->header()->resizeSection(MailListModel::columnOf(tag), std::max(0, width));
}

int TF_EMailList::columnWidth(int tag) const {
    return m_ui->ListView1->header()->sectionSize(MailListModel::columnOf(tag));
}

void TF_EMailList::LoadWindowSettings() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area =
        screen ? screen->geometry() : QRect(0, 0, kFallbackScreen.width, kFallbackScreen.height);
    EMailListInputs inputs;
    inputs.screenWidth = area.width();
    inputs.screenHeight = area.height();
    inputs.designColumnWidths = kDesignWidths;
    const EMailListSettings& s = m_session.settingsStore().loadEMailList(inputs);
    resize(std::max(s.Width, minimumWidth()), std::max(s.Height, minimumHeight()));
    move(s.X, s.Y);
    m_ui->A_StatusBar->setChecked(s.ShowStatusBar);
    m_ui->A_ToolBar->setChecked(s.ShowToolBar);
    // Widths other than the designed ones are the user's and stay; the designed ones give
    // way to widths that fit the texts.
    m_fittingColumns = true;
    setColumnWidth(ColumnTag::TagSubject, s.Column_Subject_Width);
    setColumnWidth(ColumnTag::TagSender, s.Column_Sender_Width);
    setColumnWidth(ColumnTag::TagSize, s.Column_Size_Width);
    setColumnWidth(ColumnTag::TagAction, s.Column_Action_Width);
    setColumnWidth(ColumnTag::TagAccount, s.Column_Account_Width);
    setColumnWidth(ColumnTag::TagDate, s.Column_Date_Width);
    m_fittingColumns = false;
    // Subject's stored width follows the window; the others tell whether the user chose
    // (unset, Action and Account both take the design's fourth width).
    m_userColumnWidths =
        s.Column_Sender_Width != kDesignWidths[1] || s.Column_Size_Width != kDesignWidths[2] ||
        s.Column_Action_Width != kDesignWidths[3] || s.Column_Account_Width != kDesignWidths[3] ||
        s.Column_Date_Width != kDesignWidths[5];
    {
        NamedLock lock(m_session.db().mutex());
        m_session.db().setSortOrder(s.SortType);
    }
    m_ui->ToolBar_HideSelected->setChecked(s.ToolBar_HideSelected);
    m_ui->ToolBar_HideAll->setChecked(s.ToolBar_HideAll);
    m_ui->ToolBar_ShowAll->setChecked(s.ToolBar_ShowAll);
    m_ui->ToolBar_DeleteSelected->setChecked(s.ToolBar_DeleteSelected);
    m_ui->ToolBar_DeleteAll->setChecked(s.ToolBar_DeleteAll);
    m_ui->ToolBar_UndeleteAll->setChecked(s.ToolBar_UndeleteAll);
    m_ui->ToolBar_LaunchMailClient->setChecked(s.ToolBar_LaunchMailClient);
    m_ui->ToolBar_PurgeMaillist->setChecked(s.ToolBar_PurgeMaillist);
    m_ui->ToolBar_ShowHeaders->setChecked(s.ToolBar_ShowHeaders);
    m_ui->ToolBar_CheckNewMails->setChecked(s.ToolBar_CheckNewMails);
    A_StatusBarExecute();
    A_ToolBarExecute();
    ToolBarUpdate();
}

bool TF_EMailList::SaveWindowSettings() {
    Settings& settings = m_session.settings();
    EMailListSettings& s = settings.EMailList;
    s.Width = width();
    s.Height = height();
    s.X = x();
    s.Y = y();
    s.ShowStatusBar = m_ui->A_StatusBar->isChecked();
    s.ShowToolBar = m_ui->A_ToolBar->isChecked();
    s.Column_Subject_Width = columnWidth(ColumnTag::TagSubject);
    s.Column_Sender_Width = columnWidth(ColumnTag::TagSender);
    s.Column_Size_Width = columnWidth(ColumnTag::TagSize);
    s.Column_Action_Width = columnWidth(ColumnTag::TagAction);
    s.Column_Account_Width = columnWidth(ColumnTag::TagAccount);
    s.Column_Date_Width = columnWidth(ColumnTag::TagDate);
    s.SortType = MailListDB::sortTypeName(m_session.db().sortOrder());
    s.ToolBar_HideSelected = m_ui->ToolBar_HideSelected->isChecked();
    s.ToolBar_HideAll = m_ui->ToolBar_HideAll->isChecked();
    s.ToolBar_ShowAll = m_ui->ToolBar_ShowAll->isChecked();
    s.ToolBar_DeleteSelected = m_ui->ToolBar_DeleteSelected->isChecked();
    s.ToolBar_DeleteAll = m_ui->ToolBar_DeleteAll->isChecked();
    s.ToolBar_UndeleteAll = m_ui->ToolBar_UndeleteAll->isChecked();
    s.ToolBar_LaunchMailClient = m_ui->ToolBar_LaunchMailClient->isChecked();
    s.ToolBar_PurgeMaillist = m_ui->ToolBar_PurgeMaillist->isChecked();
    s.ToolBar_ShowHeaders = m_ui->ToolBar_ShowHeaders->isChecked();
    s.ToolBar_CheckNewMails = m_ui->ToolBar_CheckNewMails->isChecked();
    try {
        m_session.settingsStore().saveEMailList();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Events

void TF_EMailList::closeEvent(QCloseEvent* event) {
    // Closing only hides the window; it lives until the program ends.
    event->ignore();
    hide();
}

bool TF_EMailList::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate)
        FormActivate();
    return QMainWindow::event(event);
}

void TF_EMailList::showSortIndicator() {
    const maillist::SortIndicator s = maillist::sortIndicatorOf(m_session.db().sortOrder());
    QHeaderView* h = m_ui->ListView1->header();
    if (s.tag < 0)
        h->setSortIndicator(-1, Qt::AscendingOrder);
    else
        h->setSortIndicator(MailListModel::columnOf(s.tag),
                            s.descending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void TF_EMailList::fitColumns() {
    QTreeView* list = m_ui->ListView1;
    QHeaderView* h = list->header();
    m_fittingColumns = true;
    if (m_userColumnWidths) {
        // Widths the user chose stay; Subject takes the room they leave, as before.
        int others = 0;
        for (int c = 0; c < m_model->columnCount(); ++c)
            if (c != MailListModel::columnOf(ColumnTag::TagSubject) && !list->isColumnHidden(c))
                others += h->sectionSize(c);
        const int subject = list->viewport()->width() - others;
        if (subject > columnWidth(ColumnTag::TagSubject))
            setColumnWidth(ColumnTag::TagSubject, subject);
        m_fittingColumns = false;
        return;
    }
    // What each column's header and rows need, the long texts capped so that one long
    // subject does not push the others out of sight; the room left goes mostly to Subject.
    struct Column {
        int tag;
        int cap;
        int weight;
    };
    static constexpr Column kColumns[] = {
        {ColumnTag::TagSubject, 260, 6}, {ColumnTag::TagSender, 220, 3}, {ColumnTag::TagSize, 0, 0},
        {ColumnTag::TagAccount, 160, 1}, {ColumnTag::TagAction, 0, 0},   {ColumnTag::TagDate, 0, 0},
    };
    std::vector<int> needed, weights;
    for (const Column& c : kColumns) {
        const int col = MailListModel::columnOf(c.tag);
        int need = std::max(h->sectionSizeHint(col),
                            static_cast<QAbstractItemView*>(list)->sizeHintForColumn(col)) +
                   6;
        if (c.cap > 0)
            need = std::min(need, c.cap);
        needed.push_back(need);
        weights.push_back(c.weight);
    }
    const std::vector<int> widths =
        maillist::shareColumnWidths(needed, weights, list->viewport()->width());
    for (std::size_t i = 0; i < widths.size(); ++i)
        setColumnWidth(kColumns[i].tag, widths[i]);
    m_fittingColumns = false;
}

bool TF_EMailList::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ui->ListView1 && event->type() == QEvent::Resize)
        fitColumns();
    if (watched == m_ui->ListView1 && event->type() == QEvent::KeyRelease &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete &&
        !static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
        m_ui->DeleteMail1->trigger();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tarn
