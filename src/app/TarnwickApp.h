#pragma once

#include "check/TIdCheckThread.h"
#include "core/CommandLine.h"
#include "push/PushAccounts.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace tarn {

class SecretStore;

class CheckTimerFactory;
class PowerOff;
class Session;
class SoundPlayer;
class TF_About;
class TF_CheckerWindow;
class TF_Prefs;
class TF_DYKT;
class DesktopNotifications;
class NewMailNotification;
class PushLink;
class SleepMonitor;
class EMailListViewerLink;
class TF_EMailList;
class TF_Update;

struct StartOptions {
    std::vector<std::string> args;       // the command line without the program name
    std::string currentFolder;           // the working folder unless "-d" says otherwise
    PowerOff* powerOff = nullptr;        // null: one that refuses
    CheckTimerFactory* timers = nullptr; // null: QTimers
    std::string lockSuffix;              // tests keep their named locks apart
    SoundPlayer* soundPlayer = nullptr;  // null: the program's own media player
    CheckOptions checkOptions;
    PushOptions pushOptions;
    // Where desktop notices go and where the wake-up from suspend comes from: a D-Bus
    // address, empty for the session bus (notices) and the system bus (logind), "none" for
    // neither.
    std::string noticeBus;
    std::string sleepBus;
    std::string programPath; // the program's own file; empty: this process's
    // The desktop keyring for saved passwords; null: they stay scrambled in tarn.ini.
    SecretStore* secretStore = nullptr;
};

// Runs the program's start-up and its exit procedure around the checker window.
class TarnwickApp : public QObject {
    Q_OBJECT
public:
    explicit TarnwickApp(StartOptions options);
    ~TarnwickApp() override;

    // The whole start-up up to the running message loop.
    void start();
    // Quitting, settings, hide, mail list, free, end of the message loop. Runs once.
    void exitProcedure();
    // After the message loop: true when no check worker runs any more within the wait, so
    // the objects may be destroyed; otherwise the caller must end the process without
    // destroying them.
    bool workersGone(std::chrono::milliseconds wait) const;
    // SIGTERM and SIGINT run the exit procedure (through a self-pipe into the message loop).
    void installSignalHandlers();

    Session& session() { return *m_session; }
    TF_CheckerWindow& window() { return *m_window; }
    TF_Prefs& prefs() { return *m_prefs; }
    TF_DYKT& tips() { return *m_dykt; }
    TF_EMailList& mailList() { return *m_mailList; }
    PushLink& push() { return *m_push; }
    DesktopNotifications* notices() const { return m_notices; }
    SleepMonitor* sleepMonitor() const { return m_sleep; }
    TF_About& about() { return *m_about; }
    TF_Update& update() { return *m_update; }
    bool firstStart() const { return m_firstStart; }
    bool releaseChanged() const { return m_releaseChanged; }
    bool addMenu() const { return m_addMenu; }
    const std::string& prefsName() const { return m_prefsName; }
    bool exited() const { return m_exited; }
    // The last failure to write tarn.ini or the mail list (empty when none).
    const std::string& lastSaveError() const { return m_saveError; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showStartupTips();
    void saveSettings();
    void copyShippedFiles();
    void createAuxWindows();

    StartOptions m_options;
    bool m_tipsAfterPreferences = false; // first start: the tips follow the preferences
    std::unique_ptr<Session> m_session;
    std::unique_ptr<TF_CheckerWindow> m_window;
    std::unique_ptr<TF_Prefs> m_prefs;
    std::unique_ptr<TF_DYKT> m_dykt;
    std::unique_ptr<EMailListViewerLink> m_viewer;
    std::unique_ptr<TF_EMailList> m_mailList;
    std::unique_ptr<TF_About> m_about;
    std::unique_ptr<TF_Update> m_update;
    bool m_firstStart = false;
    bool m_releaseChanged = false;
    bool m_addMenu = false;
    std::string m_prefsName = kDefaultPrefsName;
    bool m_exited = false;
    std::string m_saveError;
    QSocketNotifier* m_signalNotifier = nullptr;
    DesktopNotifications* m_notices = nullptr;
    NewMailNotification* m_newMail = nullptr;
    SleepMonitor* m_sleep = nullptr;
    std::unique_ptr<PushLink> m_push;
};

} // namespace tarn
