#include "store/MailListDB.h"

#include "core/TarnError.h"
#include "core/Utf8.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace tarn {

struct MailListDB::Entry {
    MailRecord rec;
    std::uint64_t seq = 0;
    OrderSet::iterator orderIt;
    CountIndex::iterator countIt;
};

namespace {

constexpr std::array<std::pair<SortType, const char*>, 10> kSortNames{{
    {SortType::CountIndex, "CountIndex"},
    {SortType::CountIndexRev, "CountIndexRev"},
    {SortType::SubjectIndex, "SubjectIndex"},
    {SortType::SubjectIndexRev, "SubjectIndexRev"},
    {SortType::SenderIndex, "SenderIndex"},
    {SortType::SenderIndexRev, "SenderIndexRev"},
    {SortType::SizeIndex, "SizeIndex"},
    {SortType::SizeIndexRev, "SizeIndexRev"},
    {SortType::DateIndex, "DateIndex"},
    {SortType::DateIndexRev, "DateIndexRev"},
}};

bool isTrue(const std::optional<bool>& b) {
    return b.value_or(false);
}
int accountOf(const MailRecord& r) {
    return r.Account.value_or(0);
}
long long countOf(const MailRecord& r) {
    return r.Count.value_or(0);
}

// Length in bytes of the first `chars` characters of valid UTF-8, or npos when the text is
// not valid UTF-8.
std::size_t utf8Prefix(const std::string& s, std::size_t chars) {
    std::size_t i = 0;
    std::size_t n = 0;
    std::size_t cut = std::string::npos;
    while (i < s.size()) {
        if (n == chars && cut == std::string::npos)
            cut = i;
        const Utf8Step step = utf8StepAt(s, i);
        if (!step.valid)
            return std::string::npos;
        i += step.length;
        ++n;
    }
    return cut == std::string::npos ? s.size() : cut;
}

void cutText(std::string& s, std::size_t width) {
    if (s.size() <= width) {
        return; // fewer bytes than the width: fewer characters too
    }
    const std::size_t utf8 = utf8Prefix(s, width);
    s.resize(utf8 == std::string::npos ? width : utf8);
}

void cutField(std::optional<std::string>& f, std::size_t width) {
    if (f) {
        cutText(*f, width);
    }
}

std::string cutUid(const std::string& uid) {
    std::string u = uid;
    cutText(u, MailListDB::UIDWidth);
    return u;
}

unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

int compareText(std::string_view x, std::string_view y) {
    const std::size_t n = std::min(x.size(), y.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char cx = lowerAscii(static_cast<unsigned char>(x[i]));
        const unsigned char cy = lowerAscii(static_cast<unsigned char>(y[i]));
        if (cx != cy) {
            return cx < cy ? -1 : 1;
        }
    }
    if (x.size() != y.size()) {
        return x.size() < y.size() ? -1 : 1;
    }
    const int raw = x.compare(y);
    return raw < 0 ? -1 : raw > 0 ? 1 : 0;
}

std::string_view textOf(const std::optional<std::string>& t) {
    return t ? std::string_view(*t) : std::string_view();
}

int compareText(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return compareText(textOf(a), textOf(b));
}

template <class T> int compareValue(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

double dateKey(const MailRecord& r) {
    const double d = r.Date.value_or(0.0);
    return std::isnan(d) ? 0.0 : d; // NaN would break the ordering
}

int compareKeys(SortType t, const MailRecord& a, const MailRecord& b) {
    const int accountDesc = compareValue(accountOf(b), accountOf(a));
    int c = 0;
    switch (t) {
    case SortType::CountIndex:
        c = accountDesc != 0 ? accountDesc : compareValue(countOf(a), countOf(b));
        break;
    case SortType::CountIndexRev:
        c = compareValue(accountOf(a), accountOf(b));
        if (c == 0) {
            c = compareValue(countOf(a), countOf(b));
        }
        break;
    case SortType::SubjectIndex:
        c = compareText(b.Subject, a.Subject);
        break;
    case SortType::SubjectIndexRev:
        c = compareText(a.Subject, b.Subject);
        break;
    case SortType::SenderIndex:
        c = compareText(b.Sender, a.Sender);
        break;
    case SortType::SenderIndexRev:
        c = compareText(a.Sender, b.Sender);
        break;
    case SortType::SizeIndex:
        c = compareValue(a.Size.value_or(0), b.Size.value_or(0));
        break;
    case SortType::SizeIndexRev:
        c = compareValue(b.Size.value_or(0), a.Size.value_or(0));
        break;
    case SortType::DateIndex:
        c = compareValue(dateKey(a), dateKey(b));
        break;
    case SortType::DateIndexRev:
        c = compareValue(dateKey(b), dateKey(a));
        break;
    }
    if (c == 0 && t != SortType::CountIndex && t != SortType::CountIndexRev) {
        c = accountDesc;
    }
    return c;
}

// What a re-sort compares, copied out of the records into one array so that the sort reads
// contiguous memory instead of chasing every record. Compares exactly as compareKeys and the
// insertion order do.
struct SortKey {
    // The first sixteen bytes of the text, letters folded, big-endian.
    std::uint64_t folded = 0;
    std::uint64_t folded2 = 0;
    std::string_view text;
    long long number = 0;
    double date = 0;
    int account = 0;
    std::uint64_t seq = 0;
    void* entry = nullptr;
};

std::uint64_t foldedPrefix(std::string_view t, std::size_t from) {
    std::uint64_t v = 0;
    for (std::size_t i = from; i < from + 8; ++i) {
        const unsigned char c = i < t.size() ? lowerAscii(static_cast<unsigned char>(t[i])) : 0;
        v = (v << 8) | c;
    }
    return v;
}

int compareSortText(const SortKey& a, const SortKey& b) {
    // A difference in the prefixes decides as the whole comparison would: a shorter text
    // pads with the lowest byte, as it sorts before its own extensions.
    if (a.folded != b.folded)
        return a.folded < b.folded ? -1 : 1;
    if (a.folded2 != b.folded2)
        return a.folded2 < b.folded2 ? -1 : 1;
    return compareText(a.text, b.text);
}

int compareSortKeys(SortType t, const SortKey& a, const SortKey& b) {
    const int accountDesc = compareValue(b.account, a.account);
    int c = 0;
    switch (t) {
    case SortType::CountIndex:
        c = accountDesc != 0 ? accountDesc : compareValue(a.number, b.number);
        break;
    case SortType::CountIndexRev:
        c = compareValue(a.account, b.account);
        if (c == 0)
            c = compareValue(a.number, b.number);
        break;
    case SortType::SubjectIndex:
    case SortType::SenderIndex:
        c = compareSortText(b, a);
        break;
    case SortType::SubjectIndexRev:
    case SortType::SenderIndexRev:
        c = compareSortText(a, b);
        break;
    case SortType::SizeIndex:
        c = compareValue(a.number, b.number);
        break;
    case SortType::SizeIndexRev:
        c = compareValue(b.number, a.number);
        break;
    case SortType::DateIndex:
        c = compareValue(a.date, b.date);
        break;
    case SortType::DateIndexRev:
        c = compareValue(b.date, a.date);
        break;
    }
    if (c == 0 && t != SortType::CountIndex && t != SortType::CountIndexRev)
        c = accountDesc;
    return c != 0 ? c : compareValue(a.seq, b.seq);
}

} // namespace

bool MailListDB::OrderLess::operator()(const Entry* a, const Entry* b) const {
    const int c = compareKeys(type, a->rec, b->rec);
    return c != 0 ? c < 0 : a->seq < b->seq;
}

std::size_t MailListDB::IdHash::operator()(const IdKey& k) const {
    return std::hash<std::string_view>()(k.uid) ^
           (std::hash<int>()(k.account) * 0x9e3779b97f4a7c15ULL);
}

MailListDB::MailListDB(NamedMutex& mailDBLock)
    : m_mutex(mailDBLock), m_order(OrderLess{SortType::CountIndex}) {}

MailListDB::~MailListDB() = default;

std::optional<SortType> MailListDB::sortTypeFromName(std::string_view name) {
    for (const auto& [type, n] : kSortNames) {
        if (name == n) {
            return type;
        }
    }
    return std::nullopt;
}

const char* MailListDB::sortTypeName(SortType type) {
    for (const auto& [t, n] : kSortNames) {
        if (t == type) {
            return n;
        }
    }
    return "CountIndex";
}

bool MailListDB::setSortOrder(std::string_view name) {
    const auto type = sortTypeFromName(name);
    setSortOrder(type.value_or(SortType::CountIndex));
    return type.has_value();
}

void MailListDB::setSortOrder(SortType type) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    if (type == m_sortType) {
        return;
    }
    // Sorting once and appending at the end is far cheaper than inserting one by one.
    std::vector<SortKey> sorted;
    sorted.reserve(m_entries.size());
    const bool bySubject = type == SortType::SubjectIndex || type == SortType::SubjectIndexRev;
    const bool bySender = type == SortType::SenderIndex || type == SortType::SenderIndexRev;
    const bool bySize = type == SortType::SizeIndex || type == SortType::SizeIndexRev;
    for (auto& [seq, e] : m_entries) {
        SortKey k;
        const MailRecord& r = e->rec;
        if (bySubject || bySender) {
            k.text = textOf(bySubject ? r.Subject : r.Sender);
            k.folded = foldedPrefix(k.text, 0);
            k.folded2 = foldedPrefix(k.text, 8);
        }
        k.number = bySize ? r.Size.value_or(0) : countOf(r);
        k.date = dateKey(r);
        k.account = accountOf(r);
        k.seq = e->seq;
        k.entry = e.get();
        sorted.push_back(k);
    }
    std::sort(sorted.begin(), sorted.end(), [type](const SortKey& a, const SortKey& b) {
        return compareSortKeys(type, a, b) < 0;
    });
    OrderSet order(OrderLess{type});
    for (const SortKey& k : sorted) {
        Entry* e = static_cast<Entry*>(k.entry);
        e->orderIt = order.insert(order.end(), e);
    }
    m_order.swap(order); // swapping keeps the stored iterators valid
    m_sortType = type;
}

SortType MailListDB::sortOrder() const {
    NamedLock lock(m_mutex);
    return m_sortType;
}

MailRecord MailListDB::cutToWidths(MailRecord record) {
    cutField(record.Subject, SubjectWidth);
    cutField(record.Sender, SenderWidth);
    cutField(record.UID, UIDWidth);
    cutField(record.Soundfile, SoundfileWidth);
    return record;
}

void MailListDB::checkNotWalking() const {
    if (m_walkDepth > 0) {
        throw TarnError("The mail list cannot change during a walk over it");
    }
}

void MailListDB::addCounts(const MailRecord& r, int sign) {
    Counts& c = m_counts[accountOf(r)];
    const bool shown = !isTrue(r.Ignore);
    c.total += sign;
    c.shown += shown ? sign : 0;
    c.newShown += (shown && isTrue(r.New)) ? sign : 0;
    c.marked += isTrue(r.Delete) ? sign : 0;
    if (c.total == 0) {
        m_counts.erase(accountOf(r));
    }
}

void MailListDB::index(Entry* e) {
    const std::string_view uid = e->rec.UID ? std::string_view(*e->rec.UID) : std::string_view();
    m_byId.emplace(IdKey{uid, accountOf(e->rec)}, e);
    e->countIt = m_byCount.emplace(std::make_pair(accountOf(e->rec), countOf(e->rec)), e);
    e->orderIt = m_order.insert(e).first;
    addCounts(e->rec, +1);
}

void MailListDB::unindex(Entry* e) {
    const std::string_view uid = e->rec.UID ? std::string_view(*e->rec.UID) : std::string_view();
    auto range = m_byId.equal_range(IdKey{uid, accountOf(e->rec)});
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == e) {
            m_byId.erase(it);
            break;
        }
    }
    m_byCount.erase(e->countIt);
    m_order.erase(e->orderIt);
    addCounts(e->rec, -1);
}

MailListDB::Entry* MailListDB::insertEntry(MailRecord record) {
    auto owned = std::make_unique<Entry>();
    owned->rec = cutToWidths(std::move(record));
    owned->seq = m_nextSeq++;
    Entry* e = owned.get();
    m_entries.emplace(e->seq, std::move(owned));
    index(e);
    ++m_changes;
    return e;
}

void MailListDB::destroy(Entry* e) {
    unindex(e);
    m_entries.erase(e->seq);
    ++m_changes;
}

void MailListDB::replaceRecord(Entry* e, MailRecord record) {
    record = cutToWidths(std::move(record));
    // A check stores every record it looks at; most come back as they were.
    if (record == e->rec)
        return;
    unindex(e);
    e->rec = std::move(record);
    index(e);
    ++m_changes;
}

std::uint64_t MailListDB::changeCount() const {
    NamedLock lock(m_mutex);
    return m_changes;
}

void MailListDB::markSaved() {
    NamedLock lock(m_mutex);
    m_savedAt = m_changes;
}

bool MailListDB::changedSinceSaved() const {
    NamedLock lock(m_mutex);
    return m_savedAt != m_changes;
}

MailListDB::Entry* MailListDB::findEntry(const std::string& uid, int account) const {
    std::string cut;
    std::string_view key = uid;
    if (uid.size() > UIDWidth) {
        cut = cutUid(uid);
        key = cut;
    }
    auto range = m_byId.equal_range(IdKey{key, account});
    Entry* best = nullptr;
    for (auto it = range.first; it != range.second; ++it) {
        if (best == nullptr || it->second->seq < best->seq) {
            best = it->second;
        }
    }
    return best;
}

template <class F> void MailListDB::forAccount(int account, F&& f) {
    std::vector<Entry*> list;
    if (account == AllAccounts) {
        list.reserve(m_entries.size());
        for (auto& [seq, e] : m_entries) {
            list.push_back(e.get());
        }
    } else {
        auto it = m_byCount.lower_bound(std::make_pair(account, LLONG_MIN));
        for (; it != m_byCount.end() && it->first.first == account; ++it) {
            list.push_back(it->second);
        }
    }
    for (Entry* e : list) {
        f(e);
    }
}

std::optional<MailRecord> MailListDB::FindMessage(const std::string& uid, int account) const {
    NamedLock lock(m_mutex);
    if (const Entry* e = findEntry(uid, account)) {
        return e->rec;
    }
    return std::nullopt;
}

std::optional<MailRecord> MailListDB::FindByUid(const std::string& uid) const {
    NamedLock lock(m_mutex);
    const Entry* best = nullptr;
    const OrderLess less{m_sortType};
    for (const auto& [account, counts] : m_counts) {
        const Entry* e = findEntry(uid, account);
        if (e != nullptr && (best == nullptr || less(e, best))) {
            best = e;
        }
    }
    if (best == nullptr) {
        return std::nullopt;
    }
    return best->rec;
}

bool MailListDB::AccountHasMessages(int account) const {
    NamedLock lock(m_mutex);
    return m_counts.count(account) != 0;
}

long long MailListDB::CountShownMessages(int account) const {
    NamedLock lock(m_mutex);
    const auto it = m_counts.find(account);
    return it == m_counts.end() ? 0 : it->second.shown;
}

long long MailListDB::CountAllShownMessages() const {
    NamedLock lock(m_mutex);
    long long n = 0;
    for (const auto& [account, c] : m_counts) {
        n += c.shown;
    }
    return n;
}

long long MailListDB::CountNewShown(int account) const {
    NamedLock lock(m_mutex);
    const auto it = m_counts.find(account);
    return it == m_counts.end() ? 0 : it->second.newShown;
}

std::optional<MarkedForDeletion> MailListDB::FirstMarkedForDeletion(int account) const {
    NamedLock lock(m_mutex);
    const auto it = m_counts.find(account);
    if (it == m_counts.end() || it->second.marked == 0) {
        return std::nullopt;
    }
    for (const Entry* e : m_order) {
        if (accountOf(e->rec) == account && isTrue(e->rec.Delete)) {
            return MarkedForDeletion{countOf(e->rec), e->rec.UID.value_or(std::string()),
                                     it->second.marked > 1};
        }
    }
    return std::nullopt;
}

std::size_t MailListDB::size() const {
    NamedLock lock(m_mutex);
    return m_entries.size();
}

void MailListDB::AppendMessage(MailRecord fields) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    fields.New = true;
    insertEntry(std::move(fields));
}

bool MailListDB::UpdateMessage(const MailRecord& record) {
    return UpdateMessage(record.UID.value_or(std::string()), accountOf(record), record);
}

bool MailListDB::UpdateMessage(const std::string& uid, int account, const MailRecord& record) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    Entry* e = findEntry(uid, account);
    if (e == nullptr) {
        return false;
    }
    replaceRecord(e, record);
    return true;
}

bool MailListDB::RemoveMessage(const std::string& uid, int account) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    Entry* e = findEntry(uid, account);
    if (e == nullptr) {
        return false;
    }
    destroy(e);
    return true;
}

std::set<int> MailListDB::setFlag(int account, std::optional<bool> MailRecord::*flag, bool value,
                                  std::size_t* changed) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    std::set<int> touched;
    std::size_t n = 0;
    forAccount(account, [&](Entry* e) {
        if (isTrue(e->rec.*flag) != value) {
            addCounts(e->rec, -1);
            e->rec.*flag = value;
            addCounts(e->rec, +1);
            ++m_changes;
            ++n;
            touched.insert(accountOf(e->rec));
        }
    });
    if (changed)
        *changed = n;
    return touched;
}

std::size_t MailListDB::ClearNewFlags(int account) {
    std::size_t changed = 0;
    setFlag(account, &MailRecord::New, false, &changed);
    return changed;
}

std::size_t MailListDB::KeepOnlyAtCount(int account, long long count, const std::string& uid) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    const std::string key = cutUid(uid);
    std::vector<Entry*> other;
    std::vector<Entry*> same;
    auto range = m_byCount.equal_range(std::make_pair(account, count));
    for (auto it = range.first; it != range.second; ++it) {
        (it->second->rec.UID.value_or(std::string()) == key ? same : other).push_back(it->second);
    }
    std::size_t removed = other.size();
    for (Entry* e : other) {
        destroy(e);
    }
    if (same.size() > 1) {
        // Keep the last one in sort order.
        std::sort(same.begin(), same.end(), OrderLess{m_sortType});
        for (std::size_t i = 0; i + 1 < same.size(); ++i) {
            destroy(same[i]);
            ++removed;
        }
    }
    return removed;
}

std::size_t MailListDB::RemoveBeyondCount(int account, long long total) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    std::vector<Entry*> doomed;
    for (auto it = m_byCount.upper_bound(std::make_pair(account, total));
         it != m_byCount.end() && it->first.first == account; ++it) {
        doomed.push_back(it->second);
    }
    for (Entry* e : doomed) {
        destroy(e);
    }
    return doomed.size();
}

std::set<int> MailListDB::HideMessages(int account) {
    return setFlag(account, &MailRecord::Ignore, true);
}

std::set<int> MailListDB::ShowHiddenMessages(int account) {
    return setFlag(account, &MailRecord::Ignore, false);
}

std::set<int> MailListDB::UndeleteAll() {
    return setFlag(AllAccounts, &MailRecord::Delete, false);
}

std::set<int> MailListDB::PurgeAll() {
    NamedLock lock(m_mutex);
    checkNotWalking();
    std::set<int> touched;
    for (const auto& [account, c] : m_counts) {
        touched.insert(account);
    }
    if (!m_entries.empty())
        ++m_changes;
    m_order.clear();
    m_byId.clear();
    m_byCount.clear();
    m_counts.clear();
    m_entries.clear();
    return touched;
}

void MailListDB::walk(int account, const std::function<bool(const MailRecord&)>& visit) const {
    NamedLock lock(m_mutex);
    struct Depth {
        int& d;
        explicit Depth(int& x) : d(x) { ++d; }
        ~Depth() { --d; }
    } depth(m_walkDepth);
    for (const Entry* e : m_order) {
        if (account != AllAccounts && accountOf(e->rec) != account) {
            continue;
        }
        if (!visit(e->rec)) {
            break;
        }
    }
}

std::vector<MessageKey> MailListDB::MessageKeys(int account) const {
    std::vector<MessageKey> keys;
    walk(account, [&](const MailRecord& r) {
        keys.push_back(MessageKey{r.UID.value_or(std::string()), accountOf(r)});
        return true;
    });
    return keys;
}

std::vector<const MailRecord*> MailListDB::storedRecords() const {
    NamedLock lock(m_mutex);
    std::vector<const MailRecord*> out;
    out.reserve(m_entries.size());
    for (const auto& [seq, e] : m_entries) {
        out.push_back(&e->rec);
    }
    return out;
}

void MailListDB::replaceAll(std::vector<MailRecord> records) {
    NamedLock lock(m_mutex);
    checkNotWalking();
    PurgeAll();
    for (MailRecord& r : records) {
        insertEntry(std::move(r));
    }
    records.clear();
}

} // namespace tarn
