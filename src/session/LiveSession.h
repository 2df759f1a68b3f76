#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pane/PaneEvents.h"
#include "pane/PaneRuntime.h"
#include "pane/PaneTimings.h"
#include "platform/EventLoop.h"
#include "ptz/PtzCommands.h"
#include "session/ControlLayouts.h"
#include "session/PaneRendering.h"
#include "session/SessionEvent.h"

namespace tess {

class AudioOut;
class DeviceDirectory;
class DeviceEntry;

// The session's view: a single device on pane 0, pane n shown alone, or the
// quad of every pane.
inline constexpr int32_t kSingleView = 0;
inline constexpr int32_t kQuadView = -1;

// How the session shows its entry.
enum class SessionKind { None, Device, Quad, Switch };

// The split buttons of a recorder's or a camera's control panel.
enum class Split { Cut4, Cut9, Cut16 };

// One live session: the panes that watch a directory entry, for as long as
// the program runs, whatever window shows them. It owns every pane's runtime
// and render side, the member cursor, the tour, which pane is shown alone,
// the audio/video modes and the gating of the first start; the window only
// shows widgets and turns gestures into calls here.
//
// A device plays alone on pane 0. A Quad starts up to four members on the
// panes 0 ... 3; a tap selects a pane and a second tap shows it alone until
// the return to the quad. A Switch tours its members on panes 0 and 1 in
// turn, every 5 ... 60 s.
//
// Everything here runs on the loop's thread (the GUI thread), which never
// waits: panes start and stop at once, device commands run on the panes'
// command workers, and what the panes report comes back through the loop as
// SessionEvents stamped with pane and generation; reports of a start that is
// no longer the pane's are dropped.
class LiveSession final : public PaneEvents, private SnapshotEvents {
public:
    static constexpr int kMaxPanes = 16;
    static constexpr int kQuadPanes = 4;

    // Makes the render side of pane `number`, which shows `runtime`'s frames
    // and reports snapshots to `events`.
    using RenderingFactory = std::function<std::unique_ptr<PaneRendering>(
        int number, PaneRuntime& runtime, SnapshotEvents& events)>;

    // `paneCount` panes (1 ... kMaxPanes); `audioOut` is the program's one
    // sound output, fed only by the pane on view alone.
    LiveSession(int paneCount, AudioOut& audioOut, std::unique_ptr<EventLoop> loop,
                const RenderingFactory& makeRendering, const PaneTimings& timings = {});
    // Ends every pane's threads.
    ~LiveSession() override;
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Where the events go; null: nowhere. The listener must outlive the
    // setting, or be replaced first.
    void setListener(SessionListener* listener) { listener_ = listener; }

    // Opens a session on `entry` (a device or a multi-device whose members
    // `directory` resolves), ending the one before.
    void open(DeviceEntry& entry, DeviceDirectory& directory);
    // Ends the tour first, then stops every pane without a reconnect.
    void close();
    bool isOpen() const { return open_; }
    SessionKind kind() const { return kind_; }

    int paneCount() const { return static_cast<int>(panes_.size()); }
    PaneRuntime& runtime(int number) { return *panes_[number].runtime; }
    PaneRendering& rendering(int number) { return *panes_[number].rendering; }
    // The pane's statistics as read now, the render side's skips included.
    PaneHealth health(int number) const;
    const PaneTimings& timings() const { return timings_; }

    int32_t view() const { return view_; }
    // The pane on view alone: pane 0 of a device, the quad pane shown alone,
    // the tour's; none in the quad.
    std::optional<int> currentPane() const;
    std::optional<int> selectedPane() const;
    bool showsAlone(int number) const;
    // Members started on panes in this session.
    int startedCount() const { return startedCount_; }
    // The label of the member started last.
    const std::u16string& label() const { return label_; }
    bool touring() const { return tourTimer_ != 0; }
    int tourIntervalMs() const { return tourIntervalMs_; }
    // How many commands sent to pane `number` have not finished.
    int commandsInFlight(int number) const { return panes_[number].commandsInFlight; }

    // A tap on quad pane `number`: selects it, or shows it alone when it is
    // selected already.
    void tapQuadPane(int number);
    void showPaneAlone(int number);
    // From a pane shown alone back to the quad; the others start again.
    void returnToQuad();
    // One step of the tour, as its timer runs it: the next member on the
    // other pane. A device that went away ends the tour; its picture stays.
    void advanceTour();

    // Commands for the pane on view alone, queued on its command worker;
    // false when there is none (the quad), or for a channel change when its
    // device has no channel menu.
    bool changeChannel(int channel);
    bool sendPtzAction(int code);
    bool sendKey(int keyCode);
    // A split button. True when the device is a camera, whose split keys
    // leave the channel mode's button to show.
    bool split(Split cut);
    // Ch n: a channel key (channel mode 1) or camera preset n (mode 0).
    bool pressChannel(int n, int channelMode);
    bool pressAuto();
    // A tap or drag on pane `number`'s picture.
    bool aim(int number, const ptz::AimGesture& gesture);
    // The device type of the current pane's current channel, or -1.
    int currentChannelType() const;

    // The audio/video mode button of the pane on view alone: audio and
    // video to audio only, audio only to video only, video only to both. The
    // mode is kept in the device's entry. False without such a pane.
    bool cycleAvMode();

    // Asks `number` to save its next frame as `stem`; false when it has no
    // connected control link.
    bool requestSnapshot(int number, std::string stem, const SnapshotHeader& header);
    void setHealthShown(int number, bool shown);
    void showDragRectangle(int number, const DragRectangle& rectangle);
    // Hides the drag rectangles of pane `number` and every pane after it.
    void hideDragRectangles(int number);

    // Holds every pane's render thread: no frame is composed or handed over
    // until resumeRendering().
    void pauseRendering();
    void resumeRendering();

private:
    struct Pane {
        std::unique_ptr<PaneRuntime> runtime;
        std::unique_ptr<PaneRendering> rendering;
        DeviceEntry* device = nullptr;
        int commandsInFlight = 0;
    };

    void reset();
    void openDevice(DeviceEntry& entry);
    void openQuad();
    void openSwitch(const DeviceEntry& multiDevice);
    // Starts the next device member from the cursor on pane `number`; false
    // when there is none.
    bool startMember(int number);
    void startOn(int number, DeviceEntry& device);
    void stopPane(int number);
    // One step of the tour: the next member on pane `number`, shown with its
    // sound; the other pane stops. False when no member was started.
    bool showTourPane(int number);
    void scheduleTourStep();
    void setView(int32_t view);
    void setSelected(std::optional<int> number);
    bool queueOnCurrentPane(DeviceCommand command);
    void queueCommand(int number, DeviceCommand command);
    // Stops the audio of a pane switched to video only once the A/V delay
    // has passed.
    void stopAudioWhenThePictureIsBack(PaneRuntime& runtime);
    void layOut(int number, LayoutOccasion occasion, const SessionFacts& facts);
    void notify(const SessionEvent& event);
    bool isCurrent(PaneStamp stamp) const;
    // Runs `handle` on the loop's thread when `stamp` is still current then.
    void onLoop(PaneStamp stamp, std::function<void()> handle);

public:
    // PaneEvents: the panes' reports, on their threads.
    void loginFinished(PaneStamp stamp, bool loggedIn) override;
    void modelKnown(PaneStamp stamp, int32_t deviceClass) override;
    void negotiated(PaneStamp stamp, const SessionFacts& facts) override;
    void connectFailed(PaneStamp stamp, RequestResult result) override;
    void pictureLost(PaneStamp stamp) override;
    void commandFinished(PaneStamp stamp, RequestResult result,
                         std::optional<int32_t> channel) override;

private:
    // SnapshotEvents, on a render thread.
    void snapshotFinished(PaneStamp stamp, bool saved, const std::string& text) override;

    const PaneTimings timings_;
    // First: it goes last, after the panes' threads have ended.
    std::unique_ptr<EventLoop> loop_;
    std::vector<Pane> panes_;
    SessionListener* listener_ = nullptr;

    bool open_ = false;
    SessionKind kind_ = SessionKind::None;
    int32_t view_ = kSingleView;
    DeviceDirectory* directory_ = nullptr;
    std::vector<uint16_t> members_;
    size_t memberCursor_ = 0;
    int startedCount_ = 0;
    std::u16string label_;
    int tourIntervalMs_ = 0;
    EventLoop::TimerId tourTimer_ = 0;

    // From opening a single device until pane 0's first login attempt ended.
    bool loginPending_ = false;
    // From opening a single device until its first negotiation ended.
    bool firstSessionPending_ = false;
    // Runs after opening a single device: the channel menu is built only for
    // a model known before it fires.
    EventLoop::TimerId modelKnownDeadline_ = 0;
    EventLoop::TimerId audioStopTimer_ = 0;
};

}  // namespace tess
