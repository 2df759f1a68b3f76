#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "directory/DeviceEntry.h"

namespace tess {

// Told about every change of a DeviceDirectory, so that a view (an item model)
// can mirror the tree without owning it. Structural changes come in pairs; in
// between, the directory is already changing and must not be asked about the
// entries concerned, but before the first call and after the second it is
// consistent. `parent` nullptr is the top level. All calls come on the thread
// that changes the directory (the user-interface thread).
class DirectoryObserver {
public:
    virtual ~DirectoryObserver() = default;

    // `row` is where the new entry will stand among the children of `parent`.
    virtual void aboutToInsert(const DeviceEntry* parent, int row) = 0;
    virtual void inserted(const DeviceEntry* entry) = 0;

    // `entry` is still in the tree; after `removed` it no longer exists.
    virtual void aboutToRemove(const DeviceEntry* entry) = 0;
    virtual void removed(const DeviceEntry* parent, int row) = 0;

    // `destinationRow` counts the children of `newParent` as they stand before
    // the move (the convention of QAbstractItemModel::beginMoveRows). Moves
    // that leave an entry where it is are not reported.
    virtual void aboutToMove(const DeviceEntry* entry, const DeviceEntry* newParent,
                             int destinationRow) = 0;
    virtual void moved(const DeviceEntry* entry) = 0;

    // The entry's record changed: its label or other fields, or its index,
    // parent index or members after a renumbering.
    virtual void changed(const DeviceEntry* entry) = 0;

    // Everything is replaced (loading) or removed (freeAll).
    virtual void aboutToReset() = 0;
    virtual void reset() = 0;
};

// The user's directory of devices: a tree of entries with dense indices
// 1 ... nextIndex() - 1, at most 31 entries, and the 32-slot item table from
// index to entry (slot 0 is the top level). The directory owns every entry;
// others hold plain pointers, which stay valid until the entry is deleted or
// the directory is freed, however the entry moves in the tree. Changed on the
// user-interface thread only; while the live view runs modally nothing changes
// it, and the live view's threads may read entries found through entryAt.
//
// On disk (device.inf) the records stand back to back in pre-order, parents
// before children, with no header or trailer.
// How a directory file was read.
enum class LoadResult {
    Complete,    // every byte was part of a good record
    Missing,     // no file, or one shorter than a record
    Damaged,     // the good records were kept, the file copied to ".damaged"
    Unreadable,  // the file exists but could not be read
};

class DeviceDirectory {
public:
    static constexpr uint16_t kSlotCount = 32;
    static constexpr uint16_t kMaxEntries = kSlotCount - 1;
    static constexpr uint16_t kRootIndex = 1;

    DeviceDirectory();
    ~DeviceDirectory();
    DeviceDirectory(const DeviceDirectory&) = delete;
    DeviceDirectory& operator=(const DeviceDirectory&) = delete;

    void addObserver(DirectoryObserver* observer);
    void removeObserver(DirectoryObserver* observer);

    // Replaces the contents with the directory file at `path`. Always leaves a
    // usable tree: without a file, with a file shorter than one record, or
    // with one that exists but cannot be read, the single root folder
    // "Device". A damaged file keeps the good entries read before the damage
    // (as far as their indices stay dense and their parents loaded) and gets a
    // root folder "Device" added at the top level; the damaged file itself is
    // kept beside it as `path` + ".damaged" so the next save loses nothing of
    // it. An unreadable file must not be saved over: the caller saves elsewhere.
    LoadResult loadDirectory(const std::filesystem::path& path);
    // The same from the file's bytes.
    bool loadFromBytes(std::span<const uint8_t> bytes);

    // Writes the whole directory: into a new file (mode 0600, it holds
    // passwords) in the same folder, flushed to disk, then renamed over
    // `path`. On any failure the previous file stays as it was and the result
    // is false. selectionIndex() is stored into every top-level record and
    // into the root folder's.
    bool saveDirectory(const std::filesystem::path& path);
    // Removes what saves killed midway left beside `path`: their temporary
    // files (`path` + "." + six letters or digits). Only for the one program
    // that owns the folder, since another one's save may be under way.
    static void removeStaleSaveFiles(const std::filesystem::path& path);
    // The bytes saveDirectory writes (and stores selectionIndex as it does).
    std::vector<uint8_t> fileBytes();

    // A new entry as the last child of `parent` (a folder of this directory,
    // or nullptr for the top level) with the next free index; a device starts
    // with avFlags kAvVideo. The caller fills in the kind's fields and then
    // calls notifyChanged. A full directory (full()) gives nullptr, and so
    // does a parent that is not a folder of this directory.
    DeviceEntry* createEntry(EntryKind kind, std::u16string_view label, DeviceEntry* parent);

    // Deletes one entry without children and renumbers: every index and
    // parent index above it moves down by one, multi-devices lose it from
    // their members and their higher members move down. Refused (false) for
    // the root folder, an entry with children and an entry not in this
    // directory. The entry pointer is invalid afterwards.
    bool deleteEntry(DeviceEntry* entry);

    // Moves `entry` with its subtree under `newParent` (a folder, or nullptr
    // for the top level), right after `insertAfter` when that is a child of
    // `newParent`, first when `insertAfter` is nullptr and last otherwise (for
    // instance when it is the new parent itself). Indices stay; the parent
    // index follows. Refused (false) when `newParent` is not a folder of this
    // directory or lies in the moved subtree.
    bool moveEntry(DeviceEntry* entry, DeviceEntry* newParent, const DeviceEntry* insertAfter);

    // The entry in slot `index` of the item table; nullptr for 0 and for
    // slots not in use.
    DeviceEntry* entryAt(uint16_t index) const;

    // Removes every entry; the directory is empty (nextIndex() 1).
    void freeAll();

    // Tells the observers that the caller changed fields of `entry`.
    void notifyChanged(const DeviceEntry* entry);

    // The tree. nullptr stands for the top level.
    DeviceEntry* parent(const DeviceEntry* entry) const;
    int childCount(const DeviceEntry* parent) const;
    DeviceEntry* childAt(const DeviceEntry* parent, int row) const;
    std::vector<DeviceEntry*> children(const DeviceEntry* parent) const;
    // The entry's position among its parent's children; -1 when not in here.
    int row(const DeviceEntry* entry) const;

    uint16_t nextIndex() const { return static_cast<uint16_t>(entryCount_ + 1); }
    size_t entryCount() const { return entryCount_; }
    // Holds kMaxEntries entries: no entry can be created.
    bool full() const { return entryCount_ >= kMaxEntries; }

    // The entry selected when the directory was saved; the tree selects it
    // after loading. The window sets it before saving; 1 when unknown.
    uint16_t selectionIndex() const { return selectionIndex_; }
    void setSelectionIndex(uint16_t index);

private:
    struct TreeItem {
        std::unique_ptr<DeviceEntry> entry;  // null for the top level
        TreeItem* parent = nullptr;
        std::vector<std::unique_ptr<TreeItem>> children;
    };

    TreeItem* itemOf(const DeviceEntry* entry) const;
    const TreeItem* itemOrTop(const DeviceEntry* entry) const;
    TreeItem* insertItem(TreeItem* parent, size_t position, DeviceEntry entry);
    void clear();
    // Drops loaded entries until their indices are 1 ... n again; true when
    // nothing had to go.
    bool keepDenseIndices();
    void dropSubtree(TreeItem* item);
    void sanitizeMembers();
    void writeSubtree(const TreeItem& item, std::vector<uint8_t>& out);

    template <typename Call>
    void notify(Call call) {
        for (DirectoryObserver* observer : observers_) {
            call(*observer);
        }
    }

    TreeItem top_;
    std::array<TreeItem*, kSlotCount> itemTable_{};
    size_t entryCount_ = 0;
    uint16_t selectionIndex_ = kRootIndex;
    std::vector<DirectoryObserver*> observers_;
};

}  // namespace tess
