#include "checker/TF_CheckerWindow.h"

#include "check/EndOfCheck.h"

#include "check/Session.h"
#include "checker/CheckerField.h"
#include "checker/CheckerPlacement.h"
#include "checker/CheckerTray.h"
#include "checker/MailListPresenter.h"
#include "checker/MenuIcons.h"
#include "checker/NewMailNotifier.h"
#include "checker/QtCheckHost.h"
#include "checker/QtCheckTimer.h"
#include "checker/ShutdownCountdown.h"
#include "checker/TF_ShutdownForm.h"
#include "checker/UiText.h"
#include "platform/MailClientLauncher.h"
#include "platform/NamedMutex.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

#include <cmath>

namespace tarn {

namespace {

// A menu item that can tell whether anything answers it: the menu itself listens to every
// item, so it counts the listeners it had when it joined the menu and compares.
class MenuItem : public QAction {
public:
    using QAction::QAction;
    void joinedMenu() { m_menuListeners = listeners(); }
    bool answered() const { return listeners() > m_menuListeners; }

private:
    int listeners() const {
        return receivers(SIGNAL(triggered())) + receivers(SIGNAL(triggered(bool)));
    }
    int m_menuListeners = 0;
};

// The items that open a window: one the program does not have yet is shown disabled.
constexpr const char* kWindowItems[] = {"Preferences1", "MailList1", "CheckforUpdate2", "Help1",
                                        "About2"};

} // namespace

TF_CheckerWindow::TF_CheckerWindow(Session& session, PowerOff& powerOff, CheckTimerFactory* timers,
                                   QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowDoesNotAcceptFocus),
      m_session(session), m_powerOff(powerOff) {
    setObjectName(QStringLiteral("TF_CheckerWindow"));
    // A tool that sits aside: showing, floating or returning it never takes the keyboard
    // from the window the user works in, and its field hints show on hover although it is
    // almost never the active window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setWindowTitle(QString::fromLatin1(Title));
    QFont f(QStringLiteral("Arial"));
    f.setPointSize(8);
    setFont(f);
    if (!timers) {
        m_ownTimers = std::make_unique<QtCheckTimerFactory>(this);
        timers = m_ownTimers.get();
    }
    m_timers = timers;

    m_panel = new QWidget(this);
    m_panel->setObjectName(QStringLiteral("Panel1"));
    m_panel->installEventFilter(this);

    m_checkHost = new QtCheckHost(session, this);
    m_checkHost->setObjectName(QStringLiteral("CheckHost"));
    m_checkHost->onEndOfCheck = [this](const CheckResult& r) { EndOfCheckUpdate(r); };

    m_starter = [this](int a) { startDefaultCheck(a); };
    m_scheduler = std::make_unique<Scheduler>(session.settings(), session.runtime(),
                                              session.Quitting, session.Online, *m_timers, *this,
                                              [this](int a) { m_starter(a); });

    m_shutdown = new ShutdownCountdown(powerOff, this);

    buildPopupMenu();
    CheckerPlacement::Hooks placementHooks;
    placementHooks.ApplyOpacity = [this] { ApplyOpacity(); };
    placementHooks.EShowTest = [this] { EShowTest(); };
    placementHooks.minimised = [this] {
        if (m_aux.minimised)
            m_aux.minimised();
    };
    m_placement =
        new CheckerPlacement(*this, *m_panel, m_session, m_snap, std::move(placementHooks), this);
    m_placement->attachMenu(*m_popup);
    connect(m_placement, &CheckerPlacement::floatingChanged, m_floating2, &QAction::setChecked);
    connect(m_placement, &CheckerPlacement::alwaysOnTopChanged, m_alwaysOnTop2,
            &QAction::setChecked);

    CheckerTray::Hooks trayHooks;
    trayHooks.CheckAll = [this] { m_scheduler->CheckAll(); };
    trayHooks.animationStep = [this] {
        if (m_scheduler)
            m_scheduler->CoolTrayIcon1Cycle();
    };
    m_trayIcon = new CheckerTray(m_session, m_popup, std::move(trayHooks), this);

    m_notifier = new NewMailNotifier(m_session, m_soundPlayer, this);
    // Runs on the worker's thread; the notifier hands the settings over from this thread.
    m_checkHost->onSounds = [this](int account, long long count) {
        m_notifier->NewMailSounds(account, count);
    };
}

TF_CheckerWindow::~TF_CheckerWindow() {
    // The scheduler's timers belong to this window; they go before its children.
    m_scheduler.reset();
}

void TF_CheckerWindow::startDefaultCheck(int a) {
    auto worker = TIdCheckThread::forAccount(m_session, *m_checkHost, a, m_checkOptions);
    TIdCheckThread::start(std::move(worker));
}

void TF_CheckerWindow::buildPopupMenu() {
    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("PopupMenu1"));
    auto add = [](QMenu* menu, const char* name, const char* caption) {
        auto* a = new MenuItem(QString::fromLatin1(caption), menu);
        a->setObjectName(QString::fromLatin1(name));
        menu->addAction(a);
        a->joinedMenu();
        return static_cast<QAction*>(a);
    };
    auto sep = [](QMenu* menu, const char* name) {
        QAction* a = menu->addSeparator();
        a->setObjectName(QString::fromLatin1(name));
    };
    add(m_popup, "Preferences1", "Preferences...");
    QAction* mailList1 = add(m_popup, "MailList1", "Mail List...");
    sep(m_popup, "N1");
    add(m_popup, "CheckforUpdate2", "Check for Update...");
    QAction* help1 = add(m_popup, "Help1", "Help...");
    add(m_popup, "About2", "About...");
    sep(m_popup, "N5");
    m_floating2 = add(m_popup, "Floating2", "Floating");
    m_floating2->setCheckable(true);
    QMenu* positions = m_popup->addMenu(QStringLiteral("Floating Window Positions"));
    positions->setObjectName(QStringLiteral("WindowPositions1Menu"));
    positions->menuAction()->setObjectName(QStringLiteral("WindowPositions1"));
    add(positions, "MakeDefaultPosition1", "Make Default Position");
    add(positions, "MakeAlternativePosition1", "Make Alternative Position");
    sep(positions, "N6");
    add(positions, "ResetWindowPositions1", "Reset Window Positions");
    m_alwaysOnTop2 = add(m_popup, "AlwaysonTop2", "Always on Top");
    m_alwaysOnTop2->setCheckable(true);
    sep(m_popup, "N7");
    m_online1 = add(m_popup, "online1", Scheduler::GoOfflineCaption);
    m_restore1 = add(m_popup, "Restore1", "Hide");
    QAction* checkAll = add(m_popup, "CheckAll1", "Check All");
    QFont bold = checkAll->font();
    bold.setBold(true);
    checkAll->setFont(bold);
    m_popup->setDefaultAction(checkAll);
    sep(m_popup, "N8");
    QAction* quit = add(m_popup, "Quit2", "Quit");

    // The placement items (Floating2, the positions, AlwaysonTop2, Restore1) are the
    // placement's; the tray keeps the check marks in step when the menu opens.
    connect(m_online1, &QAction::triggered, this, [this] { m_scheduler->online1xClick(); });
    connect(checkAll, &QAction::triggered, this, [this] { m_scheduler->CheckAll(); });
    connect(mailList1, &QAction::triggered, this, [this] {
        if (m_mailList)
            m_mailList->showList(0);
    });
    connect(help1, &QAction::triggered, this, [this] {
        if (m_mailList)
            m_mailList->help();
    });
    connect(quit, &QAction::triggered, this, [this] { close(); });
    connect(m_popup, &QMenu::aboutToShow, this, [this] { updateWindowItems(); });

    // The menu's pictures.
    for (QAction* a : m_popup->findChildren<QAction*>()) {
        const QIcon icon = MenuIcons::forItem(a->objectName());
        if (!icon.isNull())
            a->setIcon(icon);
    }
}

void TF_CheckerWindow::updateWindowItems() {
    for (const char* name : kWindowItems) {
        if (auto* item = static_cast<MenuItem*>(m_popup->findChild<QAction*>(name)))
            item->setEnabled(item->answered());
    }
}

void TF_CheckerWindow::setAuxCommands(AuxCommands commands) {
    for (const QMetaObject::Connection& c : m_auxConnections)
        disconnect(c);
    m_auxConnections.clear();
    m_aux = std::move(commands);
    const struct {
        const char* action;
        std::function<void()> AuxCommands::*command;
    } items[] = {{"CheckforUpdate2", &AuxCommands::checkForUpdate},
                 {"About2", &AuxCommands::about}};
    for (const auto& item : items) {
        QAction* a = m_popup->findChild<QAction*>(QString::fromLatin1(item.action));
        if (!a || !(m_aux.*item.command))
            continue;
        const auto command = item.command;
        m_auxConnections.push_back(connect(a, &QAction::triggered, this, [this, command] {
            if (m_aux.*command)
                (m_aux.*command)();
        }));
    }
}

void TF_CheckerWindow::setAlwaysOnTop(bool on) {
    m_placement->setAlwaysOnTop(on);
}

void TF_CheckerWindow::setSoundPlayer(SoundPlayer* player) {
    m_soundPlayer = player;
    m_notifier->setPlayer(player);
}

void TF_CheckerWindow::createAccountObjects(int a) {
    const AccountSettings& acc = m_session.settings().account(a);
    auto* field = new CheckerField(a, m_panel);
    field->setToolTip(uiText(acc.Name));
    field->setColor(Scheduler::normalColor(acc));
    connect(field, &CheckerField::doubleClicked, this, [this](int n) { m_scheduler->checkNow(n); });
    m_fields.push_back(field);

    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("FieldMenu%1").arg(a));
    QAction* checkNow = menu->addAction(QStringLiteral("Check Now"));
    QFont bold = checkNow->font();
    bold.setBold(true);
    checkNow->setFont(bold);
    menu->setDefaultAction(checkNow);
    QAction* launch = menu->addAction(QStringLiteral("Launch Email Client"));
    QAction* reset = menu->addAction(QStringLiteral("Reset Connection"));
    QAction* hide = menu->addAction(QStringLiteral("Hide Messages"));
    QAction* list = menu->addAction(QStringLiteral("Email List..."));
    list->setEnabled(acc.List);
    m_fieldListItems.push_back(list);
    connect(checkNow, &QAction::triggered, this, [this, a] { m_scheduler->checkNow(a); });
    connect(launch, &QAction::triggered, this, [this, a] { launchMailClient(a); });
    connect(reset, &QAction::triggered, this, [this, a] { m_scheduler->ResetConnection(a); });
    connect(hide, &QAction::triggered, this, [this, a] { HideMessages(a); });
    connect(list, &QAction::triggered, this, [this, a] {
        if (m_mailList)
            m_mailList->showList(a);
    });
    field->setFieldMenu(menu);
    m_fieldMenus.push_back(menu);
}

void TF_CheckerWindow::E_Setlengths(bool moveForNewAccounts) {
    // The session keeps the run-time records (and the published settings) in step with the
    // accounts; the window only follows with its fields.
    m_session.syncWithSettings();
    const int count = m_session.settings().accountCount();
    while (static_cast<int>(m_fields.size()) > count) {
        delete m_fields.back();
        m_fields.pop_back();
        m_fieldMenus.back()->deleteLater();
        m_fieldMenus.pop_back();
        m_fieldListItems.pop_back();
    }
    const int ppi = this->ppi();
    for (int a = static_cast<int>(m_fields.size()) + 1; a <= count; ++a) {
        createAccountObjects(a);
        m_scheduler->syncAccounts();
        if (moveForNewAccounts) {
            MainSettings& m = m_session.settings().Main;
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            m.currentX = addedAccountCurrentX({m.CheckerWidth, m.CheckerHeight, m.VSpace, m.HSpace},
                                              ppi, width(), x(), m.currentX, screen.width());
            m_placement->moveChecker(m.currentX, y());
            m.defaultX = m.currentX;
        }
    }
    m_scheduler->syncAccounts();
    EShowTest();
    if (m_mailList)
        m_mailList->BuildAccountMenu();
}

void TF_CheckerWindow::setMailList(MailListPresenter* list) {
    m_mailList = list;
    m_placement->setMailListWindow(dynamic_cast<QWidget*>(list));
}

int TF_CheckerWindow::ppi() const {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? static_cast<int>(std::lround(s->logicalDotsPerInch())) : 96;
}

void TF_CheckerWindow::EShowTest() {
    const Settings& s = m_session.settings();
    const MainSettings& m = s.Main;
    std::vector<bool> shown;
    for (int a = 1; a <= static_cast<int>(m_fields.size()); ++a)
        shown.push_back(a <= s.accountCount() && s.account(a).Show);
    m_layout = computeCheckerLayout({m.CheckerWidth, m.CheckerHeight, m.VSpace, m.HSpace}, ppi(),
                                    shown, m.Round);
    for (std::size_t i = 0; i < m_fields.size(); ++i) {
        CheckerField* f = m_fields[i];
        const CheckerLayout::Field& g = m_layout.fields[i];
        if (g.visible) {
            f->setGeometry(g.rect.left, g.rect.top, g.rect.width, g.rect.height);
            f->setPointSize(m.FontSize);
            f->show();
        } else {
            f->hide();
        }
    }
    SetColorSet();
    setFixedSize(std::max(1, m_layout.width), std::max(1, m_layout.height));
    m_panel->setGeometry(0, 0, m_layout.width, m_layout.height);
    const CheckerRegion& r = m_layout.region;
    if (r.round) {
        QPainterPath path;
        path.addRoundedRect(QRectF(0, 0, r.width, r.height), r.ellipseWidth / 2.0,
                            r.ellipseHeight / 2.0);
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    } else {
        setMask(QRegion(0, 0, r.width, r.height));
    }
    update();
}

CheckerField* TF_CheckerWindow::EShowVar(int account) const {
    if (account < 1 || account > static_cast<int>(m_fields.size()))
        return nullptr;
    return m_fields[static_cast<std::size_t>(account - 1)];
}

QMenu* TF_CheckerWindow::fieldMenu(int account) const {
    if (account < 1 || account > static_cast<int>(m_fieldMenus.size()))
        return nullptr;
    return m_fieldMenus[static_cast<std::size_t>(account - 1)];
}

void TF_CheckerWindow::SetColorSet() {
    const Settings& s = m_session.settings();
    const CheckerColors& c = s.Main.Colors;
    m_panelBevels = panelHasBevels(s.Main.BlueSetInUse, s.Main.Round);
    for (int a = 1; a <= static_cast<int>(m_fields.size()) && a <= s.accountCount(); ++a) {
        CheckerField* f = EShowVar(a);
        f->setColor(Scheduler::normalColor(s.account(a)));
        f->setBevel(c.BorderSize);
        f->setFontColor(c.Font);
    }
    m_panel->update();
}

void TF_CheckerWindow::BlueColorSet() {
    m_session.settingsStore().loadColorSet();
    SetColorSet();
}

void TF_CheckerWindow::GrayColorSet() {
    tarn::GrayColorSet(m_session.settings().Main);
    SetColorSet();
}

void TF_CheckerWindow::paintPanel() {
    QPainter p(m_panel);
    const CheckerColors& c = m_session.settings().Main.Colors;
    const QColor back = CheckerField::toQColor(c.Back);
    p.fillRect(m_panel->rect(), back);
    if (!m_panelBevels || c.BorderSize <= 0)
        return;
    // Outer raised bevel inside the one-pixel frame, then the inner lowered one.
    const QColor light = back.lighter(160);
    const QColor dark = back.darker(200);
    auto bevel = [&](int inset, bool raised) {
        for (int i = 0; i < c.BorderSize; ++i) {
            const QRect b =
                m_panel->rect().adjusted(inset + i, inset + i, -inset - i - 1, -inset - i - 1);
            p.setPen(raised ? light : dark);
            p.drawLine(b.topLeft(), b.topRight());
            p.drawLine(b.topLeft(), b.bottomLeft());
            p.setPen(raised ? dark : light);
            p.drawLine(b.bottomLeft(), b.bottomRight());
            p.drawLine(b.topRight(), b.bottomRight());
        }
    };
    bevel(1, true);
    bevel(1 + c.BorderSize, false);
}

void TF_CheckerWindow::PaintField(int account, std::uint32_t color) {
    if (CheckerField* f = EShowVar(account))
        f->setColor(color);
}

void TF_CheckerWindow::SetFieldHint(int account, const std::string& text) {
    if (CheckerField* f = EShowVar(account))
        f->setToolTip(uiText(text));
}

void TF_CheckerWindow::UpdateFieldCount(int account) {
    CheckerField* f = EShowVar(account);
    if (!f)
        return;
    long long count = 0;
    {
        NamedLock lock(m_session.db().mutex());
        count = m_session.db().CountShownMessages(account);
    }
    f->setText(QString::number(count));
    update();
}

std::string TF_CheckerWindow::timeOfDay() const {
    const double d = m_session.clock().localDateTime();
    int minutes = static_cast<int>(std::floor((d - std::floor(d)) * 1440.0 + 1e-6));
    minutes = std::clamp(minutes, 0, 1439);
    const int hours = minutes / 60;
    minutes %= 60;
    std::string hhmm(5, ':');
    hhmm[0] = static_cast<char>('0' + hours / 10);
    hhmm[1] = static_cast<char>('0' + hours % 10);
    hhmm[3] = static_cast<char>('0' + minutes / 10);
    hhmm[4] = static_cast<char>('0' + minutes % 10);
    return hhmm;
}

void TF_CheckerWindow::ShowCheckResult(int account, bool withTime) {
    UpdateFieldCount(account);
    const Settings& s = m_session.settings();
    if (withTime && account >= 1 && account <= s.accountCount())
        SetFieldHint(account, s.account(account).Name + " " + timeOfDay());
}

void TF_CheckerWindow::ApplyOpacity() {
    setWindowOpacity((m_session.settings().Main.TransparencyValue & 0xFF) / 255.0);
}

void TF_CheckerWindow::HideMessages(int account) {
    const bool trayNow = m_session.HideMessages(account, m_scheduler->activityTimer().isActive());
    UpdateFieldCount(account);
    if (m_mailList)
        m_mailList->RebuildList(m_mailList->viewAccount());
    if (trayNow)
        UpdateTrayState();
}

void TF_CheckerWindow::EndOfCheckUpdate(const CheckResult& result) {
    MailListState list;
    if (m_mailList) {
        list.present = true;
        list.viewAccount = m_mailList->viewAccount();
        list.visible = m_mailList->listVisible();
    }
    const EndOfCheckSteps steps = endOfCheck(m_session, result, list, timeOfDay());
    const int a = steps.account;
    if (a == 0)
        return;
    PaintField(a, steps.fieldColor);
    ShowCheckResult(a, true);
    if (steps.failed)
        SetFieldHint(a, steps.fieldHint);
    if (m_mailList) {
        if (steps.failed)
            m_mailList->showCheckFailure(a, steps.failureReason);
        if (steps.rebuildList)
            m_mailList->RebuildList(list.viewAccount);
        if (steps.popupList)
            m_mailList->popupList(a);
    }
    if (steps.startShutdown)
        m_shutdown->StartShutdownTimer();
}

void TF_CheckerWindow::setMailListItemEnabled(int account, bool enabled) {
    if (account >= 1 && account <= static_cast<int>(m_fieldListItems.size()))
        m_fieldListItems[account - 1]->setEnabled(enabled);
}

void TF_CheckerWindow::launchMailClient(int a) {
    const Settings& s = m_session.settings();
    if (a < 1 || a > s.accountCount())
        return;
    MailClientLauncher launcher;
    launcher.launch(s.account(a).DefaultMailClient, s.account(a).CustomMailClientPath,
                    [this](const std::string& text) {
                        QMessageBox::critical(this, QString::fromLatin1(Title), uiText(text));
                    });
}

void TF_CheckerWindow::CoolTrayIcon1Click() {
    m_placement->CoolTrayIcon1Click();
}

void TF_CheckerWindow::moveChecker(int x, int y) {
    m_placement->moveChecker(x, y);
}

void TF_CheckerWindow::setOnlineCaption(const std::string& caption) {
    m_online1->setText(uiText(caption));
    // The scheduler names the new state here, after it has switched: the store's listeners
    // hear of it once.
    m_session.settingsStore().setOnline(m_session.Online);
}

bool TF_CheckerWindow::checkerVisible() const {
    return isVisible();
}

void TF_CheckerWindow::hideForOffline() {
    m_placement->hideChecker();
}

void TF_CheckerWindow::showForOnline() {
    m_placement->showChecker();
}

void TF_CheckerWindow::showOfflineIcon() {
    m_trayIcon->showOfflineIcon();
}

bool TF_CheckerWindow::trayAnimating() const {
    return m_trayIcon->animating();
}

void TF_CheckerWindow::startTrayAnimation(bool withMail) {
    m_trayIcon->startAnimation(withMail);
}

void TF_CheckerWindow::stopTrayAnimation() {
    m_trayIcon->stopAnimation();
}

void TF_CheckerWindow::UpdateTrayState() {
    m_trayIcon->UpdateTrayState();
}

std::string TF_CheckerWindow::trayHint() const {
    return m_trayIcon->hint();
}

int TF_CheckerWindow::trayImage() const {
    return m_trayIcon->image();
}

bool TF_CheckerWindow::anyShownMessage() {
    return m_session.AnyShownMessage();
}

bool TF_CheckerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_panel)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint:
        paintPanel();
        return true;
    case QEvent::ContextMenu:
        m_popup->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool TF_CheckerWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !m_activatedOnce) {
        m_activatedOnce = true;
        EShowTest();
    }
    return QWidget::event(event);
}

void TF_CheckerWindow::closeEvent(QCloseEvent* event) {
    if (m_onClose) {
        auto handler = std::move(m_onClose);
        m_onClose = nullptr;
        handler();
    }
    event->accept();
}

} // namespace tarn
