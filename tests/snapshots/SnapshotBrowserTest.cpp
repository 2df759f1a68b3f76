#include <QtTest>

#include <QPushButton>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <fstream>

#include "TestJpeg.h"
#include "snapshots/browser/SnapshotBrowser.h"

using namespace tess;

// The browser window on real files: pictures of three sizes, a garbage file
// among them, a pipe named like a snapshot, and an empty folder.
class SnapshotBrowserTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    std::string path_;

    void write(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::ofstream(path_ + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        path_ = folder_->path().toStdString() + "/";
    }

    void windowIsLaidOutInLogicalCoordinates() {
        SnapshotBrowser browser;
        QCOMPARE(browser.windowTitle(), QString("Dialog"));
        QStringList captions;
        for (int i = 0; i < 4; ++i) captions << browser.button(i).text();
        QCOMPARE(captions, QStringList({"First", "PREV", "NEXT", "Last"}));
    }

    void stepsThroughPicturesAndShowsNothingForAFileThatIsNoPicture() {
        write("20061005093007.jpg", test::makeJpeg(352, 240));
        write("20070201090503.jpg", std::vector<uint8_t>(500, 0x5a));  // not a picture
        write("20080101000000.jpg", test::makeJpeg(704, 480));
        SnapshotBrowser browser;
        browser.openOn(path_, "20080101000000.jpg");
        QCOMPARE(browser.cursor().counterText(), std::string("3/3"));
        QCOMPARE(browser.picture().size(), QSize(704, 480));
        QCOMPARE(browser.dateText(), QString("2008/01/01 00:00:00"));

        browser.button(1).click();  // PREV
        QCOMPARE(browser.dateText(), QString("2007/02/01 09:05:03"));
        QVERIFY(browser.picture().isNull());
        browser.showPrevious();
        QCOMPARE(browser.picture().size(), QSize(352, 240));
        QCOMPARE(browser.cursor().counterText(), std::string("1/3"));
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        browser.repaint();
    }

    void aPipeOrAnEmptyFolderHoldsNothingUp() {
        SnapshotBrowser browser;
        browser.openOn(path_, "20070201090503.jpg");
        for (int i = 0; i < 4; ++i) {
            browser.button(i).click();
            QCOMPARE(browser.cursor().counterText(), std::string("0/0"));
            QVERIFY(browser.picture().isNull());
        }
        QCOMPARE(::mkfifo((path_ + "20090101000000.jpg").c_str(), 0600), 0);
        QElapsedTimer timer;
        timer.start();
        browser.openOn(path_, "20090101000000.jpg");
        QVERIFY(browser.picture().isNull());
        QCOMPARE(browser.cursor().counterText(), std::string("1/1"));
        QVERIFY(timer.elapsed() < 1000);
    }
};

QTEST_MAIN(SnapshotBrowserTest)
#include "SnapshotBrowserTest.moc"
