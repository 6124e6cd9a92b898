#include "engine/TIdCheckThread.h"

#include "core/TarnError.h"
#include "engine/DeletionLog.h"
#include "engine/Imap4Client.h"
#include "engine/MailAddress.h"
#include "engine/MessageDate.h"
#include "engine/Pop3Client.h"
#include "engine/Session.h"
#include "engine/TcpTransport.h"
#include "filters/EvaluateFilters.h"
#include "platform/NamedMutex.h"

#include <algorithm>
#include <thread>

namespace tarn {

namespace {

constexpr int kPop3 = 0;
constexpr int kImap4 = 1;

std::string trimSpaces(std::string_view s) {
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return std::string(s.substr(b, e - b));
}

std::optional<int> parsePort(const std::string& text) {
    const std::string t = trimSpaces(text);
    if (t.empty() || t.size() > 5)
        return std::nullopt;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    if (v < 1 || v > 65535)
        return std::nullopt;
    return v;
}

} // namespace

HostAndPort splitHostSetting(const std::string& hostSetting) {
    HostAndPort out;
    const std::size_t first = hostSetting.find(':');
    if (first == std::string::npos) {
        out.host = hostSetting;
        out.portText = "110";
    } else {
        out.host = hostSetting.substr(0, first);
        out.portText = hostSetting.substr(hostSetting.rfind(':') + 1);
    }
    out.port = parsePort(out.portText);
    return out;
}

TIdCheckThread::TIdCheckThread(std::string host, int port, std::string user, std::string password,
                               bool list, bool retrieveAllBodies, int account, int serverType,
                               std::string mailboxName, Session& session, CheckHost& checkHost,
                               const CheckOptions& options)
    : m_session(session), m_host(checkHost), m_options(options), m_hostName(std::move(host)),
      m_port(port), m_user(std::move(user)), m_password(std::move(password)), m_list(list),
      m_allBodies(retrieveAllBodies), m_account(account), m_serverType(serverType),
      m_mailbox(std::move(mailboxName)) {
    const Settings& settings = m_session.settings();
    const bool known = account >= 1 && account <= settings.accountCount();
    if (known) {
        const AccountSettings& acc = settings.account(account);
        m_accountName = acc.Name;
    }
    m_maxDownloadBytes = static_cast<long long>(settings.Main.MaxDownloadSize) * 1024;
    m_keepLogFile = settings.Main.KeepLogFile;

    auto connection =
        std::make_unique<LineConnection>(std::make_unique<TcpTransport>(m_options.hostLookup));
    connection->setConnectTimeout(m_options.connectTimeout);
    connection->setReadTimeout(m_options.readTimeout);
    connection->setWriteTimeout(m_options.writeTimeout);
    // What the server claims a message's size to be is not trusted: the fetch itself stops at
    // the larger of the download limit and what any header may need.
    const std::size_t messageBudget = std::max<std::size_t>(
        static_cast<std::size_t>(std::max(m_maxDownloadBytes, 0LL)), Pop3Client::kMaxHeaderBytes);
    if (m_serverType == kImap4) {
        m_imap = std::make_unique<Imap4Client>(std::move(connection));
        m_imap->setMaxMessageBytes(messageBudget);
        m_port = m_options.imapPort;
    } else {
        m_pop = std::make_unique<Pop3Client>(std::move(connection));
        m_pop->setMaxMessageBytes(messageBudget);
    }

    if (known && !settings.account(account).SavePwd && m_password.empty() && !m_hostName.empty()) {
        const std::optional<std::string> typed =
            m_host.PromptPassword("Password at " + m_accountName + ":");
        if (typed) {
            m_password = *typed;
            // Kept for the rest of the run only; the settings file never sees it.
            m_session.settings().account(account).Password = m_password;
        }
    }

    if (m_imap) {
        m_imap->setHost(m_hostName);
        m_imap->setPort(m_port);
        m_imap->setUser(m_user);
        m_imap->setPassword(m_password);
    } else {
        m_pop->setHost(m_hostName);
        m_pop->setPort(m_port);
        m_pop->setUser(m_user);
        m_pop->setPassword(m_password);
    }

    if (AccountRuntime* rt = m_session.runtimeOf(account))
        rt->CheckRequested = false;
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
    const HostAndPort hp = splitHostSetting(acc.Host);
    auto worker = std::make_unique<TIdCheckThread>(
        hp.host, hp.port.value_or(0), acc.UserID, acc.Password, acc.List, acc.RetrieveAllBodies,
        account, acc.MailServerType, acc.IMAPMailBoxName, session, checkHost, options);
    // IMAP4 ignores the port part, so only a POP3 account fails on one that is not a number.
    if (!hp.port && acc.MailServerType != kImap4)
        worker->markFailed(ErrorKind::LocalError,
                           "The port \"" + hp.portText + "\" is not a port number.");
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
        worker->fail(ErrorKind::LocalError, "No thread could be started for the check.");
        if (AccountRuntime* rt = session.runtimeOf(worker->m_account))
            rt->Busy = false;
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
    try {
        NamedLock lock(session.db().mutex());
        session.db().ClearNewFlags(result.account);
    } catch (const std::exception&) {
        // A store that cannot be changed must not keep the account busy.
    }
    if (AccountRuntime* rt = session.runtimeOf(result.account)) {
        if (result.failed)
            rt->LastMailboxTotal = -1;
        rt->Busy = false;
    }
}

CheckResult TIdCheckThread::result() const {
    CheckResult r;
    r.account = m_account;
    r.failed = m_failed;
    r.unchanged = m_unchanged;
    r.listFlag = m_list;
    r.deletedCount = m_deleted;
    r.shutdownRequested = m_shutdownRequested;
    r.newCount = m_newCount;
    if (m_failed) {
        r.failureKind = m_failureKind;
        r.failureText = m_failureText;
    }
    return r;
}

void TIdCheckThread::markFailed(ErrorKind kind, const std::string& text) {
    fail(kind, text);
}

LineConnection& TIdCheckThread::connection() {
    return m_pop ? m_pop->connection() : m_imap->connection();
}

void TIdCheckThread::fail(ErrorKind kind, const std::string& text) {
    const bool first = !m_failed || m_failureText.empty();
    m_failed = true;
    if (!first)
        return;
    m_failureKind = kind;
    // A server's text can be long; the reason is a line in a hint, not a transcript.
    constexpr std::size_t kMaxReason = 300;
    m_failureText = text.size() > kMaxReason ? text.substr(0, kMaxReason) + "..." : text;
}

void TIdCheckThread::fail(const std::exception& e) {
    const auto* te = dynamic_cast<const TarnError*>(&e);
    ErrorKind kind = te ? te->kind() : ErrorKind::Other;
    std::string text = e.what();
    if (kind == ErrorKind::NotConnected) {
        if (const std::optional<TarnError>& why = connection().lastError()) {
            kind = why->kind();
            text = why->what();
        }
    }
    fail(kind, text);
}

bool TIdCheckThread::connectionLost(const std::exception& e) const {
    if (!(m_pop ? m_pop->Connected() : m_imap->Connected()))
        return true;
    const auto* te = dynamic_cast<const TarnError*>(&e);
    if (!te)
        return false;
    // After a time-out the answer may still come and would be read as the answer to the
    // next command, so the connection counts as lost.
    switch (te->kind()) {
    case ErrorKind::TimedOut:
    case ErrorKind::ConnectionClosed:
    case ErrorKind::NotConnected:
    case ErrorKind::NetworkError:
    case ErrorKind::TlsError:
        return true;
    default:
        return false;
    }
}

void TIdCheckThread::passOver(const std::exception& e) {
    if (connectionLost(e))
        throw;
    const auto* te = dynamic_cast<const TarnError*>(&e);
    if (te && te->kind() == ErrorKind::OverBudget)
        fail(e);
}

bool TIdCheckThread::quitting() const {
    return m_session.Quitting.load();
}

void TIdCheckThread::report(int kind, const std::string& text) {
    m_host.ReportStatus(m_account, kind, text);
}

void TIdCheckThread::check() {
    AccountRuntime* rt = m_session.runtimeOf(m_account);
    if (m_failed) {
        if (rt)
            rt->Busy = false;
        if (!quitting())
            m_host.EndOfCheckUpdate(result());
        return;
    }

    report(0, "Contacting");
    connection().setEndTime(LineConnection::Clock::now() + m_options.checkTimeLimit);
    try {
        int n = 0;
        connectAndCount(n);
        if (n > 0) {
            const long long total = m_pop ? m_pop->MailboxTotal() : m_imap->MailboxTotal();
            const long long last = rt ? rt->LastMailboxTotal.load() : -1;
            m_unchanged = last >= 0 && last == total;
            if (!m_unchanged) {
                if (rt)
                    rt->LastMailboxTotal = total;
                if (m_pop) {
                    report(1, "Getting UID List");
                    report(3, "10");
                    try {
                        m_uidListing = m_pop->UniqueIdListing();
                    } catch (const std::exception& e) {
                        // Every message then fails on its missing identity.
                        m_uidListing.clear();
                        passOver(e);
                    }
                }
                perMessagePass(n);
            }
            deletionStep(n);
        }
        if (quitting())
            throw TarnError("The program is quitting.");
        NamedLock lock(m_session.db().mutex());
        m_session.db().RemoveBeyondCount(m_account, n);
        m_newCount = m_session.db().CountNewShown(m_account);
    } catch (const std::exception& e) {
        fail(e);
    }

    try {
        disconnect();
        report(0, "Disconnected");
        report(1, "");
        report(3, "0");
    } catch (const std::exception& e) {
        fail(e);
    }

    if (rt)
        rt->Busy = false;
    if (quitting())
        return;
    m_host.EndOfCheckUpdate(result());
    m_host.NewMailSounds(m_account, m_newCount);
}

void TIdCheckThread::connectAndCount(int& n) {
    if (m_pop) {
        m_pop->Connect();
    } else {
        m_imap->Connect();
        m_imap->SelectMailbox(m_mailbox);
    }
    report(0, "Connected");
    report(3, "5");
    report(1, "Getting Status");
    n = m_pop ? m_pop->MessageCount() : m_imap->MessageCount();
    if (n < 0)
        throw TarnError(ErrorKind::ProtocolError, "Negative message count.");
    report(1, std::to_string(n) + " Messages detected");
}

void TIdCheckThread::perMessagePass(int n) {
    for (int i = 1; i <= n; ++i) {
        if (quitting()) {
            fail(ErrorKind::LocalError, "The program is quitting.");
            return;
        }
        try {
            processMessage(i, n);
        } catch (const std::exception& e) {
            fail(e);
            // Without a connection every further message would fail the same way.
            if (connectionLost(e))
                return;
        }
    }
}

std::optional<std::string> TIdCheckThread::fetchBody(int i) {
    try {
        if (m_pop) {
            std::optional<Pop3Message> m = m_pop->FetchMessage(i);
            if (!m)
                return std::nullopt;
            return decodeFetchedMessage(m->headerLines, m->hasBody, m->bodyLines, m_session.clock())
                .bodyText();
        }
        m_imap->AddFlag(i, "\\Seen");
        const ImapFetchedMessage m = m_imap->FetchMessage(i);
        return decodeFetchedMessage(m.headerLines, m.hasBody, m.bodyLines, m_session.clock())
            .bodyText();
    } catch (const std::exception& e) {
        passOver(e);
        return std::nullopt;
    }
}

void TIdCheckThread::processMessage(int i, int n) {
    const std::string of = std::to_string(i) + " of " + std::to_string(n);
    report(3, std::to_string(static_cast<long long>(i) * 80 / n + 10));

    MailMessage message;
    bool headerObtained = false;

    // Identity.
    std::string uid;
    if (m_pop) {
        if (static_cast<std::size_t>(i) > m_uidListing.size())
            throw TarnError(ErrorKind::ProtocolError,
                            "No unique id for message " + std::to_string(i) + ".");
        const std::string& line = m_uidListing[static_cast<std::size_t>(i - 1)];
        const std::size_t sp = line.find(' ');
        uid = sp == std::string::npos ? line : line.substr(sp + 1);
    } else {
        const ImapEnvelope env = m_imap->FetchEnvelope(i);
        uid = env.messageId;
        if (uid.empty())
            uid = "account_" + std::to_string(m_account) + "& Nr:" + std::to_string(i);
        message.setSubject(env.subject);
        const ImapAddress from = env.firstFrom();
        message.setSender(from.route.empty() ? from.name : from.route, from.address());
        message.setDate(MessageDate::decode(env.date, m_session.clock()));
        message.setMessageId(env.messageId);
        headerObtained = true;
    }

    bool headerNeeded = true;
    bool bodyNeeded = false;
    bool sizeNeeded = true;
    long long currentSize = 0;
    MailListDB& db = m_session.db();
    {
        NamedLock lock(db.mutex());
        if (const std::optional<MailRecord> rec = db.FindMessage(uid, m_account)) {
            if (rec->Header)
                headerNeeded = false;
            if (rec->RetrieveMail.value_or(false) && !rec->Body && currentSize < m_maxDownloadBytes)
                bodyNeeded = true;
            if (rec->Size.value_or(0) != 0)
                sizeNeeded = false;
        }
    }
    if (!m_list) {
        headerNeeded = false;
        bodyNeeded = false;
    }
    if (bodyNeeded)
        headerNeeded = false;

    if (sizeNeeded) {
        report(1, "Getting Message Size " + of);
        try {
            const long long s = m_pop ? m_pop->MessageSize(i) : m_imap->MessageSize(i);
            // An answer without a size counts as none, so the next pass asks again.
            currentSize = s > 0 ? s : 0;
        } catch (const std::exception& e) {
            passOver(e);
        }
    }

    if (headerNeeded) {
        report(1, "Getting header " + of);
        if (m_pop) {
            try {
                message = decodeFetchedMessage(m_pop->FetchHeader(i), false, {}, m_session.clock());
                headerObtained = true;
            } catch (const std::exception& e) {
                passOver(e);
            }
        }
    }

    std::optional<std::string> body;
    if (bodyNeeded) {
        report(1, "Getting body " + of);
        body = fetchBody(i);
    }

    {
        NamedLock lock(db.mutex());
        try {
            std::optional<MailRecord> found = db.FindMessage(uid, m_account);
            MailRecord rec = found ? *found : MailRecord{};
            if (found)
                rec.New = false;
            rec.UID = uid;
            rec.Count = i;
            rec.Account = m_account;
            if (sizeNeeded)
                rec.Size = currentSize;
            if (headerNeeded && headerObtained) {
                rec.Subject = message.subject();
                rec.Sender = message.senderText();
                rec.Date = message.date();
                std::string header = message.headerText();
                // No header lines (IMAP4 envelope): the field stays absent.
                if (!header.empty())
                    rec.Header = std::move(header);
            }
            bool stored = false;
            try {
                const int r =
                    EvaluateFilters(rec, *m_session.filters().load(),
                                    FilterContext{db.mutex(), m_session.clock(), [this](int a) {
                                                      return m_session.runtimeOf(a);
                                                  }});
                if (r == kFilterShutdown)
                    m_shutdownRequested = true;
            } catch (const std::exception& e) {
                // The record is still stored with what the check learned.
                fail(ErrorKind::LocalError, std::string("A filter failed: ") + e.what());
                if (found)
                    db.UpdateMessage(rec);
                else
                    db.AppendMessage(rec);
                stored = true;
            }
            if (!stored) {
                if (body) {
                    rec.Body = *body;
                    rec.RetrieveMail = false;
                    bodyNeeded = false;
                }
                if ((rec.RetrieveMail.value_or(false) || m_allBodies) && !rec.Body &&
                    currentSize < m_maxDownloadBytes)
                    bodyNeeded = true;
                if (found)
                    db.UpdateMessage(rec);
                else
                    db.AppendMessage(rec);
            } else {
                bodyNeeded = false;
            }
        } catch (const std::exception& e) {
            fail(ErrorKind::LocalError,
                 std::string("The message could not be stored: ") + e.what());
            bodyNeeded = false;
        }
        db.KeepOnlyAtCount(m_account, i, uid);
    }

    if (bodyNeeded && m_list) {
        report(1, "Getting body " + of);
        body = fetchBody(i);
        if (body) {
            NamedLock lock(db.mutex());
            if (std::optional<MailRecord> rec = db.FindMessage(uid, m_account)) {
                rec->Body = *body;
                rec->RetrieveMail = false;
                db.UpdateMessage(*rec);
            }
        }
    }
}

void TIdCheckThread::deletionStep(int n) {
    MailListDB& db = m_session.db();
    while (!m_failed && !quitting()) {
        std::optional<MarkedForDeletion> marked;
        {
            NamedLock lock(db.mutex());
            marked = db.FirstMarkedForDeletion(m_account);
            if (marked && marked->Count <= 0) {
                // Such a record stays in the table; look past it, or the loop would take it
                // again and again.
                marked.reset();
                db.walk(m_account, [&](const MailRecord& r) {
                    if (r.Delete.value_or(false) && r.Count.value_or(0) > 0) {
                        marked = MarkedForDeletion{*r.Count, r.UID.value_or(std::string()), true};
                        return false;
                    }
                    return true;
                });
            }
        }
        if (!marked)
            break;

        const long long number = marked->Count;
        try {
            report(1, "Deleting Message " + std::to_string(number));
            report(3, std::to_string(number * 10 / n + 90));
            try {
                if (m_pop)
                    m_pop->DeleteMessage(static_cast<int>(number));
                else
                    m_imap->DeleteMessage(static_cast<int>(number));
            } catch (const std::exception& e) {
                fail(e);
            }
        } catch (const std::exception& e) {
            fail(e);
            report(1, "Error While Deleting");
        }

        {
            NamedLock lock(db.mutex());
            if (std::optional<MailRecord> rec = db.FindMessage(marked->UID, m_account)) {
                const std::string size = std::to_string(rec->Size.value_or(0));
                if (m_failed) {
                    WriteDeletionLog(m_session.workingFolder(), kLogStatusError, m_accountName,
                                     rec->Subject.value_or(""), rec->Sender.value_or(""), size,
                                     rec->UID.value_or(""), m_session.clock());
                } else if (m_keepLogFile) {
                    WriteDeletionLog(m_session.workingFolder(), kLogStatusDeleted, m_accountName,
                                     rec->Subject.value_or(""), rec->Sender.value_or(""), size,
                                     rec->UID.value_or(""), m_session.clock());
                }
                ++m_deleted;
                db.RemoveMessage(marked->UID, m_account);
            }
        }
        if (m_options.deletePause.count() > 0)
            std::this_thread::sleep_for(m_options.deletePause);
    }
    if (m_imap)
        m_imap->Expunge();
}

void TIdCheckThread::disconnect() {
    if (m_pop)
        m_pop->Disconnect();
    else
        m_imap->Disconnect();
}

} // namespace tarn
