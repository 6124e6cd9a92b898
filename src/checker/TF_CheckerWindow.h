#pragma once

#include "check/CheckHost.h"
#include "check/TIdCheckThread.h"
#include "core/CheckerLayout.h"
#include "core/Scheduler.h"
#include "core/WindowSnap.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;

namespace tarn {

class CheckerField;
class CheckerPlacement;
class CheckerTray;
class MailListPresenter;
class NewMailNotifier;
class PowerOff;
class QtCheckHost;
class QtCheckTimerFactory;
class Session;
class ShutdownCountdown;
class SoundPlayer;

// The checker window: one coloured field per shown account on a background panel, the tray
// menu, the tray icon, and the scheduler that checks the accounts.
class TF_CheckerWindow : public QWidget, public SchedulerHost {
    Q_OBJECT
public:
    static constexpr const char* Title = "Tarnwick";
    static constexpr const char* TimeFormat = "hh:mm";

    // timers: null for QTimers. powerOff: the service a filter's shutdown ends in.
    TF_CheckerWindow(Session& session, PowerOff& powerOff, CheckTimerFactory* timers = nullptr,
                     QWidget* parent = nullptr);
    ~TF_CheckerWindow() override;

    Session& session() { return m_session; }
    Scheduler& scheduler() { return *m_scheduler; }
    QtCheckHost& checkHost() { return *m_checkHost; }
    // Replaces how a check worker is started (tests); the default starts TIdCheckThread.
    void setCheckStarter(CheckStarter starter) { m_starter = std::move(starter); }
    void setCheckOptions(const CheckOptions& options) { m_checkOptions = options; }
    // The mail list window the checker's commands and the end of each check reach; none
    // until it exists.
    void setMailList(MailListPresenter* list);
    MailListPresenter* mailList() const { return m_mailList; }
    void launchMailClient(int account);
    // Runs when the window is asked to close, before the close is granted (the exit).
    void setCloseHandler(std::function<void()> handler) { m_onClose = std::move(handler); }
    // The windows above this one that its menu and its minimise reach.
    struct AuxCommands {
        std::function<void()> checkForUpdate; // "Check for Update..."
        std::function<void()> about;          // "About..."
        std::function<void()> minimised;      // after a minimise request hid the window
    };
    // The menu items answer the commands that are set; the others show disabled.
    void setAuxCommands(AuxCommands commands);

    // --- operations of the checker window ---
    // Sizes the per-account objects to the accounts; moveForNewAccounts applies the
    // right-edge rule for accounts added while running.
    void E_Setlengths(bool moveForNewAccounts = true);
    void EShowTest();
    CheckerField* EShowVar(int account) const;
    void SetColorSet();
    void BlueColorSet();
    void GrayColorSet();
    void PaintField(int account, std::uint32_t color) override;
    void SetFieldHint(int account, const std::string& text);
    // "HH:MM" since the account's push connection went down, empty once it is back.
    void setPushDownSince(int account, const std::string& since);
    void UpdateFieldCount(int account);
    void ShowCheckResult(int account, bool withTime);
    void ApplyOpacity();
    void HideMessages(int account);
    void EndOfCheckUpdate(const CheckResult& result);
    // The show/hide toggle (Restore1).
    void CoolTrayIcon1Click();
    // Moves the window through the edge snapping.
    void moveChecker(int x, int y);
    void setAlwaysOnTop(bool on);
    // Window placement, the tray icon and the new-mail sounds.
    CheckerPlacement& placement() { return *m_placement; }
    CheckerTray& tray() { return *m_trayIcon; }
    NewMailNotifier& notifier() { return *m_notifier; }

    // --- what tests and the application read ---
    const CheckerLayout& layout() const { return m_layout; }
    const CheckerRegion& region() const { return m_layout.region; }
    bool panelBevels() const { return m_panelBevels; }
    QWidget* panel() const { return m_panel; }
    QMenu* popupMenu() const { return m_popup; }
    QMenu* fieldMenu(int account) const;
    // Enables the "Email List..." item of account's field menu.
    void setMailListItemEnabled(int account, bool enabled);
    std::string trayHint() const;
    int trayImage() const;
    ShutdownCountdown& shutdownCountdown() { return *m_shutdown; }
    // The media player the new-mail sounds use (MediaPlayer1); none plays nothing.
    void setSoundPlayer(SoundPlayer* player);
    SoundPlayer* soundPlayer() const { return m_soundPlayer; }
    int ppi() const;
    // The time of day of the session's clock as "hh:mm".
    std::string timeOfDay() const;

    // --- SchedulerHost ---
    void setOnlineCaption(const std::string& caption) override;
    bool checkerVisible() const override;
    void hideForOffline() override;
    void showForOnline() override;
    void showOfflineIcon() override;
    bool trayAnimating() const override;
    void startTrayAnimation(bool withMail) override;
    void stopTrayAnimation() override;
    void UpdateTrayState() override;
    bool anyShownMessage() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildPopupMenu();
    // Enables the items that open a window when something answers them (when the menu opens).
    void updateWindowItems();
    void createAccountObjects(int account);
    void paintPanel();
    void startDefaultCheck(int account);

    Session& m_session;
    PowerOff& m_powerOff;
    std::unique_ptr<QtCheckTimerFactory> m_ownTimers;
    CheckTimerFactory* m_timers;
    QtCheckHost* m_checkHost;
    CheckStarter m_starter;
    CheckOptions m_checkOptions;
    std::unique_ptr<Scheduler> m_scheduler;
    QWidget* m_panel = nullptr;
    std::vector<CheckerField*> m_fields;
    std::vector<QMenu*> m_fieldMenus;
    std::vector<QAction*> m_fieldListItems; // each field menu's "Email List..."
    QMenu* m_popup = nullptr;
    QAction* m_online1 = nullptr;
    QAction* m_restore1 = nullptr;
    QAction* m_floating2 = nullptr;
    QAction* m_alwaysOnTop2 = nullptr;
    CheckerPlacement* m_placement = nullptr;
    CheckerTray* m_trayIcon = nullptr;
    NewMailNotifier* m_notifier = nullptr;
    ShutdownCountdown* m_shutdown = nullptr;
    SoundPlayer* m_soundPlayer = nullptr;
    CheckerLayout m_layout;
    bool m_panelBevels = true;
    bool m_activatedOnce = false;
    WindowSnap m_snap;
    std::function<void()> m_onClose;
    AuxCommands m_aux;
    std::vector<QMetaObject::Connection> m_auxConnections;
    MailListPresenter* m_mailList = nullptr;
};

} // namespace tarn
