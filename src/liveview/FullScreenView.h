#pragma once

#include <QObject>
#include <QSize>

#include "liveview/PaneWidget.h"

class QScreen;

namespace tess {

// Full screen: one pane's picture alone on a whole screen, in a window of the
// live view's own (so that its modal run lets the input through), at full
// resolution with its aspect ratio kept. Only the picture moves: the pane's
// picture slot is shown here while it is open, then handed back with the
// last picture and the zoom. GUI thread only.
class FullScreenView final : public QObject {
    Q_OBJECT

public:
    // `owner` is the live view; stylus positions map into `logicalPicture`.
    FullScreenView(QWidget& owner, int logicalScale, QSize logicalPicture);

    bool active() const { return pane_ >= 0; }
    // The pane shown, or -1.
    int pane() const { return pane_; }
    PaneWidget& widget() { return *widget_; }

    // Shows pane `pane` (its widget `source`, its picture slot `slot`) on
    // `screen`.
    void enter(int pane, PaneWidget& source, PictureSlot& slot, QScreen* screen);
    // Hands the picture and the zoom back to `source` and closes.
    void leave(PaneWidget& source, PictureSlot& slot);

signals:
    // The window was closed, or Escape, F11 or f pressed on it.
    void leaveRequested();
    void healthToggled();
    void zoomResetRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    PaneWidget* widget_;
    int pane_ = -1;
};

}  // namespace tess
