#include "media/StreamReceivers.h"

#include "platform/TickCount.h"
#include "protocol/ControlMessage.h"
#include "protocol/ModelCodes.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

constexpr uint32_t kStatisticsPeriodMs = 2000;

enum class LoopEnd { Stopped, Lost };

LoopEnd runWholeFrameLoop(PaneConnection& pane, FrameQueue& frames, StreamPacket& window,
                          const std::atomic<bool>& stop, WholeFrameLength rule) {
    SessionInfo& session = pane.session;
    SocketByteSource source(pane.controlLink);
    StreamReader reader(source, session.byteCount);
    for (;;) {
        session.byteCount = 0;
        const FrameResult frame = reader.readWholeFrameVideo(window, frames.writeSlot(), rule);
        if (frame.status == FrameStatus::Ended) {
            pane.requestRepaint();
            return LoopEnd::Lost;
        }
        if (frame.status != FrameStatus::Ok) {
            // Without packet boundaries the next frame start cannot be found:
            // drain what the device still sends (bounded) and start anew.
            reader.resyncWholeFrame();
            return LoopEnd::Lost;
        }
        frames.publish(frame.length);
        if (stop) return LoopEnd::Stopped;
    }
}

LoopEnd runPacketStreamLoop(PaneConnection& pane, FrameQueue& frames, StreamPacket& window,
                            const std::atomic<bool>& stop) {
    SessionInfo& session = pane.session;
    SocketByteSource source(pane.controlLink);
    StreamReader reader(source, session.byteCount);
    session.statsStart = tickCount();
    window.clear();
    int badFramesInARow = 0;
    for (;;) {
        if (ticksSince(session.statsStart) > kStatisticsPeriodMs) sendStatistics(pane);
        const FrameResult frame = reader.readPacketStreamVideo(window, frames.writeSlot());
        if (frame.status == FrameStatus::Ended) {
            pane.requestRepaint();
            return LoopEnd::Lost;
        }
        if (frame.status == FrameStatus::Ok) {
            badFramesInARow = 0;
            frames.publish(frame.length);
        } else {
            if (++badFramesInARow >= kMaxConsecutiveBadFrames) return LoopEnd::Lost;
            if (reader.resyncPacketStream() != ResyncStatus::Resynchronised) return LoopEnd::Lost;
        }
        if (stop) {
            pane.requestRepaint();
            return LoopEnd::Stopped;
        }
    }
}

}  // namespace

void runVideoReceiver(PaneConnection& pane, FrameQueue& frames, StreamPacket& window,
                      const std::atomic<bool>& stop, Reconnector& reconnector) {
    SessionInfo& session = pane.session;
    const DeviceClassTraits traits = classTraits(session.deviceClass);
    const std::string request =
        traits.videoStartByBody
            ? request::videoStartByBody(session.sessionIdText(), session.localAddress)
            : request::videoStartByUrl(session.sessionIdText(), session.localAddress);
    window.clear();

    SocketLink& link = pane.controlLink;
    link.setPeer(session.host, session.streamPort);
    if (!link.open(SocketType::Stream)) return;
    link.connect();
    if (!link.connected()) {
        link.close();
        pane.requestRepaint();
        return;
    }
    link.send(request.data(), request.size());

    const LoopEnd end =
        traits.videoForm == VideoForm::PacketStream
            ? runPacketStreamLoop(pane, frames, window, stop)
            : runWholeFrameLoop(pane, frames, window, stop,
                                traits.videoForm == VideoForm::WholeFrameCountingHeader
                                    ? WholeFrameLength::CountsHeader
                                    : WholeFrameLength::ExcludesHeader);
    link.close();

    // A receiver that was asked to stop never reconnects, whatever the flags say.
    if (end == LoopEnd::Lost && !stop && !session.stopping && session.videoWanted) {
        sendConnectionClose(pane);
        if (session.audioWanted) pane.audioLink.interrupt();
        reconnector.restartConnection();
    }
}

}  // namespace tess
