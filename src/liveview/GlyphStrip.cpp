#include "liveview/GlyphStrip.h"

#include <algorithm>
#include <cstring>

#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

namespace tess {
namespace {

constexpr int kCharacterCount = GlyphStrip::kLast - GlyphStrip::kFirst + 1;
// Small enough for four lines on a quad pane's picture.
constexpr int kPixelSize = 10;

}  // namespace

const GlyphStrip& GlyphStrip::shared() {
    static const GlyphStrip strip;
    return strip;
}

GlyphStrip::GlyphStrip() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(kPixelSize);
    const QFontMetrics metrics(font);
    cellWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('M')));
    cellHeight_ = std::max(1, metrics.height());
    strip_ = QImage(cellWidth_ * kCharacterCount, cellHeight_, QImage::Format_RGB32);
    strip_.fill(Qt::black);
    QPainter painter(&strip_);
    painter.setFont(font);
    painter.setPen(Qt::white);
    for (int i = 0; i < kCharacterCount; ++i) {
        painter.drawText(QRect(i * cellWidth_, 0, cellWidth_, cellHeight_), Qt::AlignCenter,
                         QString(QLatin1Char(static_cast<char>(kFirst + i))));
    }
}

int GlyphStrip::draw(QImage& image, int x, int y, std::string_view text) const {
    if (image.depth() != 32) return x;
    const int top = std::max(0, y);
    const int bottom = std::min(image.height(), y + cellHeight_);
    for (const char c : text) {
        const int index = (c >= kFirst && c <= kLast) ? c - kFirst : 0;
        const int left = std::max(0, x);
        const int right = std::min(image.width(), x + cellWidth_);
        if (left < right) {
            const size_t bytes = static_cast<size_t>(right - left) * 4;
            const int from = index * cellWidth_ + (left - x);
            for (int row = top; row < bottom; ++row) {
                const auto* source =
                    reinterpret_cast<const QRgb*>(strip_.constScanLine(row - y)) + from;
                // scanLine() detaches a shared image first; the render
                // thread's canvas is its own, so nothing is copied there.
                auto* target = reinterpret_cast<QRgb*>(image.scanLine(row)) + left;
                std::memcpy(target, source, bytes);
            }
        }
        x += cellWidth_;
    }
    return x;
}

}  // namespace tess
