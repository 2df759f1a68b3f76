#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "media/AudioOut.h"
#include "media/PlayoutBuffer.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;

namespace tess {

// The sound output on a PulseAudio server: one playback stream, 16-bit mono at
// 8000 samples per second, tuned for live sound.
//
// Pull, not push. The server's stream is fed from the client's mainloop
// thread whenever the server asks for more (its write callback, in pieces of
// about 5 ms, up to a 25 ms target buffer), from a PlayoutBuffer: silence
// while no stream plays, and the live stream, with its start hold, fades and
// rate correction, while one does. The server therefore never runs dry (a
// server underrun is a hard cut, counted as an underflow) and holds no more
// than its small buffer; the margin against late blocks is the playout
// buffer's, which follows the measured jitter (PlayoutBuffer explains how).
//
// Blocks. A written block is copied into the playout buffer at once and its
// room given back before `writeBlock` returns: the output semaphore only hands
// blocks over. The old rules of this output — a lead of silence after every
// underrun and dropping everything queued when more than 100 ms was ahead —
// are gone: a start or resume waits for the target margin, a burst is caught
// up by playing up to 3 % faster, and only a margin beyond 500 ms is cut back
// (by a cross-fade, counted as a reset). `reset` and the end of a stream fade
// out what plays and drop the rest.
//
// Without a reachable server, or once the server goes away, the object stays
// usable: one line is logged (tessarine.audio), and every block is refused (and so
// counted as dropped, its room given back at once), so players never block.
// The server is the one libpulse finds on its own (PULSE_SERVER and the
// client configuration); no server is spawned.
class PulseAudioOut final : public AudioOut {
public:
    static constexpr uint32_t kConnectTimeoutMs = 3000;
    static constexpr uint32_t kTargetBufferBytes = 400;  // 25 ms at the server
    static constexpr uint32_t kRequestBytes = 80;        // asked for 5 ms at a time

    // Sees every block as the output takes it, on the writing player's
    // thread: `queuedAheadUs` is the sound still to play ahead of its first
    // sample, in the playout buffer and at the server. Must not block or
    // allocate.
    class WriteProbe {
    public:
        virtual ~WriteProbe() = default;
        virtual void beforeWrite(uint64_t queuedAheadUs) = 0;
    };

    // The playout buffer as it is now.
    struct Reading {
        double targetMs = 0;    // margin aimed at
        double latenessMs = 0;  // peak lateness learned
        double rateCorrection = 0;
        double queuedMs = 0;  // in the playout buffer, ahead of the next block
        uint64_t streams = 0, dryRuns = 0, trims = 0;
    };

    PulseAudioOut();
    ~PulseAudioOut() override;

    // True while the stream is connected and blocks really go out.
    bool playing() const { return playing_.load(); }
    // Null for none; set while no player writes.
    void setWriteProbe(WriteProbe* probe) { probe_ = probe; }
    // Times the server's stream ran dry (underflows): each one a hard cut.
    uint64_t underflows() const { return underflows_.load(); }
    Reading reading();

private:
    size_t queuedBlocks() override { return 0; }
    bool enqueue(std::span<const int16_t> samples) override;
    void dropQueued() override;
    void stopStream() override;

    // All below run with the mainloop lock held.
    bool connect();
    void fail(const char* reason);
    void feed(size_t bytes);

    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, size_t bytes, void* self);

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> playing_{false};
    bool reported_ = false;
    std::atomic<WriteProbe*> probe_{nullptr};
    std::atomic<uint64_t> underflows_{0};

    // Under the mainloop lock: written by players, read by the write callback.
    PlayoutBuffer playout_;
    std::array<int16_t, 2048> scratch_{};  // when the server lends no buffer
};

}  // namespace tess
