#pragma once

#include <atomic>

#include "media/AudioQueue.h"
#include "media/FrameQueue.h"
#include "media/Framing.h"
#include "protocol/PaneConnection.h"

namespace tess {

// What a receiver that lost its stream asks of its pane.
class Reconnector {
public:
    virtual ~Reconnector() = default;
    virtual void restartConnection() = 0;
};

// The number of consecutive bad frames a packet stream may show
// before it counts as lost: a window that stays misaligned would otherwise
// fail every frame start for ever while the device keeps streaming.
inline constexpr int kMaxConsecutiveBadFrames = 8;

// The body of a pane's VideoReceiver thread: opens the video stream on the
// control link, cuts frames into the frame queue until the stream ends or
// `stop` is set, and reconnects after a lost stream.
void runVideoReceiver(PaneConnection& pane, FrameQueue& frames, StreamPacket& window,
                      const std::atomic<bool>& stop, Reconnector& reconnector);

// The body of a pane's AudioReceiver thread: opens the audio stream on the
// audio link and cuts two-packet frames into the audio queue.
void runAudioReceiver(PaneConnection& pane, AudioQueue& audio, StreamPacket& window,
                      const std::atomic<bool>& stop, Reconnector& reconnector);

}  // namespace tess
