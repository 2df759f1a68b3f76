#include "media/AudioPipeline.h"

#include <pthread.h>

#include <chrono>

namespace tess {

bool AudioThread::start() {
    if (running_.load()) return false;
    if (thread_.joinable()) thread_.join();
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), name_);
        run();
        std::lock_guard lock(endMutex_);
        running_ = false;
        ended_.notify_all();
    });
    return true;
}

bool AudioThread::stop(uint32_t timeoutMs) {
    stopRequested_ = true;
    if (!running_.load()) return true;
    wake();
    std::unique_lock lock(endMutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !running_.load(); });
}

void AudioThread::join() {
    if (thread_.joinable()) thread_.join();
}

AudioDecoder::~AudioDecoder() {
    stop(0);
    join();
}

void AudioDecoder::run() {
    adpcm_.restart();
    PcmRing& ring = queue_.pcm();
    while (queue_.waitFrame()) {
        if (!ring.waitRoom()) return;
        const size_t samples = adpcm_.decodeFrame(queue_.frame(), queue_.frameLength(),
                                                  ring.writeSlot());
        ring.publish(samples);
        queue_.releaseFrame();
        ++decodedFrames_;
        if (stopRequested()) return;
    }
}

AudioPlayer::~AudioPlayer() {
    stop(0);
    join();
}

void AudioPlayer::run() {
    while (ring_.waitBlock()) {
        while (!out_.waitForRoom(kRoomPollMs)) {
            if (stopRequested()) return;
        }
        // A refused block is skipped; the output has already given its room back.
        out_.writeBlock(ring_.block());
        ring_.releaseBlock();
        ++playedBlocks_;
        if (stopRequested()) return;
    }
}

}  // namespace tess
