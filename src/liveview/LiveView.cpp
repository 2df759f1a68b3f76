#include "liveview/LiveView.h"

#include <algorithm>

#include <QAction>
#include <QMenuBar>

#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "liveview/RequestMessages.h"
#include "platform/MessageSink.h"
#include "protocol/DeviceCommand.h"

namespace tess {
namespace {

// The window caption and the commands of the channel menu bar.
constexpr const char* kCaption = "Show";
constexpr std::array<const char*, 2> kChannelCommands{"CH1", "CH2"};
// The device class whose recorders get the channel menu.
constexpr int32_t kChannelMenuClass = 50;

constexpr QRect kPictureArea{0, 0, LiveView::kVideoWidth, LiveView::kVideoHeight};

}  // namespace

LiveView::LiveView(AudioOut& audioOut, const std::string& programFolder, QWidget* parent)
    : QDialog(parent),
      geometry_(LogicalGeometry::forScreen()),
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
    }
    modelKnownDeadline_.setSingleShot(true);
    modelKnownDeadline_.setInterval(kModelKnownWaitMs);
}

LiveView::~LiveView() {
    // Each pane ends its threads before its widget, a child of this window,
    // is deleted with it.
    for (auto& pane : panes_) {
        pane.reset();
    }
}

void LiveView::view(DeviceEntry& entry, DeviceDirectory&) {
    sessionOpen_ = true;
    currentView_ = 0;
    controlPanel_ = ControlPanelState{};
    loginPending_ = false;
    firstSessionPending_ = false;
    for (auto& pane : panes_) {
        pane->widget().hide();
        pane->connection().audioToPlayer = false;
        pane->renderState().selected = false;
        pane->renderState().snapshotRequested = false;
        pane->renderState().dragRectangle.shown = false;
    }
    if (entry.kind() == EntryKind::device) {
        openDevice(entry);
    }
    // Multi-devices (quad and switch) are not shown yet: their window opens
    // with an empty picture area.
    exec();
}

void LiveView::openDevice(const DeviceEntry& entry) {
    VideoPane& pane = *panes_[0];
    PaneConnection& connection = pane.connection();
    currentView_ = 0;
    connection.audioToPlayer = true;
    geometry_.place(pane.widget(), kPictureArea);
    pane.widget().show();

    const uint16_t avFlags = entry.avFlags();
    connection.videoWanted = (avFlags & kAvVideo) != 0;
    connection.audioWanted = (avFlags & kAvAudio) != 0;
    const LoginData login{entry.address(), entry.userName(), entry.password(), entry.port()};

    // Pane 0's first login and negotiation decide whether the window stays open.
    loginPending_ = true;
    firstSessionPending_ = true;
    pane.startPane(login);
    modelKnownDeadline_.start();
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
        applyControls(chooseControls(LayoutOccasion::Negotiated, facts.deviceClass,
                                     facts.channelTable, facts.channel),
                      pane);
    }
}

void LiveView::connectFailed(PaneStamp stamp, RequestResult result) {
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
        applyControls(chooseControls(LayoutOccasion::ShownAlone, facts.deviceClass,
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
    return queueOnCurrentPane(ptz::aimCommand(gesture));
}

bool LiveView::queueOnCurrentPane(DeviceCommand command) {
    VideoPane* pane = currentPane();
    if (pane == nullptr) {
        return false;
    }
    pane->queueCommand(std::move(command));
    return true;
}

bool LiveView::takeSnapshot() {
    VideoPane* pane = nullptr;
    if (currentView_ == kQuadView) {
        for (auto& candidate : panes_) {
            if (candidate->renderState().selected) {
                pane = candidate.get();
                break;
            }
        }
    } else {
        pane = currentPane();
    }
    if (pane == nullptr || !pane->connection().controlLink.connected()) {
        return false;
    }
    const std::string name = makeSnapshotName(SnapshotTime::localNow());
    pane->setSnapshot(name, snapshotHeader_);
    pane->renderState().selected = true;
    pane->renderState().snapshotRequested = true;
    return true;
}

std::string LiveView::makeSnapshotName(const SnapshotTime& time) {
    std::string name = snapshotName(time);
    snapshotHeader_.setDate(time);
    lastSnapshotName_ = name + ".jpg";
    return name;
}

void LiveView::applyControls(const ControlChoice& choice, VideoPane& pane) {
    if (choice.showAvButton) {
        showAvButton(pane);
    }
    if (choice.layout) {
        applyLayout(*choice.layout, choice.channelIndex);
    }
}

void LiveView::applyLayout(ControlLayout layout, int channelIndex) {
    switch (layout) {
        case ControlLayout::FourChannel:
        case ControlLayout::NineChannel:
        case ControlLayout::SixteenChannel: controlPanel_.channelMode = 1; break;
        case ControlLayout::PresetTabs: controlPanel_.channelMode = 0; break;
        default: break;
    }
    controlPanel_.layout = layout;
    controlPanel_.channelIndex = channelIndex;
    ++controlPanel_.operations;
}

void LiveView::showAvButton(VideoPane& pane) {
    if (currentView_ == kQuadView) {
        return;
    }
    const PaneConnection& connection = pane.connection();
    const bool video = connection.videoWanted;
    const bool audio = connection.audioWanted;
    if (video && audio) {
        controlPanel_.avButton = AvButton::AudioAndVideo;
    } else if (video) {
        controlPanel_.avButton = AvButton::VideoOnly;
    } else if (audio) {
        controlPanel_.avButton = AvButton::AudioOnly;
    } else {
        controlPanel_.avButton = AvButton::None;
    }
    ++controlPanel_.operations;
}

}  // namespace tess
