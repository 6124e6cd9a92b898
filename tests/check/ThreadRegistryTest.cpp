#include "check/ThreadRegistry.h"
#include "check/Session.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

namespace tarn {
namespace {

using namespace std::chrono_literals;
using Kind = ThreadRegistry::Kind;

TEST(ThreadRegistryTest, TheWaitEndsOnlyWhenEveryKindOfThreadHasLeft) {
    ThreadRegistry threads;
    EXPECT_TRUE(threads.waitUntilNoneRun(0ms));
    for (const Kind k :
         {Kind::Check, Kind::IdleConnection, Kind::MailboxListing, Kind::UpdateCheck}) {
        SCOPED_TRACE(static_cast<int>(k));
        threads.enter(k);
        EXPECT_EQ(threads.running(k), 1);
        EXPECT_EQ(threads.running(), 1);
        EXPECT_FALSE(threads.waitUntilNoneRun(20ms));
        std::atomic<bool> left{false};
        std::thread t([&] {
            std::this_thread::sleep_for(50ms);
            left = true;
            threads.leave(k);
        });
        EXPECT_TRUE(threads.waitUntilNoneRun(5s));
        EXPECT_TRUE(left);
        t.join();
    }
    // A leave without an enter does not let a later thread go uncounted.
    threads.leave(Kind::Check);
    threads.enter(Kind::Check);
    EXPECT_EQ(threads.running(), 1);
}

TEST(ThreadRegistryTest, AnEntryLeavesWhenItGoesAndOnceAfterAMove) {
    auto shared = std::make_shared<ThreadRegistry>();
    ThreadRegistry& threads = *shared;
    {
        ThreadRegistry::Entry e(shared, Kind::MailboxListing);
        EXPECT_EQ(threads.running(Kind::MailboxListing), 1);
        ThreadRegistry::Entry moved(std::move(e));
        EXPECT_EQ(threads.running(Kind::MailboxListing), 1);
    }
    EXPECT_EQ(threads.running(), 0);
    ThreadRegistry::Entry none(nullptr, Kind::UpdateCheck); // unregistered: no effect
    EXPECT_EQ(threads.running(), 0);
}

// A thread that outlives the session (the exit stopped waiting for it) still leaves a registry
// that exists: its entry holds it, and lets it go as the thread ends.
TEST(ThreadRegistryTest, AThreadsEntryKeepsTheRegistryUntilTheThreadHasLeft) {
    std::weak_ptr<ThreadRegistry> registry;
    std::promise<void> go;
    std::promise<void> left;
    {
        test::TempDir dir;
        Session session(dir.path().string(), systemClock(), test::uniqueLockSuffix());
        registry = session.sharedThreads();
        ThreadRegistry::Entry entry(session.sharedThreads(), Kind::UpdateCheck);
        std::thread([entry = std::move(entry), ready = go.get_future().share(), &left]() mutable {
            ready.wait();
            { auto gone = std::move(entry); }
            left.set_value();
        }).detach();
        EXPECT_FALSE(session.waitForWorkers(10ms));
    }
    // The session is gone; the thread still runs and alone holds the registry.
    ASSERT_FALSE(registry.expired());
    EXPECT_EQ(registry.lock()->running(Kind::UpdateCheck), 1);
    go.set_value();
    left.get_future().wait();
    EXPECT_TRUE(registry.expired());
}

TEST(ThreadRegistryTest, TheSessionsExitWaitCoversEveryRegisteredThread) {
    test::TempDir dir;
    Session session(dir.path().string(), systemClock(), test::uniqueLockSuffix());
    session.threads().enter(Kind::IdleConnection);
    EXPECT_FALSE(session.waitForWorkers(20ms));
    session.threads().leave(Kind::IdleConnection);
    session.workerStarted();
    EXPECT_EQ(session.threads().running(Kind::Check), 1);
    EXPECT_FALSE(session.waitForWorkers(20ms));
    session.workerEnded();
    EXPECT_TRUE(session.waitForWorkers(0ms));
}

} // namespace
} // namespace tarn
