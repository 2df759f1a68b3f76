#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"
#include "PulseServer.h"
#include "media/PulseAudioOut.h"

namespace tess {
namespace {

using namespace panetest;
using devsim::DeviceConfig;

// Runs of at least `minimum` silent samples between the first and the last
// sound in `samples`: the gaps a listener hears as dropouts.
std::vector<size_t> gapsOf(const std::vector<int16_t>& samples, size_t minimum) {
    const auto silent = [](int16_t s) { return s >= -2 && s <= 2; };
    size_t first = 0, last = samples.size();
    while (first < last && silent(samples[first])) ++first;
    while (last > first && silent(samples[last - 1])) --last;
    std::vector<size_t> gaps;
    size_t run = 0;
    for (size_t i = first; i < last; ++i) {
        run = silent(samples[i]) ? run + 1 : 0;
        if (run == minimum) gaps.push_back(i + 1 - minimum);
    }
    return gaps;
}

// A device's steady 500 Hz tone, live through the pane into a real sound
// server: every 128 ms block must join the one before it without a break.
// Registered to run alone, so that other tests cannot starve it.
using PaneTone = PulseServerTest;

TEST_F(PaneTone, ASteadyToneRecordedForTenSecondsHasNoGap) {
    DeviceConfig config;
    config.deviceClass = 6;
    config.toneHz = 500;
    auto device = startedDevice(config);
    ASSERT_TRUE(device);
    ASSERT_TRUE(server_.startRecording()) << server_.recorderLog();

    std::vector<int16_t> recorded;
    {
        PulseAudioOut out;
        ASSERT_TRUE(out.playing());
        auto pane = std::make_unique<TestPane>(0, &out);
        startPaneOn(*pane->runtime, *device, false, true);
        std::this_thread::sleep_for(10500ms);
        pane->runtime->stopPane();
        pane.reset();
        recorded = server_.stopRecording();
        EXPECT_EQ(out.droppedBlocks(), 0u);
    }
    ASSERT_GE(recorded.size(), 80000u) << server_.recorderLog();
    const std::vector<size_t> gaps = gapsOf(recorded, 4);
    EXPECT_TRUE(gaps.empty()) << gaps.size() << " gaps, the first at sample " << gaps.front();
    EXPECT_GT(tonePower(recorded, 500), 100 * tonePower(recorded, 1500));
}

}  // namespace
}  // namespace tess
