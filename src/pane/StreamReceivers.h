#pragma once

#include <atomic>
#include <cstdint>

#include "media/AudioQueue.h"
#include "media/FrameQueue.h"
#include "media/Framing.h"
#include "pane/PaneConnection.h"

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

// An audio packet that cannot be cut leaves nothing to find the next frame
// by, so the audio stream is opened again (same session, no new login); at
// most once in this time.
inline constexpr uint32_t kAudioReopenSpacingMs = 3000;

// The number of consecutive bad frames a packet stream may show
// before it counts as lost: a window that stays misaligned would otherwise
// fail every frame start for ever while the device keeps streaming.
inline constexpr int kMaxConsecutiveBadFrames = 8;

// The body of a pane's VideoReceiver thread: opens the video stream of the
// session's published facts on the control link, cuts frames into the frame
// queue until the stream ends or `stop` is set, and reconnects after a lost
// stream.
void runVideoReceiver(PaneConnection& pane, uint32_t generation, FrameQueue& frames,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks);

// The body of a pane's AudioReceiver thread: opens the audio stream on the
// audio link and cuts two-packet frames into the audio queue. A frame that
// makes no sense is dropped and the stream goes on; a packet that cannot be
// cut reopens the audio stream alone.
void runAudioReceiver(PaneConnection& pane, uint32_t generation, AudioQueue& audio,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks);

}  // namespace tess
