#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"
#include "PulseServer.h"
#include "media/PulseAudioOut.h"

namespace tess {
namespace {

using namespace panetest;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

// The whole way of live audio: a device's ADPCM tone through the pane's
// receiver, decoder and player into the sound server, recorded back from the
// null sink's monitor.
using PaneSound = PulseServerTest;

TEST_F(PaneSound, ADevicesToneIsHeardThroughTheSoundServer) {
    DeviceConfig config;
    config.deviceClass = 6;
    config.toneHz = 1000;
    SimulatedDevice device(config);
    ASSERT_TRUE(device.start()) << device.lastError();
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();

    std::vector<int16_t> recorded;
    uint64_t droppedBlocks = 0;
    {
        PulseAudioOut out;
        ASSERT_TRUE(out.playing());
        auto pane = std::make_unique<TestPane>(0, &out);
        startPaneOn(*pane->runtime, device, false, true);
        EXPECT_TRUE(eventually([&] { return device.state().activeAudioStreams == 1; }, 10s));
        // About 2 s of tone; the first frames need a few hundred ms to arrive.
        std::this_thread::sleep_for(2500ms);
        EXPECT_TRUE(pane->events.failureResults().empty());
        pane->runtime->stopPane();
        pane.reset();  // before the output it plays into
        droppedBlocks = out.droppedBlocks();
        std::this_thread::sleep_for(200ms);
        recorded = server_.stopRecording();
    }

    EXPECT_EQ(droppedBlocks, 0u);
    ASSERT_GE(recorded.size(), 8000u) << server_.recorderLog();
    double sumSquares = 0;
    for (int16_t sample : recorded) sumSquares += double(sample) * sample;
    // The tone (amplitude 8000) fills most of the recording.
    EXPECT_GT(std::sqrt(sumSquares / recorded.size()), 2000.0);
    const double tone = tonePower(recorded, 1000);
    for (double other : {250.0, 440.0, 1500.0, 2500.0, 3500.0})
        EXPECT_GT(tone, 100 * tonePower(recorded, other)) << other << " Hz";
}

}  // namespace
}  // namespace tess
