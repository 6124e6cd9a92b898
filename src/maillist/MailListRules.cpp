#include "maillist/MailListRules.h"

#include "core/DateFormat.h"

#include <cmath>

namespace tarn::maillist {

std::string sizeText(long long bytes) {
    // Integer division rounds toward zero, also for a (broken) negative size.
    return std::to_string(bytes / 1024) + " kB";
}

std::string actionText(bool deleting, bool retrieving) {
    if (deleting)
        return "Deleting";
    if (retrieving)
        return "Retrieving";
    return std::string();
}

bool dateIsShowable(double date) {
    // 2958466.0 is 1 January 10000, past any calendar the date formats know.
    return std::isfinite(date) && date >= 1000.0 && date < 2958466.0;
}

std::string dateText(double date, double today) {
    if (!dateIsShowable(date))
        return "unknown";
    if (std::floor(date) == today)
        return formatTimeOfDay(date);
    return formatDateTime(date);
}

int rowAccount(int viewAccount, int recordAccount, int accountCount) {
    const int a = viewAccount != 0 ? viewAccount : recordAccount;
    return a >= 1 && a <= accountCount ? a : 0;
}

std::optional<SortType> toggledSortType(int tag, SortType active) {
    SortType first, second;
    switch (tag) {
    case TagSubject:
        first = SortType::SubjectIndex, second = SortType::SubjectIndexRev;
        break;
    case TagSender:
        first = SortType::SenderIndex, second = SortType::SenderIndexRev;
        break;
    case TagSize:
        first = SortType::SizeIndex, second = SortType::SizeIndexRev;
        break;
    case TagAccount:
        first = SortType::CountIndex, second = SortType::CountIndexRev;
        break;
    case TagDate:
        first = SortType::DateIndex, second = SortType::DateIndexRev;
        break;
    default:
        return std::nullopt;
    }
    return active == first ? second : first;
}

std::string viewPanelText(int viewAccount, const std::string& accountName) {
    return viewAccount == 0 ? std::string("All Accounts") : accountName;
}

std::string viewCaption(int viewAccount, const std::string& accountName) {
    return viewAccount == 0 ? std::string("List of All Accounts")
                            : accountName + " Account Information";
}

std::string accountMenuShortcut(int entry) {
    if (entry < 0 || entry > 9)
        return std::string();
    return "Alt+" + std::to_string(entry);
}

} // namespace tarn::maillist
