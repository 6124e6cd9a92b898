#include "push/PushAccounts.h"

#include "check/OAuthSignIn.h"
#include "check/PasswordCommand.h"
#include "check/Session.h"
#include "check/TIdCheckThread.h"
#include "core/AccountSettings.h"
#include "mailproto/ServerEndpoint.h"

#include <algorithm>

namespace tarn {

namespace {} // namespace

PushAccounts::PushAccounts(Session& session, Post toMain, RequestCheck requestCheck,
                           PushOptions options)
    : m_session(session), m_toMain(std::move(toMain)), m_requestCheck(std::move(requestCheck)),
      m_options(std::move(options)), m_alive(std::make_shared<PushAccounts*>(this)) {}

PushAccounts::~PushAccounts() {
    stopAll();
}

std::optional<ImapIdleSettings> PushAccounts::idleSettingsFor(Session& session, int account,
                                                              const PushOptions& options) {
    const Settings& settings = session.settings();
    if (account < 1 || account > settings.accountCount())
        return std::nullopt;
    const AccountSettings& acc = settings.account(account);
    if (!acc.isImap4() || !acc.Active || !acc.Push)
        return std::nullopt;
    const AccountServer server = accountServer(acc, options.imapPort);
    if (server.endpoint.host.empty())
        return std::nullopt;
    const bool secretGiven = !acc.PasswordCommand.empty() || acc.usesOAuth();
    if (!secretGiven && acc.Password.empty() && !acc.SavePwd)
        return std::nullopt; // asked for at the first check
    if (!server.portValid || acc.Security < 0 ||
        acc.Security > static_cast<int>(ConnectionSecurity::StartTls))
        return std::nullopt; // the account's checks fail and say why
    ImapIdleSettings s;
    s.endpoint = server.endpoint;
    s.user = acc.UserID;
    s.password = acc.Password;
    s.mailbox = acc.mailbox();
    if (secretGiven) {
        // Fetched for each connection on the watcher's own thread, as a check does.
        s.signInKind = acc.PasswordCommand.empty() ? "oauth" : "command:" + acc.PasswordCommand;
        SettingsStore& store = session.settingsStore();
        s.prepareLogin = [&store, account, acc](ServerLogin& login) {
            if (!acc.PasswordCommand.empty()) {
                const CommandSecret r = runPasswordCommand(
                    acc.PasswordCommand, acc.usesOAuth() ? "access token" : "password");
                if (!r.secret)
                    throw TarnError(ErrorKind::LocalError, r.error);
                if (acc.usesOAuth())
                    login.setAccessToken(*r.secret);
                else
                    login.setPassword(*r.secret);
                return;
            }
            const AccessToken t = accessTokenFor(store, account, acc, false);
            if (t.token.empty())
                throw TarnError(ErrorKind::LoginRejected, t.error);
            login.setAccessToken(t.token);
            login.setTokenRenewal([&store, account, acc] {
                const AccessToken fresh = accessTokenFor(store, account, acc, true);
                if (fresh.token.empty())
                    throw TarnError(ErrorKind::LoginRejected, fresh.error);
                return fresh.token;
            });
        };
    }
    static_cast<IdleTimings&>(s) = options;
    s.hostLookup = options.hostLookup;
    return s;
}

void PushAccounts::sync() {
    const bool running = m_session.Online && !m_session.Quitting;
    const int count = m_session.settings().accountCount();
    std::vector<std::optional<ImapIdleSettings>> wanted(static_cast<std::size_t>(count) + 1);
    if (running) {
        for (int a = 1; a <= count; ++a)
            wanted[static_cast<std::size_t>(a)] = idleSettingsFor(m_session, a, m_options);
    }
    // Stop what is no longer wanted or no longer the same connection.
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const int a = it->runtime->Number;
        const bool keep =
            a >= 1 && a <= count && wanted[static_cast<std::size_t>(a)] &&
            wanted[static_cast<std::size_t>(a)]->sameConnection(it->watcher->settings());
        if (keep) {
            wanted[static_cast<std::size_t>(a)].reset(); // has its connection
            ++it;
            continue;
        }
        stopEntry(*it);
        m_afterCheck.erase(it->runtime);
        it = m_entries.erase(it);
    }
    for (int a = 1; a <= count; ++a) {
        if (!wanted[static_cast<std::size_t>(a)])
            continue;
        if (AccountRuntime* rt = m_session.runtimeOf(a))
            start(rt, std::move(*wanted[static_cast<std::size_t>(a)]));
    }
}

void PushAccounts::start(AccountRuntime* rt, ImapIdleSettings settings) {
    Entry entry;
    entry.runtime = rt;
    entry.queued = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<PushAccounts*> alive = m_alive;
    Post post = m_toMain;
    auto queued = entry.queued;

    ImapIdleWatcher::Events events;
    // Watcher thread: one queued announcement per account at a time, however many come.
    events.changed = [post, alive, queued, rt] {
        if (queued->exchange(true))
            return;
        post([alive, queued, rt] {
            queued->store(false);
            if (auto self = alive.lock())
                (*self)->announced(rt);
        });
    };
    events.state = [post, alive, rt](ImapIdleWatcher::State state, const std::string& why) {
        post([alive, rt, state, why] {
            auto self = alive.lock();
            if (self && (*self)->onState && rt->Number >= 1)
                (*self)->onState(rt->Number, state, why);
        });
    };
    // Registered with the session's threads, so an exit can tell when it is gone.
    ThreadRegistry* threads = &m_session.threads();
    events.ended = [threads] { threads->leave(ThreadRegistry::Kind::IdleConnection); };
    entry.watcher = std::make_unique<ImapIdleWatcher>(std::move(settings), std::move(events));
    threads->enter(ThreadRegistry::Kind::IdleConnection);
    if (!entry.watcher->start()) {
        threads->leave(ThreadRegistry::Kind::IdleConnection);
        return; // tried again at the next sync
    }
    m_entries.push_back(std::move(entry));
}

void PushAccounts::stopEntry(Entry& e) {
    if (e.watcher)
        e.watcher->stop();
}

void PushAccounts::stopAll() {
    for (Entry& e : m_entries)
        stopEntry(e);
    m_entries.clear();
    m_afterCheck.clear();
}

void PushAccounts::announced(AccountRuntime* rt) {
    const int a = rt->Number;
    if (a < 1 || !m_session.Online || m_session.Quitting)
        return;
    if (rt->Busy) {
        m_afterCheck.insert(rt);
        return;
    }
    if (rt->CheckRequested)
        return; // the check asked for before is still to come and will see this too
    if (m_requestCheck)
        m_requestCheck(a);
}

void PushAccounts::checkEnded(int account) {
    AccountRuntime* rt = m_session.runtimeOf(account);
    if (rt && m_afterCheck.erase(rt) > 0)
        announced(rt);
    // A password typed for the check lets its idle connection start now.
    sync();
}

void PushAccounts::wokeUp() {
    sync();
    for (Entry& e : m_entries)
        e.watcher->reconnect();
    for (Entry& e : m_entries)
        announced(e.runtime);
}

const ImapIdleWatcher* PushAccounts::watcher(int account) const {
    for (const Entry& e : m_entries) {
        if (e.runtime->Number == account)
            return e.watcher.get();
    }
    return nullptr;
}

std::string pushDownSince(const std::string& current, ImapIdleWatcher::State state,
                          const std::string& now) {
    switch (state) {
    case ImapIdleWatcher::State::Waiting:
        return current.empty() ? now : current;
    case ImapIdleWatcher::State::Starting:
    case ImapIdleWatcher::State::Connecting:
        return current;
    case ImapIdleWatcher::State::Idling:
    case ImapIdleWatcher::State::NoIdle:
    case ImapIdleWatcher::State::Stopped:
        break;
    }
    return std::string();
}

} // namespace tarn
