#include "liveview/Overlays.h"

#include <algorithm>
#include <charconv>

#include "liveview/GlyphStrip.h"

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

namespace {

// One line of overlay text in a fixed buffer; what does not fit is cut.
class LineWriter {
public:
    LineWriter(char* buffer, int& length) : buffer_(buffer), length_(length) { length_ = 0; }
    LineWriter& operator<<(std::string_view text) {
        for (const char c : text) {
            if (length_ < kHealthLineLength) buffer_[length_++] = c;
        }
        return *this;
    }
    LineWriter& operator<<(uint64_t value) {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        return *this << std::string_view(digits, static_cast<size_t>(end - digits));
    }
    // `tenths` as a number with one decimal.
    LineWriter& tenths(uint64_t tenths) {
        *this << tenths / 10 << ".";
        return *this << tenths % 10;
    }

private:
    char* buffer_;
    int& length_;
};

}  // namespace

HealthText formatHealth(const PaneHealth& health, const RateMeter& rates) {
    HealthText text;
    const auto line = [&text](int i) { return LineWriter(text.lines[i], text.lengths[i]); };
    line(0).tenths(rates.framesPerSecondTenths())
        << " fps " << uint64_t{rates.kbitPerSecond()} << " kbit/s";
    line(1) << "drop rx " << health.receiverDrops << " render " << health.renderSkips;
    line(2) << "reconnects " << health.reconnects << " bad " << health.undecodable;
    LineWriter last = line(3);
    last.tenths(health.decodeMicros / 100) << " ms decode";
    if (health.ageMs) last << " age " << uint64_t{*health.ageMs} << " ms";
    return text;
}

void drawHealthOverlay(QImage& image, const HealthText& text, const GlyphStrip& glyphs) {
    constexpr int kMargin = 2;
    for (int i = 0; i < kHealthLines; ++i) {
        glyphs.draw(image, kMargin, kMargin + i * glyphs.cellHeight(), text.line(i));
    }
}

std::string healthMarker(const PaneHealth& health) {
    std::string marker;
    if (health.stale && health.ageMs) {
        marker = "stale " + std::to_string(*health.ageMs / 1000) + " s";
    }
    if (health.reconnecting) {
        if (!marker.empty()) marker += ", ";
        marker += "reconnecting";
        if (health.retryInMs) {
            // Counted down in whole seconds, rounded up, down to 1 s.
            const uint32_t seconds = std::max<uint32_t>(1, (*health.retryInMs + 999) / 1000);
            marker += " in " + std::to_string(seconds) + " s";
        }
    }
    return marker;
}

}  // namespace tess
