#include "core/NewMailSounds.h"
#include "platform/NamedMutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace tarn;

namespace {

// Plays take a little time and note when two of them run at once.
class OverlapDetector : public SoundPlayer {
public:
    bool play(const std::string& file) override {
        if (m_active.fetch_add(1) != 0)
            overlapped = true;
        {
            std::lock_guard<std::mutex> g(m_guard);
            order.push_back(file);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        m_active.fetch_sub(1);
        return true;
    }
    std::atomic<bool> overlapped{false};
    std::vector<std::string> order;

private:
    std::atomic<int> m_active{0};
    std::mutex m_guard;
};

// Two accounts finish together, each holding its own handle of the named media lock (as two
// instances of the program would): their sequences play one after the other.
TEST(MediaLockSounds, NamedLockSerialisesSequences) {
    const std::string name = "Tarnwick_MediaPlayerMutex_test_" + std::to_string(getpid());
    NamedMutex first(name);
    NamedMutex second(name);
    OverlapDetector player;
    std::latch start(2);
    auto account = [&](NamedMutex& lock, const std::string& prefix) {
        const NewMailSoundSettings s{3, 10, prefix + "in", prefix + "bip"};
        start.arrive_and_wait();
        EXPECT_EQ(PlayNewMailSounds(s, true, 6, player, lock), 7);
    };
    std::thread a(account, std::ref(first), "a");
    std::thread b(account, std::ref(second), "b");
    a.join();
    b.join();

    EXPECT_FALSE(player.overlapped);
    ASSERT_EQ(player.order.size(), 14u);
    // One whole sequence, then the other.
    for (std::size_t i = 0; i < player.order.size(); ++i)
        EXPECT_EQ(player.order[i][0] == player.order[0][0], i < 7) << i;
    // The lock is free again.
    ASSERT_TRUE(first.try_lock());
    first.unlock();
}

} // namespace
