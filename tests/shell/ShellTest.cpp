#include <QtTest>

#include <QAbstractButton>
#include <QMessageBox>
#include <QSet>
#include <QTimer>
#include <atomic>
#include <thread>

#include "resources/Artwork.h"
#include "shell/QtMessageSink.h"

using namespace tess;

namespace {

struct SeenBox {
    QString title;
    QString text;
    bool onTop = false;
    bool hasCancel = false;
    bool onGuiThread = false;
};

// Answers the next message box that opens, from the GUI thread's event
// loop, with `button`, and notes what the box looked like.
class BoxAnswerer : public QObject {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton button) : button_(button) {
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start(10);
    }
    int answered() const { return answered_; }
    const SeenBox& seen() const { return seen_; }

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible()) {
            return;
        }
        seen_ = {
            box->windowTitle(), box->text(), box->windowFlags().testFlag(Qt::WindowStaysOnTopHint),
            box->button(QMessageBox::Cancel) != nullptr, box->thread() == QThread::currentThread()};
        ++answered_;
        box->button(button_)->click();
    }

    QMessageBox::StandardButton button_;
    QTimer timer_;
    SeenBox seen_;
    int answered_ = 0;
};

bool hasOpaquePixel(const QPixmap& pixmap) {
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) == 255) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT

private slots:
    void questionOnTheGuiThreadIsAnswered_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("expected");
        QTest::newRow("OK") << int(QMessageBox::Ok) << true;
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false;
    }

    void questionOnTheGuiThreadIsAnswered() {
        QFETCH(int, button);
        QFETCH(bool, expected);
        QtMessageSink sink;
        BoxAnswerer answerer(static_cast<QMessageBox::StandardButton>(button));
        QCOMPARE(sink.confirm("Are you sure to delete the item?"), expected);
        QCOMPARE(answerer.answered(), 1);
        QCOMPARE(answerer.seen().title, QStringLiteral("Tessarine"));
        QCOMPARE(answerer.seen().text, QStringLiteral("Are you sure to delete the item?"));
        QVERIFY(answerer.seen().onTop);
        QVERIFY(answerer.seen().hasCancel);
        QVERIFY(answerer.seen().onGuiThread);
    }

    // A thread that is not the GUI thread never waits for a user: its message
    // is shown later by the GUI thread, its question gets Cancel at once.
    void otherThreadsNeverWait() {
        QtMessageSink sink;
        BoxAnswerer answerer(QMessageBox::Ok);
        bool answer = true;
        std::thread worker([&] {
            sink.show("The network is failed !!");
            answer = sink.confirm("Are you sure to delete the item?");
        });
        worker.join();
        QVERIFY(!answer);
        QCOMPARE(answerer.answered(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(answerer.answered(), 1, 5000);
        QCOMPARE(answerer.seen().text, QStringLiteral("The network is failed !!"));
        QVERIFY(answerer.seen().onGuiThread);
    }

    void messageFromGuiThreadHasOnlyOk() {
        QtMessageSink sink;
        BoxAnswerer answerer(QMessageBox::Ok);
        sink.show("Root folder can't be deleted!");
        QCOMPARE(answerer.answered(), 1);
        QCOMPARE(answerer.seen().text, QStringLiteral("Root folder can't be deleted!"));
        QVERIFY(!answerer.seen().hasCancel);
        QVERIFY(answerer.seen().onTop);
    }

    void artworkHasItsSizesAndDiffers() {
        const QList<QPixmap> tree = artwork::treeImages();
        QCOMPARE(tree.size(), artwork::kTreeImageCount);
        QSet<QByteArray> distinct;
        for (const QPixmap& image : tree) {
            QCOMPARE(image.size(), QSize(16, 16));
            QVERIFY(hasOpaquePixel(image));
            const QImage bits = image.toImage();
            distinct.insert(
                QByteArray(reinterpret_cast<const char*>(bits.constBits()), bits.sizeInBytes()));
        }
        for (const auto row : {artwork::EditorRow::UserName, artwork::EditorRow::Password,
                               artwork::EditorRow::Address, artwork::EditorRow::Port}) {
            const QPixmap picture = artwork::editorRowPicture(row);
            QCOMPARE(picture.size(), QSize(28, 28));
            QVERIFY(hasOpaquePixel(picture));
            const QImage bits = picture.toImage();
            distinct.insert(
                QByteArray(reinterpret_cast<const char*>(bits.constBits()), bits.sizeInBytes()));
        }
        QCOMPARE(distinct.size(), 8);
        const QPixmap sharp = artwork::treeImage(artwork::TreeImage::Device, 2.0);
        QCOMPARE(sharp.size(), QSize(32, 32));
        QCOMPARE(sharp.deviceIndependentSize(), QSizeF(16, 16));
        const QIcon icon = artwork::programIcon();
        QVERIFY(icon.availableSizes().contains(QSize(128, 128)));
        QVERIFY(hasOpaquePixel(icon.pixmap(32, 32)));
    }
};

QTEST_MAIN(ShellTest)
#include "ShellTest.moc"
