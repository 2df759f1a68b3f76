#pragma once

#include <array>

#include <QObject>
#include <QRect>

#include "geometry/LogicalGeometry.h"
#include "liveview/Controls.h"
#include "protocol/ModelCodes.h"
#include "protocol/SessionFacts.h"
#include "session/ControlLayouts.h"

class QAbstractButton;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace tess {

// The audio/video mode button on screen; it names the pane's mode.
enum class AvButton { None, AudioAndVideo, VideoOnly, AudioOnly };

// How the live view shows its entry; the layouts read it.
struct PanelMode {
    bool quad = false;       // a Quad multi-device
    bool switching = false;  // a Switch multi-device: the layouts change nothing
    bool quadOnScreen = false;
};

// The controls below the live view's pictures: the command buttons, the
// audio/video mode buttons, the "1" button, the two-page tab control, and
// the "Device:" text with its label box for a Switch. All are children of the
// window, placed in its logical coordinates, and start hidden.
//
// The layout operations show, hide and move them; they never send anything.
// The window connects the buttons' clicked() signals to its commands. GUI
// thread only.
class ControlPanel final : public QObject {
    Q_OBJECT

public:
    static constexpr QRect kSnapShotPlace{20, 175, 20, 20};
    static constexpr QRect kQuadReturnPlace{170, 175, 19, 18};
    static constexpr QRect kAvButtonPlace{170, 200, 50, 20};
    // Where the audio/video button goes when its own place is taken.
    static constexpr QRect kAvButtonSparePlace{170, 220, 50, 20};
    static constexpr QRect kSnapshotViewerPlace{220, 5, 12, 12};

    ControlPanel(QWidget& window, const LogicalGeometry& geometry);

    QAbstractButton& button(Control control) { return *buttons_[index(control)]; }
    bool isShown(Control control) const;
    QPushButton& avButton(AvButton which);
    // The button on screen, AvButton::None when none is.
    AvButton avButtonShown() const;
    QPushButton& snapshotViewerButton() { return *snapshotViewer_; }
    QTabWidget& tabs() { return *tabs_; }
    QLineEdit& labelBox() { return *labelBox_; }
    QLabel& deviceText() { return *deviceText_; }

    void setMode(const PanelMode& mode) { mode_ = mode; }
    const PanelMode& mode() const { return mode_; }
    // 1: the numbered buttons select channels; 0: they call presets. Their
    // tooltips follow.
    int channelMode() const { return channelMode_; }
    void setChannelMode(int mode);
    // The device layout applied last in this window.
    ControlLayout layout() const { return layout_; }

    // As the window opens: every control hidden, channel mode 1, no layout,
    // an empty label box.
    void reset();

    // The layout operations. Those that lay out a device's controls (the
    // Apply ones and showAvButton) change nothing for a Switch.
    void hideAllControls();
    void showDvrPage();
    void showPtzPage();
    void showPresetPage();
    void applyDvrTabs();
    // `deviceType` is the type of the recorder's channel: 7 has Auto, 3 both
    // function keys, the others the second one.
    void applyFourChannelLayout(int deviceType);
    void applyNineChannelLayout();
    void applySixteenChannelLayout();
    void applyPresetTabs();
    void applyPlainLayout();
    // SnapShot alone: the quad on screen, and a Switch.
    void showSnapShotOnly();
    // SnapShot, and 4Device in the place of Cut4: for a device not known.
    void applyDefaultLayout();
    // Shows the button naming the mode (video and audio, video only, audio
    // only, none); not for a Switch nor while the quad is on screen.
    void showAvButton(bool videoWanted, bool audioWanted);
    // The CH or PRESET button, whichever names the channel mode.
    void showChannelModeButton();

    // One layout decision for the pane on screen, whose device has `facts`
    // and streams what `videoWanted` and `audioWanted` say: from no controls
    // at all to `choice`, so no button of an earlier layout stays under it.
    // A choice without a layout changes nothing but the audio/video button
    // and the place of 4Device. Nothing changes for a Switch.
    void layOut(const ControlChoice& choice, const SessionFacts& facts, bool videoWanted,
                bool audioWanted);
    // The user's choice of tab page `page` for such a pane.
    void showPage(int page, const DeviceClassTraits& traits, bool videoWanted, bool audioWanted);

    // After a layout: 4Device on screen whenever a quad pane is shown alone,
    // and the audio/video button moved off any button it would cover.
    void settleLayout();

    // Places `widget` at a logical rectangle of the window.
    void place(QWidget& widget, const QRect& logical) const { geometry_.place(widget, logical); }

signals:
    // The user chose another page of the tab control (not sent while the
    // pages are rebuilt).
    void pageChanged(int page);

private:
    static int index(Control control) { return static_cast<int>(control); }
    void createButtons(QWidget& window);
    void show(Control control, const QRect& place);
    void show(Control control);
    void hide(Control control);
    void showQuadReturnIfQuad();
    void setVisible(std::initializer_list<Control> controls, bool visible);
    void setChannelsVisible(int first, int last, bool visible);
    void rebuildTabs(const char* first, const char* second);
    void updateChannelToolTips();

    const LogicalGeometry& geometry_;
    std::array<QAbstractButton*, kControlCount> buttons_{};
    std::array<QPushButton*, 3> avButtons_{};  // AudioAndVideo, VideoOnly, AudioOnly
    QPushButton* snapshotViewer_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* deviceText_ = nullptr;
    QLineEdit* labelBox_ = nullptr;
    PanelMode mode_;
    int channelMode_ = 1;
    ControlLayout layout_ = ControlLayout::None;
};

}  // namespace tess
