#pragma once

#include <string_view>

#include <QImage>

namespace tess {

// The printable ASCII characters (' ' ... '~') rendered once, white on black
// in fixed-width cells of one 32-bit image, so that text can be put on a
// picture by copying pixel rows: no font engine, no painter and no heap
// allocation per string.
class GlyphStrip {
public:
    static constexpr char kFirst = ' ';
    static constexpr char kLast = '~';

    // The program's strip, rendered on the first call. That call is to come
    // from the GUI thread (a RenderThread's constructor makes it); afterwards
    // any thread may draw with it.
    static const GlyphStrip& shared();

    int cellWidth() const { return cellWidth_; }
    int cellHeight() const { return cellHeight_; }

    // Copies the cells of `text` into the 32-bit `image` with its top-left
    // corner at (x, y), clipped to the image; characters outside the strip
    // come out as blanks. The x just right of the text.
    int draw(QImage& image, int x, int y, std::string_view text) const;

private:
    GlyphStrip();

    QImage strip_;
    int cellWidth_ = 0;
    int cellHeight_ = 0;
};

}  // namespace tess
