#pragma once

#include "mailproto/ServerEndpoint.h"
#include "mailproto/ServerLogin.h"
#include "net/HostLookup.h"
#include "net/LineConnection.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace tarn {

// The time limits of an idle connection. Every answer the watcher waits for (the greeting,
// LOGIN, SELECT, the go-ahead for IDLE, the answer to DONE) must come within readTimeout.
struct IdleTimings : ConnectionTimeouts {
    // The IDLE is ended and sent again this long after it began. Some providers drop idle
    // connections after a few minutes, long before the 29 minutes the protocol allows; and a
    // connection that does not answer the renewal is dead (a network gone after a suspend).
    std::chrono::milliseconds renewal{std::chrono::minutes(10)};
    // Waits before the next attempt after a failure: the first, then doubled per failure in a
    // row up to the last. A connection that stayed up past a renewal starts the row afresh.
    std::chrono::milliseconds firstRetry{std::chrono::seconds(30)};
    std::chrono::milliseconds lastRetry{std::chrono::minutes(15)};
};

// Where and how an account's idle connection goes, and its time limits.
struct ImapIdleSettings : IdleTimings {
    ServerEndpoint endpoint;
    std::string user;
    std::string password;
    std::string mailbox = kDefaultMailbox;
    // Untagged data one IDLE may carry before the server counts as flooding and the
    // connection is dropped (and retried after the back-off).
    std::size_t floodBudget = 1024 * 1024;
    HostLookup hostLookup; // empty: the system's resolver
    // Gives the secret right before each log-in, on the watcher's thread (the password
    // command's output, an OAuth 2.0 access token), or throws TarnError with why there is
    // none; empty: the password above. signInKind tells such accounts apart.
    std::function<void(ServerLogin&)> prepareLogin;
    std::string signInKind;

    // Same server, same account, same mailbox, same security: the connection can stay.
    bool sameConnection(const ImapIdleSettings& o) const {
        return endpoint.host == o.endpoint.host && endpoint.port == o.endpoint.port &&
               endpoint.security == o.endpoint.security && endpoint.pin == o.endpoint.pin &&
               user == o.user && password == o.password && mailbox == o.mailbox &&
               signInKind == o.signInKind;
    }
};

// One IMAP4 IDLE connection for one account, on a thread of its own: log in, select the
// mailbox and idle; every EXISTS or EXPUNGE the server sends is reported. The connection is
// renewed, re-established after failures with a growing back-off, re-established at once on
// request (after a wake-up from suspend), and logged out when stopped. A server that does not
// announce IDLE gets no connection beyond the first look at its capabilities.
//
// The thread never touches anything but its own state and the callbacks; after stop() has
// returned no callback runs any more, so the owner may go away while the thread still says
// goodbye to its server (a write at most, bounded by a short time-out).
class ImapIdleWatcher {
public:
    enum class State {
        Starting,   // not yet connected
        Connecting, // connecting, logging in, selecting
        Idling,     // the server has accepted IDLE
        NoIdle,     // the server does not offer IDLE: nothing more until a reconnect
        Waiting,    // after a failure, until the next attempt
        Stopped,    // the thread has ended
    };
    static const char* stateName(State s);

    struct Events {
        // The server announced a change of the mailbox (EXISTS or EXPUNGE), or a
        // re-established connection found it changed. Watcher thread; must return quickly
        // and must not call into the watcher.
        std::function<void()> changed;
        // State changes with the reason of a failure (empty otherwise). Watcher thread; same
        // rules.
        std::function<void(State, const std::string&)> state;
        // Called on the thread as its very last act (the owner counts running threads).
        std::function<void()> ended;
    };

    ImapIdleWatcher(ImapIdleSettings settings, Events events);
    // Stops without waiting for the thread.
    ~ImapIdleWatcher();
    ImapIdleWatcher(const ImapIdleWatcher&) = delete;
    ImapIdleWatcher& operator=(const ImapIdleWatcher&) = delete;

    // Starts the thread; false when none could be started (no callback then runs, not even
    // `ended`).
    bool start();
    // Drops the connection and connects again at once, forgetting the back-off.
    void reconnect();
    // Ends the connection (DONE, LOGOUT, close) and the thread. Returns at once; from then on
    // no callback but `ended` runs.
    void stop();
    // True when the thread has ended within the time given.
    bool waitStopped(std::chrono::milliseconds timeout) const;

    State state() const;
    const ImapIdleSettings& settings() const;
    // Connections opened so far (tests).
    int connectCount() const;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
};

} // namespace tarn
