#pragma once

#include "core/MainSettings.h"

#include <string>
#include <vector>

namespace tarn {

// Plays one sound file. play() returns once the file has finished playing, or false at once
// when it cannot be opened or played.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual bool play(const std::string& file) = 0;
};

// The settings that decide which sounds announce new mail.
struct NewMailSoundSettings {
    int SoundItemIndex = 1; // 0 none, 1 incoming once, 2 mail count n times, 3 both
    int MAXMailCount = 10;
    std::string IncomingSound;
    std::string MailCountSound;

    static NewMailSoundSettings from(const MainSettings& s) {
        return {s.SoundItemIndex, s.MAXMailCount, s.IncomingSound, s.MailCountSound};
    }
};

// The files to play, in order, for n new messages of an account whose Sound flag is
// accountSound. Empty when nothing is to be played.
std::vector<std::string> newMailSoundSequence(const NewMailSoundSettings& settings,
                                              bool accountSound, int n);

// Plays the sequence, each repetition to its end before the next, until a file cannot be
// played. Returns the number of plays that succeeded.
int playSoundSequence(const std::vector<std::string>& files, SoundPlayer& player);

// Announces n new messages of one account: plays the sequence while holding mediaLock (any
// Lockable, normally the "Tarnwick_MediaPlayerMutex" NamedMutex), so sequences of different
// accounts and instances never overlap. The lock is waited for without a time limit; if
// taking it fails, nothing is played. Nothing is locked when there is nothing to play.
// Returns the number of plays that succeeded.
template <class Lockable>
int PlayNewMailSounds(const NewMailSoundSettings& settings, bool accountSound, int n,
                      SoundPlayer& player, Lockable& mediaLock) {
    const std::vector<std::string> files = newMailSoundSequence(settings, accountSound, n);
    if (files.empty())
        return 0;
    try {
        mediaLock.lock();
    } catch (...) {
        return 0;
    }
    int played = 0;
    try {
        played = playSoundSequence(files, player);
    } catch (...) {
        // A failing player ends the sounds silently; the lock must still be released.
    }
    mediaLock.unlock();
    return played;
}

} // namespace tarn
