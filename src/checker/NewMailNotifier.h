#pragma once

#include "checker/CrossThreadQueue.h"
#include "core/NewMailSounds.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <optional>

namespace tarn {

class Session;

// Plays the new-mail sounds of a finished check. Lives on the main thread; NewMailSounds is
// called from the check worker's thread, which stays in it until the last sound has ended.
// The settings are read on the main thread, where the preferences change them.
class NewMailNotifier : public QObject {
    Q_OBJECT
public:
    // How long a worker waits for the main thread to hand over the sound settings.
    static constexpr std::chrono::milliseconds SettingsWait{5000};

    // player: the program's media player (a QtSoundPlayer on the main thread); without one
    // nothing plays.
    NewMailNotifier(Session& session, SoundPlayer* player, QObject* parent = nullptr);

    // Replaces the player; set it before checks run, and keep the old one alive until the
    // checks that may be using it have ended.
    void setPlayer(SoundPlayer* player) { m_player = player; }
    SoundPlayer* player() const { return m_player; }

    // Announces count new, not hidden messages of an account. Any thread. Returns the number
    // of plays that finished; nothing plays for a count of 0 or less, an account whose Sound
    // is off, while quitting, or when the main thread does not answer in time.
    int NewMailSounds(int account, long long count);

private:
    struct Snapshot {
        NewMailSoundSettings sounds;
        bool accountSound = false;
    };
    Snapshot readSettings(int account) const;
    std::optional<Snapshot> settingsFor(int account);

    Session& m_session;
    std::atomic<SoundPlayer*> m_player;
    CrossThreadQueue m_toMain;
};

} // namespace tarn
