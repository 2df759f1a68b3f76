#include "pane/StreamReceivers.h"

#include "platform/TickCount.h"
#include "protocol/CgiExchange.h"
#include "protocol/ControlMessage.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

enum class AudioEnd {
    Stopped,     // a stop was requested
    Lost,        // a receive failed, or the stream could not be opened
    Uncuttable,  // a packet that cannot be cut: open the stream again
};

// Reads frames until the stream ends, cannot be cut or a stop is requested.
AudioEnd receiveAudioFrames(PaneConnection& pane, std::string_view sessionId, AudioQueue& audio,
                            StreamPacket& packet, const std::atomic<bool>& stop) {
    StreamStatistics& statistics = pane.statistics;
    SocketByteSource source(pane.audioLink);
    StreamReader reader(source, statistics.byteCount, pane.timings.streamReceiveMs);
    packet.clear();
    DropSummary drops("audio", audio.droppedFrames());
    for (;;) {
        if (ticksSince(statistics.statsStart) > pane.timings.statisticsPeriodMs) {
            sendStatistics(pane.datagramLink, sessionId, pane.localAddress, statistics);
        }
        const bool toPlayer = pane.audioToPlayer;
        const FrameResult frame = reader.readAudio(packet, audio.writeSlot(), toPlayer);
        switch (frame.status) {
            case FrameStatus::Ended: return AudioEnd::Lost;
            case FrameStatus::FramingError: return AudioEnd::Uncuttable;
            case FrameStatus::Ok:
                if (toPlayer) {
                    audio.publish(frame.length);
                    drops.update(pane.deviceName, audio.droppedFrames());
                }
                break;
            case FrameStatus::BadStart:
            case FrameStatus::Dropped:
                // Audio frames are not checked beyond their two packets: one that
                // makes no sense is skipped and the next one played.
                break;
        }
        if (stop) return AudioEnd::Stopped;
    }
}

// Opens the audio stream and sends the audio start; false when it cannot.
bool openAudioStream(PaneConnection& pane, const SessionFacts& facts, const std::string& request) {
    return connectAndSend(pane.audioLink, facts.host, facts.streamPort, request);
}

}  // namespace

void runAudioReceiver(PaneConnection& pane, uint32_t generation, AudioQueue& audio,
                      StreamPacket& packet, const std::atomic<bool>& stop, ReceiverHooks& hooks) {
    const SessionFacts facts = pane.facts();
    const std::string request = request::audioStart(facts.sessionIdText(), pane.localAddress);

    // The first opening fails silently: audio is an extra, and the video
    // receiver (or the next login) looks after the connection.
    if (!openAudioStream(pane, facts, request)) return;
    if (!pane.videoWanted) pane.statistics.statsStart = tickCount();

    AudioEnd end = AudioEnd::Lost;
    for (;;) {
        const uint32_t openedAt = tickCount();
        end = receiveAudioFrames(pane, facts.sessionIdText(), audio, packet, stop);
        pane.audioLink.close();
        if (end != AudioEnd::Uncuttable || stop || pane.stopping) break;
        logLine(LogArea::Audio, LogLevel::Warning,
                "%s: audio packet out of step; opening the audio stream again",
                pane.deviceName.c_str());
        const uint32_t since = ticksSince(openedAt);
        const uint32_t spacing = pane.timings.audioReopenSpacingMs;
        if (since < spacing && !hooks.waitBeforeAudioReopen(generation, spacing - since, stop)) {
            return;
        }
        if (!openAudioStream(pane, facts, request)) {
            end = AudioEnd::Lost;
            break;
        }
    }
    // With video the video receiver looks after reconnecting.
    if (end == AudioEnd::Stopped || stop || pane.videoWanted || pane.stopping) return;
    logLine(LogArea::Audio, LogLevel::Warning, "%s: audio stream lost; reconnecting",
            pane.deviceName.c_str());
    sendConnectionClose(pane.datagramLink, facts.sessionIdText(), pane.localAddress,
                        pane.statistics);
    hooks.restartConnection(generation);
}

}  // namespace tess
