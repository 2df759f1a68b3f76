#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/CountingSemaphore.h"
#include "platform/Log.h"
#include "platform/MessageSink.h"
#include "platform/TaskQueue.h"
#include "platform/TickCount.h"
#include "platform/WorkerThread.h"

namespace tess {
namespace {

bool eventuallyTrue(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

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

TEST(TickCount, AdvancesInMilliseconds) {
    const uint32_t start = tickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const uint32_t elapsed = ticksSince(start);
    EXPECT_GE(elapsed, 25u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(MessageSink, InstalledRecorderSeesMessagesAndIsRestored) {
    RecordingMessageSink recorder;
    {
        ScopedMessageSink scope(recorder);
        messageSink().show("shown");
        recorder.setConfirmAnswer(false);
        EXPECT_FALSE(messageSink().confirm("sure?"));
    }
    EXPECT_EQ(recorder.messages(), (std::vector<std::string>{"shown", "sure?"}));
    EXPECT_NE(&messageSink(), &recorder);
}

// A body blocked in a wait that only its wake-up ends: the stop request
// reaches it, the join returns, and the same body runs again after a start.
TEST(WorkerThread, StopWakesTheBodyAndTheThreadRunsAgain) {
    // One gate for each run: a cancelled one stays cancelled.
    std::array<CountingSemaphore, 2> gates{CountingSemaphore(0, 1), CountingSemaphore(0, 1)};
    std::atomic<int> runs{0};
    WorkerThread worker(
        "Worker",
        [&](const WorkerThread::StopRequest& stop) {
            const int run = runs++;
            while (!stop) gates[run].acquire();
        },
        [&] { gates[runs - 1].cancel(); });
    EXPECT_FALSE(worker.running());
    EXPECT_TRUE(worker.start());
    EXPECT_FALSE(worker.start());  // one run at a time
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_TRUE(worker.running());
    worker.requestStop();
    worker.join();
    EXPECT_FALSE(worker.running());

    EXPECT_TRUE(worker.start());
    EXPECT_TRUE(eventuallyTrue([&] { return runs == 2; }));
}  // the destructor stops and joins the second run

TEST(TaskQueue, RunsTasksInOrderAndDropsWhatWaits) {
    std::vector<int> ran;
    std::mutex ranMutex;
    CountingSemaphore gate(0, 1);
    {
        TaskQueue queue("Tasks");
        queue.post([&] { gate.acquire(); });
        for (int i = 1; i <= 3; ++i) {
            queue.post([&, i] {
                std::lock_guard lock(ranMutex);
                ran.push_back(i);
            });
        }
        queue.dropQueued();  // 1 ... 3 never run; the gate task does
        queue.post([&] {
            std::lock_guard lock(ranMutex);
            ran.push_back(4);
        });
        gate.release();
        EXPECT_TRUE(eventuallyTrue([&] {
            std::lock_guard lock(ranMutex);
            return !ran.empty();
        }));
    }
    EXPECT_EQ(ran, std::vector<int>{4});
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

// A name too long for its buffer loses the end of its label, at a character
// boundary, and keeps the address; a surrogate pair is one character.
TEST(LogDeviceName, LongNamesAreCutBetweenCharacters) {
    LogDeviceName name;
    name.set(u"Caméra \U0001F4F7", u"192.168.1.20", 8006);
    EXPECT_STREQ(name.c_str(), "Caméra \xF0\x9F\x93\xB7 (192.168.1.20:8006)");

    const std::u16string longLabel(60, u'é');  // 120 bytes in UTF-8
    name.set(longLabel, u"10.0.0.1", 80);
    const std::string text = name.c_str();
    const std::string address = " (10.0.0.1:80)";
    ASSERT_GT(text.size(), address.size());
    EXPECT_LT(text.size(), sizeof name.text);
    EXPECT_EQ(text.substr(text.size() - address.size()), address);
    const std::string label = text.substr(0, text.size() - address.size());
    EXPECT_EQ(label.size() % 2, 0u) << "a two-byte character was cut in half";
    EXPECT_EQ(label.find_first_not_of("\xC3\xA9"), std::string::npos);
}

TEST(Log, LinesAreFilteredByTheSinkAndCutToTheirBuffer) {
    class OnlyWarnings : public RecordingLogSink {
    public:
        bool enabled(LogArea, LogLevel level) const override { return level >= LogLevel::Warning; }
    } sink;
    ScopedLogSink installed(sink);
    logLine(LogArea::Net, LogLevel::Debug, "not wanted %d", 1);
    logLine(LogArea::Stream, LogLevel::Warning, "%s", std::string(1000, 'x').c_str());
    const auto lines = sink.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].area, LogArea::Stream);
    EXPECT_EQ(lines[0].text, std::string(kMaxLineBytes - 1, 'x'));
}

}  // namespace
}  // namespace tess
