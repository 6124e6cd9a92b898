#pragma once

#include <optional>

namespace tarn {

// The preferences dialog's user levels and what each does to a control with a level tag.
enum class PrefsLevel { Basic = 0, Advanced = 1, Expert = 2 };

// Whether a control tagged `tag` is shown at `level`; empty for tag 0, which a level switch
// never touches (such a control's own rules decide). Tags: 1 "Advanced" controls, 2 "Expert"
// controls, 3 the experimental note, -1 the notice shown at Basic, -2 the notice shown at
// Advanced, -3 a notice shown at Expert.
inline std::optional<bool> levelShows(int tag, PrefsLevel level) {
    if (tag == 0)
        return std::nullopt;
    switch (level) {
    case PrefsLevel::Basic:
        return tag == -1;
    case PrefsLevel::Advanced:
        return tag == 1 || tag == -2;
    case PrefsLevel::Expert:
        return tag >= 1 || tag == -3;
    }
    return std::nullopt;
}

// The stored level PrefsLevel as a level; anything outside 0..2 reads as Basic.
inline PrefsLevel prefsLevelOf(int stored) {
    return stored == 1   ? PrefsLevel::Advanced
           : stored == 2 ? PrefsLevel::Expert
                         : PrefsLevel::Basic;
}

} // namespace tarn
