#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "media/AudioOut.h"
#include "media/AudioPipeline.h"
#include "media/AudioQueue.h"
#include "media/FrameQueue.h"
#include "media/Framing.h"
#include "platform/AutoResetEvent.h"
#include "platform/WorkerThread.h"
#include "protocol/ConnectThread.h"
#include "protocol/LiveViewLayout.h"
#include "media/StreamReceivers.h"
#include "protocol/PaneConnection.h"

namespace tess {

// The live view's side of a pane, as its connection reports to it. Called
// from the pane's threads; the window reacts on its own thread.
class PaneListener : public RepaintTarget {
public:
    // The first login attempt (and every later one) has ended.
    virtual void loginFinished(bool loggedIn) = 0;
};

// The pane's render thread, owned by the window side. The runtime starts it
// with the pane and stops it with the pane.
class FrameConsumer {
public:
    virtual ~FrameConsumer() = default;
    virtual void startConsumer() = 0;
    virtual void requestConsumerStop() = 0;
    // True when the consumer has ended within `timeoutMs` (it is then released).
    virtual bool waitConsumerEnd(uint32_t timeoutMs) = 0;
};

// A stop request for one receiver thread: set by the stop routine or a toggle,
// looked at by the receiver between frames, cleared when a new receiver starts.
using StopFlag = std::atomic<bool>;

// The connection side of one picture pane: its session and links, its frame
// and audio queues, and its threads — connect, video receiver, audio receiver,
// audio decoder and audio player — plus the window side's render thread.
//
// startPane, stopPane, restartVideoReceiver and restartAudioReceiver are called
// by the live view on the GUI thread; restartConnection by a receiver whose
// stream was lost. Destruction ends every thread of the pane before its
// buffers go: unbounded waits are cancelled, receives interrupted, and every
// thread joined.
class PaneRuntime final : private ConnectHooks, public Reconnector {
public:
    static constexpr uint32_t kStopWaitMs = 500;
    static constexpr uint32_t kAudioRestartWaitMs = 2000;

    PaneRuntime(AudioOut& audioOut, PaneListener& listener, LiveViewLayout* layout);
    ~PaneRuntime() override;
    PaneRuntime(const PaneRuntime&) = delete;
    PaneRuntime& operator=(const PaneRuntime&) = delete;

    // The render thread; set once, before the first start.
    void setFrameConsumer(FrameConsumer* consumer) { consumer_ = consumer; }

    PaneConnection& connection() { return connection_; }
    SessionInfo& session() { return connection_.session; }
    FrameQueue& frames() { return frames_; }
    AudioQueue& audio() { return audio_; }
    AutoResetEvent& modelKnown() { return modelKnown_; }

    void startPane();
    void stopPane();
    void restartVideoReceiver();
    void restartAudioReceiver();
    // The audio/video toggles: stop one receiver (only while its link is open).
    void stopVideoReceiver();
    void stopAudioReceiver();
    // A receiver lost its stream: log in and negotiate again.
    void restartConnection() override;

    // Threads of this pane alive right now, the render thread not counted.
    int liveThreadCount();

private:
    using ThreadHandle = std::shared_ptr<WorkerThread>;

    // ConnectHooks, on the connect thread.
    void reportLogin(bool loggedIn) override {
        if (!connection_.closing) listener_.loginFinished(loggedIn);
    }
    void startStreams() override;
    bool waitBeforeRetry(uint32_t milliseconds) override;

    // Who starts a thread: the connection's own threads start nothing once the
    // pane is stopped, while the live view's toggles still may.
    enum class Starter { Connection, LiveView };

    void startConnectThread();
    void startVideoReceiver(Starter starter);
    void startAudioReceiver(Starter starter);
    bool mayStart(Starter starter) const;  // with threadsMutex_ held
    // Signals a thread's stop and waits up to 500 ms; drops the handle when ended.
    void stopAndWait(ThreadHandle& handle, StopFlag& stop);
    // Gives a receiver that is being replaced up to `waitMs` to end (when its
    // link is open), then cuts it off, and joins it.
    void endPreviousReceiver(ThreadHandle& handle, StopFlag& stop, SocketLink& link,
                             uint32_t waitMs);
    // Moves a handle that is replaced without waiting to the retired threads.
    void retire(ThreadHandle& handle);
    void reapRetired();
    // Wakes every wait of every thread of the pane and joins them all.
    void endAllThreads();

    PaneConnection connection_;
    AudioOut& audioOut_;
    PaneListener& listener_;
    LiveViewLayout* layout_;
    FrameConsumer* consumer_ = nullptr;

    FrameQueue frames_;
    AudioQueue audio_;
    StreamPacket videoWindow_;
    StreamPacket audioWindow_;
    AutoResetEvent modelKnown_;
    AutoResetEvent abortRetry_;
    StopFlag videoStop_{false};
    StopFlag audioStop_{false};
    AudioDecoder decoder_;
    AudioPlayer player_;

    std::mutex threadsMutex_;  // guards the handles below; never held while waiting
    ThreadHandle connectThread_;
    ThreadHandle videoReceiver_;
    ThreadHandle audioReceiver_;
    std::vector<ThreadHandle> retired_;
    // Set by stopPane, cleared by startPane: a connect thread still logging in
    // or sleeping before a retry then neither streams nor retries.
    std::atomic<bool> stopped_{false};
    std::atomic<int> liveThreads_{0};
};

}  // namespace tess
