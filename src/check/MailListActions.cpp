#include "check/MailListActions.h"

#include "check/Session.h"
#include "store/MailStoreFiles.h"

#include <cstdio>

namespace tarn {

MailListActions::MailListActions(Session& session, TimerSetter setTimer)
    : m_session(session), m_setTimer(std::move(setTimer)) {}

void MailListActions::requestCheck(int account, int ms) {
    AccountRuntime* rt = m_session.runtimeOf(account);
    if (!rt)
        return;
    rt->CheckRequested = true;
    if (m_setTimer)
        m_setTimer(account, ms);
}

template <class F> void MailListActions::forEachRecord(const std::vector<MessageKey>& rows, F&& f) {
    MailListDB& db = m_session.db();
    try {
        NamedLock lock(db.mutex());
        for (const MessageKey& key : rows) {
            try {
                std::optional<MailRecord> rec = db.FindMessage(key.UID, key.Account);
                if (rec)
                    f(key, *rec);
            } catch (const std::exception&) {
                // This row is abandoned; the others go on.
            }
        }
    } catch (const std::exception&) {
        // Without the lock the walk is skipped; the caller still refreshes.
    }
}

int MailListActions::toggleDeleteMarks(const std::vector<MessageKey>& rows,
                                       std::optional<int> requestAfterMs) {
    int found = 0;
    forEachRecord(rows, [&](const MessageKey& key, MailRecord& rec) {
        if (rec.Delete.value_or(false)) {
            rec.Delete = false;
        } else {
            rec.Delete = true;
            if (AccountRuntime* rt = m_session.runtimeOf(key.Account))
                rt->LastMailboxTotal = -2;
        }
        m_session.db().UpdateMessage(rec);
        ++found;
        if (requestAfterMs)
            requestCheck(key.Account, *requestAfterMs);
    });
    return found;
}

int MailListActions::markForDeletion(const std::vector<MessageKey>& rows, int requestAfterMs) {
    int found = 0;
    forEachRecord(rows, [&](const MessageKey& key, MailRecord& rec) {
        if (!rec.Delete.value_or(false)) {
            rec.Delete = true;
            if (AccountRuntime* rt = m_session.runtimeOf(key.Account))
                rt->LastMailboxTotal = -2;
            m_session.db().UpdateMessage(rec);
        }
        ++found;
        requestCheck(key.Account, requestAfterMs);
    });
    return found;
}

std::set<int> MailListActions::undeleteAll() {
    try {
        NamedLock lock(m_session.db().mutex());
        return m_session.db().UndeleteAll();
    } catch (const std::exception&) {
        return {};
    }
}

std::set<int> MailListActions::hideRows(const std::vector<MessageKey>& rows) {
    std::set<int> accounts;
    forEachRecord(rows, [&](const MessageKey& key, MailRecord& rec) {
        if (!rec.Ignore.value_or(false))
            rec.Ignore = true;
        m_session.db().UpdateMessage(rec);
        accounts.insert(key.Account);
    });
    return accounts;
}

std::set<int> MailListActions::hideAll(int account) {
    try {
        NamedLock lock(m_session.db().mutex());
        return m_session.db().HideMessages(account);
    } catch (const std::exception&) {
        return {};
    }
}

std::set<int> MailListActions::showAllHidden(int account) {
    try {
        NamedLock lock(m_session.db().mutex());
        return m_session.db().ShowHiddenMessages(account);
    } catch (const std::exception&) {
        return {};
    }
}

MailListActions::RetrieveResult
MailListActions::retrieveBodies(const std::vector<MessageKey>& rows, long long maxDownloadKB,
                                const std::function<void(const MessageKey&)>& tooBig) {
    RetrieveResult result;
    if (rows.empty())
        return result;
    const long long limit = maxDownloadKB * 1024;
    forEachRecord(rows, [&](const MessageKey& key, MailRecord& rec) {
        if (rec.Size.value_or(0) < limit) {
            rec.RetrieveMail = true;
            m_session.db().UpdateMessage(rec);
            ++result.marked;
            result.lastAccount = key.Account;
        } else {
            result.tooBig.push_back(key);
            if (tooBig)
                tooBig(key);
        }
    });
    if (result.marked > 0) {
        if (AccountRuntime* rt = m_session.runtimeOf(result.lastAccount))
            rt->LastMailboxTotal = -2;
        requestCheck(result.lastAccount, RetrieveCheckDelayMs);
    }
    return result;
}

std::vector<MessageKey> MailListActions::retrieveHeaders(const std::vector<MessageKey>& rows) {
    std::vector<MessageKey> marked;
    std::set<int> accounts;
    forEachRecord(rows, [&](const MessageKey& key, MailRecord& rec) {
        if (rec.Header)
            return;
        rec.RetrieveMail = true;
        m_session.db().UpdateMessage(rec);
        marked.push_back(key);
        accounts.insert(key.Account);
    });
    for (int a : accounts) {
        if (AccountRuntime* rt = m_session.runtimeOf(a))
            rt->LastMailboxTotal = -2;
        requestCheck(a, RetrieveCheckDelayMs);
    }
    return marked;
}

int MailListActions::assignIcon(const std::vector<MessageKey>& rows, int icon) {
    int changed = 0;
    forEachRecord(rows, [&](const MessageKey&, MailRecord& rec) {
        rec.icon = icon;
        m_session.db().UpdateMessage(rec);
        ++changed;
    });
    return changed;
}

void MailListActions::checkNewMails(int viewAccount, const std::function<void()>& goOnline) {
    if (!m_session.Online && goOnline)
        goOnline();
    if (viewAccount != 0) {
        requestCheck(viewAccount, CheckNewMailsDelayMs);
        return;
    }
    const int count = m_session.settings().accountCount();
    for (int k = 1; k <= count; ++k)
        requestCheck(k, CheckNewMailsDelayMs + 10 * k);
}

std::set<int> MailListActions::purgeMaillist() {
    std::set<int> accounts;
    try {
        NamedLock lock(m_session.db().mutex());
        accounts = m_session.db().PurgeAll();
    } catch (const std::exception&) {
    }
    for (int a = 1; a <= m_session.runtime().size(); ++a)
        m_session.runtime()[a].LastMailboxTotal = -1;
    std::remove(m_session.path(MailStoreFiles::SavedFileName).c_str());
    return accounts;
}

} // namespace tarn
