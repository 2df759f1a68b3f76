#pragma once

#include <QPointF>
#include <QRectF>

namespace tess {

// The digital zoom of a picture: which part of it is on view, as a fraction
// of the whole picture (0 ... 1 on both axes). At 1x the whole picture shows;
// up to 8x a part of 1/8 of its width and height. The part never leaves the
// picture. Points "on view" are fractions of the view (0 ... 1), whatever its
// size in pixels.
class ZoomView {
public:
    static constexpr double kMinimum = 1.0;
    static constexpr double kMaximum = 8.0;

    double factor() const { return factor_; }
    bool zoomed() const { return factor_ > kMinimum; }
    // The part of the picture on view.
    QRectF visible() const;

    // Zooms by `ratio` (above 1: in), keeping the picture point under
    // `onView` where it is, as far as the picture's edges allow.
    void zoomAt(QPointF onView, double ratio);
    // Moves the picture by `delta` of the view (a drag to the right by half
    // the view's width is 0.5 and brings the left part into view).
    void panBy(QPointF delta);
    void reset() { *this = ZoomView{}; }

    // The picture point under `onView`.
    QPointF toPicture(QPointF onView) const;

private:
    void keepInside();

    double factor_ = kMinimum;
    QPointF centre_{0.5, 0.5};
};

}  // namespace tess
