#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include "geometry/LogicalGeometry.h"
#include "liveview/ControlLayouts.h"
#include "liveview/EntryViewer.h"
#include "liveview/SnapshotFile.h"
#include "liveview/VideoPane.h"
#include "ptz/PtzCommands.h"

namespace tess {

class AudioOut;

// Which audio/video mode button is on screen: it names the pane's mode.
enum class AvButton { None, AudioAndVideo, VideoOnly, AudioOnly };

// The controls below the pictures as the window has laid them out last. The
// control panel shows and hides its buttons by this.
struct ControlPanelState {
    ControlLayout layout = ControlLayout::None;
    int channelIndex = 0;  // of FourChannel
    AvButton avButton = AvButton::None;
    // 1: the numbered buttons select channels; 0: they call presets.
    int channelMode = 1;
    // Layout operations applied since the window opened.
    int operations = 0;
};

// The modal window ("Show") in which one directory entry is watched: a
// 240 x 165 picture area at the top holding the four VideoPanes, the control
// panel below y = 166, and the "CH1"/"CH2" menu bar of a class 50 device.
// Built once by the main window and opened by view() for every session.
//
// The window is laid out in logical coordinates (LogicalGeometry) and shown
// at one scale factor. Everything here runs on the GUI thread, which never
// waits for a pane: panes start and stop at once, device commands run on the
// panes' command workers, and what the panes learn arrives as PaneEvents
// (current ones only). The window decides its controls from those facts and
// turns failures into messages, one box at a time.
class LiveView final : public QDialog, public EntryViewer, public PaneEvents {
    Q_OBJECT

public:
    static constexpr int kPaneCount = 4;
    static constexpr int kVideoWidth = 240;
    static constexpr int kVideoHeight = 165;
    static constexpr int kControlPanelTop = 166;
    // The client area, and the strip below it that holds the menu bar.
    static constexpr int kClientHeight = 268;
    static constexpr int kMenuBarHeight = 26;
    // A device identified later than this after opening gets no menu bar.
    static constexpr int kModelKnownWaitMs = 1000;

    // `audioOut` is the program's one sound output (fed only by the pane whose
    // audioToPlayer is set); snapshots go to `programFolder` + "Temp/".
    LiveView(AudioOut& audioOut, const std::string& programFolder, QWidget* parent = nullptr);
    // Ends every pane's threads, then the panes' widgets go.
    ~LiveView() override;

    // EntryViewer: opens a session on `entry` and runs the window modally
    // until it is closed. A device (kind 2) is shown alone on pane 0.
    void view(DeviceEntry& entry, DeviceDirectory& directory) override;

    // Closing by any way (close button, Escape, the window manager, a failed
    // first login, an unknown model): every pane stops without a reconnect,
    // then the modal run ends.
    void done(int result) override;

    VideoPane& pane(int number) { return *panes_[number]; }
    // The pane of the current view: 0 or 1 -> pane 0, 2 ... 4 -> panes 1 ... 3;
    // none in the quad.
    VideoPane* currentPane();
    int currentView() const { return currentView_.load(); }
    const LogicalGeometry& geometry() const { return geometry_; }
    const std::string& snapshotFolder() const { return snapshotFolder_; }
    const QString& labelText() const { return labelText_; }
    // The menu bar built once the device's model is known, or null.
    QMenuBar* channelMenuBar() const { return menuBar_; }
    const ControlPanelState& controlPanel() const { return controlPanel_; }

    // The "CH1"/"CH2" commands: only for a current pane of device class 50.
    // Queues SetChannel.cgi on the pane's command worker and returns at once;
    // once the device answers "200 OK", `channel` is the pane's channel and
    // the controls are laid out for it. False when there is no such pane.
    bool changeChannel(int channel);

    // The PTZ buttons (action codes 0 ... 27), the remote-control keys and
    // the aim on the picture of a pane shown alone: queued on the current
    // pane's command worker, so they return at once. False without a current
    // pane (the quad).
    bool sendPtzAction(int code);
    bool sendKey(int keyCode);
    bool aim(const ptz::AimGesture& gesture);

    // The SnapShot command: names a snapshot after the local time and asks the
    // chosen pane (the selected one in the quad, else the current one) to save
    // its next frame. False when there is no such pane or its control link is
    // not connected.
    bool takeSnapshot();
    // Names a snapshot taken at `time`, dates the shared header with it and
    // keeps the file name as the last snapshot name.
    std::string makeSnapshotName(const SnapshotTime& time);
    const std::string& lastSnapshotName() const { return lastSnapshotName_; }
    const SnapshotHeader& snapshotHeader() const { return snapshotHeader_; }

    // Shows `text` through the message sink, one box at a time: a text that
    // is on screen or waiting already is dropped, others wait their turn.
    void tell(std::string_view text);

    // PaneEvents, on the GUI thread, current reports only (see VideoPane).
    void loginFinished(PaneStamp stamp, bool loggedIn) override;
    void modelKnown(PaneStamp stamp, int32_t deviceClass) override;
    void negotiated(PaneStamp stamp, const SessionFacts& facts) override;
    void connectFailed(PaneStamp stamp, RequestResult result) override;
    void pictureLost(PaneStamp) override {}
    void commandFinished(PaneStamp stamp, RequestResult result,
                         std::optional<int32_t> channel) override;

private:
    void openDevice(const DeviceEntry& entry);
    void buildMenuBar(int32_t deviceClass);
    void closeSession();
    bool queueOnCurrentPane(DeviceCommand command);
    // True for the pane on screen alone (a single device, or a quad pane
    // shown alone): only its device lays out the controls.
    bool showsAlone(const VideoPane& pane) const;
    void applyControls(const ControlChoice& choice, VideoPane& pane);
    void applyLayout(ControlLayout layout, int channelIndex);
    void showAvButton(VideoPane& pane);

    LogicalGeometry geometry_;
    const std::string snapshotFolder_;
    std::array<std::unique_ptr<VideoPane>, kPaneCount> panes_;
    std::atomic<int32_t> currentView_{0};
    QString labelText_;
    QPointer<QMenuBar> menuBar_;
    ControlPanelState controlPanel_;
    SnapshotHeader snapshotHeader_;
    std::string lastSnapshotName_;

    bool sessionOpen_ = false;
    // From opening a single device until pane 0's first login attempt ended.
    bool loginPending_ = false;
    // From opening a single device until its first negotiation ended.
    bool firstSessionPending_ = false;
    // Runs for 1000 ms after opening a single device: the menu bar is built
    // only for a model known meanwhile.
    QTimer modelKnownDeadline_;

    std::deque<std::string> waitingMessages_;
    std::string shownMessage_;
    bool showingMessage_ = false;
};

}  // namespace tess
