#include "resources/Artwork.h"

#include <utility>

#include <QFont>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tess::artwork {

namespace {

const QColor kOutline(60, 60, 60);
const QColor kFolderBack(214, 160, 40);
const QColor kFolderFront(250, 204, 82);
const QColor kBoxBody(72, 80, 92);
const QColor kBoxFront(150, 160, 172);
const QColor kLedGreen(60, 220, 80);
const QColor kRowBlue(38, 110, 190);

// A transparent pixmap of `size` logical pixels and a painter on it that
// draws in logical coordinates.
QPixmap blankPixmap(int size, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QPixmap pixmap(qRound(size * ratio), qRound(size * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

void drawFolder(QPainter& p, bool open) {
    p.setPen(QPen(kOutline, 1));
    // Back with its tab.
    QPainterPath back;
    back.moveTo(1.5, 3.5);
    back.lineTo(6.0, 3.5);
    back.lineTo(7.5, 5.0);
    back.lineTo(14.5, 5.0);
    back.lineTo(14.5, 13.5);
    back.lineTo(1.5, 13.5);
    back.closeSubpath();
    p.setBrush(kFolderBack);
    p.drawPath(back);
    if (open) {
        // A sheet sticking out and the front flap tilted down and forward.
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 4.5, 9.0, 5.0));
        QPolygonF flap({{3.5, 7.5}, {15.5, 7.5}, {13.0, 13.5}, {1.0, 13.5}});
        p.setBrush(kFolderFront);
        p.drawPolygon(flap);
    } else {
        p.setBrush(kFolderFront);
        p.drawRect(QRectF(1.5, 6.5, 13.0, 7.0));
    }
}

// A recorder: a dark case with a light front strip, a disc slot and a lit LED.
void drawRecorderBox(QPainter& p, const QRectF& box) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(kBoxBody);
    p.drawRoundedRect(box, 1.0, 1.0);
    const QRectF front(box.left() + 1.5, box.top() + box.height() / 2.0, box.width() - 3.0,
                       box.height() / 2.0 - 1.5);
    p.setPen(Qt::NoPen);
    p.setBrush(kBoxFront);
    p.drawRect(front);
    p.setBrush(kOutline);
    p.drawRect(QRectF(box.left() + 2.0, box.top() + 1.5, box.width() * 0.5, 1.0));
    p.setBrush(kLedGreen);
    p.drawEllipse(QPointF(box.right() - 2.5, front.center().y()), 1.2, 1.2);
}

void drawTreeImage(QPainter& p, TreeImage image) {
    switch (image) {
        case TreeImage::OpenFolder: drawFolder(p, true); break;
        case TreeImage::ClosedFolder: drawFolder(p, false); break;
        case TreeImage::Device: drawRecorderBox(p, QRectF(0.5, 4.5, 15.0, 8.0)); break;
        case TreeImage::MultiDevice:
            drawRecorderBox(p, QRectF(3.5, 1.5, 12.0, 7.0));
            drawRecorderBox(p, QRectF(0.5, 7.5, 12.0, 7.0));
            break;
    }
}

void drawPerson(QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(14.0, 10.0), 4.0, 4.0);
    QPainterPath shoulders;
    shoulders.moveTo(6.5, 22.0);
    shoulders.cubicTo(6.5, 15.0, 21.5, 15.0, 21.5, 22.0);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
}

void drawPadlock(QPainter& p) {
    p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath shackle;
    shackle.moveTo(10.0, 13.0);
    shackle.lineTo(10.0, 10.5);
    shackle.arcTo(QRectF(10.0, 6.5, 8.0, 8.0), 180.0, -180.0);
    shackle.lineTo(18.0, 13.0);
    p.drawPath(shackle);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(7.5, 13.0, 13.0, 9.0), 1.5, 1.5);
    p.setBrush(kRowBlue);
    p.drawEllipse(QPointF(14.0, 16.5), 1.4, 1.4);
    p.drawRect(QRectF(13.4, 16.5, 1.2, 3.0));
}

void drawWord(QPainter& p, const QString& word, int pixelSize) {
    QFont font;
    font.setPixelSize(pixelSize);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, 0, kEditorRowPictureSize, kEditorRowPictureSize), Qt::AlignCenter, word);
}

void drawEditorRow(QPainter& p, EditorRow row) {
    QRadialGradient disc(QPointF(10.0, 9.0), 18.0);
    disc.setColorAt(0.0, kRowBlue.lighter(140));
    disc.setColorAt(1.0, kRowBlue);
    p.setPen(QPen(kRowBlue.darker(150), 1));
    p.setBrush(disc);
    p.drawEllipse(QRectF(0.5, 0.5, kEditorRowPictureSize - 1.0, kEditorRowPictureSize - 1.0));
    switch (row) {
        case EditorRow::UserName: drawPerson(p); break;
        case EditorRow::Password: drawPadlock(p); break;
        case EditorRow::Address: drawWord(p, QStringLiteral("IP"), 13); break;
        case EditorRow::Port: drawWord(p, QStringLiteral("Port"), 9); break;
    }
}

// Drawn on a 64-unit grid and scaled to the icon size.
void drawProgramIcon(QPainter& p, int size) {
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient backing(0, 0, 0, 64);
    backing.setColorAt(0.0, QColor(40, 70, 120));
    backing.setColorAt(1.0, QColor(18, 32, 60));
    p.setPen(Qt::NoPen);
    p.setBrush(backing);
    p.drawRoundedRect(QRectF(1, 1, 62, 62), 10, 10);
    const QColor tiles[4] = {QColor(90, 170, 230), QColor(120, 200, 140), QColor(240, 190, 80),
                             QColor(230, 110, 100)};
    for (int i = 0; i < 4; ++i) {
        p.setBrush(tiles[i]);
        p.drawRoundedRect(QRectF(8 + (i % 2) * 25, 8 + (i / 2) * 25, 23, 23), 4, 4);
    }
    QRadialGradient lens(QPointF(29, 29), 14);
    lens.setColorAt(0.0, QColor(120, 150, 200));
    lens.setColorAt(0.6, QColor(20, 30, 50));
    lens.setColorAt(1.0, QColor(5, 8, 15));
    p.setPen(QPen(Qt::white, 3));
    p.setBrush(lens);
    p.drawEllipse(QPointF(32, 32), 13, 13);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(27.5, 27.5), 3.5, 3.5);
}

}  // namespace

QPixmap treeImage(TreeImage image, qreal devicePixelRatio) {
    QPixmap pixmap = blankPixmap(kTreeImageSize, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    drawTreeImage(painter, image);
    return pixmap;
}

QList<QPixmap> treeImages(qreal devicePixelRatio) {
    QList<QPixmap> images;
    for (int i = 0; i < kTreeImageCount; ++i) {
        images.append(treeImage(static_cast<TreeImage>(i), devicePixelRatio));
    }
    return images;
}

QIcon treeIcon(int image, int selectedImage, int scale) {
    const qreal screenRatio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QIcon icon;
    for (const auto& [mode, picture] :
         {std::pair{QIcon::Normal, image}, std::pair{QIcon::Selected, selectedImage}}) {
        QPixmap pixmap = treeImage(static_cast<TreeImage>(picture), scale * screenRatio);
        pixmap.setDevicePixelRatio(screenRatio);
        icon.addPixmap(pixmap, mode, QIcon::Off);
        icon.addPixmap(pixmap, mode, QIcon::On);
    }
    return icon;
}

QPixmap editorRowPicture(EditorRow row, qreal devicePixelRatio) {
    QPixmap pixmap = blankPixmap(kEditorRowPictureSize, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    drawEditorRow(painter, row);
    return pixmap;
}

QIcon programIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addPixmap(QPixmap::fromImage(programIconImage(size)));
    }
    return icon;
}

QImage programIconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    drawProgramIcon(painter, size);
    painter.end();
    return image;
}

}  // namespace tess::artwork
