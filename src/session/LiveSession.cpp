#include "session/LiveSession.h"

#include <algorithm>

#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "protocol/DeviceCommand.h"
#include "protocol/ModelCodes.h"

namespace tess {
namespace {

// A Switch shows each member for (index + 1) tour steps, 5 ... 60 s.
constexpr int kLongestTourIndex = 11;

// Remote-control keys and PTZ action codes of the buttons.
constexpr int kChannelKeyBase = 54;  // + n selects channel n
constexpr int kRecorderAutoKey = 64;
constexpr int kAutoAction = 21;
// The device type of a recorder channel whose Auto is a key.
constexpr int kAutoKeyChannelType = 7;

// A recorder's split keys; its Cut4 depends on how many inputs the current
// channel's device type has (0: none for this type).
int recorderSplitKey(Split cut, int channelType) {
    switch (cut) {
        case Split::Cut4:
            if (channelType == 2 || channelType == 3 || channelType == 7 || channelType == 9)
                return 81;
            if (channelType == 4 || channelType == 5 || channelType == 6) return 97;
            return 0;
        case Split::Cut9: return 98;
        case Split::Cut16: return 99;
    }
    return 0;
}

// A camera's keys for the same buttons.
int cameraSplitKey(Split cut) {
    switch (cut) {
        case Split::Cut4: return 26;
        case Split::Cut9: return 25;
        case Split::Cut16: return 16;
    }
    return 0;
}

LoginData loginFor(const DeviceEntry& device) {
    return {device.address(), device.userName(), device.password(), device.port(), device.label()};
}

}  // namespace

LiveSession::LiveSession(int paneCount, AudioOut& audioOut, std::unique_ptr<EventLoop> loop,
                         const RenderingFactory& makeRendering, const PaneTimings& timings)
    : timings_(timings), loop_(std::move(loop)) {
    panes_.resize(static_cast<size_t>(std::clamp(paneCount, 1, kMaxPanes)));
    for (int number = 0; number < this->paneCount(); ++number) {
        Pane& pane = panes_[number];
        PaneEvents& events = *this;
        SnapshotEvents& snapshots = *this;
        pane.runtime = std::make_unique<PaneRuntime>(number, audioOut, events, timings_);
        pane.rendering = makeRendering(number, *pane.runtime, snapshots);
        pane.runtime->setFrameConsumer(pane.rendering.get());
        pane.runtime->connection().audioToPlayer = false;
    }
}

LiveSession::~LiveSession() {
    listener_ = nullptr;
    // Each runtime joins its threads, its render thread included, before the
    // render side it feeds goes.
    for (Pane& pane : panes_) pane.runtime.reset();
}

PaneHealth LiveSession::health(int number) const {
    const Pane& pane = panes_[number];
    PaneHealth reading = pane.runtime->health();
    reading.renderSkips = pane.rendering->skippedPictures();
    return reading;
}

void LiveSession::open(DeviceEntry& entry, DeviceDirectory& directory) {
    close();
    reset();
    directory_ = &directory;
    open_ = true;
    if (entry.isDevice()) {
        openDevice(entry);
    } else if (entry.isMultiDevice()) {
        members_ = entry.members();
        if (entry.multiType() == kMultiTypeSwitch) {
            openSwitch(entry);
        } else if (entry.multiType() == kMultiTypeQuad) {
            openQuad();
        }
    }
}

void LiveSession::reset() {
    kind_ = SessionKind::None;
    view_ = kSingleView;
    members_.clear();
    memberCursor_ = 0;
    startedCount_ = 0;
    label_.clear();
    loginPending_ = false;
    firstSessionPending_ = false;
    for (Pane& pane : panes_) {
        pane.device = nullptr;
        pane.commandsInFlight = 0;
        PaneRenderState& state = pane.rendering->renderState();
        state.healthShown = false;
        state.selected = false;
        state.framed = false;
        state.snapshotRequested = false;
        state.dragRectangle.shown = false;
        pane.runtime->connection().audioToPlayer = false;
    }
}

void LiveSession::close() {
    if (!open_) return;
    open_ = false;
    // The tour first, so that nothing restarts a pane after this.
    loop_->cancelTimer(tourTimer_);
    tourTimer_ = 0;
    loop_->cancelTimer(modelKnownDeadline_);
    modelKnownDeadline_ = 0;
    loop_->cancelTimer(audioStopTimer_);
    audioStopTimer_ = 0;
    loginPending_ = false;
    firstSessionPending_ = false;
    for (int number = 0; number < paneCount(); ++number) stopPane(number);
}

void LiveSession::openDevice(DeviceEntry& entry) {
    kind_ = SessionKind::Device;
    PaneConnection& connection = panes_[0].runtime->connection();
    connection.audioToPlayer = true;
    const uint16_t avFlags = entry.avFlags();
    connection.videoWanted = (avFlags & kAvVideo) != 0;
    connection.audioWanted = (avFlags & kAvAudio) != 0;
    // Pane 0's first login and negotiation decide whether the window stays open.
    loginPending_ = true;
    firstSessionPending_ = true;
    startOn(0, entry);
    modelKnownDeadline_ =
        loop_->startTimer(timings_.modelKnownWaitMs, [this] { modelKnownDeadline_ = 0; });
}

void LiveSession::openQuad() {
    kind_ = SessionKind::Quad;
    setView(kQuadView);
    for (int number = 0; number < std::min(paneCount(), kQuadPanes); ++number) {
        startMember(number);
    }
}

void LiveSession::openSwitch(const DeviceEntry& multiDevice) {
    kind_ = SessionKind::Switch;
    tourIntervalMs_ = (std::min<int>(multiDevice.displayTimeIndex(), kLongestTourIndex) + 1) *
                      timings_.tourStepMs;
    // Without a single device among the members there is nothing to tour.
    if (showTourPane(0)) scheduleTourStep();
}

bool LiveSession::startMember(int number) {
    const size_t count = members_.size();
    const bool wraps = kind_ == SessionKind::Switch;
    // Every member is tried at most once, so a Switch of folders ends.
    for (size_t tried = 0; tried < count && memberCursor_ < count; ++tried) {
        DeviceEntry* entry = directory_->entryAt(members_[memberCursor_]);
        if (entry == nullptr) return false;  // a member no longer in the directory
        memberCursor_ = wraps ? (memberCursor_ + 1) % count : memberCursor_ + 1;
        if (entry->isDevice()) {
            ++startedCount_;
            PaneConnection& connection = panes_[number].runtime->connection();
            if (view_ == kQuadView) connection.audioToPlayer = false;
            // A member always streams video; only its audio bit counts.
            connection.videoWanted = true;
            connection.audioWanted = (entry->avFlags() & kAvAudio) != 0;
            startOn(number, *entry);
            return true;
        }
    }
    return false;
}

void LiveSession::startOn(int number, DeviceEntry& device) {
    Pane& pane = panes_[number];
    label_ = device.label();
    pane.device = &device;
    pane.commandsInFlight = 0;
    PaneRenderState& state = pane.rendering->renderState();
    state.dragRectangle.shown = false;
    // A snapshot asked of the earlier start is not taken of this one.
    state.snapshotRequested = false;
    const uint32_t generation = pane.runtime->startPane(loginFor(device));
    notify({.kind = SessionEvent::Kind::PaneStarted, .stamp = {number, generation}});
}

void LiveSession::stopPane(int number) {
    Pane& pane = panes_[number];
    pane.rendering->renderState().snapshotRequested = false;
    pane.commandsInFlight = 0;
    pane.runtime->stopPane();
    notify({.kind = SessionEvent::Kind::PaneStopped, .stamp = pane.runtime->stamp()});
}

bool LiveSession::showTourPane(int number) {
    Pane& incoming = panes_[number];
    Pane& outgoing = panes_[1 - number];
    // Never two panes' sound at once: the outgoing one is muted first.
    outgoing.runtime->connection().audioToPlayer = false;
    const bool started = startMember(number);
    setView(number + 1);
    incoming.runtime->connection().audioToPlayer = true;
    stopPane(1 - number);
    notify({.kind = SessionEvent::Kind::ViewChanged, .stamp = incoming.runtime->stamp()});
    return started;
}

void LiveSession::scheduleTourStep() {
    tourTimer_ = loop_->startTimer(tourIntervalMs_, [this] {
        tourTimer_ = 0;
        advanceTour();
    });
}

void LiveSession::advanceTour() {
    const int onScreen = view_ - 1;
    if (!open_ || kind_ != SessionKind::Switch || onScreen < 0 || onScreen > 1) return;
    loop_->cancelTimer(tourTimer_);
    tourTimer_ = 0;
    if (!panes_[onScreen].runtime->connection().controlLink.connected()) return;
    showTourPane(1 - onScreen);
    scheduleTourStep();
}

void LiveSession::setView(int32_t view) {
    view_ = view;
    for (const Pane& pane : panes_) {
        PaneRenderState& state = pane.rendering->renderState();
        state.framed = view == kQuadView && state.selected;
    }
}

void LiveSession::setSelected(std::optional<int> number) {
    for (int each = 0; each < paneCount(); ++each) {
        panes_[each].rendering->renderState().selected = number == each;
    }
    setView(view_);
}

std::optional<int> LiveSession::currentPane() const {
    if (view_ == kSingleView) return 0;
    if (view_ >= 1 && view_ <= paneCount()) return view_ - 1;
    return std::nullopt;
}

std::optional<int> LiveSession::selectedPane() const {
    for (int number = 0; number < paneCount(); ++number) {
        if (panes_[number].rendering->renderState().selected) return number;
    }
    return std::nullopt;
}

bool LiveSession::showsAlone(int number) const {
    return currentPane() == number;
}

void LiveSession::tapQuadPane(int number) {
    if (view_ != kQuadView || number < 0 || number >= paneCount()) return;
    if (panes_[number].rendering->renderState().selected) {
        showPaneAlone(number);
    } else {
        setSelected(number);
    }
}

void LiveSession::showPaneAlone(int number) {
    setView(number + 1);
    for (int each = 0; each < paneCount(); ++each) {
        if (each == number) {
            layOut(each, LayoutOccasion::ShownAlone, panes_[each].runtime->facts());
            panes_[each].runtime->connection().audioToPlayer = true;
        } else {
            stopPane(each);
        }
    }
}

void LiveSession::returnToQuad() {
    const std::optional<int> kept = currentPane();
    if (kind_ != SessionKind::Quad || !kept) return;
    setView(kQuadView);
    for (int number = 0; number < std::min(startedCount_, paneCount()); ++number) {
        if (number != *kept && panes_[number].device != nullptr) {
            startOn(number, *panes_[number].device);
        }
    }
    panes_[*kept].runtime->connection().audioToPlayer = false;
}

void LiveSession::layOut(int number, LayoutOccasion occasion, const SessionFacts& facts) {
    notify(
        {.kind = SessionEvent::Kind::LayOut,
         .stamp = panes_[number].runtime->stamp(),
         .deviceClass = facts.deviceClass,
         .choice = chooseControls(occasion, facts.deviceClass, facts.channelTable, facts.channel),
         .facts = facts});
}

bool LiveSession::changeChannel(int channel) {
    const std::optional<int> number = currentPane();
    if (!number || !classTraits(panes_[*number].runtime->facts().deviceClass).channelMenu) {
        return false;
    }
    queueCommand(*number, setChannelCommand(channel));
    return true;
}

bool LiveSession::sendPtzAction(int code) {
    return queueOnCurrentPane(ptz::ptzCommand(code));
}

bool LiveSession::sendKey(int keyCode) {
    return queueOnCurrentPane(ptz::keyCommand(keyCode));
}

bool LiveSession::split(Split cut) {
    const std::optional<int> number = currentPane();
    if (!number) return false;
    if (classTraits(panes_[*number].runtime->facts().deviceClass).recorder) {
        if (const int key = recorderSplitKey(cut, currentChannelType())) sendKey(key);
        return false;
    }
    sendKey(cameraSplitKey(cut));
    return true;
}

bool LiveSession::pressChannel(int n, int channelMode) {
    // In preset mode Ch n calls the camera's preset n, action code n - 1.
    return channelMode == 1 ? sendKey(kChannelKeyBase + n) : sendPtzAction(n - 1);
}

bool LiveSession::pressAuto() {
    if (!currentPane()) return false;
    return currentChannelType() == kAutoKeyChannelType ? sendKey(kRecorderAutoKey)
                                                       : sendPtzAction(kAutoAction);
}

bool LiveSession::aim(int number, const ptz::AimGesture& gesture) {
    if (number < 0 || number >= paneCount()) return false;
    queueCommand(number, ptz::aimCommand(gesture));
    return true;
}

int LiveSession::currentChannelType() const {
    const std::optional<int> number = currentPane();
    if (!number) return -1;
    const SessionFacts facts = panes_[*number].runtime->facts();
    // A recorder of master channels types each channel; the others type
    // their first record.
    const int32_t index = classTraits(facts.deviceClass).layouts == LayoutFamily::ByChannelType
                              ? facts.channel - 1
                              : 0;
    const ChannelRecord* record = index >= 0 ? facts.channelTable.at(index) : nullptr;
    return record != nullptr ? record->type : -1;
}

bool LiveSession::queueOnCurrentPane(DeviceCommand command) {
    const std::optional<int> number = currentPane();
    if (!number) return false;
    queueCommand(*number, std::move(command));
    return true;
}

void LiveSession::queueCommand(int number, DeviceCommand command) {
    Pane& pane = panes_[number];
    ++pane.commandsInFlight;
    pane.runtime->queueCommand(std::move(command));
    notify({.kind = SessionEvent::Kind::Busy, .stamp = pane.runtime->stamp()});
}

bool LiveSession::cycleAvMode() {
    const std::optional<int> number = currentPane();
    if (!number) return false;
    Pane& pane = panes_[*number];
    PaneRuntime& runtime = *pane.runtime;
    PaneConnection& connection = runtime.connection();
    DeviceEntry* device = pane.device;
    const auto store = [this, device](uint16_t avFlags) {
        if (device == nullptr) return;
        device->setAvFlags(avFlags);
        directory_->notifyChanged(device);
    };
    const bool video = connection.videoWanted;
    const bool audio = connection.audioWanted;
    if (video && audio) {  // to audio only
        runtime.stopVideoReceiver();
        store(kAvAudio);
        connection.videoWanted = false;
    } else if (audio) {  // to video only
        store(kAvVideo);
        connection.audioWanted = false;
        connection.videoWanted = true;
        runtime.restartVideoReceiver();
        stopAudioWhenThePictureIsBack(runtime);
    } else if (video) {  // to audio and video
        store(device != nullptr ? device->avFlags() | kAvAudio : kAvVideo | kAvAudio);
        runtime.restartAudioReceiver();
        connection.audioWanted = true;
    } else {
        return false;
    }
    return true;
}

void LiveSession::stopAudioWhenThePictureIsBack(PaneRuntime& runtime) {
    // The sound goes on until the picture is back; then, unless the user
    // chose another mode meanwhile, the audio stops.
    loop_->cancelTimer(audioStopTimer_);
    audioStopTimer_ =
        loop_->startTimer(timings_.audioStopDelayMs, [this, &runtime, stamp = runtime.stamp()] {
            audioStopTimer_ = 0;
            const PaneConnection& now = runtime.connection();
            if (isCurrent(stamp) && now.videoWanted && !now.audioWanted) {
                runtime.stopAudioReceiver();
            }
        });
}

bool LiveSession::requestSnapshot(int number, std::string stem, const SnapshotHeader& header) {
    if (number < 0 || number >= paneCount()) return false;
    Pane& pane = panes_[number];
    if (!pane.runtime->connection().controlLink.connected()) return false;
    pane.rendering->requestSnapshot(std::move(stem), header);
    PaneRenderState& state = pane.rendering->renderState();
    state.selected = true;
    state.framed = view_ == kQuadView;
    state.snapshotRequested = true;
    return true;
}

void LiveSession::setHealthShown(int number, bool shown) {
    panes_[number].rendering->renderState().healthShown = shown;
}

void LiveSession::showDragRectangle(int number, const DragRectangle& rectangle) {
    SharedDragRectangle& shared = panes_[number].rendering->renderState().dragRectangle;
    shared.set(rectangle);
    shared.shown = true;
}

void LiveSession::hideDragRectangles(int number) {
    for (int each = std::max(number, 0); each < paneCount(); ++each) {
        panes_[each].rendering->renderState().dragRectangle.shown = false;
    }
}

void LiveSession::pauseRendering() {
    for (Pane& pane : panes_) pane.rendering->pause();
}

void LiveSession::resumeRendering() {
    for (Pane& pane : panes_) pane.rendering->resume();
}

void LiveSession::notify(const SessionEvent& event) {
    if (listener_ != nullptr) listener_->sessionEvent(event);
}

bool LiveSession::isCurrent(PaneStamp stamp) const {
    return stamp.pane >= 0 && stamp.pane < paneCount() &&
           stamp.generation == panes_[stamp.pane].runtime->connection().generation();
}

void LiveSession::onLoop(PaneStamp stamp, std::function<void()> handle) {
    loop_->post([this, stamp, handle = std::move(handle)] {
        if (isCurrent(stamp)) handle();
    });
}

void LiveSession::loginFinished(PaneStamp stamp, bool loggedIn) {
    onLoop(stamp, [this, stamp, loggedIn] {
        if (stamp.pane != 0 || !loginPending_) return;
        loginPending_ = false;
        if (!loggedIn) notify({.kind = SessionEvent::Kind::CloseRequested, .stamp = stamp});
    });
}

void LiveSession::modelKnown(PaneStamp stamp, int32_t deviceClass) {
    onLoop(stamp, [this, stamp, deviceClass] {
        if (stamp.pane != 0 || modelKnownDeadline_ == 0) return;
        loop_->cancelTimer(modelKnownDeadline_);
        modelKnownDeadline_ = 0;
        notify(
            {.kind = SessionEvent::Kind::ChannelMenu, .stamp = stamp, .deviceClass = deviceClass});
    });
}

void LiveSession::negotiated(PaneStamp stamp, const SessionFacts& facts) {
    onLoop(stamp, [this, stamp, facts] {
        if (stamp.pane == 0) firstSessionPending_ = false;
        if (showsAlone(stamp.pane)) layOut(stamp.pane, LayoutOccasion::Negotiated, facts);
    });
}

void LiveSession::pictureLost(PaneStamp stamp) {
    onLoop(stamp,
           [this, stamp] { notify({.kind = SessionEvent::Kind::PictureLost, .stamp = stamp}); });
}

void LiveSession::connectFailed(PaneStamp stamp, RequestResult result) {
    onLoop(stamp, [this, stamp, result] {
        notify({.kind = SessionEvent::Kind::ConnectFailed, .stamp = stamp, .result = result});
        // A device of a model the viewer does not know cannot be shown at all.
        if (stamp.pane == 0 && firstSessionPending_ && result == RequestResult::UnknownModel) {
            notify({.kind = SessionEvent::Kind::CloseRequested, .stamp = stamp});
            return;
        }
        if (stamp.pane == 0 && !loginPending_) firstSessionPending_ = false;
    });
}

void LiveSession::commandFinished(PaneStamp stamp, RequestResult result,
                                  std::optional<int32_t> channel) {
    onLoop(stamp, [this, stamp, result, channel] {
        Pane& pane = panes_[stamp.pane];
        if (pane.commandsInFlight > 0) --pane.commandsInFlight;
        notify({.kind = SessionEvent::Kind::Busy, .stamp = stamp});
        notify({.kind = SessionEvent::Kind::CommandFinished, .stamp = stamp, .result = result});
        // A recorder of master channels lays out the controls of the channel
        // it was switched to.
        if (channel && showsAlone(stamp.pane) &&
            classTraits(pane.runtime->facts().deviceClass).channelMenu) {
            layOut(stamp.pane, LayoutOccasion::ShownAlone, pane.runtime->facts());
        }
    });
}

void LiveSession::snapshotFinished(PaneStamp stamp, bool saved, const std::string& text) {
    onLoop(stamp, [this, stamp, saved, text] {
        notify(
            {.kind = saved ? SessionEvent::Kind::SnapshotSaved : SessionEvent::Kind::SnapshotFailed,
             .stamp = stamp,
             .text = text});
    });
}

}  // namespace tess
