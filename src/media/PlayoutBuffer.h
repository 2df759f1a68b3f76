#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace tess {

// The adaptive playout buffer between the blocks of a live audio stream and a
// sound output that takes samples at its own steady rate (8000 per second).
// Pure state machine: no clock of its own (each block brings its arrival
// time), no lock, no allocation after construction; the caller serialises.
//
// Margin. What matters for a live stream is the sound still queued when the
// next block arrives: that is the latency of the block's first sample, and a
// block later than that margin finds the output dry. The buffer measures each
// block's lateness from its arrival time against the stream's own sample
// count (the transit time above its running floor, which may creep up by
// 0.6 % of the time, so that a slow device clock is not read as jitter),
// keeps the largest lateness of the last 4 s (in eight 0.5 s buckets) and
// aims at
//
//     target = clamp(largest lateness + 15 ms, 20 ms, 250 ms).
//
// A stream starts assuming 40 ms of lateness (its first target is 55 ms,
// shrinking from 2 s on as the stream proves steady). It starts, and after
// running dry resumes, behind a hold of silence that puts the next on-time
// block at the target margin; a dry spell also
// learns twice the lateness of the block that caused it (held 2 s, then
// halving about every second), so that the next late block is covered.
//
// Rate. Between blocks the margin is steered to the target by playing very
// slightly faster or slower: the output reads the input at 1 + r samples per
// sample through a 4-point Hermite interpolator, r proportional to the
// smoothed margin error (r = error / 2 s) and limited to -3 % .. +3 %. That
// absorbs a device clock off by ±0.5 % (a steady r) and is the catch-up after
// a burst: sound is played faster, not thrown away. Only a margin beyond
// 500 ms (a burst after a stall) is cut back to the target, by a 5 ms cross-fade.
//
// Fades. No sample step is ever a cut: a start or resume fades in over 5 ms;
// when the input is about to run dry the last 5 ms fade out before it does;
// `stop` fades out over 10 ms and drops the rest. A dry spell longer than the
// largest target ends the stream: the next block starts a new one.
class PlayoutBuffer {
public:
    static constexpr uint32_t kRate = 8000;
    static constexpr size_t kCapacity = 16384;      // samples, 2 s
    static constexpr double kMinTarget = 160;       // 20 ms, in samples
    static constexpr double kMaxTarget = 2000;      // 250 ms
    static constexpr double kSafety = 120;          // 15 ms above the largest lateness
    static constexpr double kStartLateness = 320;   // 40 ms assumed at a stream's start
    static constexpr double kTrimAbove = 4000;      // 500 ms
    static constexpr size_t kFadeInSamples = 40;    // 5 ms
    static constexpr size_t kFadeOutSamples = 40;   // 5 ms, before running dry
    static constexpr size_t kStopFadeSamples = 80;  // 10 ms
    static constexpr double kMaxSpeedUp = 0.03;
    static constexpr double kMaxSlowDown = 0.03;
    static constexpr double kCorrectionSeconds = 2.0;
    static constexpr double kSmoothingUs = 500000;
    static constexpr double kFloorRise = 0.006;
    static constexpr size_t kLatenessBuckets = 8;
    static constexpr int64_t kBucketUs = 500000;
    static constexpr double kPeakHoldUs = 2000000;
    static constexpr double kPeakDecayUs = 1500000;
    static constexpr double kDryBoost = 2.0;

    enum class State {
        Idle,       // no stream: silence
        Priming,    // a stream's first block is queued behind its hold of silence
        Playing,    // playing the stream (fading in, if it just started)
        FadingOut,  // about to run dry: the last samples fade out
        Dry,        // ran dry within a stream: silence until its next block
    };

    PlayoutBuffer();

    // A block that arrived at `nowUs` (any steady clock, microseconds). Returns
    // the sound queued ahead of its first sample, in samples.
    double push(std::span<const int16_t> samples, int64_t nowUs);
    // The stream has stopped: what plays fades out over kStopFadeSamples and
    // the rest is dropped; the next block starts a new stream.
    void stop();
    // The next `out.size()` samples to play.
    void pull(std::span<int16_t> out);

    State state() const { return state_; }
    double targetSamples() const;
    double latenessSamples() const;
    // The input samples read per output sample, less 1.
    double rateCorrection() const { return step_ - 1; }
    // Sound queued ahead of the next block: unplayed input and the hold.
    double queuedSamples() const;
    uint64_t streams() const { return streams_; }
    uint64_t dryRuns() const { return dryRuns_; }
    uint64_t trims() const { return trims_; }

private:
    double available() const { return static_cast<double>(write_ - read_) - frac_; }
    int16_t at(uint64_t index) const;
    double interpolate() const;
    void advance();
    // Renders the next `count` samples of the stream, fading to 0, into the
    // tail that the following pulls mix in; then the stream's input can go.
    void renderTail(size_t count);
    void startStream(int64_t nowUs);
    void steer(double margin, double dtUs);
    void noteLateness(double lateness, int64_t nowUs);

    std::unique_ptr<std::array<int16_t, kCapacity>> ring_;
    uint64_t write_ = 0;
    uint64_t read_ = 0;         // sample at the interpolation point
    uint64_t streamStart_ = 0;  // first sample of the stream
    double frac_ = 0;           // position between read_ and read_ + 1
    double step_ = 1;           // input samples per output sample
    State state_ = State::Idle;
    double gain_ = 0;
    double gainStep_ = 0;
    double hold_ = 0;  // output samples of silence before Priming plays
    uint64_t drySamples_ = 0;

    // Lateness of the blocks of this stream.
    uint64_t streamSamples_ = 0;  // input samples pushed in this stream
    double floor_ = 0;            // lowest transit (arrival - sample time), in samples
    // The largest lateness in each of the last kLatenessBuckets half seconds.
    std::array<double, kLatenessBuckets> buckets_{};
    int64_t bucket_ = 0;  // the current one's number (time / kBucketUs)
    // What a dry spell taught (or a stream's start assumes), decaying.
    double boost_ = 0;
    int64_t boostAtUs_ = 0;
    int64_t lastPushUs_ = 0;
    double smoothedMargin_ = 0;

    std::array<int16_t, kStopFadeSamples> tail_{};
    size_t tailLength_ = 0;
    size_t tailPosition_ = 0;

    uint64_t streams_ = 0;
    uint64_t dryRuns_ = 0;
    uint64_t trims_ = 0;
};

}  // namespace tess
