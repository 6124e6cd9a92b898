#include "core/NewMailSounds.h"
#include "core/TrayState.h"
#include "fakes/RecordingSoundPlayer.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

using namespace tarn;

namespace {

using RecordingPlayer = test::RecordingSoundPlayer;

// A lock that counts its use, to show that nothing is locked without a reason.
struct CountingLock {
    void lock() { ++locks; }
    void unlock() { ++unlocks; }
    int locks = 0;
    int unlocks = 0;
};

struct FailingLock {
    void lock() { throw std::runtime_error("lock failed"); }
    void unlock() { ADD_FAILURE() << "unlock without lock"; }
};

NewMailSoundSettings settings(int index, int maxCount = 10) {
    return {index, maxCount, "incoming.wav", "bip.wav"};
}

std::vector<std::string> seq(const std::string& first, int bips) {
    std::vector<std::string> v;
    if (!first.empty())
        v.push_back(first);
    v.insert(v.end(), bips, "bip.wav");
    return v;
}

struct SoundCase {
    const char* name;
    int index;
    int maxCount;
    bool accountSound;
    int n;
    std::vector<std::string> expected;
};

TEST(NewMailSounds, WhatPlays) {
    const SoundCase cases[] = {
        {"MailCountLimitedToMax", 2, 10, true, 25, seq("", 10)},
        {"MailCountBelowMax", 2, 10, true, 3, seq("", 3)},
        {"IncomingOnce", 1, 10, true, 7, seq("incoming.wav", 0)},
        {"BothInOrder", 3, 10, true, 1, seq("incoming.wav", 1)},
        {"BothLimited", 3, 2, true, 5, seq("incoming.wav", 2)},
        {"NeverEvenWithSoundOn", 0, 10, true, 4, {}},
        {"UnknownIndex", 4, 10, true, 4, {}},
        {"NegativeIndex", -1, 10, true, 4, {}},
        {"AccountSoundOff", 3, 10, false, 4, {}},
        {"NoNewMail", 3, 10, true, 0, {}},
        {"NegativeCount", 3, 10, true, -2, {}},
        // The incoming sound does not depend on the count limit.
        {"MaxZeroStillIncoming", 3, 0, true, 5, seq("incoming.wav", 0)},
    };
    for (const SoundCase& c : cases) {
        RecordingPlayer player;
        CountingLock lock;
        const int played =
            PlayNewMailSounds(settings(c.index, c.maxCount), c.accountSound, c.n, player, lock);
        EXPECT_EQ(player.files(), c.expected) << c.name;
        EXPECT_EQ(played, static_cast<int>(c.expected.size())) << c.name;
        const int lockUses = c.expected.empty() ? 0 : 1;
        EXPECT_EQ(lock.locks, lockUses) << c.name;
        EXPECT_EQ(lock.unlocks, lockUses) << c.name;
    }
}

TEST(NewMailSounds, UnplayableFileEndsTheSequenceAndReleasesTheLock) {
    RecordingPlayer player;
    CountingLock lock;
    player.setFailing({"incoming.wav"});
    EXPECT_EQ(PlayNewMailSounds(settings(3), true, 5, player, lock), 0);
    EXPECT_EQ(player.files(), seq("incoming.wav", 0));
    EXPECT_EQ(lock.unlocks, 1);

    RecordingPlayer second;
    second.setFailing({"bip.wav"});
    EXPECT_EQ(PlayNewMailSounds(settings(3), true, 5, second, lock), 1);
    EXPECT_EQ(second.files(), seq("incoming.wav", 1));
    EXPECT_EQ(lock.locks, 2);
    EXPECT_EQ(lock.unlocks, 2);
}

TEST(NewMailSounds, ThrowingPlayerStillReleasesTheLock) {
    struct Throwing : SoundPlayer {
        bool play(const std::string&) override { throw std::runtime_error("device gone"); }
    } player;
    CountingLock lock;
    EXPECT_EQ(PlayNewMailSounds(settings(2), true, 3, player, lock), 0);
    EXPECT_EQ(lock.locks, 1);
    EXPECT_EQ(lock.unlocks, 1);
}

TEST(NewMailSounds, FailedLockPlaysNothing) {
    RecordingPlayer player;
    FailingLock lock;
    EXPECT_EQ(PlayNewMailSounds(settings(3), true, 5, player, lock), 0);
    EXPECT_TRUE(player.files().empty());
}

TEST(TrayState, HintAndImage) {
    struct {
        int count;
        bool online;
        TrayState expected;
    } cases[] = {
        {0, true, {"You have 0 new Mails", TrayState::NoMailImage}},
        {1, true, {"You have 1 new Mail", TrayState::MailImage}},
        {1234, true, {"You have 1234 new Mails", TrayState::MailImage}},
        {0, false, {"You have 0 new Mails", TrayState::OfflineImage}},
        {5, false, {"You have 5 new Mails", TrayState::OfflineImage}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trayStateFor(c.count, c.online), c.expected) << c.count << " " << c.online;
}

TEST(TrayState, HintLimit) {
    EXPECT_EQ(limitTrayHint("Tarnwick"), "Tarnwick");
    EXPECT_EQ(limitTrayHint(std::string(63, 'x')), std::string(63, 'x'));
    EXPECT_EQ(limitTrayHint(std::string(64, 'x')), std::string(63, 'x'));
    // A two-byte character straddling the limit is dropped whole.
    const std::string straddling = std::string(62, 'x') + "\xC3\xA9" + "yy";
    EXPECT_EQ(limitTrayHint(straddling), std::string(62, 'x'));
}

} // namespace
