#include "push/ImapIdleWatcher.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "mailproto/Imap4Client.h"
#include "mailproto/ImapResponseParser.h"
#include "net/LineConnection.h"
#include "net/TcpTransport.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

namespace tarn {

using namespace std::chrono_literals;

struct ImapIdleWatcher::Shared {
    ImapIdleSettings settings;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<bool> reconnectWanted{false};
    std::atomic<int> state{static_cast<int>(State::Starting)};
    std::atomic<int> connects{0};

    std::mutex eventsMutex;
    Events events; // changed and state are dropped by stop(); ended stays

    mutable std::mutex doneMutex;
    mutable std::condition_variable doneCv;
    bool done = false;

    Shared(ImapIdleSettings s, Events e) : settings(std::move(s)), events(std::move(e)) {
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wakeFd < 0)
            throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    ~Shared() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }

    void wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }
    void drain() {
        std::uint64_t value = 0;
        [[maybe_unused]] const ssize_t n = ::read(wakeFd, &value, sizeof value);
    }
    // Sleeps until woken or until the time is up (forever for a negative time).
    void sleep(std::chrono::milliseconds ms) {
        const auto end = std::chrono::steady_clock::now() + ms;
        for (;;) {
            int timeout = -1;
            if (ms.count() >= 0) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now());
                if (left.count() <= 0)
                    return;
                timeout = static_cast<int>(std::min<long long>(left.count(), 0x7fffffff));
            }
            pollfd p{wakeFd, POLLIN, 0};
            const int rc = ::poll(&p, 1, timeout);
            if (rc > 0 || (rc < 0 && errno != EINTR))
                return;
            if (rc == 0 && ms.count() >= 0 && std::chrono::steady_clock::now() >= end)
                return;
        }
    }

    void setState(State s, const std::string& why = std::string()) {
        state = static_cast<int>(s);
        std::lock_guard<std::mutex> lock(eventsMutex);
        if (events.state)
            events.state(s, why);
    }
    void changed() {
        std::lock_guard<std::mutex> lock(eventsMutex);
        if (events.changed)
            events.changed();
    }
    bool interrupted() const { return stopping || reconnectWanted; }
};

namespace {

using State = ImapIdleWatcher::State;

// What the mailbox looked like when the connection was last up, so a connection that comes
// back after a failure can tell whether something happened while it was away.
struct KnownMailbox {
    bool valid = false;
    long long exists = 0;
    std::int64_t uidNext = 0;
};

// One connection from connect to its end.
class IdleConnection {
public:
    enum class End { Stop, Reconnect, NoIdle };

    IdleConnection(ImapIdleWatcher::Shared& shared, KnownMailbox& known)
        : m_s(shared), m_known(known) {
        const ImapIdleSettings& set = m_s.settings;
        auto tcp = std::make_unique<TcpTransport>(set.hostLookup);
        tcp->setWakeFd(m_s.wakeFd);
        auto conn = std::make_unique<LineConnection>(std::move(tcp));
        conn->setTimeouts(set);
        m_client = std::make_unique<Imap4Client>(std::move(conn));
        applyEndpoint(*m_client, set.endpoint);
        m_client->setUser(set.user);
        m_client->setPassword(set.password);
    }

    // Runs the connection until it is stopped or asked to reconnect (returns) or fails
    // (throws). failuresInRow is reset once the connection has proved itself.
    End run(int& failuresInRow) {
        try {
            return session(failuresInRow);
        } catch (...) {
            if (m_s.interrupted()) {
                farewell();
                return m_s.stopping ? End::Stop : End::Reconnect;
            }
            drop();
            throw;
        }
    }

private:
    LineConnection& conn() { return m_client->connection(); }

    End session(int& failuresInRow) {
        const ImapIdleSettings& set = m_s.settings;
        m_s.setState(State::Connecting);
        ++m_s.connects;
        if (set.prepareLogin)
            set.prepareLogin(*m_client);
        m_client->Connect();
        if (!m_client->HasCapability("IDLE", Imap4Client::Tags::Watch)) {
            farewell();
            return End::NoIdle;
        }
        const ImapMailboxData& box = m_client->SelectMailbox(set.mailbox);
        if (m_known.valid && (box.exists != m_known.exists || box.uidNext != m_known.uidNext))
            m_s.changed();
        m_known = {true, box.exists, box.uidNext};
        for (;;) {
            if (m_s.interrupted())
                throw TarnError(TcpTransport::kInterrupted);
            idleRound(failuresInRow);
        }
    }

    // One IDLE: the go-ahead, the wait until the renewal, DONE and its answer.
    void idleRound(int& failuresInRow) {
        const ImapIdleSettings& set = m_s.settings;
        const auto untagged = [this](std::string_view text) { handleUntagged(text); };
        conn().setReadTimeout(set.readTimeout);
        if (!m_client->IdleStart(untagged))
            return; // over before it began: idle again
        m_s.setState(State::Idling);
        if (m_client->IdleWait(set.renewal, set.floodBudget, untagged) ==
            Imap4Client::IdleEnd::EndedByServer)
            return; // the server ended the IDLE itself: start another
        try {
            m_client->IdleDone(untagged);
        } catch (const TarnError& e) {
            if (e.kind() != ErrorKind::TimedOut)
                throw;
            throw TarnError(ErrorKind::TimedOut,
                            "The idle connection did not answer its renewal within " +
                                std::to_string(set.readTimeout.count()) + " ms.");
        }
        failuresInRow = 0; // a full round: the connection works
    }

    // Every line the watch reads passes here or through the client's own checks, so a stop
    // or reconnect is noticed between lines even while a server keeps talking.
    void handleUntagged(std::string_view text) {
        if (m_s.interrupted())
            throw TarnError(TcpTransport::kInterrupted);
        if (startsWithNoCase(text, "BYE")) {
            const std::string said(text.substr(0, 80));
            throw TarnError(ErrorKind::ConnectionClosed,
                            "The IMAP4 server closed the idle connection: " + said +
                                (text.size() > 80 ? "..." : ""));
        }
        std::vector<ImapValue> v;
        try {
            v = ImapResponseParser::parseValues(text);
        } catch (const TarnError&) {
            return; // nothing the watch needs
        }
        if (v.size() != 2 || v[0].kind != ImapValue::Kind::Atom)
            return;
        const std::optional<std::uint64_t> n = parseDecimal(v[0].text, 999999999999);
        if (!n)
            return;
        if (v[1].is("EXISTS")) {
            m_known.exists = static_cast<long long>(*n);
            m_s.changed();
        } else if (v[1].is("EXPUNGE")) {
            m_known.exists = std::max(0LL, m_known.exists - 1);
            m_s.changed();
        }
    }

    // Leaves the server knowing we went: DONE when idling, LOGOUT, a short wait for its
    // answer, close. Never long: the program may be on its way out.
    void farewell() {
        if (!conn().Connected())
            return;
        m_s.drain();
        conn().setWriteTimeout(1000ms);
        conn().setReadTimeout(1000ms);
        m_client->EndWatch();
        drop();
    }

    void drop() {
        try {
            conn().Disconnect();
        } catch (const std::exception&) {
        }
    }

    ImapIdleWatcher::Shared& m_s;
    KnownMailbox& m_known;
    std::unique_ptr<Imap4Client> m_client;
};

std::chrono::milliseconds retryDelay(const ImapIdleSettings& set, int failuresInRow) {
    auto delay = std::max(set.firstRetry, 1ms);
    for (int k = 1; k < failuresInRow && delay < set.lastRetry; ++k)
        delay *= 2;
    return std::min(delay, std::max(set.lastRetry, set.firstRetry));
}

std::string reasonOf(const std::exception& e) {
    if (const auto* te = dynamic_cast<const TarnError*>(&e)) {
        if (te->kind() != ErrorKind::Other)
            return std::string(errorKindName(te->kind())) + ": " + te->what();
    }
    return e.what();
}

void runWatcher(const std::shared_ptr<ImapIdleWatcher::Shared>& s) {
    KnownMailbox known;
    int failuresInRow = 0;
    while (!s->stopping) {
        if (failuresInRow > 0) {
            s->sleep(retryDelay(s->settings, failuresInRow));
            if (s->stopping)
                break;
        }
        s->drain();
        if (s->reconnectWanted.exchange(false))
            failuresInRow = 0;
        try {
            IdleConnection connection(*s, known);
            const IdleConnection::End end = connection.run(failuresInRow);
            if (end == IdleConnection::End::Stop)
                break;
            if (end == IdleConnection::End::NoIdle) {
                s->setState(State::NoIdle);
                while (!s->interrupted()) {
                    s->sleep(-1ms);
                    if (!s->interrupted())
                        s->drain();
                }
            }
            failuresInRow = 0;
        } catch (const std::exception& e) {
            if (s->stopping)
                break;
            // A wake-up left over from a request already taken: connect again at once.
            if (s->reconnectWanted || e.what() == std::string_view(TcpTransport::kInterrupted))
                continue;
            ++failuresInRow;
            s->setState(State::Waiting, reasonOf(e));
        }
    }
}

} // namespace

const char* ImapIdleWatcher::stateName(State s) {
    switch (s) {
    case State::Starting:
        return "starting";
    case State::Connecting:
        return "connecting";
    case State::Idling:
        return "idling";
    case State::NoIdle:
        return "no IDLE";
    case State::Waiting:
        return "waiting";
    case State::Stopped:
        return "stopped";
    }
    return "unknown";
}

ImapIdleWatcher::ImapIdleWatcher(ImapIdleSettings settings, Events events)
    : m_shared(std::make_shared<Shared>(std::move(settings), std::move(events))) {}

ImapIdleWatcher::~ImapIdleWatcher() {
    stop();
}

bool ImapIdleWatcher::start() {
    if (m_started)
        return true;
    std::shared_ptr<Shared> s = m_shared;
    try {
        std::thread([s] {
            runWatcher(s);
            std::function<void()> ended;
            {
                std::lock_guard<std::mutex> lock(s->eventsMutex);
                s->events.state = nullptr;
                s->events.changed = nullptr;
                ended = std::move(s->events.ended);
            }
            s->state = static_cast<int>(State::Stopped);
            if (ended)
                ended();
            // From here on only the thread's own share of the state is touched.
            std::lock_guard<std::mutex> lock(s->doneMutex);
            s->done = true;
            s->doneCv.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    m_started = true;
    return true;
}

void ImapIdleWatcher::reconnect() {
    m_shared->reconnectWanted = true;
    m_shared->wake();
}

void ImapIdleWatcher::stop() {
    m_shared->stopping = true;
    m_shared->wake();
    std::lock_guard<std::mutex> lock(m_shared->eventsMutex);
    m_shared->events.changed = nullptr;
    m_shared->events.state = nullptr;
    if (!m_started)
        m_shared->events.ended = nullptr;
}

bool ImapIdleWatcher::waitStopped(std::chrono::milliseconds timeout) const {
    if (!m_started)
        return true;
    std::unique_lock<std::mutex> lock(m_shared->doneMutex);
    return m_shared->doneCv.wait_for(lock, timeout, [this] { return m_shared->done; });
}

ImapIdleWatcher::State ImapIdleWatcher::state() const {
    return static_cast<State>(m_shared->state.load());
}

const ImapIdleSettings& ImapIdleWatcher::settings() const {
    return m_shared->settings;
}

int ImapIdleWatcher::connectCount() const {
    return m_shared->connects;
}

} // namespace tarn
