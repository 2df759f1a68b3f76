#include "liveview/ButtonArt.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRectF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tess {
namespace {

struct Look {
    QColor top, bottom;  // face gradient
    QColor border;
    QColor edge;  // inner top line: a highlight when raised, a shadow when pressed
    QColor glyph, shadow;
};

const Look kRaised{{0x6a, 0x72, 0x7e}, {0x43, 0x49, 0x52}, {0x1b, 0x1e, 0x23},
                   {0x8c, 0x94, 0xa0}, {0xf0, 0xf3, 0xf6}, {0, 0, 0, 110}};
const Look kPressed{{0x2c, 0x31, 0x38}, {0x3f, 0x45, 0x4e}, {0x14, 0x16, 0x1a},
                    {0x1e, 0x22, 0x27}, {0x9c, 0xd2, 0xff}, {0, 0, 0, 0}};
const Look kDisabled{{0x4c, 0x50, 0x56}, {0x3e, 0x42, 0x47}, {0x2a, 0x2d, 0x31},
                     {0x56, 0x5a, 0x60}, {0x78, 0x7d, 0x84}, {0, 0, 0, 0}};

// Glyphs are laid out in units of one logical pixel of an 18 x 18 key, centred on the origin.
// Every glyph ends up as one filled path, so its drop shadow is the same path moved down.

QPainterPath stroked(const QPainterPath& path, qreal width) {
    QPainterPathStroker stroker;
    stroker.setWidth(width);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return stroker.createStroke(path);
}

QPainterPath line(QPointF a, QPointF b, qreal width) {
    QPainterPath path(a);
    path.lineTo(b);
    return stroked(path, width);
}

QPainterPath circle(QPointF centre, qreal radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

// A '+' (or '-' when !plus) of the given half length.
QPainterPath sign(QPointF centre, qreal half, bool plus, qreal width) {
    QPainterPath path = line(centre - QPointF(half, 0), centre + QPointF(half, 0), width);
    if (plus) path = path.united(line(centre - QPointF(0, half), centre + QPointF(0, half), width));
    return path;
}

QPainterPath magnifier(bool plus) {
    const QPointF lens(-1.5, -1.5);
    const qreal r = 4.6;
    QPainterPath path = stroked(circle(lens, r), 1.6);
    const QPointF rim = lens + QPointF(r, r) / std::numbers::sqrt2;
    path = path.united(line(rim, QPointF(5.7, 5.7), 2.6));
    return path.united(sign(lens, 2.2, plus, 1.4));
}

// Text outlines come from a large font and are scaled down, so small keys get no hinting jitter.
QPainterPath label(const QString& text, qreal height, qreal maxWidth) {
    QFont font;
    font.setPixelSize(100);
    font.setBold(true);
    QPainterPath path;
    path.addText(0, 0, font, text);
    // Centred on the ink rather than the font box, so digits without descenders sit mid-key.
    const QRectF ink = path.boundingRect();
    const qreal k = std::min(height / ink.height(), maxWidth / ink.width());
    return QTransform::fromScale(k, k).translate(-ink.center().x(), -ink.center().y()).map(path);
}

QPainterPath camera() {
    QPainterPath body;
    body.setFillRule(Qt::WindingFill);
    body.addRoundedRect(QRectF(-7, -3.5, 14, 9.5), 1.8, 1.8);
    body.addRoundedRect(QRectF(-2.8, -5.8, 5.6, 3.5), 1, 1);
    body.addRect(QRectF(-6, -4.8, 2.5, 1.5));  // flash shoe
    body = body.simplified();
    body = body.subtracted(circle({0, 1.2}, 3.4));
    body = body.united(circle({0, 1.2}, 1.9));
    return body.subtracted(circle({4.6, -1.3}, 0.8));  // flash window
}

QPainterPath triangle(qreal degrees) {
    // Pointing up: wide and flat so it fills an 18 x 9 key, rotated for the others.
    const QPolygonF poly{QPointF(0, -2.4), QPointF(4.6, 2.4), QPointF(-4.6, 2.4)};
    QPainterPath path;
    path.addPolygon(poly);
    path.closeSubpath();
    path = path.united(stroked(path, 1.0));  // softened corners
    return QTransform().rotate(degrees).map(path);
}

// n x n cells inside a box of about `side` device pixels centred on `c`, separated (and, with
// `framed`, surrounded) by bars `bar` pixels thick. Everything lands on whole device pixels: a
// 4 x 4 grid has one-pixel bars at scale 1, which antialiasing would otherwise smear grey.
QPainterPath cells(QPointF c, qreal side, int n, qreal bar, bool framed, qreal aspect = 1) {
    const int edges = framed ? n + 1 : n - 1;
    const qreal cw = std::max(1.0, std::round((side - edges * bar) / n));
    const qreal ch = std::max(1.0, std::round((side * aspect - edges * bar) / n));
    const qreal w = n * cw + edges * bar, h = n * ch + edges * bar;
    const QPointF origin(std::round(c.x() - w / 2), std::round(c.y() - h / 2));
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);
    if (framed) path.addRect(QRectF(origin, QSizeF(w, h)));
    const qreal lead = framed ? bar : 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            path.addRect(QRectF(origin.x() + lead + i * (cw + bar),
                                origin.y() + lead + j * (ch + bar), cw, ch));
        }
    }
    return path;
}

// The glyph in device pixels, for a face centred on `c` with `u` device pixels per unit; text
// keeps within `room` units of width.
QPainterPath glyph(Control art, QPointF c, qreal u, qreal room) {
    const QTransform toDevice = QTransform::fromTranslate(c.x(), c.y()).scale(u, u);
    const qreal bar = std::max(1.0, std::round(u));
    QPainterPath path;
    if (const int number = channelNumber(art)) {
        return toDevice.map(label(QString::number(number), 9.5, room));
    }
    switch (art) {
        case Control::SnapShot: path = camera(); break;
        case Control::Cut4: return cells(c, 12 * u, 2, bar, true);
        case Control::Cut9: return cells(c, 12 * u, 3, bar, true);
        case Control::Cut16: return cells(c, 12 * u, 4, bar, true);
        case Control::FourDevice: return cells(c, 13 * u, 2, std::round(2 * u), false, 0.8);
        case Control::Up: path = triangle(0); break;
        case Control::Right: path = triangle(90); break;
        case Control::Down: path = triangle(180); break;
        case Control::Left: path = triangle(270); break;
        case Control::FocusIn:
        case Control::FocusOut: {
            const QPointF ring(-1.8, 1.8);
            path = stroked(circle(ring, 4.4), 1.5).united(circle(ring, 1.5));
            path = path.united(sign({4.8, -4.8}, 2.1, art == Control::FocusIn, 1.4));
            break;
        }
        case Control::ZoomIn: path = magnifier(true); break;
        case Control::ZoomOut: path = magnifier(false); break;
        case Control::ZoomInMax:
        case Control::ZoomOutMax: {
            // A smaller magnifier moved down-left, its sign repeated in the corner: "all the way".
            const bool plus = art == Control::ZoomInMax;
            path = QTransform::fromTranslate(-0.8, 0.8).scale(0.85, 0.85).map(magnifier(plus));
            path = path.united(sign({5, -5.2}, 1.9, plus, 1.3));
            break;
        }
        case Control::Auto: path = label(QStringLiteral("Auto"), 8.5, std::min(26.0, room)); break;
        case Control::Button2:
        case Control::Button3:
            path = stroked(circle({0, 0}, 6.6), 1.3);
            path.addPath(label(QString::number(art == Control::Button2 ? 2 : 3), 7.2, 7));
            break;
        default: break;  // the text buttons
    }
    return toDevice.map(path);
}

}  // namespace

void paintButtonArt(QPainter& painter, const QRectF& rect, Control art, bool down, bool enabled) {
    if (rect.isEmpty()) return;
    const Look& look = !enabled ? kDisabled : down ? kPressed : kRaised;
    const qreal shortSide = std::min(rect.width(), rect.height());
    const qreal longSide = std::max(rect.width(), rect.height());
    // Arrow keys are half a key thick, so their short side is 9 units rather than 18.
    const qreal u = shortSide / (longSide >= 1.9 * shortSide ? 9 : 18);
    // Whole pixels keep the border sharp; one logical pixel thick at every scale.
    const qreal border = std::max(1.0, std::round(u));
    const qreal radius = std::min(3 * u, shortSide / 3);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // Face: border, then the edge line peeking out above the gradient.
    painter.setBrush(look.border);
    painter.drawRoundedRect(rect, radius, radius);
    const QRectF inner = rect.adjusted(border, border, -border, -border);
    const qreal innerRadius = std::max(0.0, radius - border);
    painter.setBrush(look.edge);
    painter.drawRoundedRect(inner, innerRadius, innerRadius);
    QLinearGradient gradient(inner.topLeft(), inner.bottomLeft());
    gradient.setColorAt(0, look.top);
    gradient.setColorAt(1, look.bottom);
    painter.setBrush(gradient);
    painter.drawRoundedRect(inner.adjusted(0, border, 0, 0), innerRadius, innerRadius);

    // Pressed glyphs move down-right by a logical pixel, as if the key sank.
    const qreal shift = down ? border : 0;
    const QPainterPath shape =
        glyph(art, rect.center() + QPointF(shift, shift), u, rect.width() / u - 4);
    // Odd aspect ratios could push a glyph over the border; never let it leave the face.
    painter.setClipRect(inner, Qt::IntersectClip);
    if (look.shadow.alpha() > 0) painter.fillPath(shape.translated(0, border), look.shadow);
    painter.fillPath(shape, look.glyph);
    painter.restore();
}

}  // namespace tess
