#include "engine/Session.h"

namespace tarn {

Session::Session(std::string workingFolder, const Clock& clock, const std::string& lockSuffix)
    : m_workingFolder(std::move(workingFolder)), m_clock(clock), m_locks(lockSuffix),
      m_db(m_locks.mailDB()) {}

void Session::syncWithSettings() {
    m_runtime.resize(m_settings.accountCount());
    m_filters.store(m_settings.Filters);
}

AccountRuntime* Session::runtimeOf(int n) {
    if (n < 1 || n > m_runtime.size())
        return nullptr;
    return &m_runtime[n];
}

std::string Session::path(std::string_view name) const { return joinPath(m_workingFolder, name); }

} // namespace tarn
