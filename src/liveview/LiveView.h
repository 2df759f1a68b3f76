#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include "geometry/LogicalGeometry.h"
#include "liveview/ControlLayouts.h"
#include "liveview/ControlPanel.h"
#include "liveview/EntryViewer.h"
#include "liveview/Stylus.h"
#include "liveview/VideoPane.h"
#include "ptz/PtzCommands.h"
#include "snapshots/SnapshotFile.h"
#include "snapshots/browser/SnapshotBrowser.h"

namespace tess {

class AudioOut;

// The modal window ("Show") in which one directory entry is watched: a
// 240 x 165 picture area at the top holding the four VideoPanes, the control
// panel below y = 166, and the "CH1"/"CH2" menu bar of a class 50 device.
// Built once by the main window and opened by view() for every session.
//
// A device is shown alone on pane 0. A Quad multi-device starts up to four
// members on the four panes; a tap selects a pane and a second tap shows it
// alone until 4Device. A Switch tours its members on panes 0 and 1 in turn,
// every 5 ... 60 s, driven by a timer of the GUI thread.
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
    // From restarting the video of an audio-only pane to stopping its audio.
    static constexpr int kAudioStopDelayMs = 1000;

    // `audioOut` is the program's one sound output (fed only by the pane whose
    // audioToPlayer is set); snapshots go to `programFolder` + "Temp/".
    LiveView(AudioOut& audioOut, const std::string& programFolder, QWidget* parent = nullptr);
    // Ends every pane's threads, then the panes' widgets go.
    ~LiveView() override;

    // EntryViewer: opens a session on `entry` and runs the window modally
    // until it is closed.
    void view(DeviceEntry& entry, DeviceDirectory& directory) override;

    // Closing by any way (close button, Escape, the window manager, a failed
    // first login, an unknown model): the tour ends first, then every pane
    // stops without a reconnect and the modal run ends.
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
    ControlPanel& controlPanel() { return *controlPanel_; }
    // Members of the multi-device started on panes in this session.
    int startedCount() const { return startedCount_; }

    // The Switch tour: its timer (interval T), and one step of it as the
    // timer runs it.
    const QTimer& tourTimer() const { return tourTimer_; }
    void advanceTour();

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
    // not connected. Once the file is saved, "1" shows; it opens the snapshot
    // browser on that file.
    bool takeSnapshot();
    // Names a snapshot taken at `time` (without extension) and dates the
    // shared header with it.
    std::string makeSnapshotName(const SnapshotTime& time);
    // The file name of the last snapshot saved in this session.
    const std::string& lastSnapshotName() const { return lastSnapshotName_; }
    SnapshotBrowser& snapshotBrowser() { return *browser_; }
    const SnapshotHeader& snapshotHeader() const { return snapshotHeader_; }

    // Full screen (F11 or f): the picture of the current pane, in the quad of
    // the selected one, alone on the whole screen the window is on, at its
    // full resolution with its aspect ratio kept; Escape, F11 or f return to
    // the window. Only the picture moves: the pane's streams and sound go on
    // as they were. False when there is no pane to show.
    bool enterFullScreen();
    void leaveFullScreen();
    void toggleFullScreen();
    bool fullScreen() const { return fullScreenPane_ >= 0; }
    // The pane shown full screen, or -1; its window (null before the first).
    int fullScreenPane() const { return fullScreenPane_; }
    PaneWidget* fullScreenWidget() { return fullScreen_; }

    // The health overlay (i): on or off on the pane on view (full screen,
    // shown alone, or selected in the quad); in a quad without a selection
    // on every pane.
    void toggleHealthOverlay();
    // The digital zoom of the picture on view back to 1x (0).
    void resetZoom();
    // Every visible picture's health marker from its pane's health; a timer
    // runs it four times a second while a session is open.
    void refreshHealthMarkers();
    // The stylus as the last gesture left it.
    const StylusTracker& stylus() const { return stylus_; }

    // Shows `text` through the message sink, one box at a time: a text that
    // is on screen or waiting already is dropped, others wait their turn.
    void tell(std::string_view text);

    // PaneEvents, on the GUI thread, current reports only (see VideoPane).
    void loginFinished(PaneStamp stamp, bool loggedIn) override;
    void modelKnown(PaneStamp stamp, int32_t deviceClass) override;
    void negotiated(PaneStamp stamp, const SessionFacts& facts) override;
    void connectFailed(PaneStamp stamp, RequestResult result) override;
    void pictureLost(PaneStamp stamp) override;
    void commandFinished(PaneStamp stamp, RequestResult result,
                         std::optional<int32_t> channel) override;

protected:
    // A press on the window outside the panes, and the moves and releases of
    // a gesture that began there.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Escape in full screen returns to the window instead of closing it.
    void keyPressEvent(QKeyEvent* event) override;
    // The keys and the closing of the full-screen window.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class RenderPause;

    void resetSession();
    void openDevice(DeviceEntry& entry);
    void openQuad(const DeviceEntry& multiDevice);
    void openSwitch(const DeviceEntry& multiDevice);
    // Starts the next device member from `memberCursor_` on `pane`; false
    // when there is none.
    bool startMember(VideoPane& pane);
    void startOn(VideoPane& pane, DeviceEntry& device);
    // One step of the tour: the next member on pane `number`, shown with
    // its sound; the other pane stops. False when no member was started.
    bool showTourPane(int number);
    void arrangeQuad();
    void setView(int view);
    void showPaneAlone(int number);
    void returnToQuad();
    void buildMenuBar(int32_t deviceClass);
    void closeSession();
    bool queueOnCurrentPane(DeviceCommand command);
    // True for the pane on screen alone (a single device, or a quad pane
    // shown alone): only its device lays out the controls.
    bool showsAlone(const VideoPane& pane) const;
    // One layout decision for `pane`: from no controls at all to `choice`.
    void layOutControls(const ControlChoice& choice, VideoPane& pane);
    // The button naming `pane`'s audio/video mode.
    void showAvButton(VideoPane& pane);
    void showTabPage(int page);

    // The commands of the control panel.
    void connectControls();
    void split(Control cut);
    void pressChannel(int n);
    void pressAuto();
    void switchChannelMode(int mode);
    void cycleAvMode(AvButton pressed);
    // The device type of the current pane's current channel, or -1.
    int currentChannelType();

    // The stylus, in the picture area's logical coordinates: where on the
    // picture (through the zoom and the full-screen fitting) and where on the
    // screen, in logical window pixels (the same point without either).
    struct StylusAt {
        QPoint picture;
        QPoint screen;
    };
    StylusAt toPictureArea(const PaneWidget& widget, QPointF position) const;
    void stylusPress(StylusAt at, bool onPane);
    void stylusMove(StylusAt at);
    void stylusRelease(QPoint at);
    // The pane that stylus gestures on the picture act on: the one full
    // screen, else the current one.
    VideoPane* gesturePane();
    // The pane selected in the quad, or null.
    VideoPane* selectedPane();
    void showFullScreenOf(VideoPane& pane);
    void bindKeys();
    void snapshotSaved(const QString& fileName);
    void snapshotFailed(const QString& reason);
    void browseSnapshots();

    LogicalGeometry geometry_;
    const std::string snapshotFolder_;
    std::array<std::unique_ptr<VideoPane>, kPaneCount> panes_;
    ControlPanel* controlPanel_ = nullptr;
    SnapshotBrowser* browser_ = nullptr;
    std::atomic<int32_t> currentView_{0};
    QString labelText_;
    QPointer<QMenuBar> menuBar_;
    SnapshotHeader snapshotHeader_;
    std::string lastSnapshotName_;
    StylusTracker stylus_;
    // The full-screen window, a window of its own that shows one pane's
    // picture slot while it is open; made on first use.
    PaneWidget* fullScreen_ = nullptr;
    int fullScreenPane_ = -1;
    QTimer healthTimer_;

    bool sessionOpen_ = false;
    DeviceDirectory* directory_ = nullptr;
    // The device entry each pane was started from in this session: its
    // avFlags keep the pane's audio/video mode.
    std::array<DeviceEntry*, kPaneCount> paneDevices_{};
    std::vector<uint16_t> members_;
    size_t memberCursor_ = 0;
    int startedCount_ = 0;
    QTimer tourTimer_;

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
