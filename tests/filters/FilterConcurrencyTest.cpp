#include "FilterTestSupport.h"

#include "filters/FilterListHolder.h"
#include "filters/PerlRegex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tarn {
namespace {

using test::filter;

// Two lists whose filters each leave a mark; a record marked by both lists would mean an
// evaluation saw half of each.
std::vector<TFilter> variant(int icon, const std::string& sound) {
    return {filter(3, "Hello", 3, 0, icon),    // icon
            filter(9, "^From: .*@example", 1), // hide, compiled pattern
            filter(10, "never(here", 1, 2),    // another account: never reached
            filter(4, "", 5, 0, 0, sound)};    // sound
}

class FilterConcurrencyTest : public ::testing::Test, public test::FilterFixture {};

TEST_F(FilterConcurrencyTest, SwapWhileEvaluatingSeesOneWholeList) {
    FilterListHolder holder(FilterList::create(variant(1, "a.wav")));
    std::atomic<bool> stop{false};
    std::atomic<int> seenA{0}, seenB{0}, mixed{0};

    auto evaluate = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!stop && std::chrono::steady_clock::now() < deadline) {
            MailRecord r;
            r.Account = 1;
            r.Subject = "Hello";
            r.Header = "Received: x\r\nFrom: bob@example.org\r\n";
            EvaluateFilters(r, *holder.load(), context());
            if (r.icon == 1 && r.Soundfile == "a.wav" && r.Ignore == true)
                ++seenA;
            else if (r.icon == 2 && r.Soundfile == "b.wav" && r.Ignore == true)
                ++seenB;
            else
                ++mixed;
            if (seenA > 50 && seenB > 50)
                stop = true;
        }
    };
    std::thread w1(evaluate), w2(evaluate);
    // Every swap builds a fresh list, so old lists (and their compiled patterns) are freed
    // while the workers may still be finishing with them.
    for (int i = 0; !stop; ++i) {
        holder.store(i % 2 ? variant(1, "a.wav") : variant(2, "b.wav"));
        std::this_thread::yield();
        if (i > 2000000)
            break;
    }
    stop = true;
    w1.join();
    w2.join();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GT(seenA.load(), 0);
    EXPECT_GT(seenB.load(), 0);
}

TEST(FilterListHolderTest, NullStoresAnEmptyList) {
    FilterListHolder holder;
    ASSERT_NE(holder.load(), nullptr);
    holder.store(std::vector<TFilter>{filter(0, "x", 1)});
    EXPECT_EQ(holder.load()->size(), 1u);
    holder.store(std::shared_ptr<const FilterList>());
    ASSERT_NE(holder.load(), nullptr);
    EXPECT_TRUE(holder.load()->empty());
}

TEST(FilterListTest, KeepsTheRulesInOrder) {
    const std::vector<TFilter> rules = {filter(0, "a", 1), filter(9, "(", 2, 3, 4, "s.wav"),
                                        filter(5, "12", 0, 1)};
    EXPECT_EQ(FilterList(rules).rules(), rules);
}

// One compiled pattern matched from several threads at once, without any outer lock.
TEST(PerlRegexTest, ConcurrentMatchesOnOnePattern) {
    const PerlRegex re("^(a|b)+c$");
    ASSERT_TRUE(re.valid());
    std::atomic<int> wrong{0};
    auto work = [&](int seed) {
        for (int i = 0; i < 20000; ++i) {
            const bool shouldMatch = (i + seed) % 2 == 0;
            const std::string s = shouldMatch ? "ababbac" : "ababbad";
            if (re.matches(s) != shouldMatch)
                ++wrong;
        }
    };
    std::thread t1(work, 0), t2(work, 1);
    t1.join();
    t2.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PerlRegexTest, DeepBacktrackingOnALongLineStillMatches) {
    // Enough recursion to exhaust a small JIT stack; the answer must not depend on it.
    const PerlRegex re("^(a|b)*c");
    std::string line(200000, 'a');
    line += 'c';
    EXPECT_TRUE(re.matches(line));
    line.back() = 'd';
    EXPECT_FALSE(re.matches(line));
}

TEST(PerlRegexTest, BytesAreMatchedAsBytes) {
    // Not valid UTF-8 and containing a NUL: compiled without UTF mode, so plain bytes.
    const PerlRegex re("caf\xe9\\x00!");
    ASSERT_TRUE(re.valid()) << re.error();
    EXPECT_TRUE(re.matches(std::string("le caf\xe9\0!", 10)));
}

} // namespace
} // namespace tarn
