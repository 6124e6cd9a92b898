#include "checker/NewMailNotifier.h"
#include "TestApp.h"
#include "check/Session.h"
#include "checker/QtSoundPlayer.h"
#include "core/TempDir.h"
#include "fakes/RecordingCheckHost.h"
#include "fakes/RecordingSoundPlayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarn {
namespace {

using namespace std::chrono_literals;

// Records what is played and how many sequences overlap; each play takes a moment, so
// overlapping sequences would show.
struct RecordingPlayer : test::RecordingSoundPlayer {
    RecordingPlayer() : test::RecordingSoundPlayer(5ms) {}
};

class NewMailNotifierTest : public ::testing::Test {
protected:
    NewMailNotifierTest()
        : session(dir.path().string(), systemClock(), test::uniqueLockSuffix()),
          notifier(session, &player) {
        test::app();
        Settings& s = session.settings();
        for (int i = 1; i <= 2; ++i)
            s.Accounts.push_back(defaultAccount(i, s.Main.Colors));
        s.Main.ECount = 2;
        session.syncWithSettings();
        MainSettings& m = session.settings().Main;
        m.IncomingSound = "in.wav";
        m.MailCountSound = "bip.wav";
        m.SoundItemIndex = 3;
        m.MAXMailCount = 4;
    }
    // Calls from worker threads while the main thread keeps its event loop going.
    std::vector<int> fromWorkers(const std::vector<std::pair<int, long long>>& calls) {
        std::vector<int> results(calls.size(), -1);
        std::atomic<int> done{0};
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            threads.emplace_back([&, i] {
                results[i] = notifier.NewMailSounds(calls[i].first, calls[i].second);
                ++done;
            });
        }
        test::processUntil([&] { return done.load() == static_cast<int>(calls.size()); }, 30s);
        for (std::thread& t : threads)
            t.join();
        return results;
    }

    test::TempDir dir;
    Session session;
    RecordingPlayer player;
    NewMailNotifier notifier;
};

TEST_F(NewMailNotifierTest, WorkerPlaysWhatTheSettingsAsk) {
    EXPECT_EQ(fromWorkers({{1, 6}}), std::vector<int>{5});
    EXPECT_EQ(player.files(),
              (std::vector<std::string>{"in.wav", "bip.wav", "bip.wav", "bip.wav", "bip.wav"}));
}

TEST_F(NewMailNotifierTest, NothingPlaysWhenThereIsNothingToAnnounce) {
    session.settings().account(2).Sound = false;
    // A filter that hid every new message leaves 0; an account without Sound; no account.
    EXPECT_EQ(fromWorkers({{1, 0}, {2, 3}, {7, 3}, {1, -1}}), (std::vector<int>{0, 0, 0, 0}));
    session.Quitting = true;
    EXPECT_EQ(fromWorkers({{1, 3}}), std::vector<int>{0});
    session.Quitting = false;
    notifier.setPlayer(nullptr);
    EXPECT_EQ(fromWorkers({{1, 3}}), std::vector<int>{0});
    EXPECT_TRUE(player.files().empty());
}

TEST_F(NewMailNotifierTest, SequencesOfTwoAccountsDoNotOverlap) {
    session.settings().Main.SoundItemIndex = 2;
    EXPECT_EQ(fromWorkers({{1, 4}, {2, 4}, {1, 4}}), (std::vector<int>{4, 4, 4}));
    EXPECT_EQ(player.files().size(), 12u);
    EXPECT_EQ(player.maxActive.load(), 1);
}

TEST_F(NewMailNotifierTest, MainThreadCallReadsTheSettingsDirectly) {
    session.settings().Main.SoundItemIndex = 1;
    EXPECT_EQ(notifier.NewMailSounds(1, 2), 1);
    EXPECT_EQ(player.files(), std::vector<std::string>{"in.wav"});
}

TEST_F(NewMailNotifierTest, ChangedSettingsApplyToTheNextCheck) {
    fromWorkers({{1, 1}});
    session.settings().Main.SoundItemIndex = 0;
    fromWorkers({{1, 1}});
    session.settings().Main.SoundItemIndex = 2;
    session.settings().Main.MailCountSound = "other.wav";
    fromWorkers({{1, 1}});
    EXPECT_EQ(player.files(), (std::vector<std::string>{"in.wav", "bip.wav", "other.wav"}));
}

std::string defaultSound(const char* name) {
    return std::string(TARN_SOURCE_DIR) + "/resources/defaults/" + name;
}

TEST_F(NewMailNotifierTest, PlaysRealFilesWithTheProgramsPlayer) {
    QtSoundPlayer qtPlayer;
    NewMailNotifier real(session, &qtPlayer);
    MainSettings& m = session.settings().Main;
    m.SoundItemIndex = 3;
    m.IncomingSound = defaultSound("incoming.wav");
    m.MailCountSound = defaultSound("bip.wav");
    std::atomic<int> played{-1};
    std::thread worker([&] { played = real.NewMailSounds(1, 1); });
    test::processUntil([&] { return played.load() >= 0; }, 60s);
    worker.join();
    EXPECT_EQ(played.load(), 2);

    // A file that cannot be played ends the sounds at once.
    m.IncomingSound = dir.file("missing.wav");
    played = -1;
    std::thread worker2([&] { played = real.NewMailSounds(1, 3); });
    test::processUntil([&] { return played.load() >= 0; }, 60s);
    worker2.join();
    EXPECT_EQ(played.load(), 0);
}

} // namespace
} // namespace tarn
