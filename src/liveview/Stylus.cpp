#include "liveview/Stylus.h"

#include <cstdlib>

namespace tess {

void StylusTracker::press(StylusPoint at, StylusPoint onScreen, bool onPane) {
    touch_ = at;
    touchOnScreen_ = onScreen;
    pressX_ = at.x;
    if (onPane) dragging_ = false;
}

bool StylusTracker::move(StylusPoint at, StylusPoint onScreen) {
    if (!dragging_) {
        if (std::abs(touchOnScreen_.x - onScreen.x) < kDragThreshold &&
            std::abs(touchOnScreen_.y - onScreen.y) < kDragThreshold) {
            return false;
        }
        dragging_ = true;
    }
    // The move that starts a drag is its first corner too, so a drag of a
    // single move has a current point.
    current_ = at;
    return true;
}

std::optional<StylusRelease> StylusTracker::release(StylusPoint at) {
    if (dragging_) {
        // The centre of the drag; signed division rounds towards zero.
        touch_ = {(touch_.x + at.x) / 2, (touch_.y + at.y) / 2};
    } else {
        touch_ = at;
    }
    if (touch_.x < 0 || touch_.x >= kPictureWidth || touch_.y < 0 || touch_.y >= kPictureHeight) {
        return std::nullopt;
    }
    return StylusRelease{touch_, dragging_, pressX_, current_.x};
}

int quadPaneAt(StylusPoint point) {
    constexpr int kHalfWidth = StylusTracker::kPictureWidth / 2;
    constexpr int kHalfHeight = 82;
    return (point.y < kHalfHeight ? 0 : 2) + (point.x < kHalfWidth ? 0 : 1);
}

}  // namespace tess
