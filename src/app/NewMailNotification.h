#pragma once

#include "check/CheckHost.h"
#include "core/NewMailNoticeText.h"

#include <QObject>

#include <functional>
#include <vector>

namespace tarn {

class DesktopNotifications;
class Session;

// The desktop notice of a check that found new messages the list shows: how many, the
// account, and sender and subject of the last few. Clicking it opens the mail list on the
// account. The tray hint and the sounds are not touched.
class NewMailNotification : public QObject {
    Q_OBJECT
public:
    // service: none means no notices.
    NewMailNotification(Session& session, DesktopNotifications* service, QObject* parent = nullptr);

    // Main thread, in the end-of-check update (the check's New marks are still set): sends
    // the notice when the check did not fail, found new shown messages and DesktopNotify is
    // on. Returns at once.
    void checkEnded(const CheckResult& result);

    // The account's new messages the list shows, in list order (under the MailDB lock).
    static std::vector<NoticeMessage> newMessages(Session& session, int account);

    // Main thread: opens the mail list on an account (the notice's default action).
    std::function<void(int account)> openList;

private:
    Session& m_session;
    DesktopNotifications* m_service;
};

} // namespace tarn
