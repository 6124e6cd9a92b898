#include "store/MailListDB.h"
#include "store/StoreTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tarn {
namespace {

// Records built to meet every corner of the orders: equal keys, letter case, texts that are
// prefixes of each other or differ after eight bytes, zero bytes, absent fields, NaN dates.
std::vector<MailRecord> awkwardRecords() {
    std::mt19937 rng(7);
    const std::vector<std::optional<std::string>> texts = {std::nullopt,
                                                           "",
                                                           "a",
                                                           "A",
                                                           "ab",
                                                           "aB",
                                                           "abcdefgh",
                                                           "ABCDEFGH",
                                                           "abcdefghi",
                                                           "abcdefghI",
                                                           "abcdefgh\x01",
                                                           std::string("ab\0c", 4),
                                                           std::string("ab\0", 3),
                                                           "zeta",
                                                           "\xc3\xa9t\xc3\xa9",
                                                           "Zeta",
                                                           "[x]",
                                                           "_under"};
    const std::vector<std::optional<double>> dates = {
        std::nullopt, 0.0, 46000.5, 46000.5, -3.0, std::numeric_limits<double>::quiet_NaN(), 1e300};
    std::vector<MailRecord> out;
    for (int i = 0; i < 600; ++i) {
        MailRecord r;
        r.UID = "u" + std::to_string(i);
        r.Account = static_cast<int>(rng() % 4);
        if (rng() % 5)
            r.Count = static_cast<long long>(rng() % 20);
        r.Subject = texts[rng() % texts.size()];
        r.Sender = texts[rng() % texts.size()];
        if (rng() % 4)
            r.Size = static_cast<long long>(rng() % 6) * 1000;
        r.Date = dates[rng() % dates.size()];
        out.push_back(r);
    }
    return out;
}

std::vector<std::string> order(const MailListDB& db) {
    std::vector<std::string> uids;
    db.walk(MailListDB::AllAccounts, [&](const MailRecord& r) {
        uids.push_back(r.UID.value_or(""));
        return true;
    });
    return uids;
}

// A re-sort of the whole table (one sort of copied keys) gives the very order that inserting
// the records one by one into a table kept in that order gives, awkward keys included.
TEST(MailListSort, ResortAgreesWithInsertionOrderForEveryOrder) {
    const std::vector<MailRecord> records = awkwardRecords();
    for (int t = 0; t <= static_cast<int>(SortType::DateIndexRev); ++t) {
        const SortType type = static_cast<SortType>(t);
        test::ScopedLockName lockName;
        NamedMutex mutex(lockName.name + std::to_string(t));
        MailListDB resorted(mutex);
        MailListDB inserted(mutex);
        // Start the re-sorted table from another order so that the change really sorts.
        resorted.setSortOrder(type == SortType::SizeIndex ? SortType::DateIndex
                                                          : SortType::SizeIndex);
        inserted.setSortOrder(type);
        for (const MailRecord& r : records) {
            resorted.AppendMessage(r);
            inserted.AppendMessage(r);
        }
        resorted.setSortOrder(type);
        EXPECT_EQ(order(resorted), order(inserted)) << MailListDB::sortTypeName(type);
    }
}

} // namespace
} // namespace tarn
