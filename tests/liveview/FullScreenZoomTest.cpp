#include <QtTest>

#include <QWheelEvent>

#include <fstream>
#include <iterator>

#include "LiveViewFixture.h"

using namespace tess;
using namespace tess::liveviewtest;

using panetest::countRequests;

namespace {

constexpr int kPictureWaitMs = 5000;

// Mouse-wheel notches (positive: towards the user's screen, zooming in) at
// `at` in `widget`'s coordinates.
void wheel(QWidget& widget, QPointF at, int notches) {
    QWheelEvent event(at, widget.mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&widget, &event);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The cell of an aim at a logical point: row y / 27, column x / 15.
int cellOf(int x, int y) {
    return (y / 27) << 4 | x / 15;
}

}  // namespace

// Full screen and the digital zoom, against a simulated PTZ camera.
class FullScreenZoomTest : public QObject, private LiveViewFixture {
    Q_OBJECT

private:
    std::unique_ptr<SimulatedDevice> device_;

    DeviceConfig cameraConfig(bool ptz) {
        DeviceConfig config;
        config.width = 704;
        config.height = 480;
        if (!ptz) {
            config.deviceClass = 3;
            return config;
        }
        // A recorder with a PTZ camera: an aim is one RS-485 record naming
        // the cell of the 15 x 27 grid that was tapped.
        config.deviceClass = 1;
        config.deviceType = 8;
        return config;
    }

private slots:
    void init() { QVERIFY(setUpView()); }
    void cleanup() {
        tearDownView();
        device_.reset();
    }

    // F11 shows the picture alone at full resolution on the whole screen,
    // taps map onto the logical picture, a snapshot of the zoomed picture is
    // the received JPEG, and Escape comes back to the window: the streams go
    // on all along, with no new login.
    void fullScreenInAndOutKeepsTheSession() {
        device_ = startDevice(cameraConfig(false));
        QVERIFY(device_);
        DeviceEntry entry = deviceEntry(*device_, kAvVideo | kAvAudio);
        PaneAccess pane = paneAt(0);
        const bool open = showWhile(entry, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(pane.widget().hasPicture(), kPictureWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(device_->state().activeAudioStreams == 1, kPictureWaitMs);
            const uint64_t framesBefore = pane.health().framesReceived;

            QTest::keyClick(liveView_.get(), Qt::Key_F11);
            QVERIFY(liveView_->fullScreen().active());
            PaneWidget& full = liveView_->fullScreen().widget();
            QVERIFY(full.isVisible());
            QVERIFY(full.isFullScreen());
            QTRY_COMPARE_WITH_TIMEOUT(full.picture().size(), QSize(704, 480), kPictureWaitMs);

            // The middle of the screen is the middle of the logical picture.
            const QPoint middle(full.width() / 2, full.height() / 2);
            QTest::mouseClick(&full, Qt::LeftButton, {}, middle);
            QCOMPARE(liveView_->stylus().touch().x, 120);
            QCOMPARE(liveView_->stylus().touch().y, 82);

            // Zoomed in full screen, a snapshot is still the received JPEG.
            wheel(full, QPointF(middle), 4);
            QCOMPARE(full.zoom().factor(), 4.0);
            QVERIFY(liveView_->takeSnapshot());
            QTRY_VERIFY_WITH_TIMEOUT(!liveView_->lastSnapshotName().empty(), 3000);
            const std::string file =
                readFile(liveView_->snapshotFolder() + liveView_->lastSnapshotName());
            QVERIFY(file.size() > SnapshotHeader::kSize);
            // The header stands in for the picture's start marker.
            const std::string body = file.substr(SnapshotHeader::kSize);
            const auto loop = device_->frameLoop();
            bool received = false;
            for (size_t i = 0; i < loop->size(); ++i)
                received |= loop->picture(i).substr(2) == body;
            QVERIFY2(received, "the snapshot is not one of the device's frames");

            // Escape goes back to the window, which stays open.
            QTest::keyClick(&full, Qt::Key_Escape);
            QVERIFY(!liveView_->fullScreen().active());
            QVERIFY(full.isHidden());
            QVERIFY(liveView_->isVisible());
            const uint64_t framesBack = pane.health().framesReceived;
            QTRY_VERIFY_WITH_TIMEOUT(pane.widget().hasPicture(), kPictureWaitMs);
            QTRY_VERIFY(pane.health().framesReceived > framesBack);
            QVERIFY(framesBack > framesBefore);

            // f goes there too, and F11 comes back.
            QTest::keyClick(liveView_.get(), Qt::Key_F);
            QVERIFY(liveView_->fullScreen().active());
            QTest::keyClick(&full, Qt::Key_F11);
            QVERIFY(!liveView_->fullScreen().active());
        });
        QVERIFY(open);
        QCOMPARE(countRequests(*device_, "/Login.cgi"), 1);
        QCOMPARE(pane.health().reconnects, uint64_t{0});
        QCOMPARE(device_->state().sessions, 1);
    }

    // Two notches at the middle of the right edge zoom 2x into the right
    // half: a tap at the pane's centre then aims at the picture's point
    // three quarters across.
    void zoomedTapAimsThroughTheZoom() {
        device_ = startDevice(cameraConfig(true));
        QVERIFY(device_);
        DeviceEntry entry = deviceEntry(*device_);
        PaneAccess pane = paneAt(0);
        showWhile(entry, [&] {
            PaneWidget& widget = pane.widget();
            QTRY_VERIFY_WITH_TIMEOUT(widget.hasPicture(), kPictureWaitMs);
            QVERIFY(widget.zoomable());
            wheel(widget, QPointF(widget.width(), widget.height() / 2.0), 2);
            QCOMPARE(widget.zoom().factor(), 2.0);
            QCOMPARE(widget.zoom().visible(), QRectF(0.5, 0.25, 0.5, 0.5));
            // Decoded whole, at full size, to be cropped.
            QTRY_COMPARE_WITH_TIMEOUT(widget.picture().size(), QSize(704, 480), kPictureWaitMs);

            QTest::mouseClick(&widget, Qt::LeftButton, {},
                              QPoint(widget.width() / 2, widget.height() / 2));
            QCOMPARE(liveView_->stylus().touch().x, 180);
            QCOMPARE(liveView_->stylus().touch().y, 82);
            QTRY_VERIFY_WITH_TIMEOUT(device_->state().lastRecord.has_value(), 3000);
            QCOMPARE(device_->state().lastRecord->cell, cellOf(180, 82));

            // 0 goes back to the whole picture, scaled to the pane again.
            QTest::keyClick(liveView_.get(), Qt::Key_0);
            QVERIFY(!widget.zoom().zoomed());
        });
    }
};

QTEST_MAIN(FullScreenZoomTest)
#include "FullScreenZoomTest.moc"
