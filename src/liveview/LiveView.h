#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include "geometry/LogicalGeometry.h"
#include "liveview/ControlPanel.h"
#include "liveview/EntryViewer.h"
#include "liveview/FullScreenView.h"
#include "liveview/PaneRenderers.h"
#include "liveview/PaneWidget.h"
#include "liveview/Stylus.h"
#include "platform/MessageQueue.h"
#include "session/LiveSession.h"
#include "snapshots/SnapshotFile.h"
#include "snapshots/browser/SnapshotBrowser.h"

namespace tess {

// The modal window ("Show") in which the program's live session is watched:
// a 240 x 165 picture area at the top holding the panes' widgets, the control
// panel below y = 166, and the "CH1"/"CH2" menu bar of a recorder with a
// channel menu.
//
// The window holds widgets only. What is watched, and how, is the session's:
// the window turns gestures and keys into session calls and shows what the
// session's events say. It is laid out in logical coordinates
// (LogicalGeometry) at one scale; remaking it for another scale leaves the
// session and its threads alone. GUI thread only.
class LiveView final : public QDialog, public EntryViewer, private SessionListener {
    Q_OBJECT

public:
    static constexpr int kVideoWidth = 240;
    static constexpr int kVideoHeight = 165;
    // The client area, and the strip below it that holds the menu bar.
    static constexpr int kClientHeight = 268;
    static constexpr int kMenuBarHeight = 26;

    // Shows `session`, whose render sides are `renderers`; snapshots are
    // browsed in `programFolder` + "Temp/".
    LiveView(LiveSession& session, PaneRenderers& renderers, const std::string& programFolder,
             QWidget* parent = nullptr);
    ~LiveView() override;

    // EntryViewer: opens the session on `entry` and runs the window modally
    // until it is closed.
    void view(DeviceEntry& entry, DeviceDirectory& directory) override;
    // Closing by any way: the session ends (tour first, then every pane),
    // then the modal run.
    void done(int result) override;

    LiveSession& session() { return session_; }
    PaneWidget& paneWidget(int number) { return *panes_[number]; }
    const LogicalGeometry& geometry() const { return geometry_; }
    ControlPanel& controlPanel() { return *controlPanel_; }
    // The menu bar built once the device's model is known, or null.
    QMenuBar* channelMenuBar() const { return menuBar_; }
    const std::string& snapshotFolder() const { return snapshotFolder_; }
    SnapshotBrowser& snapshotBrowser() { return *browser_; }
    const SnapshotHeader& snapshotHeader() const { return snapshotHeader_; }
    // The file name of the last snapshot saved in this session.
    const std::string& lastSnapshotName() const { return lastSnapshotName_; }
    const StylusTracker& stylus() const { return stylus_; }
    FullScreenView& fullScreen() { return *fullScreen_; }

    // The SnapShot command: names a snapshot after the local time and asks
    // the chosen pane (the selected one in the quad, else the current one) to
    // save its next frame. False when there is none or it is not connected.
    bool takeSnapshot();
    // Names a snapshot taken at `time` and dates the shared header with it.
    std::string makeSnapshotName(const SnapshotTime& time);

    // Full screen (F11 or f): the pane on view, in the quad the selected
    // one; Escape, F11 or f return. False when there is no pane to show.
    bool enterFullScreen();
    void leaveFullScreen();
    void toggleFullScreen();
    // The health overlay (i) on the pane on view; in a quad without a
    // selection on every pane.
    void toggleHealthOverlay();
    // The digital zoom of the picture on view back to 1x (0).
    void resetZoom();
    // Every picture's health marker from its pane's health; a timer runs it
    // four times a second while the window is open.
    void refreshHealthMarkers();

    // Shows `text` through the message sink, one box at a time.
    void tell(std::string_view text) { messages_.tell(text); }

protected:
    // A press on the window outside the panes, and the moves and releases of
    // a gesture that began there.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Escape in full screen returns to the window instead of closing it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    class RenderPause;

    void sessionEvent(const SessionEvent& event) override;
    // Shows, hides and places the pane widgets for the session's view.
    void arrangePanes();
    // The control panel's mode after the session's view.
    void followView();
    void arrangeControls();
    void buildMenuBar(int32_t deviceClass);
    void layOutControls(int number, const ControlChoice& choice, const SessionFacts& facts);
    void showAvButton(int number);
    void showBusy(int number);
    void clearPicture(int number);
    void tourStepped();
    void showPaneAlone(int number);
    void returnToQuad();

    // The control panel's and the keyboard's commands (LiveViewCommands.cpp).
    void connectControls();
    void connectStylus(PaneWidget& widget);
    void bindButtonKeys();
    void bindViewerKeys();
    void split(Split cut);
    void switchChannelMode(int mode);
    void cycleAvMode();
    void showTabPage(int page);

    // The stylus, in the picture area's logical coordinates: where on the
    // picture (through the zoom and the full-screen fitting) and where on the
    // screen, in logical window pixels.
    struct StylusAt {
        QPoint picture;
        QPoint screen;
    };
    StylusAt toPictureArea(const PaneWidget& widget, QPointF position) const;
    void stylusPress(StylusAt at, bool onPane);
    void stylusMove(StylusAt at);
    void stylusRelease(QPoint at);
    // The pane that gestures on the picture act on: the one full screen,
    // else the current one.
    std::optional<int> gesturePane() const;
    void showFullScreenOf(int number);
    void browseSnapshots();

    LiveSession& session_;
    PaneRenderers& renderers_;
    LogicalGeometry geometry_;
    const std::string snapshotFolder_;
    std::vector<PaneWidget*> panes_;
    ControlPanel* controlPanel_ = nullptr;
    SnapshotBrowser* browser_ = nullptr;
    FullScreenView* fullScreen_ = nullptr;
    QPointer<QMenuBar> menuBar_;
    SnapshotHeader snapshotHeader_;
    std::string lastSnapshotName_;
    StylusTracker stylus_;
    QTimer healthTimer_;
    MessageQueue messages_;
};

// Holds every pane's render thread for as long as the controls move: no
// frame is composed or handed over meanwhile.
class LiveView::RenderPause {
public:
    explicit RenderPause(LiveSession& session) : session_(session) { session_.pauseRendering(); }
    ~RenderPause() { session_.resumeRendering(); }
    RenderPause(const RenderPause&) = delete;
    RenderPause& operator=(const RenderPause&) = delete;

private:
    LiveSession& session_;
};

}  // namespace tess
