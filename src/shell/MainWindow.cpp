#include "shell/MainWindow.h"

#include <filesystem>
#include <system_error>

#include <QAction>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QStyleFactory>
#include <QTreeView>
#include <QWindow>

#include "directory/ProgramFolder.h"
#include "directory/editors/DeviceEditor.h"
#include "directory/editors/MultiDeviceEditor.h"
#include "platform/Log.h"
#include "platform/MessageSink.h"
#include "resources/Artwork.h"
#include "resources/StringTable.h"
#include "search/SearchWindow.h"
#include "shell/AboutBox.h"
#include "shell/DirectoryModel.h"

namespace tess {
namespace {

// Where the drag image stands relative to the stylus.
constexpr QPoint kDragHotSpot{-15, -15};

// Beside a directory file that could not be read: where its session saves.
constexpr std::string_view kUnsavedSuffix = ".unsaved";
// Beside the directory file: held by the one viewer that owns the folder.
constexpr std::string_view kLockSuffix = ".lock";

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The tree control: Return chooses the current item, and drag and drop move
// one entry by the tree's own rule (onto an item, never between items). A
// drop carries the entry's index in the model's own MIME type.
class DeviceTree final : public QTreeView {
public:
    DeviceTree(MainWindow& window, QWidget* parent) : QTreeView(parent), window_(window) {}

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool choose = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (choose && state() != EditingState && currentIndex().isValid()) {
            window_.openEntry(window_.model().entryOf(currentIndex()));
            return;
        }
        QTreeView::keyPressEvent(event);
    }

    void startDrag(Qt::DropActions) override {
        const QModelIndex dragged = currentIndex();
        QMimeData* data = model()->mimeData({dragged});
        if (!data) {
            return;
        }
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        drag->setPixmap(viewport()->grab(visualRect(dragged)));
        drag->setHotSpot(kDragHotSpot);
        drag->exec(Qt::MoveAction);
    }

    void dragEnterEvent(QDragEnterEvent* event) override {
        if (window_.model().draggedEntry(event->mimeData())) {
            setState(DraggingState);
            event->acceptProposedAction();
        } else {
            event->ignore();
        }
    }

    // The item under the stylus is the drop target and shows it by being
    // selected; outside the items a drop is not accepted.
    void dragMoveEvent(QDragMoveEvent* event) override {
        QTreeView::dragMoveEvent(event);  // auto-scroll and auto-expand
        const QModelIndex hit = indexAt(event->position().toPoint());
        if (hit.isValid() && window_.model().draggedEntry(event->mimeData())) {
            setCurrentIndex(hit);
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
    }

    void dropEvent(QDropEvent* event) override {
        stopAutoScroll();
        setState(NoState);
        DeviceEntry* dragged = window_.model().draggedEntry(event->mimeData());
        DeviceEntry* target = window_.model().entryOf(indexAt(event->position().toPoint()));
        if (window_.dropOnto(dragged, target)) {
            event->setDropAction(Qt::MoveAction);
            event->accept();
        } else {
            event->ignore();
        }
        viewport()->update();
    }

private:
    MainWindow& window_;
};

}  // namespace

MainWindow::MainWindow(std::string programFolder, const ViewerFactory& makeViewer, QWidget* parent)
    : QMainWindow(parent),
      programFolder_(std::move(programFolder)),
      makeViewer_(makeViewer),
      folderLock_(QString::fromStdString(directoryFile() + std::string(kLockSuffix))),
      geometry_(LogicalGeometry::forScreen()) {
    // An existing folder is no error; a folder that can't be made shows
    // itself when a snapshot can't be written.
    std::error_code ignored;
    std::filesystem::create_directories(snapshotFolderPath(programFolder_), ignored);

    setWindowTitle(qs(text::programName));
    setWindowIcon(artwork::programIcon());
    geometry_.fitWindow(*this, QSize(kLogicalWidth, kClientHeight + kMenuBarHeight));
    centreOnScreen();

    model_ = std::make_unique<DirectoryModel>(directory_, geometry_.scale());
    buildTree();
    openDirectory();
    select(directory_.entryAt(directory_.selectionIndex()));
    buildMenuBar();
    if (readOnly_) showReadOnly();
    selectionMoved();

    viewer_ = makeViewer_(this, programFolder_);
    viewerScale_ = geometry_.scale();
}

MainWindow::~MainWindow() {
    saveDirectory();
    viewer_.reset();
    delete tree_;
    tree_ = nullptr;
    directory_.freeAll();
}

void MainWindow::openDirectory() {
    // A stale lock, whose program has ended, is taken over; a live one means
    // another viewer owns the folder and saves the directory when it ends.
    folderLock_.setStaleLockTime(0);
    readOnly_ = !folderLock_.tryLock(0);
    if (!readOnly_) DeviceDirectory::removeStaleSaveFiles(directoryFile());
    saveFile_ = directoryFile();
    if (directory_.loadDirectory(directoryFile()) == LoadResult::Unreadable) {
        saveFile_ += kUnsavedSuffix;
        logLine(LogArea::Directory, LogLevel::Warning,
                "device list %s could not be read; this session saves to %s",
                directoryFile().c_str(), saveFile_.c_str());
        messageSink().show(std::string(text::directoryUnreadable) + "\n" + directoryFile() + "\n" +
                           std::string(text::unsavedChangesGoTo) + "\n" + saveFile_);
    }
}

void MainWindow::showReadOnly() {
    setWindowTitle(qs(text::programName) + qs(text::readOnlyCaption));
    for (QAction* change :
         {newAction_, multipleAction_, folderAction_, editAction_, deleteAction_, searchAction_}) {
        change->setEnabled(false);
    }
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setDragEnabled(false);
    tree_->setAcceptDrops(false);
}

std::string MainWindow::directoryFile() const {
    return directoryFilePath(programFolder_);
}

void MainWindow::buildTree() {
    auto* tree = new DeviceTree(*this, this);
    tree_ = tree;
    // The classic look: dotted lines and boxed expand buttons.
    treeStyle_.reset(QStyleFactory::create(QStringLiteral("Windows")));
    if (treeStyle_) {
        tree_->setStyle(treeStyle_.get());
    }
    tree_->setModel(model_.get());
    tree_->setHeaderHidden(true);
    tree_->setRootIsDecorated(true);
    tree_->setUniformRowHeights(true);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setEditTriggers(QAbstractItemView::SelectedClicked | QAbstractItemView::EditKeyPressed);
    tree_->setDragEnabled(true);
    tree_->setAcceptDrops(true);
    tree_->setDragDropMode(QAbstractItemView::InternalMove);
    tree_->setDropIndicatorShown(false);
    applyScale();
    // The selection stays as visible as with the focus.
    QPalette palette = tree_->palette();
    for (const QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    }
    tree_->setPalette(palette);
    setCentralWidget(tree_);

    connect(tree_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { openEntry(model_->entryOf(index)); });
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionMoved(); });
    // A rename or a renumbering may change what the selection is.
    connect(model_.get(), &QAbstractItemModel::dataChanged, this, [this] { selectionMoved(); });
}

void MainWindow::applyScale() {
    geometry_.fitWindow(*this, QSize(kLogicalWidth, kClientHeight + kMenuBarHeight));
    const int imagePixels = kTreeImageLogicalSize * geometry_.scale();
    tree_->setIconSize(QSize(imagePixels, imagePixels));
    tree_->setIndentation(imagePixels);
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The native window exists from the first show on.
    if (!followingScreens_ && windowHandle()) {
        followingScreens_ = true;
        connect(windowHandle(), &QWindow::screenChanged, this,
                [this](QScreen* screen) { followScreen(screen); });
        followScreen(windowHandle()->screen());
    }
}

void MainWindow::followScreen(const QScreen* screen) {
    const int scale = LogicalGeometry::scaleForScreen(screen);
    if (scale == geometry_.scale()) return;
    geometry_ = LogicalGeometry(scale);
    model_->setIconScale(scale);
    applyScale();
}

// Every command has a key, shown beside it in the "Device" menu. F2 is not
// one of them: it stays the tree's own in-place rename. While a label is
// being edited, the editor keeps the keys it uses for its text (Delete).
EntryViewer* MainWindow::currentViewer() {
    // Made anew after the window moved to a screen of another scale: the
    // viewer lays itself out once, for the scale of the screen it starts on.
    // The viewer holds widgets only: the session and its threads are the
    // program's and stay.
    if (viewer_ && viewerScale_ != geometry_.scale()) {
        viewer_ = makeViewer_(this, programFolder_);
        viewerScale_ = geometry_.scale();
    }
    return viewer_.get();
}

void MainWindow::buildMenuBar() {
    const auto command = [this](QWidget* menu, std::string_view label, const QKeySequence& key,
                                void (MainWindow::*run)()) {
        auto* action = new QAction(qs(label), menu);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, run);
        menu->addAction(action);
        // Also on the window, so that the keys of the menu bar's own buttons work.
        addAction(action);
        return action;
    };
    QMenu* deviceMenu = menuBar()->addMenu(qs(text::deviceMenu));
    newAction_ =
        command(deviceMenu, text::newCommand, QKeySequence(Qt::Key_Insert), &MainWindow::newDevice);
    multipleAction_ = command(deviceMenu, text::multipleCommand, QKeySequence(Qt::CTRL | Qt::Key_M),
                              &MainWindow::newMultiDevice);
    folderAction_ = command(deviceMenu, text::folderCommand,
                            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N), &MainWindow::newFolder);
    deviceMenu->addSeparator();
    editAction_ = command(deviceMenu, text::editCommand, QKeySequence(Qt::CTRL | Qt::Key_E),
                          &MainWindow::editSelected);
    deleteAction_ = command(deviceMenu, text::deleteCommand, QKeySequence(Qt::Key_Delete),
                            &MainWindow::deleteSelected);
    searchAction_ = command(menuBar(), text::searchCommand, QKeySequence(Qt::CTRL | Qt::Key_F),
                            &MainWindow::search);
    aboutAction_ =
        command(menuBar(), text::aboutCommand, QKeySequence(Qt::Key_F1), &MainWindow::showAbout);
    // The menu bar's buttons show no key beside them: their tooltips do.
    for (QAction* button : {searchAction_, aboutAction_}) {
        button->setToolTip(button->text() + QStringLiteral(" (") +
                           button->shortcut().toString(QKeySequence::NativeText) +
                           QLatin1Char(')'));
    }
}

void MainWindow::centreOnScreen() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

// Keeps the directory's selection (what the live view's audio/video buttons
// rewrite, and what is saved) in step with the tree.
void MainWindow::selectionMoved() {
    if (const DeviceEntry* selected = selectedEntry()) {
        directory_.setSelectionIndex(selected->index());
    }
}

DeviceEntry* MainWindow::selectedEntry() const {
    const QModelIndexList selected = tree_->selectionModel()->selectedIndexes();
    if (!selected.isEmpty()) {
        return model_->entryOf(selected.first());
    }
    return directory_.entryAt(DeviceDirectory::kRootIndex);
}

void MainWindow::select(const DeviceEntry* entry) {
    const QModelIndex index = model_->indexOf(entry);
    if (!index.isValid()) {
        return;
    }
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
}

DeviceEntry* MainWindow::targetFolder() const {
    DeviceEntry* selected = selectedEntry();
    if (!selected || selected->isFolder()) {
        return selected;
    }
    return directory_.parent(selected);
}

bool MainWindow::hasRoomForEntry() const {
    if (directory_.full()) {
        tellDirectoryFull();
        return false;
    }
    return true;
}

void MainWindow::tellDirectoryFull() const {
    messageSink().show(text::deviceLimit);
}

void MainWindow::newDevice() {
    if (!hasRoomForEntry()) {
        return;
    }
    DeviceEditor editor(geometry_.scale(), this);
    editor.exec();  // whatever it holds when it closes is used
    DeviceEntry* entry =
        directory_.createEntry(EntryKind::device, editor.label().toStdU16String(), targetFolder());
    if (!entry) {
        return;
    }
    entry->setAddress(editor.address().toStdU16String());
    entry->setPassword(editor.password().toStdU16String());
    entry->setUserName(editor.userName().toStdU16String());
    entry->setPort(editor.port());
    directory_.notifyChanged(entry);
    select(entry);
    openEntry(entry);
}

void MainWindow::newMultiDevice() {
    if (!hasRoomForEntry()) {
        return;
    }
    MultiDeviceEditor editor(directory_, geometry_.scale(), this);
    editor.exec();  // whatever it holds when it closes is used
    DeviceEntry* entry = directory_.createEntry(EntryKind::multiDevice,
                                                editor.label().toStdU16String(), targetFolder());
    if (!entry) {
        return;
    }
    writeMultiDevice(editor, *entry);
    select(entry);
}

void MainWindow::newFolder() {
    if (!hasRoomForEntry()) return;
    const DeviceEntry* selected = selectedEntry();
    DeviceEntry* parent = selected && selected->parentIndex() == 0 ? nullptr : targetFolder();
    DeviceEntry* folder = directory_.createEntry(
        EntryKind::folder, QString(qs(text::newFolderLabel)).toStdU16String(), parent);
    if (folder) {
        startLabelEdit(folder);
    }
}

void MainWindow::startLabelEdit(const DeviceEntry* entry) {
    select(entry);
    tree_->setFocus();
    tree_->edit(model_->indexOf(entry));
}

void MainWindow::editSelected() {
    DeviceEntry* entry = selectedEntry();
    if (!entry) {
        return;
    }
    if (entry->isFolder()) {
        startLabelEdit(entry);
        return;
    }
    if (entry->isMultiDevice()) {
        MultiDeviceEditor editor(directory_, geometry_.scale(), this);
        editor.setLabel(QString::fromStdU16String(entry->label()));
        editor.setType(entry->multiType());
        editor.setTimeIndex(entry->displayTimeIndex());
        editor.setMembers(entry->members());
        editor.exec();  // written back however it closed
        entry->setLabel(editor.label().toStdU16String());
        writeMultiDevice(editor, *entry);
        return;
    }
    DeviceEditor editor(geometry_.scale(), this);
    editor.setLabel(QString::fromStdU16String(entry->label()));
    editor.setAddress(QString::fromStdU16String(entry->address()));
    editor.setPassword(QString::fromStdU16String(entry->password()));
    editor.setUserName(QString::fromStdU16String(entry->userName()));
    editor.setPort(entry->port());
    editor.exec();  // written back however it closed; avFlags stay
    entry->setLabel(editor.label().toStdU16String());
    entry->setAddress(editor.address().toStdU16String());
    entry->setPassword(editor.password().toStdU16String());
    entry->setUserName(editor.userName().toStdU16String());
    entry->setPort(editor.port());
    directory_.notifyChanged(entry);
}

void MainWindow::writeMultiDevice(const MultiDeviceEditor& editor, DeviceEntry& entry) {
    entry.setMultiType(editor.type());
    entry.setDisplayTimeIndex(editor.timeIndex());
    entry.setMembers(editor.members());
    directory_.notifyChanged(&entry);
}

bool MainWindow::deleteSubtree(DeviceEntry* entry) {
    while (DeviceEntry* child = directory_.childAt(entry, 0)) {
        if (!deleteSubtree(child)) {
            return false;
        }
    }
    return directory_.deleteEntry(entry);
}

void MainWindow::deleteSelected() {
    DeviceEntry* entry = selectedEntry();
    if (!entry) {
        return;
    }
    // The root folder can't go, nor a folder it was dragged into: that walk
    // would have to delete the root as well.
    for (const DeviceEntry* inside = directory_.entryAt(DeviceDirectory::kRootIndex); inside;
         inside = directory_.parent(inside)) {
        if (inside == entry) {
            messageSink().show(text::rootNotDeletable);
            return;
        }
    }
    if (!messageSink().confirm(text::confirmDelete)) {
        return;
    }
    deleteSubtree(entry);
    // The tree has moved its current item to a neighbour; make it the
    // selection so that the commands have something to work on.
    const QModelIndex current = tree_->currentIndex();
    select(current.isValid() ? model_->entryOf(current)
                             : directory_.entryAt(DeviceDirectory::kRootIndex));
    selectionMoved();
}

void MainWindow::showAbout() {
    AboutBox box(geometry_.scale(), this);
    box.exec();
}

void MainWindow::search() {
    SearchWindow searchWindow(geometry_.scale(), searchSettings_, this);
    searchWindow.exec();
    if (!searchWindow.chosen()) {
        return;
    }
    DeviceEditor editor(geometry_.scale(), this);
    editor.setLabel(searchWindow.chosenAddress());
    editor.setAddress(searchWindow.chosenAddress());
    editor.setPort(searchWindow.chosenPort());
    editor.exec();  // whatever it holds when it closes is used
    const auto fill = [&editor](DeviceEntry& device) {
        device.setLabel(editor.label().toStdU16String());
        device.setAddress(editor.address().toStdU16String());
        device.setPassword(editor.password().toStdU16String());
        device.setUserName(editor.userName().toStdU16String());
        device.setPort(editor.port());
        device.setAvFlags(kAvVideo);
    };

    // The device joins the directory before its session, so that the
    // session's audio/video choice is made on the entry that stays.
    DeviceEntry* entry = nullptr;
    if (!directory_.full()) {
        DeviceEntry* first = directory_.childAt(nullptr, 0);
        entry = directory_.createEntry(EntryKind::device, editor.label().toStdU16String(),
                                       first && first->isFolder() ? first : nullptr);
    }
    if (entry) {
        fill(*entry);
        directory_.notifyChanged(entry);
        select(entry);
        openEntry(entry);
        return;
    }
    // A full directory: the device is watched on an entry of its own, and
    // the limit message follows the session.
    DeviceEntry session(EntryKind::device);
    fill(session);
    if (EntryViewer* viewer = currentViewer()) {
        viewer->view(session, directory_);
    }
    tellDirectoryFull();
}

void MainWindow::openEntry(DeviceEntry* entry) {
    if (!entry || entry->isFolder()) {
        return;
    }
    if (EntryViewer* viewer = currentViewer()) {
        viewer->view(*entry, directory_);
    }
}

bool MainWindow::dropOnto(DeviceEntry* dragged, DeviceEntry* target) {
    if (!model_->moveOnto(dragged, target)) {
        return false;
    }
    tree_->expand(model_->indexOf(target));
    select(dragged);
    return true;
}

void MainWindow::saveDirectory() {
    if (readOnly_) {
        return;  // the folder's owner saves
    }
    if (const DeviceEntry* selected = selectedEntry()) {
        directory_.setSelectionIndex(selected->index());
    }
    const std::string& path = saveFile_;
    if (!directory_.saveDirectory(path)) {
        messageSink().show(std::string(text::directorySaveFailed) + "\n" + path);
    }
}

}  // namespace tess
