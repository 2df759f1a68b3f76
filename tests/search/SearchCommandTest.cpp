#include <QtTest>

#include <QLineEdit>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <memory>

#include "SearchTestSupport.h"
#include "directory/DeviceDirectory.h"
#include "directory/editors/DeviceEditor.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"
#include "search/SearchWindow.h"
#include "shell/MainWindow.h"

using namespace tess;
using namespace tess::testing;

namespace {

// Keeps what it was asked to show: whether the entry belonged to the
// directory, its fields, and how many messages had been shown by then.
class RecordingViewer : public EntryViewer {
public:
    explicit RecordingViewer(const RecordingMessageSink& sink) : sink_(sink) {}
    void view(DeviceEntry& entry, DeviceDirectory& directory) override {
        shown = &entry;
        inDirectory = directory.entryAt(entry.index()) == &entry && entry.index() != 0;
        label = QString::fromStdU16String(entry.label());
        address = QString::fromStdU16String(entry.address());
        port = entry.port();
        avFlags = entry.avFlags();
        messagesBefore = sink_.messages().size();
        ++views;
    }
    const RecordingMessageSink& sink_;
    DeviceEntry* shown = nullptr;
    bool inDirectory = false;
    QString label, address;
    uint16_t port = 0, avFlags = 0;
    size_t messagesBefore = 0;
    int views = 0;
};

}  // namespace

class SearchCommandTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir folder_;
    RecordingMessageSink sink_;
    std::unique_ptr<ScopedMessageSink> installed_;
    RecordingViewer* viewer_ = nullptr;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<LoopbackSearch> lan_;

    // Chooses the row of `address` once the search window's search ended.
    void chooseInSearchWindow(const QString& address) {
        onNextModal<SearchWindow>([address](SearchWindow& search) {
            QVERIFY(QTest::qWaitFor([&] { return !search.searching(); }, 5000));
            for (int row = 0; row < search.list()->topLevelItemCount(); ++row)
                if (search.list()->topLevelItem(row)->text(0) == address)
                    doubleClickRow(*search.list(), row);
        });
    }

private slots:
    void init() {
        QVERIFY(folder_.isValid());
        QFile::remove(folder_.filePath("device.inf"));
        sink_.clear();
        installed_ = std::make_unique<ScopedMessageSink>(sink_);
        window_ = std::make_unique<MainWindow>(
            folder_.path().toStdString() + "/", [this](QWidget*, const std::string&) {
                auto viewer = std::make_unique<RecordingViewer>(sink_);
                viewer_ = viewer.get();
                return viewer;
            });
        lan_ = std::make_unique<LoopbackSearch>();
        lan_->answer({192, 168, 0, 5}, 80, 50);
        lan_->answer({10, 0, 0, 7}, 8006, 100);
        window_->setSearchSettings(lan_->settings);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }
    void cleanup() {
        window_.reset();
        lan_.reset();
        installed_.reset();
    }

    void theMenuBarHasSearch() {
        QStringList titles;
        for (const QAction* action : window_->menuBar()->actions()) titles << action->text();
        QCOMPARE(titles, QStringList({"Device", "Search", "About"}));
    }

    // The chosen device goes through the editor, preset with its address as
    // label and address and its port, into the first top-level folder; the
    // session shows that very entry.
    void aChosenDeviceJoinsTheDirectoryAndIsOpened() {
        chooseInSearchWindow("192.168.0.5");
        onNextModal<DeviceEditor>([](DeviceEditor& editor) {
            QCOMPARE(editor.labelField()->text(), QStringLiteral("192.168.0.5"));
            QCOMPARE(editor.addressField()->text(), QStringLiteral("192.168.0.5"));
            QCOMPARE(editor.portField()->text(), QStringLiteral("80"));
            QCOMPARE(editor.userNameField()->text(), QStringLiteral("admin"));
            editor.accept();
        });
        window_->search();
        QCOMPARE(viewer_->views, 1);
        QVERIFY(viewer_->inDirectory);
        DeviceDirectory& directory = window_->directory();
        QCOMPARE(directory.parent(viewer_->shown), directory.entryAt(DeviceDirectory::kRootIndex));
        QCOMPARE(viewer_->label, QStringLiteral("192.168.0.5"));
        QCOMPARE(viewer_->address, QStringLiteral("192.168.0.5"));
        QCOMPARE(viewer_->port, uint16_t{80});
        QCOMPARE(viewer_->avFlags, uint16_t{1});
        QCOMPARE(window_->selectedEntry(), viewer_->shown);
        QVERIFY(sink_.messages().empty());
    }

    void closingTheSearchWindowAddsNothing() {
        onNextModal<SearchWindow>([](SearchWindow& search) {
            QVERIFY(QTest::qWaitFor([&] { return !search.searching(); }, 5000));
            QTest::keyClick(&search, Qt::Key_Escape);
        });
        const size_t before = window_->directory().entryCount();
        window_->search();
        QCOMPARE(viewer_->views, 0);
        QCOMPARE(window_->directory().entryCount(), before);
    }

    // A full directory: the session runs on an entry of its own, and the
    // limit message comes after it.
    void a32ndEntryThroughSearch() {
        DeviceDirectory& directory = window_->directory();
        while (directory.entryCount() < DeviceDirectory::kMaxEntries)
            QVERIFY(directory.createEntry(EntryKind::device, u"filler", nullptr));
        chooseInSearchWindow("10.0.0.7");
        onNextModal<DeviceEditor>([](DeviceEditor& editor) { editor.reject(); });
        window_->search();
        QCOMPARE(viewer_->views, 1);
        QVERIFY(!viewer_->inDirectory);
        QCOMPARE(viewer_->address, QStringLiteral("10.0.0.7"));
        QCOMPARE(viewer_->port, uint16_t{8006});
        QCOMPARE(viewer_->messagesBefore, size_t{0});
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::deviceLimit)});
        QCOMPARE(directory.entryCount(), size_t{DeviceDirectory::kMaxEntries});
    }
};

QTEST_MAIN(SearchCommandTest)
#include "SearchCommandTest.moc"
