#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/AudioOut.h"
#include "media/AudioPipeline.h"
#include "media/AudioQueue.h"
#include "media/FrameQueue.h"
#include "media/Framing.h"
#include "pane/ConnectThread.h"
#include "pane/PaneConnection.h"
#include "pane/PaneEvents.h"
#include "pane/PaneTimings.h"
#include "pane/StreamReceivers.h"
#include "platform/TaskQueue.h"
#include "platform/WorkerThread.h"
#include "protocol/DeviceCommand.h"

namespace tess {

// The pane's render thread, owned by the window side; the runtime starts it
// with the pane's threads and ends it with them.
class FrameConsumer {
public:
    virtual ~FrameConsumer() = default;
    // On the pane's reaper, once the previous run has been joined.
    virtual void startConsumer() = 0;
    // Any thread; returns at once. From here on the consumer shows nothing.
    virtual void requestConsumerStop() = 0;
    // On the pane's reaper, or in the runtime's destructor.
    virtual void joinConsumer() = 0;
};

// The connection side of one picture pane: its connection and its threads —
// connect, video receiver, audio receiver, audio decoder and audio player,
// plus the window side's render thread — and its command worker.
//
// The GUI thread never waits here. startPane, stopPane and the receiver
// restarts signal what has to end and return at once; a per-pane reaper
// thread joins the ended threads and only then starts what replaces them, so
// threads of two starts never share a link or a queue. Every start and stop
// begins a new generation: from then on the threads of earlier generations
// publish nothing, report nothing and start nothing. The destructor ends and
// joins every thread before the buffers go.
class PaneRuntime final : private ConnectHooks, private ReceiverHooks {
public:
    // The pane keeps to `timings`, which must outlive it.
    PaneRuntime(int paneNumber, AudioOut& audioOut, PaneEvents& events,
                const PaneTimings& timings = kProductTimings);
    ~PaneRuntime() override;
    PaneRuntime(const PaneRuntime&) = delete;
    PaneRuntime& operator=(const PaneRuntime&) = delete;

    // The render thread; set once, before the first start.
    void setFrameConsumer(FrameConsumer* consumer) { consumer_ = consumer; }

    PaneConnection& connection() { return connection_; }
    FrameQueue& frames() { return frames_; }
    AudioQueue& audio() { return audio_; }
    // A copy of the session's facts; empty from a start until the negotiation.
    SessionFacts facts() const { return connection_.facts(); }
    PaneStamp stamp() const { return {paneNumber_, connection_.generation()}; }
    // The pane's statistics record as read now, with the frame queue's drops;
    // the render side's picture-slot skips are left at 0. Any thread.
    PaneHealth health() const {
        PaneHealth reading = connection_.health.read(connection_.videoWanted);
        reading.receiverDrops = frames_.droppedFrames();
        return reading;
    }

    // GUI thread; each returns at once.
    // Starts the pane on `login` once the threads of earlier starts have
    // ended; drops the queued commands. The new generation.
    uint32_t startPane(const LoginData& login);
    // Tells the device "Connection: Close" (packet-stream classes), closes
    // the datagram link and stops every thread; drops the queued commands.
    void stopPane();
    // The audio/video toggles, for a pane whose streams have started (before,
    // the connect thread starts what is wanted): a new receiver starts once
    // the one it replaces has ended; the stops end a receiver whose link is
    // open.
    void restartVideoReceiver();
    void restartAudioReceiver();
    void stopVideoReceiver();
    void stopAudioReceiver();
    // Queues `command` for the pane's command worker; its outcome comes back
    // as commandFinished unless the pane starts or stops before.
    void queueCommand(DeviceCommand command);

    // Threads of this pane that run right now, the render thread not counted.
    int liveThreadCount();

private:
    using Thread = std::unique_ptr<WorkerThread>;

    // ConnectHooks, on the connect thread.
    void reportLogin(uint32_t generation, bool loggedIn) override;
    void reportModel(uint32_t generation, int32_t deviceClass) override;
    void reportFailure(uint32_t generation, RequestResult result) override;
    void startStreams(uint32_t generation, SessionFacts facts, int32_t channelAtStart) override;
    bool waitBeforeRetry(uint32_t generation, uint32_t milliseconds) override;
    // ReceiverHooks, on a receiver thread.
    void restartConnection(uint32_t generation) override;
    void reportPictureLost(uint32_t generation) override;
    bool waitBeforeAudioReopen(uint32_t generation, uint32_t milliseconds,
                               const std::atomic<bool>& stop) override;

    // With threadsMutex_ held: begins a generation and asks every thread of
    // the pane to end, waking whatever it waits in.
    uint32_t endGeneration();
    // On the reaper, after endGeneration(): joins every thread asked to end.
    void joinEnded();
    // On the reaper: joins the connect threads and receivers replaced so far.
    void joinRetired();
    // On the reaper: starts generation `generation` unless it is over.
    void launch(uint32_t generation, const LoginData& login);
    bool isCurrent(uint32_t generation) const { return generation == connection_.generation(); }
    // With threadsMutex_ held: the session's streams have started and no
    // connect thread is logging in again.
    bool streaming() const { return !connecting_ && !connection_.stopping; }
    // With threadsMutex_ held and the generation current: retires the
    // thread in `slot` and starts `body` there as `name`.
    void startThread(Thread& slot, const char* name, WorkerThread::Body body,
                     std::function<void()> wake = {});
    void startConnectThread(uint32_t generation);
    void startVideoReceiver(uint32_t generation);
    void startAudioReceiver(uint32_t generation);
    // Asks a thread to end and hands it to the reaper.
    void retire(Thread& thread);
    // Takes a receiver out of its slot, asking it to end; the reaper then
    // starts its successor.
    void replaceReceiver(Thread& slot, void (PaneRuntime::*start)(uint32_t));
    void dropCommands();

    const int paneNumber_;
    PaneEvents& events_;
    PaneConnection connection_;
    FrameConsumer* consumer_ = nullptr;

    FrameQueue frames_;
    AudioQueue audio_;
    StreamPacket videoWindow_;
    StreamPacket audioWindow_;
    AudioDecoder decoder_;
    AudioPlayer player_;

    // Guards the thread slots and the generation changes; never held while
    // waiting for a thread.
    std::mutex threadsMutex_;
    std::condition_variable generationChanged_;
    Thread connectThread_;
    Thread videoReceiver_;
    Thread audioReceiver_;
    std::vector<Thread> retired_;
    // Wakes the audio receiver's pause before a reopen when it is asked to
    // end; its own lock, because stops are requested with threadsMutex_ held.
    std::mutex reopenMutex_;
    std::condition_variable reopenWake_;
    // From the start of a connect thread until it starts the streams: a lost
    // stream then needs no new one.
    bool connecting_ = false;
    std::atomic<int> liveThreads_{0};

    // The command worker's own: its link, and the memory of the start its
    // commands belong to.
    SocketLink commandLink_;
    CommandMemory commandMemory_;
    uint32_t memoryGeneration_ = 0;
    // Last: they end first, the reaper joining what is left.
    TaskQueue commands_{"PaneCommands"};
    TaskQueue reaper_{"PaneReaper"};
};

}  // namespace tess
