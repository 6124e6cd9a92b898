#include "check/CheckPass.h"

#include "check/CheckHost.h"
#include "check/DeletionLog.h"
#include "check/Session.h"
#include "core/AccountRuntime.h"
#include "filters/EvaluateFilters.h"
#include "mailproto/MailboxClient.h"
#include "mime/MailMessage.h"
#include "mime/MessageDate.h"
#include "net/LineConnection.h"
#include "platform/NamedMutex.h"
#include "store/MailRecord.h"

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

namespace tarn {

namespace {

// What a message still needs from the server, by what the mail list holds of it: the one rule
// for the guess ahead and for the message itself.
struct FetchNeeds {
    bool header = true;
    bool body = false;
    bool size = true;
};

FetchNeeds fetchNeeds(const std::optional<MailRecord>& rec, const CheckPassSettings& settings) {
    FetchNeeds n;
    if (rec) {
        n.header = !rec->Header;
        // The size is not known yet at this point, so it counts as 0 against the budget.
        n.body = rec->RetrieveMail.value_or(false) && !rec->Body && 0 < settings.maxDownloadBytes;
        n.size = rec->Size.value_or(0) == 0;
    }
    if (!settings.list)
        n.header = n.body = false;
    if (n.body)
        n.header = false; // the whole message brings the header along
    return n;
}

// Whether a body is fetched once the record is stored: asked for (or every body is), not held
// yet, and within the download budget.
bool bodyAfterStore(bool retrieveMail, bool hasBody, long long size,
                    const CheckPassSettings& settings) {
    return (retrieveMail || settings.allBodies) && !hasBody && size < settings.maxDownloadBytes;
}

} // namespace

CheckPass::CheckPass(Session& session, CheckHost& host, MailboxClient& client,
                     AccountRuntime* runtime, int account, CheckPassSettings settings)
    : m_session(session), m_host(host), m_client(client), m_runtime(runtime),
      m_accountAtStart(account), m_settings(std::move(settings)) {}

int CheckPass::account() const {
    return m_runtime ? m_runtime->Number.load() : m_accountAtStart;
}

int CheckPass::accountUnderLock() const {
    const int a = account();
    if (a < 1)
        throw TarnError(ErrorKind::LocalError, "The account was deleted during its check.");
    return a;
}

void CheckPass::fail(ErrorKind kind, const std::string& text) {
    const bool first = !m_failed || m_failureText.empty();
    m_failed = true;
    if (!first)
        return;
    m_failureKind = kind;
    // A server's text can be long; the reason is a line in a hint, not a transcript.
    constexpr std::size_t kMaxReason = 300;
    m_failureText = text.size() > kMaxReason ? text.substr(0, kMaxReason) + "..." : text;
}

void CheckPass::fail(const std::exception& e) {
    const auto* te = dynamic_cast<const TarnError*>(&e);
    ErrorKind kind = te ? te->kind() : ErrorKind::Other;
    std::string text = e.what();
    if (kind == ErrorKind::NotConnected) {
        if (const std::optional<TarnError>& why = m_client.lineConnection().lastError()) {
            kind = why->kind();
            text = why->what();
        }
    }
    fail(kind, text);
}

bool CheckPass::connectionLost(const std::exception& e) const {
    if (!m_client.isConnected())
        return true;
    const auto* te = dynamic_cast<const TarnError*>(&e);
    if (!te)
        return false;
    return breaksDialogue(te->kind());
}

void CheckPass::passOver(const std::exception& e) {
    if (connectionLost(e))
        throw;
    const auto* te = dynamic_cast<const TarnError*>(&e);
    if (te && te->kind() == ErrorKind::OverBudget)
        fail(e);
}

bool CheckPass::quitting() const {
    return m_session.Quitting.load();
}

void CheckPass::report(StatusKind kind, const std::string& text) {
    m_host.ReportStatus(account(), kind, text);
}

void CheckPass::run() {
    report(StatusConnection, "Contacting");
    m_client.lineConnection().setEndTime(LineConnection::Clock::now() + m_settings.timeLimit);
    try {
        int n = 0;
        connectAndCount(n);
        if (n > 0) {
            const long long total = m_client.mailboxTotal();
            const long long last = m_runtime ? m_runtime->LastMailboxTotal.load() : -1;
            // The same total can hide a message expunged and another of its size added; a
            // client that knows better says so.
            m_unchanged = last >= 0 && last == total && !m_client.knowsOfChanges();
            if (!m_unchanged) {
                if (m_runtime)
                    m_runtime->LastMailboxTotal = total;
                if (m_client.hasIdentityListing()) {
                    report(StatusActivity, "Getting UID List");
                    report(StatusProgress, "10");
                    try {
                        m_client.loadIdentityListing();
                    } catch (const std::exception& e) {
                        // Every message then fails on its missing identity.
                        passOver(e);
                    }
                }
                perMessagePass(n);
            }
            deletionStep(n);
        }
        if (quitting())
            throw TarnError(ErrorKind::LocalError, "The program is quitting.");
        NamedLock lock(m_session.db().mutex());
        const int a = accountUnderLock();
        m_session.db().RemoveBeyondCount(a, n);
        m_newCount = m_session.db().CountNewShown(a);
    } catch (const std::exception& e) {
        fail(e);
    }

    try {
        m_client.closeMailbox();
        report(StatusConnection, "Disconnected");
        report(StatusActivity, "");
        report(StatusProgress, "0");
    } catch (const std::exception& e) {
        fail(e);
    }
}

void CheckPass::connectAndCount(int& n) {
    m_client.openMailbox();
    report(StatusConnection, "Connected");
    report(StatusProgress, "5");
    report(StatusActivity, "Getting Status");
    n = m_client.messageCount();
    if (n < 0)
        throw TarnError(ErrorKind::ProtocolError, "Negative message count.");
    report(StatusActivity, std::to_string(n) + " Messages detected");
}

void CheckPass::perMessagePass(int n) {
    m_client.prepareMessages(1, n);
    int expected = 0; // messages announced to the client so far
    for (int i = 1; i <= n; ++i) {
        if (quitting()) {
            fail(ErrorKind::LocalError, "The program is quitting.");
            return;
        }
        const int ahead = m_client.lookAhead();
        if (ahead > 0 && expected < std::min(n, i + ahead / 2)) {
            const int last = std::min(n, i + ahead);
            expectFetches(std::max(expected + 1, i), last);
            expected = last;
        }
        try {
            processMessage(i, n);
        } catch (const std::exception& e) {
            fail(e);
            // Without a connection (or without an account) every further message would fail
            // the same way.
            if (connectionLost(e) || account() < 1)
                return;
        }
    }
}

std::string CheckPass::uidOf(const MessageIdentity& identity, int i) const {
    // A message whose envelope has no id is known by its account and number.
    if (identity.fields && identity.uid.empty())
        return "account_" + std::to_string(account()) + "& Nr:" + std::to_string(i);
    return identity.uid;
}

void CheckPass::expectFetches(int first, int last) {
    // Only a guess: processMessage decides again when it gets there, and the client answers
    // whatever it asks then. Nothing here may fail the check.
    try {
        std::vector<std::pair<int, std::string>> uids;
        for (int j = first; j <= last; ++j) {
            try {
                uids.emplace_back(j, uidOf(m_client.messageIdentity(j), j));
            } catch (const std::exception&) {
                // The message fails when the pass gets to it.
            }
        }
        MailListDB& db = m_session.db();
        NamedLock lock(db.mutex());
        const int a = account();
        if (a < 1)
            return;
        for (const auto& [j, uid] : uids) {
            const std::optional<MailRecord> rec = db.FindMessage(uid, a);
            const FetchNeeds needs = fetchNeeds(rec, m_settings);
            ExpectedFetches e;
            e.header = needs.header;
            e.body = needs.body;
            std::optional<long long> currentSize = 0;
            if (needs.size) {
                const std::optional<std::int64_t> known = m_client.knownSize(j);
                currentSize =
                    known ? std::optional<long long>(std::max<long long>(*known, 0)) : std::nullopt;
            }
            e.bodyAfterStore = m_settings.list && !e.body && currentSize &&
                               bodyAfterStore(rec && rec->RetrieveMail.value_or(false),
                                              rec && rec->Body, *currentSize, m_settings);
            m_client.expectFetches(j, e);
        }
    } catch (const std::exception&) {
        // Without the guess the client asks when the pass does.
    }
}

namespace {

// A message known by its envelope has no header lines until its body is fetched.
void keepHeader(MailRecord& rec, const CheckPass::FetchedBody& fetched) {
    if (!rec.Header && !fetched.header.empty())
        rec.Header = fetched.header;
}

} // namespace

std::optional<CheckPass::FetchedBody> CheckPass::fetchBody(int i) {
    try {
        std::optional<RawMessage> m = m_client.wholeMessage(i);
        if (!m)
            return std::nullopt;
        const MailMessage message =
            decodeFetchedMessage(m->headerLines, m->hasBody, m->bodyLines, m_session.clock());
        return FetchedBody{message.bodyText(), message.headerText()};
    } catch (const std::exception& e) {
        passOver(e);
        return std::nullopt;
    }
}

void CheckPass::processMessage(int i, int n) {
    const std::string of = std::to_string(i) + " of " + std::to_string(n);
    report(StatusProgress, std::to_string(static_cast<long long>(i) * 80 / n + 10));

    MailMessage message;
    bool headerObtained = false;

    // Identity.
    MessageIdentity identity = m_client.messageIdentity(i);
    std::string uid = uidOf(identity, i);
    if (identity.fields) {
        // The identity brought the header fields (an envelope).
        const IdentityFields& f = *identity.fields;
        message.setSubject(decodeHeaderValue(f.subject));
        message.setSender(decodeHeaderValue(f.senderName), decodeHeaderValue(f.senderAddress));
        message.setDate(MessageDate::decode(f.date, m_session.clock()));
        message.setMessageId(f.messageId);
        headerObtained = true;
    }

    long long currentSize = 0;
    MailListDB& db = m_session.db();
    FetchNeeds needs;
    {
        NamedLock lock(db.mutex());
        needs = fetchNeeds(db.FindMessage(uid, accountUnderLock()), m_settings);
    }
    const bool headerNeeded = needs.header;
    bool bodyNeeded = needs.body;
    const bool sizeNeeded = needs.size;

    if (sizeNeeded) {
        report(StatusActivity, "Getting Message Size " + of);
        try {
            const long long s = m_client.messageSize(i);
            // An answer without a size counts as none, so the next pass asks again.
            currentSize = s > 0 ? s : 0;
        } catch (const std::exception& e) {
            passOver(e);
        }
    }

    if (headerNeeded) {
        report(StatusActivity, "Getting header " + of);
        try {
            if (std::optional<std::vector<std::string>> lines = m_client.messageHeader(i)) {
                message = decodeFetchedMessage(*lines, false, {}, m_session.clock());
                headerObtained = true;
            }
        } catch (const std::exception& e) {
            passOver(e);
        }
    }

    std::optional<FetchedBody> body;
    if (bodyNeeded) {
        report(StatusActivity, "Getting body " + of);
        body = fetchBody(i);
    }

    {
        NamedLock lock(db.mutex());
        const int a = accountUnderLock();
        try {
            std::optional<MailRecord> found = db.FindMessage(uid, a);
            MailRecord rec = found ? *found : MailRecord{};
            if (found)
                rec.New = false;
            rec.UID = uid;
            rec.Count = i;
            rec.Account = a;
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
                                    FilterContext{db.mutex(), m_session.clock(), [this](int other) {
                                                      return m_session.runtimeOf(other);
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
                    rec.Body = body->body;
                    keepHeader(rec, *body);
                    rec.RetrieveMail = false;
                    bodyNeeded = false;
                }
                if (bodyAfterStore(rec.RetrieveMail.value_or(false), rec.Body.has_value(),
                                   currentSize, m_settings))
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
        db.KeepOnlyAtCount(a, i, uid);
    }

    if (bodyNeeded && m_settings.list) {
        report(StatusActivity, "Getting body " + of);
        body = fetchBody(i);
        if (body) {
            NamedLock lock(db.mutex());
            if (std::optional<MailRecord> rec = db.FindMessage(uid, accountUnderLock())) {
                rec->Body = body->body;
                keepHeader(*rec, *body);
                rec->RetrieveMail = false;
                db.UpdateMessage(*rec);
            }
        }
    }
}

void CheckPass::deletionStep(int n) {
    MailListDB& db = m_session.db();
    while (!m_failed && !quitting()) {
        std::optional<MarkedForDeletion> marked;
        {
            NamedLock lock(db.mutex());
            const int a = accountUnderLock();
            marked = db.FirstMarkedForDeletion(a);
            if (marked && marked->Count <= 0) {
                // Such a record stays in the table; look past it, or the loop would take it
                // again and again.
                marked.reset();
                db.walk(a, [&](const MailRecord& r) {
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
            report(StatusActivity, "Deleting Message " + std::to_string(number));
            report(StatusProgress, std::to_string(number * 10 / n + 90));
            try {
                m_client.deleteMessage(static_cast<int>(number));
            } catch (const std::exception& e) {
                fail(e);
            }
        } catch (const std::exception& e) {
            fail(e);
            report(StatusActivity, "Error While Deleting");
        }

        {
            NamedLock lock(db.mutex());
            const int a = accountUnderLock();
            if (std::optional<MailRecord> rec = db.FindMessage(marked->UID, a)) {
                const std::string size = std::to_string(rec->Size.value_or(0));
                if (m_failed) {
                    WriteDeletionLog(m_session.workingFolder(), kLogStatusError,
                                     m_settings.accountName, rec->Subject.value_or(""),
                                     rec->Sender.value_or(""), size, rec->UID.value_or(""),
                                     m_session.clock());
                } else if (m_settings.keepLogFile) {
                    WriteDeletionLog(m_session.workingFolder(), kLogStatusDeleted,
                                     m_settings.accountName, rec->Subject.value_or(""),
                                     rec->Sender.value_or(""), size, rec->UID.value_or(""),
                                     m_session.clock());
                }
                ++m_deleted;
                db.RemoveMessage(marked->UID, a);
            }
        }
        if (m_settings.deletePause.count() > 0)
            std::this_thread::sleep_for(m_settings.deletePause);
    }
    m_client.expungeDeleted();
}

} // namespace tarn
