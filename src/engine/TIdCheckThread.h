#pragma once

#include "engine/CheckHost.h"
#include "engine/HostLookup.h"
#include "engine/MailMessage.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarn {

class Session;
class Pop3Client;
class Imap4Client;
class LineConnection;

// The account's Host setting split into the server name and the port.
struct HostAndPort {
    std::string host;        // text before the first ":", or the whole setting
    std::string portText;    // text after the last ":", or "110"
    std::optional<int> port; // empty when portText is not a port number
};
HostAndPort splitHostSetting(const std::string& hostSetting);

// No check runs longer than this, whatever the server does: every wait on the server ends by
// then and the check fails with a time-out. Generous on purpose (a first check of a large
// mailbox over a slow line takes a while); it exists so that a server that keeps answering
// just in time cannot hold an account busy for ever.
inline constexpr std::chrono::minutes kCheckTimeLimit{30};

// Time limits of the worker's connection: connectTimeout covers the name lookup and the
// connect, readTimeout each answer from the command that asked for it, writeTimeout each
// command. The protocol port of IMAP4 is fixed; only tests with a private server on another
// port change imapPort. hostLookup: empty for the system's resolver.
struct CheckOptions {
    std::chrono::milliseconds connectTimeout{30000};
    std::chrono::milliseconds readTimeout{60000};
    std::chrono::milliseconds writeTimeout{60000};
    std::chrono::milliseconds checkTimeLimit{kCheckTimeLimit};
    int imapPort = 143;
    std::chrono::milliseconds deletePause{10};
    HostLookup hostLookup;
};

// One check of one account.
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
    // a failure, clears Busy. Hosts call it on the main thread from TerminateCheck.
    static void terminationStep(Session& session, const CheckResult& result);

    // Makes the check failed before it starts (as an empty host does), with its reason.
    void markFailed(ErrorKind kind, const std::string& text);
    bool failed() const { return m_failed; }
    const std::string& password() const { return m_password; }
    int port() const { return m_port; }

private:
    void check();
    void connectAndCount(int& n);
    void perMessagePass(int n);
    void processMessage(int i, int n);
    void deletionStep(int n);
    // Fetches message i whole; nullopt when the server has none or the fetch failed.
    std::optional<std::string> fetchBody(int i);
    void disconnect();
    void report(int kind, const std::string& text);
    // Marks the check failed; the first reason stays. A "Not Connected." goes back to what
    // broke the connection.
    void fail(const std::exception& e);
    void fail(ErrorKind kind, const std::string& text);
    // For a failure the pass may pass over (a size, a header, a body): rethrows the one in
    // flight when it means the connection is lost, so the message fails and the pass ends;
    // an answer over its budget fails the check but the pass goes on.
    void passOver(const std::exception& e);
    bool connectionLost(const std::exception& e) const;
    LineConnection& connection();
    bool quitting() const;
    CheckResult result() const;

    Session& m_session;
    CheckHost& m_host;
    CheckOptions m_options;
    std::string m_hostName;
    int m_port = 110;
    std::string m_user;
    std::string m_password;
    bool m_list = true;
    bool m_allBodies = false;
    int m_account = 0;
    int m_serverType = 0;
    std::string m_mailbox;
    // Settings read once at creation on the main thread, so the worker never reads the model
    // while the preferences may change it.
    std::string m_accountName;
    long long m_maxDownloadBytes = 50 * 1024;
    bool m_keepLogFile = true;

    std::unique_ptr<Pop3Client> m_pop;
    std::unique_ptr<Imap4Client> m_imap;
    std::vector<std::string> m_uidListing;

    bool m_failed = false;
    ErrorKind m_failureKind = ErrorKind::Other;
    std::string m_failureText;
    bool m_unchanged = false;
    bool m_shutdownRequested = false;
    int m_deleted = 0;
    long long m_newCount = 0;
};

} // namespace tarn
