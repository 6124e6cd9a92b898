#include "app/NewMailNotification.h"

#include "check/Session.h"
#include "checker/TrayIcons.h"
#include "platform/dbus/DesktopNotifications.h"

#include <algorithm>
#include <cstdint>

namespace tarn {

NewMailNotification::NewMailNotification(Session& session, DesktopNotifications* service,
                                         QObject* parent)
    : QObject(parent), m_session(session), m_service(service) {}

std::vector<NoticeMessage> NewMailNotification::newMessages(Session& session, int account) {
    std::vector<std::pair<long long, NoticeMessage>> found;
    try {
        NamedLock lock(session.db().mutex());
        session.db().walk(account, [&found](const MailRecord& r) {
            if (r.New.value_or(false) && !r.Ignore.value_or(false))
                found.push_back(
                    {r.Count.value_or(0),
                     {r.Sender.value_or(std::string()), r.Subject.value_or(std::string())}});
            return true;
        });
    } catch (const std::exception&) {
        // Without the list the notice has no lines.
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<NoticeMessage> out;
    out.reserve(found.size());
    for (auto& f : found)
        out.push_back(std::move(f.second));
    return out;
}

void NewMailNotification::checkEnded(const CheckResult& result) {
    const int a = result.currentAccount();
    const Settings& s = m_session.settings();
    if (!m_service || result.failed || result.newCount <= 0 || !s.Main.DesktopNotify || a < 1 ||
        a > s.accountCount())
        return;
    const NewMailNoticeText text =
        composeNewMailNotice(s.account(a).Name, result.newCount, newMessages(m_session, a));
    DesktopNotice notice;
    notice.summary = QString::fromStdString(text.summary);
    notice.body = QString::fromStdString(text.body);
    notice.icon = TrayIcons::staticImage(1);
    // The account is followed by its run-time record: it may be renumbered before the click.
    AccountRuntime* rt = result.runtime ? result.runtime : m_session.runtimeOf(a);
    // One notice per account: the next one of the same account takes its place.
    m_service->notify(reinterpret_cast<std::uintptr_t>(rt), notice, [this, rt] {
        const int now = rt ? rt->Number.load() : 0;
        if (now >= 1 && openList)
            openList(now);
    });
}

} // namespace tarn
