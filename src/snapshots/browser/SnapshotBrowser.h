#pragma once

#include <string>
#include <vector>

#include <QDialog>
#include <QImage>

#include "geometry/LogicalGeometry.h"
#include "picture/PictureDecoder.h"
#include "snapshots/SnapshotBrowsing.h"

class QPushButton;

namespace tess {

// The modal window ("Dialog") in which saved snapshots are looked through one
// at a time: the picture across the window's width with its date above it and
// "position/count" below, and "First", "PREV", "NEXT" and "Last" along the
// bottom. Laid out in the logical 240-wide coordinates at the window scale.
//
// Every command lists the snapshot folder afresh (newest first) and reads and
// decodes the file it lands on once; painting draws what was decoded. A file
// that cannot be read or decoded shows no picture. Nothing here shows a
// message. GUI thread only.
class SnapshotBrowser final : public QDialog {
    Q_OBJECT

public:
    static constexpr int kWidth = 240;
    static constexpr int kClientHeight = 300;

    explicit SnapshotBrowser(QWidget* parent = nullptr);

    // Opens on the snapshot `currentName` of `folder` (ending with a
    // separator) and runs the window modally until it is closed.
    void browse(const std::string& folder, const std::string& currentName);
    // The opening alone, without the modal run.
    void openOn(const std::string& folder, const std::string& currentName);

    void showFirst();
    void showPrevious();
    void showNext();
    void showLast();

    const SnapshotCursor& cursor() const { return cursor_; }
    // The decoded picture of the current file; null when there is none.
    const QImage& picture() const { return picture_; }
    QString dateText() const;
    QPushButton& button(int index) { return *buttons_[index]; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    using Command = void (SnapshotCursor::*)(const std::vector<std::string>&);
    void run(Command command);
    void loadCurrent();

    LogicalGeometry geometry_;
    std::string folder_;
    SnapshotCursor cursor_;
    PictureDecoder decoder_;
    std::vector<uint8_t> fileBytes_;
    QImage picture_;
    std::vector<QPushButton*> buttons_;
};

}  // namespace tess
