#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>

#include "platform/CountingSemaphore.h"

namespace tess {

// The program's sound output: plays blocks of 16-bit mono PCM at 8000 samples
// per second in the order they are written. One object serves the whole
// program; it is opened once and shared by every pane's audio player, and it
// must outlive all of them.
//
// Flow control is the output semaphore (3 of at most 10): a player takes one
// count before each block (`waitForRoom`) and the output gives it back once
// that block is finished with, whether copied into a playout buffer of the
// output's own, played, dropped or refused. How far the sound may lag is the
// output's own rule, not the semaphore's: PulseAudioOut takes every block
// into its adaptive playout buffer at once (its count comes back before
// `writeBlock` returns) and keeps the margin there at the target its jitter
// measurement asks for, catching up by playing faster.
//
// Streams. The blocks a player writes, tagged with that player, are one
// stream. A block from another source ends the stream playing before it (the
// output fades it out), and `endStream` ends a source's stream when its
// player stops, so that a stopped pane's sound ends with a fade. When a stream
// starts after silence is the output's business: PulseAudioOut starts it
// behind its target margin, with a fade-in, whatever the window side did.
//
// Thread use: `waitForRoom`, `writeBlock`, `endStream` and `reset` from player
// threads (serialised here); implementations call `blockDone` from whatever
// thread learns that a block has finished.
class AudioOut {
public:
    static constexpr uint32_t kSampleRate = 8000;
    static constexpr size_t kMaxBlockSamples = 4096;  // 8192 bytes
    static constexpr int32_t kInitialRoom = 3;
    static constexpr int32_t kMaxRoom = 10;

    AudioOut() = default;
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;
    virtual ~AudioOut() = default;

    // Waits up to `timeoutMs` for room for one more block and takes it.
    bool waitForRoom(uint32_t timeoutMs) { return room_.acquireFor(timeoutMs); }
    // Gives back room taken by `waitForRoom` for a block that is not written.
    void returnRoom() { room_.release(); }

    // Queues one block (at most kMaxBlockSamples; longer blocks are cut) of the
    // stream of `source` (any tag; null for untagged). The samples are copied
    // before it returns. False when the output refused the block: it is then
    // counted as dropped and its room is given back at once.
    bool writeBlock(std::span<const int16_t> samples, const void* source = nullptr) {
        std::lock_guard lock(writeMutex_);
        if (source != source_) {
            if (source_ != nullptr) stopStream();
            source_ = source;
        }
        if (samples.empty()) {
            blockDone();
            return true;
        }
        if (!enqueue(samples.first(std::min(samples.size(), kMaxBlockSamples)))) {
            ++droppedBlocks_;
            blockDone();
            return false;
        }
        return true;
    }

    // The stream of `source` has ended (its player stopped): what is left of
    // it fades out. Nothing happens when another source plays by now.
    void endStream(const void* source) {
        std::lock_guard lock(writeMutex_);
        if (source == nullptr || source != source_) return;
        stopStream();
        source_ = nullptr;
    }

    // Drops every queued block; each of them gives its room back.
    void reset() {
        std::lock_guard lock(writeMutex_);
        dropQueued();
        ++resets_;
    }

    int32_t room() const { return room_.count(); }
    uint64_t resets() const { return resets_.load(); }
    uint64_t droppedBlocks() const { return droppedBlocks_.load(); }

protected:
    // Blocks accepted by `enqueue` and not yet reported through `blockDone`
    // (a reading for the output and its tests; the base class no longer
    // drops sound by this count: how far an output may lag is its own rule).
    virtual size_t queuedBlocks() = 0;
    // Copies the samples and queues them for playing; false when it cannot.
    virtual bool enqueue(std::span<const int16_t> samples) = 0;
    // Drops everything queued and calls `blockDone` once for every dropped block.
    virtual void dropQueued() = 0;
    // The stream playing has ended: an output that can, fades it out.
    virtual void stopStream() {}

    // Once per finished block, from any thread.
    void blockDone() { room_.release(); }
    // An output that drops what it holds by a rule of its own counts it here.
    void countReset() { ++resets_; }

private:
    CountingSemaphore room_{kInitialRoom, kMaxRoom};
    std::mutex writeMutex_;
    const void* source_ = nullptr;  // whose stream plays; guarded by writeMutex_
    std::atomic<uint64_t> resets_{0};
    std::atomic<uint64_t> droppedBlocks_{0};
};

}  // namespace tess
