#pragma once

#include "store/MailListDB.h"

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tarn {

class Session;

// What the mail list window's commands do to the mail list and the accounts' run-time state.
// The window resolves its rows to (UID, Account) keys in list order and hands them here; it
// then refreshes the list, the fields and the tray with what these functions return.
//
// Every walk takes the MailDB lock once for its whole length; a failure on one row abandons
// that row only, and a lock that cannot be taken skips the walk.
class MailListActions {
public:
    // Sets the interval of account a's check timer to ms (the scheduler's timers).
    using TimerSetter = std::function<void(int account, int ms)>;

    static constexpr int DeleteCheckDelayMs = 10000;
    static constexpr int RetrieveCheckDelayMs = 1;
    static constexpr int CheckNewMailsDelayMs = 100;

    MailListActions(Session& session, TimerSetter setTimer);

    // A check of the account starts at the timer's next tick, even when it is not Active.
    void requestCheck(int account, int ms);

    // Toggles each row's deletion mark; a newly marked record makes its account's next check
    // read the whole mailbox. With requestAfterMs a check of each found row's account is
    // requested after that long. Returns the number of rows found.
    int toggleDeleteMarks(const std::vector<MessageKey>& rows, std::optional<int> requestAfterMs);
    // Marks each row for deletion without ever taking a mark back (the message window's
    // delete button); a newly marked record makes its account's next check read the whole
    // mailbox. A check of each found row's account is requested after requestAfterMs. Returns
    // the number of rows found.
    int markForDeletion(const std::vector<MessageKey>& rows, int requestAfterMs);
    // Clears every mark of every account.
    std::set<int> undeleteAll();

    // Hides the rows; returns their accounts.
    std::set<int> hideRows(const std::vector<MessageKey>& rows);
    // Hides or shows every message of an account (0 = all); returns the accounts touched.
    std::set<int> hideAll(int account);
    std::set<int> showAllHidden(int account);

    struct RetrieveResult {
        int marked = 0;
        int lastAccount = 0;            // account of the last marked row
        std::vector<MessageKey> tooBig; // rows too big to fetch, in list order
    };
    // Marks rows smaller than maxDownloadKB kB for fetching their bodies; tooBig runs for each
    // row that is too big while the lock is still held. When one was marked, the last marked
    // row's account reads its whole mailbox at a check requested after 1 ms.
    RetrieveResult retrieveBodies(const std::vector<MessageKey>& rows, long long maxDownloadKB,
                                  const std::function<void(const MessageKey&)>& tooBig);

    // Marks the rows whose record has no header lines (IMAP4 messages known by their
    // envelope) for fetching, which brings the header with the body, and requests a check of
    // each of their accounts after 1 ms, reading its whole mailbox. Returns the rows marked.
    std::vector<MessageKey> retrieveHeaders(const std::vector<MessageKey>& rows);

    // Gives each row icon n (0 gives back the automatic icon); returns rows changed.
    int assignIcon(const std::vector<MessageKey>& rows, int icon);

    // Goes online through goOnline when offline, then requests checks: of the view's account
    // after 100 ms, or in the all-accounts view of every account k after 100 + 10 k ms.
    void checkNewMails(int viewAccount, const std::function<void()>& goOnline);

    // Removes every record; every account's next check reads its whole mailbox; the saved
    // list file is deleted. Returns the accounts that had records.
    std::set<int> purgeMaillist();

private:
    // Runs f for each row's record under one hold of the lock.
    template <class F> void forEachRecord(const std::vector<MessageKey>& rows, F&& f);

    Session& m_session;
    TimerSetter m_setTimer;
};

} // namespace tarn
