#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "PaneTestSupport.h"
#include "TestJpeg.h"
#include "geometry/LogicalGeometry.h"
#include "liveview/PaneWidget.h"
#include "liveview/PictureSlot.h"
#include "liveview/RenderThread.h"

using namespace tess;

namespace {

QImage solidImage(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// Keeps a copy of what it is given.
class FakeSnapshotWriter : public SnapshotWriter {
public:
    void writeSnapshot(std::span<const uint8_t> frame) override {
        std::lock_guard lock(mutex_);
        ++calls_;
        written_.assign(frame.begin(), frame.end());
    }
    int calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<uint8_t> written() {
        std::lock_guard lock(mutex_);
        return written_;
    }

private:
    std::mutex mutex_;
    int calls_ = 0;
    std::vector<uint8_t> written_;
};

// One pane's render path, with the GUI side played by the test thread.
struct RenderRig {
    panetest::RecordingEvents events;
    panetest::InstantAudioOut audioOut;
    // Never started: only its frame queue and statistics are used.
    PaneRuntime runtime{0, audioOut, events};
    FrameQueue& queue = runtime.frames();
    std::atomic<uint32_t>& frameCount = runtime.connection().statistics.frameCount;
    PictureSlot slot;
    PaneRenderState pane;
    FakeSnapshotWriter writer;
    QObject receiver;
    QImage shown;
    uint64_t taken = 0;
    RenderThread thread{{runtime, slot, pane, writer}};

    RenderRig() {
        runtime.connection().videoWanted = true;
        slot.setReceiver(&receiver, [this] {
            if (slot.take(shown)) {
                ++taken;
            }
        });
        slot.setClientSize(QSize(240, 165));
    }
    ~RenderRig() { slot.setReceiver(nullptr, {}); }

    bool feed(const std::vector<uint8_t>& frame) {
        std::copy(frame.begin(), frame.end(), queue.writeSlot().begin());
        return queue.publish(static_cast<uint32_t>(frame.size()));
    }
};

}  // namespace

class RenderTest : public QObject {
    Q_OBJECT

private slots:
    void slotPostsOneWakeUpAtATime() {
        PictureSlot slot;
        QObject receiver;
        int wakes = 0;
        slot.setReceiver(&receiver, [&] { ++wakes; });

        QImage first = solidImage(8, 8, 0xffff0000);
        const uchar* firstBits = first.constBits();
        slot.publish(first);
        QVERIFY(first.isNull());  // nothing pending before: a null image back
        QImage second = solidImage(8, 8, 0xff00ff00);
        const uchar* secondBits = second.constBits();
        slot.publish(second);
        QCOMPARE(second.constBits(), firstBits);  // the skipped one comes back for reuse
        QImage third = solidImage(8, 8, 0xff0000ff);
        const uchar* thirdBits = third.constBits();
        slot.publish(third);
        QCOMPARE(third.constBits(), secondBits);
        QCOMPARE(slot.publishedCount(), 3u);
        QCOMPARE(slot.skippedCount(), 2u);
        QCOMPARE(slot.wakeCount(), 1u);

        QCoreApplication::processEvents();
        QCOMPARE(wakes, 1);
        QImage shown = solidImage(8, 8, 0xffffffff);
        const uchar* shownBits = shown.constBits();
        QVERIFY(slot.take(shown));
        QCOMPARE(shown.constBits(), thirdBits);  // the latest image itself, not a copy
        QCOMPARE(shown.pixel(0, 0), 0xff0000ffu);
        QVERIFY(!slot.take(shown));

        // Consumed: the next publish wakes again, and the image the GUI
        // gave up is what the render thread gets back.
        QImage fourth = solidImage(8, 8, 0xff000000);
        slot.publish(fourth);
        QCOMPARE(fourth.constBits(), shownBits);
        QCOMPARE(slot.wakeCount(), 2u);
        QCoreApplication::processEvents();
        QCOMPARE(wakes, 2);
        QCOMPARE(slot.skippedCount(), 2u);

        // Detached: pictures still land, nobody is woken.
        QVERIFY(slot.take(shown));
        slot.setReceiver(nullptr, {});
        slot.publish(fourth);
        QCOMPARE(slot.wakeCount(), 2u);
        QCOMPARE(slot.publishedCount(), 5u);
    }

    void paneShowsCaptionThenStretchedPicture() {
        PictureSlot slot;
        PaneWidget pane(QStringLiteral("View2"));
        pane.resize(240, 165);
        pane.attachSlot(slot);
        QCOMPARE(slot.clientSize(), QSize(240, 165));
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));

        QVERIFY(!pane.hasPicture());
        const QImage before = pane.grab().toImage();
        const QRgb background = before.pixel(2, 2);
        int captionPixels = 0;
        for (int y = 60; y < 105; ++y) {
            for (int x = 80; x < 160; ++x) {
                captionPixels += before.pixel(x, y) != background ? 1 : 0;
            }
        }
        QVERIFY(captionPixels > 20);
        QCOMPARE(before.pixel(237, 162), background);

        QImage picture = solidImage(352, 240, 0xff00c000);
        slot.publish(picture);
        QTRY_VERIFY(pane.hasPicture());
        QCOMPARE(pane.picture().size(), QSize(352, 240));
        const QImage after = pane.grab().toImage();
        QCOMPARE(after.pixel(0, 0), 0xff00c000u);
        QCOMPARE(after.pixel(120, 82), 0xff00c000u);
        QCOMPARE(after.pixel(239, 164), 0xff00c000u);

        pane.resize(120, 82);
        QCOMPARE(slot.clientSize(), QSize(120, 82));
        pane.clearPicture();
        QVERIFY(!pane.hasPicture());
    }

    void paneForwardsTheStylus() {
        PaneWidget pane(QStringLiteral("View1"));
        pane.resize(240, 165);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QSignalSpy pressed(&pane, &PaneWidget::pressed);
        QSignalSpy moved(&pane, &PaneWidget::moved);
        QSignalSpy released(&pane, &PaneWidget::released);
        QTest::mousePress(&pane, Qt::LeftButton, {}, QPoint(10, 20));
        QMouseEvent move(QEvent::MouseMove, QPointF(30, 40), QPointF(30, 40), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&pane, &move);
        QTest::mouseRelease(&pane, Qt::LeftButton, {}, QPoint(50, 60));
        QCOMPARE(pressed.size(), 1);
        QCOMPARE(pressed.at(0).at(0).toPoint(), QPoint(10, 20));
        QCOMPARE(moved.size(), 1);
        QCOMPARE(moved.at(0).at(0).toPoint(), QPoint(30, 40));
        QCOMPARE(released.size(), 1);
        QCOMPARE(released.at(0).at(0).toPoint(), QPoint(50, 60));
    }

    void renderThreadComposesEveryFrameInOrder() {
        RenderRig rig;
        const auto frame = test::makeJpeg(352, 240);
        std::vector<uint8_t> corrupt(3000, 0x5a);
        QVERIFY(rig.thread.start());
        QVERIFY(!rig.thread.start());

        QVERIFY(rig.feed(frame));
        QTRY_COMPARE(rig.slot.publishedCount(), 1u);
        QTRY_VERIFY(!rig.shown.isNull());
        QCOMPARE(rig.shown.size(), QSize(352, 240));
        QCOMPARE(rig.frameCount.load(), 1u);

        // Counted, not drawn, and its slot goes back to the receiver.
        QVERIFY(rig.feed(corrupt));
        QTRY_COMPARE(rig.thread.undecodableCount(), 1u);
        QCOMPARE(rig.frameCount.load(), 2u);
        QCOMPARE(rig.slot.publishedCount(), 1u);

        // Paused: the thread holds the next frame and composes nothing. Both
        // free slots must be back for the two publishes to get through.
        rig.thread.pause();
        QVERIFY(rig.feed(frame));
        QVERIFY(rig.feed(frame));
        QTest::qWait(200);
        QCOMPARE(rig.slot.publishedCount(), 1u);
        QCOMPARE(rig.frameCount.load(), 2u);
        rig.thread.resume();
        QTRY_COMPARE(rig.slot.publishedCount(), 3u);
        QCOMPARE(rig.frameCount.load(), 4u);
        QCOMPARE(rig.queue.droppedFrames(), 0u);

        // Stop while waiting on an empty queue: the stop's wake-up ends the wait.
        rig.thread.requestStop();
        QTRY_VERIFY(!rig.thread.running());
        rig.thread.join();
    }

    void renderThreadDrawsOverlaysAndServesSnapshots() {
        RenderRig rig;
        const auto frame = test::makeJpeg(352, 240, 0x404040, 0x404040);
        QVERIFY(rig.thread.start());
        uint64_t published = 0;
        auto renderOne = [&] {
            ++published;
            return rig.feed(frame) && QTest::qWaitFor([&] { return rig.taken == published; });
        };

        // The selection frame only in the quad, where the pane is framed.
        rig.pane.selected = true;
        QVERIFY(renderOne());
        QVERIFY(rig.shown.pixel(1, 100) != kOverlayRed);
        rig.pane.framed = true;
        QVERIFY(renderOne());
        QCOMPARE(rig.shown.pixel(1, 100), kOverlayRed);

        // The drag rectangle, in client coordinates of the slot's size.
        rig.pane.selected = false;
        rig.pane.framed = false;
        rig.pane.dragRectangle.set({100, 20, 30, 90});
        rig.pane.dragRectangle.shown = true;
        QVERIFY(renderOne());
        QCOMPARE(rig.shown.pixel(50, 31), kOverlayYellow);
        QVERIFY(rig.shown.pixel(1, 100) != kOverlayRed);
        rig.pane.dragRectangle.shown = false;

        // A request for a pane no longer selected is dropped unwritten.
        rig.pane.snapshotRequested = true;
        QVERIFY(renderOne());
        QVERIFY(!rig.pane.snapshotRequested);
        QCOMPARE(rig.writer.calls(), 0);

        // One request, one write of the next frame.
        rig.pane.selected = true;
        rig.pane.snapshotRequested = true;
        QVERIFY(renderOne());
        QCOMPARE(rig.writer.calls(), 1);
        QVERIFY(!rig.pane.snapshotRequested);
        QVERIFY(rig.writer.written() == frame);
        QVERIFY(renderOne());
        QCOMPARE(rig.writer.calls(), 1);
    }

    // A quad pane (120 x 82 logical pixels) at window scale 2 is 240 x 164
    // device pixels: a 704 x 480 picture is decoded at 1/2 and stretched over
    // the whole pane, its overlays measured on the received 704 x 480. The
    // same pane shown alone takes the next frame at full size.
    void quadPaneAtScaleTwoDecodesAtHalfAndStillFillsThePane() {
        RenderRig rig;
        PaneWidget widget(QStringLiteral("View1"));
        const LogicalGeometry geometry(2);
        geometry.place(widget, QRect(0, 0, 120, 82));
        widget.setLogicalScale(2);
        widget.attachSlot(rig.slot);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        QCOMPARE(rig.slot.displaySize(), QSize(240, 164));

        const auto frame = test::makeJpeg(704, 480, 0x2040c0, 0xc0c020);
        rig.pane.framed = true;
        rig.pane.selected = true;
        rig.pane.dragRectangle.set({10, 100, 20, 80});
        rig.pane.dragRectangle.shown = true;
        QVERIFY(rig.thread.start());
        QVERIFY(rig.feed(frame));
        QTRY_VERIFY(widget.hasPicture());
        const QImage& picture = widget.picture();
        QCOMPARE(picture.size(), QSize(352, 240));
        // The 4-pixel selection band is 2 pixels at 1/2.
        QCOMPARE(picture.pixel(1, 120), kOverlayRed);
        QVERIFY(picture.pixel(3, 120) != kOverlayRed);
        // 480 lines take the scaled drag rule: the top band lies at
        // y = 20 * 480 / 82 = 117 received, 58 decoded, not at 20 or 10.
        QCOMPARE(picture.pixel(150, 59), kOverlayRed);
        QVERIFY(picture.pixel(150, 11) != kOverlayRed);

        const QImage shown = widget.grab().toImage();
        QCOMPARE(shown.size(), QSize(240, 164));
        const auto near = [](QRgb a, QRgb b) {
            return std::abs(qRed(a) - qRed(b)) < 12 && std::abs(qGreen(a) - qGreen(b)) < 12 &&
                   std::abs(qBlue(a) - qBlue(b)) < 12;
        };
        QVERIFY(near(shown.pixel(60, 150), 0xff2040c0));
        QVERIFY(near(shown.pixel(236, 80), 0xffc0c020));

        geometry.place(widget, QRect(0, 0, 240, 165));
        QCOMPARE(rig.slot.displaySize(), QSize(480, 330));
        QVERIFY(rig.feed(frame));
        QTRY_COMPARE(widget.picture().size(), QSize(704, 480));
        widget.detachSlot();
    }

    void stopEndsAPausedThread() {
        RenderRig rig;
        QVERIFY(rig.thread.start());
        rig.thread.pause();
        QVERIFY(rig.feed(test::makeJpeg(64, 48)));
        QTest::qWait(50);
        rig.thread.requestStop();
        QTRY_VERIFY(!rig.thread.running());
        rig.thread.join();
        QCOMPARE(rig.slot.publishedCount(), 0u);
        QCOMPARE(rig.frameCount.load(), 0u);
    }
};

QTEST_MAIN(RenderTest)
#include "RenderTest.moc"
