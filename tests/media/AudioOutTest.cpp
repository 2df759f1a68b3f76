#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <thread>
#include <utility>
#include <vector>

#include "FakeAudioOut.h"
#include "PulseServer.h"
#include "media/PulseAudioOut.h"
#include "platform/Log.h"
#include "platform/TickCount.h"

namespace tess {
namespace {

using namespace std::chrono_literals;

TEST(AudioOut, ThreeBlocksOfRoomAndEachFinishedBlockGivesOneBack) {
    FakeAudioOut out;
    const std::vector<int16_t> block(100, 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(out.waitForRoom(0));
        EXPECT_TRUE(out.writeBlock(block));
    }
    EXPECT_FALSE(out.waitForRoom(10));
    ASSERT_TRUE(out.finishOne());
    EXPECT_TRUE(out.waitForRoom(0));
    EXPECT_EQ(out.resets(), 0u);

    // An empty block (a frame of S = 64) and a refused block give their room
    // back at once; a refused block counts as dropped.
    EXPECT_TRUE(out.writeBlock({}));
    EXPECT_TRUE(out.waitForRoom(0));
    out.refuse(true);
    EXPECT_FALSE(out.writeBlock(block));
    EXPECT_EQ(out.droppedBlocks(), 1u);
    EXPECT_TRUE(out.waitForRoom(0));
    EXPECT_EQ(out.written().size(), 3u);
}

TEST(AudioOut, BlocksQueueWhateverTheirCountAndLongBlocksAreCut) {
    // The base class drops nothing by count any more (the "four blocks
    // behind" reset): how far an output may lag is the output's own rule.
    FakeAudioOut out;
    const std::vector<int16_t> block(10, 7);
    for (int i = 0; i < 6; ++i) out.writeBlock(block);
    EXPECT_EQ(out.queued(), 6u);
    EXPECT_EQ(out.resets(), 0u);

    out.writeBlock(std::vector<int16_t>(AudioOut::kMaxBlockSamples + 10, 1));
    EXPECT_EQ(out.written().back().size(), AudioOut::kMaxBlockSamples);

    out.reset();
    EXPECT_EQ(out.queued(), 0u);
    EXPECT_EQ(out.resets(), 1u);
}

TEST(AudioOut, AnotherSourcesBlockOrTheEndOfItsStreamEndsTheStreamPlaying) {
    FakeAudioOut out;
    const std::vector<int16_t> block(10, 7);
    int first = 0, second = 0;
    out.writeBlock(block, &first);
    out.writeBlock(block, &first);
    EXPECT_EQ(out.streamStops, 0);
    out.writeBlock(block, &second);  // another pane's sound: the first one's ends
    EXPECT_EQ(out.streamStops, 1);
    out.endStream(&first);  // no longer playing: nothing to end
    EXPECT_EQ(out.streamStops, 1);
    out.endStream(&second);
    EXPECT_EQ(out.streamStops, 2);
    out.endStream(&second);
    EXPECT_EQ(out.streamStops, 2);
    out.writeBlock(block, &first);  // after silence: nothing to end
    EXPECT_EQ(out.streamStops, 2);
    EXPECT_EQ(out.written().size(), 4u);
}

using PulseAudioOutTest = PulseServerTest;

constexpr int kQuiet = 300;

// A 500 Hz tone of amplitude 8000, continuing from `phase`.
std::vector<int16_t> tone(size_t samples, double& phase) {
    std::vector<int16_t> block(samples);
    for (int16_t& sample : block) {
        sample = static_cast<int16_t>(std::lround(8000 * std::sin(phase)));
        phase += 2 * std::numbers::pi * 500 / 8000;
    }
    return block;
}

// The first and one past the last sample that is not silence.
std::pair<size_t, size_t> soundOf(const std::vector<int16_t>& samples) {
    const auto silent = [](int16_t s) { return s >= -2 && s <= 2; };
    size_t first = 0, last = samples.size();
    while (first < last && silent(samples[first])) ++first;
    while (last > first && silent(samples[last - 1])) --last;
    return {first, last};
}

// Runs of 4 or more samples below 300 inside the sound (its 8 ms fades left out).
size_t gapsIn(const std::vector<int16_t>& samples) {
    const auto [first, last] = soundOf(samples);
    size_t gaps = 0, run = 0;
    for (size_t i = first + 64; i + 64 < last; ++i) {
        run = std::abs(samples[i]) < kQuiet ? run + 1 : 0;
        if (run == 4) ++gaps;
    }
    return gaps;
}

// The sound starts and ends with a fade: its first and last 8 samples are soft.
void expectFadedEnds(const std::vector<int16_t>& samples) {
    const auto [first, last] = soundOf(samples);
    ASSERT_GT(last, first + 16);
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_LT(std::abs(samples[first + i]), 2000) << "start + " << i;
        EXPECT_LT(std::abs(samples[last - 1 - i]), 2000) << "end - " << i;
    }
}

// 24 blocks of 512 samples (64 ms), each written as a live source delivers
// it: the tone plays from its first sound to its end without a gap, and the
// output gives every block's room back as it takes it.
TEST_F(PulseAudioOutTest, ALiveToneReachesTheSinkWithoutAGapAndWithFadedEnds) {
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    double phase = 0;
    int source = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 24; ++i) {
        std::this_thread::sleep_until(start + i * 64ms);
        ASSERT_TRUE(out.waitForRoom(2000)) << "block " << i;
        ASSERT_TRUE(out.writeBlock(tone(512, phase), &source));
        EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    }
    std::this_thread::sleep_for(400ms);  // it runs dry: the end fades out
    EXPECT_EQ(out.droppedBlocks(), 0u);
    EXPECT_EQ(out.resets(), 0u);
    const PulseAudioOut::Reading reading = out.reading();
    EXPECT_EQ(reading.streams, 1u);
    EXPECT_EQ(reading.dryRuns, 1u);
    const std::vector<int16_t> recorded = server_.stopRecording();

    const auto [first, last] = soundOf(recorded);
    ASSERT_GE(last - first, 24u * 512 - 200) << server_.recorderLog();
    EXPECT_EQ(gapsIn(recorded), 0u);
    expectFadedEnds(recorded);
    EXPECT_GT(tonePower(recorded, 500), 100 * tonePower(recorded, 1500));
}

// A stream that ends (its player stopped) fades out at once; what was still
// queued is not heard.
TEST_F(PulseAudioOutTest, AnEndedStreamFadesOutAtOnceAndItsRestIsDropped) {
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    double phase = 0;
    int source = 0;
    ASSERT_TRUE(out.waitForRoom(0));
    ASSERT_TRUE(out.writeBlock(tone(4096, phase), &source));  // 512 ms
    std::this_thread::sleep_for(200ms);
    out.endStream(&source);
    std::this_thread::sleep_for(400ms);
    const std::vector<int16_t> recorded = server_.stopRecording();
    const auto [first, last] = soundOf(recorded);
    ASSERT_GT(last, first) << server_.recorderLog();
    EXPECT_LT(last - first, 8u * 260) << "played on after its end";
    EXPECT_EQ(gapsIn(recorded), 0u);
    expectFadedEnds(recorded);
    EXPECT_EQ(out.resets(), 0u);
}

TEST_F(PulseAudioOutTest, ResetFadesOutAndTheStreamGoesOn) {
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    double phase = 0;
    ASSERT_TRUE(out.waitForRoom(0));
    ASSERT_TRUE(out.writeBlock(tone(2048, phase)));
    std::this_thread::sleep_for(100ms);
    out.reset();
    EXPECT_EQ(out.resets(), 1u);
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    EXPECT_LT(out.reading().queuedMs, 1);
    // The next block is a new stream.
    ASSERT_TRUE(out.waitForRoom(0));
    ASSERT_TRUE(out.writeBlock(tone(800, phase)));
    EXPECT_EQ(out.reading().streams, 2u);
}

// Blocks that come in a burst at a stream's start (after a stall) would play
// late for ever: before anything of it is heard, the output keeps only the
// target margin of it and plays the newest block.
TEST_F(PulseAudioOutTest, ABurstAtAStreamsStartPlaysOnlyItsNewestSound) {
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    double phase = 0;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(out.waitForRoom(0));
        ASSERT_TRUE(out.writeBlock(tone(1024, phase)));  // 128 ms each
    }
    EXPECT_EQ(out.resets(), 3u);
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    std::this_thread::sleep_for(500ms);
    const std::vector<int16_t> recorded = server_.stopRecording();
    const auto [first, last] = soundOf(recorded);
    ASSERT_GT(last, first) << server_.recorderLog();
    EXPECT_LT(last - first, 8u * 200) << "the burst played whole";
    EXPECT_GT(last - first, 8u * 120);
    EXPECT_EQ(gapsIn(recorded), 0u);
}

TEST(PulseAudioOutWithoutServer, ReportsOneLineAndDropsBlocksWithoutBlocking) {
    const std::filesystem::path nowhere =
        std::filesystem::temp_directory_path() / "tess-no-such-folder" / "native";
    setenv("PULSE_SERVER", ("unix:" + nowhere.string()).c_str(), 1);
    RecordingLogSink log;
    {
        ScopedLogSink logged(log);
        PulseAudioOut out;
        EXPECT_FALSE(out.playing());
        const std::vector<int16_t> block(512, 100);
        const uint32_t start = tickCount();
        for (int i = 0; i < 20; ++i) {
            ASSERT_TRUE(out.waitForRoom(100));
            EXPECT_FALSE(out.writeBlock(block));
        }
        EXPECT_LT(ticksSince(start), 500u);
        EXPECT_EQ(out.droppedBlocks(), 20u);
        out.reset();
    }
    unsetenv("PULSE_SERVER");
    // Once, however many blocks were refused.
    const std::vector<std::string> lines = log.texts(LogArea::Audio);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("sound server unavailable"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace tess
