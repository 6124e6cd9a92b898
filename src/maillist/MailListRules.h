#pragma once

#include "store/MailListDB.h"
#include "store/RecordIcon.h"

#include <optional>
#include <string>
#include <vector>

namespace tarn {

// How the mail list window presents its rows (columns, texts, captions, shortcuts), kept
// apart from the window so that they can be checked without one.
namespace maillist {

// Column tags of the list; a column is always found by its tag.
enum ColumnTag : int {
    TagSubject = 1,
    TagSender = 2,
    TagSize = 3,
    TagAccount = 4,
    TagDate = 5,
    TagUID = 6,
    TagAction = 99,
};

// Size in whole kB, rounded toward zero, and " kB".
std::string sizeText(long long bytes);
// "Deleting", "Retrieving" or empty.
std::string actionText(bool deleting, bool retrieving);

// "unknown" below 1000.0 (and for values no calendar holds), the time alone on today's date
// (today = local midnight as a whole day number), else the short date and the time, the time
// left out at exactly midnight.
std::string dateText(double date, double today);
// Dates from 1000.0 up to 31 December 9999.
bool dateIsShowable(double date);

// The account a row's commands act on: in a one-account view that account; in the
// all-accounts view the account the row's record belongs to. 0 when there is no such account
// (a record left from an account that no longer exists).
int rowAccount(int viewAccount, int recordAccount, int accountCount);

// The order a click on the header of the column with this tag chooses, given the active one;
// none for the columns that do not sort.
std::optional<SortType> toggledSortType(int tag, SortType active);

// Text of the first status panel and of the caption for a view.
std::string viewPanelText(int viewAccount, const std::string& accountName);
std::string viewCaption(int viewAccount, const std::string& accountName);

// Alt+digit of an "Accounts" menu entry (0 = "All Accounts"); empty beyond 9.
std::string accountMenuShortcut(int entry);

// The column and direction a sort order shows in the header; tag -1 for none.
struct SortIndicator {
    int tag = -1;
    bool descending = false;
};
SortIndicator sortIndicatorOf(SortType order);

// Widths of columns that each need `needed` pixels, in a list `available` wide: each gets
// what it needs; room left over is shared by the columns with a weight, in proportion to it
// (the first such column takes the rounding). With too little room, each keeps its need.
std::vector<int> shareColumnWidths(const std::vector<int>& needed, const std::vector<int>& weights,
                                   int available);

// The box for a message above the download limit: the limit and where it is set.
std::string tooBigToRetrieveText(int maxDownloadKB);

} // namespace maillist
} // namespace tarn
