#include "checker/CheckerTray.h"

#include "check/Session.h"
#include "checker/TrayAnimation.h"
#include "checker/TrayIcons.h"
#include "checker/UiText.h"
#include "core/TrayState.h"
#include "platform/NamedMutex.h"

#include <QAction>
#include <QMenu>
#include <QPixmap>

#include <algorithm>

namespace tarn {

CheckerTray::CheckerTray(Session& session, QMenu* popup, Hooks hooks, QObject* parent)
    : QObject(parent), m_session(session), m_popup(popup), m_hooks(std::move(hooks)) {
    setObjectName(QStringLiteral("CheckerTray"));
    m_animation = new TrayAnimation(this);
    m_animation->setObjectName(QStringLiteral("TrayAnimation"));
    connect(m_animation, &TrayAnimation::frameChanged, this,
            [this](const QIcon& icon, int) { setIcon(icon); });
    connect(m_animation, &TrayAnimation::stepped, this, [this] { CoolTrayIcon1Cycle(); });

    m_tray = new QSystemTrayIcon(this);
    m_tray->setObjectName(QStringLiteral("CoolTrayIcon1"));
    m_tray->setToolTip(uiText(m_hint));
    if (m_popup) {
        // The platform opens the context menu on a right-button press on the icon.
        m_tray->setContextMenu(m_popup);
        connect(m_popup, &QMenu::aboutToShow, this, [this] { syncCheckMarks(); });
    }
    connect(m_tray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { activated(r); });
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        // Empty until the first picture is set, but already there with its menu.
        QPixmap blank(TrayIcons::Size, TrayIcons::Size);
        blank.fill(Qt::transparent);
        m_tray->setIcon(QIcon(blank));
        m_tray->show();
    }
}

CheckerTray::~CheckerTray() {
    m_animation->stop();
    // The menu belongs to the window; the icon must not refer to it after we are gone.
    m_tray->setContextMenu(nullptr);
}

void CheckerTray::syncCheckMarks() {
    const MainSettings& m = m_session.settings().Main;
    if (QAction* a = m_popup->findChild<QAction*>(QStringLiteral("Floating2"))) {
        a->setCheckable(true);
        a->setChecked(m.Floating);
    }
    if (QAction* a = m_popup->findChild<QAction*>(QStringLiteral("AlwaysonTop2"))) {
        a->setCheckable(true);
        a->setChecked(m.AlwaysOnTop);
    }
}

void CheckerTray::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick && m_hooks.CheckAll)
        m_hooks.CheckAll();
}

void CheckerTray::setHint(const std::string& hint) {
    m_hint = limitTrayHint(hint);
    m_tray->setToolTip(uiText(m_hint));
}

void CheckerTray::setIcon(const QIcon& icon) {
    m_icon = icon;
    m_tray->setIcon(icon);
}

void CheckerTray::setStaticImage(int index) {
    const QList<QIcon> images = TrayIcons::ImageList1();
    if (index < 0 || index >= images.size())
        return;
    m_image = index;
    setIcon(images.at(index));
}

void CheckerTray::showOfflineIcon() {
    setStaticImage(TrayState::OfflineImage);
}

void CheckerTray::UpdateTrayState() {
    long long shown = 0;
    try {
        NamedLock lock(m_session.db().mutex());
        shown = m_session.db().CountAllShownMessages();
    } catch (const std::exception&) {
        shown = 0; // without the lock the count is taken as 0
    }
    const int n = static_cast<int>(std::clamp<long long>(shown, 0, 1 << 30));
    const TrayState t = trayStateFor(n, m_session.Online);
    setHint(t.hint);
    setStaticImage(t.image);
}

void CheckerTray::startAnimation(bool withMail) {
    m_animationWithMail = withMail;
    // The first frame shows at once; its step may already stop the animation.
    m_animation->start(withMail ? TrayIcons::ImageList6() : TrayIcons::ImageList5());
}

void CheckerTray::stopAnimation() {
    m_animation->stop();
}

bool CheckerTray::animating() const {
    return m_animation->isRunning();
}

QMenu* CheckerTray::menu() const {
    return m_popup.data();
}

int CheckerTray::animationFrame() const {
    return m_animation->currentFrame();
}

void CheckerTray::CoolTrayIcon1Cycle() {
    if (m_hooks.animationStep)
        m_hooks.animationStep();
}

} // namespace tarn
