#include "liveview/PaneWidget.h"

#include <algorithm>
#include <cmath>

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <QtMath>

namespace tess {
namespace {

// One wheel notch (120 eighths of a degree) zooms by the square root of 2:
// two notches double the magnification.
constexpr double kNotch = 120.0;
constexpr double kZoomPerNotch = 1.4142135623730951;
constexpr int kMarkerPixelSize = 11;
constexpr int kMarkerMargin = 3;

}  // namespace

PaneWidget::PaneWidget(QString caption, QWidget* parent)
    : QWidget(parent), caption_(std::move(caption)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

PaneWidget::~PaneWidget() {
    detachSlot();
}

void PaneWidget::attachSlot(PictureSlot& slot) {
    detachSlot();
    slot_ = &slot;
    reportClientSize();
    slot_->setReceiver(this, [this] { takePicture(); });
    takePicture();
}

void PaneWidget::detachSlot() {
    if (slot_ != nullptr) {
        slot_->setReceiver(nullptr, {});
        slot_ = nullptr;
    }
}

void PaneWidget::clearPicture() {
    shown_ = QImage();
    update();
}

void PaneWidget::showPicture(const QImage& picture) {
    shown_ = picture;
    update();
}

void PaneWidget::takePicture() {
    if (slot_ != nullptr && slot_->take(shown_)) {
        update();
    }
}

void PaneWidget::setMarker(const QString& marker) {
    if (marker == marker_) return;
    marker_ = marker;
    update();
}

void PaneWidget::setPresentation(Presentation presentation, QSize logicalPicture) {
    presentation_ = presentation;
    logicalPicture_ = logicalPicture;
    reportClientSize();
    update();
}

void PaneWidget::setZoomable(bool zoomable) {
    zoomable_ = zoomable;
    if (!zoomable_) resetZoom();
}

void PaneWidget::setZoom(const ZoomView& zoom) {
    zoom_ = zoom;
    panFrom_.reset();
    reportClientSize();
    update();
}

QRectF PaneWidget::pictureRect() const {
    const QRectF all = rect();
    if (presentation_ != Presentation::Fitted || shown_.isNull()) return all;
    // The largest rectangle of the picture's aspect ratio, centred.
    const QSizeF fitted = QSizeF(shown_.size()).scaled(all.size(), Qt::KeepAspectRatio);
    return {all.x() + (all.width() - fitted.width()) / 2,
            all.y() + (all.height() - fitted.height()) / 2, fitted.width(), fitted.height()};
}

QPointF PaneWidget::onView(QPointF position) const {
    const QRectF target = pictureRect();
    if (target.isEmpty()) return {0.5, 0.5};
    return {std::clamp((position.x() - target.x()) / target.width(), 0.0, 1.0),
            std::clamp((position.y() - target.y()) / target.height(), 0.0, 1.0)};
}

QPointF PaneWidget::toPicture(QPointF position) const {
    const QRectF target = pictureRect();
    if (target.isEmpty()) return {};
    // Not kept inside: a point in the bars lies outside the picture.
    return zoom_.toPicture({(position.x() - target.x()) / target.width(),
                            (position.y() - target.y()) / target.height()});
}

void PaneWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool fitted = presentation_ == Presentation::Fitted;
    if (shown_.isNull()) {
        painter.fillRect(rect(), fitted ? QColor(Qt::black) : palette().window().color());
        painter.setPen(fitted ? QColor(Qt::white) : palette().windowText().color());
        painter.drawText(rect(), Qt::AlignCenter, caption_);
    } else if (!mapsThroughZoom()) {
        // The decoded picture is at least as large as the pane: shrunk with
        // filtering, it keeps its fine lines instead of dropping pixel rows.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), shown_);
    } else {
        const QRectF target = pictureRect();
        if (fitted) {
            // The bars only: the picture covers the rest.
            QRegion bars(rect());
            bars -= target.toAlignedRect().adjusted(1, 1, -1, -1);
            for (const QRect& bar : bars) painter.fillRect(bar, Qt::black);
        }
        const QRectF part = zoom_.visible();
        const QRectF source(part.x() * shown_.width(), part.y() * shown_.height(),
                            part.width() * shown_.width(), part.height() * shown_.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, shown_, source);
    }
    if (!marker_.isEmpty()) {
        QFont font = painter.font();
        font.setPixelSize(kMarkerPixelSize * logicalScale_);
        painter.setFont(font);
        const QRect place = rect().adjusted(kMarkerMargin, kMarkerMargin, -kMarkerMargin, 0);
        // A shadow keeps the text readable on any picture, without a box.
        painter.setPen(Qt::black);
        painter.drawText(place.translated(1, 1), Qt::AlignTop | Qt::AlignRight, marker_);
        painter.setPen(Qt::yellow);
        painter.drawText(place, Qt::AlignTop | Qt::AlignRight, marker_);
    }
}

void PaneWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    reportClientSize();
}

void PaneWidget::setLogicalScale(int scale) {
    logicalScale_ = scale > 0 ? scale : 1;
    reportClientSize();
}

void PaneWidget::reportClientSize() {
    if (slot_ == nullptr) return;
    if (presentation_ == Presentation::Fitted) {
        slot_->setClientSize(logicalPicture_);
    } else {
        slot_->setClientSize(QSize(width() / logicalScale_, height() / logicalScale_));
    }
    // Zoomed or fitted, the picture is decoded whole at full size.
    if (mapsThroughZoom()) {
        slot_->setDisplaySize({});
    } else {
        const qreal ratio = devicePixelRatioF();
        slot_->setDisplaySize(QSize(qCeil(width() * ratio), qCeil(height() * ratio)));
    }
}

void PaneWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit pressed(event->position());
    } else if (event->button() == Qt::MiddleButton && zoomable_) {
        panFrom_ = event->position();
    }
}

void PaneWidget::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        emit moved(event->position());
    }
    if ((event->buttons() & Qt::MiddleButton) && panFrom_) {
        const QRectF target = pictureRect();
        const QPointF delta = event->position() - *panFrom_;
        panFrom_ = event->position();
        if (!target.isEmpty()) {
            zoom_.panBy({delta.x() / target.width(), delta.y() / target.height()});
            update();
        }
    }
}

void PaneWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit released(event->position());
    } else if (event->button() == Qt::MiddleButton) {
        panFrom_.reset();
    }
}

void PaneWidget::wheelEvent(QWheelEvent* event) {
    if (!zoomable_) {
        event->ignore();
        return;
    }
    const double notches = event->angleDelta().y() / kNotch;
    if (notches == 0) return;
    const bool wasZoomed = zoom_.zoomed();
    zoom_.zoomAt(onView(event->position()), std::pow(kZoomPerNotch, notches));
    if (zoom_.zoomed() != wasZoomed) reportClientSize();
    update();
}

}  // namespace tess
