#include "checker/CrossThreadQueue.h"
#include "TestApp.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

TEST(CrossThreadQueueTest, FunctionsFromAWorkerRunOnTheOwningThreadInOrder) {
    test::app();
    CrossThreadQueue queue;
    std::vector<int> ran; // touched by the main thread only
    bool allOnMain = true;
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i)
            queue.post([&, i] {
                allOnMain = allOnMain && QThread::currentThread() == queue.thread();
                ran.push_back(i);
            });
    });
    worker.join();
    EXPECT_TRUE(ran.empty()); // nothing runs before the event loop does
    EXPECT_TRUE(test::processUntil([&] { return ran.size() == 50; }, 10s));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < static_cast<int>(ran.size()); ++i)
        EXPECT_EQ(ran[i], i);
}

TEST(CrossThreadQueueTest, AFunctionRunningALocalEventLoopDoesNotHoldBackLaterOnes) {
    test::app();
    CrossThreadQueue queue;
    bool secondRan = false;
    bool secondRanInsideFirst = false;
    queue.post([&] {
        test::processUntil([&] { return secondRan; }, 5s);
        secondRanInsideFirst = secondRan;
    });
    queue.post([&] { secondRan = true; });
    EXPECT_TRUE(test::processUntil([&] { return secondRan; }, 10s));
    EXPECT_TRUE(secondRanInsideFirst);
}

TEST(CrossThreadQueueTest, FunctionsStillQueuedAreDroppedWithTheQueue) {
    test::app();
    auto ran = std::make_shared<std::atomic<bool>>(false);
    {
        CrossThreadQueue queue;
        std::thread worker([&, ran] { queue.post([ran] { *ran = true; }); });
        worker.join();
    }
    std::shared_ptr<std::atomic<bool>> keep = std::move(ran);
    // What the dropped function held is released, and it never runs later.
    EXPECT_EQ(keep.use_count(), 1);
    test::processUntil([] { return false; }, 100ms);
    EXPECT_FALSE(*keep);
}

TEST(CrossThreadQueueTest, ACallRunsOnTheOwningThreadAndReturnsWhatItMade) {
    test::app();
    CrossThreadQueue queue;
    std::atomic<bool> returned{false};
    bool ran = false;
    bool onMain = false;
    int made = 0;
    std::thread worker([&] {
        ran = queue.call(
            [&] {
                onMain = QThread::currentThread() == queue.thread();
                made = 42;
            },
            10s);
        returned = true;
    });
    EXPECT_TRUE(test::processUntil([&] { return returned.load(); }, 10s));
    worker.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(made, 42);
    // On the owning thread itself it runs at once.
    made = 0;
    EXPECT_TRUE(queue.call([&] { made = 7; }, 0ms));
    EXPECT_EQ(made, 7);
}

// The main thread never runs its events while the worker waits: the worker gets its time-out,
// and the function, which refers to the worker's long-gone stack, never runs afterwards.
TEST(CrossThreadQueueTest, ACallTheMainThreadNeverAnswersTimesOutAndNeverRunsLater) {
    test::app();
    CrossThreadQueue queue;
    auto ranLate = std::make_shared<std::atomic<bool>>(false);
    struct Case {
        const char* name;
        std::chrono::milliseconds timeout;
        bool quitting;
    };
    for (const Case& c : {Case{"time-out", 150ms, false}, Case{"quitting", 1h, true}}) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> quitting{c.quitting};
        bool ran = true;
        std::chrono::steady_clock::duration waited{};
        std::thread worker([&, ranLate] {
            int onStack = 0;
            const auto t0 = std::chrono::steady_clock::now();
            ran = queue.call(
                [&onStack, ranLate] {
                    onStack = 1;
                    *ranLate = true;
                },
                c.timeout, &quitting, 150ms);
            waited = std::chrono::steady_clock::now() - t0;
        });
        worker.join();
        EXPECT_FALSE(ran);
        EXPECT_GE(waited, 150ms);
        EXPECT_LT(waited, 5s);
        test::processUntil([] { return false; }, 100ms);
        EXPECT_FALSE(*ranLate);
    }
}

TEST(CrossThreadQueueTest, ACallToAQueueThatIsGoneEndsAtOnceWithoutRunning) {
    test::app();
    auto ran = std::make_shared<std::atomic<bool>>(false);
    auto queue = std::make_unique<CrossThreadQueue>();
    const CrossThreadQueue::Link link = queue->link();
    // Destroyed while a call waits: the waiting caller is let go.
    std::atomic<bool> returned{false};
    bool result = true;
    std::thread worker([&, ran] {
        result = link.call([ran] { *ran = true; }, 1h);
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(returned);
    queue.reset();
    worker.join();
    EXPECT_FALSE(result);

    // Later calls and posts through the link are dropped.
    const auto t0 = std::chrono::steady_clock::now();
    std::thread late([&, ran] { EXPECT_FALSE(link.call([ran] { *ran = true; }, 1h)); });
    late.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
    link.post([ran] { *ran = true; });
    test::processUntil([] { return false; }, 100ms);
    EXPECT_FALSE(*ran);
}

} // namespace
