#pragma once

#include <cstdint>
#include <string>

#include "pane/PaneEvents.h"
#include "protocol/RequestResult.h"
#include "protocol/SessionFacts.h"
#include "session/ControlLayouts.h"

namespace tess {

// What the live session tells its window, in the order it happened. Every
// event of a pane carries the stamp of the start it belongs to; the session
// has already dropped those of an earlier start.
struct SessionEvent {
    enum class Kind {
        // The first login of a single device failed, or its model is unknown:
        // the window closes.
        CloseRequested,
        // The single device was identified in time: the window gets its
        // channel menu bar, with commands when `deviceClass` has them.
        ChannelMenu,
        // The controls below the pictures become `choice`, for the pane on
        // view alone, whose device has `facts`.
        LayOut,
        // The pane was started on a device (its picture is gone) or stopped.
        PaneStarted,
        PaneStopped,
        // The pane lost its picture; with a failure `result` the window tells
        // the user (messageFor).
        PictureLost,
        ConnectFailed,
        // A device command ended with `result`.
        CommandFinished,
        // The count of the pane's commands in flight changed.
        Busy,
        // A snapshot was saved as `text`, or could not be for reason `text`.
        SnapshotSaved,
        SnapshotFailed,
        // The view changed without the window asking: a tour step.
        ViewChanged,
    };

    Kind kind;
    PaneStamp stamp{};
    RequestResult result = RequestResult::Ok;
    int32_t deviceClass = 0;
    ControlChoice choice{};
    SessionFacts facts{};
    std::string text;
};

// The window side of a live session; on the GUI thread.
class SessionListener {
public:
    virtual ~SessionListener() = default;
    virtual void sessionEvent(const SessionEvent& event) = 0;
};

}  // namespace tess
