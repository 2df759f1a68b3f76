#include "media/StreamReceivers.h"

#include "platform/TickCount.h"
#include "protocol/ControlMessage.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

constexpr uint32_t kStatisticsPeriodMs = 2000;

// Reads frames until the stream ends or a stop is requested; true when stopped.
bool receiveAudioFrames(PaneConnection& pane, AudioQueue& audio, StreamPacket& window,
                        const std::atomic<bool>& stop) {
    SessionInfo& session = pane.session;
    SocketByteSource source(pane.audioLink);
    StreamReader reader(source, session.byteCount);
    window.clear();
    for (;;) {
        if (ticksSince(session.statsStart) > kStatisticsPeriodMs) sendStatistics(pane);
        const bool toPlayer = session.audioToPlayer;
        const FrameResult frame = reader.readAudio(window, audio.writeSlot(), toPlayer);
        // Audio has no resynchronisation rule: a stream that cannot be cut is lost.
        if (frame.status == FrameStatus::Ended || frame.status == FrameStatus::FramingError ||
            frame.status == FrameStatus::BadStart)
            return false;
        if (frame.status == FrameStatus::Ok && toPlayer) audio.publish(frame.length);
        if (stop) return true;
    }
}

}  // namespace

void runAudioReceiver(PaneConnection& pane, AudioQueue& audio, StreamPacket& window,
                      const std::atomic<bool>& stop, Reconnector& reconnector) {
    SessionInfo& session = pane.session;
    const std::string request =
        request::audioStart(session.sessionIdText(), session.localAddress);

    SocketLink& link = pane.audioLink;
    link.setPeer(session.host, session.streamPort);
    link.open(SocketType::Stream);
    link.connect();
    if (!link.connected()) {
        link.close();
        return;
    }
    link.send(request.data(), request.size());
    if (!session.videoWanted) session.statsStart = tickCount();

    const bool stopped = receiveAudioFrames(pane, audio, window, stop);
    link.close();
    // With video the video receiver looks after reconnecting.
    if (stopped || session.videoWanted || session.stopping) return;
    sendConnectionClose(pane);
    reconnector.restartConnection();
}

}  // namespace tess
