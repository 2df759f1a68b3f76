#pragma once

#include <atomic>
#include <cstdint>

#include "media/AdpcmDecoder.h"
#include "media/AudioOut.h"
#include "media/AudioQueue.h"
#include "platform/WorkerThread.h"

namespace tess {

// The pane's `AudioDecoder` thread: waits for a received frame without a time
// limit, decodes audio slot k into PCM slot k, hands the block to the player,
// gives the frame slot back to the receiver and moves on.
//
// start() and requestStop() return at once; join() waits for the end. A stop
// cancels the queue's semaphores, which wakes the receiver and the player of
// the pane too: they are stopped together, and the queue is `reset` before
// the next start.
class AudioDecoder {
public:
    explicit AudioDecoder(AudioQueue& queue);

    void start();
    void requestStop() { thread_.requestStop(); }
    void join() { thread_.join(); }
    bool running() const { return thread_.running(); }
    uint64_t decodedFrames() const { return decodedFrames_.load(); }

private:
    void run(const WorkerThread::StopRequest& stop);

    AudioQueue& queue_;
    AdpcmDecoder adpcm_;
    std::atomic<uint64_t> decodedFrames_{0};
    WorkerThread thread_;  // last: ends before the rest goes
};

// The pane's `AudioPlayer` thread: waits for a decoded block without a time
// limit, then for room in the shared output, and writes the block. The wait
// for room is a short poll of the stop request, because the output semaphore
// is shared with the other panes and cannot be cancelled for one of them.
// A stopped player writes no further block, and ends its stream at the
// output: what is left of it fades out.
class AudioPlayer {
public:
    static constexpr uint32_t kRoomPollMs = 20;

    AudioPlayer(AudioQueue& queue, AudioOut& out);

    void start() { thread_.start(); }
    void requestStop() { thread_.requestStop(); }
    void join() { thread_.join(); }
    bool running() const { return thread_.running(); }
    uint64_t playedBlocks() const { return playedBlocks_.load(); }

private:
    void run(const WorkerThread::StopRequest& stop);
    void play(const WorkerThread::StopRequest& stop);

    AudioQueue& queue_;
    AudioOut& out_;
    std::atomic<uint64_t> playedBlocks_{0};
    WorkerThread thread_;
};

}  // namespace tess
