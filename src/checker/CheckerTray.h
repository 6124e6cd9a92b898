#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <string>

class QAction;
class QMenu;

namespace tarn {

class Session;
class TrayAnimation;

// The checker window's tray icon: its hint, its static pictures, the two checking
// animations and the tray menu. Without a notification area the icon is never shown, but
// the state it would show is kept and can be read.
class CheckerTray : public QObject {
    Q_OBJECT
public:
    static constexpr const char* InitialHint = "Tarnwick";

    struct Hooks {
        // The menu's default item (a double-click on the icon).
        std::function<void()> CheckAll;
        // Each step of the animation. The scheduler decides there whether the checks are over
        // (then it stops the animation and Timer6 and has the tray show the mail state).
        std::function<void()> animationStep;
    };

    // popup: the tray menu PopupMenu1 built by the checker window.
    CheckerTray(Session& session, QMenu* popup, Hooks hooks, QObject* parent = nullptr);
    ~CheckerTray() override;

    // Hint and picture from the number of messages not hidden, and the online state.
    void UpdateTrayState();
    void showOfflineIcon();
    // 0 no mail, 1 mail waiting, 2 offline; the icon stays empty until the first call.
    void setStaticImage(int index);
    void setHint(const std::string& hint);

    void startAnimation(bool withMail);
    void stopAnimation();
    bool animating() const;
    // A step of the animation, handed to the animationStep hook.
    void CoolTrayIcon1Cycle();

    // What the icon shows (also without a notification area).
    std::string hint() const { return m_hint; }
    // The static picture last set, -1 while empty; while animating see animationFrame().
    int image() const { return m_image; }
    // The animation's current frame and which list it runs (ImageList6 when withMail).
    int animationFrame() const;
    bool animationWithMail() const { return m_animationWithMail; }
    QIcon icon() const { return m_icon; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    TrayAnimation* animation() const { return m_animation; }
    QMenu* menu() const;

    // What the icon does on a click: a double-click runs Check All.
    void activated(QSystemTrayIcon::ActivationReason reason);

private:
    void setIcon(const QIcon& icon);
    void syncCheckMarks();

    Session& m_session;
    QPointer<QMenu> m_popup;
    Hooks m_hooks;
    QSystemTrayIcon* m_tray = nullptr;
    TrayAnimation* m_animation = nullptr;
    std::string m_hint = InitialHint;
    int m_image = -1;
    bool m_animationWithMail = false;
    QIcon m_icon;
};

} // namespace tarn
