#pragma once

#include <atomic>
#include <cstdint>

#include "media/AudioQueue.h"
#include "media/FrameQueue.h"
#include "media/Framing.h"
#include "pane/PaneConnection.h"
#include "platform/Log.h"
#include "platform/TickCount.h"

namespace tess {

// What a receiver of one generation asks of its pane.
class ReceiverHooks {
public:
    virtual ~ReceiverHooks() = default;
    // The stream was lost: log in and negotiate again.
    virtual void restartConnection(uint32_t generation) = 0;
    // The stream ended or was refused: the pane shows its caption again.
    virtual void reportPictureLost(uint32_t generation) = 0;
    // The audio receiver's pause before it opens its stream again: waits up
    // to `milliseconds`; false (at once) when the receiver is to end instead,
    // because `stop` is set or the generation is over.
    virtual bool waitBeforeAudioReopen(uint32_t generation, uint32_t milliseconds,
                                       const std::atomic<bool>& stop) = 0;
};

// The number of consecutive bad frames a packet stream may show
// before it counts as lost: a window that stays misaligned would otherwise
// fail every frame start for ever while the device keeps streaming.
inline constexpr int kMaxConsecutiveBadFrames = 8;

// Frames a queue dropped, as one log line per pane at most every
// kDropSummaryPeriodMs: drops can come with every frame, a line must not.
// Lives on a receiver's stack; allocates nothing.
class DropSummary {
public:
    static constexpr uint32_t kDropSummaryPeriodMs = 5000;

    DropSummary(const char* what, uint64_t droppedSoFar)
        : what_(what), reported_(droppedSoFar), since_(tickCount()) {}

    // After each publish, with the queue's drop count.
    void update(const LogDeviceName& device, uint64_t dropped) {
        const uint32_t elapsed = ticksSince(since_);
        if (elapsed < kDropSummaryPeriodMs) return;
        if (dropped > reported_) {
            logLine(LogArea::Stream, LogLevel::Warning,
                    "%s: %llu %s frames dropped in the last %u s (the player fell behind)",
                    device.c_str(), static_cast<unsigned long long>(dropped - reported_), what_,
                    static_cast<unsigned>((elapsed + 500) / 1000));
        }
        reported_ = dropped;
        since_ = tickCount();
    }

private:
    const char* what_;
    uint64_t reported_;
    uint32_t since_;
};

// The body of a pane's VideoReceiver thread: opens the video stream of the
// session's published facts on the control link, cuts frames into the frame
// queue until the stream ends or `stop` is set, and reconnects after a lost
// stream.
void runVideoReceiver(PaneConnection& pane, uint32_t generation, FrameQueue& frames,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks);

// The body of a pane's AudioReceiver thread: opens the audio stream on the
// audio link and cuts two-packet frames into the audio queue. A frame that
// makes no sense is dropped and the stream goes on; a packet that cannot be
// cut leaves nothing to find the next frame by, so it reopens the audio
// stream alone (same session, no new login), at most once in the pane's
// audio reopen spacing.
void runAudioReceiver(PaneConnection& pane, uint32_t generation, AudioQueue& audio,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks);

}  // namespace tess
