#include "pane/PaneRuntime.h"

#include <chrono>
#include <utility>

#include "protocol/ControlMessage.h"
#include "protocol/ModelCodes.h"

namespace tess {

PaneRuntime::PaneRuntime(int paneNumber, AudioOut& audioOut, PaneEvents& events,
                         const PaneTimings& timings)
    : paneNumber_(paneNumber),
      events_(events),
      connection_(localAddressText(), timings),
      decoder_(audio_),
      player_(audio_, audioOut) {
    commandLink_.setConnectTimeout(timings.connectTimeoutMs);
}

PaneRuntime::~PaneRuntime() {
    {
        std::lock_guard lock(threadsMutex_);
        endGeneration();
    }
    dropCommands();
    // The reaper may be joining too; whatever it holds it joins before the
    // members below go, since it is destroyed first.
    joinEnded();
}

uint32_t PaneRuntime::startPane(const LoginData& login) {
    uint32_t generation;
    {
        std::lock_guard lock(threadsMutex_);
        generation = endGeneration();
        reaper_.post([this, generation, login] {
            joinEnded();
            launch(generation, login);
        });
    }
    dropCommands();
    return generation;
}

void PaneRuntime::stopPane() {
    const SessionFacts facts = connection_.facts();
    if (classTraits(facts.deviceClass).closeOnStop) {
        sendConnectionClose(connection_.datagramLink, facts.sessionIdText(),
                            connection_.localAddress, connection_.statistics);
    }
    connection_.datagramLink.close();
    {
        std::lock_guard lock(threadsMutex_);
        endGeneration();
        reaper_.post([this] { joinEnded(); });
    }
    dropCommands();
}

uint32_t PaneRuntime::endGeneration() {
    const uint32_t generation = connection_.beginGeneration();
    connection_.keepRetrying = false;
    connection_.stopping = true;
    connection_.health.markStopped();
    connection_.controlLink.cancel();
    connection_.audioLink.cancel();
    connection_.datagramLink.cancel();
    frames_.cancel();
    audio_.cancel();
    if (consumer_) consumer_->requestConsumerStop();
    decoder_.requestStop();
    player_.requestStop();
    retire(connectThread_);
    retire(videoReceiver_);
    retire(audioReceiver_);
    connecting_ = false;
    generationChanged_.notify_all();
    return generation;
}

void PaneRuntime::joinEnded() {
    if (consumer_) consumer_->joinConsumer();
    decoder_.join();
    player_.join();
    joinRetired();
}

void PaneRuntime::joinRetired() {
    std::vector<Thread> ended;
    {
        std::lock_guard lock(threadsMutex_);
        ended.swap(retired_);
    }
    ended.clear();  // joins each
}

void PaneRuntime::launch(uint32_t generation, const LoginData& login) {
    std::lock_guard lock(threadsMutex_);
    if (!isCurrent(generation)) return;
    // Every thread of the earlier generations has ended: the links, queues
    // and login data are this generation's alone from here on.
    connection_.login = login;
    connection_.deviceName.set(login.label, login.host, login.devicePort);
    connection_.controlLink.clearCancel();
    connection_.audioLink.clearCancel();
    connection_.datagramLink.clearCancel();
    frames_.reset();
    audio_.reset();
    connection_.health.markStarted();
    startConnectThread(generation);
    if (consumer_) consumer_->startConsumer();
    decoder_.start();
    player_.start();
}

void PaneRuntime::retire(Thread& thread) {
    if (!thread) return;
    thread->requestStop();
    retired_.push_back(std::move(thread));
}

void PaneRuntime::startThread(Thread& slot, const char* name, WorkerThread::Body body,
                              std::function<void()> wake) {
    retire(slot);
    ++liveThreads_;
    slot = std::make_unique<WorkerThread>(
        name,
        [this, body = std::move(body)](const WorkerThread::StopRequest& stop) {
            body(stop);
            --liveThreads_;
        },
        std::move(wake));
    slot->start();
}

void PaneRuntime::startConnectThread(uint32_t generation) {
    connecting_ = true;
    startThread(connectThread_, "ConnectThread", [this, generation](const auto&) {
        runConnectThread(connection_, generation, *this);
        std::lock_guard lock(threadsMutex_);
        if (isCurrent(generation)) connecting_ = false;
    });
}

void PaneRuntime::startVideoReceiver(uint32_t generation) {
    startThread(
        videoReceiver_, "VideoReceiver",
        [this, generation](const WorkerThread::StopRequest& stop) {
            runVideoReceiver(connection_, generation, frames_, videoWindow_, stop, *this);
        },
        [this] { connection_.controlLink.interrupt(); });
}

void PaneRuntime::startAudioReceiver(uint32_t generation) {
    startThread(
        audioReceiver_, "AudioReceiver",
        [this, generation](const WorkerThread::StopRequest& stop) {
            runAudioReceiver(connection_, generation, audio_, audioWindow_, stop, *this);
        },
        [this] {
            connection_.audioLink.interrupt();
            { std::lock_guard lock(reopenMutex_); }
            reopenWake_.notify_all();
        });
}

void PaneRuntime::replaceReceiver(Thread& slot, void (PaneRuntime::*start)(uint32_t)) {
    std::lock_guard lock(threadsMutex_);
    // Until the streams have started, the connect thread owns the links and
    // starts the receivers that are wanted by then.
    if (!streaming()) return;
    const uint32_t generation = connection_.generation();
    retire(slot);
    reaper_.post([this, generation, start] {
        joinRetired();
        std::lock_guard relock(threadsMutex_);
        if (isCurrent(generation) && streaming()) (this->*start)(generation);
    });
}

void PaneRuntime::restartVideoReceiver() {
    replaceReceiver(videoReceiver_, &PaneRuntime::startVideoReceiver);
}

void PaneRuntime::restartAudioReceiver() {
    replaceReceiver(audioReceiver_, &PaneRuntime::startAudioReceiver);
}

void PaneRuntime::stopVideoReceiver() {
    std::lock_guard lock(threadsMutex_);
    if (streaming() && videoReceiver_ && connection_.controlLink.isOpen()) {
        videoReceiver_->requestStop();
    }
}

void PaneRuntime::stopAudioReceiver() {
    std::lock_guard lock(threadsMutex_);
    if (streaming() && audioReceiver_ && connection_.audioLink.isOpen()) {
        audioReceiver_->requestStop();
    }
}

void PaneRuntime::startStreams(uint32_t generation, SessionFacts facts, int32_t channelAtStart) {
    Thread previousAudio;
    {
        std::lock_guard lock(threadsMutex_);
        if (!connection_.publishNegotiated(facts, channelAtStart, generation)) return;
        connecting_ = false;
        connection_.health.noteStreaming();
        if (connection_.stopping) {
            connection_.datagramLink.setPeer(facts.host, facts.devicePort);
            connection_.datagramLink.open(SocketType::Datagram);
            connection_.stopping = false;
        }
        if (connection_.videoWanted) startVideoReceiver(generation);
        if (connection_.audioWanted) previousAudio = std::move(audioReceiver_);
    }
    if (connection_.audioWanted) {
        // The receiver of the lost stream still holds the audio link until it
        // has ended: cut it off and await it here, on the connect thread.
        if (previousAudio) {
            previousAudio->requestStop();
            previousAudio.reset();
        }
        std::lock_guard lock(threadsMutex_);
        if (isCurrent(generation)) startAudioReceiver(generation);
    }
    if (isCurrent(generation)) events_.negotiated({paneNumber_, generation}, facts);
}

bool PaneRuntime::waitBeforeRetry(uint32_t generation, uint32_t milliseconds) {
    std::unique_lock lock(threadsMutex_);
    if (isCurrent(generation)) connection_.health.noteRetryWait(milliseconds);
    const bool goOn = !generationChanged_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                                   [&] { return !isCurrent(generation); });
    if (goOn) connection_.health.noteRetrying();
    return goOn;
}

void PaneRuntime::restartConnection(uint32_t generation) {
    std::lock_guard lock(threadsMutex_);
    // A connect thread under way already logs in again.
    if (!isCurrent(generation) || connecting_) return;
    connection_.health.noteReconnect();
    startConnectThread(generation);
    reaper_.post([this] { joinRetired(); });  // the connect thread replaced
}

bool PaneRuntime::waitBeforeAudioReopen(uint32_t generation, uint32_t milliseconds,
                                        const std::atomic<bool>& stop) {
    std::unique_lock lock(reopenMutex_);
    return !reopenWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return stop.load() || !isCurrent(generation); });
}

void PaneRuntime::reportLogin(uint32_t generation, bool loggedIn) {
    if (isCurrent(generation)) events_.loginFinished({paneNumber_, generation}, loggedIn);
}

void PaneRuntime::reportModel(uint32_t generation, int32_t deviceClass) {
    if (isCurrent(generation)) events_.modelKnown({paneNumber_, generation}, deviceClass);
}

void PaneRuntime::reportFailure(uint32_t generation, RequestResult result) {
    if (isCurrent(generation)) events_.connectFailed({paneNumber_, generation}, result);
}

void PaneRuntime::reportPictureLost(uint32_t generation) {
    if (isCurrent(generation)) events_.pictureLost({paneNumber_, generation});
}

void PaneRuntime::queueCommand(DeviceCommand command) {
    const uint32_t generation = connection_.generation();
    commands_.post([this, generation, command = std::move(command)] {
        if (!isCurrent(generation)) return;
        if (memoryGeneration_ != generation) {
            commandMemory_ = CommandMemory{};
            memoryGeneration_ = generation;
        }
        commandLink_.clearCancel();
        const SessionFacts facts = connection_.facts();
        CommandContext context{facts, connection_.localAddress, commandLink_, commandMemory_,
                               connection_.timings.replyTimeoutMs};
        const CommandOutcome outcome = command(context);
        // Published before the next command runs, so that it sees the channel.
        if (outcome.channel && !connection_.publishChannel(*outcome.channel, generation)) return;
        if (isCurrent(generation)) {
            events_.commandFinished({paneNumber_, generation}, outcome.result, outcome.channel);
        }
    });
}

void PaneRuntime::dropCommands() {
    // After the generation has ended: the command cut short here finds its
    // generation over and reports nothing.
    commands_.dropQueued();
    commandLink_.cancel();
}

int PaneRuntime::liveThreadCount() {
    return liveThreads_.load() + (decoder_.running() ? 1 : 0) + (player_.running() ? 1 : 0);
}

}  // namespace tess
