#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "media/AdpcmDecoder.h"
#include "media/AudioOut.h"
#include "media/AudioQueue.h"

namespace tess {

// Owner of one audio thread of a pane: start, a stop request with a bounded
// wait for the end, and join. The thread checks the stop request after every
// frame or block; a stop also wakes its unbounded waits, so a stopped thread
// always ends and never outlives the buffers it uses. The owning class must
// call `stop` and `join` in its destructor, before its own members go.
class AudioThread {
public:
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    // Starts the thread; false when it is still running from an earlier start.
    bool start();
    // Asks the thread to end, wakes it and waits up to `timeoutMs` for it.
    // True when it has ended (a later `join` then returns at once).
    bool stop(uint32_t timeoutMs);
    // Waits for the end of a stopped thread and releases it.
    void join();
    bool running() const { return running_.load(); }

protected:
    explicit AudioThread(const char* name) : name_(name) {}
    ~AudioThread() = default;

    bool stopRequested() const { return stopRequested_.load(); }

private:
    // The thread body; returns when stopped or when its waits were cancelled.
    virtual void run() = 0;
    // Wakes the body from its unbounded waits; called by `stop`.
    virtual void wake() = 0;

    const char* name_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::mutex endMutex_;
    std::condition_variable ended_;
};

// The pane's `AudioDecoder` thread: waits for a received frame without a time
// limit, decodes audio slot k into PCM slot k, hands the block to the player,
// gives the frame slot back to the receiver and moves on.
// Stopping cancels the queue's semaphores: stop the receiver and the player
// with it, and `reset` the queue before the next start.
class AudioDecoder : public AudioThread {
public:
    explicit AudioDecoder(AudioQueue& queue) : AudioThread("AudioDecoder"), queue_(queue) {}
    ~AudioDecoder();

    uint64_t decodedFrames() const { return decodedFrames_.load(); }

private:
    void run() override;
    void wake() override { queue_.cancel(); }

    AudioQueue& queue_;
    AdpcmDecoder adpcm_;
    std::atomic<uint64_t> decodedFrames_{0};
};

// The pane's `AudioPlayer` thread: waits for a decoded block without a time
// limit, then for room in the shared output, and writes the block. The wait
// for room is a short poll of the stop request, because the output semaphore
// is shared with the other panes and cannot be cancelled for one of them.
class AudioPlayer : public AudioThread {
public:
    static constexpr uint32_t kRoomPollMs = 20;

    AudioPlayer(AudioQueue& queue, AudioOut& out)
        : AudioThread("AudioPlayer"), ring_(queue.pcm()), queue_(queue), out_(out) {}
    ~AudioPlayer();

    uint64_t playedBlocks() const { return playedBlocks_.load(); }

private:
    void run() override;
    void wake() override { queue_.cancel(); }

    PcmRing& ring_;
    AudioQueue& queue_;
    AudioOut& out_;
    std::atomic<uint64_t> playedBlocks_{0};
};

}  // namespace tess
