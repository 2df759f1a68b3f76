#include "liveview/ZoomView.h"

#include <algorithm>

namespace tess {

QRectF ZoomView::visible() const {
    const double size = 1.0 / factor_;
    return {centre_.x() - size / 2, centre_.y() - size / 2, size, size};
}

QPointF ZoomView::toPicture(QPointF onView) const {
    const QRectF part = visible();
    return {part.x() + onView.x() * part.width(), part.y() + onView.y() * part.height()};
}

void ZoomView::zoomAt(QPointF onView, double ratio) {
    const QPointF fixed = toPicture(onView);
    factor_ = std::clamp(factor_ * ratio, kMinimum, kMaximum);
    // The centre that puts `fixed` back under `onView` at the new size.
    const double size = 1.0 / factor_;
    centre_ = {fixed.x() - (onView.x() - 0.5) * size, fixed.y() - (onView.y() - 0.5) * size};
    keepInside();
}

void ZoomView::panBy(QPointF delta) {
    centre_ -= delta / factor_;
    keepInside();
}

void ZoomView::keepInside() {
    const double half = 0.5 / factor_;
    centre_ = {std::clamp(centre_.x(), half, 1.0 - half),
               std::clamp(centre_.y(), half, 1.0 - half)};
}

}  // namespace tess
