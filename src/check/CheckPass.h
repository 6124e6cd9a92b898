#pragma once

#include "check/CheckHost.h"
#include "core/TarnError.h"

#include <chrono>
#include <exception>
#include <optional>
#include <string>

namespace tarn {

class MailboxClient;
struct MessageIdentity;
class Session;
struct AccountRuntime;

// No check runs longer than this, whatever the server does: every wait on the server ends by
// then and the check fails with a time-out. Generous on purpose (a first check of a large
// mailbox over a slow line takes a while); it exists so that a server that keeps answering
// just in time cannot hold an account busy for ever.
inline constexpr std::chrono::minutes kCheckTimeLimit{30};

// What a pass needs to know of its account, read once on the main thread when the check is
// created, so the pass never reads the settings while the preferences may change them.
struct CheckPassSettings {
    std::string accountName;
    bool list = true;
    bool allBodies = false;
    long long maxDownloadBytes = 50 * 1024;
    bool keepLogFile = true;
    std::chrono::milliseconds deletePause{10};
    std::chrono::milliseconds timeLimit{kCheckTimeLimit};
};

// The work of one check between "Contacting" and the last status report: connect, count,
// total, the per-message pass, the deletion step, trimming the list, disconnect. It talks to
// the server only through a MailboxClient, so POP3 and IMAP4 take the same road, and to the
// program only through the mail list (under the MailDB lock), the account's run-time record
// and CheckHost::ReportStatus. It runs on the calling thread: TIdCheckThread runs it on the
// worker's own thread, a test may run it directly.
//
// The account is followed through its run-time record: when an account before it is deleted
// mid-check, what the pass files goes under the account's new number; when the account itself
// is deleted, the pass files nothing more and fails.
class CheckPass {
public:
    // A fetched message: its body text and its header lines (IMAP4 gives no header before).
    struct FetchedBody {
        std::string body;
        std::string header;
    };
    // runtime: the account's record (null for an account that does not exist; such a pass
    // is failed before it starts). account: its number when the check was created.
    CheckPass(Session& session, CheckHost& host, MailboxClient& client, AccountRuntime* runtime,
              int account, CheckPassSettings settings);

    // Runs the whole pass. Every failure is caught and recorded.
    void run();

    // Marks the pass failed; the first reason stays. A "Not Connected." goes back to what
    // broke the connection.
    void fail(ErrorKind kind, const std::string& text);
    void fail(const std::exception& e);

    bool failed() const { return m_failed; }
    ErrorKind failureKind() const { return m_failureKind; }
    const std::string& failureText() const { return m_failureText; }
    bool unchanged() const { return m_unchanged; }
    int deletedCount() const { return m_deleted; }
    bool shutdownRequested() const { return m_shutdownRequested; }
    long long newCount() const { return m_newCount; }
    // The account's number now (0 once the account was deleted).
    int account() const;

private:
    void connectAndCount(int& n);
    void perMessagePass(int n);
    void processMessage(int i, int n);
    // Tells the client what the pass will ask of messages first..last, as far as the mail
    // list tells now.
    void expectFetches(int first, int last);
    // The record's UID for message i's identity.
    std::string uidOf(const MessageIdentity& identity, int i) const;
    void deletionStep(int n);
    // Fetches message i whole and decodes its body; nullopt when there is none or the fetch
    // failed in a way the pass may pass over.
    std::optional<FetchedBody> fetchBody(int i);
    // The account's number, read under the MailDB lock; throws once the account is deleted.
    int accountUnderLock() const;
    // For a failure the pass may pass over (a size, a header, a body): rethrows the one in
    // flight when it means the connection is lost, so the message fails and the pass ends;
    // an answer over its budget fails the check but the pass goes on.
    void passOver(const std::exception& e);
    bool connectionLost(const std::exception& e) const;
    void report(StatusKind kind, const std::string& text);
    bool quitting() const;

    Session& m_session;
    CheckHost& m_host;
    MailboxClient& m_client;
    AccountRuntime* m_runtime;
    int m_accountAtStart;
    CheckPassSettings m_settings;

    bool m_failed = false;
    ErrorKind m_failureKind = ErrorKind::Other;
    std::string m_failureText;
    bool m_unchanged = false;
    bool m_shutdownRequested = false;
    int m_deleted = 0;
    long long m_newCount = 0;
};

} // namespace tarn
