#include "platform/NamedLocks.h"

namespace tarn {

// Members are initialised in declaration order, which is the creation order the program uses.
NamedLocks::NamedLocks(const std::string& suffix)
    : m_instance("Tarnwick_Mutex" + suffix), m_mediaPlayer("Tarnwick_MediaPlayerMutex" + suffix),
      m_mailDB("Tarnwick_MailDBMutex" + suffix), m_filter("Tarnwick_FilterMutex" + suffix) {}

} // namespace tarn
