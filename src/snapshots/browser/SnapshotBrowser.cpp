#include "snapshots/browser/SnapshotBrowser.h"

#include <algorithm>

#include <QPainter>
#include <QPushButton>

#include "snapshots/SnapshotFolder.h"

namespace tess {
namespace {

constexpr const char* kCaption = "Dialog";
// The date band at the top and the counter band; the picture's top edge is
// half the client height less 100.
constexpr QRect kDateBand{0, 0, SnapshotBrowser::kWidth, 50};
constexpr QRect kCounterBand{0, 230, SnapshotBrowser::kWidth, 30};
constexpr int kPictureTop = SnapshotBrowser::kClientHeight / 2 - 100;
constexpr int kButtonTop = 268;
constexpr int kButtonWidth = 56;
constexpr int kButtonHeight = 24;
constexpr int kButtonGap = 3;

}  // namespace

SnapshotBrowser::SnapshotBrowser(QWidget* parent)
    : QDialog(parent), geometry_(LogicalGeometry::forScreen(parent ? parent->screen() : nullptr)) {
    setWindowTitle(QString::fromUtf8(kCaption));
    geometry_.fitWindow(*this, QSize(kWidth, kClientHeight));
    const std::pair<const char*, Command> commands[] = {{"First", &SnapshotCursor::first},
                                                        {"PREV", &SnapshotCursor::previous},
                                                        {"NEXT", &SnapshotCursor::next},
                                                        {"Last", &SnapshotCursor::last}};
    int x = kButtonGap;
    for (const auto& [text, command] : commands) {
        auto* button = new QPushButton(QString::fromUtf8(text), this);
        button->setAutoDefault(false);
        geometry_.place(*button, x, kButtonTop, kButtonWidth, kButtonHeight);
        connect(button, &QPushButton::clicked, this, [this, command = command] { run(command); });
        buttons_.push_back(button);
        x += kButtonWidth + kButtonGap;
    }
}

void SnapshotBrowser::browse(const std::string& folder, const std::string& currentName) {
    openOn(folder, currentName);
    exec();
}

void SnapshotBrowser::openOn(const std::string& folder, const std::string& currentName) {
    folder_ = folder;
    cursor_.open(listSnapshots(folder_), currentName);
    loadCurrent();
}

void SnapshotBrowser::showFirst() {
    run(&SnapshotCursor::first);
}
void SnapshotBrowser::showPrevious() {
    run(&SnapshotCursor::previous);
}
void SnapshotBrowser::showNext() {
    run(&SnapshotCursor::next);
}
void SnapshotBrowser::showLast() {
    run(&SnapshotCursor::last);
}

void SnapshotBrowser::run(Command command) {
    (cursor_.*command)(listSnapshots(folder_));
    loadCurrent();
}

void SnapshotBrowser::loadCurrent() {
    // A file that is gone, unreadable or no picture leaves no picture, never
    // the one before under the new date.
    picture_ = QImage();
    if (cursor_.count() > 0 && readSnapshotFile(folder_ + cursor_.current(), fileBytes_) &&
        decoder_.decode(fileBytes_) && decoder_.pictureWidth() > 0) {
        picture_ = decoder_.picture().copy();
    }
    update();
}

QString SnapshotBrowser::dateText() const {
    return QString::fromStdString(snapshotDateText(cursor_.current()));
}

void SnapshotBrowser::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // Painted in logical coordinates; the window's font is sized for the screen.
    painter.scale(geometry_.scale(), geometry_.scale());
    QFont logicalFont = font();
    logicalFont.setPixelSize(std::max(1, font().pixelSize() / geometry_.scale()));
    painter.setFont(logicalFont);
    if (!picture_.isNull()) {
        const int height = kWidth * picture_.height() / picture_.width();
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(0, kPictureTop, kWidth, height), picture_);
    }
    painter.drawText(kDateBand, Qt::AlignHCenter | Qt::AlignTop, dateText());
    painter.drawText(kCounterBand, Qt::AlignHCenter | Qt::AlignTop,
                     QString::fromStdString(cursor_.counterText()));
}

}  // namespace tess
