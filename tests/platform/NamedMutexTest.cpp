#include "platform/NamedMutex.h"
#include "platform/NamedLocks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

std::string uniqueName(const std::string& tag) {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    return "TarnTest_" + std::to_string(getpid()) + "_" + info->name() + tag;
}

class NamedMutexTest : public testing::Test {
protected:
    void SetUp() override {
        m_name = uniqueName("");
        NamedMutex::removeSystemObject(m_name);
    }
    void TearDown() override { NamedMutex::removeSystemObject(m_name); }

    // Whether another thread of this process could take the lock right now.
    static bool otherThreadCanTake(NamedMutex& m) {
        bool got = false;
        std::thread t([&] {
            got = m.try_lock();
            if (got) {
                m.unlock();
            }
        });
        t.join();
        return got;
    }

    // Locks on a helper thread; false when that did not finish within the limit, which
    // would mean the lock was never handed over.
    static bool lockWithin(NamedMutex& m, std::chrono::seconds limit) {
        auto f = std::async(std::launch::async, [&] {
            m.lock();
            m.unlock();
        });
        return f.wait_for(limit) == std::future_status::ready;
    }

    std::string m_name;
};

TEST_F(NamedMutexTest, CreatedUnownedAndReentrantForOwnerThread) {
    NamedMutex m(m_name);
    EXPECT_TRUE(otherThreadCanTake(m));

    m.lock();
    m.lock();
    EXPECT_TRUE(m.try_lock());
    EXPECT_FALSE(otherThreadCanTake(m));
    m.unlock();
    m.unlock();
    EXPECT_FALSE(otherThreadCanTake(m)) << "still held once";
    m.unlock();
    EXPECT_TRUE(otherThreadCanTake(m));
}

TEST_F(NamedMutexTest, ObjectsOfOneNameShareTheLockAndOtherNamesDoNot) {
    NamedMutex a(m_name);
    NamedMutex b(m_name);
    NamedMutex other(m_name + "_other");
    NamedLock hold(a);
    EXPECT_FALSE(otherThreadCanTake(b));
    EXPECT_TRUE(otherThreadCanTake(other));
    // Re-entrant through either object.
    EXPECT_TRUE(b.try_lock());
    b.unlock();
    NamedMutex::removeSystemObject(m_name + "_other");
}

TEST_F(NamedMutexTest, ExcludesBetweenProcesses) {
    struct Shared {
        long counter;
        int inside;
        int overlaps;
        std::atomic<int> started;
    };
    void* p =
        mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(p, MAP_FAILED);
    auto* shared = new (p) Shared{0, 0, 0, {0}};
    constexpr int kRounds = 3000;

    pid_t kids[2];
    for (pid_t& kid : kids) {
        kid = fork();
        ASSERT_GE(kid, 0);
        if (kid == 0) {
            // Each process opens the lock by name on its own.
            NamedMutex m(m_name);
            shared->started.fetch_add(1);
            while (shared->started.load() < 2) {
                sched_yield();
            }
            for (int i = 0; i < kRounds; ++i) {
                m.lock();
                if (shared->inside++ != 0) {
                    ++shared->overlaps;
                }
                long v = shared->counter;
                sched_yield();
                shared->counter = v + 1;
                --shared->inside;
                m.unlock();
            }
            _exit(0);
        }
    }
    for (pid_t kid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(kid, &status, 0), kid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(shared->counter, 2L * kRounds);
    EXPECT_EQ(shared->overlaps, 0);
    munmap(p, sizeof(Shared));
}

TEST_F(NamedMutexTest, HolderKilledCountsAsAcquiredByNextWaiter) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t kid = fork();
    ASSERT_GE(kid, 0);
    if (kid == 0) {
        NamedMutex m(m_name);
        m.lock();
        m.lock(); // held twice: the survivor must still get it once
        char c = 'x';
        if (write(ready[1], &c, 1) != 1) {
            _exit(1);
        }
        for (;;) {
            pause();
        }
    }
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);

    NamedMutex m(m_name);
    EXPECT_FALSE(m.try_lock()) << "the other process holds it";
    ASSERT_EQ(kill(kid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(kid, &status, 0), kid);

    ASSERT_TRUE(lockWithin(m, 10s)) << "waiter never got the abandoned lock";
    // After the take-over it is an ordinary lock again, held once.
    m.lock();
    EXPECT_FALSE(otherThreadCanTake(m));
    m.unlock();
    EXPECT_TRUE(otherThreadCanTake(m));
}

TEST_F(NamedMutexTest, ThreadEndingWhileHoldingCountsAsAcquiredByNextWaiter) {
    NamedMutex m(m_name);
    std::thread holder([&] {
        m.lock();
        m.lock();
    });
    holder.join();

    ASSERT_TRUE(lockWithin(m, 10s)) << "waiter never got the abandoned lock";
    m.lock();
    m.unlock();
    EXPECT_TRUE(otherThreadCanTake(m));
}

TEST_F(NamedMutexTest, ThreadsHammeringKeepCountExact) {
    NamedMutex m(m_name);
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 5000; ++i) {
                NamedLock outer(m);
                NamedLock inner(m);
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 20000);
}

TEST(NamedLocksTest, FourProgramLocksAreDistinctAndNamed) {
    const std::string suffix = "_test" + std::to_string(getpid());
    {
        NamedLocks locks(suffix);
        EXPECT_EQ(locks.instance().name(), "Tarnwick_Mutex" + suffix);
        EXPECT_EQ(locks.mediaPlayer().name(), "Tarnwick_MediaPlayerMutex" + suffix);
        EXPECT_EQ(locks.mailDB().name(), "Tarnwick_MailDBMutex" + suffix);
        EXPECT_EQ(locks.filter().name(), "Tarnwick_FilterMutex" + suffix);

        NamedLock hold(locks.mailDB());
        bool filterFree = false;
        bool mailFree = true;
        std::thread t([&] {
            filterFree = locks.filter().try_lock();
            if (filterFree) {
                locks.filter().unlock();
            }
            mailFree = locks.mailDB().try_lock();
        });
        t.join();
        EXPECT_TRUE(filterFree);
        EXPECT_FALSE(mailFree);
    }
    for (const char* n : {"Tarnwick_Mutex", "Tarnwick_MediaPlayerMutex", "Tarnwick_MailDBMutex",
                          "Tarnwick_FilterMutex"}) {
        NamedMutex::removeSystemObject(n + suffix);
    }
}

} // namespace
