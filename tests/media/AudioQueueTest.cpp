#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "FakeAudioOut.h"
#include "media/AudioPipeline.h"
#include "media/AudioQueue.h"
#include "platform/TickCount.h"

namespace tess {
namespace {

using namespace std::chrono_literals;

// Waits up to two seconds for `condition`.
template <typename Condition>
bool eventually(Condition condition) {
    const uint32_t start = tickCount();
    while (!condition()) {
        if (ticksSince(start) > 2000) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Stores a frame with predictor 0, step index 0 and `codes` bytes of code 0x11
// (each byte two samples) and a marker in the first header byte.
bool publishFrame(AudioQueue& queue, uint8_t marker, uint32_t codes) {
    auto slot = queue.writeSlot();
    std::fill(slot.begin(), slot.end(), 0);
    slot[0] = marker;
    std::fill_n(slot.begin() + 64, std::min<size_t>(codes, slot.size() - 64), 0x11);
    return queue.publish(64 + codes);
}

TEST(AudioQueue, NineFramesFitThenEachFrameDropsAfter300msInTheSameSlot) {
    AudioQueue queue;
    for (uint8_t i = 0; i < 9; ++i) ASSERT_TRUE(publishFrame(queue, i, 4));
    EXPECT_EQ(queue.writePosition(), 9u);
    const uint32_t start = tickCount();
    EXPECT_FALSE(publishFrame(queue, 9, 4));
    EXPECT_GE(ticksSince(start), 295u);
    EXPECT_FALSE(publishFrame(queue, 10, 4));
    EXPECT_EQ(queue.droppedFrames(), 2u);
    EXPECT_EQ(queue.writePosition(), 9u);

    ASSERT_TRUE(queue.waitFrame());
    EXPECT_EQ(queue.frame()[0], 0);
    EXPECT_EQ(queue.frameLength(), 68u);
    queue.releaseFrame();
    EXPECT_TRUE(publishFrame(queue, 11, 4));  // slot 9 now, then the ring wraps to 0
    EXPECT_EQ(queue.writePosition(), 0u);
}

TEST(AudioQueue, CancelWakesEveryWaiterAndResetStartsAfresh) {
    AudioQueue queue;
    std::atomic<int> woken{0};
    std::thread decoder([&] { woken += queue.waitFrame() ? 100 : 1; });
    std::thread player([&] { woken += queue.pcm().waitBlock() ? 100 : 1; });
    std::this_thread::sleep_for(20ms);
    queue.cancel();
    decoder.join();
    player.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_FALSE(publishFrame(queue, 0, 4));  // a cancelled queue takes nothing

    queue.reset();
    EXPECT_TRUE(publishFrame(queue, 0, 4));
    EXPECT_TRUE(queue.waitFrame());
}

TEST(AudioPipeline, FramesReachTheOutputInOrderWithFourSamplesPerTwoCodeBytes) {
    AudioQueue queue;
    FakeAudioOut out;
    AudioDecoder decoder(queue);
    AudioPlayer player(queue, out);
    decoder.start();
    player.start();

    // Lengths 64 + {1, 2, ..., 12}: twelve frames, more than either ring holds.
    for (uint32_t i = 0; i < 12; ++i) {
        ASSERT_TRUE(publishFrame(queue, static_cast<uint8_t>(i), i + 1));
        // The output finishes each block as the next frame comes in.
        eventually([&] { return out.written().size() == i + 1; });
        out.finishOne();
    }
    ASSERT_TRUE(eventually([&] { return player.playedBlocks() == 12; }));
    const auto blocks = out.written();
    ASSERT_EQ(blocks.size(), 12u);
    for (size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_EQ(blocks[i].size(), 2 * (i + 1)) << "block " << i;  // (S - 64) * 4 bytes
    }
    // Code 1 at step 7 adds 2 per sample, and the predictor carries across blocks.
    EXPECT_EQ(blocks[0], (std::vector<int16_t>{2, 4}));
    EXPECT_EQ(blocks[1], (std::vector<int16_t>{6, 8, 10, 12}));

    EXPECT_EQ(out.streamStops, 0);
    player.requestStop();
    decoder.requestStop();
    player.join();
    decoder.join();
    EXPECT_EQ(queue.droppedFrames(), 0u);
    // A stopped player ends its stream: the output fades it out.
    EXPECT_EQ(out.streamStops, 1);
}

TEST(AudioPipeline, AStalledOutputCostsFramesNotLatencyAndStopEndsBlockedThreads) {
    AudioQueue queue;
    FakeAudioOut out;  // never finishes a block: only three get out
    AudioDecoder decoder(queue);
    AudioPlayer player(queue, out);
    decoder.start();
    player.start();

    // 3 blocks at the output, 10 waiting in the PCM ring (one of them held by
    // the player), 9 frames in the queue; the next one is dropped.
    size_t published = 0;
    while (publishFrame(queue, 0, 8)) {
        ASSERT_LT(++published, 30u);
    }
    EXPECT_EQ(out.written().size(), 3u);
    EXPECT_EQ(queue.droppedFrames(), 1u);
    EXPECT_EQ(published, 3u + 10u + 9u);

    // The player waits for room, the decoder for PCM room: both end on stop.
    const uint32_t start = tickCount();
    player.requestStop();
    decoder.requestStop();
    player.join();
    decoder.join();
    EXPECT_LT(ticksSince(start), 500u);
    EXPECT_EQ(out.written().size(), 3u);  // a stopped player writes nothing more
    EXPECT_FALSE(player.running());
    EXPECT_FALSE(decoder.running());
}

TEST(AudioPipeline, StoppedThreadsStartAgainAfterAReset) {
    AudioQueue queue;
    FakeAudioOut out;
    AudioDecoder decoder(queue);
    AudioPlayer player(queue, out);
    decoder.start();
    player.start();
    EXPECT_TRUE(decoder.running());
    decoder.requestStop();
    player.requestStop();
    decoder.join();
    player.join();

    queue.reset();
    decoder.start();
    player.start();
    ASSERT_TRUE(publishFrame(queue, 0, 2));
    EXPECT_TRUE(eventually([&] { return out.written().size() == 1; }));
}

}  // namespace
}  // namespace tess
