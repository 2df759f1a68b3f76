#pragma once

#include <atomic>
#include <cstdint>

namespace tess {

// The stylus rectangle of a PTZ camera's pane, in pane client coordinates.
// Corners are in drag order: x0/y0 where the stylus went down, x1/y1 where it
// is now, so x0 > x1 is a right-to-left drag.
struct DragRectangle {
    int32_t x0 = 0;
    int32_t x1 = 0;
    int32_t y0 = 0;
    int32_t y1 = 0;
};

// The same, shared between the GUI thread (writes on stylus moves) and the
// pane's render thread (reads once per frame). A frame drawn while the GUI
// thread changes it may mix old and new corners; the next frame is right.
struct SharedDragRectangle {
    std::atomic<int32_t> x0{0};
    std::atomic<int32_t> x1{0};
    std::atomic<int32_t> y0{0};
    std::atomic<int32_t> y1{0};
    std::atomic<bool> shown{false};

    void set(const DragRectangle& r) {
        x0 = r.x0;
        x1 = r.x1;
        y0 = r.y0;
        y1 = r.y1;
    }
    DragRectangle get() const { return {x0.load(), x1.load(), y0.load(), y1.load()}; }
};

// What the session tells a pane's render thread; read once per frame. A
// frame composed while these change may show the old or the new overlay.
struct PaneRenderState {
    // Set by the SnapShot command; taken by the render thread with its next
    // frame, which is saved while the pane is still selected.
    std::atomic<bool> snapshotRequested{false};
    // The pane the user picked in the quad, or the one a snapshot is of.
    std::atomic<bool> selected{false};
    // The selection frame is drawn: the pane is selected in the quad.
    std::atomic<bool> framed{false};
    SharedDragRectangle dragRectangle;
    // The health overlay, toggled by the user.
    std::atomic<bool> healthShown{false};
};

}  // namespace tess
