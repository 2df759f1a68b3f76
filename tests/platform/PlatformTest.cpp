#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/AutoResetEvent.h"
#include "platform/CountingSemaphore.h"
#include "platform/MessageSink.h"
#include "platform/TickCount.h"
#include "platform/WorkerThread.h"

namespace tess {
namespace {

TEST(CountingSemaphore, HonoursInitialAndMaximumCounts) {
    CountingSemaphore videoFree(2, 3);
    EXPECT_TRUE(videoFree.tryAcquire());
    EXPECT_TRUE(videoFree.tryAcquire());
    EXPECT_FALSE(videoFree.tryAcquire());
    EXPECT_TRUE(videoFree.release(3));
    // A release past the maximum fails and leaves the count as it was.
    EXPECT_FALSE(videoFree.release(1));
    EXPECT_EQ(videoFree.count(), 3);
    EXPECT_TRUE(videoFree.tryAcquire());
    EXPECT_FALSE(videoFree.release(2));
    EXPECT_EQ(videoFree.count(), 2);
    EXPECT_FALSE(videoFree.release(0));
}

TEST(CountingSemaphore, TimedAcquireWaitsItsLimitThenTakesARelease) {
    CountingSemaphore filled(0, 3);
    const uint32_t start = tickCount();
    EXPECT_FALSE(filled.acquireFor(100));
    EXPECT_GE(ticksSince(start), 95u);

    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        filled.release();
    });
    EXPECT_TRUE(filled.acquireFor(2000));
    producer.join();
    EXPECT_EQ(filled.count(), 0);
}

TEST(CountingSemaphore, CancelWakesAWaiterWithoutLimitAndRefusesLaterAcquires) {
    CountingSemaphore filled(0, 3);
    std::atomic<int> result{-1};
    std::thread consumer([&] { result = filled.acquire() ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(result.load(), -1);
    filled.cancel();
    consumer.join();
    EXPECT_EQ(result.load(), 0);
    filled.release();
    EXPECT_FALSE(filled.tryAcquire());
    EXPECT_FALSE(filled.acquireFor(10));
}

TEST(AutoResetEvent, ASignalReleasesOneWaitAndIsConsumed) {
    AutoResetEvent event;
    EXPECT_FALSE(event.poll());
    event.set();
    event.set();  // two sets before a wait are one signal
    EXPECT_TRUE(event.waitFor(0));
    EXPECT_FALSE(event.waitFor(20));
    event.set();
    EXPECT_TRUE(event.poll());
    EXPECT_FALSE(event.poll());
    event.set();
    event.reset();
    EXPECT_FALSE(event.poll());
}

TEST(AutoResetEvent, OneSetReleasesExactlyOneOfTwoWaiters) {
    AutoResetEvent event;
    std::atomic<int> released{0};
    auto waiter = [&] {
        if (event.waitFor(300)) ++released;
    };
    std::thread first(waiter), second(waiter);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    event.set();
    first.join();
    second.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(TickCount, AdvancesInMilliseconds) {
    const uint32_t start = tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const uint32_t elapsed = ticksSince(start);
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(MessageSink, InstalledRecorderSeesMessagesFromAnyThreadAndIsRestored) {
    RecordingMessageSink recorder;
    {
        ScopedMessageSink scope(recorder);
        std::thread worker([] { messageSink().show("from a worker"); });
        worker.join();
        recorder.setConfirmAnswer(false);
        EXPECT_FALSE(messageSink().confirm("sure?"));
    }
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"from a worker", "sure?"}));
    EXPECT_NE(&messageSink(), &recorder);
}

TEST(WorkerThread, TimedWaitTellsWhetherTheBodyHasEnded) {
    AutoResetEvent stop;
    WorkerThread worker("Worker", [&] { stop.wait(); });
    EXPECT_FALSE(worker.waitFor(30));
    EXPECT_FALSE(worker.finished());
    stop.set();
    EXPECT_TRUE(worker.waitFor(2000));
    EXPECT_TRUE(worker.finished());
}

}  // namespace
}  // namespace tess
