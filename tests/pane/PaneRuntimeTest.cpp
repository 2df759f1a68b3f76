#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "platform/Log.h"
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
    EXPECT_TRUE(eventually([&] { return runtime().liveThreadCount() == 2; }, 1s));  // no retry
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

// Each loss of the stream is one warning naming the device by its label and
// address, not a line per frame or per retry; no line holds the password or
// the session id.
TEST_F(PaneRuntimeTest, LostStreamIsLoggedOnceWithoutSecrets) {
    RecordingLogSink log;
    ScopedLogSink logged(log);
    DeviceConfig config;
    config.deviceClass = 8;
    config.faults.closeAfterFrames = 5;
    auto device = startDevice(config);
    startOn(*device);
    ASSERT_TRUE(eventually([&] { return events().negotiations >= 3; }, 15s));
    const std::string sessionId(runtime().facts().sessionIdText());
    ASSERT_FALSE(sessionId.empty());
    pane_.reset();  // every thread joined: nothing logs after the sink goes

    const std::string name = "Simulated camera (127.0.0.1:" + std::to_string(device->port()) + ")";
    const int logins = countRequests(*device, "Login.cgi");
    int losses = 0;
    for (const RecordingLogSink::Line& line : log.lines()) {
        EXPECT_EQ(line.text.find("velum"), std::string::npos) << line.text;
        EXPECT_EQ(line.text.find(sessionId), std::string::npos) << line.text;
        EXPECT_EQ(line.text.rfind(name, 0), 0u) << line.text;
        if (line.text.find("video stream lost") != std::string::npos) {
            EXPECT_EQ(line.level, LogLevel::Warning);
            EXPECT_EQ(line.area, LogArea::Stream);
            ++losses;
        }
    }
    EXPECT_GE(losses, 2);
    EXPECT_LE(losses, logins);
}

// The skip to the byte after the next 0xD9 lands behind the next frame's end
// mark, or inside its data where a 0xD9 comes first; the stream may then stay
// misaligned, and the receiver gives up after a few bad frames and
// reconnects: either way the pictures go on, silently.
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

// The audio receiver reports for a whole-frame video device: the bytes of
// both streams since its last report, so the bit rate is the device's.
TEST_F(PaneRuntimeTest, AudioStatisticsOfAWholeFrameDeviceCountBothStreams) {
    DeviceConfig config;
    config.deviceClass = 3;
    auto device = startDevice(config);
    pane_ = std::make_unique<TestPane>(0, nullptr, kShortTimings);
    startOn(*device, true, true);
    const auto bitRates = [&] {
        std::vector<double> rates;
        for (const std::string& datagram : device->log().datagrams()) {
            const size_t at = datagram.find("\r\nBitRate: ");
            if (at != std::string::npos) rates.push_back(std::stod(datagram.substr(at + 11)));
        }
        return rates;
    };
    // The first report may come at once; the third covers a whole period.
    ASSERT_TRUE(eventually([&] { return bitRates().size() >= 3; }, 10s));
    const auto loop = device->frameLoop();
    double videoBytes = 0;
    for (size_t i = 0; i < loop->size(); ++i) videoBytes += loop->wireFrame(i).size();
    videoBytes /= static_cast<double>(loop->size());
    // 25 frames a second; an audio frame of 2 packet headers, 64 + 512 bytes
    // every 128 ms. The bit rate is in kbit/s.
    const double expected = (videoBytes * 25 + (16 + 64 + 512) / 0.128) * 8 / 1000;
    const double reported = bitRates()[2];
    EXPECT_GT(reported, 0.8 * expected);
    EXPECT_LT(reported, 1.2 * expected);
    stop();
}

// A bad audio frame costs that frame; an audio packet that cannot be cut
// reopens only the audio stream, at most once per spacing, without a login.
TEST_F(PaneRuntimeTest, BadAudioPacketsCostAFrameOrReopenTheAudioStreamAlone) {
    const auto audioStarts = [](SimulatedDevice& device) {
        std::vector<int64_t> times;
        for (const devsim::Event& event : device.log().events())
            if (event.kind == devsim::Event::Kind::Request &&
                event.bytes.find("Command: Audio") != std::string::npos)
                times.push_back(event.timeMs);
        return times;
    };
    {
        SCOPED_TRACE("impossible frame size");
        DeviceConfig config;
        config.faults.impossibleAudioFrame = 2;
        auto device = startDevice(config);
        startOn(*device, false, true);
        ASSERT_TRUE(eventually([&] { return pane_->audioOut.samples >= 6 * 1024; }, 10s));
        EXPECT_EQ(audioStarts(*device).size(), 1u);
        EXPECT_EQ(countRequests(*device, "Login.cgi"), 1);
        stop();
    }
    pane_ = std::make_unique<TestPane>(0, nullptr, kShortTimings);
    {
        SCOPED_TRACE("packet length below its header");
        DeviceConfig config;
        config.faults.badAudioLengthFrame = 2;
        auto device = startDevice(config);
        startOn(*device, false, true);
        ASSERT_TRUE(eventually([&] { return audioStarts(*device).size() >= 2; }, 10s));
        // Frame 1 of the first stream, then of the reopened one (whose frame
        // 2 is bad again).
        EXPECT_TRUE(eventually([&] { return pane_->audioOut.samples >= 2 * 1024; }, 2s));
        const std::vector<int64_t> starts = audioStarts(*device);
        EXPECT_GE(starts[1] - starts[0], kShortTimings.audioReopenSpacingMs - 20);
        EXPECT_EQ(countRequests(*device, "Login.cgi"), 1);
        EXPECT_TRUE(events().failureResults().empty());
        stop();
    }
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

TEST_F(PaneRuntimeTest, StalledStreamEndsAfterTheReceiveLimitAndLogsInAgain) {
    DeviceConfig config;
    config.deviceClass = 7;
    config.faults.stallAfterFrames = 5;
    config.faults.stallSeconds = 8;
    auto device = startDevice(config);
    pane_ = std::make_unique<TestPane>(0, nullptr, kShortTimings);
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
    ASSERT_TRUE(eventually([&] { return runtime().health().retryInMs.has_value(); }, 7s));
    const uint32_t start = tickCount();
    EXPECT_TRUE(pane_->events.failureResults().empty());
    pane_.reset();
    EXPECT_LT(ticksSince(start), 2000u);
    device.reset();
    EXPECT_TRUE(eventually([&] { return threadsOfThisProcess() <= before; }, 2s));
}

}  // namespace
}  // namespace tess
