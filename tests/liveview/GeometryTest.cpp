#include <QtTest>

#include <QMouseEvent>
#include <QWidget>

#include "geometry/LogicalGeometry.h"
#include "liveview/PaneWidget.h"

using namespace tess;

class GeometryTest : public QObject {
    Q_OBJECT

private slots:
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

QTEST_MAIN(GeometryTest)
#include "GeometryTest.moc"
