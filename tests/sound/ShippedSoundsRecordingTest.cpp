// Plays the shipped new-mail sounds through the program's player into a private sound
// server and checks what came out of it: each sound whole, in order, without long pauses.
#include "checker/QtSoundPlayer.h"
#include "checker/TestApp.h"
#include "sound/PulseServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace tarn;
using namespace std::chrono_literals;

namespace {

std::string shippedSound(const char* name) {
    return std::string(TARN_SOURCE_DIR) + "/resources/defaults/" + name;
}

struct Pcm {
    int rate = 0;
    std::vector<std::int16_t> samples; // mono
};

// A 16-bit PCM WAV file, channels mixed to mono.
Pcm readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string b = s.str();
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    auto u16 = [&](std::size_t at) {
        std::uint16_t v = 0;
        std::memcpy(&v, b.data() + at, 2);
        return v;
    };
    Pcm pcm;
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0)
        return pcm;
    int channels = 0, bits = 0;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const std::uint32_t size = u32(at + 4);
        const std::size_t body = at + 8;
        if (body + size > b.size())
            break;
        if (id == "fmt " && size >= 16) {
            channels = u16(body + 2);
            pcm.rate = static_cast<int>(u32(body + 4));
            bits = u16(body + 14);
        } else if (id == "data" && channels > 0 && bits == 16) {
            const std::size_t frames = size / (2u * static_cast<unsigned>(channels));
            for (std::size_t f = 0; f < frames; ++f) {
                int sum = 0;
                for (int c = 0; c < channels; ++c) {
                    std::int16_t v = 0;
                    std::memcpy(&v, b.data() + body + (f * channels + c) * 2, 2);
                    sum += v;
                }
                pcm.samples.push_back(static_cast<std::int16_t>(sum / channels));
            }
        }
        at = body + size + (size & 1);
    }
    return pcm;
}

struct Span {
    double start = 0; // seconds
    double end = 0;
    double length() const { return end - start; }
};

// The stretches louder than the threshold; quieter pauses shorter than minGap do not split.
std::vector<Span> soundSpans(const std::vector<std::int16_t>& samples, int rate) {
    constexpr int threshold = 300;
    const std::size_t minGap = static_cast<std::size_t>(rate) * 30 / 1000;
    std::vector<Span> spans;
    bool in = false;
    std::size_t first = 0, last = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) <= threshold)
            continue;
        if (in && i - last > minGap) {
            spans.push_back({double(first) / rate, double(last) / rate});
            in = false;
        }
        if (!in) {
            first = i;
            in = true;
        }
        last = i;
    }
    if (in)
        spans.push_back({double(first) / rate, double(last) / rate});
    return spans;
}

std::string describe(const std::vector<Span>& spans) {
    std::ostringstream s;
    s.precision(3);
    for (const Span& sp : spans)
        s << std::fixed << " [" << sp.start << " s, " << sp.length() << " s]";
    return s.str();
}

class ShippedSoundsRecordingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::PulseServer::available()) {
            problem() = "pulseaudio or parec is not installed (scripts/setup installs them)";
            return;
        }
        try {
            server() = std::make_unique<test::PulseServer>();
        } catch (const std::exception& e) {
            problem() = std::string("the private sound server did not start: ") + e.what();
            return;
        }
        // Before the player's first use: the audio back end connects once.
        ::setenv("PULSE_SERVER", server()->address().c_str(), 1);
        test::app();
    }
    static void TearDownTestSuite() { server().reset(); }

    void SetUp() override {
        if (!server()) {
            if (test::PulseServer::required())
                FAIL() << problem();
            GTEST_SKIP() << problem();
        }
    }

    static std::unique_ptr<test::PulseServer>& server() {
        static std::unique_ptr<test::PulseServer> s;
        return s;
    }
    static std::string& problem() {
        static std::string p;
        return p;
    }

    // Records while a worker thread plays, as a check's sounds are played, and returns the
    // sound stretches that came out of the sink.
    std::vector<Span> recordWhile(const std::function<void()>& play) {
        test::PulseServer::Recording recording(*server());
        std::atomic<bool> finished{false};
        std::thread worker([&] {
            play();
            finished = true;
        });
        test::processUntil([&] { return finished.load(); }, 60s);
        worker.join();
        // What the sink took last reaches the monitor a moment later.
        test::processUntil([] { return false; }, 300ms);
        return soundSpans(recording.stop(), test::PulseServer::RecordRate);
    }

    // How far a recorded sound's length may stray from the file's.
    static constexpr double Tolerance = 0.02;
};

TEST_F(ShippedSoundsRecordingTest, EachSoundComesOutWhole) {
    for (const char* name : {"incoming.wav", "bip.wav"}) {
        SCOPED_TRACE(name);
        const Pcm file = readWav(shippedSound(name));
        ASSERT_GT(file.rate, 0);
        const std::vector<Span> expected = soundSpans(file.samples, file.rate);
        ASSERT_EQ(expected.size(), 1u);

        QtSoundPlayer player;
        bool played = false;
        const std::vector<Span> heard =
            recordWhile([&] { played = player.play(shippedSound(name)); });
        EXPECT_TRUE(played);
        ASSERT_EQ(heard.size(), 1u) << "heard:" << describe(heard) << "\n" << server()->log();
        EXPECT_NEAR(heard[0].length(), expected[0].length(), Tolerance)
            << "heard:" << describe(heard);
    }
}

TEST_F(ShippedSoundsRecordingTest, IncomingThenThreeBipsWholeInOrderWithoutLongPauses) {
    const Pcm incoming = readWav(shippedSound("incoming.wav"));
    const Pcm bip = readWav(shippedSound("bip.wav"));
    const double incomingLength = soundSpans(incoming.samples, incoming.rate).at(0).length();
    const double bipLength = soundSpans(bip.samples, bip.rate).at(0).length();

    QtSoundPlayer player;
    const NewMailSoundSettings settings{3, 10, shippedSound("incoming.wav"),
                                        shippedSound("bip.wav")};
    std::mutex mediaLock;
    int played = 0;
    const std::vector<Span> heard =
        recordWhile([&] { played = PlayNewMailSounds(settings, true, 3, player, mediaLock); });

    EXPECT_EQ(played, 4);
    ASSERT_EQ(heard.size(), 4u) << "heard:" << describe(heard) << "\n" << server()->log();
    const double expected[] = {incomingLength, bipLength, bipLength, bipLength};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_NEAR(heard[i].length(), expected[i], Tolerance)
            << "sound " << i << ", heard:" << describe(heard);
        if (i > 0) {
            EXPECT_LT(heard[i].start - heard[i - 1].end, 0.3)
                << "pause before sound " << i << ", heard:" << describe(heard);
        }
    }
}

} // namespace
