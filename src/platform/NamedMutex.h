#pragma once

#include <memory>
#include <string>

namespace tarn {

// A lock shared by every running instance of the program under the same user, identified by
// its name. Created without an owner; re-entrant for the thread that holds it; waited for
// without a time limit; a lock whose owner (thread or process) ended without releasing it is
// taken over by the next waiter.
class NamedMutex {
public:
    explicit NamedMutex(std::string name);
    ~NamedMutex();
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();
    const std::string& name() const { return m_name; }

    // Removes the system object behind a name, so the next NamedMutex of that name starts
    // fresh. Only for names no running instance uses any more (tests, tools).
    static void removeSystemObject(const std::string& name);

private:
    struct Impl;
    std::string m_name;
    std::unique_ptr<Impl> m_impl;
};

// Holds a NamedMutex for the lifetime of the guard.
class NamedLock {
public:
    explicit NamedLock(NamedMutex& m) : m_mutex(m) { m_mutex.lock(); }
    ~NamedLock() { m_mutex.unlock(); }
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

private:
    NamedMutex& m_mutex;
};

} // namespace tarn
