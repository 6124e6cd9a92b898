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

bool parseCount(std::string_view s, long long& out) {
    if (s.empty() || s.size() > 12)
        return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    out = v;
    return true;
}

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
        conn->setConnectTimeout(set.connectTimeout);
        conn->setReadTimeout(set.readTimeout);
        conn->setWriteTimeout(set.writeTimeout);
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
        m_client->Connect();
        if (!serverOffersIdle()) {
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

    std::string nextTag() { return "I" + std::to_string(++m_tag); }

    // CAPABILITY under our own tags (the client's run on beside them): does IDLE appear?
    bool serverOffersIdle() {
        const std::string tag = nextTag();
        conn().WriteLn(tag + " CAPABILITY");
        bool idle = false;
        for (;;) {
            const std::string line = readLine(nullptr);
            if (line[0] == '*') {
                const std::string_view text = trimLeftSpaceTab(std::string_view(line).substr(1));
                if (startsWithNoCase(text, "CAPABILITY ")) {
                    const std::string up = " " + upperAsciiCopy(text) + " ";
                    idle = idle || up.find(" IDLE ") != std::string::npos;
                }
                handleUntagged(line);
                continue;
            }
            const std::string status = taggedStatus(line, tag);
            if (status == "OK")
                return idle;
            throw TarnError(ErrorKind::ServerError, "The IMAP4 server refused CAPABILITY: " + line);
        }
    }

    // One IDLE: the go-ahead, the wait until the renewal, DONE and its answer.
    void idleRound(int& failuresInRow) {
        const ImapIdleSettings& set = m_s.settings;
        const std::string tag = nextTag();
        conn().setReadTimeout(set.readTimeout);
        conn().WriteLn(tag + " IDLE");
        m_inIdle = true;
        for (;;) {
            const std::string line = readLine(nullptr);
            if (line[0] == '+')
                break;
            if (line[0] == '*') {
                handleUntagged(line);
                continue;
            }
            const std::string status = taggedStatus(line, tag);
            m_inIdle = false;
            if (status == "OK")
                return; // over before it began: idle again
            throw TarnError(ErrorKind::ServerError, "The IMAP4 server refused IDLE: " + line);
        }
        m_s.setState(State::Idling);

        // The answer the IDLE is waiting for is due at the renewal, counted from the command.
        conn().setReadTimeout(set.renewal);
        std::size_t budget = set.floodBudget;
        for (;;) {
            std::string line;
            try {
                line = readLine(&budget);
            } catch (const TarnError& e) {
                if (e.kind() == ErrorKind::TimedOut)
                    break; // time to renew
                throw;
            }
            if (line[0] == '*') {
                handleUntagged(line);
                continue;
            }
            if (line[0] == '+')
                continue;
            const std::string status = taggedStatus(line, tag);
            m_inIdle = false;
            if (status == "OK")
                return; // the server ended the IDLE itself: start another
            throw TarnError(ErrorKind::ServerError, "The IMAP4 server ended IDLE: " + line);
        }

        conn().setReadTimeout(set.readTimeout);
        conn().WriteLn("DONE");
        for (;;) {
            std::string line;
            try {
                line = readLine(nullptr);
            } catch (const TarnError& e) {
                if (e.kind() != ErrorKind::TimedOut)
                    throw;
                throw TarnError(ErrorKind::TimedOut,
                                "The idle connection did not answer its renewal within " +
                                    std::to_string(set.readTimeout.count()) + " ms.");
            }
            if (line[0] == '*') {
                handleUntagged(line);
                continue;
            }
            const std::string status = taggedStatus(line, tag);
            m_inIdle = false;
            if (status != "OK")
                throw TarnError(ErrorKind::ServerError,
                                "The IMAP4 server did not end IDLE cleanly: " + line);
            failuresInRow = 0; // a full round: the connection works
            return;
        }
    }

    // The status word of our tagged answer; anything else is not an IMAP answer we can read.
    std::string taggedStatus(const std::string& line, const std::string& tag) {
        if (line.size() > tag.size() && line[tag.size()] == ' ' && startsWithNoCase(line, tag)) {
            const std::string_view rest =
                trimLeftSpaceTab(std::string_view(line).substr(tag.size()));
            const std::string word = upperAsciiCopy(rest.substr(0, rest.find(' ')));
            if (word == "OK" || word == "NO" || word == "BAD")
                return word;
        }
        throw TarnError(ErrorKind::ProtocolError,
                        "Unexpected answer on the idle connection: " + cut(line));
    }

    static std::string cut(const std::string& line) {
        return line.size() > 80 ? line.substr(0, 80) + "..." : line;
    }

    void handleUntagged(const std::string& line) {
        const std::string_view text = trimLeftSpaceTab(std::string_view(line).substr(1));
        if (startsWithNoCase(text, "BYE")) {
            throw TarnError(ErrorKind::ConnectionClosed,
                            "The IMAP4 server closed the idle connection: " +
                                cut(std::string(text)));
        }
        const std::size_t sp = text.find(' ');
        long long n = 0;
        if (sp == std::string_view::npos || !parseCount(text.substr(0, sp), n))
            return;
        const std::string what = upperAsciiCopy(trimSpaceTab(text.substr(sp + 1)));
        if (what == "EXISTS") {
            m_known.exists = n;
            m_s.changed();
        } else if (what == "EXPUNGE") {
            m_known.exists = std::max(0LL, m_known.exists - 1);
            m_s.changed();
        }
    }

    // One non-empty line with the literals it announces read along (and dropped: nothing the
    // watcher reads needs them). budget, when given, is charged for what arrives.
    std::string readLine(std::size_t* budget) {
        auto charge = [budget](std::size_t n) {
            if (!budget)
                return;
            if (n > *budget)
                throw TarnError(ErrorKind::OverBudget,
                                "The IMAP4 server flooded the idle connection.");
            *budget -= n;
        };
        std::string line;
        do {
            if (m_s.interrupted())
                throw TarnError(TcpTransport::kInterrupted);
            line = std::string(trimSpaceTab(conn().ReadLn()));
            charge(line.size() + 2);
        } while (line.empty());
        std::size_t scanFrom = 0;
        while (const std::optional<std::size_t> size =
                   ImapResponseParser::trailingLiteralSize(line, scanFrom)) {
            if (*size > Imap4Client::kMaxSmallLiteral)
                throw TarnError(
                    ErrorKind::OverBudget,
                    "The IMAP4 server sent too large a literal on the idle connection.");
            charge(*size);
            conn().ReadBytes(*size); // the literal itself is not kept
            scanFrom = line.size();
            const std::string rest = conn().ReadLn();
            charge(rest.size() + 2);
            line += rest;
        }
        return line;
    }

    // Leaves the server knowing we went: DONE when idling, LOGOUT, a short wait for its
    // answer, close. Never long: the program may be on its way out.
    void farewell() {
        if (!conn().Connected())
            return;
        m_s.drain();
        try {
            conn().setWriteTimeout(1000ms);
            conn().setReadTimeout(1000ms);
            if (m_inIdle)
                conn().WriteLn("DONE");
            m_inIdle = false;
            const std::string tag = nextTag();
            conn().WriteLn(tag + " LOGOUT");
            for (int lines = 0; lines < 16; ++lines) {
                const std::string line = std::string(trimSpaceTab(conn().ReadLn()));
                if (startsWithNoCase(line, tag + " "))
                    break;
            }
        } catch (const std::exception&) {
            // best effort
        }
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
    long long m_tag = 0;
    bool m_inIdle = false;
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
