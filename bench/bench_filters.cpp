// Filter evaluation cost per stored message: 20 active filters, 5 of them header or body
// patterns, against a record with a 50-line header. The patterns are chosen to miss, so each
// one walks every header line (the worst case for a check's full pass).
#include "core/AccountRuntime.h"
#include "core/Clock.h"
#include "filters/EvaluateFilters.h"
#include "filters/FilterListHolder.h"
#include "filters/FilterTestSupport.h"
#include "platform/NamedMutex.h"

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <unistd.h>

namespace {

using namespace tarn;

using test::filter;

std::vector<TFilter> twentyFilters() {
    return {
        filter(0, "@spam.example", 0),
        filter(0, "newsletter@", 1),
        filter(1, "@example.org", 3, 0, 2), // holds: sender is elsewhere
        filter(2, "You have won", 0),
        filter(3, "[ADV]", 1),
        filter(3, "Invoice", 3, 0, 4), // holds
        filter(4, "Re:", 5),           // holds
        filter(5, "1", 2),
        filter(6, "2048", 0),
        filter(7, "365", 1),
        filter(8, "", 0),
        filter(0, "lottery", 0, 1),
        filter(3, "viagra", 0, 2),
        filter(4, "Invoice", 1, 1),
        filter(5, "0", 1),
        filter(9, "^X-Spam-Flag: YES", 0),
        filter(9, "^Subject: .*(casino|lottery)", 1),
        filter(9, "^Received: from .*\\.invalid\\b", 0),
        filter(9, "^From: .*<[^>]*@(spam|junk)\\.", 1),
        filter(10, "^unsubscribe", 1), // body not fetched: no lines
    };
}

MailRecord sampleRecord() {
    MailRecord r;
    r.UID = "000012ab4f";
    r.Count = 17;
    r.Account = 1;
    r.Subject = "Invoice 2024-06 for your account";
    r.Sender = "Billing <billing@shop.example.net>";
    r.Size = 48213;
    r.Date = 45458.6;
    std::string header;
    for (int i = 0; i < 46; ++i)
        header += "Received: from relay" + std::to_string(i) +
                  ".example.net (relay.example.net [192.0.2." + std::to_string(i) +
                  "]) by mx.example.net with ESMTPS id abc" + std::to_string(i) + "\r\n";
    header += "From: Billing <billing@shop.example.net>\r\n";
    header += "To: user@example.com\r\n";
    header += "Subject: Invoice 2024-06 for your account\r\n";
    header += "Date: Sat, 15 Jun 2024 14:05:00 +0200\r\n";
    r.Header = header;
    return r;
}

struct BenchEnv {
    std::string lockName = "TarnwickBench.Filters." + std::to_string(::getpid());
    NamedMutex lock{lockName};
    FixedClock clock{std::chrono::system_clock::now(), 0};
    std::array<AccountRuntime, 3> runtimes;
    FilterContext context{lock, clock, [this](int a) -> AccountRuntime* {
                              return a >= 1 && a <= 3 ? &runtimes[a - 1] : nullptr;
                          }};
    ~BenchEnv() { NamedMutex::removeSystemObject(lockName); }
};

void BM_Evaluate20Filters50LineHeader(benchmark::State& state) {
    BenchEnv env;
    FilterListHolder holder(FilterList::create(twentyFilters()));
    const MailRecord base = sampleRecord();
    for (auto _ : state) {
        MailRecord r = base;
        benchmark::DoNotOptimize(EvaluateFilters(r, *holder.load(), env.context));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_Evaluate20Filters50LineHeader);

// The same record with the lock already held by the caller, as the check worker does.
void BM_Evaluate20FiltersCallerHoldsLock(benchmark::State& state) {
    BenchEnv env;
    const auto list = FilterList::create(twentyFilters());
    const MailRecord base = sampleRecord();
    NamedLock held(env.lock);
    for (auto _ : state) {
        MailRecord r = base;
        benchmark::DoNotOptimize(EvaluateFilters(r, *list, env.context));
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_Evaluate20FiltersCallerHoldsLock);

// Building a snapshot: what the editor pays once when the list changes.
void BM_BuildSnapshot20Filters(benchmark::State& state) {
    const auto rules = twentyFilters();
    for (auto _ : state)
        benchmark::DoNotOptimize(FilterList::create(rules));
}
BENCHMARK(BM_BuildSnapshot20Filters);

// The editor at the size the settings file allows: every change to the list builds a whole new
// snapshot. Argument: how many of the 10,000 filters in a hundred are header patterns.
void BM_BuildSnapshot10000Filters(benchmark::State& state) {
    const int regexPercent = static_cast<int>(state.range(0));
    std::vector<TFilter> rules;
    for (int i = 0; i < 10000; ++i) {
        if (i % 100 < regexPercent)
            rules.push_back(filter(9, "^Subject: .*word" + std::to_string(i), 1));
        else
            rules.push_back(filter(i % 9, "word" + std::to_string(i), i % 5));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(FilterList::create(rules));
}
BENCHMARK(BM_BuildSnapshot10000Filters)->Arg(0)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
