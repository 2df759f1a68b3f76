#pragma once

#include "liveview/Controls.h"

class QPainter;
class QRectF;

namespace tess {

// Paints the picture of `button` filling `rect` (device pixels of the
// painter): the raised face when `down` is false, the pressed face when true,
// greyed when `enabled` is false. Pictures are vector shapes drawn at the
// button's real size, so they stay crisp at every window scale. Ch n shows
// its number; CH and PRESET, text buttons, have no picture.
void paintButtonArt(QPainter& painter, const QRectF& rect, Control button, bool down,
                    bool enabled = true);

}  // namespace tess
