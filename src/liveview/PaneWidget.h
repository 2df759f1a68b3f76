#pragma once

#include <optional>

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

#include "liveview/PictureSlot.h"
#include "liveview/ZoomView.h"

namespace tess {

// One picture pane of the live view. Shows the latest picture of its render
// thread stretched over the whole widget (the aspect ratio is not kept);
// until the first picture arrives, or after clearPicture(), it shows its
// caption ("View1" ... "View4") centred. GUI thread only.
//
// Two things change that, and only when asked for: a fitted presentation
// (full screen: the picture at its full resolution, scaled smoothly with its
// aspect ratio kept and black bars around it), and the digital zoom of a
// zoomable pane (mouse wheel around the pointer, middle-button drag to pan),
// which also decodes at full resolution and scales smoothly.
class PaneWidget : public QWidget {
    Q_OBJECT

public:
    enum class Presentation { Stretched, Fitted };

    explicit PaneWidget(QString caption, QWidget* parent = nullptr);
    ~PaneWidget() override;

    // Starts showing what is published in `slot` (not owned; it must outlive
    // this widget or be detached with detachSlot()). One slot at a time; a
    // picture pending there shows at once.
    void attachSlot(PictureSlot& slot);
    void detachSlot();

    // The widget is shown at `scale` screen pixels per logical pixel; the
    // client size the render thread scales drag rectangles by is the logical
    // one, as the rectangle's corners are. 1 until set.
    void setLogicalScale(int scale);

    // Fitted: `logicalPicture` is the logical picture the stylus positions
    // are mapped into (the render thread scales drag rectangles by it).
    void setPresentation(Presentation presentation, QSize logicalPicture = {});
    Presentation presentation() const { return presentation_; }

    // The wheel and the middle button zoom and pan only a zoomable pane;
    // making it not zoomable goes back to 1x.
    void setZoomable(bool zoomable);
    bool zoomable() const { return zoomable_; }
    const ZoomView& zoom() const { return zoom_; }
    void setZoom(const ZoomView& zoom);
    void resetZoom() { setZoom(ZoomView{}); }
    // Stylus positions go through the zoom and the fitting: toPicture().
    bool mapsThroughZoom() const { return presentation_ == Presentation::Fitted || zoom_.zoomed(); }
    // The point of the whole picture (fractions 0 ... 1, outside in the bars)
    // under `position` in widget coordinates.
    QPointF toPicture(QPointF position) const;

    // The text shown small in the top-right corner over picture or caption
    // (the pane's health marker); empty: none.
    void setMarker(const QString& marker);
    const QString& marker() const { return marker_; }

    QString caption() const { return caption_; }
    bool hasPicture() const { return !shown_.isNull(); }
    // The picture on screen, in picture pixels.
    const QImage& picture() const { return shown_; }
    // Shows `picture` until the next one arrives (a picture handed over from
    // another widget of the same pane).
    void showPicture(const QImage& picture);
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
    void wheelEvent(QWheelEvent* event) override;

private:
    void takePicture();
    void reportClientSize();
    // Where the picture (or its zoomed part) is drawn in the widget.
    QRectF pictureRect() const;
    // `position` as a fraction of pictureRect(), kept inside it.
    QPointF onView(QPointF position) const;

    QString caption_;
    PictureSlot* slot_ = nullptr;
    int logicalScale_ = 1;
    QImage shown_;
    Presentation presentation_ = Presentation::Stretched;
    QSize logicalPicture_;
    bool zoomable_ = false;
    ZoomView zoom_;
    std::optional<QPointF> panFrom_;
    QString marker_;
};

}  // namespace tess
