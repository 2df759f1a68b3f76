#pragma once

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

#include "liveview/PictureSlot.h"

namespace tess {

// One picture pane of the live view. Shows the latest picture of its render
// thread stretched over the whole widget (the aspect ratio is not kept);
// until the first picture arrives, or after clearPicture(), it shows its
// caption ("View1" ... "View4") centred. GUI thread only.
class PaneWidget : public QWidget {
    Q_OBJECT

public:
    explicit PaneWidget(QString caption, QWidget* parent = nullptr);
    ~PaneWidget() override;

    // Starts showing what is published in `slot` (not owned; it must outlive
    // this widget or be detached with detachSlot()). One slot at a time.
    void attachSlot(PictureSlot& slot);
    void detachSlot();

    // The widget is shown at `scale` screen pixels per logical pixel; the
    // client size the render thread scales drag rectangles by is the logical
    // one, as the rectangle's corners are. 1 until set.
    void setLogicalScale(int scale);

    QString caption() const { return caption_; }
    bool hasPicture() const { return !shown_.isNull(); }
    // The picture on screen, in picture pixels.
    const QImage& picture() const { return shown_; }
    // Back to the caption, for instance when the pane's stream is restarted.
    void clearPicture();

signals:
    // Stylus (left mouse button) positions in widget coordinates.
    void pressed(QPointF position);
    void moved(QPointF position);
    void released(QPointF position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void takePicture();

    QString caption_;
    void reportClientSize();

    PictureSlot* slot_ = nullptr;
    int logicalScale_ = 1;
    QImage shown_;
};

}  // namespace tess
