#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QLockFile>
#include <QMainWindow>

#include "directory/DeviceDirectory.h"
#include "discovery/Searcher.h"
#include "geometry/LogicalGeometry.h"
#include "liveview/EntryViewer.h"

class QAction;
class QScreen;
class QShowEvent;
class QStyle;
class QTreeView;

namespace tess {

class DirectoryModel;
class MultiDeviceEditor;

// The program's main window, captioned "Tessarine": the device tree filling a
// 240-wide logical window and the menu bar with "Device" (New, Multiple,
// Folder, Edit, Delete), "Search" and "About". It owns the DeviceDirectory, loaded from
// programFolder + "device.inf" at construction and saved when the window is
// destroyed, and the one entry viewer (the live view), which it hands a
// device or multi-device on a double-click, Return, or a new device.
// Everything runs on the GUI thread; the editors and the viewer run modally.
class MainWindow final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kLogicalWidth = 240;
    // The client area above the menu bar, and the menu bar's strip.
    static constexpr int kClientHeight = 268;
    static constexpr int kMenuBarHeight = 26;
    static constexpr int kTreeImageLogicalSize = 16;

    // Makes the viewer; `parent` is this window, `programFolder` the folder
    // of the directory file and of the snapshot folder "Temp".
    using ViewerFactory = std::function<std::unique_ptr<EntryViewer>(
        QWidget* parent, const std::string& programFolder)>;

    // `programFolder` with its trailing separator (resolveProgramFolder() in
    // the program). Creates programFolder + "Temp", loads the directory and
    // selects the entry that was selected when it was saved.
    MainWindow(std::string programFolder, const ViewerFactory& makeViewer,
               QWidget* parent = nullptr);
    // Saves the directory with the current selection (a failure is reported
    // through the message sink), then deletes the viewer, then frees the
    // entries.
    ~MainWindow() override;

    DeviceDirectory& directory() { return directory_; }
    DirectoryModel& model() { return *model_; }
    QTreeView& tree() { return *tree_; }
    const std::string& programFolder() const { return programFolder_; }
    std::string directoryFile() const;
    // Where the directory is saved at exit: the directory file, or beside it
    // (".unsaved") when the file could not be read, so that it is never
    // saved over.
    const std::string& saveFile() const { return saveFile_; }
    // True when another viewer owns the program folder: the directory is
    // shown, never changed and never saved.
    bool readOnly() const { return readOnly_; }
    const LogicalGeometry& geometry() const { return geometry_; }
    // Takes the scale of `screen` (LogicalGeometry::scaleForScreen): the
    // window, its font and the tree's images are laid out anew. Called when
    // the window moves to another screen; the dialogs it opens afterwards
    // take the new scale.
    void followScreen(const QScreen* screen);

    // The selected entry; the root folder while nothing is selected.
    DeviceEntry* selectedEntry() const;
    // Selects `entry` and scrolls it into view (its folders expand).
    void select(const DeviceEntry* entry);

    // The commands of the menu bar.
    void newDevice();
    void newMultiDevice();
    void newFolder();
    void editSelected();
    void deleteSelected();
    void showAbout();
    // The LAN search window; a device chosen there goes through the device
    // editor into the directory, under the first top-level folder, and is
    // opened in the viewer.
    void search();
    // Hands a device or multi-device to the viewer; a folder is left alone.
    void openEntry(DeviceEntry* entry);
    // A drop of `dragged` onto `target` in the tree (see
    // DirectoryModel::moveOnto); the moved entry is selected. False when the
    // drop is refused and nothing changed.
    bool dropOnto(DeviceEntry* dragged, DeviceEntry* target);

    QAction* newAction() const { return newAction_; }
    QAction* multipleAction() const { return multipleAction_; }
    QAction* folderAction() const { return folderAction_; }
    QAction* editAction() const { return editAction_; }
    QAction* deleteAction() const { return deleteAction_; }
    QAction* aboutAction() const { return aboutAction_; }
    QAction* searchAction() const { return searchAction_; }

    // What the Search command's searches are made of; the product's, with
    // the interfaces the environment names (SearchSettings::forProgram).
    void setSearchSettings(SearchSettings settings) { searchSettings_ = std::move(settings); }

private:
    void showEvent(QShowEvent* event) override;
    // The viewer, laid out for the window's present scale; null without one.
    EntryViewer* currentViewer();
    void applyScale();
    void buildTree();
    void buildMenuBar();
    void centreOnScreen();
    void selectionMoved();
    // The folder a new entry goes into: the selection if it is a folder,
    // else the selection's folder (nullptr: the top level).
    DeviceEntry* targetFolder() const;
    // False, after the limit message, when the directory is full. The
    // creating commands ask before an editor opens, so nothing typed is lost.
    bool hasRoomForEntry() const;
    // The limit message: the one place it is shown.
    void tellDirectoryFull() const;
    void startLabelEdit(const DeviceEntry* entry);
    // Type, time and members from the editor into `entry`, and tells the tree.
    void writeMultiDevice(const MultiDeviceEditor& editor, DeviceEntry& entry);
    // Deletes `entry` and everything below it, deepest first.
    bool deleteSubtree(DeviceEntry* entry);
    // Takes the program folder (or not), cleans up after killed saves and
    // loads the directory.
    void openDirectory();
    void showReadOnly();
    void saveDirectory();

    const std::string programFolder_;
    const ViewerFactory makeViewer_;
    // Held while this viewer owns the program folder: only one viewer saves.
    QLockFile folderLock_;
    bool readOnly_ = false;
    std::string saveFile_;
    LogicalGeometry geometry_;
    bool followingScreens_ = false;
    DeviceDirectory directory_;
    std::unique_ptr<DirectoryModel> model_;
    // The tree's own style (lines and expand boxes); outlives the tree.
    std::unique_ptr<QStyle> treeStyle_;
    QTreeView* tree_ = nullptr;
    std::unique_ptr<EntryViewer> viewer_;
    int viewerScale_ = 0;

    QAction* newAction_ = nullptr;
    QAction* multipleAction_ = nullptr;
    QAction* folderAction_ = nullptr;
    QAction* editAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QAction* aboutAction_ = nullptr;
    QAction* searchAction_ = nullptr;

    SearchSettings searchSettings_ = SearchSettings::forProgram();
};

}  // namespace tess
