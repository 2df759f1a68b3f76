#include "media/PaneRuntime.h"

#include <algorithm>
#include <utility>

#include "protocol/ControlMessage.h"
#include "protocol/ModelCodes.h"

namespace tess {

PaneRuntime::PaneRuntime(AudioOut& audioOut, PaneListener& listener, LiveViewLayout* layout)
    : audioOut_(audioOut),
      listener_(listener),
      layout_(layout),
      decoder_(audio_),
      player_(audio_, audioOut_) {
    connection_.window = &listener_;
    connection_.session.localAddress = localAddressText();
}

PaneRuntime::~PaneRuntime() { endAllThreads(); }

void PaneRuntime::startPane() {
    // A thread left running by an earlier stop would share the queues and
    // links with the new ones: end them all before anything is reset.
    endAllThreads();
    frames_.reset();
    audio_.reset();
    modelKnown_.reset();
    abortRetry_.reset();

    SessionInfo& session = connection_.session;
    session.stopping = true;
    session.channel = 0;
    channelMenuWanted = false;

    stopped_ = false;
    startConnectThread();
    if (consumer_) consumer_->startConsumer();
    decoder_.start();
    player_.start();
}

void PaneRuntime::stopPane() {
    {
        // From here on the connection starts no thread: a receiver started
        // before is seen (and stopped) below.
        std::lock_guard lock(threadsMutex_);
        stopped_ = true;
    }
    abortRetry_.set();
    SessionInfo& session = connection_.session;
    session.stopping = true;
    if (classTraits(session.deviceClass).closeOnStop) sendConnectionClose(connection_);
    connection_.datagramLink.close();

    if (consumer_) {
        consumer_->requestConsumerStop();
        consumer_->waitConsumerEnd(kStopWaitMs);
    }
    stopAndWait(videoReceiver_, videoStop_);
    player_.stop(kStopWaitMs);
    decoder_.stop(kStopWaitMs);
    stopAndWait(audioReceiver_, audioStop_);
    // The connect thread is left alone: it ends after its current attempt,
    // without streaming or retrying.
}

void PaneRuntime::stopAndWait(ThreadHandle& handle, StopFlag& stop) {
    ThreadHandle thread;
    {
        std::lock_guard lock(threadsMutex_);
        thread = handle;
    }
    if (!thread) return;
    stop = true;
    if (!thread->waitFor(kStopWaitMs)) return;
    std::lock_guard lock(threadsMutex_);
    if (handle == thread) handle.reset();
}

void PaneRuntime::stopVideoReceiver() {
    if (connection_.controlLink.isOpen()) videoStop_ = true;
}

void PaneRuntime::stopAudioReceiver() {
    if (connection_.audioLink.isOpen()) audioStop_ = true;
}

void PaneRuntime::endPreviousReceiver(ThreadHandle& handle, StopFlag& stop, SocketLink& link,
                                      uint32_t waitMs) {
    ThreadHandle previous;
    {
        std::lock_guard lock(threadsMutex_);
        previous = std::exchange(handle, nullptr);
    }
    if (previous && link.isOpen() && !previous->waitFor(waitMs)) {
        // Two receivers must never share a link and a queue: one that did
        // not end in time is cut off and awaited.
        stop = true;
        link.interrupt();
    }
}  // the last reference joins the previous receiver

void PaneRuntime::restartVideoReceiver() {
    endPreviousReceiver(videoReceiver_, videoStop_, connection_.controlLink, kStopWaitMs);
    startVideoReceiver(Starter::LiveView);
}

void PaneRuntime::restartAudioReceiver() {
    endPreviousReceiver(audioReceiver_, audioStop_, connection_.audioLink, kStopWaitMs);
    startAudioReceiver(Starter::LiveView);
}

void PaneRuntime::restartConnection() {
    connection_.session.streamPort = connection_.session.devicePort;
    startConnectThread();
}

void PaneRuntime::startStreams() {
    SessionInfo& session = connection_.session;
    if (stopped_) {
        // Logged in after the stop: the login set keepRetrying again.
        session.keepRetrying = false;
        return;
    }
    if (session.stopping) {
        connection_.datagramLink.setPeer(session.host, session.devicePort);
        connection_.datagramLink.open(SocketType::Datagram);
        session.stopping = false;
    }
    if (session.videoWanted) startVideoReceiver(Starter::Connection);
    if (session.audioWanted) {
        endPreviousReceiver(audioReceiver_, audioStop_, connection_.audioLink,
                            kAudioRestartWaitMs);
        startAudioReceiver(Starter::Connection);
    }
}

bool PaneRuntime::waitBeforeRetry(uint32_t milliseconds) {
    return !abortRetry_.waitFor(milliseconds) && !connection_.closing && !stopped_;
}

bool PaneRuntime::mayStart(Starter starter) const {
    return !connection_.closing && !(starter == Starter::Connection && stopped_);
}

void PaneRuntime::startConnectThread() {
    std::lock_guard lock(threadsMutex_);
    if (!mayStart(Starter::Connection)) return;
    reapRetired();
    retire(connectThread_);
    ++liveThreads_;
    connectThread_ = std::make_shared<WorkerThread>("ConnectThread", [this] {
        runConnectThread(connection_, layout_, modelKnown_, *this);
        --liveThreads_;
    });
}

void PaneRuntime::startVideoReceiver(Starter starter) {
    std::lock_guard lock(threadsMutex_);
    if (!mayStart(starter)) return;
    reapRetired();
    // The receiver that lost its stream is the one asking for the new one: it
    // is still finishing, so it is retired rather than awaited.
    retire(videoReceiver_);
    videoStop_ = false;
    ++liveThreads_;
    videoReceiver_ = std::make_shared<WorkerThread>("VideoReceiver", [this] {
        runVideoReceiver(connection_, frames_, videoWindow_, videoStop_, *this);
        --liveThreads_;
    });
}

void PaneRuntime::startAudioReceiver(Starter starter) {
    std::lock_guard lock(threadsMutex_);
    if (!mayStart(starter)) return;
    reapRetired();
    retire(audioReceiver_);
    audioStop_ = false;
    ++liveThreads_;
    audioReceiver_ = std::make_shared<WorkerThread>("AudioReceiver", [this] {
        runAudioReceiver(connection_, audio_, audioWindow_, audioStop_, *this);
        --liveThreads_;
    });
}

void PaneRuntime::retire(ThreadHandle& handle) {
    if (handle) retired_.push_back(std::move(handle));
    handle.reset();
}

void PaneRuntime::reapRetired() {
    std::erase_if(retired_, [](const ThreadHandle& thread) {
        return !thread->isCurrentThread() && thread->finished();
    });
}

int PaneRuntime::liveThreadCount() {
    return liveThreads_.load() + (decoder_.running() ? 1 : 0) + (player_.running() ? 1 : 0);
}

void PaneRuntime::endAllThreads() {
    SessionInfo& session = connection_.session;
    {
        // From here on no thread of this pane starts another one.
        std::lock_guard lock(threadsMutex_);
        connection_.closing = true;
    }
    session.keepRetrying = false;
    session.stopping = true;
    abortRetry_.set();
    videoStop_ = true;
    audioStop_ = true;
    connection_.controlLink.interrupt();
    connection_.audioLink.interrupt();
    frames_.cancel();
    audio_.cancel();
    if (consumer_) {
        consumer_->requestConsumerStop();
        consumer_->waitConsumerEnd(UINT32_MAX);
    }
    player_.stop(0);
    decoder_.stop(0);
    player_.join();
    decoder_.join();

    // Receivers may start a connect thread as they end, and a connect thread
    // may start receivers: collect until no handle is left.
    for (;;) {
        std::vector<ThreadHandle> threads;
        {
            std::lock_guard lock(threadsMutex_);
            for (ThreadHandle* handle : {&connectThread_, &videoReceiver_, &audioReceiver_})
                if (*handle) threads.push_back(std::move(*handle));
            for (ThreadHandle& thread : retired_) threads.push_back(std::move(thread));
            connectThread_.reset();
            videoReceiver_.reset();
            audioReceiver_.reset();
            retired_.clear();
        }
        if (threads.empty()) break;
        for (ThreadHandle& thread : threads) {
            connection_.controlLink.interrupt();
            connection_.audioLink.interrupt();
            thread->join();
        }
    }
    connection_.controlLink.close();
    connection_.audioLink.close();
    connection_.closing = false;
}

}  // namespace tess
