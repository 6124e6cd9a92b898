#include "checker/CheckerPlacement.h"

#include "check/Session.h"
#include "checker/UiText.h"
#include "core/TarnError.h"

#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>

namespace tarn {

CheckerPlacement::CheckerPlacement(QWidget& window, QWidget& background, Session& session,
                                   WindowSnap& snap, Hooks hooks, QObject* parent)
    : QObject(parent), m_window(window), m_background(background), m_session(session), m_snap(snap),
      m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("CheckerPlacement"));
    // Movement without a button pressed must reach the background for floating.
    m_background.setMouseTracking(true);
    m_background.installEventFilter(this);
    m_window.installEventFilter(this);
}

CheckerPlacement::~CheckerPlacement() = default;

void CheckerPlacement::attachMenu(QMenu& popup) {
    auto connectItem = [&](const char* name, void (CheckerPlacement::*slot)()) {
        QAction* a = popup.findChild<QAction*>(QString::fromLatin1(name));
        if (!a)
            return a;
        connect(a, &QAction::triggered, this,
                [this, slot] { runCommand([=, this] { (this->*slot)(); }); });
        return a;
    };
    connectItem("Floating2", &CheckerPlacement::Floating2Click);
    connectItem("MakeDefaultPosition1", &CheckerPlacement::MakeDefaultPosition1Click);
    connectItem("MakeAlternativePosition1", &CheckerPlacement::MakeAlternativePosition1Click);
    connectItem("ResetWindowPositions1", &CheckerPlacement::ResetWindowPositions1Click);
    connectItem("AlwaysonTop2", &CheckerPlacement::AlwaysonTop2Click);
    m_restore1 = connectItem("Restore1", &CheckerPlacement::CoolTrayIcon1Click);
    if (m_restore1)
        m_restore1->setText(m_restoreCaption);
}

void CheckerPlacement::runCommand(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        // Errors of a command end it without a word to the user.
        emit commandFailed(uiText(e.what()));
    }
}

WorkArea CheckerPlacement::workArea() {
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        return {};
    const QRect r = s->availableGeometry();
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

WindowGeometry CheckerPlacement::snapped(int x, int y, int cx, int cy) {
    const WorkArea area = workArea();
    if (area.right <= area.left || area.bottom <= area.top)
        return {x, y, cx, cy}; // no screen to snap to
    return m_snap.snap({x, y, cx, cy}, area, m_session.Quitting,
                       m_session.settings().Main.SnapWindow);
}

void CheckerPlacement::moveChecker(int x, int y) {
    const WindowGeometry g = snapped(x, y, m_window.width(), m_window.height());
    place(g.x, g.y);
}

void CheckerPlacement::place(int x, int y) {
    m_lastPlaced = QPoint(x, y);
    m_window.move(x, y);
}

void CheckerPlacement::floatingJump() {
    MainSettings& m = m_session.settings().Main;
    const ScreenPoint target = floatingJumpTarget(
        {m_window.x(), m_window.y()}, {m.defaultX, m.defaultY}, {m.alternativeX, m.alternativeY});
    const bool snapWindow = m.SnapWindow;
    m.SnapWindow = false;
    try {
        moveChecker(target.x, target.y);
    } catch (...) {
        m.SnapWindow = snapWindow;
        throw;
    }
    m.SnapWindow = snapWindow;
}

void CheckerPlacement::backgroundMouseMoved(bool ctrlHeld) {
    const MainSettings& m = m_session.settings().Main;
    if (!shouldFloatOnMouseMove(ctrlHeld, m.Floating))
        return;
    if (m.AutoFloat) {
        // A fresh one-shot timer: the window comes back Jumpback seconds after the last jump.
        delete m_timer7;
        m_timer7 = new QTimer(this);
        m_timer7->setObjectName(QStringLiteral("Timer7"));
        m_timer7->setSingleShot(true);
        m_timer7->setInterval(std::max(0, m.Jumpback) * 1000);
        connect(m_timer7, &QTimer::timeout, this,
                [this] { runCommand([this] { Timer7Timer(); }); });
        m_timer7->start();
    }
    floatingJump();
}

void CheckerPlacement::Timer7Timer() {
    const MainSettings& m = m_session.settings().Main;
    if (shouldFloatBack(m_session.Quitting, {m_window.x(), m_window.y()}, {m.defaultX, m.defaultY}))
        floatingJump();
    if (m_timer7)
        m_timer7->stop();
}

void CheckerPlacement::Floating2Click() {
    MainSettings& m = m_session.settings().Main;
    m.Floating = !m.Floating;
    emit floatingChanged(m.Floating);
}

void CheckerPlacement::MakeDefaultPosition1Click() {
    MainSettings& m = m_session.settings().Main;
    m.defaultX = m_window.x();
    m.defaultY = m_window.y();
    const char* warning =
        makeDefaultPositionWarning({m.defaultX, m.defaultY}, {m.alternativeX, m.alternativeY});
    if (*warning)
        throw TarnError(warning);
}

void CheckerPlacement::MakeAlternativePosition1Click() {
    MainSettings& m = m_session.settings().Main;
    m.alternativeX = m_window.x();
    m.alternativeY = m_window.y();
    const char* warning =
        makeAlternativePositionWarning({m.defaultX, m.defaultY}, {m.alternativeX, m.alternativeY});
    if (*warning)
        throw TarnError(warning);
}

void CheckerPlacement::ResetWindowPositions1Click() {
    const QScreen* s = QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect screen = s->geometry();
    const ResetPositions r =
        resetWindowPositions(screen.width(), screen.height(), m_window.width(), m_window.height());
    MainSettings& m = m_session.settings().Main;
    m.defaultX = r.defaultPos.x;
    m.defaultY = r.defaultPos.y;
    m.alternativeX = r.alternativePos.x;
    m.alternativeY = r.alternativePos.y;
    m.currentX = r.currentPos.x;
    m.currentY = r.currentPos.y;
    moveChecker(m.currentX, m.currentY);
    if (m_mailList) {
        const ScreenPoint p = centredOnScreen(screen.width(), screen.height(), m_mailList->width(),
                                              m_mailList->height());
        m_mailList->move(p.x, p.y);
        m_mailList->resize(MailListResetWidth, MailListResetHeight);
    }
}

void CheckerPlacement::AlwaysonTop2Click() {
    setAlwaysOnTop(!m_session.settings().Main.AlwaysOnTop);
}

void CheckerPlacement::applyStayOnTopStyle() {
    const bool on = m_session.settings().Main.AlwaysOnTop;
    if (m_window.windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    // Changing the flags re-creates the native window, which hides it.
    const bool wasVisible = m_window.isVisible();
    const QPoint at = m_window.pos();
    m_window.setWindowFlag(Qt::WindowStaysOnTopHint, on);
    m_window.move(at);
    if (wasVisible)
        m_window.show();
}

void CheckerPlacement::setAlwaysOnTop(bool on) {
    m_session.settings().Main.AlwaysOnTop = on;
    applyStayOnTopStyle();
    emit alwaysOnTopChanged(on);
    if (m_hooks.ApplyOpacity)
        m_hooks.ApplyOpacity();
    if (m_hooks.EShowTest)
        m_hooks.EShowTest();
}

void CheckerPlacement::setRestoreCaption(const char* caption) {
    m_restoreCaption = QString::fromLatin1(caption);
    if (m_restore1)
        m_restore1->setText(m_restoreCaption);
}

void CheckerPlacement::showChecker() {
    m_window.show();
    setRestoreCaption(HideCaption);
}

void CheckerPlacement::hideChecker() {
    if (m_prefs && m_prefs->isVisible())
        m_prefs->hide();
    m_window.hide();
    setRestoreCaption(ShowCaption);
}

void CheckerPlacement::CoolTrayIcon1Click() {
    if (m_window.isVisible())
        hideChecker();
    else
        showChecker();
}

void CheckerPlacement::minimiseRequested() {
    m_window.setWindowState(m_window.windowState() & ~Qt::WindowMinimized);
    m_window.hide();
    if (m_hooks.minimised)
        m_hooks.minimised();
}

bool CheckerPlacement::onBackground(QObject* watched, const QPointF& pos) const {
    // Events over a field reach the background too when the field ignores them.
    return watched == &m_background && !m_background.childAt(pos.toPoint());
}

bool CheckerPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window) {
        switch (event->type()) {
        case QEvent::Move:
            // Moves the placement did not make itself (start-up, an added account, the
            // window manager) are snapped as well.
            if (!m_lastPlaced || *m_lastPlaced != m_window.pos())
                runCommand([this] { moveChecker(m_window.x(), m_window.y()); });
            break;
        case QEvent::Resize:
            runCommand([this] {
                const WindowGeometry g =
                    snapped(m_window.x(), m_window.y(), m_window.width(), m_window.height());
                if (g.x != m_window.x() || g.y != m_window.y())
                    place(g.x, g.y);
            });
            break;
        case QEvent::WindowStateChange:
            if (m_window.windowState().testFlag(Qt::WindowMinimized))
                runCommand([this] { minimiseRequested(); });
            break;
        default:
            break;
        }
        return false;
    }
    if (watched != &m_background)
        return false;

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && onBackground(watched, me->position())) {
            m_dragging = true;
            m_dragOffset = me->globalPosition().toPoint() - m_window.pos();
            return true;
        }
        break;
    }
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (m_dragging) {
            if (me->buttons() & Qt::LeftButton) {
                const QPoint p = me->globalPosition().toPoint() - m_dragOffset;
                runCommand([&] { moveChecker(p.x(), p.y()); });
                return true;
            }
            m_dragging = false; // the release went elsewhere
        }
        if (me->buttons() == Qt::NoButton && onBackground(watched, me->position())) {
            const bool ctrl = me->modifiers().testFlag(Qt::ControlModifier);
            runCommand([&] { backgroundMouseMoved(ctrl); });
        }
        break;
    }
    case QEvent::MouseButtonRelease: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() == Qt::LeftButton && m_dragging) {
            m_dragging = false;
            return true;
        }
        break;
    }
    default:
        break;
    }
    return false;
}

} // namespace tarn
