#include "app/PushLink.h"

#include "check/Session.h"
#include "checker/QtCheckHost.h"
#include "checker/TF_CheckerWindow.h"
#include "core/DateFormat.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPointer>
#include <QWidget>

namespace tarn {

PushLink::PushLink(Session& session, TF_CheckerWindow& checker, QWidget* prefs, PushOptions options,
                   QObject* parent)
    : QObject(parent), m_toMain(this),
      m_actions(session, [&checker](int account,
                                    int ms) { checker.scheduler().scheduleCheck(account, ms); }),
      m_prefs(prefs) {
    m_push = std::make_unique<PushAccounts>(
        // Through the queue's link: an idle connection's thread may still announce something
        // after this object is gone, and its function is then dropped.
        session, [toMain = m_toMain.link()](std::function<void()> f) { toMain.post(std::move(f)); },
        [this](int account) {
            m_actions.requestCheck(account, MailListActions::CheckNewMailsDelayMs);
        },
        std::move(options));

    // The online item's caption changes with every change of the online state.
    if (QAction* online1 = checker.popupMenu()->findChild<QAction*>(QStringLiteral("online1")))
        connect(online1, &QAction::changed, this, [this] { m_push->sync(); });
    if (m_prefs)
        m_prefs->installEventFilter(this);
    QtCheckHost& host = checker.checkHost();
    auto previous = host.onTerminated;
    QPointer<PushLink> self(this);
    host.onTerminated = [self, previous](const CheckResult& r) {
        if (previous)
            previous(r);
        if (self)
            self->m_push->checkEnded(r.currentAccount());
    };
    // A connection that is down shows in its field's hint until it is back.
    m_push->onState = [this, &checker](int account, ImapIdleWatcher::State state,
                                       const std::string&) {
        std::string& since = m_downSince[account];
        since =
            pushDownSince(since, state, formatTimeOfDay(checker.session().clock().localDateTime()));
        checker.setPushDownSince(account, since);
    };
    m_push->sync();
}

PushLink::~PushLink() {
    if (m_prefs)
        m_prefs->removeEventFilter(this);
    m_push->stopAll();
}

bool PushLink::eventFilter(QObject* watched, QEvent* event) {
    // The preferences change accounts in place; when they close, the connections catch up.
    if (watched == m_prefs && event->type() == QEvent::Hide)
        m_push->sync();
    return QObject::eventFilter(watched, event);
}

void PushLink::wokeUp() {
    m_push->wokeUp();
}

void PushLink::stopAll() {
    m_push->stopAll();
}

} // namespace tarn
