#pragma once

#include "check/CheckHost.h"
#include "check/CheckPass.h"
#include "core/SecretStore.h"
#include "mailproto/ServerLogin.h"
#include "mime/MailMessage.h"
#include "net/HostLookup.h"
#include "net/LineConnection.h"
#include "net/OAuth2.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace tarn {

class Session;
class MailboxClient;
struct AccountRuntime;

// Time limits of the worker's connection (ConnectionTimeouts), and checkTimeLimit for the
// whole check. The protocol port of IMAP4 without security is fixed; only tests with a
// private server on another port change imapPort. hostLookup: empty for the system's resolver.
struct CheckOptions : ConnectionTimeouts {
    std::chrono::milliseconds checkTimeLimit{kCheckTimeLimit};
    int imapPort = 143;
    std::chrono::milliseconds deletePause{10};
    // How long the check waits for a password kept in the desktop keyring (one the user must
    // first unlock gets this long).
    std::chrono::milliseconds keyringTimeout{20000};
    // The user's password command, and the token endpoint of an OAuth 2.0 account.
    std::chrono::milliseconds passwordCommandLimit{30000};
    OAuthLimits oauthLimits;
    HostLookup hostLookup;
};

// One check of one account: the thread and the conversation with the rest of the program
// around a CheckPass, which does the work.
//
// Threading contract:
//  - Construct on the main thread (the scheduler has set Busy). The constructor may call
//    CheckHost::PromptPassword there, and it clears CheckRequested.
//  - Either start(std::move(worker)): a detached thread owns the worker, runs the check, then
//    calls CheckHost::TerminateCheck(result) as its last act and frees the worker. The host
//    must run terminationStep(session, result) on the main thread (queued); the result is a
//    plain value, so nothing refers to the freed worker. ReportStatus and NewMailSounds come
//    from the worker thread; EndOfCheckUpdate comes from the worker thread and must run on the
//    main thread while the worker waits (a blocking queued call).
//  - Or run(): the same check on the calling thread, every host call inline (tests and the
//    command-line checker).
//  The Session and the CheckHost must outlive every started worker. A program that quits sets
//  Session::Quitting, after which workers stop at the next message, make no further host call
//  and end; Session::waitForWorkers bounds the wait. A process that cannot wait for them leaves
//  the Session alive and ends with quick_exit, so no running worker sees a destroyed object.
//  The account may be deleted or renumbered while its check runs (see CheckPass).
class TIdCheckThread {
public:
    TIdCheckThread(std::string host, int port, std::string user, std::string password, bool list,
                   bool retrieveAllBodies, int account, int serverType, std::string mailboxName,
                   Session& session, CheckHost& checkHost,
                   const CheckOptions& options = CheckOptions());
    ~TIdCheckThread();
    TIdCheckThread(const TIdCheckThread&) = delete;
    TIdCheckThread& operator=(const TIdCheckThread&) = delete;

    // The worker for account n from its settings: splits Host (a port that is not a number
    // makes the check failed from the start) and passes the account's values.
    static std::unique_ptr<TIdCheckThread> forAccount(Session& session, CheckHost& checkHost,
                                                      int account,
                                                      const CheckOptions& options = CheckOptions());

    // Runs the check on its own detached thread, which frees the worker. False when no thread
    // could be started; the check then ends failed at once (termination step run inline).
    static bool start(std::unique_ptr<TIdCheckThread> worker);

    // Runs the whole check and its termination call (through the host) on this thread.
    CheckResult run();

    // The termination step: clears the account's New marks, sets LastMailboxTotal to -1 after
    // a failure, clears Busy. Hosts call it on the main thread from TerminateCheck. It follows
    // the account to its present number; a deleted account's step touches no other account.
    static void terminationStep(Session& session, const CheckResult& result);

    // Makes the check failed before it starts (as an empty host does), with its reason.
    void markFailed(ErrorKind kind, const std::string& text);
    bool failed() const { return m_pass->failed(); }
    const std::string& password() const { return m_password; }
    int port() const { return m_port; }

private:
    void check();
    // Reads the password from the keyring (bounded); false (the check failed) when it cannot.
    bool fetchKeyringPassword();
    // The secret of the log-in, on the check's thread: from the password command, the OAuth
    // 2.0 sign-in or the keyring; false (the check failed) when there is none.
    bool fetchSecret();
    CheckResult result() const;
    bool quitting() const;

    Session& m_session;
    CheckHost& m_host;
    CheckOptions m_options;
    std::string m_hostName;
    int m_port = 110;
    std::string m_password;
    int m_account = 0;
    AccountRuntime* m_runtime = nullptr;
    bool m_list = true;
    int m_security = 0; // a ConnectionSecurity
    std::string m_pin;
    // The password is in the keyring under this key, read when the check starts.
    std::optional<SecretKey> m_keyringKey;
    ServerLogin* m_login = nullptr;    // the protocol client inside m_client
    AccountSettings m_accountSettings; // as the check began
    bool m_useToken = false;           // signs in with an OAuth 2.0 access token

    std::unique_ptr<MailboxClient> m_client;
    std::unique_ptr<CheckPass> m_pass;
};

} // namespace tarn
