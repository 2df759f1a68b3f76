#include "media/PulseAudioOut.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/Log.h"

namespace tess {
namespace {

constexpr uint32_t kBytesPerSecond = AudioOut::kSampleRate * sizeof(int16_t);

// Holds the mainloop lock for a scope (from a thread other than the mainloop's).
class MainloopLock {
public:
    explicit MainloopLock(pa_threaded_mainloop* mainloop) : mainloop_(mainloop) {
        pa_threaded_mainloop_lock(mainloop_);
    }
    ~MainloopLock() { pa_threaded_mainloop_unlock(mainloop_); }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;

private:
    pa_threaded_mainloop* mainloop_;
};

}  // namespace

PulseAudioOut::PulseAudioOut() {
    mainloop_ = pa_threaded_mainloop_new();
    if (!mainloop_) {
        logLine(LogArea::Audio, LogLevel::Warning,
                "sound output unavailable (no mainloop); audio is dropped");
        reported_ = true;
        return;
    }
    if (pa_threaded_mainloop_start(mainloop_) < 0) {
        pa_threaded_mainloop_free(mainloop_);
        mainloop_ = nullptr;
        logLine(LogArea::Audio, LogLevel::Warning,
                "sound output unavailable (no mainloop); audio is dropped");
        reported_ = true;
        return;
    }
    connect();
}

PulseAudioOut::~PulseAudioOut() {
    if (!mainloop_) return;
    {
        MainloopLock lock(mainloop_);
        playing_ = false;
        if (tick_) pa_threaded_mainloop_get_api(mainloop_)->time_free(tick_);
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
            pa_stream_unref(stream_);
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
            pa_context_unref(context_);
        }
    }
    pa_threaded_mainloop_stop(mainloop_);
    pa_threaded_mainloop_free(mainloop_);
}

bool PulseAudioOut::connect() {
    // Both state changes happen on the mainloop thread; waiting for them is a
    // bounded poll, because pa_threaded_mainloop_wait has no time limit.
    const auto waitFor = [this](auto ready, auto failed) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            {
                MainloopLock lock(mainloop_);
                if (ready()) return true;
                if (failed()) return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    };

    {
        MainloopLock lock(mainloop_);
        context_ = pa_context_new(pa_threaded_mainloop_get_api(mainloop_), "Tessarine");
        if (!context_) {
            fail("no client context");
            return false;
        }
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            fail(pa_strerror(pa_context_errno(context_)));
            return false;
        }
    }
    const bool contextReady =
        waitFor([this] { return pa_context_get_state(context_) == PA_CONTEXT_READY; },
                [this] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)); });

    MainloopLock lock(mainloop_);
    if (!contextReady) {
        const pa_context_state_t state = pa_context_get_state(context_);
        fail(PA_CONTEXT_IS_GOOD(state) ? "no answer from the sound server"
                                       : pa_strerror(pa_context_errno(context_)));
        return false;
    }
    pa_context_set_state_callback(context_, &PulseAudioOut::onContextState, this);

    const pa_sample_spec format{PA_SAMPLE_S16NE, kSampleRate, 1};
    stream_ = pa_stream_new(context_, "Live audio", &format, nullptr);
    if (!stream_) {
        fail(pa_strerror(pa_context_errno(context_)));
        return false;
    }
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = kTargetBufferBytes;
    // Start as soon as one sample is there: blocks of any size play at once,
    // and after an underrun the stream waits for the next block again. The
    // lead of silence in front of such a block is the margin for late ones.
    attr.prebuf = sizeof(int16_t);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    const auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0) {
        fail(pa_strerror(pa_context_errno(context_)));
        return false;
    }
    pa_threaded_mainloop_unlock(mainloop_);
    const bool streamReady =
        waitFor([this] { return pa_stream_get_state(stream_) == PA_STREAM_READY; },
                [this] { return !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)); });
    pa_threaded_mainloop_lock(mainloop_);
    if (!streamReady) {
        fail(PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))
                 ? "no answer from the sound server"
                 : pa_strerror(pa_context_errno(context_)));
        return false;
    }
    pa_stream_set_state_callback(stream_, &PulseAudioOut::onStreamState, this);
    pa_stream_set_underflow_callback(stream_, &PulseAudioOut::onUnderflow, this);
    tick_ =
        pa_context_rttime_new(context_, pa_rtclock_now() + kTickUs, &PulseAudioOut::onTick, this);
    if (!tick_) {
        fail("no timer");
        return false;
    }
    playing_ = true;
    return true;
}

void PulseAudioOut::fail(const char* reason) {
    const bool wasPlaying = playing_.exchange(false);
    releasePending();
    if (reported_) return;
    reported_ = true;
    logLine(LogArea::Audio, LogLevel::Warning, "sound server %s (%s); audio is dropped",
            wasPlaying ? "lost" : "unavailable", reason);
}

void PulseAudioOut::releasePending() {
    for (; pendingCount_ > 0; --pendingCount_) blockDone();
    pendingHead_ = 0;
}

void PulseAudioOut::takePlayed() {
    pa_usec_t playedUs = 0;
    if (!stream_ || pa_stream_get_time(stream_, &playedUs) < 0) return;
    const uint64_t played = playedUs * kBytesPerSecond / 1000000;
    if (played <= playedBytes_) return;
    uint64_t progress = played - playedBytes_;
    playedBytes_ = played;
    // Progress while nothing of ours is queued (the tail of flushed audio) is
    // not carried over to later blocks.
    while (progress > 0 && pendingCount_ > 0) {
        uint32_t& left = pending_[pendingHead_];
        const uint64_t taken = std::min<uint64_t>(left, progress);
        left -= static_cast<uint32_t>(taken);
        progress -= taken;
        if (left > 0) break;
        pendingHead_ = (pendingHead_ + 1) % kMaxPending;
        --pendingCount_;
        blockDone();
    }
}

size_t PulseAudioOut::queuedBlocks() {
    if (!mainloop_) return 0;
    MainloopLock lock(mainloop_);
    return pendingCount_;
}

uint64_t PulseAudioOut::queuedAheadUs() {
    pa_usec_t latency = 0;
    int negative = 0;
    // No timing information yet (the first block) counts as nothing queued.
    if (pa_stream_get_latency(stream_, &latency, &negative) < 0 || negative) return 0;
    return latency;
}

void PulseAudioOut::flush() {
    if (playing_.load()) {
        if (pa_operation* operation = pa_stream_flush(stream_, nullptr, nullptr)) {
            pa_operation_unref(operation);
        }
    }
    releasePending();
    leadIn_ = true;
}

bool PulseAudioOut::enqueue(std::span<const int16_t> samples) {
    static constexpr std::array<int16_t, kLeadInSamples> kSilence{};
    if (!mainloop_) return false;
    MainloopLock lock(mainloop_);
    if (!playing_.load() || pendingCount_ == kMaxPending) return false;
    // Behind or not is judged by the output's own count of unplayed bytes: it
    // follows a flush at once, where the server's latency would lag behind.
    uint64_t unplayed = 0;
    for (size_t i = 0; i < pendingCount_; ++i)
        unplayed += pending_[(pendingHead_ + i) % kMaxPending];
    if (unplayed > uint64_t{kMaxQueuedAheadMs} * kBytesPerSecond / 1000) {
        flush();
        countReset();
    }
    uint64_t queuedUs = queuedAheadUs();
    size_t bytes = samples.size_bytes();
    // A null free callback makes libpulse copy the samples before it returns.
    if (leadIn_) {
        if (pa_stream_write(stream_, kSilence.data(), sizeof kSilence, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0) {
            fail(pa_strerror(pa_context_errno(context_)));
            return false;
        }
        bytes += sizeof kSilence;  // finished together with the block behind it
        queuedUs += uint64_t{kLeadInSamples} * 1000000 / kSampleRate;
        leadIn_ = false;
    }
    if (WriteProbe* probe = probe_.load()) probe->beforeWrite(queuedUs);
    if (pa_stream_write(stream_, samples.data(), samples.size_bytes(), nullptr, 0,
                        PA_SEEK_RELATIVE) < 0) {
        fail(pa_strerror(pa_context_errno(context_)));
        return false;
    }
    pending_[(pendingHead_ + pendingCount_) % kMaxPending] = static_cast<uint32_t>(bytes);
    ++pendingCount_;
    return true;
}

void PulseAudioOut::dropQueued() {
    if (!mainloop_) return;
    MainloopLock lock(mainloop_);
    flush();
}

void PulseAudioOut::onContextState(pa_context* context, void* self) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        static_cast<PulseAudioOut*>(self)->fail(pa_strerror(pa_context_errno(context)));
    }
}

void PulseAudioOut::onStreamState(pa_stream* stream, void* self) {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        auto* out = static_cast<PulseAudioOut*>(self);
        out->fail(pa_strerror(pa_context_errno(out->context_)));
    }
}

void PulseAudioOut::onUnderflow(pa_stream*, void* self) {
    // The server ran out of data: everything written has been played. The
    // interpolated playback time stops short of the last block's end when the
    // stream stalls, so this is what finishes the last block of a burst. The
    // next block starts behind a new lead of silence.
    auto* out = static_cast<PulseAudioOut*>(self);
    ++out->underflows_;
    out->releasePending();
    out->leadIn_ = true;
}

void PulseAudioOut::onTick(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                           void* self) {
    auto* out = static_cast<PulseAudioOut*>(self);
    if (!out->playing_.load()) return;
    out->takePlayed();
    pa_context_rttime_restart(out->context_, event, pa_rtclock_now() + kTickUs);
}

}  // namespace tess
