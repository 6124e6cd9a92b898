#include "app/TarnwickApp.h"

#include "app/NewMailNotification.h"
#include "app/PushLink.h"
#include "auxwin/TF_About.h"
#include "auxwin/TF_DYKT.h"
#include "auxwin/TF_Update.h"
#include "check/Session.h"
#include "check/SessionStartup.h"
#include "checker/CheckerPlacement.h"
#include "checker/QtCheckHost.h"
#include "checker/QtSoundPlayer.h"
#include "checker/TF_CheckerWindow.h"
#include "checker/UiText.h"
#include "core/CheckerLayout.h"
#include "core/CommandLine.h"
#include "core/ProgramAddresses.h"
#include "core/Settings.h"
#include "core/StartupDecisions.h"
#include "maillist/EMailListViewerLink.h"
#include "maillist/TF_EMailList.h"
#include "platform/PowerOff.h"
#include "platform/dbus/DesktopNotifications.h"
#include "platform/dbus/SleepMonitor.h"
#include "prefs/GeneralPage.h"
#include "prefs/TF_Prefs.h"
#include "store/MailStoreFiles.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSocketNotifier>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace tarn {

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    // Nothing else is safe here; the message loop does the rest.
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

TarnwickApp::TarnwickApp(StartOptions options) : m_options(std::move(options)) {}

TarnwickApp::~TarnwickApp() {
    m_push.reset();
    // The windows hold references into the session; the dialog refers to the mail list and
    // the checker, the mail list to the checker.
    m_prefs.reset();
    m_viewer.reset();
    m_dykt.reset();
    if (m_window) {
        m_window->setMailList(nullptr);
        m_window->setAuxCommands({});
    }
    m_about.reset();
    m_update.reset();
    m_mailList.reset();
    m_window.reset();
}

void TarnwickApp::start() {
    // The named locks come first, before anything can use the mail list.
    SessionStartup::Options startOptions;
    startOptions.currentFolder = m_options.currentFolder;
    startOptions.args = m_options.args;
    startOptions.lockSuffix = m_options.lockSuffix;
    startOptions.imapPort = m_options.checkOptions.imapPort;
    SessionStartup startup(std::move(startOptions));
    m_session = startup.release();
    m_session->settingsStore().setSecretStore(m_options.secretStore);
    // Keyring calls of a save run on a thread of their own; what they confirm is written here.
    m_session->settingsStore().setMainThreadPoster([](std::function<void()> f) {
        QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
    });
    m_session->settingsStore().probeKeyring();
    const CommandLineBefore& before = startup.commandLine();
    m_addMenu = before.AddMenu;
    m_prefsName = before.PrefsName;
    if (m_options.programPath.empty())
        m_options.programPath = QCoreApplication::applicationFilePath().toStdString();

    PowerOff& powerOff = m_options.powerOff ? *m_options.powerOff : refusingPowerOff();
    m_window = std::make_unique<TF_CheckerWindow>(*m_session, powerOff, m_options.timers);
    m_window->setCheckOptions(m_options.checkOptions);
    TF_CheckerWindow& w = *m_window;
    SoundPlayer* player = m_options.soundPlayer;
    if (!player) {
        auto* mediaPlayer = new QtSoundPlayer(&w);
        mediaPlayer->setObjectName(QStringLiteral("MediaPlayer1"));
        player = mediaPlayer;
    }
    w.setSoundPlayer(player);
    w.setCloseHandler([this] { exitProcedure(); });

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenRect =
        screen ? screen->geometry() : QRect(0, 0, kFallbackScreen.width, kFallbackScreen.height);
    const int ppi = w.ppi();
    SettingsReadInputs inputs;
    inputs.screen = {screenRect.width(), screenRect.height()};
    inputs.layout = [ppi](const Settings& s) {
        std::vector<bool> shown;
        for (const AccountSettings& a : s.Accounts)
            shown.push_back(a.Show);
        const MainSettings& m = s.Main;
        const CheckerLayout l = computeCheckerLayout(
            {m.CheckerWidth, m.CheckerHeight, m.VSpace, m.HSpace}, ppi, shown, m.Round);
        return WindowSize{l.width, l.height};
    };
    Settings& settings = m_session->settings();
    const SettingsReadResult read = startup.readSettings(std::move(inputs));
    m_releaseChanged = read.ReleaseChanged;
    m_firstStart = read.FirstStart;
    // A first run gets the shipped sounds, tips, help, read-me and FAQ; later runs leave the
    // working folder as the user keeps it.
    if (m_firstStart)
        copyShippedFiles();

    // The window starts online; the saved state and AlwaysOffline may take it offline.
    const StartOnlineDecision online = decideStartOnline(settings.Main);
    if (online.goOffline && m_session->Online)
        w.scheduler().online1xClick();
    settings.Main.Hidden = online.hidden;

    m_session->syncWithSettings();
    w.E_Setlengths(false);

    w.moveChecker(settings.Main.currentX, settings.Main.currentY);
    const CommandLineAfter after = comandlineafter(m_options.args);
    if (after.Offline && m_session->Online)
        w.scheduler().online1xClick();
    if (after.Y) {
        settings.Main.currentY = *after.Y;
        w.moveChecker(w.x(), *after.Y);
    }
    if (after.X) {
        settings.Main.currentX = *after.X;
        w.moveChecker(*after.X, w.y());
    }

    w.placement().applyStayOnTopStyle();
    w.showForOnline();
    w.ApplyOpacity();
    if (m_firstStart) {
        Firststart(settings);
        m_session->syncWithSettings();
    }
    w.EShowTest();

    // The preferences dialog's creation hides the checker window when it should start hidden.
    PrefsOptions prefsOptions;
    prefsOptions.addMenu = m_addMenu;
    prefsOptions.programPath = m_options.programPath;
    prefsOptions.PrefsName = m_prefsName;
    prefsOptions.imapPort = m_options.checkOptions.imapPort;
    m_prefs = std::make_unique<TF_Prefs>(*m_session, w, std::move(prefsOptions));
    m_prefs->setFirstStart(m_firstStart);
    w.placement().setPreferencesWindow(m_prefs.get());
    if (auto* preferences = w.popupMenu()->findChild<QAction*>(QStringLiteral("Preferences1")))
        connect(preferences, &QAction::triggered, m_prefs.get(),
                [this] { m_prefs->openPreferences(); });

    createAuxWindows();

    const std::set<int> changed = startup.loadMailList([](const std::string& text) {
        QMessageBox::critical(nullptr, QStringLiteral("Tarnwick"), uiText(text));
    });
    for (int a : changed)
        w.UpdateFieldCount(a);
    if (m_session->Online)
        w.UpdateTrayState();
    // The mail list window reads its section of tarn.ini and waits, hidden, for its callers.
    m_mailList = std::make_unique<TF_EMailList>(*m_session, w);
    w.setMailList(m_mailList.get());
    TF_EMailList& list = *m_mailList;
    MailListHooks prefsHooks;
    prefsHooks.show = [&list] { list.showList(list.viewAccount()); };
    prefsHooks.BuildAccountMenu = [&list] { list.BuildAccountMenu(); };
    prefsHooks.PurgeMaillist = [&list] { list.A_PurgeMaillistExecute(); };
    m_prefs->setMailListHooks(std::move(prefsHooks));

    // New mail on the desktop, and the push accounts' idle connections.
    auto busNamed = [](const std::string& address, bool system, const char* name) {
        if (address.empty())
            return system ? QDBusConnection::systemBus() : QDBusConnection::sessionBus();
        return QDBusConnection::connectToBus(QString::fromStdString(address),
                                             QString::fromLatin1(name));
    };
    if (m_options.noticeBus != "none")
        m_notices =
            new DesktopNotifications(busNamed(m_options.noticeBus, false, "tarn-notices"), &w);
    m_newMail = new NewMailNotification(*m_session, m_notices, &w);
    m_newMail->openList = [&list](int account) { list.showList(account); };
    QtCheckHost& host = w.checkHost();
    auto endOfCheck = host.onEndOfCheck;
    host.onEndOfCheck = [this, endOfCheck](const CheckResult& r) {
        if (endOfCheck)
            endOfCheck(r);
        m_newMail->checkEnded(r); // the check's New marks are still set here
    };
    PushOptions push = m_options.pushOptions;
    push.imapPort = m_options.checkOptions.imapPort;
    m_push = std::make_unique<PushLink>(*m_session, w, m_prefs.get(), std::move(push));
    if (m_options.sleepBus != "none") {
        m_sleep = new SleepMonitor(busNamed(m_options.sleepBus, true, "tarn-sleep"), &w);
        connect(m_sleep, &SleepMonitor::wokeUp, this, [this] {
            if (m_push)
                m_push->wokeUp();
        });
    }

    // A first start opens the dialog on the first account and leaves a complete settings
    // file at once.
    if (m_firstStart) {
        try {
            m_prefs->showAtFirstStart();
        } catch (const std::exception& e) {
            m_saveError = e.what();
        }
    }

    // The tips window is the last window created.
    const std::string tipsPath = m_session->path("dykt.ini");
    // At a first start the preferences dialog comes first: the tips wait until it closes
    // rather than sit under it.
    const bool tipsAtStartup = settings.Main.DYKTStartup;
    if (m_firstStart)
        settings.Main.DYKTStartup = false;
    m_dykt = std::make_unique<TF_DYKT>(settings.Main, tipsPath, ProgramAddresses::homePage());
    settings.Main.DYKTStartup = tipsAtStartup;
    m_tipsAfterPreferences = m_firstStart && tipsAtStartup;
    if (m_tipsAfterPreferences) {
        if (m_prefs->isVisible())
            m_prefs->installEventFilter(this);
        else
            showStartupTips();
    }
    // The tips window and the preferences show the same "at startup" choice.
    m_dykt->setStartupChoiceHandler([this](bool on) {
        if (auto* general = m_prefs->page<GeneralPage>())
            general->setTipsAtStartup(on);
    });

    // The mail list's commands that open the other windows.
    m_viewer = std::make_unique<EMailListViewerLink>(*m_session, *m_mailList, w);
    m_mailList->setHook(TF_EMailList::Hook::ShowHeaders, [this] { m_viewer->showHeaders(); });
    m_mailList->setHook(TF_EMailList::Hook::ShowMessage, [this] { m_viewer->showMessages(); });
    m_mailList->setMessageOpener(
        [this](const std::vector<MessageKey>& rows) { m_viewer->showMessages(rows); });
    m_mailList->setHook(TF_EMailList::Hook::Preferences, [this] { m_prefs->openPreferences(); });
    m_mailList->setHook(TF_EMailList::Hook::Tips, [this] {
        m_dykt->show();
        m_dykt->raise();
        m_dykt->activateWindow();
    });
    m_mailList->setHook(TF_EMailList::Hook::About, [this] { m_about->showCentred(); });
}

void TarnwickApp::copyShippedFiles() {
    // The default files ship inside the program, so no installation layout can lose them;
    // the working folder gets an editable copy of each it lacks, never replacing the user's.
    const QDir shipped(QStringLiteral(":/defaults"));
    for (const QString& name : shipped.entryList(QDir::Files, QDir::Name)) {
        const QString target =
            QFile::decodeName(QByteArray::fromStdString(m_session->path(name.toStdString())));
        const QFileInfo info(target);
        if (info.exists() || info.isSymLink())
            continue;
        QFile source(shipped.filePath(name));
        if (!source.copy(target)) {
            std::fprintf(stderr, "tarnwick: cannot copy %s into %s: %s\n", qPrintable(name),
                         m_session->workingFolder().c_str(), qPrintable(source.errorString()));
            continue;
        }
        // The copy of a resource is read-only; the user's copy is not.
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                          QFile::ReadOther);
    }
}

void TarnwickApp::showStartupTips() {
    m_tipsAfterPreferences = false;
    if (m_dykt && m_session->settings().Main.DYKTStartup)
        m_dykt->show();
}

bool TarnwickApp::eventFilter(QObject* watched, QEvent* event) {
    if (m_prefs && watched == m_prefs.get() && event->type() == QEvent::Hide &&
        m_tipsAfterPreferences) {
        m_prefs->removeEventFilter(this);
        showStartupTips();
    }
    return QObject::eventFilter(watched, event);
}

void TarnwickApp::createAuxWindows() {
    m_about = std::make_unique<TF_About>(uiText(ProgramAddresses::homePage()),
                                         [this] { m_update->LaunchHomePage(); });
    m_update = std::make_unique<TF_Update>();
    m_update->setThreadRegistry(m_session->sharedThreads());
    TF_CheckerWindow::AuxCommands aux;
    aux.checkForUpdate = [this] { m_update->showCentred(); };
    aux.about = [this] { m_about->showCentred(); };
    aux.minimised = [this] { m_about->setGotcha(); };
    m_window->setAuxCommands(std::move(aux));
}

void TarnwickApp::saveSettings() {
    TF_CheckerWindow& w = *m_window;
    try {
        if (m_prefs)
            m_prefs->Save();
        else
            m_session->settingsStore().save(
                {m_session->Online.load(), !w.isVisible(), w.x(), w.y()});
    } catch (const std::exception& e) {
        m_saveError = e.what();
    }
}

void TarnwickApp::exitProcedure() {
    if (m_exited || !m_session || !m_window)
        return;
    m_exited = true;
    m_session->Quitting = true;
    // The idle connections log out on their own threads meanwhile.
    if (m_push)
        m_push->stopAll();
    // A failed write must not stop the exit.
    saveSettings();
    m_window->hide();
    if (m_prefs) {
        // Hiding now is part of the end, not the user closing the dialog.
        m_prefs->setFirstStart(false);
        m_prefs->hide();
    }
    if (m_session->settings().Main.KeepMailDB) {
        try {
            MailStoreFiles::SaveStore(m_session->db(), m_session->workingFolder(), true);
        } catch (const std::exception& e) {
            m_saveError = e.what();
        }
    }
    if (m_mailList) {
        m_mailList->hide();
        // The mail list window's section goes after the whole file, which keeps it as found.
        if (!m_mailList->SaveWindowSettings() && m_saveError.empty())
            m_saveError = "cannot write the mail list window's settings";
    }
    m_window->scheduler().activityTimer().stop();
    m_window->stopTrayAnimation();
    QCoreApplication::quit();
}

bool TarnwickApp::workersGone(std::chrono::milliseconds wait) const {
    return !m_session || m_session->waitForWorkers(wait);
}

void TarnwickApp::installSignalHandlers() {
    if (g_signalPipe[0] < 0) {
        if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
    }
    m_signalNotifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(m_signalNotifier, &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (::read(g_signalPipe[0], buf, sizeof buf) > 0) {
        }
        exitProcedure();
    });
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    // The session manager's end of the session quits the application: save then too.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { exitProcedure(); });
}

} // namespace tarn
