#include "liveview/ControlPanel.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabWidget>

#include "liveview/ButtonArt.h"

namespace tess {
namespace {

// An owner-drawn command button: its picture is painted at the button's real
// size, raised or pressed. It acts once per click (no auto-repeat) and takes
// the keyboard focus by Tab only, so Return never presses it.
class ImageButton final : public QAbstractButton {
public:
    ImageButton(Control control, QWidget* parent) : QAbstractButton(parent), control_(control) {
        setFocusPolicy(Qt::TabFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintButtonArt(painter, QRectF(rect()), control_, isDown(), isEnabled());
        if (hasFocus()) {
            painter.setPen(QPen(palette().highlight().color(), 1, Qt::DotLine));
            painter.drawRect(rect().adjusted(0, 0, -1, -1));
        }
    }

private:
    const Control control_;
};

struct ButtonInfo {
    Control control;
    const char* caption;
    QRect place;  // an empty one is set by the layouts
};

// Every button but Ch1 ... Ch16, with its caption and place.
constexpr ButtonInfo kButtons[] = {
    {Control::SnapShot, "SnapShot", ControlPanel::kSnapShotPlace},
    {Control::Cut4, "Split into 4", {50, 175, 19, 18}},
    {Control::Cut9, "Split into 9", {80, 175, 19, 18}},
    {Control::Cut16, "Split into 16", {110, 175, 19, 18}},
    {Control::FourDevice, "Back to four devices", ControlPanel::kQuadReturnPlace},
    {Control::Up, "Up", {200, 185, 18, 9}},
    {Control::Down, "Down", {200, 215, 18, 9}},
    {Control::Left, "Left", {190, 195, 9, 18}},
    {Control::Right, "Right", {220, 195, 9, 18}},
    {Control::FocusIn, "Focus in", {20, 180, 18, 18}},
    {Control::FocusOut, "Focus out", {20, 210, 18, 18}},
    {Control::ZoomIn, "Zoom in", {60, 180, 18, 18}},
    {Control::ZoomOut, "Zoom out", {60, 210, 18, 18}},
    {Control::ZoomInMax, "Zoom in fully", {100, 180, 19, 18}},
    {Control::ZoomOutMax, "Zoom out fully", {100, 210, 19, 18}},
    {Control::Auto, "Auto", {140, 200, 32, 18}},
    {Control::CH, "CH", {170, 200, 60, 20}},
    {Control::PRESET, "PRESET", {170, 200, 60, 20}},
    {Control::Button2, "Button 2", {}},
    {Control::Button3, "Button 3", {}},
};

constexpr int kChannelCount = 16;
constexpr int kChannelsPerRow = 8;
constexpr QRect kNinthChannelAtRowStart{5, 220, 18, 18};
constexpr QRect kNinthChannelAtRowEnd{165, 200, 18, 18};

QRect channelPlace(int n) {
    const int column = (n - 1) % kChannelsPerRow;
    return {5 + 20 * column, n <= kChannelsPerRow ? 200 : 220, 18, 18};
}

constexpr QRect kTabPlace{0, 166, 240, 100};
constexpr QRect kDeviceTextPlace{20, 220, 50, 18};
constexpr QRect kLabelBoxPlace{70, 220, 120, 20};

constexpr Control kPtzButtons[] = {Control::ZoomIn,   Control::ZoomOut,   Control::FocusIn,
                                   Control::FocusOut, Control::ZoomInMax, Control::ZoomOutMax,
                                   Control::Auto,     Control::Up,        Control::Down,
                                   Control::Left,     Control::Right};

QPushButton* textButton(const char* caption, QWidget& window) {
    auto* button = new QPushButton(QString::fromUtf8(caption), &window);
    // Return in the dialog must not press a button that happens to have focus.
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::TabFocus);
    button->hide();
    return button;
}

}  // namespace

ControlPanel::ControlPanel(QWidget& window, const LogicalGeometry& geometry)
    : QObject(&window), geometry_(geometry) {
    // The tab control lies under the buttons; its page bar runs along its
    // bottom edge, below the lowest row of buttons.
    tabs_ = new QTabWidget(&window);
    tabs_->setTabPosition(QTabWidget::South);
    tabs_->setFocusPolicy(Qt::TabFocus);
    place(*tabs_, kTabPlace);
    tabs_->hide();
    connect(tabs_, &QTabWidget::currentChanged, this, &ControlPanel::pageChanged);

    createButtons(window);

    const std::array<const char*, 3> avCaptions{"A / V", "Video", "Audio"};
    for (size_t i = 0; i < avButtons_.size(); ++i) {
        avButtons_[i] = textButton(avCaptions[i], window);
        place(*avButtons_[i], kAvButtonPlace);
    }
    // The "1" button stands on the picture area, above the panes.
    snapshotViewer_ = textButton("1", window);
    place(*snapshotViewer_, kSnapshotViewerPlace);

    deviceText_ = new QLabel(QStringLiteral("Device:"), &window);
    place(*deviceText_, kDeviceTextPlace);
    deviceText_->hide();
    labelBox_ = new QLineEdit(&window);
    labelBox_->setReadOnly(true);
    labelBox_->setFocusPolicy(Qt::NoFocus);
    place(*labelBox_, kLabelBoxPlace);
    labelBox_->hide();
}

void ControlPanel::createButtons(QWidget& window) {
    for (const ButtonInfo& info : kButtons) {
        QAbstractButton* button;
        if (info.control == Control::CH || info.control == Control::PRESET) {
            button = textButton(info.caption, window);
        } else {
            button = new ImageButton(info.control, &window);
            button->setToolTip(QString::fromUtf8(info.caption));
        }
        button->setAccessibleName(QString::fromUtf8(info.caption));
        if (!info.place.isEmpty()) place(*button, info.place);
        button->hide();
        buttons_[index(info.control)] = button;
    }
    for (int n = 1; n <= kChannelCount; ++n) {
        auto* button = new ImageButton(channelControl(n), &window);
        place(*button, channelPlace(n));
        button->hide();
        buttons_[index(channelControl(n))] = button;
    }
    updateChannelToolTips();
}

bool ControlPanel::isShown(Control control) const {
    return !buttons_[index(control)]->isHidden();
}

QPushButton& ControlPanel::avButton(AvButton which) {
    return *avButtons_[static_cast<int>(which) - 1];
}

AvButton ControlPanel::avButtonShown() const {
    for (size_t i = 0; i < avButtons_.size(); ++i) {
        if (!avButtons_[i]->isHidden()) return static_cast<AvButton>(i + 1);
    }
    return AvButton::None;
}

void ControlPanel::setChannelMode(int mode) {
    channelMode_ = mode;
    updateChannelToolTips();
}

void ControlPanel::updateChannelToolTips() {
    const QString name = channelMode_ == 1 ? QStringLiteral("Channel %1") : "Preset %1";
    for (int n = 1; n <= kChannelCount; ++n) {
        QAbstractButton& channel = button(channelControl(n));
        channel.setToolTip(name.arg(n));
        channel.setAccessibleName(name.arg(n));
    }
}

void ControlPanel::show(Control control, const QRect& place) {
    geometry_.place(button(control), place);
    show(control);
}

void ControlPanel::show(Control control) {
    button(control).show();
}

void ControlPanel::hide(Control control) {
    button(control).hide();
}

void ControlPanel::showQuadReturnIfQuad() {
    // Always in its own place: the default layout of a pane not yet
    // identified leaves it over Cut4.
    if (mode_.quad) {
        show(Control::FourDevice, kQuadReturnPlace);
    } else {
        hide(Control::FourDevice);
    }
}

void ControlPanel::setVisible(std::initializer_list<Control> controls, bool visible) {
    for (Control control : controls) button(control).setVisible(visible);
}

void ControlPanel::setChannelsVisible(int first, int last, bool visible) {
    for (int n = first; n <= last; ++n) button(channelControl(n)).setVisible(visible);
}

void ControlPanel::reset() {
    mode_ = {};
    hideAllControls();
    setChannelMode(1);
    layout_ = ControlLayout::None;
    snapshotViewer_->hide();
    deviceText_->hide();
    labelBox_->hide();
    labelBox_->clear();
}

void ControlPanel::hideAllControls() {
    for (QPushButton* av : avButtons_) av->hide();
    for (QAbstractButton* each : buttons_) each->hide();
    tabs_->hide();
}

void ControlPanel::showDvrPage() {
    showQuadReturnIfQuad();
    setVisible({Control::Cut4, Control::Cut9, Control::Cut16}, true);
    show(Control::SnapShot, kSnapShotPlace);
    for (Control ptz : kPtzButtons) hide(ptz);
    showChannelModeButton();
    geometry_.place(button(channelControl(9)), kNinthChannelAtRowStart);
    setChannelsVisible(1, kChannelCount, true);
}

void ControlPanel::showPtzPage() {
    for (QPushButton* av : avButtons_) av->hide();
    for (Control ptz : kPtzButtons) show(ptz);
    setVisible({Control::FourDevice, Control::Cut4, Control::Cut9, Control::Cut16,
                Control::SnapShot, Control::CH, Control::PRESET},
               false);
    setChannelsVisible(1, kChannelCount, false);
}

void ControlPanel::showPresetPage() {
    showQuadReturnIfQuad();
    for (Control ptz : kPtzButtons) hide(ptz);
    setVisible({Control::Cut4, Control::Cut9, Control::Cut16}, false);
    show(Control::SnapShot, kSnapShotPlace);
    geometry_.place(button(channelControl(9)), kNinthChannelAtRowStart);
    setChannelsVisible(1, kChannelCount, true);
}

void ControlPanel::showChannelModeButton() {
    button(Control::CH).setVisible(channelMode_ == 1);
    button(Control::PRESET).setVisible(channelMode_ != 1);
}

void ControlPanel::rebuildTabs(const char* first, const char* second) {
    // Rebuilding is not the user's choice of a page.
    const QSignalBlocker blocker(tabs_);
    while (tabs_->count() > 0) {
        QWidget* page = tabs_->widget(0);
        tabs_->removeTab(0);
        delete page;
    }
    tabs_->addTab(new QWidget, QString::fromUtf8(first));
    tabs_->addTab(new QWidget, QString::fromUtf8(second));
    tabs_->show();
    tabs_->lower();
}

void ControlPanel::applyDvrTabs() {
    if (mode_.switching) return;
    rebuildTabs("DVR", "PTZ");
    showDvrPage();
    layout_ = ControlLayout::DvrTabs;
}

void ControlPanel::applyFourChannelLayout(int deviceType) {
    if (mode_.switching) return;
    setChannelMode(1);
    showDvrPage();
    setVisible({Control::CH, Control::PRESET, Control::Cut9, Control::Cut16}, false);
    setChannelsVisible(5, kChannelCount, false);
    geometry_.place(button(Control::Button2), QRect(80, 175, 18, 18));
    geometry_.place(button(Control::Button3), QRect(110, 175, 18, 18));
    if (deviceType == 7) {
        show(Control::Auto);
    } else {
        show(Control::Button2);
        if (deviceType == 3) show(Control::Button3);
    }
    layout_ = ControlLayout::FourChannel;
}

void ControlPanel::applyNineChannelLayout() {
    if (mode_.switching) return;
    setChannelMode(1);
    showDvrPage();
    setVisible({Control::CH, Control::PRESET, Control::Cut16}, false);
    setChannelsVisible(10, kChannelCount, false);
    geometry_.place(button(channelControl(9)), kNinthChannelAtRowEnd);
    show(Control::Button2, QRect(110, 175, 18, 18));
    layout_ = ControlLayout::NineChannel;
}

void ControlPanel::applySixteenChannelLayout() {
    if (mode_.switching) return;
    setChannelMode(1);
    showDvrPage();
    setVisible({Control::CH, Control::PRESET}, false);
    show(Control::Button2, QRect(140, 175, 18, 18));
    layout_ = ControlLayout::SixteenChannel;
}

void ControlPanel::applyPresetTabs() {
    if (mode_.switching) return;
    setChannelMode(0);
    rebuildTabs("Preset", "PTZ");
    showPresetPage();
    layout_ = ControlLayout::PresetTabs;
}

void ControlPanel::applyPlainLayout() {
    if (mode_.switching) return;
    hideAllControls();
    show(Control::SnapShot, kSnapShotPlace);
    showQuadReturnIfQuad();
    layout_ = ControlLayout::Plain;
}

void ControlPanel::showSnapShotOnly() {
    hideAllControls();
    show(Control::SnapShot, kSnapShotPlace);
}

void ControlPanel::applyDefaultLayout() {
    hideAllControls();
    show(Control::SnapShot, kSnapShotPlace);
    show(Control::FourDevice, QRect(50, 175, 19, 18));
    layout_ = ControlLayout::Default;
}

void ControlPanel::showAvButton(bool videoWanted, bool audioWanted) {
    if (mode_.switching || mode_.quadOnScreen) return;
    AvButton shown = AvButton::None;
    if (videoWanted && audioWanted) {
        shown = AvButton::AudioAndVideo;
    } else if (videoWanted) {
        shown = AvButton::VideoOnly;
    } else if (audioWanted) {
        shown = AvButton::AudioOnly;
    }
    for (QPushButton* av : avButtons_) av->hide();
    if (shown != AvButton::None) {
        QPushButton& button = avButton(shown);
        place(button, kAvButtonPlace);
        button.show();
    }
}

void ControlPanel::layOut(const ControlChoice& choice, const SessionFacts& facts, bool videoWanted,
                          bool audioWanted) {
    if (mode_.switching) return;
    if (!choice.layout) {
        // No change but for the quad's return, which moves to its own place.
        if (isShown(Control::FourDevice)) show(Control::FourDevice, kQuadReturnPlace);
        if (choice.showAvButton) showAvButton(videoWanted, audioWanted);
        settleLayout();
        return;
    }
    hideAllControls();
    if (choice.showAvButton) showAvButton(videoWanted, audioWanted);
    switch (*choice.layout) {
        case ControlLayout::None: break;
        case ControlLayout::Default: applyDefaultLayout(); break;
        case ControlLayout::DvrTabs: applyDvrTabs(); break;
        case ControlLayout::Plain: applyPlainLayout(); break;
        case ControlLayout::PresetTabs: applyPresetTabs(); break;
        case ControlLayout::FourChannel: {
            const ChannelRecord* record = facts.channelTable.at(choice.channelIndex);
            applyFourChannelLayout(record != nullptr ? record->type : -1);
            break;
        }
        case ControlLayout::NineChannel: applyNineChannelLayout(); break;
        case ControlLayout::SixteenChannel: applySixteenChannelLayout(); break;
    }
    settleLayout();
}

void ControlPanel::showPage(int page, const DeviceClassTraits& traits, bool videoWanted,
                            bool audioWanted) {
    if (mode_.switching) return;
    hideAllControls();
    tabs_->show();
    if (page == 1) {
        showPtzPage();
    } else if (traits.layouts == LayoutFamily::DvrTabs) {
        showDvrPage();
    } else if (traits.layouts != LayoutFamily::Unknown) {
        if (traits.avButton) showAvButton(videoWanted, audioWanted);
        showPresetPage();
    }
    settleLayout();
}

void ControlPanel::settleLayout() {
    if (mode_.switching) return;
    if (mode_.quad && !mode_.quadOnScreen && !isShown(Control::FourDevice)) {
        show(Control::FourDevice, kQuadReturnPlace);
    }
    const AvButton shown = avButtonShown();
    if (shown == AvButton::None) return;
    QPushButton& av = avButton(shown);
    place(av, kAvButtonPlace);
    for (QAbstractButton* other : buttons_) {
        if (!other->isHidden() && other->geometry().intersects(av.geometry())) {
            place(av, kAvButtonSparePlace);
            return;
        }
    }
}

}  // namespace tess
