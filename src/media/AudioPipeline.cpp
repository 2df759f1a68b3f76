#include "media/AudioPipeline.h"

namespace tess {

AudioDecoder::AudioDecoder(AudioQueue& queue)
    : queue_(queue),
      thread_(
          "AudioDecoder", [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] { queue_.cancel(); }) {}

void AudioDecoder::start() {
    adpcm_.restart();
    thread_.start();
}

void AudioDecoder::run(const WorkerThread::StopRequest& stop) {
    PcmRing& ring = queue_.pcm();
    while (!stop && queue_.waitFrame()) {
        if (!ring.waitRoom()) return;
        const size_t samples =
            adpcm_.decodeFrame(queue_.frame(), queue_.frameLength(), ring.writeSlot());
        ring.publish(samples);
        queue_.releaseFrame();
        ++decodedFrames_;
    }
}

AudioPlayer::AudioPlayer(AudioQueue& queue, AudioOut& out)
    : queue_(queue),
      out_(out),
      thread_(
          "AudioPlayer", [this](const WorkerThread::StopRequest& stop) { run(stop); },
          [this] { queue_.cancel(); }) {}

void AudioPlayer::run(const WorkerThread::StopRequest& stop) {
    play(stop);
    // The pane's sound ends with a fade, not a cut (unless another pane plays by now).
    out_.endStream(this);
}

void AudioPlayer::play(const WorkerThread::StopRequest& stop) {
    PcmRing& ring = queue_.pcm();
    while (!stop && ring.waitBlock()) {
        while (!out_.waitForRoom(kRoomPollMs)) {
            if (stop) return;
        }
        if (stop) {
            // The room taken goes back: nothing is written after a stop.
            out_.returnRoom();
            return;
        }
        // A refused block is skipped; the output has already given its room back.
        out_.writeBlock(ring.block(), this);
        ring.releaseBlock();
        ++playedBlocks_;
    }
}

}  // namespace tess
