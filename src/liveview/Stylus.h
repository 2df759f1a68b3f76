#pragma once

#include <cstdint>
#include <optional>

namespace tess {

// A point of the picture area in logical coordinates (0 ... 239, 0 ... 164
// inside it; outside during a drag that left it).
struct StylusPoint {
    int x = 0;
    int y = 0;
};

// What a release on the picture area asks for: the touch point (the release
// point, or the centre of a drag) with the drag's values as they were at the
// release.
struct StylusRelease {
    StylusPoint touch;
    bool dragging = false;
    int pressX = 0;
    int currentX = 0;
};

// The stylus on the live view's picture area: a press, moves and a release,
// every position already in the picture area's logical coordinates. A move of
// 6 logical pixels or more from the press along either axis makes it a drag.
//
// On a zoomed or full-screen picture the positions are picture points mapped
// through the zoom, while the drag threshold still counts on the screen: such
// presses and moves also give their place on the screen, in logical window
// pixels. Without it, the two are the same point.
class StylusTracker {
public:
    static constexpr int kDragThreshold = 6;
    static constexpr int kPictureWidth = 240;
    static constexpr int kPictureHeight = 165;

    // A press on a pane begins a new gesture; a press elsewhere on the window
    // moves the touch point but leaves a drag in progress as it is.
    void press(StylusPoint at, bool onPane = true) { press(at, at, onPane); }
    void press(StylusPoint at, StylusPoint onScreen, bool onPane);
    // True when the move belongs to a drag (the one that starts it
    // included); the drag's corners are then touch() and current().
    bool move(StylusPoint at) { return move(at, at); }
    bool move(StylusPoint at, StylusPoint onScreen);
    // The release's touch point and drag, or nothing when the touch point
    // lies outside the picture area.
    std::optional<StylusRelease> release(StylusPoint at);

    bool dragging() const { return dragging_; }
    StylusPoint touch() const { return touch_; }
    StylusPoint current() const { return current_; }

private:
    StylusPoint touch_;
    StylusPoint touchOnScreen_;
    StylusPoint current_;
    int pressX_ = 0;
    bool dragging_ = false;
};

// The quad pane (0 ... 3) under a touch point of the picture area.
int quadPaneAt(StylusPoint point);

}  // namespace tess
