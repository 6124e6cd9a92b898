#include "check/TIdCheckThread.h"

#include "check/OAuthSignIn.h"
#include "check/PasswordCommand.h"
#include "check/Session.h"
#include "core/TarnError.h"
#include "mailproto/Imap4Client.h"
#include "mailproto/Imap4MailboxClient.h"
#include "mailproto/Pop3Client.h"
#include "mailproto/Pop3MailboxClient.h"
#include "mailproto/ServerEndpoint.h"
#include "net/TcpTransport.h"
#include "platform/NamedMutex.h"

#include <algorithm>
#include <thread>

namespace tarn {

TIdCheckThread::TIdCheckThread(std::string host, int port, std::string user, std::string password,
                               bool list, bool retrieveAllBodies, int account, int serverType,
                               std::string mailboxName, Session& session, CheckHost& checkHost,
                               const CheckOptions& options)
    : m_session(session), m_host(checkHost), m_options(options), m_hostName(std::move(host)),
      m_port(port), m_password(std::move(password)), m_account(account), m_list(list) {
    Settings& settings = m_session.settings();
    const bool known = account >= 1 && account <= settings.accountCount();
    m_runtime = m_session.runtimeOf(account);

    CheckPassSettings passSettings;
    if (known) {
        const AccountSettings& acc = settings.account(account);
        passSettings.accountName = acc.Name;
        m_security = acc.Security;
        m_pin = acc.TLSFingerprint;
    }
    passSettings.list = list;
    passSettings.allBodies = retrieveAllBodies;
    passSettings.maxDownloadBytes = static_cast<long long>(settings.Main.MaxDownloadSize) * 1024;
    passSettings.keepLogFile = settings.Main.KeepLogFile;
    passSettings.deletePause = m_options.deletePause;
    passSettings.timeLimit = m_options.checkTimeLimit;

    auto connection =
        std::make_unique<LineConnection>(std::make_unique<TcpTransport>(m_options.hostLookup));
    connection->setTimeouts(m_options);
    std::unique_ptr<Pop3Client> pop;
    std::unique_ptr<Imap4Client> imap;
    if (serverType == static_cast<int>(MailServerKind::Imap4)) {
        imap = std::make_unique<Imap4Client>(std::move(connection));
        if (m_security == static_cast<int>(ConnectionSecurity::None))
            m_port = m_options.imapPort;
    } else {
        pop = std::make_unique<Pop3Client>(std::move(connection));
    }

    // A password command or an OAuth 2.0 sign-in gives the secret when the check runs.
    const bool secretGiven = known && (!settings.account(account).PasswordCommand.empty() ||
                                       settings.account(account).usesOAuth());
    if (known) {
        m_accountSettings = settings.account(account);
        m_useToken = m_accountSettings.usesOAuth();
    }
    if (known && !secretGiven && !settings.account(account).SavePwd && m_password.empty() &&
        !m_hostName.empty()) {
        const std::optional<std::string> typed =
            m_host.PromptPassword("Password at " + passSettings.accountName + ":");
        if (typed) {
            m_password = *typed;
            // Kept for the rest of the run only; the settings file never sees it.
            settings.account(account).Password = m_password;
        }
    }

    if (known && !secretGiven && settings.account(account).SavePwd &&
        settings.account(account).passwordInKeyring() && m_password.empty()) {
        // Read on the check's own thread: a locked keyring must not hold the window.
        m_keyringKey =
            m_session.settingsStore().secretKey(settings.account(account), SecretKind::Password);
    }

    if (m_useToken && m_accountSettings.PasswordCommand.empty()) {
        // A refused token gets one fresh token and one more log-in.
        auto renew = [this] {
            const AccessToken t =
                accessTokenFor(m_session.settingsStore(), m_account, m_accountSettings, true,
                               m_options.oauthLimits, m_options.keyringTimeout);
            if (t.token.empty())
                throw TarnError(ErrorKind::LoginRejected, t.error);
            return t.token;
        };
        if (imap)
            imap->setTokenRenewal(renew);
        else
            pop->setTokenRenewal(renew);
    }
    if (imap) {
        m_login = imap.get();
        imap->setHost(m_hostName);
        imap->setPort(m_port);
        imap->setUser(user);
        imap->setPassword(m_password);
        imap->setSecurity(static_cast<ConnectionSecurity>(m_security), m_pin);
        // What the last check saw is kept beside the mail list, so the next one asks only
        // for what changed.
        const std::string stateName = imapSyncStateFileName(m_hostName, m_port, user, mailboxName);
        std::string stateKey =
            m_hostName + ":" + std::to_string(m_port) + " " + user + " " + mailboxName;
        auto client = std::make_unique<Imap4MailboxClient>(std::move(imap), mailboxName);
        if (!m_session.workingFolder().empty())
            client->setStateFile(m_session.workingFolder() + "/" + stateName, std::move(stateKey));
        m_client = std::move(client);
    } else {
        m_login = pop.get();
        pop->setHost(m_hostName);
        pop->setPort(m_port);
        pop->setUser(user);
        pop->setPassword(m_password);
        pop->setSecurity(static_cast<ConnectionSecurity>(m_security), m_pin);
        m_client = std::make_unique<Pop3MailboxClient>(std::move(pop));
    }
    // What the server claims a message's size to be is not trusted: the fetch itself stops at
    // the larger of the download limit and what any header may need.
    m_client->setMessageBudget(std::max<std::size_t>(
        static_cast<std::size_t>(std::max(passSettings.maxDownloadBytes, 0LL)),
        Pop3Client::kMaxHeaderBytes));
    m_pass = std::make_unique<CheckPass>(m_session, m_host, *m_client, m_runtime, account,
                                         std::move(passSettings));

    if (m_runtime)
        m_runtime->CheckRequested = false;
    if (!known)
        markFailed(ErrorKind::LocalError, "There is no account " + std::to_string(account) + ".");
    else if (m_hostName.empty())
        markFailed(ErrorKind::LocalError, "No server is set for the account.");
}

TIdCheckThread::~TIdCheckThread() = default;

std::unique_ptr<TIdCheckThread> TIdCheckThread::forAccount(Session& session, CheckHost& checkHost,
                                                           int account,
                                                           const CheckOptions& options) {
    const AccountSettings& acc = session.settings().account(account);
    const AccountServer server = accountServer(acc, options.imapPort);
    auto worker = std::make_unique<TIdCheckThread>(
        server.endpoint.host, server.endpoint.port, acc.UserID, acc.Password, acc.List,
        acc.RetrieveAllBodies, account, acc.MailServerType, acc.IMAPMailBoxName, session, checkHost,
        options);
    // IMAP4 without security ignores the port part; otherwise one that is not a number fails.
    if (!server.portValid)
        worker->markFailed(ErrorKind::LocalError,
                           "The port \"" + server.portText + "\" is not a port number.");
    return worker;
}

bool TIdCheckThread::start(std::unique_ptr<TIdCheckThread> worker) {
    Session& session = worker->m_session;
    session.workerStarted();
    TIdCheckThread* raw = worker.get();
    try {
        std::thread([raw] {
            std::unique_ptr<TIdCheckThread> self(raw);
            Session& s = self->m_session;
            self->run();
            self.reset();
            s.workerEnded();
        }).detach();
        worker.release();
        return true;
    } catch (const std::system_error&) {
        session.workerEnded();
        worker->markFailed(ErrorKind::LocalError, "No thread could be started for the check.");
        if (worker->m_runtime)
            worker->m_runtime->Busy = false;
        terminationStep(session, worker->result());
        return false;
    }
}

CheckResult TIdCheckThread::run() {
    check();
    const CheckResult r = result();
    if (!quitting())
        m_host.TerminateCheck(r);
    return r;
}

void TIdCheckThread::terminationStep(Session& session, const CheckResult& result) {
    const int account = result.currentAccount();
    if (account >= 1) {
        try {
            NamedLock lock(session.db().mutex());
            session.db().ClearNewFlags(result.currentAccount());
        } catch (const std::exception&) {
            // A store that cannot be changed must not keep the account busy.
        }
    }
    // The account's own record, even when the account was deleted meanwhile.
    AccountRuntime* rt = result.runtime ? result.runtime : session.runtimeOf(account);
    if (rt) {
        if (result.failed)
            rt->LastMailboxTotal = -1;
        rt->Busy = false;
    }
}

void TIdCheckThread::markFailed(ErrorKind kind, const std::string& text) {
    m_pass->fail(kind, text);
}

CheckResult TIdCheckThread::result() const {
    CheckResult r;
    r.account = m_pass->account();
    r.runtime = m_runtime;
    r.failed = m_pass->failed();
    r.unchanged = m_pass->unchanged();
    r.listFlag = m_list;
    r.deletedCount = m_pass->deletedCount();
    r.shutdownRequested = m_pass->shutdownRequested();
    r.newCount = m_pass->newCount();
    if (r.failed) {
        r.failureKind = m_pass->failureKind();
        r.failureText = m_pass->failureText();
    }
    return r;
}

bool TIdCheckThread::quitting() const {
    return m_session.Quitting.load();
}

bool TIdCheckThread::fetchKeyringPassword() {
    SecretStore* store = m_session.settingsStore().secretStore();
    if (!store) {
        markFailed(ErrorKind::LocalError,
                   "The password is kept in the desktop keyring, which this program cannot use.");
        return false;
    }
    const SecretAnswer answer = store->read(*m_keyringKey, m_options.keyringTimeout);
    switch (answer.status) {
    case SecretAnswer::Status::Found:
        m_password = answer.secret;
        m_login->setPassword(m_password);
        return true;
    case SecretAnswer::Status::NotFound:
        markFailed(ErrorKind::LocalError,
                   "The desktop keyring holds no password for this account; type it again in "
                   "the preferences.");
        return false;
    case SecretAnswer::Status::Failed:
        break;
    }
    markFailed(ErrorKind::LocalError,
               "The password could not be read from the desktop keyring: " + answer.error);
    return false;
}

bool TIdCheckThread::fetchSecret() {
    if (!m_accountSettings.PasswordCommand.empty()) {
        const CommandSecret r = runPasswordCommand(m_accountSettings.PasswordCommand,
                                                   m_useToken ? "access token" : "password",
                                                   m_options.passwordCommandLimit);
        if (!r.secret) {
            markFailed(ErrorKind::LocalError, r.error);
            return false;
        }
        if (m_useToken)
            m_login->setAccessToken(*r.secret);
        else
            m_login->setPassword(*r.secret);
        return true;
    }
    if (m_useToken) {
        const AccessToken t =
            accessTokenFor(m_session.settingsStore(), m_account, m_accountSettings, false,
                           m_options.oauthLimits, m_options.keyringTimeout);
        if (t.token.empty()) {
            markFailed(ErrorKind::LoginRejected, t.error);
            return false;
        }
        m_login->setAccessToken(t.token);
        return true;
    }
    if (m_keyringKey)
        return fetchKeyringPassword();
    return true;
}

void TIdCheckThread::check() {
    if (!m_pass->failed())
        fetchSecret();
    if (m_pass->failed()) {
        if (m_runtime)
            m_runtime->Busy = false;
        if (!quitting())
            m_host.EndOfCheckUpdate(result());
        return;
    }
    m_pass->run();
    if (m_runtime)
        m_runtime->Busy = false;
    if (quitting())
        return;
    m_host.EndOfCheckUpdate(result());
    m_host.NewMailSounds(m_pass->account(), m_pass->newCount());
}

} // namespace tarn
