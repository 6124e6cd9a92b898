#pragma once

#include "platform/NamedMutex.h"

#include <string>

namespace tarn {

// The program's four named locks, created unowned at start-up in this order and kept until the
// process ends. A suffix gives tests names of their own.
class NamedLocks {
public:
    explicit NamedLocks(const std::string& suffix = std::string());

    NamedMutex& instance() { return m_instance; }
    NamedMutex& mediaPlayer() { return m_mediaPlayer; }
    NamedMutex& mailDB() { return m_mailDB; }
    NamedMutex& filter() { return m_filter; }

private:
    NamedMutex m_instance;    // "Tarnwick_Mutex": only marks a running instance
    NamedMutex m_mediaPlayer; // one sound sequence at a time
    NamedMutex m_mailDB;      // every access to the mail list store
    NamedMutex m_filter;      // created for the filters; nobody waits on it
};

} // namespace tarn
