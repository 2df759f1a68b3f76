#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"

namespace tess {
namespace {

using namespace panetest;
using devsim::DeviceConfig;
using devsim::ReplyFault;
using devsim::SimulatedDevice;

std::unique_ptr<SimulatedDevice> startDevice(DeviceConfig config) {
    config.framesPerSecond = 25;
    auto device = std::make_unique<SimulatedDevice>(std::move(config));
    EXPECT_TRUE(device->start()) << device->lastError();
    return device;
}

// A render thread stand-in whose end the test holds back: until it opens
// the gate, the pane's earlier start has not ended.
class GatedConsumer : public ReleasingConsumer {
public:
    using ReleasingConsumer::ReleasingConsumer;
    void joinConsumer() override {
        {
            std::unique_lock lock(mutex_);
            opened_.wait(lock, [this] { return open_; });
        }
        ReleasingConsumer::joinConsumer();
    }
    void close() {
        std::lock_guard lock(mutex_);
        open_ = false;
    }
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        opened_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool open_ = true;
};

class PaneLifecycleTest : public ::testing::Test {
protected:
    PaneLifecycleTest() { pane_.runtime->setFrameConsumer(&consumer_); }
    ~PaneLifecycleTest() override {
        consumer_.open();
        pane_.runtime.reset();  // it ends the consumer's thread, so before the consumer goes
    }
    PaneRuntime& runtime() { return *pane_.runtime; }
    RecordingEvents& events() { return pane_.events; }

    TestPane pane_{2};
    GatedConsumer consumer_{pane_.runtime->frames()};
};

// The calls return while a thread of the earlier start is still ending; the
// next start waits for it off the caller's thread, then logs in with the
// login data it was given.
TEST_F(PaneLifecycleTest, StopAndStartReturnWhileTheOldThreadsStillEnd) {
    auto first = startDevice({});
    auto second = startDevice({});
    startPaneOn(runtime(), *first, true, false);
    ASSERT_TRUE(eventually([&] { return consumer_.jpegFrames >= 5; }, 10s));

    consumer_.close();
    runtime().stopPane();
    runtime().restartVideoReceiver();
    runtime().restartAudioReceiver();
    startPaneOn(runtime(), *second, true, false);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(countRequests(*second, "Login.cgi"), 0);  // the old start has not ended

    consumer_.open();
    ASSERT_TRUE(eventually([&] { return events().negotiations == 2; }, 10s));
    EXPECT_EQ(countRequests(*second, "Login.cgi"), 1);
    EXPECT_EQ(countRequests(*first, "Login.cgi"), 1);
    const int frames = consumer_.jpegFrames;
    EXPECT_TRUE(eventually([&] { return consumer_.jpegFrames >= frames + 5; }, 10s));
    EXPECT_TRUE(events().failureResults().empty());
}

// Every report names the pane and its start; nothing of an earlier start
// arrives once the pane has moved on.
TEST_F(PaneLifecycleTest, ALeftoverConnectThreadIsNeverHeardFromAgain) {
    auto hanging = deviceHangingAt("/Login.cgi");
    auto working = startDevice({});
    const uint32_t first = startPaneOn(runtime(), *hanging, true, false);
    ASSERT_TRUE(eventually([&] { return countRequests(*hanging, "Login.cgi") == 1; }, 5s));

    // The old connect thread's exchange fails the moment the pane moves on.
    const uint32_t second = startPaneOn(runtime(), *working, true, false);
    EXPECT_GT(second, first);
    ASSERT_TRUE(eventually([&] { return events().negotiations == 1; }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(events().failureResults().empty());
    for (const PaneStamp& stamp : events().stamps()) EXPECT_EQ(stamp, (PaneStamp{2, second}));
    EXPECT_EQ(events().failures, 0);
}

// The audio/video toggles before the streams have started: the connect
// thread owns the control link then, and its exchange goes on undisturbed.
TEST_F(PaneLifecycleTest, TogglesBeforeTheStreamsStartLeaveTheConnectThreadAlone) {
    auto hanging = deviceHangingAt("/RequestStream.cgi");
    startPaneOn(runtime(), *hanging, true, true);
    ASSERT_TRUE(eventually([&] { return countRequests(*hanging, "RequestStream.cgi") == 1; }, 5s));
    runtime().restartVideoReceiver();
    runtime().restartAudioReceiver();
    runtime().stopVideoReceiver();
    runtime().stopAudioReceiver();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(events().failureResults().empty());
    EXPECT_EQ(countRequests(*hanging, "RequestStream.cgi"), 1);
    EXPECT_TRUE(runtime().connection().controlLink.connected());  // still awaiting the reply
    EXPECT_EQ(runtime().liveThreadCount(), 3);                    // connect thread, decoder, player
}

TEST_F(PaneLifecycleTest, EveryStartClearsTheLearnedFacts) {
    DeviceConfig recorder;
    recorder.deviceClass = 50;
    auto device = startDevice(recorder);
    startPaneOn(runtime(), *device, true, false);
    ASSERT_TRUE(eventually([&] { return events().negotiations == 1; }, 10s));
    const SessionFacts learned = runtime().facts();
    EXPECT_EQ(learned.deviceClass, 50);
    EXPECT_EQ(learned.channel, 1);
    EXPECT_FALSE(learned.channelTable.empty());
    EXPECT_EQ(events().lastFacts()->sessionIdText(), learned.sessionIdText());

    auto hanging = deviceHangingAt("/Login.cgi");
    startPaneOn(runtime(), *hanging, true, false);
    const SessionFacts cleared = runtime().facts();
    EXPECT_EQ(cleared.deviceClass, 0);
    EXPECT_EQ(cleared.channel, 0);
    EXPECT_EQ(cleared.userLevel, 0);
    EXPECT_TRUE(cleared.channelTable.empty());
    EXPECT_TRUE(cleared.sessionIdText().empty());
}

// Commands run in order, each with the facts as they are when it runs: the
// second sees the channel the first one set.
TEST_F(PaneLifecycleTest, CommandsSeeTheChannelTheCommandBeforeSet) {
    DeviceConfig recorder;
    recorder.deviceClass = 50;
    auto device = startDevice(recorder);
    startPaneOn(runtime(), *device, true, false);
    ASSERT_TRUE(eventually([&] { return events().negotiations == 1; }, 10s));

    std::atomic<int32_t> seen{-1};
    runtime().queueCommand(setChannelCommand(2));
    runtime().queueCommand([&](CommandContext& context) {
        seen = context.facts.channel;
        return CommandOutcome{};
    });
    ASSERT_TRUE(eventually([&] { return events().commands == 2; }, 10s));
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(runtime().facts().channel, 2);
    EXPECT_EQ(device->state().channel, 2);

    runtime().queueCommand(setChannelCommand(17));  // the device refuses it
    ASSERT_TRUE(eventually([&] { return events().commands == 3; }, 10s));
    EXPECT_EQ(events().lastCommand()->result, RequestResult::ReplyError);
    EXPECT_FALSE(events().lastCommand()->channel);
    EXPECT_EQ(runtime().facts().channel, 2);
}

// What a start's commands remember (the camera's location) is theirs alone:
// the next start begins without it.
TEST_F(PaneLifecycleTest, CommandMemoryLastsOneStart) {
    auto device = startDevice({});
    std::atomic<int> seen{-1};
    auto remember = [](CommandContext& context) {
        context.memory.cameraLocation.pan = 1234;
        return CommandOutcome{};
    };
    auto look = [&](CommandContext& context) {
        seen = context.memory.cameraLocation.pan.value_or(0);
        return CommandOutcome{};
    };
    startPaneOn(runtime(), *device, true, false);
    runtime().queueCommand(remember);
    runtime().queueCommand(look);
    ASSERT_TRUE(eventually([&] { return events().commands == 2; }, 5s));
    EXPECT_EQ(seen, 1234);

    startPaneOn(runtime(), *device, true, false);
    runtime().queueCommand(look);
    ASSERT_TRUE(eventually([&] { return events().commands == 3; }, 5s));
    EXPECT_EQ(seen, 0);
}

// A stop drops what is queued and the outcome of the command in flight,
// which it cuts short: a hung device does not hold up the next start.
TEST_F(PaneLifecycleTest, StopDropsTheQueuedCommandsAndTheOneInFlight) {
    DeviceConfig recorder;
    recorder.deviceClass = 50;
    recorder.faults.reply = ReplyFault::Silence;
    recorder.faults.replyPath = "/SetChannel.cgi";
    auto device = startDevice(recorder);
    startPaneOn(runtime(), *device, true, false);
    ASSERT_TRUE(eventually([&] { return events().negotiations == 1; }, 10s));

    std::atomic<bool> ranAfterStop{false};
    runtime().queueCommand(setChannelCommand(2));
    runtime().queueCommand([&](CommandContext&) {
        ranAfterStop = true;
        return CommandOutcome{};
    });
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "SetChannel.cgi") == 1; }, 5s));
    runtime().stopPane();

    startPaneOn(runtime(), *device, true, false);
    ASSERT_TRUE(eventually([&] { return events().negotiations == 2; }, 10s));
    std::atomic<bool> ran{false};
    runtime().queueCommand([&](CommandContext&) {
        ran = true;
        return CommandOutcome{};
    });
    EXPECT_TRUE(eventually([&] { return events().commands == 1; }, 2s));
    EXPECT_TRUE(ran);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(ranAfterStop);
    EXPECT_EQ(events().commands, 1);  // only the command of the new start
}

// On a four-channel recorder that closes every stream, a channel chosen while a reconnect
// negotiates outlives it while the new table has it, else becomes 1.
TEST(PaneReconnect, AChannelChosenWhileNegotiatingSurvivesWhileTheTableHasIt) {
    DeviceConfig config;
    config.deviceClass = 3;
    config.faults.closeAfterFrames = 3;
    auto device = startDevice(config);
    TestPane pane;
    pane.events.afterModel = [&](PaneStamp stamp) {  // as a command ending before negotiating
        if (const int models = pane.events.models; models == 2 || models == 3)
            pane.runtime->connection().publishChannel(models == 2 ? 3 : 9, stamp.generation);
    };
    startPaneOn(*pane.runtime, *device, true, false);
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "RequestStream") >= 4; }, 10s));
    pane.runtime->stopPane();
    EXPECT_EQ(countRequests(*device, "&CH=0&"), 2);  // each asks for the channel it began on
    EXPECT_EQ(countRequests(*device, "&CH=3&"), 1);
    EXPECT_GE(countRequests(*device, "&CH=1&"), 1);  // 9 is beyond the table
}

}  // namespace
}  // namespace tess
