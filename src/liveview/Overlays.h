#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include <QImage>
#include <QSize>

#include "pane/PaneStatistics.h"
#include "session/PaneRenderState.h"

namespace tess {

inline constexpr QRgb kOverlayRed = 0xffff0000;
inline constexpr QRgb kOverlayYellow = 0xffffff00;
inline constexpr int kOverlayBand = 4;
// Pictures of fewer lines take the drag rectangle's client coordinates as
// picture pixels; taller ones scale them by picture size / client size.
inline constexpr int kDragScalingLines = 241;

// Fills the rectangle [left, right) x [top, bottom) of a 32-bit `image` with
// `color`, corners in either order, clipped to the image.
void fillBand(QImage& image, int64_t left, int64_t top, int64_t right, int64_t bottom, QRgb color);

// Both overlays are measured in the pixels of the picture as received
// (`received`; empty: the image's own size), also when `image` holds it
// decoded at a reduced size: they look the same at every decoding scale.

// The quad's selection mark: four red bands of 4 picture pixels along the
// picture's edges.
void drawSelectionFrame(QImage& image, QSize received = {});

// The drag rectangle as four 4-pixel bands, red for a left-to-right drag and
// yellow otherwise. `client` is the pane's size, used to scale the corners
// into pictures of 241 lines or more; nothing is drawn for an empty client.
void drawDragRectangle(QImage& image, const DragRectangle& drag, QSize client, QSize received = {});

class GlyphStrip;

// The lines of the health overlay, each at most kHealthLineLength
// characters, formatted without the heap.
inline constexpr int kHealthLines = 4;
inline constexpr int kHealthLineLength = 40;
struct HealthText {
    char lines[kHealthLines][kHealthLineLength] = {};
    int lengths[kHealthLines] = {};
    std::string_view line(int i) const { return {lines[i], static_cast<size_t>(lengths[i])}; }
};
// Frame and bit rate, drops (receiver and renderer), reconnects, undecodable
// frames, decode time and the picture's age.
HealthText formatHealth(const PaneHealth& health, const RateMeter& rates);

// The health overlay: formatHealth's lines in the picture's top-left corner,
// copied from `glyphs`, in the image's own pixels. No heap allocation.
void drawHealthOverlay(QImage& image, const HealthText& text, const GlyphStrip& glyphs);

// The marker a pane shows in its corner: how long a pane that should stream
// has been without a frame (from kStaleAfterMs on), and a reconnect with its
// countdown to the next try; empty for a healthy pane.
std::string healthMarker(const PaneHealth& health);

}  // namespace tess
