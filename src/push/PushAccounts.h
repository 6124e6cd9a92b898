#pragma once

#include "net/HostLookup.h"
#include "push/ImapIdleWatcher.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarn {

class Session;
struct AccountRuntime;

// Time limits of the idle connections. Only tests shorten them or move the fixed IMAP4 port.
struct PushOptions : IdleTimings {
    int imapPort = 143;
    HostLookup hostLookup;
};

// The idle connections of the accounts that want push (IMAP4, Active, Push on, while the
// program is online), and the checks the servers' announcements ask for.
//
// An announcement asks for a check through the road the mail list's "Check New Mails" takes
// (requestCheck), so every rule of a check applies unchanged: none while offline or quitting,
// none beside a running one. At most one asked-for check per account is pending at a time:
// announcements coming while one is pending are folded into it; those coming while the account
// is being checked ask for one more check when that check ends (the check may have counted
// the mailbox before the change).
//
// All calls on the main thread. The watchers' threads reach it only through toMain.
// What an account's field says of its push connection after a state change: the time of
// the first failure ("HH:MM", now), kept through the attempts that follow, and nothing once
// the connection idles again, has no IDLE to offer, or is stopped.
std::string pushDownSince(const std::string& current, ImapIdleWatcher::State state,
                          const std::string& now);

class PushAccounts {
public:
    // Runs a function on the main thread, from any thread; may drop it when the main thread is
    // gone.
    using Post = std::function<void(std::function<void()>)>;
    // Main thread: a check of the account, as the mail list's "Check New Mails" asks for one.
    using RequestCheck = std::function<void(int account)>;

    PushAccounts(Session& session, Post toMain, RequestCheck requestCheck,
                 PushOptions options = PushOptions());
    // Stops every connection without waiting.
    ~PushAccounts();
    PushAccounts(const PushAccounts&) = delete;
    PushAccounts& operator=(const PushAccounts&) = delete;

    // What account a's idle connection would be, or nullopt when it gets none: not IMAP4, not
    // Active, Push off, no server, a port that is not a number, or no password known yet (an
    // account that asks for its password has one after its first check).
    static std::optional<ImapIdleSettings> idleSettingsFor(Session& session, int account,
                                                           const PushOptions& options);

    // Brings the connections in line with the settings and the online state: starts the
    // missing ones, stops those of accounts that went offline, were switched off, deleted or
    // changed. Cheap when nothing changed.
    void sync();
    // After the computer woke up: every connection starts afresh at once and every push
    // account is checked.
    void wokeUp();
    // The check of account a has ended (its termination step ran).
    void checkEnded(int account);
    // Stops every connection (exit); no callback comes after it.
    void stopAll();

    int connectionCount() const { return static_cast<int>(m_entries.size()); }
    // Account a's watcher, or null.
    const ImapIdleWatcher* watcher(int account) const;
    // Main thread: a watcher's state changes (optional).
    std::function<void(int account, ImapIdleWatcher::State, const std::string& why)> onState;

private:
    struct Entry {
        AccountRuntime* runtime = nullptr;
        std::unique_ptr<ImapIdleWatcher> watcher;
        // An announcement is on its way to the main thread: later ones need not queue.
        std::shared_ptr<std::atomic<bool>> queued;
    };
    void start(AccountRuntime* rt, ImapIdleSettings settings);
    void stopEntry(Entry& e);
    void announced(AccountRuntime* rt);

    Session& m_session;
    Post m_toMain;
    RequestCheck m_requestCheck;
    PushOptions m_options;
    std::vector<Entry> m_entries;
    std::set<AccountRuntime*> m_afterCheck; // announced while being checked
    // Closures queued to the main thread hold it weakly: they do nothing once this is gone.
    std::shared_ptr<PushAccounts*> m_alive;
};

} // namespace tarn
