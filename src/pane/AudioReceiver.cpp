#include "pane/StreamReceivers.h"

#include "platform/TickCount.h"
#include "protocol/ControlMessage.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

constexpr uint32_t kStatisticsPeriodMs = 2000;

// Reads frames until the stream ends or a stop is requested; true when stopped.
bool receiveAudioFrames(PaneConnection& pane, std::string_view sessionId, AudioQueue& audio,
                        StreamPacket& window, const std::atomic<bool>& stop) {
    StreamStatistics& statistics = pane.statistics;
    SocketByteSource source(pane.audioLink);
    StreamReader reader(source, statistics.byteCount);
    window.clear();
    for (;;) {
        if (ticksSince(statistics.statsStart) > kStatisticsPeriodMs) {
            sendStatistics(pane.datagramLink, sessionId, pane.localAddress, statistics);
        }
        const bool toPlayer = pane.audioToPlayer;
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

void runAudioReceiver(PaneConnection& pane, uint32_t generation, AudioQueue& audio,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks) {
    const SessionFacts facts = pane.facts();
    const std::string request = request::audioStart(facts.sessionIdText(), pane.localAddress);

    SocketLink& link = pane.audioLink;
    link.setPeer(facts.host, facts.streamPort);
    link.open(SocketType::Stream);
    link.connect();
    if (!link.connected()) {
        link.close();
        return;
    }
    link.send(request.data(), request.size());
    if (!pane.videoWanted) pane.statistics.statsStart = tickCount();

    const bool stopped = receiveAudioFrames(pane, facts.sessionIdText(), audio, window, stop);
    link.close();
    // With video the video receiver looks after reconnecting.
    if (stopped || stop || pane.videoWanted || pane.stopping) return;
    sendConnectionClose(pane.datagramLink, facts.sessionIdText(), pane.localAddress,
                        pane.statistics);
    hooks.restartConnection(generation);
}

}  // namespace tess
