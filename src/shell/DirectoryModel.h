#pragma once

#include <array>

#include <QAbstractItemModel>
#include <QIcon>

#include "directory/DeviceDirectory.h"

namespace tess {

// The device tree as a Qt item model: one column, one row per DeviceEntry,
// each index carrying a plain pointer to its entry. The model owns nothing;
// it observes the directory and mirrors every change the directory reports,
// so the directory may be changed directly or through the model. GUI thread
// only.
class DirectoryModel final : public QAbstractItemModel, private DirectoryObserver {
    Q_OBJECT

public:
    // The MIME type of a dragged entry: its index as decimal text.
    static constexpr const char* kEntryMimeType = "application/x-tessarine-entry";

    // `iconScale` is the size of one logical pixel in widget pixels; the
    // tree images are 16 logical pixels square.
    explicit DirectoryModel(DeviceDirectory& directory, int iconScale = 1,
                            QObject* parent = nullptr);
    ~DirectoryModel() override;
    // Draws the tree images again for another scale (the window moved to a
    // screen of another size).
    void setIconScale(int iconScale);

    DeviceDirectory& directory() const { return directory_; }
    // nullptr for an invalid index.
    DeviceEntry* entryOf(const QModelIndex& index) const;
    // The invalid index for nullptr (the top level) or an entry not in here.
    QModelIndex indexOf(const DeviceEntry* entry) const;

    // The drop rule of the tree: onto a folder puts `dragged` last into it;
    // onto a device or multi-device puts it right after the target in the
    // target's folder. Refused (false, nothing changes) without a target,
    // onto itself and into its own subtree.
    bool moveOnto(DeviceEntry* dragged, DeviceEntry* target);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Edits the label; the entry keeps at most 31 characters of it.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::MoveAction; }
    Qt::DropActions supportedDropActions() const override { return Qt::MoveAction; }
    // The entry a mimeData() of this model names, or nullptr.
    DeviceEntry* draggedEntry(const QMimeData* data) const;

private:
    void aboutToInsert(const DeviceEntry* parent, int row) override;
    void inserted(const DeviceEntry* entry) override;
    void aboutToRemove(const DeviceEntry* entry) override;
    void removed(const DeviceEntry* parent, int row) override;
    void aboutToMove(const DeviceEntry* entry, const DeviceEntry* newParent,
                     int destinationRow) override;
    void moved(const DeviceEntry* entry) override;
    void changed(const DeviceEntry* entry) override;
    void aboutToReset() override;
    void reset() override;

    DeviceDirectory& directory_;
    // Folder (closed, open only while selected), device, multi-device.
    void drawIcons(int iconScale);

    std::array<QIcon, 3> icons_;
    // A move Qt's bookkeeping refuses is reported as a reset instead.
    bool moveAsReset_ = false;
};

}  // namespace tess
