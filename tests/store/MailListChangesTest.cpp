#include "store/MailListDB.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/NamedMutex.h"
#include "store/StoreTestSupport.h"

namespace {

using tarn::MailListDB;
using tarn::MailRecord;

MailRecord record(const std::string& uid, long long count) {
    MailRecord r;
    r.UID = uid;
    r.Account = 1;
    r.Count = count;
    r.Subject = "Subject " + uid;
    r.Size = 100;
    return r;
}

// Whether the saved file is still what the table holds after each operation.
TEST(MailListChanges, OnlyOperationsThatChangeAStoredValueCount) {
    struct Case {
        const char* name;
        std::function<void(MailListDB&)> op;
        bool changes;
    };
    const Case cases[] = {
        {"a record stored as it was",
         [](MailListDB& db) { db.UpdateMessage(*db.FindMessage("a", 1)); }, false},
        {"a record stored with a new count",
         [](MailListDB& db) {
             MailRecord r = *db.FindMessage("a", 1);
             r.Count = 5;
             db.UpdateMessage(r);
         },
         true},
        {"a subject cut to its width as it was stored",
         [](MailListDB& db) {
             MailRecord r = *db.FindMessage("a", 1);
             r.Subject = *r.Subject + std::string(MailListDB::SubjectWidth, 'x');
             db.UpdateMessage(r);
             const MailRecord cut = *db.FindMessage("a", 1);
             db.UpdateMessage(cut);
         },
         true},
        {"New marks cleared where none are set", [](MailListDB& db) { db.ClearNewFlags(1); },
         false},
        {"a record kept at its own count", [](MailListDB& db) { db.KeepOnlyAtCount(1, 1, "a"); },
         false},
        {"a stale record at a count", [](MailListDB& db) { db.KeepOnlyAtCount(1, 2, "a"); }, true},
        {"nothing beyond the count", [](MailListDB& db) { db.RemoveBeyondCount(1, 2); }, false},
        {"a record beyond the count", [](MailListDB& db) { db.RemoveBeyondCount(1, 1); }, true},
        {"a record appended", [](MailListDB& db) { db.AppendMessage(record("c", 3)); }, true},
        {"a record removed", [](MailListDB& db) { db.RemoveMessage("b", 1); }, true},
        {"messages hidden", [](MailListDB& db) { db.HideMessages(1); }, true},
        {"hidden shown where none are", [](MailListDB& db) { db.ShowHiddenMessages(1); }, false},
        {"the sort order", [](MailListDB& db) { db.setSortOrder(tarn::SortType::SizeIndex); },
         false},
        {"everything purged", [](MailListDB& db) { db.PurgeAll(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tarn::test::ScopedLockName lockName;
        tarn::NamedMutex mutex(lockName.name);
        MailListDB db(mutex);
        EXPECT_TRUE(db.changedSinceSaved()); // never saved
        db.replaceAll({record("a", 1), record("b", 2)});
        db.ClearNewFlags(1);
        db.markSaved();
        EXPECT_FALSE(db.changedSinceSaved());
        c.op(db);
        EXPECT_EQ(db.changedSinceSaved(), c.changes);
    }
}

} // namespace
