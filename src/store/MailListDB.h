#pragma once

#include "platform/NamedMutex.h"
#include "store/MailRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarn {

// The ten orders the mail list can be kept in.
enum class SortType {
    CountIndex,
    CountIndexRev,
    SubjectIndex,
    SubjectIndexRev,
    SenderIndex,
    SenderIndexRev,
    SizeIndex,
    SizeIndexRev,
    DateIndex,
    DateIndexRev,
};

// What the deletion pass needs of the first record marked for deletion.
struct MarkedForDeletion {
    long long Count = 0;
    std::string UID;
    bool moreFollow = false; // another record of the account is marked too
};

// Identity of a record.
struct MessageKey {
    std::string UID;
    int Account = 0;
    bool operator==(const MessageKey&) const = default;
};

// The table of known messages, held in memory, one record per (UID, Account).
//
// Every operation takes the MailDB lock itself; the lock is re-entrant, so a caller may hold it
// (mutex()) across several operations. Records are returned as copies; a change is stored back
// with UpdateMessage.
//
// Order: every walk follows the active sort order. Texts compare without regard to ASCII letter
// case (then byte by byte), absent values sort as their defaults (empty text, 0), and records
// whose keys are equal keep the order in which they entered the table (loading keeps the file's
// order, and saving writes that order).
//
// Account 0 stands for "all accounts" where an operation takes one account or all.
class MailListDB {
public:
    static constexpr int AllAccounts = 0;
    static constexpr std::size_t SubjectWidth = 128;
    static constexpr std::size_t SenderWidth = 128;
    static constexpr std::size_t UIDWidth = 128;
    static constexpr std::size_t SoundfileWidth = 256;

    explicit MailListDB(NamedMutex& mailDBLock);
    ~MailListDB();
    MailListDB(const MailListDB&) = delete;
    MailListDB& operator=(const MailListDB&) = delete;

    // The MailDB lock; hold it (NamedLock) to make several operations one step.
    NamedMutex& mutex() const { return m_mutex; }

    // Sort orders by their setting names ("CountIndex", ..., "DateIndexRev"; exact case).
    static std::optional<SortType> sortTypeFromName(std::string_view name);
    static const char* sortTypeName(SortType type);
    // An unknown name selects the default order "CountIndex" and returns false.
    bool setSortOrder(std::string_view name);
    void setSortOrder(SortType type);
    SortType sortOrder() const;

    // Texts cut to their field widths: by characters when the text is valid UTF-8 (never
    // splitting one), by bytes otherwise.
    static MailRecord cutToWidths(MailRecord record);

    // Lookups. A UID longer than its width is cut first, as stored UIDs are.
    std::optional<MailRecord> FindMessage(const std::string& uid, int account) const;
    std::optional<MailRecord> FindByUid(const std::string& uid) const;
    bool AccountHasMessages(int account) const;

    // Counts; an absent Ignore or New counts as false.
    long long CountShownMessages(int account) const;
    long long CountAllShownMessages() const;
    long long CountNewShown(int account) const;
    std::optional<MarkedForDeletion> FirstMarkedForDeletion(int account) const;
    std::size_t size() const;

    // Adds a record with New set true.
    void AppendMessage(MailRecord fields);
    // Stores all fields of a record over the one with the record's (UID, Account); false when
    // there is none.
    bool UpdateMessage(const MailRecord& record);
    // Stores a record over the one found by (uid, account); the record may change its identity.
    bool UpdateMessage(const std::string& uid, int account, const MailRecord& record);
    bool RemoveMessage(const std::string& uid, int account);

    // Per-account passes of a check; each returns the number of records it removed or changed.
    std::size_t ClearNewFlags(int account);
    std::size_t KeepOnlyAtCount(int account, long long count, const std::string& uid);
    std::size_t RemoveBeyondCount(int account, long long total);

    // Changes over one account or AllAccounts; each returns the accounts whose records changed.
    std::set<int> HideMessages(int account = AllAccounts);
    std::set<int> ShowHiddenMessages(int account = AllAccounts);
    std::set<int> UndeleteAll();
    std::set<int> PurgeAll();

    // Visits the records of one account (or AllAccounts) in sort order until visit returns
    // false. The table must not be changed from inside a walk (a change raises TarnError); walk
    // MessageKeys instead to change records one by one.
    void walk(int account, const std::function<bool(const MailRecord&)>& visit) const;
    std::vector<MessageKey> MessageKeys(int account) const;

    // Changes of stored values: a record added, removed or stored with other values than it
    // had. markSaved says the table now equals its file; changedSinceSaved whether it still
    // might not (a table never marked is taken as changed).
    std::uint64_t changeCount() const;
    void markSaved();
    bool changedSinceSaved() const;

    // For the file: all records in the order they entered the table (call with the lock held;
    // the pointers are valid until the next change), and replacing the whole table.
    std::vector<const MailRecord*> storedRecords() const;
    void replaceAll(std::vector<MailRecord> records);

private:
    struct Entry;
    struct OrderLess {
        SortType type;
        bool operator()(const Entry* a, const Entry* b) const;
    };
    struct IdKey {
        std::string_view uid;
        int account;
        bool operator==(const IdKey&) const = default;
    };
    struct IdHash {
        std::size_t operator()(const IdKey& k) const;
    };
    struct Counts {
        long long total = 0;
        long long shown = 0;
        long long newShown = 0;
        long long marked = 0;
    };
    using OrderSet = std::set<Entry*, OrderLess>;
    using CountIndex = std::multimap<std::pair<int, long long>, Entry*>;

    Entry* findEntry(const std::string& uid, int account) const;
    Entry* insertEntry(MailRecord record);
    void index(Entry* e);
    void unindex(Entry* e);
    void destroy(Entry* e);
    void replaceRecord(Entry* e, MailRecord record);
    void addCounts(const MailRecord& r, int sign);
    void checkNotWalking() const;
    template <class F> void forAccount(int account, F&& f);
    // Sets one flag of the account's records (AllAccounts: of every record) to value, keeping
    // the counts; returns the accounts it changed, and how many records in changed.
    std::set<int> setFlag(int account, std::optional<bool> MailRecord::*flag, bool value,
                          std::size_t* changed = nullptr);

    NamedMutex& m_mutex;
    SortType m_sortType = SortType::CountIndex;
    std::uint64_t m_nextSeq = 0;
    std::map<std::uint64_t, std::unique_ptr<Entry>> m_entries; // insertion order, owning
    OrderSet m_order;
    std::unordered_multimap<IdKey, Entry*, IdHash> m_byId;
    CountIndex m_byCount;
    std::map<int, Counts> m_counts;
    mutable int m_walkDepth = 0;
    std::uint64_t m_changes = 0;
    std::optional<std::uint64_t> m_savedAt;
};

} // namespace tarn
