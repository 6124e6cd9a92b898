#include "prefs/TF_Prefs.h"

#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "core/AccountChanges.h"
#include "core/NumberRanges.h"
#include "core/Settings.h"
#include "core/TarnError.h"
#include "prefs/AccountConfigPage.h"
#include "prefs/AccountsPage.h"
#include "prefs/AppearancePage.h"
#include "prefs/CheckerWindowPage.h"
#include "prefs/ColorsPage.h"
#include "prefs/FilterPage.h"
#include "prefs/FloatingPage.h"
#include "prefs/GeneralPage.h"
#include "prefs/LogPage.h"
#include "prefs/ShortcutsPage.h"
#include "prefs/SizesPage.h"
#include "prefs/SoundPage.h"

#include "ui_TF_Prefs.h"

#include <QCloseEvent>
#include <QColorDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace tarn {

PrefsDialogs PrefsDialogs::system(QWidget* parent) {
    PrefsDialogs d;
    d.chooseColor = [parent](std::uint32_t initial) -> std::optional<std::uint32_t> {
        const QColor c = QColorDialog::getColor(CheckerField::toQColor(initial), parent);
        if (!c.isValid())
            return std::nullopt;
        return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
               (static_cast<std::uint32_t>(c.blue()) << 16);
    };
    d.openFileName = [parent](const QString& title, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, title, QString(), filter).toStdString();
    };
    d.confirm = [parent](const QString& text) {
        return QMessageBox::question(parent, QStringLiteral("Confirm"), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    };
    d.error = [parent](const QString& text) {
        QMessageBox::critical(parent, QStringLiteral("Error"), text);
    };
    d.warning = [parent](const QString& text) {
        QMessageBox::warning(parent, QStringLiteral("Warning"), text);
    };
    return d;
}

TF_Prefs::TF_Prefs(Session& session, TF_CheckerWindow& checker, PrefsOptions options,
                   QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_session(session), m_checker(checker), m_options(std::move(options)),
      m_ui(std::make_unique<Ui::TF_Prefs>()) {
    m_ui->setupUi(this);
    setFixedSize(ClientWidth, ClientHeight);
    // The pages' fixed geometry is laid out for small dialog text; the desktop's larger
    // default would clip captions and run labels into their fields.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);
    m_dialogs = PrefsDialogs::system(this);

    QTabBar* tabs = m_ui->TabControl1;
    tabs->addTab(QStringLiteral("Basic"));
    tabs->addTab(QStringLiteral("Advanced"));
    tabs->addTab(QStringLiteral("Expert"));
    connect(tabs, &QTabBar::currentChanged, this,
            [this] { runCommand([this] { TabControl1Change(); }); });

    createPages();
    connect(m_ui->PrefsTree, &QTreeWidget::currentItemChanged, this,
            [this] { runCommand([this] { PrefsTreeChange(); }); });
    connect(m_ui->SaveButton, &QPushButton::clicked, this,
            [this] { runCommand([this] { SaveButtonClick(); }); });
    connect(m_ui->Button11, &QPushButton::clicked, this, [this] { Button11Click(); });

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect r = screen->geometry();
        move(r.x() + (r.width() - ClientWidth) / 2, r.y() + (r.height() - ClientHeight) / 2);
    }
    FormCreate();
}

TF_Prefs::~TF_Prefs() = default;

void TF_Prefs::createPages() {
    QStackedWidget* area = m_ui->PrefsTabControl;
    auto add = [&](auto* page) {
        area->addWidget(page);
        m_pages.push_back(page);
        return page;
    };
    m_accountsPage = add(new AccountsPage(*this, area));
    m_accountPage = add(new AccountConfigPage(*this, area));
    PrefsPage* sound = add(new SoundPage(*this, area));
    PrefsPage* filter = add(new FilterPage(*this, area));
    PrefsPage* appearance = add(new AppearancePage(*this, area));
    PrefsPage* checkerWindow = add(new CheckerWindowPage(*this, area));
    PrefsPage* floating = add(new FloatingPage(*this, area));
    PrefsPage* colors = add(new ColorsPage(*this, area));
    PrefsPage* sizes = add(new SizesPage(*this, area));
    PrefsPage* general = add(new GeneralPage(*this, area));
    m_shortcutsPage = add(new ShortcutsPage(*this, area));
    PrefsPage* log = add(new LogPage(*this, area));

    // The fixed nodes in the order navigation compares their texts.
    m_nodes = {
        {"Accounts", m_accountsPage, nullptr},
        {"Sound Settings", sound, nullptr},
        {"Message Filters", filter, nullptr},
        {"Visual Appearance", appearance, nullptr},
        {"Checker Window", checkerWindow, "Visual Appearance"},
        {"Floating", floating, "Visual Appearance"},
        {"Default Colors", colors, "Visual Appearance"},
        {"Sizes", sizes, "Visual Appearance"},
        {"General Prefs", general, nullptr},
        {"Shortcuts", m_shortcutsPage, "General Prefs"},
        {"Log File", log, "General Prefs"},
    };
    QTreeWidget* tree = m_ui->PrefsTree;
    const QSignalBlocker block(tree);
    for (const Node& n : m_nodes) {
        QTreeWidgetItem* item;
        if (n.parent) {
            const auto parents =
                tree->findItems(QString::fromLatin1(n.parent), Qt::MatchExactly, 0);
            item = new QTreeWidgetItem(parents.front());
        } else {
            item = new QTreeWidgetItem(tree);
        }
        item->setText(0, QString::fromLatin1(n.text));
    }
    for (PrefsPage* page : m_pages)
        page->hide();
}

void TF_Prefs::FormCreate() {
    m_currentAccountIndex = -1;
    m_confirmedAccounts = m_session.settings().Accounts;
    for (PrefsPage* page : m_pages)
        page->formCreate();
    if (m_session.settings().Main.Hidden && m_checker.isVisible())
        m_checker.CoolTrayIcon1Click();
    RebuildAccountNodes();
    makeCurrent(m_accountsPage);
    {
        // The tab's signal would apply the level once more.
        const QSignalBlocker block(m_ui->TabControl1);
        m_ui->TabControl1->setCurrentIndex(
            static_cast<int>(prefsLevelOf(m_session.settings().Main.PrefsLevel)));
    }
    TabControl1Change();
    // The selector is still empty: the page stays blank and no account is current.
    m_accountPage->ComboBox6_update_sheet();
}

void TF_Prefs::runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        m_lastDiscarded = e.what();
    }
}

PrefsLevel TF_Prefs::level() const {
    return prefsLevelOf(m_ui->TabControl1->currentIndex());
}

void TF_Prefs::setLevel(PrefsLevel level) {
    m_ui->TabControl1->setCurrentIndex(static_cast<int>(level));
}

void TF_Prefs::applyLevelTo(QWidget* root, PrefsLevel level) {
    const auto widgets = root->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const QVariant tag = w->property("level");
        if (!tag.isValid())
            continue;
        if (const std::optional<bool> shown = levelShows(tag.toInt(), level))
            w->setVisible(*shown);
    }
}

void TF_Prefs::TabControl1Change() {
    const PrefsLevel l = level();
    for (PrefsPage* page : m_pages) {
        applyLevelTo(page, l);
        page->levelApplied();
    }
}

void TF_Prefs::FillPrefsDialog() {
    for (PrefsPage* page : m_pages)
        page->fill();
    tellOutOfRange();
}

void TF_Prefs::tellOutOfRange() {
    std::vector<OutOfRange> untold;
    for (const OutOfRange& v : storedOutOfRange(m_session.settings())) {
        const std::string key = v.where + '\n' + v.field + '\n' + std::to_string(v.stored);
        if (m_toldOutOfRange.insert(key).second)
            untold.push_back(v);
    }
    if (!untold.empty() && m_dialogs.warning)
        m_dialogs.warning(uiText(outOfRangeNotice(untold)));
}

bool TF_Prefs::refuseOutOfRange() {
    for (PrefsPage* page : m_pages) {
        const std::optional<RangeProblem> problem = page->rangeProblem();
        if (!problem)
            continue;
        if (page == m_accountPage) {
            // The page still holds the account the field belongs to.
            selectNode(m_currentAccountIndex + 1, false);
            m_selected = m_ui->PrefsTree->currentItem();
            makeCurrent(m_accountPage);
        } else {
            for (const Node& n : m_nodes) {
                if (n.page != page)
                    continue;
                const auto found = m_ui->PrefsTree->findItems(
                    QString::fromLatin1(n.text), Qt::MatchExactly | Qt::MatchRecursive, 0);
                for (QTreeWidgetItem* item : found)
                    if (absoluteIndexOf(item) > m_session.settings().accountCount())
                        selectNode(absoluteIndexOf(item));
                break;
            }
        }
        m_dialogs.error(problem->message);
        if (problem->field)
            problem->field->setFocus(Qt::OtherFocusReason);
        return true;
    }
    return false;
}

void TF_Prefs::openPreferences() {
    FillPrefsDialog();
    show();
    raise();
    activateWindow();
}

void TF_Prefs::showAtFirstStart() {
    show();
    FillPrefsDialog();
    Save();
    selectNode(1);
    activateWindow();
    m_accountPage->focusName();
}

void TF_Prefs::Save() {
    m_session.settingsStore().save(
        {m_session.Online.load(), !m_checker.isVisible(), m_checker.x(), m_checker.y()});
}

QTreeWidgetItem* TF_Prefs::nodeAt(int absoluteIndex) const {
    if (absoluteIndex < 0)
        return nullptr;
    int i = 0;
    for (QTreeWidgetItemIterator it(m_ui->PrefsTree); *it; ++it, ++i)
        if (i == absoluteIndex)
            return *it;
    return nullptr;
}

int TF_Prefs::absoluteIndexOf(const QTreeWidgetItem* item) const {
    int i = 0;
    for (QTreeWidgetItemIterator it(m_ui->PrefsTree); *it; ++it, ++i)
        if (*it == item)
            return i;
    return -1;
}

int TF_Prefs::selectedNode() const {
    return absoluteIndexOf(m_ui->PrefsTree->currentItem());
}

void TF_Prefs::selectNode(int absoluteIndex, bool navigate) {
    QTreeWidgetItem* item = nodeAt(absoluteIndex);
    if (!item)
        return;
    if (navigate) {
        if (m_ui->PrefsTree->currentItem() == item)
            runCommand([this] { PrefsTreeChange(); });
        else
            m_ui->PrefsTree->setCurrentItem(item);
        return;
    }
    const QSignalBlocker block(m_ui->PrefsTree);
    m_ui->PrefsTree->setCurrentItem(item);
}

void TF_Prefs::makeCurrent(PrefsPage* page) {
    if (m_current && m_current != page)
        m_current->hide();
    m_current = page;
    m_ui->PrefsTabControl->setCurrentWidget(page);
    page->show();
    page->raise();
}

void TF_Prefs::PrefsTreeChange() {
    QTreeWidgetItem* item = m_ui->PrefsTree->currentItem();
    if (!item)
        return;
    if (m_current == m_accountPage) {
        try {
            m_accountPage->set_ComboBox6_settings();
        } catch (...) {
            // The page keeps the account it holds; so does the tree's mark.
            if (m_selected && m_selected != item && absoluteIndexOf(m_selected) >= 0) {
                const QSignalBlocker block(m_ui->PrefsTree);
                m_ui->PrefsTree->setCurrentItem(m_selected);
            }
            throw;
        }
        // A rename rebuilt the account nodes: the node is the one now at the same place.
        item = m_ui->PrefsTree->currentItem();
        if (!item)
            return;
    }
    PrefsPage* next = nullptr;
    const QString text = item->text(0);
    for (const Node& n : m_nodes) {
        if (text == QLatin1String(n.text)) {
            next = n.page;
            n.page->becameCurrent();
            break;
        }
    }
    const int index = absoluteIndexOf(item);
    if (index >= 1 && index <= m_session.settings().accountCount()) {
        next = m_accountPage;
        m_accountPage->selectAccount(index - 1);
    }
    m_selected = item;
    if (next)
        makeCurrent(next);
}

void TF_Prefs::RebuildAccountNodes() {
    QTreeWidget* tree = m_ui->PrefsTree;
    const QSignalBlocker block(tree);
    tree->expandAll();
    QTreeWidgetItem* accounts = tree->topLevelItem(0);
    const bool selectedWasAccount = m_selected && m_selected->parent() == accounts;
    if (selectedWasAccount)
        m_selected = nullptr;
    qDeleteAll(accounts->takeChildren());
    const Settings& s = m_session.settings();
    for (int a = 1; a <= s.accountCount(); ++a) {
        auto* node = new QTreeWidgetItem(accounts);
        node->setText(0, uiText(s.account(a).Name));
    }
    accounts->setExpanded(true);
}

void TF_Prefs::SaveButtonClick() {
    // Checked before anything is copied, so a refused OK leaves the settings as they were.
    if (refuseOutOfRange())
        throw TarnError("A number is outside its range.");
    for (int step = static_cast<int>(OkStep::ColorSet);
         step <= static_cast<int>(OkStep::Transparency); ++step) {
        for (PrefsPage* page : m_pages)
            page->commit(static_cast<OkStep>(step));
        if (static_cast<OkStep>(step) == OkStep::Options)
            m_session.settings().Main.PrefsLevel = static_cast<int>(level());
    }
    m_accountPage->set_ComboBox6_settings();
    m_accountPage->keepSignIns();
    Save();
    const std::vector<int> changed =
        accountsToCheckAfterEdit(m_confirmedAccounts, m_session.settings().Accounts);
    m_confirmedAccounts = m_session.settings().Accounts;
    close();
    m_checker.EShowTest();
    if (m_mailList.BuildAccountMenu)
        m_mailList.BuildAccountMenu();
    // A new or corrected account shows its count now, not when its timer next runs; checkmail
    // refuses while offline. Closing has gone online first after a first start.
    for (int a : changed)
        m_checker.scheduler().checkmail(a);
}

void TF_Prefs::accountDeleted(int d) {
    if (d >= 1 && d <= static_cast<int>(m_confirmedAccounts.size()))
        m_confirmedAccounts.erase(m_confirmedAccounts.begin() + (d - 1));
}

void TF_Prefs::Button11Click() {
    close();
}

void TF_Prefs::closeEvent(QCloseEvent* event) {
    // Closing only hides: the dialog lives as long as the program.
    event->accept();
}

void TF_Prefs::keyPressEvent(QKeyEvent* event) {
    // Escape is Cancel, as in any dialog; keys a page's control takes never get here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        Button11Click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TF_Prefs::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        runCommand([this] { m_accountPage->TabSheet9Show(); });
    }
}

void TF_Prefs::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        m_accountPage->dropSignIns();
        runCommand([this] { Button2Click(); });
    }
}

void TF_Prefs::Button2Click() {
    if (m_firstStart) {
        m_firstStart = false;
        if (!m_session.Online)
            m_checker.scheduler().online1xClick();
        if (m_mailList.show)
            m_mailList.show();
    }
    m_checker.UpdateTrayState();
    m_checker.ApplyOpacity();
}

} // namespace tarn
