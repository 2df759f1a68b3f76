#include "media/PlayoutBuffer.h"

#include <algorithm>
#include <cmath>

namespace tess {
namespace {

constexpr double kSamplesPerUs = PlayoutBuffer::kRate / 1e6;

int16_t saturate(double value) {
    return static_cast<int16_t>(std::lround(std::clamp(value, -32768.0, 32767.0)));
}

}  // namespace

PlayoutBuffer::PlayoutBuffer() : ring_(std::make_unique<std::array<int16_t, kCapacity>>()) {}

double PlayoutBuffer::latenessSamples() const {
    return std::max(boost_, *std::max_element(buckets_.begin(), buckets_.end()));
}

double PlayoutBuffer::targetSamples() const {
    return std::clamp(latenessSamples() + kSafety, kMinTarget, kMaxTarget);
}

void PlayoutBuffer::noteLateness(double lateness, int64_t nowUs) {
    const int64_t bucket = nowUs / kBucketUs;
    // Buckets of half seconds gone by are emptied.
    for (int64_t b = std::max(bucket_ + 1, bucket - static_cast<int64_t>(kLatenessBuckets) + 1);
         b <= bucket; ++b)
        buckets_[static_cast<size_t>(b) % kLatenessBuckets] = 0;
    if (bucket - bucket_ >= static_cast<int64_t>(kLatenessBuckets)) buckets_.fill(0);
    bucket_ = std::max(bucket_, bucket);
    double& slot = buckets_[static_cast<size_t>(bucket_) % kLatenessBuckets];
    slot = std::max(slot, lateness);
    if (nowUs - boostAtUs_ > kPeakHoldUs) {
        const double since = static_cast<double>(nowUs - boostAtUs_) - kPeakHoldUs;
        boost_ *=
            std::exp(-std::min(since, static_cast<double>(nowUs - lastPushUs_)) / kPeakDecayUs);
    }
}

double PlayoutBuffer::queuedSamples() const {
    switch (state_) {
        case State::Idle: return 0;
        case State::Dry: return -static_cast<double>(drySamples_);
        default: return available() + hold_;
    }
}

int16_t PlayoutBuffer::at(uint64_t index) const {
    index = std::clamp(index, streamStart_, write_ - 1);
    return (*ring_)[index % kCapacity];
}

double PlayoutBuffer::interpolate() const {
    const double p1 = at(read_);
    if (frac_ == 0) return p1;
    const double p0 = at(read_ - 1), p2 = at(read_ + 1), p3 = at(read_ + 2);
    const double c1 = 0.5 * (p2 - p0);
    const double c2 = p0 - 2.5 * p1 + 2 * p2 - 0.5 * p3;
    const double c3 = 0.5 * (p3 - p0) + 1.5 * (p1 - p2);
    return ((c3 * frac_ + c2) * frac_ + c1) * frac_ + p1;
}

void PlayoutBuffer::advance() {
    frac_ += step_;
    const double whole = std::floor(frac_);
    read_ += static_cast<uint64_t>(whole);
    frac_ -= whole;
}

void PlayoutBuffer::renderTail(size_t count) {
    // What is left of an earlier tail goes to the front; the new one adds to it.
    std::array<int16_t, kStopFadeSamples> mixed{};
    const size_t left = tailLength_ - tailPosition_;
    std::copy_n(tail_.begin() + static_cast<ptrdiff_t>(tailPosition_), left, mixed.begin());
    const size_t length = std::min(
        {count, kStopFadeSamples, static_cast<size_t>(std::max(0.0, available() / step_))});
    const double gain = gain_;
    for (size_t i = 0; i < length; ++i) {
        const double faded = interpolate() * gain * static_cast<double>(length - i) /
                             static_cast<double>(length + 1);
        mixed[i] = saturate(mixed[i] + faded);
        advance();
    }
    tail_ = mixed;
    tailLength_ = std::max(left, length);
    tailPosition_ = 0;
}

void PlayoutBuffer::startStream(int64_t nowUs) {
    noteLateness(0, nowUs);
    if (boost_ < kStartLateness) {
        boost_ = kStartLateness;
        boostAtUs_ = nowUs;
    }
    ++streams_;
    streamStart_ = write_;
    read_ = write_;
    frac_ = 0;
    step_ = 1;
    streamSamples_ = 0;
    floor_ = static_cast<double>(nowUs) * kSamplesPerUs;
    hold_ = targetSamples();
    smoothedMargin_ = hold_;
    gain_ = 0;
    state_ = State::Priming;
}

void PlayoutBuffer::steer(double margin, double dtUs) {
    const double alpha = 1 - std::exp(-dtUs / kSmoothingUs);
    smoothedMargin_ += alpha * (margin - smoothedMargin_);
    if (state_ != State::Playing) return;
    const double error = smoothedMargin_ - targetSamples();
    step_ = 1 + std::clamp(error / (kRate * kCorrectionSeconds), -kMaxSlowDown, kMaxSpeedUp);
}

double PlayoutBuffer::push(std::span<const int16_t> samples, int64_t nowUs) {
    samples =
        samples.first(std::min(samples.size(), kCapacity - static_cast<size_t>(kTrimAbove) - 16));
    if (samples.empty()) return queuedSamples();

    double margin = 0;
    if (state_ == State::Idle) {
        startStream(nowUs);
        margin = hold_;
    } else {
        const double dtUs = static_cast<double>(nowUs - lastPushUs_);
        const double transit =
            static_cast<double>(nowUs) * kSamplesPerUs - static_cast<double>(streamSamples_);
        floor_ = std::min(floor_ + kFloorRise * dtUs * kSamplesPerUs, transit);
        const double lateness = transit - floor_;
        noteLateness(lateness, nowUs);
        if (state_ == State::Dry) {
            // Ran dry: this block was later than the margin. Learn more than
            // its lateness, and hold it back so that the next on-time block
            // finds the target queued.
            boost_ = std::min(std::max(boost_, kDryBoost * lateness), kMaxTarget - kSafety);
            boostAtUs_ = nowUs;
            hold_ = std::max(0.0, targetSamples() - lateness);
            smoothedMargin_ = targetSamples();
            step_ = 1;
            gain_ = 0;
            state_ = State::Priming;
            margin = hold_;
        } else {
            if (state_ == State::FadingOut) {
                state_ = State::Playing;
                gainStep_ = 1.0 / kFadeInSamples;
            }
            margin = queuedSamples();
            steer(margin + lateness, dtUs);
            if (state_ == State::Priming && margin > targetSamples() + 1 && available() >= 1) {
                // More than the target before the stream has even begun (a
                // burst after a stall): the oldest of it goes unheard.
                read_ += static_cast<uint64_t>(
                    std::min(margin - targetSamples(), std::floor(available())));
                ++trims_;
                margin = queuedSamples();
            } else if (margin > kTrimAbove) {
                // A burst after a stall: back to the target, by a cross-fade.
                const double cut = std::min(margin - targetSamples(), available() - 1);
                if (state_ == State::Priming) {
                    read_ += static_cast<uint64_t>(cut);
                } else {
                    renderTail(kFadeOutSamples);
                    read_ += static_cast<uint64_t>(std::max(0.0, cut - kFadeOutSamples));
                    gain_ = 0;
                    gainStep_ = 1.0 / kFadeInSamples;
                }
                ++trims_;
                margin = queuedSamples();
                smoothedMargin_ = margin;
            }
        }
    }
    for (const int16_t sample : samples) (*ring_)[write_++ % kCapacity] = sample;
    streamSamples_ += samples.size();
    lastPushUs_ = nowUs;
    return margin;
}

void PlayoutBuffer::stop() {
    if (state_ == State::Playing || state_ == State::FadingOut) renderTail(kStopFadeSamples);
    read_ = write_;
    frac_ = 0;
    step_ = 1;
    hold_ = 0;
    gain_ = 0;
    state_ = State::Idle;
}

void PlayoutBuffer::pull(std::span<int16_t> out) {
    for (int16_t& sample : out) {
        double value = 0;
        switch (state_) {
            case State::Idle: break;
            case State::Dry:
                // Longer dry than any target: the stream is over.
                if (++drySamples_ > static_cast<uint64_t>(kMaxTarget)) state_ = State::Idle;
                break;
            case State::Priming:
                if (hold_ >= 1) {
                    hold_ -= 1;
                    break;
                }
                hold_ = 0;
                state_ = State::Playing;
                gain_ = 0;
                gainStep_ = 1.0 / kFadeInSamples;
                [[fallthrough]];
            case State::Playing:
            case State::FadingOut: {
                const double left = available() / step_;
                if (left <= 0) {
                    state_ = State::Dry;
                    drySamples_ = 1;
                    ++dryRuns_;
                    read_ = write_;
                    frac_ = 0;
                    gain_ = 0;
                    break;
                }
                if (state_ == State::Playing && left <= kFadeOutSamples) state_ = State::FadingOut;
                // Down to 0 by the last sample there is.
                if (state_ == State::FadingOut) gainStep_ = -gain_ / std::max(1.0, left);
                value = interpolate() * gain_;
                gain_ = std::clamp(gain_ + gainStep_, 0.0, 1.0);
                advance();
                break;
            }
        }
        if (tailPosition_ < tailLength_) value += tail_[tailPosition_++];
        sample = saturate(value);
    }
}

}  // namespace tess
