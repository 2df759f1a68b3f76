#include "liveview/LiveView.h"

#include <cmath>

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QWindow>

#include "liveview/RequestMessages.h"
#include "protocol/ModelCodes.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

// The window caption and the commands of the channel menu bar.
constexpr const char* kCaption = "Show";
constexpr std::array<const char*, 2> kChannelCommands{"CH1", "CH2"};

constexpr QRect kPictureArea{0, 0, LiveView::kVideoWidth, LiveView::kVideoHeight};
constexpr std::array<QRect, LiveSession::kQuadPanes> kQuadPlaces{
    {{0, 0, 120, 82}, {120, 0, 120, 82}, {0, 82, 120, 82}, {120, 82, 120, 82}}};

// How often the panes' health markers are brought up to date.
constexpr int kHealthRefreshMs = 250;

}  // namespace

LiveView::LiveView(LiveSession& session, PaneRenderers& renderers, const std::string& programFolder,
                   QWidget* parent)
    : QDialog(parent),
      session_(session),
      renderers_(renderers),
      // The screen of the window that opens it (the main window's).
      geometry_(LogicalGeometry::forScreen(parent ? parent->screen() : nullptr)),
      snapshotFolder_(programFolder + "Temp/") {
    setWindowTitle(QString::fromUtf8(kCaption));
    geometry_.fitWindow(*this, QSize(kVideoWidth, kClientHeight + kMenuBarHeight));
    for (int number = 0; number < session_.paneCount(); ++number) {
        const std::string_view caption = text::paneCaptions[number % 4];
        auto* widget = new PaneWidget(
            QString::fromUtf8(caption.data(), static_cast<int>(caption.size())), this);
        widget->setObjectName(widget->caption());
        widget->setLogicalScale(geometry_.scale());
        widget->attachSlot(renderers_[number].pictureSlot());
        widget->hide();
        connectStylus(*widget);
        panes_.push_back(widget);
    }
    controlPanel_ = new ControlPanel(*this, geometry_);
    browser_ = new SnapshotBrowser(this);
    fullScreen_ = new FullScreenView(*this, geometry_.scale(), QSize(kVideoWidth, kVideoHeight));
    connectStylus(fullScreen_->widget());
    connect(fullScreen_, &FullScreenView::leaveRequested, this, &LiveView::leaveFullScreen);
    connect(fullScreen_, &FullScreenView::healthToggled, this, &LiveView::toggleHealthOverlay);
    connect(fullScreen_, &FullScreenView::zoomResetRequested, this, &LiveView::resetZoom);
    connectControls();
    bindButtonKeys();
    bindViewerKeys();
    healthTimer_.setInterval(kHealthRefreshMs);
    connect(&healthTimer_, &QTimer::timeout, this, &LiveView::refreshHealthMarkers);
    session_.setListener(this);
}

LiveView::~LiveView() {
    // The session outlives the window: it must neither call back nor show a
    // picture in a widget that goes now.
    session_.setListener(nullptr);
    for (PaneWidget* widget : panes_) widget->detachSlot();
    fullScreen_->widget().detachSlot();
}

void LiveView::view(DeviceEntry& entry, DeviceDirectory& directory) {
    controlPanel_->reset();
    lastSnapshotName_.clear();
    stylus_ = StylusTracker{};
    for (PaneWidget* widget : panes_) {
        widget->resetZoom();
        widget->setMarker({});
    }
    session_.setListener(this);
    session_.open(entry, directory);
    arrangeControls();
    arrangePanes();
    healthTimer_.start();
    exec();
}

void LiveView::arrangeControls() {
    switch (session_.kind()) {
        case SessionKind::Quad:
            controlPanel_->setMode({.quad = true, .switching = false, .quadOnScreen = true});
            controlPanel_->showSnapShotOnly();
            break;
        case SessionKind::Switch:
            controlPanel_->setMode({.quad = false, .switching = true, .quadOnScreen = false});
            controlPanel_->showSnapShotOnly();
            controlPanel_->deviceText().show();
            controlPanel_->labelBox().show();
            break;
        case SessionKind::Device:
        case SessionKind::None: break;
    }
}

void LiveView::followView() {
    PanelMode mode = controlPanel_->mode();
    mode.quadOnScreen = session_.view() == kQuadView;
    controlPanel_->setMode(mode);
}

void LiveView::arrangePanes() {
    const bool quad = session_.view() == kQuadView;
    followView();
    const std::optional<int> alone = session_.currentPane();
    for (int number = 0; number < session_.paneCount(); ++number) {
        PaneWidget& widget = *panes_[number];
        // Only a picture shown alone zooms; the quad's panes go back to 1x.
        widget.setZoomable(alone == number);
        if (quad && number < LiveSession::kQuadPanes) {
            geometry_.place(widget, kQuadPlaces[number]);
            widget.show();
        } else if (alone == number) {
            geometry_.place(widget, kPictureArea);
            widget.show();
        } else {
            widget.hide();
        }
    }
}

void LiveView::sessionEvent(const SessionEvent& event) {
    const int number = event.stamp.pane;
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
        case Kind::CloseRequested: reject(); break;
        case Kind::ChannelMenu: buildMenuBar(event.deviceClass); break;
        case Kind::LayOut: layOutControls(number, event.choice, event.facts); break;
        case Kind::PaneStarted:
            clearPicture(number);
            controlPanel_->labelBox().setText(QString::fromStdU16String(session_.label()));
            showBusy(number);
            break;
        case Kind::PaneStopped:
        case Kind::Busy: showBusy(number); break;
        case Kind::PictureLost: clearPicture(number); break;
        case Kind::ConnectFailed:
            clearPicture(number);
            if (const auto message = messageFor(event.result)) tell(*message);
            break;
        case Kind::CommandFinished:
            if (const auto message = messageFor(event.result)) tell(*message);
            break;
        case Kind::SnapshotSaved:
            lastSnapshotName_ = event.text;
            controlPanel_->snapshotViewerButton().show();
            controlPanel_->snapshotViewerButton().raise();
            break;
        case Kind::SnapshotFailed:
            tell(std::string(text::snapshotNotSaved) + "\n" + event.text);
            break;
        case Kind::ViewChanged: tourStepped(); break;
    }
}

void LiveView::clearPicture(int number) {
    panes_[number]->clearPicture();
    if (fullScreen_->pane() == number) fullScreen_->widget().clearPicture();
}

void LiveView::showBusy(int number) {
    if (session_.commandsInFlight(number) > 0) {
        panes_[number]->setCursor(Qt::BusyCursor);
    } else {
        panes_[number]->unsetCursor();
    }
}

void LiveView::tourStepped() {
    // A tour watched full screen goes on full screen with the next member.
    const bool wasFullScreen = fullScreen_->active();
    leaveFullScreen();
    arrangePanes();
    if (const std::optional<int> shown = session_.currentPane(); shown && wasFullScreen) {
        showFullScreenOf(*shown);
    }
}

void LiveView::showPaneAlone(int number) {
    leaveFullScreen();
    const RenderPause pause(session_);
    session_.showPaneAlone(number);
    arrangePanes();
}

void LiveView::returnToQuad() {
    if (!session_.currentPane()) return;
    leaveFullScreen();
    const RenderPause pause(session_);
    session_.returnToQuad();
    arrangePanes();
    controlPanel_->showSnapShotOnly();
    controlPanel_->snapshotViewerButton().hide();
}

void LiveView::buildMenuBar(int32_t deviceClass) {
    delete menuBar_.data();
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    geometry_.place(*menuBar_, 0, kClientHeight, kVideoWidth, kMenuBarHeight);
    // Only a recorder with a channel menu gets commands; every other device
    // an empty bar.
    if (classTraits(deviceClass).channelMenu) {
        for (int channel = 1; channel <= static_cast<int>(kChannelCommands.size()); ++channel) {
            QAction* command =
                menuBar_->addAction(QString::fromUtf8(kChannelCommands[channel - 1]));
            connect(command, &QAction::triggered, this,
                    [this, channel] { session_.changeChannel(channel); });
        }
    }
    menuBar_->show();
}

void LiveView::done(int result) {
    leaveFullScreen();
    healthTimer_.stop();
    session_.close();
    if (menuBar_) {
        // Closing can be asked from inside one of the bar's own commands.
        menuBar_->hide();
        menuBar_->deleteLater();
        menuBar_ = nullptr;
    }
    QDialog::done(result);
}

bool LiveView::takeSnapshot() {
    const std::optional<int> pane =
        session_.view() == kQuadView ? session_.selectedPane() : session_.currentPane();
    if (!pane) return false;
    return session_.requestSnapshot(*pane, makeSnapshotName(SnapshotTime::localNow()),
                                    snapshotHeader_);
}

std::string LiveView::makeSnapshotName(const SnapshotTime& time) {
    snapshotHeader_.setDate(time);
    return snapshotName(time);
}

void LiveView::browseSnapshots() {
    if (lastSnapshotName_.empty()) return;
    browser_->browse(snapshotFolder_, lastSnapshotName_);
}

void LiveView::layOutControls(int number, const ControlChoice& choice, const SessionFacts& facts) {
    // The session may lay out a pane it has just shown alone.
    followView();
    const PaneConnection& connection = session_.runtime(number).connection();
    controlPanel_->layOut(choice, facts, connection.videoWanted, connection.audioWanted);
}

void LiveView::showAvButton(int number) {
    const PaneConnection& connection = session_.runtime(number).connection();
    controlPanel_->showAvButton(connection.videoWanted, connection.audioWanted);
    controlPanel_->settleLayout();
}

void LiveView::connectStylus(PaneWidget& widget) {
    connect(&widget, &PaneWidget::pressed, this,
            [this, &widget](QPointF at) { stylusPress(toPictureArea(widget, at), true); });
    connect(&widget, &PaneWidget::moved, this,
            [this, &widget](QPointF at) { stylusMove(toPictureArea(widget, at)); });
    connect(&widget, &PaneWidget::released, this,
            [this, &widget](QPointF at) { stylusRelease(toPictureArea(widget, at).picture); });
}

LiveView::StylusAt LiveView::toPictureArea(const PaneWidget& widget, QPointF position) const {
    const QPoint screen = &widget == &fullScreen_->widget()
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
    if (event->button() == Qt::LeftButton) stylusRelease(geometry_.toLogical(event->position()));
}

void LiveView::stylusPress(StylusAt at, bool onPane) {
    stylus_.press({at.picture.x(), at.picture.y()}, {at.screen.x(), at.screen.y()}, onPane);
}

void LiveView::stylusMove(StylusAt at) {
    if (!stylus_.move({at.picture.x(), at.picture.y()}, {at.screen.x(), at.screen.y()})) return;
    const std::optional<int> pane = gesturePane();
    if (!pane || classTraits(session_.runtime(*pane).facts().deviceClass).aim != AimRoute::Location)
        return;
    const StylusPoint from = stylus_.touch();
    const StylusPoint to = stylus_.current();
    session_.showDragRectangle(*pane, {.x0 = from.x, .x1 = to.x, .y0 = from.y, .y1 = to.y});
}

void LiveView::stylusRelease(QPoint at) {
    const std::optional<StylusRelease> release = stylus_.release({at.x(), at.y()});
    if (!release) return;
    if (session_.view() == kQuadView && !fullScreen_->active()) {
        // A second tap on the selected pane shows it alone.
        const RenderPause pause(session_);
        session_.tapQuadPane(quadPaneAt(release->touch));
        arrangePanes();
        return;
    }
    const std::optional<int> pane = gesturePane();
    if (!pane) return;
    session_.hideDragRectangles(*pane);
    session_.aim(*pane, {release->touch.x, release->touch.y, release->dragging, release->pressX,
                         release->currentX, kVideoWidth, kVideoHeight});
}

std::optional<int> LiveView::gesturePane() const {
    if (fullScreen_->active()) return fullScreen_->pane();
    return session_.currentPane();
}

void LiveView::toggleFullScreen() {
    if (fullScreen_->active()) {
        leaveFullScreen();
    } else {
        enterFullScreen();
    }
}

bool LiveView::enterFullScreen() {
    if (fullScreen_->active()) return true;
    const std::optional<int> pane =
        session_.view() == kQuadView ? session_.selectedPane() : session_.currentPane();
    if (!pane || !session_.isOpen()) return false;
    showFullScreenOf(*pane);
    return true;
}

void LiveView::showFullScreenOf(int number) {
    // On the screen the live view is on.
    QScreen* screen = windowHandle() != nullptr ? windowHandle()->screen() : this->screen();
    fullScreen_->enter(number, *panes_[number], renderers_[number].pictureSlot(), screen);
}

void LiveView::leaveFullScreen() {
    const int number = fullScreen_->pane();
    if (number < 0) return;
    fullScreen_->leave(*panes_[number], renderers_[number].pictureSlot());
    activateWindow();
}

void LiveView::toggleHealthOverlay() {
    const std::optional<int> pane = fullScreen_->active()          ? gesturePane()
                                    : session_.view() == kQuadView ? session_.selectedPane()
                                                                   : session_.currentPane();
    if (pane) {
        session_.setHealthShown(*pane, !session_.rendering(*pane).renderState().healthShown);
        return;
    }
    const bool shown = !session_.rendering(0).renderState().healthShown;
    for (int number = 0; number < session_.paneCount(); ++number) {
        session_.setHealthShown(number, shown);
    }
}

void LiveView::resetZoom() {
    if (fullScreen_->active()) {
        fullScreen_->widget().resetZoom();
    } else if (const std::optional<int> pane = session_.currentPane()) {
        panes_[*pane]->resetZoom();
    }
}

void LiveView::refreshHealthMarkers() {
    for (int number = 0; number < session_.paneCount(); ++number) {
        const QString marker = QString::fromStdString(healthMarker(session_.health(number)));
        panes_[number]->setMarker(marker);
        if (fullScreen_->pane() == number) fullScreen_->widget().setMarker(marker);
    }
}

void LiveView::keyPressEvent(QKeyEvent* event) {
    if (fullScreen_->active() && event->key() == Qt::Key_Escape) {
        leaveFullScreen();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tess
