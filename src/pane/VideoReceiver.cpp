#include "pane/StreamReceivers.h"

#include <functional>

#include "platform/TickCount.h"
#include "protocol/ControlMessage.h"
#include "protocol/ModelCodes.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

enum class LoopEnd { Stopped, Lost };

// Why a stream counted as lost, for the log.
struct Ending {
    LoopEnd end;
    const char* why = "";
};

// What a receiving loop works with.
struct VideoRun {
    PaneConnection& pane;
    const SessionFacts& facts;
    FrameQueue& frames;
    StreamPacket& window;
    const std::atomic<bool>& stop;
    // Tells the pane that the picture is gone.
    std::function<void()> pictureLost;

    // A whole frame was cut from the stream. A receiver the pane is already
    // stopping leaves the pane's frame age alone.
    void arrived(uint32_t bytes) const {
        if (!pane.stopping) pane.health.noteFrame(bytes);
    }
};

Ending runWholeFrameLoop(const VideoRun& run, WholeFrameLength rule) {
    PaneConnection& pane = run.pane;
    FrameQueue& frames = run.frames;
    StreamPacket& window = run.window;
    SocketByteSource source(pane.controlLink);
    StreamReader reader(source, pane.statistics.byteCount, pane.timings.streamReceiveMs);
    // Once for the stream, not per frame: the audio receiver's statistics
    // report counts every byte since its last report, video bytes included.
    pane.statistics.byteCount = 0;
    DropSummary drops("video", frames.droppedFrames());
    for (;;) {
        const FrameResult frame = reader.readWholeFrameVideo(window, frames.writeSlot(), rule);
        if (frame.status == FrameStatus::Ended) {
            run.pictureLost();
            return {LoopEnd::Lost, "ended"};
        }
        if (frame.status != FrameStatus::Ok) {
            // Without packet boundaries the next frame start cannot be found:
            // drain what the device still sends (bounded) and start anew.
            reader.resyncWholeFrame();
            return {LoopEnd::Lost, "out of step"};
        }
        run.arrived(frame.length);
        frames.publish(frame.length);
        drops.update(pane.deviceName, frames.droppedFrames());
        if (run.stop) return {LoopEnd::Stopped};
    }
}

Ending runPacketStreamLoop(const VideoRun& run) {
    PaneConnection& pane = run.pane;
    FrameQueue& frames = run.frames;
    StreamPacket& window = run.window;
    StreamStatistics& statistics = pane.statistics;
    SocketByteSource source(pane.controlLink);
    StreamReader reader(source, statistics.byteCount, pane.timings.streamReceiveMs);
    statistics.statsStart = tickCount();
    window.clear();
    int badFramesInARow = 0;
    DropSummary drops("video", frames.droppedFrames());
    for (;;) {
        if (ticksSince(statistics.statsStart) > pane.timings.statisticsPeriodMs) {
            sendStatistics(pane.datagramLink, run.facts.sessionIdText(), pane.localAddress,
                           statistics);
        }
        const FrameResult frame = reader.readPacketStreamVideo(window, frames.writeSlot());
        if (frame.status == FrameStatus::Ended) {
            run.pictureLost();
            return {LoopEnd::Lost, "ended"};
        }
        if (frame.status == FrameStatus::Ok) {
            badFramesInARow = 0;
            run.arrived(frame.length);
            frames.publish(frame.length);
            drops.update(pane.deviceName, frames.droppedFrames());
        } else {
            if (++badFramesInARow >= kMaxConsecutiveBadFrames) {
                return {LoopEnd::Lost, "out of step frame after frame"};
            }
            if (reader.resyncPacketStream() != ResyncStatus::Resynchronised) {
                return {LoopEnd::Lost, "out of step, no frame start found"};
            }
            logLine(LogArea::Stream, LogLevel::Warning,
                    "%s: bad video frame skipped; stream resynchronised", pane.deviceName.c_str());
        }
        if (run.stop) {
            run.pictureLost();
            return {LoopEnd::Stopped};
        }
    }
}

}  // namespace

void runVideoReceiver(PaneConnection& pane, uint32_t generation, FrameQueue& frames,
                      StreamPacket& window, const std::atomic<bool>& stop, ReceiverHooks& hooks) {
    const SessionFacts facts = pane.facts();
    auto pictureLost = [&hooks, generation] { hooks.reportPictureLost(generation); };
    const VideoRun run{pane, facts, frames, window, stop, pictureLost};
    const DeviceClassTraits traits = classTraits(facts.deviceClass);
    const std::string request =
        traits.videoStartByBody
            ? request::videoStartByBody(facts.sessionIdText(), pane.localAddress)
            : request::videoStartByUrl(facts.sessionIdText(), pane.localAddress);
    window.clear();

    SocketLink& link = pane.controlLink;
    link.setPeer(facts.host, facts.streamPort);
    if (!link.open(SocketType::Stream)) return;
    link.connect();
    if (!link.connected()) {
        link.close();
        logLine(LogArea::Stream, LogLevel::Warning, "%s: video stream port %d not reachable",
                pane.deviceName.c_str(), static_cast<int>(facts.streamPort));
        run.pictureLost();
        return;
    }
    link.send(request.data(), request.size());

    const Ending ending =
        traits.videoForm == VideoForm::PacketStream
            ? runPacketStreamLoop(run)
            : runWholeFrameLoop(run, traits.videoForm == VideoForm::WholeFrameCountingHeader
                                         ? WholeFrameLength::CountsHeader
                                         : WholeFrameLength::ExcludesHeader);
    link.close();

    // A receiver that was asked to stop never reconnects, whatever the flags say.
    if (ending.end == LoopEnd::Lost && !stop && !pane.stopping && pane.videoWanted) {
        logLine(LogArea::Stream, LogLevel::Warning, "%s: video stream lost (%s); reconnecting",
                pane.deviceName.c_str(), ending.why);
        sendConnectionClose(pane.datagramLink, facts.sessionIdText(), pane.localAddress,
                            pane.statistics);
        if (pane.audioWanted) pane.audioLink.interrupt();
        hooks.restartConnection(generation);
    }
}

}  // namespace tess
