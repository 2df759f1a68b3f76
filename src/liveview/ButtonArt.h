#pragma once

class QPainter;
class QRectF;

namespace tess {

// The pictures of the live view's image buttons. They are drawn as vector
// shapes at the button's real size, so they stay crisp at every window scale.
enum class ButtonArt {
    SnapShot,    // a camera
    Cut4,        // a 2 x 2 split screen
    Cut9,        // 3 x 3
    Cut16,       // 4 x 4
    FourDevice,  // back to the quad: four small pictures
    Channel,     // a numbered key; the number is passed separately
    Up,
    Down,
    Left,
    Right,
    FocusIn,
    FocusOut,
    ZoomIn,
    ZoomOut,
    ZoomInMax,
    ZoomOutMax,
    Auto,     // the word "Auto"
    Button2,  // the recorder's second function key
    Button3,  // its third
};

// Paints `art` filling `rect` (device pixels of the painter): the raised face
// when `down` is false, the pressed face when true, greyed when `enabled` is
// false. `number` is the label of a Channel key (1 ... 16) and is ignored by
// the others.
void paintButtonArt(QPainter& painter, const QRectF& rect, ButtonArt art, int number, bool down,
                    bool enabled = true);

}  // namespace tess
