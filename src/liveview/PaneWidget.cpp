#include "liveview/PaneWidget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

namespace tess {

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

void PaneWidget::takePicture() {
    if (slot_ != nullptr && slot_->take(shown_)) {
        update();
    }
}

void PaneWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (shown_.isNull()) {
        painter.fillRect(rect(), palette().window());
        painter.setPen(palette().windowText().color());
        painter.drawText(rect(), Qt::AlignCenter, caption_);
        return;
    }
    // The decoded picture is at least as large as the pane: shrunk with
    // filtering, it keeps its fine lines instead of dropping pixel rows.
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), shown_);
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
    if (slot_ != nullptr) {
        slot_->setClientSize(QSize(width() / logicalScale_, height() / logicalScale_));
        const qreal ratio = devicePixelRatioF();
        slot_->setDisplaySize(QSize(qCeil(width() * ratio), qCeil(height() * ratio)));
    }
}

void PaneWidget::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit pressed(event->position());
    }
}

void PaneWidget::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) {
        emit moved(event->position());
    }
}

void PaneWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        emit released(event->position());
    }
}

}  // namespace tess
