#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "RecordBytes.h"
#include "directory/DeviceDirectory.h"
#include "platform/MessageSink.h"
#include "resources/StringTable.h"

namespace tess {
namespace {

// Keeps its own copy of the tree from the notifications alone, applying them
// the way QAbstractItemModel applies begin/end insert, remove and move rows.
class MirrorObserver : public DirectoryObserver {
public:
    explicit MirrorObserver(const DeviceDirectory& directory) : directory_(directory) {
        rebuild(nullptr);
    }

    void aboutToInsert(const DeviceEntry* parent, int row) override {
        log.push_back("aboutToInsert");
        EXPECT_EQ(directory_.childCount(parent), row);  // not there yet
        pendingParent_ = parent;
        pendingRow_ = row;
    }
    void inserted(const DeviceEntry* entry) override {
        log.push_back("inserted");
        EXPECT_EQ(directory_.parent(entry), pendingParent_);
        EXPECT_EQ(directory_.row(entry), pendingRow_);
        auto& list = tree_[pendingParent_];
        list.insert(list.begin() + pendingRow_, entry);
    }
    void aboutToRemove(const DeviceEntry* entry) override {
        log.push_back("aboutToRemove");
        pendingParent_ = directory_.parent(entry);
        pendingRow_ = directory_.row(entry);
        ASSERT_GE(pendingRow_, 0);
        EXPECT_EQ(tree_[pendingParent_][pendingRow_], entry);
    }
    void removed(const DeviceEntry* parent, int row) override {
        log.push_back("removed");
        EXPECT_EQ(parent, pendingParent_);
        EXPECT_EQ(row, pendingRow_);
        auto& list = tree_[parent];
        tree_.erase(list[row]);
        list.erase(list.begin() + row);
    }
    void aboutToMove(const DeviceEntry* entry, const DeviceEntry* newParent,
                     int destinationRow) override {
        log.push_back("aboutToMove");
        pendingParent_ = directory_.parent(entry);
        pendingRow_ = directory_.row(entry);
        moveParent_ = newParent;
        moveRow_ = destinationRow;
        if (pendingParent_ == newParent) {
            // beginMoveRows refuses these as no-ops.
            EXPECT_NE(destinationRow, pendingRow_);
            EXPECT_NE(destinationRow, pendingRow_ + 1);
        }
        EXPECT_LE(destinationRow, directory_.childCount(newParent));
    }
    void moved(const DeviceEntry* entry) override {
        log.push_back("moved");
        auto& from = tree_[pendingParent_];
        ASSERT_EQ(from[pendingRow_], entry);
        from.erase(from.begin() + pendingRow_);
        const int target =
            pendingParent_ == moveParent_ && moveRow_ > pendingRow_ ? moveRow_ - 1 : moveRow_;
        auto& to = tree_[moveParent_];
        to.insert(to.begin() + target, entry);
    }
    void changed(const DeviceEntry*) override { log.push_back("changed"); }
    void aboutToReset() override { log.push_back("aboutToReset"); }
    void reset() override {
        log.push_back("reset");
        tree_.clear();
        rebuild(nullptr);
    }

    // The mirror matches the directory, every level in order.
    void expectInStep(const DeviceEntry* parent = nullptr) {
        const std::vector<DeviceEntry*> actual = directory_.children(parent);
        const std::vector<const DeviceEntry*> expected(actual.begin(), actual.end());
        ASSERT_EQ(tree_[parent], expected);
        for (const DeviceEntry* child : expected) {
            expectInStep(child);
        }
    }

    std::vector<std::string> log;

private:
    void rebuild(const DeviceEntry* parent) {
        auto& list = tree_[parent];
        for (const DeviceEntry* child : directory_.children(parent)) {
            list.push_back(child);
            rebuild(child);
        }
    }

    const DeviceDirectory& directory_;
    std::map<const DeviceEntry*, std::vector<const DeviceEntry*>> tree_;
    const DeviceEntry* pendingParent_ = nullptr;
    int pendingRow_ = -1;
    const DeviceEntry* moveParent_ = nullptr;
    int moveRow_ = -1;
};

// Indices dense, slots consistent, parents folders, parent indices in step.
void expectSound(const DeviceDirectory& directory) {
    ASSERT_EQ(directory.nextIndex(), directory.entryCount() + 1);
    for (uint16_t index = 1; index < directory.nextIndex(); ++index) {
        const DeviceEntry* entry = directory.entryAt(index);
        ASSERT_NE(entry, nullptr) << index;
        EXPECT_EQ(entry->index(), index);
        const DeviceEntry* parent = directory.parent(entry);
        EXPECT_EQ(entry->parentIndex(), parent ? parent->index() : 0);
        if (parent) {
            EXPECT_TRUE(parent->isFolder());
        }
        EXPECT_EQ(directory.childAt(parent, directory.row(entry)), entry);
    }
    EXPECT_EQ(directory.entryAt(directory.nextIndex()), nullptr);
    EXPECT_EQ(directory.entryAt(0), nullptr);
}

std::vector<uint16_t> savedIndexOrder(DeviceDirectory& directory) {
    const std::vector<uint8_t> bytes = directory.fileBytes();
    std::vector<uint16_t> order;
    for (size_t offset = 0; offset + 76 <= bytes.size();
         offset += testing::getU16(bytes, offset + 70)) {
        order.push_back(testing::getU16(bytes, offset + 66));
    }
    return order;
}

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override { directory.loadFromBytes({}); }
    DeviceEntry* root() { return directory.entryAt(1); }
    DeviceEntry* add(EntryKind kind, const char16_t* label, DeviceEntry* parent) {
        DeviceEntry* entry = directory.createEntry(kind, label, parent);
        EXPECT_NE(entry, nullptr);
        return entry;
    }

    DeviceDirectory directory;
};

TEST_F(DirectoryTest, CreateTakesTheNextIndexAndGoesLast) {
    DeviceEntry* a = add(EntryKind::device, u"A", root());
    DeviceEntry* f = add(EntryKind::folder, u"F", nullptr);
    DeviceEntry* b = add(EntryKind::device, u"B", root());
    EXPECT_EQ(a->index(), 2);
    EXPECT_EQ(f->index(), 3);
    EXPECT_EQ(b->index(), 4);
    EXPECT_EQ(b->parentIndex(), 1);
    EXPECT_EQ(a->avFlags(), kAvVideo);
    EXPECT_EQ(f->parentIndex(), 0);
    EXPECT_EQ(directory.children(root()), (std::vector<DeviceEntry*>{a, b}));
    EXPECT_EQ(directory.children(nullptr), (std::vector<DeviceEntry*>{root(), f}));
    EXPECT_EQ(directory.nextIndex(), 5);
    EXPECT_EQ(savedIndexOrder(directory), (std::vector<uint16_t>{1, 2, 4, 3}));
    // Only folders of this directory take children.
    EXPECT_EQ(directory.createEntry(EntryKind::device, u"X", a), nullptr);
    DeviceEntry stranger(EntryKind::folder);
    EXPECT_EQ(directory.createEntry(EntryKind::device, u"X", &stranger), nullptr);
    expectSound(directory);
}

TEST_F(DirectoryTest, ThirtySecondEntryIsRefusedWithTheLimitMessage) {
    RecordingMessageSink sink;
    ScopedMessageSink scoped(sink);
    for (int i = 2; i <= 31; ++i) {
        add(EntryKind::device, u"D", root());
    }
    EXPECT_TRUE(sink.messages().empty());
    MirrorObserver mirror(directory);
    directory.addObserver(&mirror);
    EXPECT_TRUE(directory.full());
    EXPECT_EQ(directory.createEntry(EntryKind::folder, u"One too many", nullptr), nullptr);
    // The refusal is a value: the window that asked tells the user.
    EXPECT_TRUE(sink.messages().empty());
    EXPECT_TRUE(mirror.log.empty());
    EXPECT_EQ(directory.entryCount(), 31u);
    EXPECT_EQ(directory.nextIndex(), 32);
    directory.removeObserver(&mirror);
}

TEST_F(DirectoryTest, DeleteRenumbersIndicesParentsMembersAndTable) {
    // 1 Device { 2 Multi, 3 Cam }, 4 Site { 5 Door }; the multi-device holds 3 and 5.
    DeviceEntry* multi = add(EntryKind::multiDevice, u"Multi", root());
    DeviceEntry* cam = add(EntryKind::device, u"Cam", root());
    DeviceEntry* site = add(EntryKind::folder, u"Site", nullptr);
    DeviceEntry* door = add(EntryKind::device, u"Door", site);
    const std::vector<uint16_t> members{3, 5};
    multi->setMembers(members);

    EXPECT_TRUE(directory.deleteEntry(cam));
    EXPECT_EQ(directory.entryCount(), 4u);
    EXPECT_EQ(directory.nextIndex(), 5);
    EXPECT_EQ(multi->members(), (std::vector<uint16_t>{4}));
    EXPECT_EQ(directory.entryAt(4), door);
    EXPECT_EQ(door->index(), 4);
    EXPECT_EQ(site->index(), 3);
    EXPECT_EQ(door->parentIndex(), 3);
    EXPECT_EQ(directory.entryAt(5), nullptr);
    expectSound(directory);
}

TEST_F(DirectoryTest, DeleteRefusesRootParentsAndStrangersAndFixesTheSelection) {
    DeviceEntry* f = add(EntryKind::folder, u"F", root());
    DeviceEntry* d = add(EntryKind::device, u"D", f);
    DeviceEntry* e = add(EntryKind::device, u"E", root());
    DeviceEntry stranger(EntryKind::device);
    EXPECT_FALSE(directory.deleteEntry(root()));
    EXPECT_FALSE(directory.deleteEntry(f));  // still holds D
    EXPECT_FALSE(directory.deleteEntry(&stranger));
    EXPECT_FALSE(directory.deleteEntry(nullptr));
    EXPECT_EQ(directory.entryCount(), 4u);

    directory.setSelectionIndex(e->index());  // 4
    EXPECT_TRUE(directory.deleteEntry(d));
    EXPECT_EQ(directory.selectionIndex(), 3);  // E moved down with its index
    EXPECT_TRUE(directory.deleteEntry(e));
    EXPECT_EQ(directory.selectionIndex(), 1);  // the selected entry is gone
    EXPECT_TRUE(directory.deleteEntry(f));
    EXPECT_EQ(directory.entryCount(), 1u);
    expectSound(directory);
}

TEST_F(DirectoryTest, MovesCarrySubtreesAndKeepIndices) {
    // 1 Device { 2 Cam }, 3 Site { 4 Door, 5 Inner { 6 Deep } }
    DeviceEntry* cam = add(EntryKind::device, u"Cam", root());
    DeviceEntry* site = add(EntryKind::folder, u"Site", nullptr);
    DeviceEntry* door = add(EntryKind::device, u"Door", site);
    DeviceEntry* inner = add(EntryKind::folder, u"Inner", site);
    DeviceEntry* deep = add(EntryKind::device, u"Deep", inner);

    // Into a folder, after one of its children.
    ASSERT_TRUE(directory.moveEntry(site, root(), cam));
    EXPECT_EQ(site->parentIndex(), 1);
    EXPECT_EQ(site->index(), 3);
    EXPECT_EQ(directory.children(root()), (std::vector<DeviceEntry*>{cam, site}));
    EXPECT_EQ(directory.children(site), (std::vector<DeviceEntry*>{door, inner}));
    EXPECT_EQ(savedIndexOrder(directory), (std::vector<uint16_t>{1, 2, 3, 4, 5, 6}));

    // Out of a folder to the top level, first.
    ASSERT_TRUE(directory.moveEntry(inner, nullptr, nullptr));
    EXPECT_EQ(inner->parentIndex(), 0);
    EXPECT_EQ(deep->parentIndex(), 5);
    EXPECT_EQ(directory.children(nullptr), (std::vector<DeviceEntry*>{inner, root()}));
    EXPECT_EQ(savedIndexOrder(directory), (std::vector<uint16_t>{5, 6, 1, 2, 3, 4}));

    // Dropped onto the folder itself: last among its children.
    ASSERT_TRUE(directory.moveEntry(cam, site, site));
    EXPECT_EQ(directory.children(site), (std::vector<DeviceEntry*>{door, cam}));
    EXPECT_EQ(cam->parentIndex(), 3);

    // Into itself, its own subtree or a device: refused, nothing changes.
    EXPECT_FALSE(directory.moveEntry(site, site, nullptr));
    EXPECT_FALSE(directory.moveEntry(root(), site, nullptr));
    EXPECT_FALSE(directory.moveEntry(inner, door, nullptr));
    EXPECT_EQ(savedIndexOrder(directory), (std::vector<uint16_t>{5, 6, 1, 3, 4, 2}));
    expectSound(directory);

    // The root folder may stand inside another folder and still carries the
    // saved selection.
    ASSERT_TRUE(directory.moveEntry(root(), inner, deep));
    directory.setSelectionIndex(4);
    const std::vector<uint8_t> bytes = directory.fileBytes();
    EXPECT_EQ(testing::getU16(bytes, 76 + 208 + 66), 1);
    EXPECT_EQ(testing::getU16(bytes, 76 + 208 + 74), 4);
}

TEST_F(DirectoryTest, MovesWithinOneParentReportRowsTheWayItemModelsCountThem) {
    DeviceEntry* a = add(EntryKind::device, u"A", root());
    DeviceEntry* b = add(EntryKind::device, u"B", root());
    DeviceEntry* c = add(EntryKind::device, u"C", root());
    DeviceEntry* d = add(EntryKind::device, u"D", root());
    MirrorObserver mirror(directory);
    directory.addObserver(&mirror);

    ASSERT_TRUE(directory.moveEntry(a, root(), c));  // down: B C A D
    mirror.expectInStep();
    EXPECT_EQ(directory.children(root()), (std::vector<DeviceEntry*>{b, c, a, d}));
    ASSERT_TRUE(directory.moveEntry(d, root(), nullptr));  // up to the front: D B C A
    mirror.expectInStep();
    ASSERT_TRUE(directory.moveEntry(b, root(), root()));  // to the end: D C A B
    mirror.expectInStep();
    EXPECT_EQ(directory.children(root()), (std::vector<DeviceEntry*>{d, c, a, b}));

    // Moves that leave the entry where it is are not reported at all.
    mirror.log.clear();
    EXPECT_TRUE(directory.moveEntry(c, root(), d));
    EXPECT_TRUE(directory.moveEntry(c, root(), c));
    EXPECT_TRUE(directory.moveEntry(b, root(), root()));
    EXPECT_TRUE(mirror.log.empty());
    directory.removeObserver(&mirror);
}

TEST_F(DirectoryTest, NotificationsBracketEveryChangeInOrder) {
    MirrorObserver mirror(directory);
    directory.addObserver(&mirror);
    DeviceEntry* f = add(EntryKind::folder, u"F", nullptr);
    DeviceEntry* cam = add(EntryKind::device, u"Cam", root());
    DeviceEntry* multi = add(EntryKind::multiDevice, u"M", f);
    const std::vector<uint16_t> members{3};
    multi->setMembers(members);
    directory.notifyChanged(multi);
    ASSERT_TRUE(directory.moveEntry(cam, f, nullptr));
    ASSERT_TRUE(directory.deleteEntry(cam));
    EXPECT_EQ(multi->index(), 3);
    EXPECT_TRUE(multi->members().empty());
    directory.freeAll();

    EXPECT_EQ(mirror.log, (std::vector<std::string>{
                              "aboutToInsert",
                              "inserted",  // F
                              "aboutToInsert",
                              "inserted",  // Cam
                              "aboutToInsert",
                              "inserted",  // M
                              "changed",   // members set by the caller
                              "aboutToMove",
                              "moved",
                              "changed",  // Cam's parent index
                              "aboutToRemove",
                              "removed",
                              "changed",  // M: index 4 -> 3 and member 3 gone
                              "aboutToReset",
                              "reset",
                          }));
    EXPECT_EQ(directory.entryCount(), 0u);
    EXPECT_EQ(directory.nextIndex(), 1);
    EXPECT_EQ(directory.childCount(nullptr), 0);
    directory.removeObserver(&mirror);
}

TEST_F(DirectoryTest, MirrorStaysInStepThroughAMixedSequence) {
    MirrorObserver mirror(directory);
    directory.addObserver(&mirror);
    // A fixed pseudo-random walk of creates, moves and deletes.
    uint32_t state = 12345;
    auto next = [&state](uint32_t bound) {
        state = state * 1103515245u + 12345u;
        return (state >> 16) % bound;
    };
    for (int step = 0; step < 400; ++step) {
        const uint16_t count = static_cast<uint16_t>(directory.entryCount());
        DeviceEntry* some = directory.entryAt(static_cast<uint16_t>(1 + next(count)));
        DeviceEntry* other = directory.entryAt(static_cast<uint16_t>(1 + next(count)));
        DeviceEntry* folder = other->isFolder() ? other : directory.parent(other);
        switch (next(4)) {
            case 0:
                if (count < DeviceDirectory::kMaxEntries) {
                    directory.createEntry(next(2) ? EntryKind::folder : EntryKind::device, u"n",
                                          folder);
                }
                break;
            case 1: directory.moveEntry(some, folder, next(2) ? other : nullptr); break;
            case 2: directory.moveEntry(some, folder, folder); break;
            case 3: directory.deleteEntry(some); break;
        }
        mirror.expectInStep();
        expectSound(directory);
        if (HasFatalFailure()) {
            return;
        }
    }
    directory.removeObserver(&mirror);
}

}  // namespace
}  // namespace tess
