#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "platform/TickCount.h"

namespace tess {
namespace {

using namespace panetest;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

class PaneRuntimeTest : public ::testing::Test {
protected:
    std::unique_ptr<SimulatedDevice> startDevice(DeviceConfig config) {
        config.framesPerSecond = 25;
        auto device = std::make_unique<SimulatedDevice>(std::move(config));
        EXPECT_TRUE(device->start()) << device->lastError();
        return device;
    }
    void startOn(SimulatedDevice& device, bool video = true, bool audio = false) {
        startPaneOn(runtime(), device, video, audio);
    }
    void stop() { runtime().stopPane(); }
    PaneRuntime& runtime() { return *pane_->runtime; }
    RecordingEvents& events() { return pane_->events; }
    ReleasingConsumer& consumer() { return *pane_->consumer; }

    std::unique_ptr<TestPane> pane_ = std::make_unique<TestPane>();
};

TEST_F(PaneRuntimeTest, PacketStreamDeviceStreamsVideoAndAudioAndIsToldOfTheStop) {
    DeviceConfig config;
    config.deviceClass = 6;
    auto device = startDevice(config);
    startOn(*device, true, true);
    ASSERT_TRUE(eventually([&] { return consumer().jpegFrames >= 10; }, 10s));
    EXPECT_TRUE(eventually([&] { return pane_->audioOut.samples >= 4000; }, 10s));
    EXPECT_EQ(events().successes, 1);
    EXPECT_EQ(events().lastModel(), 6);
    EXPECT_EQ(events().negotiations, 1);
    EXPECT_TRUE(runtime().connection().keepRetrying);
    stop();
    EXPECT_TRUE(eventually([&] { return countDatagrams(*device, "Connection: Close") == 1; }, 2s));
    EXPECT_TRUE(events().failureResults().empty());
}

TEST_F(PaneRuntimeTest, WholeFrameDeviceStreamsAndGetsNoControlMessageOnStop) {
    DeviceConfig config;
    config.deviceClass = 3;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return consumer().jpegFrames >= 10; }, 10s));
    stop();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(device->log().datagrams().empty());
}

TEST_F(PaneRuntimeTest, UnreachableDeviceAtFirstStartFailsOnceWithoutRetry) {
    DeviceConfig config;
    auto device = startDevice(config);
    device->stop();
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return events().failures == 1; }, 7s));
    std::this_thread::sleep_for(3500ms);  // a retry would have come by now
    EXPECT_EQ(events().failureResults(), std::vector{RequestResult::NetworkFailed});
    EXPECT_EQ(events().failures, 1);
    EXPECT_EQ(events().successes, 0);
}

TEST_F(PaneRuntimeTest, LostStreamIsReconnectedSilently) {
    DeviceConfig config;
    config.deviceClass = 8;
    config.faults.closeAfterFrames = 5;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "Login.cgi") >= 3; }, 15s));
    EXPECT_GE(countDatagrams(*device, "Connection: Close"), 2);
    EXPECT_TRUE(eventually([&] { return events().negotiations >= 3; }, 5s));
    EXPECT_TRUE(events().failureResults().empty());
    stop();
}

// The skip to the byte after the next 0xD9 leaves the window's carried-over
// bytes in front of whatever follows, so the stream may stay misaligned; the
// receiver then gives up after a few bad frames and reconnects: either way the
// pictures go on, silently.
TEST_F(PaneRuntimeTest, BadPacketStreamFrameDoesNotStopThePictures) {
    DeviceConfig config;
    config.deviceClass = 6;
    config.faults.badStartFrame = 3;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return consumer().jpegFrames >= 15; }, 10s));
    EXPECT_TRUE(events().failureResults().empty());
    stop();
}

TEST_F(PaneRuntimeTest, BadWholeFrameStartEndsTheStreamAndReconnects) {
    DeviceConfig config;
    config.deviceClass = 3;
    config.faults.badStartFrame = 3;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "Login.cgi") >= 2; }, 20s));
    EXPECT_TRUE(eventually([&] { return consumer().jpegFrames >= 4; }, 10s));
    stop();
}

TEST_F(PaneRuntimeTest, StalledStreamEndsAfterFiveSecondsAndLogsInAgain) {
    DeviceConfig config;
    config.deviceClass = 7;
    config.faults.stallAfterFrames = 5;
    config.faults.stallSeconds = 8;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "Login.cgi") >= 2; }, 12s));
    EXPECT_GE(countDatagrams(*device, "Connection: Close"), 1);
    EXPECT_GE(events().picturesLost, 1);
    stop();
}

TEST_F(PaneRuntimeTest, ReconnectStormLeavesTheThreadCountSteady) {
    DeviceConfig config;
    config.deviceClass = 1;
    config.faults.closeAfterFrames = 2;
    config.flatOut = true;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "Login.cgi") >= 5; }, 20s));
    const int steady = threadsOfThisProcess();
    ASSERT_TRUE(eventually([&] { return countRequests(*device, "Login.cgi") >= 50; }, 60s));
    EXPECT_LE(threadsOfThisProcess(), steady + 2);
    EXPECT_LE(runtime().liveThreadCount(), 4);
    stop();
}

TEST_F(PaneRuntimeTest, DestroyedWhileStreamingConnectingOrRetryingLeavesNoThread) {
    // A sanitizer may start a helper thread of its own with the first thread.
    std::thread([] {}).join();
    pane_.reset();
    const int before = threadsOfThisProcess();
    DeviceConfig config;
    config.deviceClass = 6;
    auto device = startDevice(config);
    const int withDevice = threadsOfThisProcess();
    pane_ = std::make_unique<TestPane>();
    startOn(*device, true, true);
    ASSERT_TRUE(eventually([&] { return consumer().jpegFrames >= 2; }, 10s));
    pane_.reset();  // streaming
    EXPECT_TRUE(eventually([&] { return threadsOfThisProcess() <= withDevice; }, 2s));

    // Retrying: a device that streamed, then went away for good.
    pane_ = std::make_unique<TestPane>();
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return consumer().jpegFrames >= 2; }, 10s));
    device->stop();
    std::this_thread::sleep_for(1500ms);
    const uint32_t start = tickCount();
    EXPECT_TRUE(pane_->events.failureResults().empty());
    pane_.reset();
    EXPECT_LT(ticksSince(start), 2000u);
    device.reset();
    EXPECT_TRUE(eventually([&] { return threadsOfThisProcess() <= before; }, 2s));
}

}  // namespace
}  // namespace tess
