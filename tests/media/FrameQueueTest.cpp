#include <gtest/gtest.h>

#include <thread>

#include "media/FrameQueue.h"
#include "platform/TickCount.h"

namespace tess {
namespace {

TEST(FrameQueue, AStalledRendererGetsTwoFramesThenEveryFrameDropsAfter100ms) {
    FrameQueue queue;
    queue.writeSlot()[0] = 0xA1;
    EXPECT_TRUE(queue.publish(10));
    queue.writeSlot()[0] = 0xA2;
    EXPECT_TRUE(queue.publish(20));
    const uint32_t start = tickCount();
    queue.writeSlot()[0] = 0xA3;
    EXPECT_FALSE(queue.publish(30));
    EXPECT_GE(ticksSince(start), 95u);
    EXPECT_FALSE(queue.publish(30));  // the same slot is reused, not queued
    EXPECT_EQ(queue.droppedFrames(), 2u);

    ASSERT_TRUE(queue.waitFrame());
    EXPECT_EQ(queue.frame().size(), 10u);
    EXPECT_EQ(queue.frame()[0], 0xA1);
    queue.releaseFrame();
    EXPECT_TRUE(queue.publish(30));  // slot 2 now carries the newest frame
    ASSERT_TRUE(queue.waitFrame());
    EXPECT_EQ(queue.frame()[0], 0xA2);
    queue.releaseFrame();
    ASSERT_TRUE(queue.waitFrame());
    EXPECT_EQ(queue.readPosition(), 2u);
    EXPECT_EQ(queue.frame()[0], 0xA3);
    EXPECT_EQ(queue.frame().size(), 30u);
}

TEST(FrameQueue, CancelEndsARendererWaitingWithoutLimit) {
    FrameQueue queue;
    std::atomic<int> woke{-1};
    std::thread renderer([&] { woke = queue.waitFrame() ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.cancel();
    renderer.join();
    EXPECT_EQ(woke.load(), 0);
    queue.reset();  // a new start works again
    EXPECT_TRUE(queue.publish(1));
    EXPECT_TRUE(queue.waitFrame());
}

}  // namespace
}  // namespace tess
