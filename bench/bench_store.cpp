// Figures for the mail list store at 100,000 records: saving and loading the file, lookups,
// one account's check pass, counts, walks, and memory against the raw size of the data.
#include "platform/NamedMutex.h"
#include "store/MailListDB.h"
#include "store/MailStoreFiles.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

using namespace tarn;

namespace {

constexpr int kRecords = 100000;
constexpr int kAccounts = 5;
constexpr int kPerAccount = kRecords / kAccounts;
constexpr int kPass = 10000;

std::string g_folder;
std::unique_ptr<NamedMutex> g_lock;
std::unique_ptr<MailListDB> g_db;

long rssKiB() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

class Generator {
public:
    Generator() : m_rng(20240601) {
        const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        m_pool.resize(1 << 20);
        std::uniform_int_distribution<int> pick(0, sizeof(alphabet) - 2);
        for (char& c : m_pool) {
            c = alphabet[pick(m_rng)];
        }
    }
    std::string text(std::size_t n) {
        std::uniform_int_distribution<std::size_t> at(0, m_pool.size() - n - 1);
        return m_pool.substr(at(m_rng), n);
    }
    std::size_t between(std::size_t lo, std::size_t hi) {
        return std::uniform_int_distribution<std::size_t>(lo, hi)(m_rng);
    }

private:
    std::mt19937_64 m_rng;
    std::string m_pool;
};

std::size_t rawSize(const MailRecord& r) {
    std::size_t n = 8 * 4 + 1 * 5 + 4; // numbers, flags, icon
    for (const auto* t : {&r.Subject, &r.Sender, &r.Header, &r.Body, &r.UID, &r.Soundfile}) {
        n += *t ? (*t)->size() : 0;
    }
    return n;
}

MailRecord makeRecord(Generator& g, int account, long long count) {
    MailRecord r;
    r.Count = count;
    r.Account = account;
    r.UID = "UID" + std::to_string(account) + "-" + std::to_string(count) + "-" + g.text(12);
    r.Subject = g.text(g.between(40, 100));
    r.Sender = g.text(g.between(40, 100));
    r.Size = static_cast<long long>(g.between(1000, 100000));
    r.Header = g.text(2048);
    if (count % 2 == 0) {
        r.Body = g.text(4096);
    }
    r.Date = 44000.0 + static_cast<double>(g.between(0, 2000000)) / 1000.0;
    r.Ignore = (count % 7 == 0);
    return r;
}

void BM_SaveStore(benchmark::State& state) {
    for (auto _ : state) {
        MailStoreFiles::SaveStore(*g_db, g_folder, true);
    }
    state.counters["MiB"] =
        static_cast<double>(std::filesystem::file_size(MailStoreFiles::savedPath(g_folder))) /
        (1 << 20);
}

void BM_LoadStore(benchmark::State& state) {
    std::size_t loaded = 0;
    for (auto _ : state) {
        NamedMutex lock("TarnBenchLoad_" + std::to_string(getpid()));
        MailListDB db(lock);
        StoreLoadOptions o;
        o.folder = g_folder;
        o.KeepMailDB = true;
        o.ECount = kAccounts;
        benchmark::DoNotOptimize(MailStoreFiles::LoadStore(db, o));
        loaded = db.size();
        state.PauseTiming(); // freeing the table is not part of loading
        db.PurgeAll();
        state.ResumeTiming();
    }
    state.counters["records"] = static_cast<double>(loaded);
    NamedMutex::removeSystemObject("TarnBenchLoad_" + std::to_string(getpid()));
}

void BM_FindMessage(benchmark::State& state) {
    std::vector<std::pair<std::string, int>> keys;
    g_db->walk(MailListDB::AllAccounts, [&](const MailRecord& r) {
        if (keys.size() < 4096) {
            keys.emplace_back(*r.UID, *r.Account);
        }
        return true;
    });
    std::size_t i = 0;
    for (auto _ : state) {
        const auto& k = keys[i++ & 4095];
        benchmark::DoNotOptimize(g_db->FindMessage(k.first, k.second));
    }
}

// One account's full pass: each of 10,000 messages is looked up and updated (or added when it
// is new), then the account is cut at the mailbox's count and the new messages counted.
void checkPass(Generator& g, int account, int round) {
    NamedMutex& lock = g_db->mutex();
    for (int i = 1; i <= kPass; ++i) {
        // Every 10th message is new on the server; the others are known ones, shifted by one.
        std::string uid;
        std::optional<MailRecord> found;
        {
            NamedLock step(lock);
            if (i % 10 != 0) {
                found = g_db->FindMessage("known-" + std::to_string(i), account);
            }
        }
        NamedLock step(lock);
        if (found) {
            found->Count = i;
            found->New = false;
            g_db->UpdateMessage(*found);
            uid = *found->UID;
        } else {
            MailRecord r = makeRecord(g, account, i);
            r.UID = uid = "r" + std::to_string(round) + "-" + std::to_string(i);
            g_db->AppendMessage(std::move(r));
        }
        g_db->KeepOnlyAtCount(account, i, uid);
    }
    NamedLock step(lock);
    g_db->RemoveBeyondCount(account, kPass);
    benchmark::DoNotOptimize(g_db->CountNewShown(account));
    g_db->ClearNewFlags(account);
}

void BM_CheckPass10k(benchmark::State& state) {
    Generator g;
    // Account 1 gets the "known-" UIDs the pass will find.
    {
        NamedLock hold(g_db->mutex());
        for (const MessageKey& k : g_db->MessageKeys(1)) {
            MailRecord r = *g_db->FindMessage(k.UID, k.Account);
            r.UID = "known-" + std::to_string(*r.Count);
            g_db->UpdateMessage(k.UID, k.Account, r);
        }
    }
    int round = 0;
    for (auto _ : state) {
        checkPass(g, 1, round++);
    }
    state.counters["records"] = static_cast<double>(g_db->size());
}

void BM_CountShownMessages(benchmark::State& state) {
    for (auto _ : state) {
        for (int a = 1; a <= kAccounts; ++a) {
            benchmark::DoNotOptimize(g_db->CountShownMessages(a));
        }
        benchmark::DoNotOptimize(g_db->CountAllShownMessages());
    }
}

void BM_WalkAll(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t n = 0;
        g_db->walk(MailListDB::AllAccounts, [&](const MailRecord& r) {
            n += r.Ignore.value_or(false) ? 0 : 1;
            return true;
        });
        benchmark::DoNotOptimize(n);
    }
}

void BM_ChangeSortOrder(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        g_db->setSortOrder(i++ % 2 == 0 ? SortType::SubjectIndex : SortType::CountIndex);
    }
}

} // namespace

BENCHMARK(BM_SaveStore)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadStore)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_FindMessage)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_CheckPass10k)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CountShownMessages)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_WalkAll)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangeSortOrder)->Unit(benchmark::kMillisecond)->Iterations(4);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char tmpl[] = "/tmp/tarn-bench-store-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    g_folder = tmpl;
    const std::string lockName = "TarnBenchStore_" + std::to_string(getpid());
    g_lock = std::make_unique<NamedMutex>(lockName);

    Generator g;
    const long before = rssKiB();
    g_db = std::make_unique<MailListDB>(*g_lock);
    std::size_t raw = 0;
    for (int a = 1; a <= kAccounts; ++a) {
        for (int c = 1; c <= kPerAccount; ++c) {
            MailRecord r = makeRecord(g, a, c);
            raw += rawSize(r);
            g_db->AppendMessage(std::move(r));
        }
    }
    const long after = rssKiB();
    std::printf("records: %zu, raw data: %.1f MiB, RSS growth: %.1f MiB, ratio %.2f\n",
                g_db->size(), raw / 1048576.0, (after - before) / 1024.0,
                (after - before) * 1024.0 / static_cast<double>(raw));
    std::fflush(stdout);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    g_db.reset();
    g_lock.reset();
    NamedMutex::removeSystemObject(lockName);
    std::filesystem::remove_all(g_folder);
    return 0;
}
