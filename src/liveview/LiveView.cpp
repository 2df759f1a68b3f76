#include "liveview/LiveView.h"

#include <QAction>
#include <QMenuBar>

#include "directory/DeviceDirectory.h"
#include "directory/DeviceEntry.h"
#include "protocol/CgiExchange.h"
#include "protocol/ModelCodes.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

// The window caption and the commands of the channel menu bar.
constexpr const char* kCaption = "Show";
constexpr std::array<const char*, 2> kChannelCommands{"CH1", "CH2"};

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
    connect(panes_[0].get(), &VideoPane::loginResult, this, &LiveView::onLoginResult);
    modelKnownTimer_.setInterval(kModelKnownPollMs);
    connect(&modelKnownTimer_, &QTimer::timeout, this, &LiveView::pollModelKnown);
}

LiveView::~LiveView() {
    // Each pane ends its threads before its widget, a child of this window,
    // is deleted with it.
    for (auto& pane : panes_) {
        pane.reset();
    }
}

void LiveView::view(DeviceEntry& entry, DeviceDirectory&) {
    ++session_;
    sessionOpen_ = true;
    currentView_ = 0;
    controlPanel_ = ControlPanelState{};
    loginPending_ = false;
    for (auto& pane : panes_) {
        pane->widget().hide();
        pane->session().audioToPlayer = false;
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
    SessionInfo& session = pane.session();
    currentView_ = 0;
    session.audioToPlayer = true;
    geometry_.place(pane.widget(), kPictureArea);
    pane.widget().show();

    const uint16_t avFlags = entry.avFlags();
    session.videoWanted = (avFlags & kAvVideo) != 0;
    session.audioWanted = (avFlags & kAvAudio) != 0;
    session.host = entry.address();
    session.userName = entry.userName();
    session.password = entry.password();
    session.devicePort = entry.port();
    session.streamPort = entry.port();

    // Pane 0's first login result decides whether the window stays open.
    loginPending_ = true;
    pane.startPane();
    modelWaitStart_ = std::chrono::steady_clock::now();
    modelKnownTimer_.start();
}

void LiveView::onLoginResult(bool loggedIn) {
    if (!loginPending_) {
        return;
    }
    loginPending_ = false;
    if (!loggedIn) {
        reject();
    }
}

void LiveView::pollModelKnown() {
    if (panes_[0]->runtime().modelKnown().poll()) {
        modelKnownTimer_.stop();
        buildMenuBar();
        return;
    }
    if (std::chrono::steady_clock::now() - modelWaitStart_ >=
        std::chrono::milliseconds(kModelKnownWaitMs)) {
        // Too late for this session: the window goes without a menu bar.
        modelKnownTimer_.stop();
    }
}

void LiveView::buildMenuBar() {
    delete menuBar_.data();
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    geometry_.place(*menuBar_, 0, kClientHeight, kVideoWidth, kMenuBarHeight);
    // The bar stays empty unless a class 50 device was identified since the
    // last pane start.
    if (channelMenuWanted) {
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
    ++session_;
    modelKnownTimer_.stop();
    loginPending_ = false;
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

bool LiveView::changeChannel(int channel) {
    VideoPane* pane = currentPane();
    if (pane == nullptr || pane->session().deviceClass != 50) {
        return false;
    }
    PaneConnection& connection = pane->runtime().connection();
    const SessionInfo& session = connection.session;
    const std::string head =
        request::setChannel(session.sessionIdText(), channel, session.localAddress);
    CommandReply reply;
    // Blocks this thread for at most the request's own connect and reply
    // limits, as every command to a device does.
    if (!sendCgiRequest(this, connection, head, {}, reply)) {
        return false;
    }
    pane->session().channel = channel;
    applyLayoutForView(*pane);
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
    if (pane == nullptr || !pane->runtime().connection().controlLink.connected()) {
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

void LiveView::requestRepaint() {
    QMetaObject::invokeMethod(
        this, [this] { update(); }, Qt::QueuedConnection);
}

template <typename Operation>
void LiveView::onGuiThread(Operation operation) {
    const uint32_t session = session_.load();
    QMetaObject::invokeMethod(
        this,
        [this, session, operation] {
            if (sessionOpen_ && session == session_.load()) {
                operation();
            }
        },
        Qt::QueuedConnection);
}

// The layout operations the connect sequence asks for. They are kept in
// controlPanel_ for the control panel below the pictures, which shows and
// hides its buttons by them.
void LiveView::ApplyDvrTabs() {
    onGuiThread([this] { applyLayout(ControlLayout::DvrTabs); });
}

void LiveView::ApplyPlainLayout() {
    onGuiThread([this] { applyLayout(ControlLayout::Plain); });
}

void LiveView::ApplyPresetTabs() {
    onGuiThread([this] { applyLayout(ControlLayout::PresetTabs); });
}

void LiveView::ApplyFourChannelLayout(int channelIndex) {
    onGuiThread([this, channelIndex] { applyLayout(ControlLayout::FourChannel, channelIndex); });
}

void LiveView::ApplyNineChannelLayout() {
    onGuiThread([this] { applyLayout(ControlLayout::NineChannel); });
}

void LiveView::ApplySixteenChannelLayout() {
    onGuiThread([this] { applyLayout(ControlLayout::SixteenChannel); });
}

void LiveView::ShowAvButton(const SessionInfo& pane) {
    // The session belongs to the calling thread's pane: only its flags travel.
    const bool video = pane.videoWanted;
    const bool audio = pane.audioWanted;
    onGuiThread([this, video, audio] { showAvButton(video, audio); });
}

void LiveView::applyLayout(ControlLayout layout, int channelIndex) {
    switch (layout) {
        case ControlLayout::FourChannel:
        case ControlLayout::NineChannel:
        case ControlLayout::SixteenChannel:
            controlPanel_.channelMode = 1;
            break;
        case ControlLayout::PresetTabs:
            controlPanel_.channelMode = 0;
            break;
        default:
            break;
    }
    controlPanel_.layout = layout;
    controlPanel_.channelIndex = channelIndex;
    ++controlPanel_.operations;
}

void LiveView::showAvButton(bool videoWanted, bool audioWanted) {
    if (currentView_ == kQuadView) {
        return;
    }
    if (videoWanted && audioWanted) {
        controlPanel_.avButton = AvButton::AudioAndVideo;
    } else if (videoWanted) {
        controlPanel_.avButton = AvButton::VideoOnly;
    } else if (audioWanted) {
        controlPanel_.avButton = AvButton::AudioOnly;
    } else {
        controlPanel_.avButton = AvButton::None;
    }
    ++controlPanel_.operations;
}

void LiveView::applyLayoutForView(VideoPane& pane) {
    const SessionInfo& session = pane.session();
    const auto typeOf = [&session](int32_t index) -> int {
        const ChannelRecord* record = index >= 0 ? session.channelTable.at(index) : nullptr;
        return record != nullptr ? record->type : -1;
    };
    switch (session.deviceClass) {
        case 4:
            applyLayout(ControlLayout::Plain);
            break;
        case 1:
            showAvButton(session.videoWanted, session.audioWanted);
            applyLayoutForType(typeOf(0), 0);
            break;
        case 3:
            applyLayout(ControlLayout::DvrTabs);
            break;
        case 6:
        case 7:
        case 8:
            showAvButton(session.videoWanted, session.audioWanted);
            applyLayout(ControlLayout::PresetTabs);
            break;
        case 50: {
            const int32_t index = session.channel - 1;
            applyLayoutForType(typeOf(index), index);
            break;
        }
        default:
            applyLayout(ControlLayout::None);
            break;
    }
}

void LiveView::applyLayoutForType(int deviceType, int channelIndex) {
    switch (deviceType) {
        case 0:
        case 1:
            applyLayout(ControlLayout::Plain);
            break;
        case 2:
        case 3:
        case 4:
        case 7:
        case 9:
            applyLayout(ControlLayout::FourChannel, channelIndex);
            break;
        case 5:
            applyLayout(ControlLayout::NineChannel);
            break;
        case 6:
            applyLayout(ControlLayout::SixteenChannel);
            break;
        case 8:
        case 18:
        case 25:
        case 26:
            applyLayout(ControlLayout::PresetTabs);
            break;
        default:
            // A type the viewer does not know leaves the controls as they are.
            break;
    }
}

}  // namespace tess
