#include "liveview/LiveView.h"

#include <algorithm>
#include <cmath>

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTabWidget>
#include <QWindow>

#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "liveview/RequestMessages.h"
#include "platform/MessageSink.h"
#include "protocol/DeviceCommand.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

// The window caption and the commands of the channel menu bar.
constexpr const char* kCaption = "Show";
constexpr std::array<const char*, 2> kChannelCommands{"CH1", "CH2"};
// The device class whose recorders get the channel menu.
constexpr int32_t kChannelMenuClass = 50;

constexpr QRect kPictureArea{0, 0, LiveView::kVideoWidth, LiveView::kVideoHeight};
constexpr std::array<QRect, LiveView::kPaneCount> kQuadPlaces{
    {{0, 0, 120, 82}, {120, 0, 120, 82}, {0, 82, 120, 82}, {120, 82, 120, 82}}};

// How often the panes' health markers are brought up to date.
constexpr int kHealthRefreshMs = 250;

// A Switch shows each member for (index + 1) x 5 s, 5 ... 60 s.
constexpr int kTourStepMs = 5000;
constexpr int kLongestTourIndex = 11;

int tourInterval(int displayTimeIndex) {
    return (std::min(displayTimeIndex, kLongestTourIndex) + 1) * kTourStepMs;
}

// Remote-control keys and PTZ action codes of the buttons.
constexpr int kChannelKeyBase = 54;  // + n selects channel n
constexpr int kRecorderAutoKey = 64;
constexpr int kAutoAction = 21;
constexpr int kButton2Key = 112;
constexpr int kButton3Key = 90;
// The device type of a recorder channel whose Auto is a key.
constexpr int kAutoKeyChannelType = 7;

constexpr std::pair<Control, int> kPtzActions[] = {
    {Control::Up, 16},        {Control::Down, 17},       {Control::Left, 18},
    {Control::Right, 19},     {Control::ZoomIn, 22},     {Control::ZoomOut, 23},
    {Control::ZoomInMax, 24}, {Control::ZoomOutMax, 25}, {Control::FocusIn, 26},
    {Control::FocusOut, 27}};

bool isRecorderClass(int32_t deviceClass) {
    return deviceClass == 1 || deviceClass == 50;
}

bool isPtzCameraClass(int32_t deviceClass) {
    return deviceClass == 6 || deviceClass == 7 || deviceClass == 8;
}

LoginData loginFor(const DeviceEntry& device) {
    return {device.address(), device.userName(), device.password(), device.port(), device.label()};
}

}  // namespace

// Holds every pane's render thread for as long as the controls move: no
// frame is composed or handed over meanwhile.
class LiveView::RenderPause {
public:
    explicit RenderPause(LiveView& view) : view_(view) {
        for (auto& pane : view_.panes_) pane->renderThread().pause();
    }
    ~RenderPause() {
        for (auto& pane : view_.panes_) pane->renderThread().resume();
    }
    RenderPause(const RenderPause&) = delete;
    RenderPause& operator=(const RenderPause&) = delete;

private:
    LiveView& view_;
};

LiveView::LiveView(AudioOut& audioOut, const std::string& programFolder, QWidget* parent)
    : QDialog(parent),
      // The screen of the window that opens it (the main window's).
      geometry_(LogicalGeometry::forScreen(parent ? parent->screen() : nullptr)),
      snapshotFolder_(programFolder + "Temp/") {
    setWindowTitle(QString::fromUtf8(kCaption));
    geometry_.fitWindow(*this, QSize(kVideoWidth, kClientHeight + kMenuBarHeight));
    for (int number = 0; number < kPaneCount; ++number) {
        panes_[number] = std::make_unique<VideoPane>(number, audioOut, *this, currentView_,
                                                     snapshotFolder_, this);
        PaneWidget& widget = panes_[number]->widget();
        widget.setLogicalScale(geometry_.scale());
        geometry_.place(widget, kPictureArea);
        widget.hide();
        connect(&widget, &PaneWidget::pressed, this,
                [this, &widget](QPointF at) { stylusPress(toPictureArea(widget, at), true); });
        connect(&widget, &PaneWidget::moved, this,
                [this, &widget](QPointF at) { stylusMove(toPictureArea(widget, at)); });
        connect(&widget, &PaneWidget::released, this,
                [this, &widget](QPointF at) { stylusRelease(toPictureArea(widget, at).picture); });
        connect(panes_[number].get(), &VideoPane::snapshotSaved, this, &LiveView::snapshotSaved);
        connect(panes_[number].get(), &VideoPane::snapshotFailed, this, &LiveView::snapshotFailed);
    }
    controlPanel_ = new ControlPanel(*this, geometry_);
    browser_ = new SnapshotBrowser(this);
    connectControls();
    bindKeys();
    modelKnownDeadline_.setSingleShot(true);
    modelKnownDeadline_.setInterval(kModelKnownWaitMs);
    connect(&tourTimer_, &QTimer::timeout, this, &LiveView::advanceTour);
    healthTimer_.setInterval(kHealthRefreshMs);
    connect(&healthTimer_, &QTimer::timeout, this, &LiveView::refreshHealthMarkers);
}

LiveView::~LiveView() {
    // Each pane ends its threads before its widget, a child of this window,
    // is deleted with it.
    for (auto& pane : panes_) {
        pane.reset();
    }
}

void LiveView::view(DeviceEntry& entry, DeviceDirectory& directory) {
    directory_ = &directory;
    resetSession();
    if (entry.isDevice()) {
        openDevice(entry);
    } else if (entry.isMultiDevice()) {
        members_ = entry.members();
        if (entry.multiType() == kMultiTypeSwitch) {
            openSwitch(entry);
        } else if (entry.multiType() == kMultiTypeQuad) {
            openQuad(entry);
        }
    }
    exec();
}

void LiveView::resetSession() {
    sessionOpen_ = true;
    loginPending_ = false;
    firstSessionPending_ = false;
    controlPanel_->reset();
    setView(0);
    labelText_.clear();
    lastSnapshotName_.clear();
    paneDevices_ = {};
    members_.clear();
    memberCursor_ = 0;
    startedCount_ = 0;
    stylus_ = StylusTracker{};
    healthTimer_.start();
    for (auto& pane : panes_) {
        pane->widget().hide();
        pane->widget().resetZoom();
        pane->widget().setMarker({});
        pane->renderState().healthShown = false;
        pane->connection().audioToPlayer = false;
        pane->renderState().selected = false;
        pane->renderState().snapshotRequested = false;
        pane->renderState().dragRectangle.shown = false;
    }
}

void LiveView::openDevice(DeviceEntry& entry) {
    VideoPane& pane = *panes_[0];
    PaneConnection& connection = pane.connection();
    connection.audioToPlayer = true;
    geometry_.place(pane.widget(), kPictureArea);
    pane.widget().show();

    const uint16_t avFlags = entry.avFlags();
    connection.videoWanted = (avFlags & kAvVideo) != 0;
    connection.audioWanted = (avFlags & kAvAudio) != 0;
    paneDevices_[0] = &entry;

    // Pane 0's first login and negotiation decide whether the window stays open.
    loginPending_ = true;
    firstSessionPending_ = true;
    pane.startPane(loginFor(entry));
    modelKnownDeadline_.start();
}

void LiveView::openQuad(const DeviceEntry&) {
    controlPanel_->setMode({.quad = true, .switching = false, .quadOnScreen = true});
    controlPanel_->showSnapShotOnly();
    setView(kQuadView);
    arrangeQuad();
    for (auto& pane : panes_) startMember(*pane);
}

void LiveView::openSwitch(const DeviceEntry& multiDevice) {
    controlPanel_->setMode({.quad = false, .switching = true, .quadOnScreen = false});
    for (int number : {0, 1}) geometry_.place(panes_[number]->widget(), kPictureArea);
    panes_[0]->widget().show();
    controlPanel_->showSnapShotOnly();
    controlPanel_->deviceText().show();
    controlPanel_->labelBox().show();
    tourTimer_.setInterval(tourInterval(multiDevice.displayTimeIndex()));
    // Without a single device among the members there is nothing to tour.
    if (showTourPane(0)) tourTimer_.start();
}

bool LiveView::startMember(VideoPane& pane) {
    const size_t count = members_.size();
    const bool wraps = controlPanel_->mode().switching;
    // Every member is tried at most once, so a Switch of folders ends.
    for (size_t tried = 0; tried < count && memberCursor_ < count; ++tried) {
        DeviceEntry* entry = directory_->entryAt(members_[memberCursor_]);
        if (entry == nullptr) return false;  // a member no longer in the directory
        memberCursor_ = wraps ? (memberCursor_ + 1) % count : memberCursor_ + 1;
        if (entry->isDevice()) {
            startOn(pane, *entry);
            return true;
        }
    }
    return false;
}

void LiveView::startOn(VideoPane& pane, DeviceEntry& device) {
    ++startedCount_;
    labelText_ = QString::fromStdU16String(device.label());
    controlPanel_->labelBox().setText(labelText_);
    paneDevices_[pane.number()] = &device;
    PaneConnection& connection = pane.connection();
    if (currentView_ == kQuadView) connection.audioToPlayer = false;
    // A member always streams video; only its audio bit counts.
    connection.videoWanted = true;
    connection.audioWanted = (device.avFlags() & kAvAudio) != 0;
    pane.startPane(loginFor(device));
}

bool LiveView::showTourPane(int number) {
    VideoPane& incoming = *panes_[number];
    VideoPane& outgoing = *panes_[1 - number];
    // A tour watched full screen goes on full screen with the next member.
    const bool wasFullScreen = fullScreen();
    leaveFullScreen();
    // Never two panes' sound at once: the outgoing one is muted first.
    outgoing.connection().audioToPlayer = false;
    const bool started = startMember(incoming);
    setView(number + 1);
    incoming.connection().audioToPlayer = true;
    incoming.widget().show();
    outgoing.stopPane();
    outgoing.widget().hide();
    if (wasFullScreen) showFullScreenOf(incoming);
    return started;
}

void LiveView::advanceTour() {
    const int onScreen = currentView_ - 1;
    if (!sessionOpen_ || onScreen < 0 || onScreen > 1) return;
    // A device that went away ends the tour; its last picture stays.
    if (!panes_[onScreen]->connection().controlLink.connected()) {
        tourTimer_.stop();
        return;
    }
    showTourPane(1 - onScreen);
}

void LiveView::arrangeQuad() {
    for (int number = 0; number < kPaneCount; ++number) {
        PaneWidget& widget = panes_[number]->widget();
        geometry_.place(widget, kQuadPlaces[number]);
        widget.show();
    }
}

void LiveView::setView(int view) {
    currentView_ = view;
    // Only a picture shown alone zooms; the quad's panes go back to 1x.
    for (auto& pane : panes_) pane->widget().setZoomable(showsAlone(*pane));
    PanelMode mode = controlPanel_->mode();
    mode.quadOnScreen = view == kQuadView;
    controlPanel_->setMode(mode);
}

void LiveView::showPaneAlone(int number) {
    leaveFullScreen();
    setView(number + 1);
    const RenderPause pause(*this);
    for (auto& pane : panes_) {
        if (pane->number() == number) {
            const SessionFacts facts = pane->facts();
            layOutControls(chooseControls(LayoutOccasion::ShownAlone, facts.deviceClass,
                                          facts.channelTable, facts.channel),
                           *pane);
            pane->connection().audioToPlayer = true;
            geometry_.place(pane->widget(), kPictureArea);
        } else {
            pane->widget().hide();
            pane->stopPane();
        }
    }
}

void LiveView::returnToQuad() {
    const int view = currentView_;
    if (view < 1 || view > kPaneCount) return;
    const int kept = view - 1;
    leaveFullScreen();
    setView(kQuadView);
    arrangeQuad();
    const RenderPause pause(*this);
    controlPanel_->showSnapShotOnly();
    for (auto& pane : panes_) {
        const int number = pane->number();
        if (number != kept && number < startedCount_ && paneDevices_[number] != nullptr) {
            pane->startPane(loginFor(*paneDevices_[number]));
        }
    }
    controlPanel_->snapshotViewerButton().hide();
    panes_[kept]->connection().audioToPlayer = false;
}

void LiveView::loginFinished(PaneStamp stamp, bool loggedIn) {
    if (stamp.pane != 0 || !loginPending_) {
        return;
    }
    loginPending_ = false;
    if (!loggedIn) {
        reject();
    }
}

void LiveView::modelKnown(PaneStamp stamp, int32_t deviceClass) {
    if (stamp.pane != 0 || !modelKnownDeadline_.isActive()) {
        return;
    }
    modelKnownDeadline_.stop();
    buildMenuBar(deviceClass);
}

void LiveView::negotiated(PaneStamp stamp, const SessionFacts& facts) {
    VideoPane& pane = *panes_[stamp.pane];
    if (stamp.pane == 0) {
        firstSessionPending_ = false;
    }
    if (showsAlone(pane)) {
        layOutControls(chooseControls(LayoutOccasion::Negotiated, facts.deviceClass,
                                      facts.channelTable, facts.channel),
                       pane);
    }
}

void LiveView::pictureLost(PaneStamp stamp) {
    if (fullScreenPane_ == stamp.pane) fullScreen_->clearPicture();
}

void LiveView::connectFailed(PaneStamp stamp, RequestResult result) {
    if (fullScreenPane_ == stamp.pane) fullScreen_->clearPicture();
    if (const auto message = messageFor(result)) {
        tell(*message);
    }
    // A device of a model the viewer does not know cannot be shown at all.
    if (stamp.pane == 0 && firstSessionPending_ && result == RequestResult::UnknownModel) {
        reject();
        return;
    }
    if (stamp.pane == 0 && !loginPending_) {
        firstSessionPending_ = false;
    }
}

void LiveView::commandFinished(PaneStamp stamp, RequestResult result,
                               std::optional<int32_t> channel) {
    if (const auto message = messageFor(result)) {
        tell(*message);
    }
    VideoPane& pane = *panes_[stamp.pane];
    if (!channel || !showsAlone(pane)) {
        return;
    }
    const SessionFacts facts = pane.facts();
    if (facts.deviceClass == kChannelMenuClass) {
        layOutControls(chooseControls(LayoutOccasion::ShownAlone, facts.deviceClass,
                                      facts.channelTable, facts.channel),
                       pane);
    }
}

void LiveView::buildMenuBar(int32_t deviceClass) {
    delete menuBar_.data();
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    geometry_.place(*menuBar_, 0, kClientHeight, kVideoWidth, kMenuBarHeight);
    // Only a recorder of the channel menu's class gets commands; every other
    // device an empty bar.
    if (deviceClass == kChannelMenuClass) {
        for (int channel = 1; channel <= static_cast<int>(kChannelCommands.size()); ++channel) {
            QAction* command =
                menuBar_->addAction(QString::fromUtf8(kChannelCommands[channel - 1]));
            connect(command, &QAction::triggered, this,
                    [this, channel] { changeChannel(channel); });
        }
    }
    menuBar_->show();
}

void LiveView::done(int result) {
    closeSession();
    QDialog::done(result);
}

void LiveView::closeSession() {
    if (!sessionOpen_) {
        return;
    }
    sessionOpen_ = false;
    leaveFullScreen();
    healthTimer_.stop();
    // The tour first, so that nothing restarts a pane after this.
    tourTimer_.stop();
    modelKnownDeadline_.stop();
    loginPending_ = false;
    firstSessionPending_ = false;
    for (auto& pane : panes_) {
        pane->stopPane();
    }
    if (menuBar_) {
        // Closing can be asked from inside one of the bar's own commands.
        menuBar_->hide();
        menuBar_->deleteLater();
        menuBar_ = nullptr;
    }
}

void LiveView::tell(std::string_view text) {
    if (text == shownMessage_ || std::find(waitingMessages_.begin(), waitingMessages_.end(),
                                           text) != waitingMessages_.end()) {
        return;
    }
    waitingMessages_.emplace_back(text);
    if (showingMessage_) {
        // The box on screen runs its own event loop; the message waits its turn.
        return;
    }
    showingMessage_ = true;
    while (!waitingMessages_.empty()) {
        shownMessage_ = std::move(waitingMessages_.front());
        waitingMessages_.pop_front();
        messageSink().show(shownMessage_);
    }
    shownMessage_.clear();
    showingMessage_ = false;
}

VideoPane* LiveView::currentPane() {
    const int32_t view = currentView_;
    if (view == 0) {
        return panes_[0].get();
    }
    if (view >= 1 && view <= kPaneCount) {
        return panes_[view - 1].get();
    }
    return nullptr;
}

bool LiveView::showsAlone(const VideoPane& pane) const {
    const int32_t view = currentView_;
    return (view == 0 && pane.number() == 0) || view == pane.number() + 1;
}

bool LiveView::changeChannel(int channel) {
    VideoPane* pane = currentPane();
    if (pane == nullptr || pane->facts().deviceClass != kChannelMenuClass) {
        return false;
    }
    pane->queueCommand(setChannelCommand(channel));
    return true;
}

bool LiveView::sendPtzAction(int code) {
    return queueOnCurrentPane(ptz::ptzCommand(code));
}

bool LiveView::sendKey(int keyCode) {
    return queueOnCurrentPane(ptz::keyCommand(keyCode));
}

bool LiveView::aim(const ptz::AimGesture& gesture) {
    VideoPane* pane = gesturePane();
    if (pane == nullptr) return false;
    pane->queueCommand(ptz::aimCommand(gesture));
    return true;
}

bool LiveView::queueOnCurrentPane(DeviceCommand command) {
    VideoPane* pane = currentPane();
    if (pane == nullptr) {
        return false;
    }
    pane->queueCommand(std::move(command));
    return true;
}

VideoPane* LiveView::selectedPane() {
    for (auto& candidate : panes_) {
        if (candidate->renderState().selected) return candidate.get();
    }
    return nullptr;
}

VideoPane* LiveView::gesturePane() {
    return fullScreen() ? panes_[fullScreenPane_].get() : currentPane();
}

bool LiveView::takeSnapshot() {
    VideoPane* pane = currentView_ == kQuadView ? selectedPane() : currentPane();
    if (pane == nullptr || !pane->connection().controlLink.connected()) {
        return false;
    }
    pane->requestSnapshot(makeSnapshotName(SnapshotTime::localNow()), snapshotHeader_);
    return true;
}

std::string LiveView::makeSnapshotName(const SnapshotTime& time) {
    snapshotHeader_.setDate(time);
    return snapshotName(time);
}

void LiveView::snapshotSaved(const QString& fileName) {
    lastSnapshotName_ = fileName.toStdString();
    controlPanel_->snapshotViewerButton().show();
    controlPanel_->snapshotViewerButton().raise();
}

void LiveView::snapshotFailed(const QString& reason) {
    tell(std::string(text::snapshotNotSaved) + "\n" + reason.toStdString());
}

void LiveView::browseSnapshots() {
    if (lastSnapshotName_.empty()) return;
    browser_->browse(snapshotFolder_, lastSnapshotName_);
}

void LiveView::layOutControls(const ControlChoice& choice, VideoPane& pane) {
    const PaneConnection& connection = pane.connection();
    controlPanel_->layOut(choice, pane.facts(), connection.videoWanted, connection.audioWanted);
}

void LiveView::showAvButton(VideoPane& pane) {
    const PaneConnection& connection = pane.connection();
    controlPanel_->showAvButton(connection.videoWanted, connection.audioWanted);
    controlPanel_->settleLayout();
}

void LiveView::showTabPage(int page) {
    const RenderPause pause(*this);
    VideoPane* pane = currentPane();
    if (pane == nullptr) return;
    const PaneConnection& connection = pane->connection();
    controlPanel_->showPage(page, pane->facts().deviceClass, connection.videoWanted,
                            connection.audioWanted);
}

int LiveView::currentChannelType() {
    VideoPane* pane = currentPane();
    if (pane == nullptr) return -1;
    const SessionFacts facts = pane->facts();
    const int32_t index = facts.deviceClass == kChannelMenuClass ? facts.channel - 1 : 0;
    const ChannelRecord* record = index >= 0 ? facts.channelTable.at(index) : nullptr;
    return record != nullptr ? record->type : -1;
}

void LiveView::connectControls() {
    ControlPanel& panel = *controlPanel_;
    const auto onClick = [this, &panel](Control control, auto action) {
        connect(&panel.button(control), &QAbstractButton::clicked, this, action);
    };
    onClick(Control::SnapShot, [this] { takeSnapshot(); });
    connect(&panel.snapshotViewerButton(), &QPushButton::clicked, this, &LiveView::browseSnapshots);
    onClick(Control::FourDevice, [this] { returnToQuad(); });
    for (Control cut : {Control::Cut4, Control::Cut9, Control::Cut16}) {
        onClick(cut, [this, cut] { split(cut); });
    }
    for (int n = 1; n <= 16; ++n) {
        onClick(channelControl(n), [this, n] { pressChannel(n); });
    }
    for (const auto& [control, action] : kPtzActions) {
        onClick(control, [this, code = action] { sendPtzAction(code); });
    }
    onClick(Control::Auto, [this] { pressAuto(); });
    onClick(Control::CH, [this] { switchChannelMode(0); });
    onClick(Control::PRESET, [this] { switchChannelMode(1); });
    onClick(Control::Button2, [this] { sendKey(kButton2Key); });
    onClick(Control::Button3, [this] { sendKey(kButton3Key); });
    for (AvButton av : {AvButton::AudioAndVideo, AvButton::VideoOnly, AvButton::AudioOnly}) {
        connect(&panel.avButton(av), &QPushButton::clicked, this, [this, av] { cycleAvMode(av); });
    }
    connect(&panel, &ControlPanel::pageChanged, this, &LiveView::showTabPage);
}

void LiveView::split(Control cut) {
    controlPanel_->setChannelMode(1);
    VideoPane* pane = currentPane();
    if (pane == nullptr) return;
    if (isRecorderClass(pane->facts().deviceClass)) {
        // The recorder's split keys; Cut4 depends on how many inputs the
        // current channel's device type has.
        int key = 0;
        if (cut == Control::Cut4) {
            const int type = currentChannelType();
            if (type == 2 || type == 3 || type == 7 || type == 9) key = 81;
            if (type == 4 || type == 5 || type == 6) key = 97;
        } else {
            key = cut == Control::Cut9 ? 98 : 99;
        }
        if (key != 0) sendKey(key);
        return;
    }
    controlPanel_->showChannelModeButton();
    sendKey(cut == Control::Cut4 ? 26 : cut == Control::Cut9 ? 25 : 16);
}

void LiveView::pressChannel(int n) {
    // In preset mode Ch n calls the camera's preset n, action code n - 1.
    if (controlPanel_->channelMode() == 1) {
        sendKey(kChannelKeyBase + n);
    } else {
        sendPtzAction(n - 1);
    }
}

void LiveView::pressAuto() {
    if (currentPane() == nullptr) return;
    if (currentChannelType() == kAutoKeyChannelType) {
        sendKey(kRecorderAutoKey);
    } else {
        sendPtzAction(kAutoAction);
    }
}

void LiveView::switchChannelMode(int mode) {
    const RenderPause pause(*this);
    controlPanel_->setChannelMode(mode);
    controlPanel_->showChannelModeButton();
}

void LiveView::cycleAvMode(AvButton pressed) {
    VideoPane* pane = currentPane();
    if (pane == nullptr) return;
    PaneConnection& connection = pane->connection();
    PaneRuntime& runtime = pane->runtime();
    DeviceEntry* device = paneDevices_[pane->number()];
    // The mode is kept in the device the pane was started from.
    const auto store = [this, device](uint16_t avFlags) {
        if (device == nullptr) return;
        device->setAvFlags(avFlags);
        directory_->notifyChanged(device);
    };
    switch (pressed) {
        case AvButton::AudioAndVideo:  // to audio only
            runtime.stopVideoReceiver();
            store(kAvAudio);
            connection.videoWanted = false;
            connection.audioWanted = true;
            break;
        case AvButton::AudioOnly: {  // to video only
            store(kAvVideo);
            connection.audioWanted = false;
            connection.videoWanted = true;
            runtime.restartVideoReceiver();
            // The sound goes on until the picture is back; then, unless the
            // user chose another mode meanwhile, the audio stops.
            QTimer::singleShot(kAudioStopDelayMs, this, [pane, stamp = runtime.stamp()] {
                const PaneConnection& now = pane->connection();
                if (pane->isCurrent(stamp) && now.videoWanted && !now.audioWanted) {
                    pane->runtime().stopAudioReceiver();
                }
            });
            break;
        }
        case AvButton::VideoOnly:  // to audio and video
            store(device != nullptr ? device->avFlags() | kAvAudio : kAvVideo | kAvAudio);
            runtime.restartAudioReceiver();
            connection.audioWanted = true;
            connection.videoWanted = true;
            break;
        case AvButton::None: return;
    }
    showAvButton(*pane);
}

LiveView::StylusAt LiveView::toPictureArea(const PaneWidget& widget, QPointF position) const {
    const QPoint screen = &widget == fullScreen_
                              ? geometry_.toLogical(position)
                              : geometry_.toLogical(widget.mapTo(this, position));
    if (!widget.mapsThroughZoom()) return {screen, screen};
    // Zoomed pictures are shown alone or full screen: the picture point maps
    // onto the whole picture area.
    const QPointF point = widget.toPicture(position);
    return {QPoint(static_cast<int>(std::floor(point.x() * kVideoWidth)),
                   static_cast<int>(std::floor(point.y() * kVideoHeight))),
            screen};
}

void LiveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint at = geometry_.toLogical(event->position());
        stylusPress({at, at}, false);
    }
}

void LiveView::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        const QPoint at = geometry_.toLogical(event->position());
        stylusMove({at, at});
    }
}

void LiveView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        stylusRelease(geometry_.toLogical(event->position()));
    }
}

void LiveView::stylusPress(StylusAt at, bool onPane) {
    stylus_.press({at.picture.x(), at.picture.y()}, {at.screen.x(), at.screen.y()}, onPane);
}

void LiveView::stylusMove(StylusAt at) {
    if (!stylus_.move({at.picture.x(), at.picture.y()}, {at.screen.x(), at.screen.y()})) return;
    VideoPane* pane = gesturePane();
    if (pane == nullptr || !isPtzCameraClass(pane->facts().deviceClass)) return;
    const StylusPoint from = stylus_.touch();
    const StylusPoint to = stylus_.current();
    SharedDragRectangle& rectangle = pane->renderState().dragRectangle;
    rectangle.set({.x0 = from.x, .x1 = to.x, .y0 = from.y, .y1 = to.y});
    rectangle.shown = true;
}

void LiveView::stylusRelease(QPoint at) {
    const std::optional<StylusRelease> release = stylus_.release({at.x(), at.y()});
    if (!release) return;
    const int view = currentView_;
    if (view == kQuadView && !fullScreen()) {
        const int number = quadPaneAt(release->touch);
        if (panes_[number]->renderState().selected) {
            showPaneAlone(number);
            return;
        }
        for (auto& pane : panes_) pane->renderState().selected = pane->number() == number;
        return;
    }
    VideoPane* current = gesturePane();
    if (current == nullptr) return;
    for (int number = current->number(); number < kPaneCount; ++number) {
        panes_[number]->renderState().dragRectangle.shown = false;
    }
    aim({release->touch.x, release->touch.y, release->dragging, release->pressX, release->currentX,
         kVideoWidth, kVideoHeight});
}

void LiveView::bindKeys() {
    // Keys press the button they stand for, and only while it is on screen:
    // no PTZ key on a device without PTZ, a Switch or a recorder's DVR page.
    const std::pair<QKeySequence, Control> bindings[] = {
        {Qt::Key_Up, Control::Up},
        {Qt::Key_Down, Control::Down},
        {Qt::Key_Left, Control::Left},
        {Qt::Key_Right, Control::Right},
        {Qt::Key_Plus, Control::ZoomIn},
        {Qt::Key_Equal, Control::ZoomIn},
        {Qt::KeypadModifier | Qt::Key_Plus, Control::ZoomIn},
        {Qt::Key_Minus, Control::ZoomOut},
        {Qt::KeypadModifier | Qt::Key_Minus, Control::ZoomOut},
    };
    const auto bind = [this](const QKeySequence& key, Control control) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, control] {
            QAbstractButton& button = controlPanel_->button(control);
            if (button.isVisible() && button.isEnabled()) button.click();
        });
    };
    for (const auto& [key, control] : bindings) bind(key, control);
    for (int n = 1; n <= 9; ++n) {
        bind(QKeySequence(Qt::Key_0 + n), channelControl(n));
        bind(QKeySequence(Qt::KeypadModifier | (Qt::Key_0 + n)), channelControl(n));
    }
    // The viewer's own keys, which send nothing to a device.
    const std::pair<QKeySequence, void (LiveView::*)()> viewerKeys[] = {
        {Qt::Key_F11, &LiveView::toggleFullScreen},
        {Qt::Key_F, &LiveView::toggleFullScreen},
        {Qt::Key_I, &LiveView::toggleHealthOverlay},
        {Qt::Key_0, &LiveView::resetZoom},
        {Qt::KeypadModifier | Qt::Key_0, &LiveView::resetZoom},
    };
    for (const auto& [key, action] : viewerKeys) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, action);
    }
}

void LiveView::toggleFullScreen() {
    if (fullScreen()) {
        leaveFullScreen();
    } else {
        enterFullScreen();
    }
}

bool LiveView::enterFullScreen() {
    if (fullScreen()) return true;
    VideoPane* pane = currentView_ == kQuadView ? selectedPane() : currentPane();
    if (pane == nullptr || !sessionOpen_) return false;
    showFullScreenOf(*pane);
    return true;
}

void LiveView::showFullScreenOf(VideoPane& pane) {
    if (fullScreen_ == nullptr) {
        // A window of the live view's own, so that the modal run lets its
        // input through.
        fullScreen_ = new PaneWidget(QString(), this);
        fullScreen_->setWindowFlag(Qt::Window);
        fullScreen_->setWindowTitle(windowTitle());
        fullScreen_->setPresentation(PaneWidget::Presentation::Fitted,
                                     QSize(kVideoWidth, kVideoHeight));
        fullScreen_->setZoomable(true);
        fullScreen_->setLogicalScale(geometry_.scale());
        fullScreen_->installEventFilter(this);
        PaneWidget& widget = *fullScreen_;
        connect(&widget, &PaneWidget::pressed, this,
                [this, &widget](QPointF at) { stylusPress(toPictureArea(widget, at), true); });
        connect(&widget, &PaneWidget::moved, this,
                [this, &widget](QPointF at) { stylusMove(toPictureArea(widget, at)); });
        connect(&widget, &PaneWidget::released, this,
                [this, &widget](QPointF at) { stylusRelease(toPictureArea(widget, at).picture); });
    }
    PaneWidget& source = pane.widget();
    source.detachSlot();
    fullScreenPane_ = pane.number();
    fullScreen_->setZoom(source.zoom());
    fullScreen_->setMarker(source.marker());
    if (source.hasPicture()) {
        fullScreen_->showPicture(source.picture());
    } else {
        fullScreen_->clearPicture();
    }
    fullScreen_->attachSlot(pane.pictureSlot());
    // On the screen the live view is on.
    QScreen* screen = windowHandle() != nullptr ? windowHandle()->screen() : this->screen();
    if (screen != nullptr) fullScreen_->setGeometry(screen->geometry());
    fullScreen_->showFullScreen();
    fullScreen_->raise();
    fullScreen_->activateWindow();
}

void LiveView::leaveFullScreen() {
    if (!fullScreen()) return;
    VideoPane& pane = *panes_[fullScreenPane_];
    fullScreenPane_ = -1;
    fullScreen_->detachSlot();
    fullScreen_->hide();
    PaneWidget& widget = pane.widget();
    if (widget.zoomable()) widget.setZoom(fullScreen_->zoom());
    if (fullScreen_->hasPicture()) {
        widget.showPicture(fullScreen_->picture());
    } else {
        widget.clearPicture();
    }
    fullScreen_->clearPicture();
    widget.attachSlot(pane.pictureSlot());
    activateWindow();
}

void LiveView::toggleHealthOverlay() {
    VideoPane* pane = fullScreen()                ? gesturePane()
                      : currentView_ == kQuadView ? selectedPane()
                                                  : currentPane();
    if (pane != nullptr) {
        pane->renderState().healthShown = !pane->renderState().healthShown;
        return;
    }
    const bool shown = !panes_[0]->renderState().healthShown;
    for (auto& each : panes_) each->renderState().healthShown = shown;
}

void LiveView::resetZoom() {
    if (fullScreen()) {
        fullScreen_->resetZoom();
    } else if (VideoPane* pane = currentPane()) {
        pane->widget().resetZoom();
    }
}

void LiveView::refreshHealthMarkers() {
    for (auto& pane : panes_) {
        const QString marker = QString::fromStdString(healthMarker(pane->health()));
        pane->widget().setMarker(marker);
        if (fullScreenPane_ == pane->number()) fullScreen_->setMarker(marker);
    }
}

void LiveView::keyPressEvent(QKeyEvent* event) {
    if (fullScreen() && event->key() == Qt::Key_Escape) {
        leaveFullScreen();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool LiveView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != fullScreen_ || fullScreen_ == nullptr)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::Close) {
        // Closing the full-screen window returns to the live view.
        event->ignore();
        leaveFullScreen();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        case Qt::Key_Escape:
        case Qt::Key_F11:
        case Qt::Key_F: leaveFullScreen(); return true;
        case Qt::Key_I: toggleHealthOverlay(); return true;
        case Qt::Key_0: resetZoom(); return true;
        default: return false;
    }
}

}  // namespace tess
