#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace tess {

// The windows are laid out in the coordinates of a 240-pixel-wide portrait
// screen and shown at one whole-number scale factor: a logical pixel is a
// square of scale x scale screen pixels. Every place, hit test and stylus rule
// is written in logical coordinates; widgets are placed at their scaled
// rectangles and mouse positions are converted back before they are used.
class LogicalGeometry {
public:
    static constexpr int kScreenWidth = 240;
    static constexpr int kScreenHeight = 320;
    // Share of the available screen height a logical screen may take.
    static constexpr double kScreenShare = 0.85;
    static constexpr int kMaxScale = 8;

    // `scale` below 1 counts as 1.
    explicit LogicalGeometry(int scale = 1);

    // The factor for a screen whose available height is `availableHeight`
    // pixels: the largest whole number >= 1 at which a 240 x 320 logical
    // screen fits in 85 % of that height.
    static int scaleForHeight(int availableHeight);
    // The factor for `screen` (the primary one when null). The environment
    // variable TESSARINE_SCALE, when it holds a number from 1 to 8, wins.
    static int scaleForScreen(const QScreen* screen = nullptr);
    // A geometry at scaleForScreen().
    static LogicalGeometry forScreen(const QScreen* screen = nullptr);

    int scale() const { return scale_; }

    QRect toPixels(const QRect& logical) const;
    QSize toPixels(const QSize& logical) const;
    QPoint toPixels(const QPoint& logical) const;
    // The logical pixel that holds a screen position: positions left of or
    // above the origin give negative coordinates (rounded towards minus
    // infinity), so a drag that leaves the window keeps its direction.
    QPoint toLogical(const QPointF& pixels) const;
    QPoint toLogical(const QPoint& pixels) const { return toLogical(QPointF(pixels)); }
    QSize toLogical(const QSize& pixels) const;

    // Places `child` at a logical rectangle of its parent.
    void place(QWidget& child, const QRect& logical) const;
    void place(QWidget& child, int x, int y, int width, int height) const {
        place(child, QRect(x, y, width, height));
    }
    // Gives a top-level window a fixed logical client size and a font whose
    // pixel size follows the scale (`fontPixels` logical pixels).
    void fitWindow(QWidget& window, const QSize& logical, int fontPixels = 11) const;

private:
    int scale_;
};

}  // namespace tess
