// device.inf contents: any bytes. After every load the directory must be
// sound, and what it saves must load back whole into the same records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

#include "directory/DeviceDirectory.h"

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "directory invariant broken: %s\n", what);
        std::abort();
    }
}

// Walks the tree in pre-order: every entry in its slot, parents folders whose
// records come earlier, parent indices in step with the tree.
void checkSubtree(const tess::DeviceDirectory& directory, const tess::DeviceEntry* parent,
                  std::vector<bool>& seen, size_t& visited) {
    for (const tess::DeviceEntry* entry : directory.children(parent)) {
        const uint16_t index = entry->index();
        require(index >= 1 && index < directory.nextIndex(), "index out of range");
        require(!seen[index], "index used twice");
        seen[index] = true;
        ++visited;
        require(directory.entryAt(index) == entry, "item table slot");
        require(entry->parentIndex() == (parent ? parent->index() : 0), "parent index");
        require(!parent || parent->isFolder(), "parent is not a folder");
        require(directory.parent(entry) == parent, "parent link");
        require(entry->bytes().size() == tess::recordSizeFor(entry->kind()), "record size");
        if (entry->isMultiDevice()) {
            for (const uint16_t member : entry->members()) {
                require(member >= 1 && member < directory.nextIndex(), "member names no entry");
            }
        }
        checkSubtree(directory, entry, seen, visited);
    }
}

void checkSound(const tess::DeviceDirectory& directory) {
    require(directory.entryCount() >= 1 && directory.entryCount() <= 31, "entry count");
    require(directory.nextIndex() == directory.entryCount() + 1, "next index");
    std::vector<bool> seen(tess::DeviceDirectory::kSlotCount, false);
    size_t visited = 0;
    checkSubtree(directory, nullptr, seen, visited);
    require(visited == directory.entryCount(), "entries outside the tree");
    require(directory.entryAt(1) && directory.entryAt(1)->isFolder(), "root folder");
    require(directory.entryAt(directory.nextIndex()) == nullptr, "slot beyond the last index");
    const uint16_t selection = directory.selectionIndex();
    require(selection >= 1 && selection < directory.nextIndex(), "selection");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tess::DeviceDirectory directory;
    directory.loadFromBytes(std::span(data, size));
    checkSound(directory);

    const std::vector<uint8_t> saved = directory.fileBytes();
    tess::DeviceDirectory reloaded;
    require(reloaded.loadFromBytes(saved), "saved directory does not load whole");
    checkSound(reloaded);
    require(reloaded.fileBytes() == saved, "save after reload differs");
    return 0;
}
