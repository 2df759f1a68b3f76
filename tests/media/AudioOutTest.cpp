#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numbers>
#include <thread>
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

TEST(AudioOut, FourBlocksBehindDropsEverythingQueuedBeforeTheNextBlock) {
    FakeAudioOut out;
    const std::vector<int16_t> block(10, 7);
    for (int i = 0; i < 4; ++i) out.writeBlock(block);  // more than the room allows
    EXPECT_EQ(out.queued(), 4u);
    EXPECT_EQ(out.resets(), 0u);
    out.writeBlock(block);
    EXPECT_EQ(out.resets(), 1u);
    EXPECT_EQ(out.queued(), 1u);  // only the new block is left

    // Blocks longer than one PCM slot are cut to it.
    out.writeBlock(std::vector<int16_t>(AudioOut::kMaxBlockSamples + 10, 1));
    EXPECT_EQ(out.written().back().size(), AudioOut::kMaxBlockSamples);

    out.reset();
    EXPECT_EQ(out.queued(), 0u);
    EXPECT_EQ(out.resets(), 2u);
}

using PulseAudioOutTest = PulseServerTest;

// 16 blocks of 512 samples of a 1 kHz tone, each written as a live source
// delivers it: 64 ms after the one before.
TEST_F(PulseAudioOutTest, ALiveToneReachesTheSinkAndBlocksFinishAtPlayingSpeed) {
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());

    std::vector<int16_t> block(512);
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<int16_t>(12000 * std::sin(2 * std::numbers::pi * 1000 * i / 8000.0));
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 16; ++i) {
        std::this_thread::sleep_until(start + i * 64ms);
        ASSERT_TRUE(out.waitForRoom(2000)) << "block " << i;
        ASSERT_TRUE(out.writeBlock(block));
    }
    // Room comes back only as blocks are played: all 16 take about a second.
    const uint32_t deadline = tickCount();
    while (out.room() < AudioOut::kInitialRoom && ticksSince(deadline) < 3000) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1000ms);
    EXPECT_EQ(out.droppedBlocks(), 0u);
    EXPECT_EQ(out.resets(), 0u);
    std::this_thread::sleep_for(200ms);
    const std::vector<int16_t> recorded = server_.stopRecording();

    ASSERT_GE(recorded.size(), 4000u) << server_.recorderLog();
    double sumSquares = 0;
    for (int16_t sample : recorded) sumSquares += double(sample) * sample;
    const double rms = std::sqrt(sumSquares / recorded.size());
    EXPECT_GT(rms, 1000.0);
    EXPECT_GT(tonePower(recorded, 1000), 100 * tonePower(recorded, 2500));
    EXPECT_GT(tonePower(recorded, 1000), 100 * tonePower(recorded, 400));
}

TEST_F(PulseAudioOutTest, ResetDropsQueuedAudioAndReturnsItsRoomAtOnce) {
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    const std::vector<int16_t> block(240, 500);  // 30 ms: three stay below the catch-up limit
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(out.waitForRoom(0));
        ASSERT_TRUE(out.writeBlock(block));
    }
    EXPECT_EQ(out.room(), 0);
    EXPECT_EQ(out.resets(), 0u);
    out.reset();
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    // The stream goes on after the flush: a short block plays and finishes.
    ASSERT_TRUE(out.waitForRoom(0));
    ASSERT_TRUE(out.writeBlock(std::vector<int16_t>(80, 500)));
    const uint32_t start = tickCount();
    while (out.room() < AudioOut::kInitialRoom && ticksSince(start) < 2000) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
}

// Blocks that come in a burst (after a stall) would play late for ever: the
// output drops what is queued ahead and plays the newest block at once.
TEST_F(PulseAudioOutTest, ABurstOfBlocksIsDroppedToCatchUp) {
    PulseAudioOut out;
    ASSERT_TRUE(out.playing());
    const std::vector<int16_t> frame(1024, 500);  // 128 ms
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(out.waitForRoom(0));
        ASSERT_TRUE(out.writeBlock(frame));
    }
    EXPECT_EQ(out.resets(), 2u);
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom - 1);  // only the newest block is queued
    const uint32_t start = tickCount();
    while (out.room() < AudioOut::kInitialRoom && ticksSince(start) < 2000) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(out.room(), AudioOut::kInitialRoom);
    EXPECT_LT(ticksSince(start), 400u);  // one block and its lead, not three
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
