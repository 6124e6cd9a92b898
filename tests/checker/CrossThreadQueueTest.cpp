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

} // namespace
