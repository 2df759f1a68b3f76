#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/AudioOut.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_mainloop_api;
struct timeval;

namespace tess {

// The sound output on a PulseAudio server: one playback stream, 16-bit mono at
// 8000 samples per second, tuned for live sound.
//
// Live sound. Blocks arrive one frame time (128 ms) apart and each is written
// whole, so the server holds little more than the block being played. What
// keeps the sound from breaking up when a block comes a little late is a lead
// of silence written in front of the first block, and again after the stream
// ran dry or was flushed: the blocks then play that much behind their
// arrival. The server is asked for a 40 ms target buffer. A block written
// while more than kMaxQueuedAheadMs of sound is still queued ahead of it (a
// burst after a stall) finds the output behind: what is queued is dropped
// (counted as a reset) and the block starts anew, so a stall costs sound,
// never a lasting delay.
//
// Block accounting. The stream is a byte pipe without block boundaries, so
// the output keeps the byte count of every queued block in order. A 10 ms
// timer on the client's mainloop thread reads the stream's playback time
// (interpolated, latency already subtracted), turns the progress since the
// last tick into bytes and takes them off the oldest blocks; each block that
// reaches zero is reported done and gives its room back. An underflow (the
// server has nothing left to play) finishes every queued block, and so does a
// reset, which also flushes the stream.
//
// Without a reachable server, or once the server goes away, the object stays
// usable: one line is logged (tessarine.audio), and every block is refused (and so
// counted as dropped, its room given back at once), so players never block.
// The server is the one libpulse finds on its own (PULSE_SERVER and the
// client configuration); no server is spawned.
class PulseAudioOut final : public AudioOut {
public:
    static constexpr uint32_t kConnectTimeoutMs = 3000;
    static constexpr uint32_t kTargetBufferBytes = 640;  // 40 ms
    static constexpr uint32_t kLeadInSamples = 240;      // 30 ms
    static constexpr uint32_t kMaxQueuedAheadMs = 100;
    static constexpr uint32_t kTickUs = 10000;

    // Sees every block just before it goes to the server, on the writing
    // player's thread: `queuedAheadUs` is the sound the server still has to
    // play ahead of it. Must not block or allocate.
    class WriteProbe {
    public:
        virtual ~WriteProbe() = default;
        virtual void beforeWrite(uint64_t queuedAheadUs) = 0;
    };

    PulseAudioOut();
    ~PulseAudioOut() override;

    // True while the stream is connected and blocks really go out.
    bool playing() const { return playing_.load(); }
    // Null for none; set while no player writes.
    void setWriteProbe(WriteProbe* probe) { probe_ = probe; }
    // Times the stream ran dry (underflows); in steady streaming, dropouts.
    uint64_t underflows() const { return underflows_.load(); }

private:
    static constexpr size_t kMaxPending = 16;

    size_t queuedBlocks() override;
    bool enqueue(std::span<const int16_t> samples) override;
    void dropQueued() override;

    // All below run with the mainloop lock held.
    bool connect();
    void fail(const char* reason);
    void releasePending();
    void takePlayed();
    uint64_t queuedAheadUs();
    void flush();

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onTick(::pa_mainloop_api* api, pa_time_event* event, const ::timeval* when,
                       void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* tick_ = nullptr;
    std::atomic<bool> playing_{false};
    bool reported_ = false;
    // The next block is written behind a lead of silence (at the start, after
    // an underflow and after a flush).
    bool leadIn_ = true;
    std::atomic<WriteProbe*> probe_{nullptr};
    std::atomic<uint64_t> underflows_{0};

    // Bytes still to play of each queued block, oldest first (ring of kMaxPending).
    std::array<uint32_t, kMaxPending> pending_{};
    size_t pendingHead_ = 0;
    size_t pendingCount_ = 0;
    uint64_t playedBytes_ = 0;
};

}  // namespace tess
