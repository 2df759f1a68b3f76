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

void drawSelectionFrame(QImage& picture) {
    const int64_t w = picture.width();
    const int64_t h = picture.height();
    fillBand(picture, 0, 0, w, kOverlayBand, kOverlayRed);
    fillBand(picture, 0, 0, kOverlayBand, h, kOverlayRed);
    fillBand(picture, 0, h - kOverlayBand, w, h, kOverlayRed);
    fillBand(picture, w - kOverlayBand, 0, w, h, kOverlayRed);
}

void drawDragRectangle(QImage& picture, const DragRectangle& drag, QSize client) {
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
    fillBand(picture, x0, y0, x1, y0 + kOverlayBand, color);
    fillBand(picture, x0, y0, x0 + kOverlayBand, y1, color);
    fillBand(picture, x0, y1 - kOverlayBand, x1, y1, color);
    fillBand(picture, x1 - kOverlayBand, y0, x1, y1, color);
}

}  // namespace tess
