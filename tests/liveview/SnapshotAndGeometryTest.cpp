#include <QtTest>

#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWidget>

#include <fstream>
#include <iterator>
#include <vector>

#include "geometry/LogicalGeometry.h"
#include "liveview/PaneWidget.h"
#include "liveview/SnapshotFile.h"

using namespace tess;

namespace {

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A JPEG-looking frame: start of image, some body bytes, end of image.
std::vector<uint8_t> fakeFrame(size_t bodyBytes) {
    std::vector<uint8_t> frame{0xFF, 0xD8};
    for (size_t i = 0; i < bodyBytes; ++i) {
        frame.push_back(static_cast<uint8_t>(i * 7 + 3));
    }
    frame.push_back(0xFF);
    frame.push_back(0xD9);
    return frame;
}

}  // namespace

class SnapshotAndGeometryTest : public QObject {
    Q_OBJECT

private slots:
    void snapshotNameAndDateUseTwoDigitFields() {
        SnapshotHeader header;
        QCOMPARE(header.dateText(), std::string_view("0000:00:00 00:00:00"));
        // An earlier date with two-digit values everywhere must leave no digit.
        header.setDate({2006, 12, 31, 23, 59, 58});
        const SnapshotTime time{2007, 2, 1, 9, 5, 3};
        header.setDate(time);
        QCOMPARE(snapshotName(time) + ".jpg", std::string("20070201090503.jpg"));
        QCOMPARE(header.dateText(), std::string_view("2007:02:01 09:05:03"));
        QCOMPARE(header.bytes()[SnapshotHeader::kDateAt + 19], uint8_t{0});
    }

    void snapshotFileIsHeaderThenFrameFromItsThirdByte() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const std::string path = folder.path().toStdString() + "/20070201090503.jpg";
        SnapshotHeader header;
        header.setDate({2007, 2, 1, 9, 5, 3});
        const std::vector<uint8_t> frame = fakeFrame(5000);

        SnapshotFile file(path, header);
        QVERIFY(file.write(frame));
        const std::vector<uint8_t> bytes = readFile(path);
        QCOMPARE(bytes.size(), frame.size() + 74);
        const std::vector<uint8_t> start{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x48, 'E', 'x', 'i', 'f'};
        QVERIFY(std::equal(start.begin(), start.end(), bytes.begin()));
        QVERIFY(std::equal(header.bytes().begin(), header.bytes().end(), bytes.begin()));
        QVERIFY(std::equal(frame.begin() + 2, frame.end(), bytes.begin() + 76));
        // The Exif entry points at the date where it really is.
        QCOMPARE(bytes[12 + 44], uint8_t{'2'});

        // A second snapshot of the same second replaces the first whole.
        const std::vector<uint8_t> shorter = fakeFrame(10);
        QVERIFY(file.write(shorter));
        QCOMPARE(readFile(path).size(), shorter.size() + 74);
        QVERIFY(QDir(folder.path()).entryList(QDir::Files) == QStringList{"20070201090503.jpg"});
    }

    void snapshotFailuresAreReportedAndLeaveNoFile() {
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const std::vector<uint8_t> frame = fakeFrame(100);

        SnapshotFile missingFolder(folder.path().toStdString() + "/absent/1.jpg", SnapshotHeader{});
        QVERIFY(!missingFolder.write(frame));
        QVERIFY(!missingFolder.error().empty());

        // A frame that is not a JPEG picture would make a broken file.
        const std::string path = folder.path().toStdString() + "/2.jpg";
        SnapshotFile notJpeg(path, SnapshotHeader{});
        QVERIFY(!notJpeg.write(std::vector<uint8_t>{0x00, 0x01, 0x02}));
        QVERIFY(!notJpeg.write(std::vector<uint8_t>{0xFF}));
        QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty());

        // A read-only folder (unless running as root, who may write anyway).
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        SnapshotFile readOnly(path, SnapshotHeader{});
        const bool written = readOnly.write(frame);
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner);
        if (geteuid() != 0) {
            QVERIFY(!written);
            QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty());
        }
    }

    void scaleFitsTheLogicalScreenInTheAvailableHeight() {
        QCOMPARE(LogicalGeometry::scaleForHeight(200), 1);   // too small: still 1
        QCOMPARE(LogicalGeometry::scaleForHeight(752), 1);   // 639 < 640
        QCOMPARE(LogicalGeometry::scaleForHeight(753), 2);   // 640.05
        QCOMPARE(LogicalGeometry::scaleForHeight(1080), 2);  // 918 / 320 = 2.87
        QCOMPARE(LogicalGeometry::scaleForHeight(2160), 5);
        QCOMPARE(LogicalGeometry::scaleForHeight(100000), LogicalGeometry::kMaxScale);

        qputenv("TESSARINE_SCALE", "3");
        QCOMPARE(LogicalGeometry::scaleForScreen(), 3);
        qputenv("TESSARINE_SCALE", "zero");  // not a scale: the screen decides
        const int fromScreen = LogicalGeometry::scaleForScreen();
        QVERIFY(fromScreen >= 1 && fromScreen <= LogicalGeometry::kMaxScale);
        qunsetenv("TESSARINE_SCALE");
    }

    void logicalRectanglesAndTouchesConvertExactly() {
        const LogicalGeometry geometry(3);
        QCOMPARE(geometry.toPixels(QRect(120, 82, 120, 82)), QRect(360, 246, 360, 246));
        // Every screen pixel of a logical pixel's square maps back to it.
        for (const QPoint logical : {QPoint(0, 0), QPoint(119, 81), QPoint(239, 164)}) {
            const QPoint corner = geometry.toPixels(logical);
            QCOMPARE(geometry.toLogical(corner), logical);
            QCOMPARE(geometry.toLogical(corner + QPoint(2, 2)), logical);
            QCOMPARE(geometry.toLogical(QPointF(corner) + QPointF(2.9, 0.5)), logical);
        }
        // Left of and above the origin, a drag keeps its direction.
        QCOMPARE(geometry.toLogical(QPoint(-1, -3)), QPoint(-1, -1));
        QCOMPARE(geometry.toLogical(QPoint(-4, 0)), QPoint(-2, 0));

        QWidget window;
        QWidget child(&window);
        geometry.place(child, 0, 166, 240, 100);
        QCOMPARE(child.geometry(), QRect(0, 498, 720, 300));
        geometry.fitWindow(window, QSize(240, 268));
        QCOMPARE(window.size(), QSize(720, 804));
    }

    // The render thread scales drag rectangles by the pane's logical size,
    // the coordinates the rectangle is in.
    void paneReportsItsLogicalClientSize() {
        const LogicalGeometry geometry(2);
        QWidget window;
        PaneWidget pane("View1", &window);
        PictureSlot slot;
        pane.attachSlot(slot);
        pane.setLogicalScale(geometry.scale());
        geometry.place(pane, 0, 0, 240, 165);
        window.show();
        QCOMPARE(pane.size(), QSize(480, 330));
        QCOMPARE(slot.clientSize(), QSize(240, 165));

        QPoint released;
        connect(&pane, &PaneWidget::released,
                [&](QPointF at) { released = geometry.toLogical(at); });
        QTest::mouseClick(&pane, Qt::LeftButton, {}, QPoint(241, 101));
        QCOMPARE(released, QPoint(120, 50));
        pane.detachSlot();
    }
};

QTEST_MAIN(SnapshotAndGeometryTest)
#include "SnapshotAndGeometryTest.moc"
