#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "media/PlayoutBuffer.h"

namespace tess {
namespace {

// Everything here runs in simulated time: a device sends frames of 1024
// samples on its own clock (off by `ppm`), each up to `jitterMs` late, and a
// sound card takes 80 samples every 10 ms of its clock. Nothing sleeps.
constexpr double kToneHz = 500;
constexpr double kAmplitude = 8000;
constexpr int kQuiet = 300;
constexpr int64_t kPullPeriodUs = 10000;
constexpr size_t kPullSamples = 80;
constexpr size_t kFrameSamples = 1024;

struct Feed {
    int jitterMs = 0;
    double jitterSeconds = 1e9;  // jitter only before this time
    int ppm = 0;
    size_t frameSamples = kFrameSamples;
    uint32_t seed = 7;
};

struct Played {
    std::vector<int16_t> out;
    std::vector<double> marginMs;   // queued ahead of each frame, as it arrived
    std::vector<double> arrivedAt;  // seconds
    uint64_t dryRuns = 0, trims = 0;
    double maxRate = 0;  // largest |rate correction|
};

// Plays `seconds` of a feed. `deliver(frame, dueUs)` may move a frame's
// arrival (return its time); by default the feed's jitter decides.
template <typename Deliver>
Played simulate(const Feed& feed, double seconds, Deliver deliver) {
    PlayoutBuffer buffer;
    Played run;
    std::mt19937 random(feed.seed);
    std::uniform_int_distribution<int64_t> late(0, int64_t{feed.jitterMs} * 1000);
    const double frameUs = feed.frameSamples * 1e6 / 8000 / (1 + feed.ppm * 1e-6);
    std::vector<int16_t> frame(feed.frameSamples);
    double phase = 0;
    const int64_t endUs = static_cast<int64_t>(seconds * 1e6);
    int64_t nextPull = 0;
    int64_t lastArrival = 0;
    std::vector<int16_t> chunk(kPullSamples);
    for (size_t number = 0;; ++number) {
        const int64_t dueUs = 5000 + static_cast<int64_t>(number * frameUs);
        if (dueUs > endUs) break;
        int64_t arrival = dueUs + 1000;
        if (dueUs < feed.jitterSeconds * 1e6) arrival += late(random);
        arrival = std::max(deliver(number, arrival), lastArrival);  // TCP keeps the order
        lastArrival = arrival;
        for (; nextPull <= arrival; nextPull += kPullPeriodUs) {
            buffer.pull(chunk);
            run.out.insert(run.out.end(), chunk.begin(), chunk.end());
            run.maxRate = std::max(run.maxRate, std::abs(buffer.rateCorrection()));
        }
        for (int16_t& sample : frame) {
            sample = static_cast<int16_t>(std::lround(kAmplitude * std::sin(phase)));
            phase = std::fmod(phase + 2 * std::numbers::pi * kToneHz / 8000, 2 * std::numbers::pi);
        }
        run.marginMs.push_back(buffer.push(frame, arrival) / 8.0);
        run.arrivedAt.push_back(arrival / 1e6);
    }
    run.dryRuns = buffer.dryRuns();
    run.trims = buffer.trims();
    return run;
}

Played simulate(const Feed& feed, double seconds) {
    return simulate(feed, seconds, [](size_t, int64_t arrival) { return arrival; });
}

// Where, in seconds after the first sound, 4 or more samples below 300 in
// magnitude break the tone (its 8 ms fades at either end left out).
std::vector<double> dropouts(const std::vector<int16_t>& out) {
    const auto quiet = [](int16_t s) { return std::abs(s) < kQuiet; };
    size_t first = 0, last = out.size();
    while (first < last && quiet(out[first])) ++first;
    while (last > first && quiet(out[last - 1])) --last;
    std::vector<double> at;
    size_t run = 0;
    for (size_t i = first + 64; i + 64 < last; ++i) {
        run = quiet(out[i]) ? run + 1 : 0;
        if (run == 4) at.push_back((i - first) / 8000.0);
    }
    return at;
}

size_t firstSound(const std::vector<int16_t>& out) {
    size_t i = 0;
    while (i < out.size() && out[i] == 0) ++i;
    return i;
}

// The largest step between neighbouring samples after the first sound: a
// 500 Hz tone of amplitude 8000 never moves more than 3137 per sample, so a
// cut, a dropped sample or a badly joined block shows above that.
int largestStep(const std::vector<int16_t>& out) {
    int largest = 0;
    for (size_t i = firstSound(out) + 1; i < out.size(); ++i)
        largest = std::max(largest, std::abs(out[i] - out[i - 1]));
    return largest;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The margins of the frames that arrived between `from` and `to` seconds.
std::vector<double> marginsBetween(const Played& run, double from, double to) {
    std::vector<double> margins;
    for (size_t i = 0; i < run.marginMs.size(); ++i)
        if (run.arrivedAt[i] >= from && run.arrivedAt[i] < to) margins.push_back(run.marginMs[i]);
    return margins;
}

TEST(PlayoutBuffer, ASteadyStreamStartsBehindItsTargetAndPlaysWithoutAGap) {
    const Played run = simulate({}, 30);
    EXPECT_TRUE(dropouts(run.out).empty());
    EXPECT_EQ(run.dryRuns, 0u);
    EXPECT_LE(largestStep(run.out), 3200);
    // The first frame waits for the start target (40 ms assumed lateness +
    // 15 ms): 55 ms of silence after its arrival at 6 ms, within one pull.
    const double startMs = firstSound(run.out) / 8.0;
    EXPECT_NEAR(startMs, 6 + 55, 10);
    // Then the margin shrinks to the least target, 20 ms, and stays there.
    const std::vector<double> late = marginsBetween(run, 10, 30);
    EXPECT_NEAR(medianOf(late), 20, 4);
    EXPECT_GT(*std::min_element(late.begin(), late.end()), 10);
    EXPECT_LT(*std::max_element(late.begin(), late.end()), 32);
}

TEST(PlayoutBuffer, AJitteredFeedHasNoGapOnceTheBufferHasLearnt) {
    for (const int jitterMs : {20, 40, 60, 100}) {
        for (const uint32_t seed : {1u, 2u, 3u}) {
            Feed feed;
            feed.jitterMs = jitterMs;
            feed.seed = seed;
            const Played run = simulate(feed, 60);
            const std::vector<double> gaps = dropouts(run.out);
            // One may come while it learns, in the first 2 s; none after.
            EXPECT_LE(gaps.size(), 1u) << jitterMs << " ms, seed " << seed;
            for (const double at : gaps)
                EXPECT_LT(at, 2.0) << jitterMs << " ms, seed " << seed << ": gap at " << at << " s";
            EXPECT_LE(largestStep(run.out), 3300) << jitterMs << " ms";
            // Its latency follows the jitter: at most jitter + 30 ms here, where
            // the sound server's own buffer is not counted.
            EXPECT_LE(medianOf(marginsBetween(run, 5, 60)), jitterMs + 30) << jitterMs << " ms";
        }
    }
}

TEST(PlayoutBuffer, ShortFramesWithJitterPlayWithoutAGapToo) {
    Feed feed;
    feed.frameSamples = 512;  // 64 ms
    feed.jitterMs = 60;
    const Played run = simulate(feed, 60);
    const std::vector<double> gaps = dropouts(run.out);
    EXPECT_LE(gaps.size(), 1u);
    for (const double at : gaps) EXPECT_LT(at, 2.0);
}

TEST(PlayoutBuffer, AnOffDeviceClockBuildsNoLagAndDropsNoSound) {
    for (const int ppm : {3000, -3000, 5000, -5000}) {
        Feed feed;
        feed.ppm = ppm;
        const Played run = simulate(feed, 300);
        EXPECT_TRUE(dropouts(run.out).empty()) << ppm << " ppm";
        EXPECT_EQ(run.dryRuns, 0u) << ppm << " ppm";
        EXPECT_EQ(run.trims, 0u) << ppm << " ppm";
        EXPECT_LE(largestStep(run.out), 3200) << ppm << " ppm";
        // The rate follows the clock (5000 ppm is 0.5 %) ...
        EXPECT_LT(run.maxRate, 0.02) << ppm << " ppm";
        // ... and the margin after five minutes is the margin once the start's
        // assumed lateness has gone (after 8 s).
        const double at5 = medianOf(marginsBetween(run, 8, 10));
        const double atEnd = medianOf(marginsBetween(run, 290, 300));
        EXPECT_NEAR(atEnd, at5, 10) << ppm << " ppm";
        EXPECT_LT(atEnd, 40) << ppm << " ppm";
        // The device really sent at its pace, and all of it was played.
        const double pushed = static_cast<double>(run.marginMs.size() * kFrameSamples);
        EXPECT_NEAR(pushed, 300 * 8000 * (1 + ppm * 1e-6), kFrameSamples) << ppm << " ppm";
    }
}

TEST(PlayoutBuffer, AfterTheJitterStopsTheLatencyComesBackWithinTenSeconds) {
    Feed feed;
    feed.jitterMs = 100;
    feed.jitterSeconds = 20;
    const Played run = simulate(feed, 40);
    double lastHigh = 0;
    // 35 ms here and about 25 ms at the server: under 60 ms in all.
    for (size_t i = 0; i < run.marginMs.size(); ++i)
        if (run.arrivedAt[i] > 20 && run.marginMs[i] >= 35) lastHigh = run.arrivedAt[i];
    EXPECT_LT(lastHigh - 20, 10) << "the margin was still high at " << lastHigh << " s";
    const std::vector<double> gaps = dropouts(run.out);
    for (const double at : gaps) EXPECT_LT(at, 2.0);
}

TEST(PlayoutBuffer, AfterAStallTheBurstStartsTheStreamAnewWithItsNewestSound) {
    // Frames 40 to 42 come with frame 43: a 384 ms stall, then 512 ms at once.
    const Played run = simulate({}, 30, [](size_t frame, int64_t arrival) {
        return frame >= 40 && frame <= 42 ? arrival + (43 - static_cast<int64_t>(frame)) * 128000
                                          : arrival;
    });
    // The stall is one gap, not a lasting delay: the stale sound is dropped
    // before the new start is heard.
    EXPECT_LE(dropouts(run.out).size(), 1u);
    EXPECT_GE(run.trims, 1u);
    EXPECT_LT(medianOf(marginsBetween(run, 12, 20)), 40);
}

TEST(PlayoutBuffer, ADeviceTooFastToFollowIsCutBackByCrossFadesWithoutAGap) {
    Feed feed;
    feed.ppm = 100000;  // 10 %: beyond the 3 % the rate may change
    const Played run = simulate(feed, 30);
    EXPECT_GE(run.trims, 1u);
    EXPECT_TRUE(dropouts(run.out).empty());
    EXPECT_EQ(run.dryRuns, 0u);
    EXPECT_LT(*std::max_element(run.marginMs.begin(), run.marginMs.end()),
              PlayoutBuffer::kTrimAbove / 8 + 128 + 10);
}

// A feed of a constant level shows the gain: fades are ramps, never steps.
class Fades : public testing::Test {
protected:
    static constexpr int16_t kLevel = 10000;
    std::vector<int16_t> pull(size_t count) {
        std::vector<int16_t> out(count);
        buffer_.pull(out);
        return out;
    }
    void push(size_t count) { buffer_.push(std::vector<int16_t>(count, kLevel), nowUs_); }
    // Every step of a fade of `length` samples is about kLevel / length.
    static void expectRamp(const std::vector<int16_t>& out, size_t from, size_t length, bool up) {
        for (size_t i = from + 1; i < from + length; ++i) {
            const int step = out[i] - out[i - 1];
            EXPECT_TRUE(up ? step > 0 : step < 0) << "sample " << i;
            EXPECT_LE(std::abs(step), kLevel / static_cast<int>(length) * 3 / 2) << "sample " << i;
        }
    }

    PlayoutBuffer buffer_;
    int64_t nowUs_ = 1000000;
};

TEST_F(Fades, AStreamStartsAfterItsHoldWithAFadeIn) {
    push(1024);
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Priming);
    const std::vector<int16_t> out = pull(700);
    const size_t start = firstSound(out);
    EXPECT_NEAR(static_cast<double>(start), buffer_.targetSamples(), 2);  // 55 ms at the start
    EXPECT_LT(out[start], kLevel / 20);
    expectRamp(out, start, PlayoutBuffer::kFadeInSamples, true);
    for (size_t i = start + PlayoutBuffer::kFadeInSamples; i < out.size(); ++i)
        ASSERT_EQ(out[i], kLevel) << i;
}

TEST_F(Fades, TheLastSamplesFadeOutBeforeTheInputRunsDryAndComeBackWithAFadeIn) {
    push(1024);
    std::vector<int16_t> out = pull(1024 + 800);  // everything, and then some
    size_t last = out.size();
    while (last > 0 && out[last - 1] == 0) --last;
    ASSERT_GT(last, PlayoutBuffer::kFadeOutSamples);
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Dry);
    EXPECT_EQ(buffer_.dryRuns(), 1u);
    const size_t fadeFrom = last - PlayoutBuffer::kFadeOutSamples;
    EXPECT_EQ(out[fadeFrom - 1], kLevel);
    expectRamp(out, fadeFrom, PlayoutBuffer::kFadeOutSamples, false);
    EXPECT_LT(out[last - 1], kLevel / 20);

    // The late block: held back, then faded in.
    nowUs_ += 250000;
    push(1024);
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Priming);
    out = pull(1200);
    const size_t start = firstSound(out);
    EXPECT_LT(out[start], kLevel / 20);
    expectRamp(out, start, PlayoutBuffer::kFadeInSamples, true);
}

TEST_F(Fades, AStoppedStreamFadesOutAtOnceAndTheNextBlockStartsAnew) {
    push(1024);
    pull(600);
    buffer_.stop();
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Idle);
    const std::vector<int16_t> out = pull(200);
    EXPECT_GT(out[0], kLevel * 9 / 10);
    expectRamp(out, 0, PlayoutBuffer::kStopFadeSamples, false);
    for (size_t i = PlayoutBuffer::kStopFadeSamples; i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;

    nowUs_ += 5000000;
    push(1024);
    EXPECT_EQ(buffer_.streams(), 2u);
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Priming);
    EXPECT_GE(buffer_.queuedSamples(), 1024 + PlayoutBuffer::kMinTarget);
}

TEST_F(Fades, ALongSilenceEndsTheStream) {
    push(1024);
    pull(1024 + 800 + static_cast<size_t>(PlayoutBuffer::kMaxTarget) + 10);
    EXPECT_EQ(buffer_.state(), PlayoutBuffer::State::Idle);
    nowUs_ += 3000000;
    push(1024);
    EXPECT_EQ(buffer_.streams(), 2u);
}

}  // namespace
}  // namespace tess
