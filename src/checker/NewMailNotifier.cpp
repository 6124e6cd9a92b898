#include "checker/NewMailNotifier.h"

#include "check/Session.h"
#include "platform/NamedMutex.h"

#include <QThread>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tarn {

NewMailNotifier::NewMailNotifier(Session& session, SoundPlayer* player, QObject* parent)
    : QObject(parent), m_session(session), m_player(player), m_toMain(this) {
    setObjectName(QStringLiteral("NewMailNotifier"));
}

NewMailNotifier::Snapshot NewMailNotifier::readSettings(int account) const {
    const Settings& s = m_session.settings();
    Snapshot snap;
    snap.sounds = NewMailSoundSettings::from(s.Main);
    snap.accountSound = account >= 1 && account <= s.accountCount() && s.account(account).Sound;
    return snap;
}

std::optional<NewMailNotifier::Snapshot> NewMailNotifier::settingsFor(int account) {
    if (QThread::currentThread() == thread())
        return readSettings(account);
    // A worker must not read settings the preferences may be changing: copy them on the
    // main thread, and give up rather than wait for a main thread that has stopped.
    struct Handover {
        std::mutex guard;
        std::condition_variable closed;
        bool isClosed = false;
        std::optional<Snapshot> snapshot;
    };
    // Closes the handover when the main thread's function ends, whether it ran or was
    // dropped because the notifier went away first.
    struct Reply {
        std::shared_ptr<Handover> handover;
        ~Reply() {
            {
                std::lock_guard<std::mutex> g(handover->guard);
                handover->isClosed = true;
            }
            handover->closed.notify_all();
        }
    };
    auto handover = std::make_shared<Handover>();
    std::shared_ptr<Reply> reply(new Reply{handover});
    m_toMain.post([this, reply, account] {
        Snapshot snap = readSettings(account);
        std::lock_guard<std::mutex> g(reply->handover->guard);
        reply->handover->snapshot = std::move(snap);
    });
    reply.reset();
    std::unique_lock<std::mutex> lock(handover->guard);
    if (!handover->closed.wait_for(lock, SettingsWait, [&] { return handover->isClosed; }))
        return std::nullopt;
    return std::move(handover->snapshot);
}

int NewMailNotifier::NewMailSounds(int account, long long count) {
    SoundPlayer* player = m_player.load();
    if (count <= 0 || m_session.Quitting || !player)
        return 0;
    const std::optional<Snapshot> snap = settingsFor(account);
    if (!snap)
        return 0;
    const int n = static_cast<int>(std::min<long long>(count, INT_MAX));
    return PlayNewMailSounds(snap->sounds, snap->accountSound, n, *player,
                             m_session.locks().mediaPlayer());
}

} // namespace tarn
