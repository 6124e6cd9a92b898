#include "checker/NewMailNotifier.h"

#include "check/Session.h"
#include "platform/NamedMutex.h"

#include <QThread>

#include <algorithm>
#include <climits>

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
    std::optional<Snapshot> snapshot;
    if (!m_toMain.call([&] { snapshot = readSettings(account); }, SettingsWait))
        return std::nullopt;
    return snapshot;
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
