#include "directory/DeviceDirectory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "platform/Log.h"

namespace tess {
namespace {

// 31 records of the largest kind. One byte more than this can't be read whole:
// a 32nd record would repeat an index.
constexpr size_t kLargestFileSize = DeviceDirectory::kMaxEntries * kLargestRecordSize;

constexpr std::u16string_view kRootLabel = u"Device";

// Reads at most `limit` bytes of the file; false when it can't be opened.
enum class FileRead { Read, Missing, Failed };

// Reads at most `limit` bytes of the file. A file that exists but cannot be
// opened or read through (no permission, an I/O error) is Failed, not Missing.
FileRead readFile(const std::filesystem::path& path, size_t limit, std::vector<uint8_t>& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? FileRead::Missing : FileRead::Failed;
    }
    out.resize(limit);
    size_t filled = 0;
    bool failed = false;
    while (filled < limit) {
        const ssize_t got = ::read(fd, out.data() + filled, limit - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        failed = got < 0;
        if (got <= 0) {
            break;
        }
        filled += static_cast<size_t>(got);
    }
    ::close(fd);
    out.resize(failed ? 0 : filled);
    return failed ? FileRead::Failed : FileRead::Read;
}

bool writeAll(int fd, std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<size_t>(put));
    }
    return true;
}

// Makes a finished rename durable; a folder that can't be opened is no failure
// of the save itself, the new file is already in place.
void syncFolder(const std::filesystem::path& folder) {
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Keeps what a damaged directory file held before a save replaces it.
void keepDamagedFile(const std::filesystem::path& path) {
    std::filesystem::path copy = path;
    copy += ".damaged";
    std::error_code error;
    if (std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing,
                                   error)) {
        std::filesystem::permissions(
            copy, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, error);
    }
}

}  // namespace

DeviceDirectory::DeviceDirectory() = default;
DeviceDirectory::~DeviceDirectory() = default;

void DeviceDirectory::addObserver(DirectoryObserver* observer) {
    observers_.push_back(observer);
}

void DeviceDirectory::removeObserver(DirectoryObserver* observer) {
    std::erase(observers_, observer);
}

DeviceDirectory::TreeItem* DeviceDirectory::itemOf(const DeviceEntry* entry) const {
    if (!entry || entry->index() == 0 || entry->index() >= kSlotCount) {
        return nullptr;
    }
    TreeItem* item = itemTable_[entry->index()];
    return item && item->entry.get() == entry ? item : nullptr;
}

const DeviceDirectory::TreeItem* DeviceDirectory::itemOrTop(const DeviceEntry* entry) const {
    return entry ? itemOf(entry) : &top_;
}

DeviceDirectory::TreeItem* DeviceDirectory::insertItem(TreeItem* parent, size_t position,
                                                       DeviceEntry entry) {
    auto item = std::make_unique<TreeItem>();
    item->entry = std::make_unique<DeviceEntry>(entry);
    item->parent = parent;
    TreeItem* raw = item.get();
    itemTable_[entry.index()] = raw;
    ++entryCount_;
    parent->children.insert(parent->children.begin() + static_cast<ptrdiff_t>(position),
                            std::move(item));
    return raw;
}

void DeviceDirectory::clear() {
    top_.children.clear();
    itemTable_.fill(nullptr);
    entryCount_ = 0;
    selectionIndex_ = kRootIndex;
}

void DeviceDirectory::freeAll() {
    notify([](DirectoryObserver& o) { o.aboutToReset(); });
    clear();
    notify([](DirectoryObserver& o) { o.reset(); });
}

LoadResult DeviceDirectory::loadDirectory(const std::filesystem::path& path) {
    std::vector<uint8_t> bytes;
    const FileRead read = readFile(path, kLargestFileSize + 1, bytes);
    const bool complete = loadFromBytes(bytes);
    if (read == FileRead::Failed) return LoadResult::Unreadable;
    if (complete) return LoadResult::Complete;
    if (bytes.empty()) return LoadResult::Missing;
    keepDamagedFile(path);
    return bytes.size() < kFolderRecordSize ? LoadResult::Missing : LoadResult::Damaged;
}

bool DeviceDirectory::loadFromBytes(std::span<const uint8_t> bytes) {
    notify([](DirectoryObserver& o) { o.aboutToReset(); });
    clear();

    // Records back to back; the first one that is not sound ends the walk.
    // A file shorter than one record counts as no file.
    bool complete = bytes.size() >= kFolderRecordSize;
    for (size_t offset = 0; complete && offset < bytes.size();) {
        const std::optional<DeviceEntry> record = DeviceEntry::fromRecord(bytes.subspan(offset));
        complete = false;
        if (!record) {
            break;
        }
        const uint16_t index = record->index();
        const uint16_t parentIndex = record->parentIndex();
        if (index == 0 || index >= kSlotCount || itemTable_[index]) {
            break;
        }
        if (index == kRootIndex && !record->isFolder()) {
            break;  // the root folder is what can never be deleted
        }
        TreeItem* parentItem = &top_;
        if (parentIndex != 0) {
            if (parentIndex >= kSlotCount || !itemTable_[parentIndex] ||
                !itemTable_[parentIndex]->entry->isFolder()) {
                break;
            }
            parentItem = itemTable_[parentIndex];
        }
        if (index == kRootIndex) {
            selectionIndex_ = record->selectionIndex();
        }
        insertItem(parentItem, parentItem->children.size(), *record);
        offset += record->recordSize();
        complete = true;
    }
    if (!keepDenseIndices()) {
        complete = false;
    }
    sanitizeMembers();

    if ((!complete || entryCount_ == 0) && entryCount_ < kMaxEntries) {
        DeviceEntry root(EntryKind::folder);
        root.setLabel(kRootLabel);
        root.setIndex(nextIndex());
        insertItem(&top_, top_.children.size(), root);
    }
    setSelectionIndex(selectionIndex_);
    notify([](DirectoryObserver& o) { o.reset(); });
    return complete;
}

bool DeviceDirectory::keepDenseIndices() {
    bool dense = true;
    for (;;) {
        uint16_t hole = 1;
        while (hole < kSlotCount && itemTable_[hole]) {
            ++hole;
        }
        bool dropped = false;
        for (uint16_t index = hole + 1; index < kSlotCount; ++index) {
            if (itemTable_[index]) {
                dropSubtree(itemTable_[index]);
                dropped = true;
            }
        }
        if (!dropped) {
            return dense;
        }
        dense = false;  // dropping a subtree may have opened a lower hole
    }
}

void DeviceDirectory::dropSubtree(TreeItem* item) {
    // Clear the table slots of the whole subtree first; erasing the item from
    // its parent then frees all of it.
    std::vector<TreeItem*> pending{item};
    while (!pending.empty()) {
        TreeItem* current = pending.back();
        pending.pop_back();
        itemTable_[current->entry->index()] = nullptr;
        --entryCount_;
        for (const auto& child : current->children) {
            pending.push_back(child.get());
        }
    }
    auto& siblings = item->parent->children;
    std::erase_if(siblings, [item](const auto& sibling) { return sibling.get() == item; });
}

// Members that name no entry would come to name whatever entry is created
// next with that index; they go, and so does a count beyond the 32 slots.
void DeviceDirectory::sanitizeMembers() {
    for (uint16_t index = 1; index < nextIndex(); ++index) {
        DeviceEntry& entry = *itemTable_[index]->entry;
        if (!entry.isMultiDevice()) {
            continue;
        }
        std::vector<uint16_t> members = entry.members();
        std::erase_if(members, [this](uint16_t m) { return m == 0 || m >= nextIndex(); });
        if (members.size() != entry.u16(DeviceEntry::kMemberCountAt)) {
            entry.setMembers(members);
        }
    }
}

void DeviceDirectory::setSelectionIndex(uint16_t index) {
    selectionIndex_ = index >= kRootIndex && index < nextIndex() ? index : kRootIndex;
}

std::vector<uint8_t> DeviceDirectory::fileBytes() {
    // The selection is read back from the root folder's record only; the root
    // may have been moved into another folder, so it gets the value as well.
    for (const auto& item : top_.children) {
        item->entry->setSelectionIndex(selectionIndex_);
    }
    if (DeviceEntry* root = entryAt(kRootIndex)) {
        root->setSelectionIndex(selectionIndex_);
    }
    std::vector<uint8_t> out;
    out.reserve(entryCount_ * kLargestRecordSize);
    for (const auto& item : top_.children) {
        writeSubtree(*item, out);
    }
    return out;
}

void DeviceDirectory::writeSubtree(const TreeItem& item, std::vector<uint8_t>& out) {
    const std::span<const uint8_t> record = item.entry->bytes();
    out.insert(out.end(), record.begin(), record.end());
    for (const auto& child : item.children) {
        writeSubtree(*child, out);
    }
}

bool DeviceDirectory::saveDirectory(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = fileBytes();
    // The new file is complete and on disk before it takes the old one's
    // name, so a failure at any step leaves the previous directory intact.
    const auto failed = [&path](int error) {
        logLine(LogArea::Directory, LogLevel::Error, "device list not saved to %s: %s",
                path.c_str(), std::strerror(error));
        return false;
    };
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return failed(errno);
    }
    bool written = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return failed(error);
    }
    syncFolder(path.parent_path());
    return true;
}

void DeviceDirectory::removeStaleSaveFiles(const std::filesystem::path& path) {
    // mkostemp's suffix: six characters of [A-Za-z0-9].
    constexpr size_t kSuffixLength = 6;
    const std::string prefix = path.filename().string() + ".";
    std::error_code error;
    for (const auto& file : std::filesystem::directory_iterator(path.parent_path(), error)) {
        const std::string name = file.path().filename().string();
        const bool temporary = name.size() == prefix.size() + kSuffixLength &&
                               name.starts_with(prefix) &&
                               std::all_of(name.begin() + prefix.size(), name.end(),
                                           [](unsigned char c) { return std::isalnum(c) != 0; });
        if (temporary && file.is_regular_file(error)) std::filesystem::remove(file.path(), error);
    }
}

DeviceEntry* DeviceDirectory::createEntry(EntryKind kind, std::u16string_view label,
                                          DeviceEntry* parent) {
    // The window that asked tells the user: this is no place for a message.
    if (full()) return nullptr;
    TreeItem* parentItem = parent ? itemOf(parent) : &top_;
    if (!isEntryKind(static_cast<uint16_t>(kind)) || !parentItem ||
        (parent && !parent->isFolder())) {
        return nullptr;
    }
    DeviceEntry entry(kind);
    entry.setLabel(label);
    entry.setIndex(nextIndex());
    entry.setParentIndex(parent ? parent->index() : 0);
    if (entry.isDevice()) {
        entry.setAvFlags(kAvVideo);  // a new device starts with video only
    }

    const int row = static_cast<int>(parentItem->children.size());
    notify([&](DirectoryObserver& o) { o.aboutToInsert(parent, row); });
    DeviceEntry* created = insertItem(parentItem, parentItem->children.size(), entry)->entry.get();
    notify([&](DirectoryObserver& o) { o.inserted(created); });
    return created;
}

bool DeviceDirectory::deleteEntry(DeviceEntry* entry) {
    TreeItem* item = itemOf(entry);
    if (!item || entry->index() == kRootIndex || !item->children.empty()) {
        return false;
    }
    const uint16_t deleted = entry->index();
    TreeItem* parentItem = item->parent;
    const DeviceEntry* parentEntry = parentItem->entry.get();
    const int itemRow = row(entry);

    notify([&](DirectoryObserver& o) { o.aboutToRemove(entry); });
    std::copy(itemTable_.begin() + deleted + 1, itemTable_.end(), itemTable_.begin() + deleted);
    itemTable_.back() = nullptr;
    --entryCount_;
    parentItem->children.erase(parentItem->children.begin() + itemRow);

    std::vector<const DeviceEntry*> renumbered;
    for (uint16_t index = 1; index < nextIndex(); ++index) {
        DeviceEntry& other = *itemTable_[index]->entry;
        bool changed = false;
        if (other.index() > deleted) {
            other.setIndex(other.index() - 1);
            changed = true;
        }
        if (other.parentIndex() > deleted) {
            other.setParentIndex(other.parentIndex() - 1);
            changed = true;
        }
        if (other.isMultiDevice()) {
            const std::vector<uint16_t> members = other.members();
            std::vector<uint16_t> kept;
            for (const uint16_t member : members) {
                if (member != deleted) {
                    kept.push_back(member > deleted ? member - 1 : member);
                }
            }
            if (kept != members) {
                other.setMembers(kept);
                changed = true;
            }
        }
        if (changed) {
            renumbered.push_back(&other);
        }
    }
    if (selectionIndex_ >= deleted) {
        setSelectionIndex(selectionIndex_ == deleted ? kRootIndex : selectionIndex_ - 1);
    }
    notify([&](DirectoryObserver& o) { o.removed(parentEntry, itemRow); });
    for (const DeviceEntry* changedEntry : renumbered) {
        notifyChanged(changedEntry);
    }
    return true;
}

bool DeviceDirectory::moveEntry(DeviceEntry* entry, DeviceEntry* newParent,
                                const DeviceEntry* insertAfter) {
    TreeItem* item = itemOf(entry);
    TreeItem* destination = newParent ? itemOf(newParent) : &top_;
    if (!item || !destination || (newParent && !newParent->isFolder())) {
        return false;
    }
    for (const TreeItem* ancestor = destination; ancestor; ancestor = ancestor->parent) {
        if (ancestor == item) {
            return false;  // into itself or its own subtree
        }
    }
    TreeItem* source = item->parent;
    const int sourceRow = row(entry);

    // The position among the destination's children once the entry has left.
    int position = 0;
    if (insertAfter == entry && source == destination) {
        position = sourceRow;
    } else if (insertAfter) {
        const int afterRow = row(insertAfter);
        const bool childOfDestination = afterRow >= 0 && parent(insertAfter) == newParent;
        if (childOfDestination) {
            position = source == destination && afterRow > sourceRow ? afterRow : afterRow + 1;
        } else {
            position =
                static_cast<int>(destination->children.size()) - (source == destination ? 1 : 0);
        }
    }
    if (source == destination && position == sourceRow) {
        return true;
    }
    const int destinationRow =
        source == destination && position > sourceRow ? position + 1 : position;

    notify([&](DirectoryObserver& o) { o.aboutToMove(entry, newParent, destinationRow); });
    std::unique_ptr<TreeItem> taken = std::move(source->children[sourceRow]);
    source->children.erase(source->children.begin() + sourceRow);
    taken->parent = destination;
    destination->children.insert(destination->children.begin() + position, std::move(taken));
    const uint16_t parentIndex = newParent ? newParent->index() : 0;
    const bool parentChanged = entry->parentIndex() != parentIndex;
    entry->setParentIndex(parentIndex);
    notify([&](DirectoryObserver& o) { o.moved(entry); });
    if (parentChanged) {
        notifyChanged(entry);
    }
    return true;
}

DeviceEntry* DeviceDirectory::entryAt(uint16_t index) const {
    return index >= kRootIndex && index < kSlotCount && itemTable_[index]
               ? itemTable_[index]->entry.get()
               : nullptr;
}

void DeviceDirectory::notifyChanged(const DeviceEntry* entry) {
    notify([entry](DirectoryObserver& o) { o.changed(entry); });
}

DeviceEntry* DeviceDirectory::parent(const DeviceEntry* entry) const {
    const TreeItem* item = itemOf(entry);
    return item ? item->parent->entry.get() : nullptr;
}

int DeviceDirectory::childCount(const DeviceEntry* parent) const {
    const TreeItem* item = itemOrTop(parent);
    return item ? static_cast<int>(item->children.size()) : 0;
}

DeviceEntry* DeviceDirectory::childAt(const DeviceEntry* parent, int row) const {
    const TreeItem* item = itemOrTop(parent);
    if (!item || row < 0 || static_cast<size_t>(row) >= item->children.size()) {
        return nullptr;
    }
    return item->children[static_cast<size_t>(row)]->entry.get();
}

std::vector<DeviceEntry*> DeviceDirectory::children(const DeviceEntry* parent) const {
    std::vector<DeviceEntry*> result;
    if (const TreeItem* item = itemOrTop(parent)) {
        for (const auto& child : item->children) {
            result.push_back(child->entry.get());
        }
    }
    return result;
}

int DeviceDirectory::row(const DeviceEntry* entry) const {
    const TreeItem* item = itemOf(entry);
    if (!item) {
        return -1;
    }
    const auto& siblings = item->parent->children;
    for (size_t i = 0; i < siblings.size(); ++i) {
        if (siblings[i].get() == item) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace tess
