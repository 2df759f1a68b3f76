#include "liveview/Overlays.h"

#include <algorithm>

namespace tess {

void fillBand(QImage& image, int64_t left, int64_t top, int64_t right, int64_t bottom, QRgb color) {
    if (image.depth() != 32) {
        return;
    }
    const int64_t x0 = std::clamp<int64_t>(std::min(left, right), 0, image.width());
    const int64_t x1 = std::clamp<int64_t>(std::max(left, right), 0, image.width());
    const int64_t y0 = std::clamp<int64_t>(std::min(top, bottom), 0, image.height());
    const int64_t y1 = std::clamp<int64_t>(std::max(top, bottom), 0, image.height());
    for (int64_t y = y0; y < y1; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
        std::fill(line + x0, line + x1, color);
    }
}

namespace {

// Fills a band given in received-picture pixels into the image, which may
// hold the picture at a reduced size.
class ScaledCanvas {
public:
    ScaledCanvas(QImage& image, QSize received)
        : image_(image), received_(received.isEmpty() ? image.size() : received) {}
    int64_t width() const { return received_.width(); }
    int64_t height() const { return received_.height(); }
    void fill(int64_t left, int64_t top, int64_t right, int64_t bottom, QRgb color) {
        fillBand(image_, scaleX(left), scaleY(top), scaleX(right), scaleY(bottom), color);
    }

private:
    int64_t scaleX(int64_t x) const { return x * image_.width() / received_.width(); }
    int64_t scaleY(int64_t y) const { return y * image_.height() / received_.height(); }

    QImage& image_;
    QSize received_;
};

}  // namespace

void drawSelectionFrame(QImage& image, QSize received) {
    ScaledCanvas picture(image, received);
    const int64_t w = picture.width();
    const int64_t h = picture.height();
    picture.fill(0, 0, w, kOverlayBand, kOverlayRed);
    picture.fill(0, 0, kOverlayBand, h, kOverlayRed);
    picture.fill(0, h - kOverlayBand, w, h, kOverlayRed);
    picture.fill(w - kOverlayBand, 0, w, h, kOverlayRed);
}

void drawDragRectangle(QImage& image, const DragRectangle& drag, QSize client, QSize received) {
    ScaledCanvas picture(image, received);
    const int64_t w = picture.width();
    const int64_t h = picture.height();
    int64_t x0 = drag.x0;
    int64_t x1 = drag.x1;
    int64_t y0 = drag.y0;
    int64_t y1 = drag.y1;
    if (h >= kDragScalingLines) {
        if (client.width() <= 0 || client.height() <= 0) {
            return;
        }
        // Signed 64-bit arithmetic: for the on-screen coordinates it equals
        // the unsigned division, and a stylus position left of or above the
        // pane stays outside the picture instead of wrapping to a huge value.
        x0 = x0 * w / client.width();
        x1 = x1 * w / client.width();
        y0 = y0 * h / client.height();
        y1 = y1 * h / client.height();
    }
    const QRgb color = drag.x0 < drag.x1 ? kOverlayRed : kOverlayYellow;
    picture.fill(x0, y0, x1, y0 + kOverlayBand, color);
    picture.fill(x0, y0, x0 + kOverlayBand, y1, color);
    picture.fill(x0, y1 - kOverlayBand, x1, y1, color);
    picture.fill(x1 - kOverlayBand, y0, x1, y1, color);
}

}  // namespace tess
