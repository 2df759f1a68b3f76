#include <QtTest>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "NextModal.h"
#include "RecordBytes.h"
#include "directory/DeviceDirectory.h"
#include "directory/editors/DeviceEditor.h"
#include "directory/editors/MultiDeviceEditor.h"
#include "platform/MessageSink.h"
#include "resources/Artwork.h"
#include "resources/StringTable.h"
#include "shell/AboutBox.h"
#include "shell/DirectoryModel.h"
#include "shell/MainWindow.h"
#include "shell/TerminationSignals.h"

using namespace tess;
using tess::test::onNextModal;
namespace fs = std::filesystem;

namespace {

// Records every entry it is asked to show, with its label at that moment.
class FakeViewer : public EntryViewer {
public:
    void view(DeviceEntry& entry, DeviceDirectory&) override {
        shown.push_back(&entry);
        labels.push_back(QString::fromStdU16String(entry.label()));
    }
    std::vector<DeviceEntry*> shown;
    QStringList labels;
};

QString labelOf(const DeviceEntry* entry) {
    return entry ? QString::fromStdU16String(entry->label()) : QString();
}

// "label(index)" of every entry in pre-order, with children in brackets.
QString treeText(const DeviceDirectory& directory, const DeviceEntry* parent = nullptr) {
    QStringList parts;
    for (const DeviceEntry* child : directory.children(parent)) {
        QString part = labelOf(child) + "(" + QString::number(child->index()) + ")";
        if (directory.childCount(child) > 0) {
            part += "[" + treeText(directory, child) + "]";
        }
        parts << part;
    }
    return parts.join(' ');
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> folder_;
    RecordingMessageSink sink_;
    std::unique_ptr<ScopedMessageSink> installed_;
    FakeViewer* viewer_ = nullptr;
    int viewersMade_ = 0;

    std::string programFolder() const { return folder_->path().toStdString() + "/"; }

    std::unique_ptr<MainWindow> makeWindow() {
        auto window =
            std::make_unique<MainWindow>(programFolder(), [this](QWidget*, const std::string&) {
                auto viewer = std::make_unique<FakeViewer>();
                viewer_ = viewer.get();
                ++viewersMade_;
                return viewer;
            });
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get())) {
            qWarning("main window not exposed");
        }
        return window;
    }

    // Runs `command` with the device editor closed at once, unconfirmed.
    static void withEditorCancelled(const std::function<void()>& command) {
        onNextModal<DeviceEditor>([](DeviceEditor& editor) { editor.reject(); });
        command();
    }

private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        QVERIFY(folder_->isValid());
        sink_.clear();
        sink_.setConfirmAnswer(true);
        installed_ = std::make_unique<ScopedMessageSink>(sink_);
    }
    void cleanup() { installed_.reset(); }

    void modelStaysConsistentThroughEveryChange() {
        DeviceDirectory directory;
        DirectoryModel model(directory);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        directory.loadFromBytes({});
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* a = directory.createEntry(EntryKind::folder, u"A", root);
        DeviceEntry* d1 = directory.createEntry(EntryKind::device, u"D1", a);
        DeviceEntry* d2 = directory.createEntry(EntryKind::device, u"D2", root);
        DeviceEntry* multi = directory.createEntry(EntryKind::multiDevice, u"M", nullptr);
        const uint16_t members[] = {d1->index(), d2->index()};
        multi->setMembers(members);
        directory.notifyChanged(multi);
        QVERIFY(model.setData(model.indexOf(d2), QStringLiteral("Renamed")));
        QCOMPARE(labelOf(d2), QStringLiteral("Renamed"));
        QVERIFY(model.moveOnto(d2, d1));               // after D1 inside A
        QVERIFY(model.moveOnto(root, multi) == true);  // top level, after M
        QVERIFY(model.moveOnto(d1, a));                // onto its own folder: last there
        QVERIFY(directory.deleteEntry(d1));            // renumbers the rest
        QCOMPARE(treeText(directory), QStringLiteral("M(4) Device(1)[A(2)[Renamed(3)]]"));
        QCOMPARE(multi->members(), std::vector<uint16_t>{3});
        const std::vector<uint8_t> bytes = directory.fileBytes();
        directory.loadFromBytes(bytes);
        QCOMPARE(treeText(directory), QStringLiteral("M(4) Device(1)[A(2)[Renamed(3)]]"));
        directory.freeAll();
        QCOMPARE(model.rowCount(), 0);
    }

    void dropRulesRefuseSelfAndSubtree() {
        DeviceDirectory directory;
        DirectoryModel model(directory);
        directory.loadFromBytes({});
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* a = directory.createEntry(EntryKind::folder, u"A", root);
        DeviceEntry* b = directory.createEntry(EntryKind::folder, u"B", a);
        DeviceEntry* d = directory.createEntry(EntryKind::device, u"D", b);
        const QString before = treeText(directory);
        QVERIFY(!model.moveOnto(a, a));
        QVERIFY(!model.moveOnto(a, b));  // a folder onto its own child
        QVERIFY(!model.moveOnto(a, d));  // onto a device deep in its subtree
        QVERIFY(!model.moveOnto(a, nullptr));
        QCOMPARE(treeText(directory), before);
        std::unique_ptr<QMimeData> data(model.mimeData({model.indexOf(d)}));
        QCOMPARE(model.draggedEntry(data.get()), d);
    }

    void firstStartShowsRootAndNewDeviceOpensAtOnce() {
        auto window = makeWindow();
        QCOMPARE(treeText(window->directory()), QStringLiteral("Device(1)"));
        QCOMPARE(window->windowTitle(), QStringLiteral("Tessarine"));
        QCOMPARE(labelOf(window->selectedEntry()), QStringLiteral("Device"));
        QVERIFY(fs::is_directory(programFolder() + "Temp"));

        withEditorCancelled([&] { window->newAction()->trigger(); });
        QCOMPARE(treeText(window->directory()), QStringLiteral("Device(1)[New Device(2)]"));
        DeviceEntry* device = window->directory().entryAt(2);
        QCOMPARE(device->avFlags(), kAvVideo);
        QCOMPARE(device->userName(), u"admin");
        QCOMPARE(device->port(), 80);
        QCOMPARE(window->selectedEntry(), device);
        QCOMPARE(viewer_->shown, std::vector<DeviceEntry*>{device});
        QVERIFY(sink_.messages().empty());

        QTest::keyClick(window.get(), Qt::Key_Escape);
        QVERIFY(window->isVisible());
        QCOMPARE(window->directory().entryCount(), size_t{2});
    }

    void editDeviceWritesBackAndKeepsAvFlags() {
        auto window = makeWindow();
        withEditorCancelled([&] { window->newDevice(); });
        DeviceEntry* device = window->directory().entryAt(2);
        device->setAvFlags(kAvVideo | kAvAudio);
        onNextModal<DeviceEditor>([](DeviceEditor& editor) {
            QCOMPARE(editor.labelField()->text(), QStringLiteral("New Device"));
            editor.labelField()->setText(QStringLiteral("Gate"));
            editor.addressField()->setText(QStringLiteral("127.0.0.1"));
            editor.portField()->setText(QStringLiteral("8080"));
            editor.accept();
        });
        window->editSelected();
        QCOMPARE(labelOf(device), QStringLiteral("Gate"));
        QCOMPARE(device->address(), u"127.0.0.1");
        QCOMPARE(device->port(), 8080);
        QCOMPARE(device->avFlags(), kAvVideo | kAvAudio);
        QCOMPARE(window->model().data(window->model().indexOf(device)).toString(),
                 QStringLiteral("Gate"));

        // Double-click and Return hand a device to the viewer; a folder not.
        QTreeView& tree = window->tree();
        // The tree's double-click signal (the synthetic offscreen double-click
        // sequence does not reach it reliably).
        emit tree.doubleClicked(window->model().indexOf(device));
        QCOMPARE(viewer_->labels.size(), 2);
        window->select(window->directory().entryAt(1));
        QTest::keyClick(&tree, Qt::Key_Return);
        window->select(device);
        QTest::keyClick(&tree, Qt::Key_Return);
        QCOMPARE(viewer_->labels, QStringList({"New Device", "Gate", "Gate"}));
    }

    void menuOrderAndFolderImages() {
        auto window = makeWindow();
        QStringList bar;
        for (const QAction* action : window->menuBar()->actions()) {
            bar << action->text();
        }
        QCOMPARE(bar, QStringList({"Device", "Search", "About"}));
        QStringList device;
        for (const QAction* action : window->menuBar()->actions().first()->menu()->actions()) {
            device << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QCOMPARE(device, QStringList({"New", "Multiple", "Folder", "-", "Edit", "Delete"}));

        // A folder is open only while selected, expanded or not.
        const int scale = window->geometry().scale();
        const auto image = [scale](const QIcon& icon, QIcon::Mode mode, QIcon::State state) {
            const int side = artwork::kTreeImageSize * scale;
            return icon.pixmap(QSize(side, side), mode, state)
                .toImage()
                .convertToFormat(QImage::Format_ARGB32);
        };
        const auto drawn = [scale](artwork::TreeImage picture) {
            QImage bits =
                artwork::treeImage(picture, scale).toImage().convertToFormat(QImage::Format_ARGB32);
            bits.setDevicePixelRatio(1);
            return bits;
        };
        const QImage closed = drawn(artwork::TreeImage::ClosedFolder);
        const QImage open = drawn(artwork::TreeImage::OpenFolder);
        const QIcon folder = qvariant_cast<QIcon>(window->model().data(
            window->model().indexOf(window->directory().entryAt(1)), Qt::DecorationRole));
        QCOMPARE(image(folder, QIcon::Normal, QIcon::Off), closed);
        QCOMPARE(image(folder, QIcon::Normal, QIcon::On), closed);
        QCOMPARE(image(folder, QIcon::Selected, QIcon::Off), open);
        QCOMPARE(image(folder, QIcon::Selected, QIcon::On), open);
    }

    // Multiple, driven as a user would: four devices ticked by keyboard, Quad
    // chosen, OK pressed. The saved file ends with the new record.
    void multipleSavesTheRecordByteForByte() {
        {
            auto window = makeWindow();
            DeviceDirectory& directory = window->directory();
            for (const char16_t* label : {u"Cam1", u"Cam2", u"Cam3", u"Cam4", u"Cam5"}) {
                directory.createEntry(EntryKind::device, label, directory.entryAt(1));
            }
            window->select(directory.entryAt(3));
            onNextModal<MultiDeviceEditor>([](MultiDeviceEditor& editor) {
                QTreeView* picker = editor.picker();
                picker->setFocus();
                QCOMPARE(picker->currentIndex(), editor.pickerIndexOf(1));
                for (int device = 0; device < 4; ++device) {
                    QTest::keyClick(picker, Qt::Key_Down);
                    QTest::keyClick(picker, Qt::Key_Space);
                }
                editor.typeList()->setFocus();
                QTest::keyClick(editor.typeList(), Qt::Key_Down);
                editor.labelField()->selectAll();
                QTest::keyClicks(editor.labelField(), QStringLiteral("Lobby"));
                QTest::mouseClick(
                    editor.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                    Qt::LeftButton);
            });
            window->multipleAction()->trigger();
            QCOMPARE(treeText(directory),
                     QStringLiteral("Device(1)[Cam1(2) Cam2(3) Cam3(4) Cam4(5) Cam5(6) Lobby(7)]"));
            QCOMPARE(window->selectedEntry(), directory.entryAt(7));
            QVERIFY(viewer_->shown.empty());
            QVERIFY(sink_.messages().empty());
        }
        std::vector<uint8_t> expected = testing::multiDevice(7, 1, u"Lobby", {1, 2, 3, 4, 5});
        expected[77] = 0;  // 5 s, the time list untouched
        std::ifstream file(programFolder() + "device.inf", std::ios::binary);
        const std::vector<uint8_t> saved{std::istreambuf_iterator<char>(file), {}};
        QCOMPARE(saved.size(), size_t{76 + 5 * 208 + 144});
        QVERIFY(std::equal(expected.begin(), expected.end(), saved.end() - 144));
    }

    void editMultiDevicePresetsAllAndWritesAllBack() {
        auto window = makeWindow();
        DeviceDirectory& directory = window->directory();
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* folder = directory.createEntry(EntryKind::folder, u"F", root);
        DeviceEntry* first = directory.createEntry(EntryKind::device, u"D1", folder);
        DeviceEntry* second = directory.createEntry(EntryKind::device, u"D2", root);
        DeviceEntry* multi = directory.createEntry(EntryKind::multiDevice, u"M", root);
        multi->setMultiType(kMultiTypeSwitch);
        multi->setDisplayTimeIndex(4);
        const uint16_t members[] = {1, 2, 3, 4};
        multi->setMembers(members);
        window->select(multi);

        onNextModal<MultiDeviceEditor>([](MultiDeviceEditor& editor) {
            QCOMPARE(editor.labelField()->text(), QStringLiteral("M"));
            QCOMPARE(editor.typeList()->currentIndex(), 0);
            QCOMPARE(editor.timeList()->currentText(), QStringLiteral("25   sec"));
            QVERIFY(!editor.pickerIndexOf(5).isValid());  // itself
            const QModelIndex d2 = editor.pickerIndexOf(4);
            QCOMPARE(d2.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
            editor.picker()->model()->setData(d2, Qt::Unchecked, Qt::CheckStateRole);
            editor.labelField()->setText(QStringLiteral("Pair"));
            editor.typeList()->setCurrentIndex(1);
            editor.accept();
        });
        window->editAction()->trigger();
        QCOMPARE(labelOf(multi), QStringLiteral("Pair"));
        QCOMPARE(window->model().data(window->model().indexOf(multi)).toString(),
                 QStringLiteral("Pair"));
        QCOMPARE(multi->multiType(), kMultiTypeQuad);
        QCOMPARE(multi->displayTimeIndex(), uint8_t{4});
        QCOMPARE(multi->members(), std::vector<uint16_t>({1, 2, 3}));

        // Its devices deleted, the multi-device keeps only folders, which the
        // editor does not tick: it opens with nothing ticked and closes with
        // no members.
        window->select(second);
        window->deleteSelected();
        window->select(first);
        window->deleteSelected();
        QCOMPARE(multi->members(), std::vector<uint16_t>({1, 2}));
        window->select(multi);
        onNextModal<MultiDeviceEditor>([](MultiDeviceEditor& editor) { editor.reject(); });
        window->editSelected();
        QCOMPARE(labelOf(multi), QStringLiteral("Pair"));
        QVERIFY(multi->members().empty());
        QVERIFY(viewer_->shown.empty());
    }

    void newFolderBesideTopLevelOrInsideDeviceFolder() {
        auto window = makeWindow();
        window->folderAction()->trigger();
        QCOMPARE(treeText(window->directory()), QStringLiteral("Device(1) New Folder(2)"));
        QCOMPARE(labelOf(window->selectedEntry()), QStringLiteral("New Folder"));
        auto* editor = window->tree().viewport()->findChild<QLineEdit*>();
        QVERIFY(editor && editor->isVisible());
        QCOMPARE(editor->text(), QStringLiteral("New Folder"));
        // A label longer than 31 characters is cut when the edit ends.
        editor->setText(QString(40, QChar('x')));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(labelOf(window->directory().entryAt(2)), QString(31, QChar('x')));

        window->select(window->directory().entryAt(1));
        withEditorCancelled([&] { window->newDevice(); });  // index 3 inside Device
        QCOMPARE(labelOf(window->selectedEntry()), QStringLiteral("New Device"));
        window->newFolder();
        QTest::keyClick(window->tree().viewport()->findChild<QLineEdit*>(), Qt::Key_Escape);
        QTRY_VERIFY(!window->tree().viewport()->findChild<QLineEdit*>());
        QCOMPARE(treeText(window->directory()),
                 QString("Device(1)[New Device(3) New Folder(4)] %1(2)").arg(QString(31, 'x')));
    }

    void deleteRefusesRootHonoursCancelAndRenumbers() {
        auto window = makeWindow();
        DeviceDirectory& directory = window->directory();
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* folder = directory.createEntry(EntryKind::folder, u"F", root);
        DeviceEntry* inner = directory.createEntry(EntryKind::device, u"In", folder);
        DeviceEntry* other = directory.createEntry(EntryKind::device, u"Other", root);
        DeviceEntry* multi = directory.createEntry(EntryKind::multiDevice, u"M", root);
        const uint16_t members[] = {inner->index(), other->index()};
        multi->setMembers(members);

        window->select(root);
        window->deleteAction()->trigger();
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::rootNotDeletable)});

        sink_.clear();
        sink_.setConfirmAnswer(false);
        window->select(folder);
        window->deleteSelected();
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::confirmDelete)});
        QCOMPARE(directory.entryCount(), size_t{5});

        sink_.setConfirmAnswer(true);
        window->deleteSelected();
        QCOMPARE(treeText(directory), QStringLiteral("Device(1)[Other(2) M(3)]"));
        QCOMPARE(multi->members(), std::vector<uint16_t>{2});
        QCOMPARE(window->model().rowCount(window->model().indexOf(root)), 2);
        QVERIFY(window->selectedEntry() != nullptr);

        // A folder the root was dragged into can't be deleted either.
        DeviceEntry* holder = directory.createEntry(EntryKind::folder, u"Holder", nullptr);
        QVERIFY(window->dropOnto(root, holder));
        sink_.clear();
        window->select(holder);
        window->deleteSelected();
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::rootNotDeletable)});
        QCOMPARE(directory.entryCount(), size_t{4});
    }

    void dropsThroughTheTree() {
        auto window = makeWindow();
        DeviceDirectory& directory = window->directory();
        DeviceEntry* root = directory.entryAt(1);
        DeviceEntry* folder = directory.createEntry(EntryKind::folder, u"F", root);
        DeviceEntry* target = directory.createEntry(EntryKind::device, u"T", folder);
        directory.createEntry(EntryKind::device, u"U", folder);
        DeviceEntry* moving = directory.createEntry(EntryKind::device, u"D", root);
        window->tree().expandAll();
        QTreeView& tree = window->tree();

        const auto drop = [&](DeviceEntry* dragged, QPoint at) {
            std::unique_ptr<QMimeData> data(
                window->model().mimeData({window->model().indexOf(dragged)}));
            QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, {});
            QApplication::sendEvent(tree.viewport(), &enter);
            QDropEvent dropped(at, Qt::MoveAction, data.get(), Qt::LeftButton, {});
            QApplication::sendEvent(tree.viewport(), &dropped);
        };
        // Outside any item: nothing moves.
        drop(moving, QPoint(5, tree.viewport()->height() - 2));
        QCOMPARE(treeText(directory), QStringLiteral("Device(1)[F(2)[T(3) U(4)] D(5)]"));
        // Device onto device: into its folder, right after it, and selected.
        drop(moving, tree.visualRect(window->model().indexOf(target)).center());
        QCOMPARE(treeText(directory), QStringLiteral("Device(1)[F(2)[T(3) D(5) U(4)]]"));
        QCOMPARE(window->selectedEntry(), moving);
        // A folder onto its own child: nothing.
        QVERIFY(!window->dropOnto(folder, target));
        QCOMPARE(treeText(directory), QStringLiteral("Device(1)[F(2)[T(3) D(5) U(4)]]"));
    }

    void thirtySecondEntryIsRefused() {
        auto window = makeWindow();
        DeviceDirectory& directory = window->directory();
        while (directory.entryCount() < DeviceDirectory::kMaxEntries) {
            QVERIFY(directory.createEntry(EntryKind::folder, u"x", directory.entryAt(1)));
        }
        const QString before = treeText(directory);
        window->newDevice();  // refused before the editor would open
        window->newMultiDevice();
        window->newFolder();
        QCOMPARE(sink_.messages(), std::vector<std::string>(3, std::string(text::deviceLimit)));
        QCOMPARE(treeText(directory), before);
        QVERIFY(viewer_->shown.empty());
    }

    void closingSavesTheDirectory() {
        QString saved;
        {
            auto window = makeWindow();
            DeviceEntry* folder = window->directory().createEntry(EntryKind::folder, u"F",
                                                                  window->directory().entryAt(1));
            DeviceEntry* device = window->directory().createEntry(EntryKind::device, u"D", folder);
            window->select(device);
            saved = treeText(window->directory());
            QVERIFY(window->close());
        }
        QVERIFY(sink_.messages().empty());
        auto window = makeWindow();
        QCOMPARE(treeText(window->directory()), saved);
        QCOMPARE(labelOf(window->selectedEntry()), QStringLiteral("D"));
        QVERIFY(window->tree().isExpanded(window->model().indexOf(window->directory().entryAt(2))));
    }

    void failedSaveIsReported() {
        {
            auto window = makeWindow();
            // A folder where the file belongs: the save can't take its name.
            fs::create_directory(programFolder() + "device.inf");
        }
        const std::vector<std::string> messages = sink_.messages();
        QCOMPARE(messages.size(), size_t{1});
        QVERIFY(messages[0].starts_with(text::directorySaveFailed));
        QVERIFY(messages[0].ends_with("device.inf"));
    }

    // A directory file that exists but cannot be read (here a folder, which
    // opens but gives no bytes even to root) is never saved over: the user is
    // told once, and the session's changes go beside it.
    void unreadableDirectoryIsNeverSavedOver() {
        const fs::path blocked = programFolder() + "device.inf";
        fs::create_directory(blocked);
        std::ofstream(blocked / "kept") << "x";
        {
            auto window = makeWindow();
            const std::vector<std::string> messages = sink_.messages();
            QCOMPARE(messages.size(), size_t{1});
            QVERIFY(messages[0].starts_with(text::directoryUnreadable));
            QVERIFY(messages[0].ends_with("device.inf.unsaved"));
            QCOMPARE(window->directory().entryCount(), size_t{1});
            window->directory().createEntry(EntryKind::device, u"New", nullptr);
        }
        QCOMPARE(sink_.messages().size(), size_t{1});  // the save went through
        QVERIFY(fs::is_directory(blocked));
        QVERIFY(fs::exists(blocked / "kept"));
        DeviceDirectory unsaved;
        QCOMPARE(unsaved.loadDirectory(programFolder() + "device.inf.unsaved"),
                 LoadResult::Complete);
        QCOMPARE(unsaved.entryCount(), size_t{2});
    }

    // One viewer owns a program folder. A second one shows the directory
    // read-only, changes nothing and saves nothing, so the owner's changes are
    // never thrown away by whichever closes last.
    void secondViewerOnAFolderIsReadOnly() {
        auto owner = makeWindow();
        QVERIFY(!owner->readOnly());
        owner->directory().createEntry(EntryKind::device, u"Kept", nullptr);
        {
            auto second = makeWindow();
            QVERIFY(second->readOnly());
            QVERIFY(second->windowTitle().endsWith(QString::fromUtf8(text::readOnlyCaption)));
            for (QAction* change :
                 {second->newAction(), second->multipleAction(), second->folderAction(),
                  second->editAction(), second->deleteAction(), second->searchAction()}) {
                QVERIFY(!change->isEnabled());
            }
            QCOMPARE(second->tree().editTriggers(), QAbstractItemView::NoEditTriggers);
        }
        QVERIFY(!fs::exists(programFolder() + "device.inf"));
        owner.reset();
        DeviceDirectory saved;
        QCOMPARE(saved.loadDirectory(programFolder() + "device.inf"), LoadResult::Complete);
        QCOMPARE(saved.entryCount(), size_t{2});
        // The owner is gone: the next viewer owns the folder again.
        QVERIFY(!makeWindow()->readOnly());
    }

    // Temporaries of a save that was killed midway are removed by the owner
    // at start; the other files beside the directory stay.
    void ownerRemovesWhatKilledSavesLeft() {
        const std::string base = programFolder() + "device.inf";
        for (const char* suffix : {".a1B2c3", ".ZZZZZZ", ".damaged", ".unsaved", ".abc"}) {
            std::ofstream(base + suffix) << "x";
        }
        auto window = makeWindow();
        QVERIFY(!fs::exists(base + ".a1B2c3"));
        QVERIFY(!fs::exists(base + ".ZZZZZZ"));
        QVERIFY(fs::exists(base + ".damaged"));
        QVERIFY(fs::exists(base + ".unsaved"));
        QVERIFY(fs::exists(base + ".abc"));
    }

    void aboutBoxCaptionAndText() {
        AboutBox box(1);
        QCOMPARE(box.windowTitle(), QStringLiteral("About"));
        auto* name = box.findChild<QLabel*>(QStringLiteral("productName"));
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("Tessarine"));
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
    }

    // The program itself, run from a folder of its own: SIGTERM ends it with
    // exit code 0 and the directory saved, as closing the window would.
    void programSavesOnTermination() {
        const QString program = folder_->filePath(QStringLiteral("tessarine"));
        QVERIFY(QFile::copy(QStringLiteral(TESS_PROGRAM_PATH), program));
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent"));
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForStarted(5000));
        // Temp is made after the signal handlers are installed.
        QTRY_VERIFY_WITH_TIMEOUT(fs::is_directory(programFolder() + "Temp"), 10000);
        QTest::qWait(300);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(fs::file_size(programFolder() + "device.inf"), std::uintmax_t{76});
    }

    // --help and --version are answered before any window system is
    // touched: with no display at all and the X platform asked for, which
    // would end a program that started one.
    void helpAndVersionNeedNoDisplay() {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const QString& option : {QStringLiteral("--version"), QStringLiteral("--help")}) {
            QProcess process;
            process.setProcessEnvironment(environment);
            process.start(QStringLiteral(TESS_PROGRAM_PATH), {option});
            QVERIFY(process.waitForFinished(10000));
            QCOMPARE(process.exitCode(), 0);
            const QString out = QString::fromUtf8(process.readAllStandardOutput());
            QVERIFY2(
                out.contains(option == QStringLiteral("--help") ? QStringLiteral("--folder")
                                                                : QStringLiteral("tessarine ")),
                qPrintable(out));
        }
        QProcess wrong;
        wrong.setProcessEnvironment(environment);
        wrong.start(QStringLiteral(TESS_PROGRAM_PATH),
                    {QStringLiteral("--scale"), QStringLiteral("0")});
        QVERIFY(wrong.waitForFinished(10000));
        QCOMPARE(wrong.exitCode(), 2);
    }

    // --folder with a folder that does not exist yet: it is made, the
    // directory and the snapshot folder go there, and the program's own
    // folder (writable, so its default) stays empty.
    void folderOptionKeepsEverythingThere() {
        const QString program = folder_->filePath(QStringLiteral("tessarine"));
        QVERIFY(QFile::copy(QStringLiteral(TESS_PROGRAM_PATH), program));
        const std::string chosen = programFolder() + "lists/second";
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           folder_->filePath(QStringLiteral("data")));
        process.setProcessEnvironment(environment);
        process.start(program, {QStringLiteral("--folder"), QString::fromStdString(chosen)});
        QVERIFY(process.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(fs::is_directory(chosen + "/Temp"), 10000);
        QTest::qWait(300);
        process.terminate();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(fs::file_size(chosen + "/device.inf"), std::uintmax_t{76});
        QVERIFY(!fs::exists(programFolder() + "device.inf"));
        QVERIFY(!fs::exists(programFolder() + "Temp"));
        QVERIFY(!fs::exists(folder_->filePath(QStringLiteral("data")).toStdString()));
    }

    // A move to a screen of another scale lays the window out anew, and the
    // viewer opened next is made for that scale.
    void scaleFollowsTheScreen() {
        const QByteArray before = qgetenv("TESSARINE_SCALE");
        qputenv("TESSARINE_SCALE", "1");
        auto window = makeWindow();
        QCOMPARE(window->width(), MainWindow::kLogicalWidth);
        const int viewersBefore = viewersMade_;
        qputenv("TESSARINE_SCALE", "3");
        window->followScreen(window->screen());
        if (before.isEmpty()) {
            qunsetenv("TESSARINE_SCALE");
        } else {
            qputenv("TESSARINE_SCALE", before);
        }
        QCOMPARE(window->geometry().scale(), 3);
        QCOMPARE(window->size(),
                 QSize(3 * MainWindow::kLogicalWidth,
                       3 * (MainWindow::kClientHeight + MainWindow::kMenuBarHeight)));
        QCOMPARE(window->tree().iconSize(), QSize(48, 48));
        QCOMPARE(window->font().pixelSize(), 33);
        DeviceDirectory& directory = window->directory();
        DeviceEntry* device =
            directory.createEntry(EntryKind::device, u"Cam", directory.entryAt(1));
        window->openEntry(device);
        QCOMPARE(viewersMade_, viewersBefore + 1);
        QCOMPARE(viewer_->shown, std::vector<DeviceEntry*>{device});
    }

    // Every command has its own key, and the tree keeps F2 for renaming. A
    // key pressed in the tree reaches the window's command.
    void everyCommandHasItsOwnKey() {
        auto window = makeWindow();
        QSet<QString> keys;
        for (QAction* action :
             {window->newAction(), window->multipleAction(), window->folderAction(),
              window->editAction(), window->deleteAction(), window->searchAction(),
              window->aboutAction()}) {
            const QKeySequence key = action->shortcut();
            QVERIFY2(!key.isEmpty(), qPrintable(action->text()));
            QVERIFY(key != QKeySequence(Qt::Key_F2));
            keys.insert(key.toString());
        }
        QCOMPARE(keys.size(), 7);

        DeviceDirectory& directory = window->directory();
        DeviceEntry* device =
            directory.createEntry(EntryKind::device, u"Cam", directory.entryAt(1));
        window->select(device);
        window->tree().setFocus();
        sink_.setConfirmAnswer(false);
        QTest::keyClick(&window->tree(), Qt::Key_Delete);
        QCOMPARE(sink_.messages(), std::vector<std::string>{std::string(text::confirmDelete)});
        QCOMPARE(directory.entryCount(), size_t{2});
    }

    void terminationSignalArrivesOnTheEventLoop() {
        TerminationSignals termination;
        QVERIFY(termination.installed());
        QSignalSpy spy(&termination, &TerminationSignals::requested);
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        QVERIFY(spy.wait(5000));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
