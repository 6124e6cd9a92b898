#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace tarn {

// Every thread the program runs beside the main thread, counted in one place so the exit can
// wait (bounded) until none of them can still touch what the program is about to destroy.
// A thread is entered before it starts and leaves as its last act; leaving is the one thing it
// may still do after the owner has stopped waiting for it.
class ThreadRegistry {
public:
    // AccountSetup: the account page's connection test and its search for settings.
    enum class Kind { Check, IdleConnection, MailboxListing, UpdateCheck, AccountSetup };
    static constexpr int KindCount = 5;

    ThreadRegistry() = default;
    ThreadRegistry(const ThreadRegistry&) = delete;
    ThreadRegistry& operator=(const ThreadRegistry&) = delete;

    void enter(Kind kind);
    void leave(Kind kind);
    int running() const;
    int running(Kind kind) const;
    // True when no registered thread runs any more within the time given.
    bool waitUntilNoneRun(std::chrono::milliseconds timeout) const;

    // Leaves when it goes: for the window between enter() and the thread taking over (a thread
    // that cannot be started leaves at once), and as the thread's last act. It holds the
    // registry, so a thread that ends after its owner stopped waiting (the session gone at
    // exit, or the window that started it) still leaves a registry that exists.
    class Entry {
    public:
        Entry(std::shared_ptr<ThreadRegistry> registry, Kind kind)
            : m_registry(std::move(registry)), m_kind(kind) {
            if (m_registry)
                m_registry->enter(m_kind);
        }
        Entry(Entry&& other) noexcept
            : m_registry(std::move(other.m_registry)), m_kind(other.m_kind) {
            other.m_registry.reset();
        }
        Entry(const Entry&) = delete;
        Entry& operator=(const Entry&) = delete;
        Entry& operator=(Entry&&) = delete;
        ~Entry() {
            if (m_registry)
                m_registry->leave(m_kind);
        }

    private:
        std::shared_ptr<ThreadRegistry> m_registry;
        Kind m_kind;
    };

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_allGone;
    std::array<int, KindCount> m_running{};
};

} // namespace tarn
