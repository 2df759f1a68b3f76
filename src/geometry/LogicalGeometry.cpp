#include "geometry/LogicalGeometry.h"

#include <algorithm>
#include <cmath>

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tess {

LogicalGeometry::LogicalGeometry(int scale) : scale_(std::clamp(scale, 1, kMaxScale)) {}

int LogicalGeometry::scaleForHeight(int availableHeight) {
    const double room = availableHeight * kScreenShare;
    const int fits = static_cast<int>(std::floor(room / kScreenHeight));
    return std::clamp(fits, 1, kMaxScale);
}

int LogicalGeometry::scaleForScreen(const QScreen* screen) {
    const QByteArray forced = qgetenv("TESSARINE_SCALE");
    if (!forced.isEmpty()) {
        bool ok = false;
        const int value = forced.toInt(&ok);
        if (ok && value >= 1 && value <= kMaxScale) {
            return value;
        }
    }
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return 1;
    }
    return scaleForHeight(screen->availableGeometry().height());
}

LogicalGeometry LogicalGeometry::forScreen(const QScreen* screen) {
    return LogicalGeometry(scaleForScreen(screen));
}

QRect LogicalGeometry::toPixels(const QRect& logical) const {
    return {logical.x() * scale_, logical.y() * scale_, logical.width() * scale_,
            logical.height() * scale_};
}

QSize LogicalGeometry::toPixels(const QSize& logical) const {
    return logical * scale_;
}

QPoint LogicalGeometry::toPixels(const QPoint& logical) const {
    return logical * scale_;
}

QPoint LogicalGeometry::toLogical(const QPointF& pixels) const {
    return {static_cast<int>(std::floor(pixels.x() / scale_)),
            static_cast<int>(std::floor(pixels.y() / scale_))};
}

QSize LogicalGeometry::toLogical(const QSize& pixels) const {
    return {pixels.width() / scale_, pixels.height() / scale_};
}

void LogicalGeometry::place(QWidget& child, const QRect& logical) const {
    child.setGeometry(toPixels(logical));
}

void LogicalGeometry::fitWindow(QWidget& window, const QSize& logical, int fontPixels) const {
    window.setFixedSize(toPixels(logical));
    QFont font = window.font();
    font.setPixelSize(fontPixels * scale_);
    window.setFont(font);
}

}  // namespace tess
