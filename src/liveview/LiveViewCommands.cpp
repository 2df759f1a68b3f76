// The live view's commands: what the control panel's buttons and the
// keyboard turn into session calls.
#include "liveview/LiveView.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>

#include "protocol/ModelCodes.h"

namespace tess {
namespace {

// Keys of the function buttons.
constexpr int kButton2Key = 112;
constexpr int kButton3Key = 90;

constexpr std::pair<Control, int> kPtzActions[] = {
    {Control::Up, 16},        {Control::Down, 17},       {Control::Left, 18},
    {Control::Right, 19},     {Control::ZoomIn, 22},     {Control::ZoomOut, 23},
    {Control::ZoomInMax, 24}, {Control::ZoomOutMax, 25}, {Control::FocusIn, 26},
    {Control::FocusOut, 27}};

}  // namespace

void LiveView::connectControls() {
    ControlPanel& panel = *controlPanel_;
    const auto onClick = [this, &panel](Control control, auto action) {
        connect(&panel.button(control), &QAbstractButton::clicked, this, action);
    };
    onClick(Control::SnapShot, [this] { takeSnapshot(); });
    connect(&panel.snapshotViewerButton(), &QPushButton::clicked, this, &LiveView::browseSnapshots);
    onClick(Control::FourDevice, [this] { returnToQuad(); });
    onClick(Control::Cut4, [this] { split(Split::Cut4); });
    onClick(Control::Cut9, [this] { split(Split::Cut9); });
    onClick(Control::Cut16, [this] { split(Split::Cut16); });
    for (int n = 1; n <= 16; ++n) {
        onClick(channelControl(n),
                [this, n] { session_.pressChannel(n, controlPanel_->channelMode()); });
    }
    for (const auto& [control, action] : kPtzActions) {
        onClick(control, [this, code = action] { session_.sendPtzAction(code); });
    }
    onClick(Control::Auto, [this] { session_.pressAuto(); });
    onClick(Control::CH, [this] { switchChannelMode(0); });
    onClick(Control::PRESET, [this] { switchChannelMode(1); });
    onClick(Control::Button2, [this] { session_.sendKey(kButton2Key); });
    onClick(Control::Button3, [this] { session_.sendKey(kButton3Key); });
    for (AvButton av : {AvButton::AudioAndVideo, AvButton::VideoOnly, AvButton::AudioOnly}) {
        connect(&panel.avButton(av), &QPushButton::clicked, this, &LiveView::cycleAvMode);
    }
    connect(&panel, &ControlPanel::pageChanged, this, &LiveView::showTabPage);
}

void LiveView::split(Split cut) {
    controlPanel_->setChannelMode(1);
    if (session_.split(cut)) controlPanel_->showChannelModeButton();
}

void LiveView::switchChannelMode(int mode) {
    const RenderPause pause(session_);
    controlPanel_->setChannelMode(mode);
    controlPanel_->showChannelModeButton();
}

void LiveView::cycleAvMode() {
    if (session_.cycleAvMode()) showAvButton(*session_.currentPane());
}

void LiveView::showTabPage(int page) {
    const RenderPause pause(session_);
    const std::optional<int> number = session_.currentPane();
    if (!number) return;
    const PaneConnection& connection = session_.runtime(*number).connection();
    controlPanel_->showPage(page, classTraits(session_.runtime(*number).facts().deviceClass),
                            connection.videoWanted, connection.audioWanted);
}

void LiveView::bindButtonKeys() {
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
}

void LiveView::bindViewerKeys() {
    // The viewer's own keys, which send nothing to a device.
    const std::pair<QKeySequence, void (LiveView::*)()> viewerKeys[] = {
        {Qt::Key_F11, &LiveView::toggleFullScreen},
        {Qt::Key_F, &LiveView::toggleFullScreen},
        {Qt::Key_I, &LiveView::toggleHealthOverlay},
        {Qt::Key_0, &LiveView::resetZoom},
        {Qt::KeypadModifier | Qt::Key_0, &LiveView::resetZoom},
    };
    for (const auto& [key, action] : viewerKeys) {
        connect(new QShortcut(key, this), &QShortcut::activated, this, action);
    }
}

}  // namespace tess
