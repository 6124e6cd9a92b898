#include "check/SessionStartup.h"

#include "check/ImapStateFiles.h"

namespace tarn {

SessionStartup::SessionStartup(Options options)
    : m_owned(std::make_unique<Session>(options.currentFolder,
                                        options.clock ? *options.clock : systemClock(),
                                        options.lockSuffix)),
      m_session(m_owned.get()), m_before(comandlinebefore(options.args, options.currentFolder)),
      m_imapPort(options.imapPort) {
    m_session->setWorkingFolder(m_before.WorkingFolder);
}

SettingsReadResult SessionStartup::readSettings(SettingsReadInputs inputs) {
    m_read = m_session->LoadSettings(std::move(inputs));
    m_settingsRead = true;
    return m_read;
}

std::set<int> SessionStartup::loadMailList(std::function<void(const std::string&)> errorBox) {
    std::set<int> changed = m_session->LoadStore(m_read.ReleaseChanged, std::move(errorBox));
    if (m_settingsRead && !m_read.FirstStart)
        removeStaleImapStates(m_session->workingFolder(), m_session->settings().Accounts,
                              m_imapPort);
    return changed;
}

} // namespace tarn
