#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <QDialog>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include "liveview/EntryViewer.h"
#include "liveview/LogicalGeometry.h"
#include "liveview/SnapshotFile.h"
#include "liveview/VideoPane.h"
#include "protocol/LiveViewLayout.h"

namespace tess {

class AudioOut;

// The control layout the connect sequence (or a channel change) asked for
// last. The control panel below the pictures shows it; until that panel
// exists the requests are kept here, so that the panel has one place to
// read them from.
enum class ControlLayout {
    None,
    DvrTabs,
    Plain,
    PresetTabs,
    FourChannel,
    NineChannel,
    SixteenChannel
};
// Which audio/video mode button is on screen: it names the pane's mode.
enum class AvButton { None, AudioAndVideo, VideoOnly, AudioOnly };

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
// at one scale factor. Everything runs on the GUI thread, which never waits
// for a pane's threads: the login result and the end of the model-known wait
// are notifications the window reacts to. The LiveViewLayout calls arrive on
// the connect threads and are queued to the GUI thread.
class LiveView final : public QDialog,
                       public EntryViewer,
                       public LiveViewLayout,
                       public RepaintTarget {
    Q_OBJECT

  public:
    static constexpr int kPaneCount = 4;
    static constexpr int kVideoWidth = 240;
    static constexpr int kVideoHeight = 165;
    static constexpr int kControlPanelTop = 166;
    // The client area, and the strip below it that holds the menu bar.
    static constexpr int kClientHeight = 268;
    static constexpr int kMenuBarHeight = 26;
    static constexpr int kModelKnownWaitMs = 1000;
    static constexpr int kModelKnownPollMs = 10;

    // `audioOut` is the program's one sound output (fed only by the pane whose
    // audioToPlayer is set); snapshots go to `programFolder` + "Temp/".
    LiveView(AudioOut& audioOut, const std::string& programFolder, QWidget* parent = nullptr);
    // Ends every pane's threads, then the panes' widgets go.
    ~LiveView() override;

    // EntryViewer: opens a session on `entry` and runs the window modally
    // until it is closed. A device (kind 2) is shown alone on pane 0.
    void view(DeviceEntry& entry, DeviceDirectory& directory) override;

    // LiveViewLayout. currentView() may be read from any thread; the layout
    // operations are queued to the GUI thread.
    int currentView() const override { return currentView_.load(); }
    void ApplyDvrTabs() override;
    void ApplyPlainLayout() override;
    void ShowAvButton(const SessionInfo& pane) override;
    void ApplyPresetTabs() override;
    void ApplyFourChannelLayout(int channelIndex) override;
    void ApplyNineChannelLayout() override;
    void ApplySixteenChannelLayout() override;

    // RepaintTarget: the owner of the channel request; any thread.
    void requestRepaint() override;

    // Closing by any way (close button, Escape, the window manager, a failed
    // first login): every pane stops without a reconnect, then the modal run
    // ends.
    void done(int result) override;

    VideoPane& pane(int number) { return *panes_[number]; }
    // The pane of the current view: 0 or 1 -> pane 0, 2 ... 4 -> panes 1 ... 3;
    // none in the quad.
    VideoPane* currentPane();
    const LogicalGeometry& geometry() const { return geometry_; }
    const std::string& snapshotFolder() const { return snapshotFolder_; }
    const QString& labelText() const { return labelText_; }
    // The menu bar built once the device's model is known, or null.
    QMenuBar* channelMenuBar() const { return menuBar_; }
    const ControlPanelState& controlPanel() const { return controlPanel_; }

    // The channel change of the "CH1"/"CH2" commands: only for a current pane
    // of device class 50. Sends SetChannel.cgi and, when the device answers
    // "200 OK", makes `channel` the pane's channel and lays the controls out
    // for it. Failures are shown by the request itself.
    bool changeChannel(int channel);

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

  private:
    void openDevice(const DeviceEntry& entry);
    void onLoginResult(bool loggedIn);
    void pollModelKnown();
    void buildMenuBar();
    void closeSession();
    // Queues `operation` to the GUI thread, where it runs unless the window
    // has closed since.
    template <typename Operation>
    void onGuiThread(Operation operation);
    void applyLayout(ControlLayout layout, int channelIndex = 0);
    void showAvButton(bool videoWanted, bool audioWanted);
    void applyLayoutForView(VideoPane& pane);
    void applyLayoutForType(int deviceType, int channelIndex);

    LogicalGeometry geometry_;
    const std::string snapshotFolder_;
    std::array<std::unique_ptr<VideoPane>, kPaneCount> panes_;
    std::atomic<int32_t> currentView_{0};
    QString labelText_;
    QPointer<QMenuBar> menuBar_;
    ControlPanelState controlPanel_;
    SnapshotHeader snapshotHeader_;
    std::string lastSnapshotName_;

    // Counts sessions; queued work of a closed session is dropped.
    std::atomic<uint32_t> session_{0};
    bool sessionOpen_ = false;
    // Set on opening a single device until pane 0 reports its first login.
    bool loginPending_ = false;
    QTimer modelKnownTimer_;
    std::chrono::steady_clock::time_point modelWaitStart_;
};

}  // namespace tess
