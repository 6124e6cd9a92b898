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

std::string tooBigToRetrieveText(int maxDownloadKB) {
    return "Message is too big to retrieve (larger than the " + std::to_string(maxDownloadKB) +
           " kB set in General Prefs).";
}

SortIndicator sortIndicatorOf(SortType order) {
    switch (order) {
    case SortType::SubjectIndex:
    case SortType::SubjectIndexRev:
        return {TagSubject, order == SortType::SubjectIndexRev};
    case SortType::SenderIndex:
    case SortType::SenderIndexRev:
        return {TagSender, order == SortType::SenderIndexRev};
    case SortType::SizeIndex:
    case SortType::SizeIndexRev:
        return {TagSize, order == SortType::SizeIndexRev};
    case SortType::CountIndex:
    case SortType::CountIndexRev:
        return {TagAccount, order == SortType::CountIndexRev};
    case SortType::DateIndex:
    case SortType::DateIndexRev:
        return {TagDate, order == SortType::DateIndexRev};
    }
    return {};
}

std::vector<int> shareColumnWidths(const std::vector<int>& needed, const std::vector<int>& weights,
                                   int available) {
    std::vector<int> out = needed;
    long long total = 0;
    long long weightSum = 0;
    for (std::size_t i = 0; i < needed.size(); ++i) {
        total += needed[i];
        if (i < weights.size() && weights[i] > 0)
            weightSum += weights[i];
    }
    const long long extra = available - total;
    if (extra <= 0 || weightSum == 0)
        return out;
    long long given = 0;
    std::size_t first = needed.size();
    for (std::size_t i = 0; i < needed.size(); ++i) {
        if (i >= weights.size() || weights[i] <= 0)
            continue;
        if (first == needed.size())
            first = i;
        const long long share = extra * weights[i] / weightSum;
        out[i] += static_cast<int>(share);
        given += share;
    }
    out[first] += static_cast<int>(extra - given);
    return out;
}

} // namespace tarn::maillist
