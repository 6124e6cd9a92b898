#pragma once

#include "core/WindowSnap.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <optional>

class QAction;
class QMenu;
class QTimer;
class QWidget;

namespace tarn {

class Session;

// Where the checker window sits and how it moves: snapping to the edges of the work area,
// dragging by the background, floating away from the mouse and back, the remembered
// positions, staying on top, the show/hide toggle and what a minimise request does.
class CheckerPlacement : public QObject {
    Q_OBJECT
public:
    static constexpr const char* DefaultSameWarning =
        "Warning: Default and Alternative Positions are the Same!";
    static constexpr const char* AlternativeSameWarning =
        "Warning: Default and Alternative Positions Are the Same!";
    static constexpr const char* HideCaption = "Hide";
    static constexpr const char* ShowCaption = "Show";

    // What the window does when the placement changes its style.
    struct Hooks {
        std::function<void()> ApplyOpacity;
        std::function<void()> EShowTest;
        // After a minimise request hid the window (the about box's "Gotcha").
        std::function<void()> minimised;
    };

    // background: the widget that fills the window (Panel1); presses and movements over it
    // drag and float the window, those over its children (the fields) do not. snap keeps the
    // sticky snapped flag for the whole process.
    CheckerPlacement(QWidget& window, QWidget& background, Session& session, WindowSnap& snap,
                     Hooks hooks, QObject* parent = nullptr);
    ~CheckerPlacement() override;

    // Connects the placement items of the tray menu, found by their names: Floating2,
    // MakeDefaultPosition1, MakeAlternativePosition1, ResetWindowPositions1, AlwaysonTop2,
    // Restore1.
    void attachMenu(QMenu& popup);
    // Windows hidden along with the checker (preferences), and re-centred on a reset (mail
    // list).
    void setPreferencesWindow(QWidget* prefs) { m_prefs = prefs; }
    void setMailListWindow(QWidget* mailList) { m_mailList = mailList; }

    // Every move of the checker window goes through here: snapping, then the move.
    void moveChecker(int x, int y);
    // The snapped position for a proposal of the window's present size (nothing moves).
    WindowGeometry snapped(int x, int y, int cx, int cy);
    // The usable part of the primary screen.
    static WorkArea workArea();

    // Jumps between the default and the alternative position with snapping off.
    void floatingJump();
    // The float-back timer's tick.
    void Timer7Timer();
    // Mouse movement over the background with or without Ctrl held.
    void backgroundMouseMoved(bool ctrlHeld);
    QTimer* floatBackTimer() const { return m_timer7; }

    // The menu commands. The two "Make" commands store the position and, when the two
    // positions are then equal, throw TarnError with the warning.
    void Floating2Click();
    void MakeDefaultPosition1Click();
    void MakeAlternativePosition1Click();
    void ResetWindowPositions1Click();
    void AlwaysonTop2Click();
    // Sets the stay-on-top style from AlwaysOnTop (at start).
    void applyStayOnTopStyle();
    void setAlwaysOnTop(bool on);

    // The show/hide toggle (Restore1) and its two halves.
    void CoolTrayIcon1Click();
    void showChecker();
    void hideChecker();
    // A minimise request: hide instead, leaving the toggle's caption as it is.
    void minimiseRequested();

    bool dragging() const { return m_dragging; }
    QString restoreCaption() const { return m_restoreCaption; }

signals:
    void floatingChanged(bool on);
    void alwaysOnTopChanged(bool on);
    // The silent error path of the menu commands (the "Make" warnings end up here).
    void commandFailed(const QString& message);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool onBackground(QObject* watched, const QPointF& pos) const;
    void place(int x, int y);
    void setRestoreCaption(const char* caption);
    void runCommand(const std::function<void()>& command);

    QWidget& m_window;
    QWidget& m_background;
    Session& m_session;
    WindowSnap& m_snap;
    Hooks m_hooks;
    QPointer<QWidget> m_prefs;
    QPointer<QWidget> m_mailList;
    QPointer<QAction> m_restore1;
    QString m_restoreCaption = QString::fromLatin1(HideCaption);
    QTimer* m_timer7 = nullptr;
    bool m_dragging = false;
    QPoint m_dragOffset;
    // Where this component last put the window; moves to there are not snapped again.
    std::optional<QPoint> m_lastPlaced;
};

} // namespace tarn
