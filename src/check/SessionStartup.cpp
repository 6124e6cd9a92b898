#include "check/SessionStartup.h"

namespace tarn {

SessionStartup::SessionStartup(Options options)
    : m_owned(std::make_unique<Session>(options.currentFolder,
                                        options.clock ? *options.clock : systemClock(),
                                        options.lockSuffix)),
      m_session(m_owned.get()), m_before(comandlinebefore(options.args, options.currentFolder)) {
    m_session->setWorkingFolder(m_before.WorkingFolder);
}

SettingsReadResult SessionStartup::readSettings(SettingsReadInputs inputs) {
    m_read = m_session->LoadSettings(std::move(inputs));
    return m_read;
}

std::set<int> SessionStartup::loadMailList(std::function<void(const std::string&)> errorBox) {
    return m_session->LoadStore(m_read.ReleaseChanged, std::move(errorBox));
}

} // namespace tarn
