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
    void workerWaitsForTheAnswer_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("expected");
        QTest::newRow("OK") << int(QMessageBox::Ok) << true;
        QTest::newRow("Cancel") << int(QMessageBox::Cancel) << false;
    }

    void workerWaitsForTheAnswer() {
        QFETCH(int, button);
        QFETCH(bool, expected);
        QtMessageSink sink;
        BoxAnswerer answerer(static_cast<QMessageBox::StandardButton>(button));
        std::atomic<bool> done{false};
        std::atomic<bool> answer{!expected};
        std::thread worker([&] {
            answer = sink.confirm("Are you sure to delete the item?");
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
        worker.join();
        QCOMPARE(answer.load(), expected);
        QCOMPARE(answerer.answered(), 1);
        QCOMPARE(answerer.seen().title, QStringLiteral("Tessarine"));
        QCOMPARE(answerer.seen().text, QStringLiteral("Are you sure to delete the item?"));
        QVERIFY(answerer.seen().onTop);
        QVERIFY(answerer.seen().hasCancel);
        QVERIFY(answerer.seen().onGuiThread);
    }

    // The GUI thread that ends the panes' threads at quitting shows no more
    // boxes: a worker waiting for one must be let go, and later ones get none.
    void closedSinkLetsWaitingWorkersGo() {
        QtMessageSink sink;
        std::atomic<bool> done{false};
        std::atomic<bool> answer{true};
        std::thread worker([&] {
            answer = sink.confirm("Are you sure to delete the item?");
            done = true;
        });
        // The box is posted; the GUI thread runs no events meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sink.close();
        worker.join();
        QVERIFY(done.load());
        QVERIFY(!answer.load());
        std::thread late([&] { sink.show("The network is failed !!"); });
        late.join();
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
