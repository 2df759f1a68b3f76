#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"

namespace tess {
namespace {

using namespace panetest;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

// Four panes on four devices, one of each framing family, all with video and
// audio and all feeding the one output; the class 8 device closes every video
// stream after 40 frames, so that pane keeps reconnecting throughout. Meant for
// the thread sanitizer above all: every hand-over between the panes' threads
// and the shared output runs at once here.
class PaneThreads : public testing::Test {
protected:
    static constexpr std::array<int, 4> kClasses = {1, 3, 6, 8};
    static constexpr size_t kReconnecting = 3;

    void SetUp() override {
        for (size_t i = 0; i < kClasses.size(); ++i) {
            DeviceConfig config;
            config.deviceClass = kClasses[i];
            config.framesPerSecond = 60;
            if (i == kReconnecting) config.faults.closeAfterFrames = 40;
            devices_[i] = std::make_unique<SimulatedDevice>(config);
            ASSERT_TRUE(devices_[i]->start()) << devices_[i]->lastError();
            panes_[i] = std::make_unique<TestPane>(static_cast<int>(i), &out_);
        }
        threadsWithIdleDevices_ = threadsOfThisProcess();
    }
    void TearDown() override {
        for (auto& pane : panes_) pane.reset();
        for (auto& device : devices_) device.reset();
    }

    void startAll() {
        for (size_t i = 0; i < panes_.size(); ++i)
            startPaneOn(*panes_[i]->runtime, *devices_[i], true, true);
    }
    void stopAll() {
        for (auto& pane : panes_) pane->runtime->stopPane();
    }
    // Every pane shows `frames` more pictures and every device serves audio.
    bool allStreaming(int frames) {
        std::array<int, 4> from{};
        for (size_t i = 0; i < panes_.size(); ++i) from[i] = panes_[i]->consumer->jpegFrames;
        const uint64_t samplesFrom = out_.samples;
        return eventually(
            [&] {
                for (size_t i = 0; i < panes_.size(); ++i)
                    if (panes_[i]->consumer->jpegFrames < from[i] + frames) return false;
                for (size_t i = 0; i < devices_.size(); ++i)
                    if (i != kReconnecting && devices_[i]->state().activeAudioStreams != 1)
                        return false;
                return out_.samples >= samplesFrom + 4 * 1024;
            },
            20s);
    }
    int paneThreads() {
        int count = 0;
        for (auto& pane : panes_) count += pane->runtime->liveThreadCount();
        return count;
    }

    int threadsWithIdleDevices_ = 0;
    InstantAudioOut out_;  // the one output every pane plays into
    std::array<std::unique_ptr<SimulatedDevice>, 4> devices_;
    std::array<std::unique_ptr<TestPane>, 4> panes_;
};

TEST_F(PaneThreads, FourPanesStreamStopRestartReconnectAndEndEveryThread) {
    startAll();
    ASSERT_TRUE(allStreaming(10));
    // Streaming, a pane runs its video receiver, audio receiver, decoder and
    // player; the reconnecting one may be logging in again as well.
    EXPECT_LE(paneThreads(), 4 * 4 + 2);
    const int streamingThreads = threadsOfThisProcess();

    stopAll();
    // Every thread is woken by the stop and joined by the pane's reaper.
    EXPECT_TRUE(eventually([&] { return paneThreads() == 0; }, 7s)) << paneThreads();
    for (size_t i = 0; i < devices_.size(); ++i) {
        EXPECT_TRUE(eventually([&] { return devices_[i]->state().activeVideoStreams == 0; }, 7s))
            << "device of class " << kClasses[i];
    }

    startAll();
    ASSERT_TRUE(allStreaming(10));
    SimulatedDevice& reconnecting = *devices_[kReconnecting];
    const int loginsBefore = countRequests(reconnecting, "Login.cgi");
    EXPECT_TRUE(eventually(
        [&] { return countRequests(reconnecting, "Login.cgi") >= loginsBefore + 1; }, 20s));
    // The live view's toggles on one pane meanwhile: both receivers off, then on again.
    PaneRuntime& toggled = *panes_[2]->runtime;
    toggled.stopVideoReceiver();
    toggled.stopAudioReceiver();
    toggled.restartVideoReceiver();
    toggled.restartAudioReceiver();
    ASSERT_TRUE(allStreaming(10));
    // The same threads as before the stop, give or take a login in progress
    // and a simulator connection being served.
    EXPECT_LE(threadsOfThisProcess(), streamingThreads + 3);

    // Destroyed while streaming: every pane thread ends, and so does every
    // simulator thread that served one of their connections.
    for (const auto& pane : panes_) EXPECT_TRUE(pane->events.failureResults().empty());
    for (auto& pane : panes_) pane.reset();
    EXPECT_TRUE(eventually([&] { return threadsOfThisProcess() <= threadsWithIdleDevices_; }, 3s))
        << threadsOfThisProcess() << " threads, " << threadsWithIdleDevices_ << " before";
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

// A pane that the live view stopped while it was retrying (its device had
// gone away) must not log in again and stream once the device is back: the
// live view has closed, and nobody would stop that pane any more.
TEST(PaneStop, APaneStoppedWhileRetryingStaysStoppedWhenItsDeviceReturns) {
    DeviceConfig config;
    config.deviceClass = 6;
    config.faults.downAfterFrames = 10;
    config.faults.downSeconds = 0.5;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start()) << device.lastError();
    TestPane pane(0, nullptr, kShortTimings);
    startPaneOn(*pane.runtime, device, true, true);

    ASSERT_TRUE(eventually([&] { return device.isDown(); }, 10s));
    ASSERT_TRUE(eventually([&] { return pane.runtime->health().retryInMs.has_value(); }, 5s));
    pane.runtime->stopPane();
    const int logins = countRequests(device, "Login.cgi");
    ASSERT_TRUE(eventually([&] { return !device.isDown(); }, 5s));
    std::this_thread::sleep_for(300ms);  // three retry delays: the next attempt would have come

    EXPECT_EQ(countRequests(device, "Login.cgi"), logins);
    EXPECT_EQ(device.state().activeVideoStreams, 0);
    EXPECT_EQ(device.state().activeAudioStreams, 0);
    EXPECT_EQ(pane.runtime->liveThreadCount(), 0);
    EXPECT_FALSE(pane.runtime->connection().keepRetrying);
    EXPECT_TRUE(pane.events.failureResults().empty());
}

}  // namespace
}  // namespace tess

namespace tess {
namespace {

// Four panes whose devices close every stream after 0.4 s, so that each
// keeps logging in, negotiating and publishing its facts anew, while a plain
// thread standing in for the window reads copies of those facts, queues
// commands and restarts one pane now and then. Meant for the thread
// sanitizer: facts are only ever seen whole.
TEST(PaneFacts, ReadAndCommandedWhileFourPanesReconnect) {
    std::array<std::unique_ptr<SimulatedDevice>, 4> devices;
    std::array<std::unique_ptr<TestPane>, 4> panes;
    InstantAudioOut out;
    for (size_t i = 0; i < panes.size(); ++i) {
        DeviceConfig config;
        config.deviceClass = i % 2 == 0 ? 50 : 6;
        config.framesPerSecond = 60;
        config.faults.closeAfterFrames = 25;
        devices[i] = std::make_unique<SimulatedDevice>(config);
        ASSERT_TRUE(devices[i]->start()) << devices[i]->lastError();
        panes[i] = std::make_unique<TestPane>(static_cast<int>(i), &out);
        startPaneOn(*panes[i]->runtime, *devices[i], true, i == 1);
    }

    std::atomic<int> copies{0}, wholeCopies{0};
    std::thread window([&] {
        const auto until = std::chrono::steady_clock::now() + 1500ms;
        for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
            for (size_t i = 0; i < panes.size(); ++i) {
                PaneRuntime& runtime = *panes[i]->runtime;
                const SessionFacts facts = runtime.facts();
                ++copies;
                // A copy is one publication: a known class comes with its table.
                if (facts.deviceClass == 0 || !facts.channelTable.empty()) ++wholeCopies;
                if (round % 10 == 0) runtime.queueCommand(setChannelCommand(1 + round % 2));
            }
            if (round % 40 == 20) startPaneOn(*panes[3]->runtime, *devices[3], true, true);
            std::this_thread::sleep_for(5ms);
        }
    });
    window.join();
    for (size_t i = 0; i < panes.size(); ++i) {
        EXPECT_GE(panes[i]->events.negotiations, 2) << "pane " << i;
        EXPECT_GT(panes[i]->events.commands, 0) << "pane " << i;
    }
    EXPECT_GT(copies, 100);
    EXPECT_EQ(wholeCopies, copies);
    for (auto& pane : panes) pane.reset();
}

}  // namespace
}  // namespace tess
