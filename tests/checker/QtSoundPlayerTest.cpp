#include "checker/QtSoundPlayer.h"
#include "TestApp.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

std::string defaultSound(const char* name) {
    return std::string(TARN_SOURCE_DIR) + "/resources/defaults/" + name;
}

class QtSoundPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
};

// A worker plays while the main thread keeps its event loop going, as during a check.
bool playFromWorker(QtSoundPlayer& player, const std::string& file,
                    std::chrono::milliseconds* took = nullptr) {
    std::atomic<bool> finished{false};
    bool result = false;
    std::chrono::steady_clock::duration d{};
    std::thread worker([&] {
        const auto t0 = std::chrono::steady_clock::now();
        result = player.play(file);
        d = std::chrono::steady_clock::now() - t0;
        finished = true;
    });
    test::processUntil([&] { return finished.load(); }, 60s);
    worker.join();
    if (took)
        *took = std::chrono::duration_cast<std::chrono::milliseconds>(d);
    return result;
}

TEST_F(QtSoundPlayerTest, WorkerWaitsUntilTheFileHasPlayed) {
    QtSoundPlayer player;
    std::chrono::milliseconds took{};
    EXPECT_TRUE(playFromWorker(player, defaultSound("incoming.wav"), &took));
    // The chime lasts 0.66 s; returning much earlier would mean it did not wait.
    EXPECT_GE(took.count(), 400);
    // The same file again, as for the mail-count repetitions.
    EXPECT_TRUE(playFromWorker(player, defaultSound("bip.wav")));
    EXPECT_TRUE(playFromWorker(player, defaultSound("bip.wav")));
}

TEST_F(QtSoundPlayerTest, MainThreadCallDoesNotDeadlock) {
    QtSoundPlayer player;
    EXPECT_TRUE(player.play(defaultSound("bip.wav")));
    EXPECT_TRUE(player.play(defaultSound("bip.wav")));
}

TEST_F(QtSoundPlayerTest, UnplayableFilesFail) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string garbage = dir.filePath("garbage.wav").toStdString();
    std::ofstream(garbage) << "RIFF this is not really a wave file at all";
    const std::string empty = dir.filePath("empty.wav").toStdString();
    std::ofstream{empty};

    QtSoundPlayer player;
    player.setAllowanceMs(5000);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(playFromWorker(player, dir.filePath("missing.wav").toStdString()));
    EXPECT_FALSE(player.play(dir.filePath("missing.wav").toStdString()));
    EXPECT_FALSE(player.play(dir.path().toStdString())); // a folder
    EXPECT_FALSE(playFromWorker(player, garbage));
    EXPECT_FALSE(player.play(empty));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
    // The player is still usable afterwards.
    EXPECT_TRUE(playFromWorker(player, defaultSound("bip.wav")));
}

TEST_F(QtSoundPlayerTest, WorkerGivesUpWhenTheMainThreadNeverAnswers) {
    QtSoundPlayer player;
    player.setAllowanceMs(300);
    // The main thread is not running its event loop while the worker waits.
    auto result =
        std::async(std::launch::async, [&] { return player.play(defaultSound("bip.wav")); });
    ASSERT_EQ(result.wait_for(20s), std::future_status::ready);
    EXPECT_FALSE(result.get());
    // Its stale request is dropped, not played, when the loop runs again.
    test::processUntil([] { return false; }, 100ms);
    player.setAllowanceMs(15000);
    EXPECT_TRUE(playFromWorker(player, defaultSound("bip.wav")));
}

TEST_F(QtSoundPlayerTest, PlaysTheNewMailSequence) {
    QtSoundPlayer player;
    const NewMailSoundSettings s{3, 10, defaultSound("incoming.wav"), defaultSound("bip.wav")};
    std::mutex lock;
    int played = -1;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        played = PlayNewMailSounds(s, true, 2, player, lock);
        finished = true;
    });
    test::processUntil([&] { return finished.load(); }, 60s);
    worker.join();
    EXPECT_EQ(played, 3);
}

} // namespace
