#include "core/NewMailSounds.h"

#include <algorithm>

namespace tarn {

std::vector<std::string> newMailSoundSequence(const NewMailSoundSettings& s, bool accountSound,
                                              int n) {
    std::vector<std::string> files;
    if (n <= 0 || !accountSound)
        return files;
    n = std::min(n, s.MAXMailCount);
    const bool incoming = s.SoundItemIndex == 1 || s.SoundItemIndex == 3;
    const bool count = s.SoundItemIndex == 2 || s.SoundItemIndex == 3;
    if (incoming)
        files.push_back(s.IncomingSound);
    if (count)
        for (int i = 0; i < n; ++i)
            files.push_back(s.MailCountSound);
    return files;
}

int playSoundSequence(const std::vector<std::string>& files, SoundPlayer& player) {
    int played = 0;
    for (const std::string& f : files) {
        if (!player.play(f))
            break;
        ++played;
    }
    return played;
}

} // namespace tarn
