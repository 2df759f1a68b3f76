#include <QtTest>

#include "TestJpeg.h"
#include "liveview/Overlays.h"
#include "picture/PictureDecoder.h"

using namespace tess;

namespace {

constexpr QRgb kGrey = 0xff202020;

QImage greyPicture(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kGrey);
    return image;
}

bool near(QRgb actual, QRgb expected) {
    return std::abs(qRed(actual) - qRed(expected)) <= 8 &&
           std::abs(qGreen(actual) - qGreen(expected)) <= 8 &&
           std::abs(qBlue(actual) - qBlue(expected)) <= 8;
}

int countColour(const QImage& image, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += image.pixel(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

}  // namespace

class PictureTest : public QObject {
    Q_OBJECT

private slots:
    void decodesInDisplayFormat_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("outWidth");
        QTest::addColumn<int>("outHeight");
        QTest::newRow("CIF") << 352 << 240 << 352 << 240;
        QTest::newRow("D1") << 704 << 480 << 704 << 480;
        QTest::newRow("exactly the maximum") << 1000 << 1000 << 1000 << 1000;
        QTest::newRow("halved") << 2000 << 1200 << 1000 << 600;
        QTest::newRow("mildest reduction, 7/8") << 1100 << 800 << 963 << 700;
        QTest::newRow("tall, 1/2") << 600 << 1900 << 300 << 950;
    }

    void decodesInDisplayFormat() {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, outWidth);
        QFETCH(int, outHeight);
        const auto jpeg = test::makeJpeg(width, height, 0xff0000, 0x0000ff);
        PictureDecoder decoder;
        QVERIFY(decoder.decode(jpeg));
        const QImage& picture = decoder.picture();
        QCOMPARE(picture.format(), QImage::Format_RGB32);
        QCOMPARE(picture.size(), QSize(outWidth, outHeight));
        QCOMPARE(decoder.pictureWidth(), outWidth);
        QCOMPARE(decoder.pictureHeight(), outHeight);
        // Channel order and the filled X byte: red left, blue right, opaque.
        const QRgb left = picture.pixel(outWidth / 4, outHeight / 2);
        const QRgb right = picture.pixel(outWidth * 3 / 4, outHeight / 2);
        QVERIFY2(near(left, 0xffff0000), qPrintable(QString::number(left, 16)));
        QVERIFY2(near(right, 0xff0000ff), qPrintable(QString::number(right, 16)));
        QCOMPARE(qAlpha(left), 255);
    }

    void refusesWhatIsNotAPicture() {
        const auto good = test::makeJpeg(352, 240);
        std::vector<uint8_t> garbage(5000);
        for (size_t i = 0; i < garbage.size(); ++i) {
            garbage[i] = static_cast<uint8_t>(i * 131 + 7);
        }
        const std::vector<uint8_t> headOnly(good.begin(), good.begin() + 20);
        // A valid header announcing 20000 x 20000: no scaling brings it to
        // 1000 x 1000, so it must be refused before any buffer is made.
        const auto huge = test::makeJpeg(16, 16);
        std::vector<uint8_t> oversized(huge);
        for (size_t i = 0; i + 8 < oversized.size(); ++i) {
            if (oversized[i] == 0xff && oversized[i + 1] == 0xc0) {  // start of frame
                oversized[i + 5] = 0x4e;
                oversized[i + 6] = 0x20;
                oversized[i + 7] = 0x4e;
                oversized[i + 8] = 0x20;
                break;
            }
        }

        PictureDecoder decoder;
        QVERIFY(!decoder.decode(std::span<const uint8_t>()));
        QVERIFY(!decoder.decode(garbage));
        QVERIFY(!decoder.decode(headOnly));
        QVERIFY(!decoder.decode(oversized));
        QCOMPARE(decoder.pictureWidth(), 0);
        // The decoder is still fine for the next good frame.
        QVERIFY(decoder.decode(good));
        QCOMPARE(decoder.picture().size(), QSize(352, 240));
    }

    void showsTruncatedFrameAsFarAsItGoes() {
        const auto jpeg = test::makeJpeg(352, 240, 0xff0000, 0xff0000);
        const std::vector<uint8_t> half(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
        PictureDecoder decoder;
        QVERIFY(decoder.decode(half));
        QCOMPARE(decoder.picture().size(), QSize(352, 240));
        QVERIFY(near(decoder.picture().pixel(10, 2), 0xffff0000));
    }

    void reusesItsBufferWhileTheSizeStays() {
        const auto small = test::makeJpeg(352, 240, 0x00ff00, 0x00ff00);
        const auto other = test::makeJpeg(352, 240, 0xff0000, 0xff0000);
        const auto large = test::makeJpeg(704, 480);
        PictureDecoder decoder;
        QVERIFY(decoder.decode(small));
        const uchar* bits = decoder.picture().constBits();
        QVERIFY(decoder.decode(other));
        QCOMPARE(decoder.picture().constBits(), bits);
        QVERIFY(near(decoder.picture().pixel(5, 5), 0xffff0000));
        QVERIFY(decoder.decode(large));
        QCOMPARE(decoder.picture().size(), QSize(704, 480));

        // Into a caller's image: reused when it fits and is not shared.
        QImage target(352, 240, QImage::Format_RGB32);
        const uchar* targetBits = target.constBits();
        QVERIFY(decoder.decode(small, target));
        QCOMPARE(target.constBits(), targetBits);
        const QImage sharedCopy = target;
        QVERIFY(decoder.decode(other, target));
        QVERIFY(target.constBits() != sharedCopy.constBits());
        QVERIFY(near(sharedCopy.pixel(5, 5), 0xff00ff00));
    }

    void selectionFrameIsFourPicturePixels() {
        QImage picture = greyPicture(352, 240);
        drawSelectionFrame(picture);
        QCOMPARE(picture.pixel(3, 120), kOverlayRed);
        QCOMPARE(picture.pixel(4, 120), kGrey);
        QCOMPARE(picture.pixel(348, 120), kOverlayRed);
        QCOMPARE(picture.pixel(347, 120), kGrey);
        QCOMPARE(picture.pixel(176, 3), kOverlayRed);
        QCOMPARE(picture.pixel(176, 4), kGrey);
        QCOMPARE(picture.pixel(176, 236), kOverlayRed);
        QCOMPARE(picture.pixel(176, 235), kGrey);
        QCOMPARE(countColour(picture, kOverlayRed), 352 * 240 - 344 * 232);
    }

    void dragColourFollowsDirection() {
        const QSize client(240, 165);
        QImage leftToRight = greyPicture(352, 240);
        drawDragRectangle(leftToRight, {10, 100, 20, 80}, client);
        QCOMPARE(leftToRight.pixel(50, 21), kOverlayRed);

        QImage rightToLeft = greyPicture(352, 240);
        drawDragRectangle(rightToLeft, {100, 10, 20, 80}, client);
        QCOMPARE(rightToLeft.pixel(50, 21), kOverlayYellow);
        QCOMPARE(countColour(rightToLeft, kOverlayRed), 0);

        QImage vertical = greyPicture(352, 240);
        drawDragRectangle(vertical, {50, 50, 20, 80}, client);
        QCOMPARE(countColour(vertical, kOverlayRed), 0);
        QVERIFY(countColour(vertical, kOverlayYellow) > 0);
    }

    void dragCornersAreUnscaledBelow241Lines() {
        // 352 x 240 in a 240 x 165 pane: coordinates taken as picture pixels.
        QImage picture = greyPicture(352, 240);
        drawDragRectangle(picture, {10, 100, 20, 80}, QSize(240, 165));
        QCOMPARE(picture.pixel(10, 20), kOverlayRed);  // top-left corner
        QCOMPARE(picture.pixel(99, 23), kOverlayRed);
        QCOMPARE(picture.pixel(100, 23), kGrey);
        QCOMPARE(picture.pixel(50, 24), kGrey);
        QCOMPARE(picture.pixel(13, 50), kOverlayRed);  // left band
        QCOMPARE(picture.pixel(14, 50), kGrey);
        QCOMPARE(picture.pixel(96, 50), kOverlayRed);  // right band
        QCOMPARE(picture.pixel(50, 76), kOverlayRed);  // bottom band
        QCOMPARE(picture.pixel(50, 80), kGrey);
        QCOMPARE(picture.pixel(50, 50), kGrey);
    }

    void dragCornersAreScaledFrom241Lines() {
        // 704 x 480 in 240 x 165: x' = x * 704 / 240, y' = y * 480 / 165, and
        // the 4-pixel offsets after scaling.
        QImage picture = greyPicture(704, 480);
        drawDragRectangle(picture, {25, 120, 34, 66}, QSize(240, 165));
        const int x0 = 25 * 704 / 240;   // 73
        const int x1 = 120 * 704 / 240;  // 352
        const int y0 = 34 * 480 / 165;   // 98
        const int y1 = 66 * 480 / 165;   // 192
        QCOMPARE(picture.pixel(x0, y0), kOverlayRed);
        QCOMPARE(picture.pixel(x0 - 1, y0), kGrey);
        QCOMPARE(picture.pixel(200, y0 + 3), kOverlayRed);
        QCOMPARE(picture.pixel(200, y0 + 4), kGrey);
        QCOMPARE(picture.pixel(200, y0 - 1), kGrey);
        QCOMPARE(picture.pixel(x1 - 1, 150), kOverlayRed);
        QCOMPARE(picture.pixel(x1 - 5, 150), kGrey);
        QCOMPARE(picture.pixel(x1, 150), kGrey);
        QCOMPARE(picture.pixel(200, y1 - 4), kOverlayRed);
        QCOMPARE(picture.pixel(200, y1), kGrey);
        // 241 lines is the first height that scales.
        QImage at241 = greyPicture(352, 241);
        drawDragRectangle(at241, {0, 120, 0, 82}, QSize(176, 120));
        QCOMPARE(at241.pixel(239, 150), kOverlayRed);  // right band at 240 - 4 .. 240
        QCOMPARE(at241.pixel(235, 150), kGrey);
    }

    void bandsAreClippedToThePicture() {
        QImage picture = greyPicture(352, 240);
        // Far outside on every side: the bands lie beyond the picture.
        drawDragRectangle(picture, {-500, 9000, -500, 9000}, QSize(240, 165));
        QCOMPARE(countColour(picture, kOverlayRed), 0);
        // Partly outside: only the visible parts are drawn.
        drawDragRectangle(picture, {-10, 100, 10, 5000}, QSize(240, 165));
        QCOMPARE(picture.pixel(0, 11), kOverlayRed);
        QCOMPARE(picture.pixel(0, 100), kGrey);  // left band is off the picture
        QCOMPARE(countColour(picture, kOverlayRed), 100 * 4 + 4 * 230 - 4 * 4);  // corner once

        // A stylus left of a scaled pane stays left of the picture.
        QImage tall = greyPicture(704, 480);
        drawDragRectangle(tall, {-30, 60, 30, 60}, QSize(240, 165));
        QCOMPARE(tall.pixel(0, 90), kOverlayRed);
        QCOMPARE(tall.pixel(700, 90), kGrey);
        // An empty pane cannot scale anything: nothing is drawn.
        QImage unscalable = greyPicture(704, 480);
        drawDragRectangle(unscalable, {10, 60, 10, 60}, QSize(0, 0));
        QCOMPARE(countColour(unscalable, kOverlayRed), 0);
    }
};

QTEST_GUILESS_MAIN(PictureTest)
#include "PictureTest.moc"
