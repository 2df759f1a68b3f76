#include "media/PulseAudioOut.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/Log.h"

namespace tess {
namespace {

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
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
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
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = kRequestBytes;
    attr.fragsize = static_cast<uint32_t>(-1);
    // The server asks for what it needs and the write callback always gives it
    // all (silence while no stream plays): the stream never starves.
    pa_stream_set_write_callback(stream_, &PulseAudioOut::onWrite, this);
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
    playing_ = true;
    return true;
}

void PulseAudioOut::fail(const char* reason) {
    const bool wasPlaying = playing_.exchange(false);
    playout_.stop();
    if (reported_) return;
    reported_ = true;
    logLine(LogArea::Audio, LogLevel::Warning, "sound server %s (%s); audio is dropped",
            wasPlaying ? "lost" : "unavailable", reason);
}

PulseAudioOut::Reading PulseAudioOut::reading() {
    if (!mainloop_) return {};
    MainloopLock lock(mainloop_);
    return {playout_.targetSamples() / 8,
            playout_.latenessSamples() / 8,
            playout_.rateCorrection(),
            playout_.queuedSamples() / 8,
            playout_.streams(),
            playout_.dryRuns(),
            playout_.trims()};
}

bool PulseAudioOut::enqueue(std::span<const int16_t> samples) {
    if (!mainloop_) return false;
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    uint64_t aheadUs = 0;
    {
        MainloopLock lock(mainloop_);
        if (!playing_.load()) return false;
        const uint64_t trims = playout_.trims();
        const double queued = playout_.push(samples, nowUs);
        if (playout_.trims() != trims) countReset();
        pa_usec_t serverUs = 0;
        int negative = 0;
        if (pa_stream_get_latency(stream_, &serverUs, &negative) < 0 || negative) serverUs = 0;
        aheadUs = static_cast<uint64_t>(std::max(0.0, queued) * 1e6 / kSampleRate /
                                        (1 + playout_.rateCorrection())) +
                  serverUs;
    }
    if (WriteProbe* probe = probe_.load()) probe->beforeWrite(aheadUs);
    // Copied: the block is finished with as far as the player is concerned.
    blockDone();
    return true;
}

void PulseAudioOut::dropQueued() {
    stopStream();
}

void PulseAudioOut::stopStream() {
    if (!mainloop_) return;
    MainloopLock lock(mainloop_);
    playout_.stop();
}

void PulseAudioOut::feed(size_t bytes) {
    while (bytes >= sizeof(int16_t)) {
        void* data = nullptr;
        size_t length = bytes;
        if (pa_stream_begin_write(stream_, &data, &length) < 0 || data == nullptr) {
            data = scratch_.data();
            length = sizeof scratch_;
        }
        length = std::min(length, bytes) & ~size_t{1};
        if (length == 0) break;
        playout_.pull(std::span<int16_t>(static_cast<int16_t*>(data), length / sizeof(int16_t)));
        // Without a free callback libpulse takes the samples before it returns
        // (a buffer it lent is handed back without a copy).
        if (pa_stream_write(stream_, data, length, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
            fail(pa_strerror(pa_context_errno(context_)));
            return;
        }
        bytes -= length;
    }
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
    // The server had nothing left to play: the write callback was late (the
    // client's mainloop thread starved). Nothing to repair: it asks again.
    ++static_cast<PulseAudioOut*>(self)->underflows_;
}

void PulseAudioOut::onWrite(pa_stream*, size_t bytes, void* self) {
    static_cast<PulseAudioOut*>(self)->feed(bytes);
}

}  // namespace tess
