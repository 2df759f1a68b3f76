#include "liveview/FullScreenView.h"

#include <QEvent>
#include <QKeyEvent>
#include <QScreen>

namespace tess {

FullScreenView::FullScreenView(QWidget& owner, int logicalScale, QSize logicalPicture)
    : QObject(&owner), widget_(new PaneWidget(QString(), &owner)) {
    widget_->setWindowFlag(Qt::Window);
    widget_->setWindowTitle(owner.windowTitle());
    widget_->setPresentation(PaneWidget::Presentation::Fitted, logicalPicture);
    widget_->setZoomable(true);
    widget_->setLogicalScale(logicalScale);
    widget_->installEventFilter(this);
    widget_->hide();
}

void FullScreenView::enter(int pane, PaneWidget& source, PictureSlot& slot, QScreen* screen) {
    source.detachSlot();
    pane_ = pane;
    widget_->setZoom(source.zoom());
    widget_->setMarker(source.marker());
    if (source.hasPicture()) {
        widget_->showPicture(source.picture());
    } else {
        widget_->clearPicture();
    }
    widget_->attachSlot(slot);
    if (screen != nullptr) widget_->setGeometry(screen->geometry());
    widget_->showFullScreen();
    widget_->raise();
    widget_->activateWindow();
}

void FullScreenView::leave(PaneWidget& source, PictureSlot& slot) {
    if (!active()) return;
    pane_ = -1;
    widget_->detachSlot();
    widget_->hide();
    if (source.zoomable()) source.setZoom(widget_->zoom());
    if (widget_->hasPicture()) {
        source.showPicture(widget_->picture());
    } else {
        source.clearPicture();
    }
    widget_->clearPicture();
    source.attachSlot(slot);
}

bool FullScreenView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != widget_) return QObject::eventFilter(watched, event);
    if (event->type() == QEvent::Close) {
        // Closing the full-screen window returns to the live view.
        event->ignore();
        emit leaveRequested();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return false;
    switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Escape:
        case Qt::Key_F11:
        case Qt::Key_F: emit leaveRequested(); return true;
        case Qt::Key_I: emit healthToggled(); return true;
        case Qt::Key_0: emit zoomResetRequested(); return true;
        default: return false;
    }
}

}  // namespace tess
