#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "RecordBytes.h"
#include "directory/DeviceDirectory.h"

namespace tess {
namespace {

namespace fs = std::filesystem;
using testing::concat;
using testing::device;
using testing::folder;
using testing::getU16;
using testing::multiDevice;
using testing::record;

class DirectoryFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tess-directory-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        file_ = folder_ / "device.inf";
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(folder_, error);
    }

    void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<fs::path> folderContents() {
        std::vector<fs::path> names;
        for (const auto& item : fs::directory_iterator(folder_)) {
            names.push_back(item.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder_;
    fs::path file_;
    DeviceDirectory directory;
};

TEST_F(DirectoryFileTest, WithoutAFileTheRootAloneSavesAs76BytesAndComesBack) {
    EXPECT_EQ(directory.loadDirectory(file_), LoadResult::Missing);
    ASSERT_EQ(directory.entryCount(), 1u);
    EXPECT_EQ(directory.entryAt(1)->label(), u"Device");
    EXPECT_EQ(directory.nextIndex(), 2);
    ASSERT_TRUE(directory.saveDirectory(file_));
    EXPECT_EQ(readFile(file_), folder(1, 0, u"Device", 1));
    EXPECT_EQ(folderContents(), std::vector<fs::path>{"device.inf"});

    DeviceDirectory again;
    EXPECT_EQ(again.loadDirectory(file_), LoadResult::Complete);
    ASSERT_EQ(again.entryCount(), 1u);
    EXPECT_EQ(again.entryAt(1)->label(), u"Device");
    EXPECT_EQ(again.selectionIndex(), 1);
    EXPECT_EQ(again.fileBytes(), folder(1, 0, u"Device", 1));
}

// A file that exists but cannot be read is no missing file: the caller must
// not save over it. A folder in its place opens but reads nothing, even for
// root; a file without read permission fails to open for anyone else.
TEST_F(DirectoryFileTest, AFileThatCannotBeReadIsToldApartFromNoFile) {
    fs::create_directory(file_);
    EXPECT_EQ(directory.loadDirectory(file_), LoadResult::Unreadable);
    EXPECT_EQ(directory.entryCount(), 1u);
    EXPECT_EQ(folderContents(), std::vector<fs::path>{"device.inf"});  // no ".damaged" copy
    fs::remove(file_);

    // A file without read permission, read by a user who is not root (root
    // reads any file): a child process drops to "nobody" for the load.
    writeFile(file_, folder(1, 0, u"Device", 1));
    fs::permissions(file_, fs::perms::none);
    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        constexpr uid_t kNobody = 65534;
        const bool dropped = ::geteuid() != 0 || (::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
        DeviceDirectory reading;
        ::_exit(dropped && reading.loadDirectory(file_) == LoadResult::Unreadable ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(reader, &status, 0), reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(DirectoryFileTest, RecordsAreReadByTheirSizeField) {
    const std::vector<uint8_t> bytes =
        concat({folder(1, 0, u"Device", 2), device(2, 1, u"Gate", u"10.1.2.3", 8080)});
    ASSERT_EQ(bytes.size(), 284u);
    // The device record starts at 76; its own fields after its header, at 152.
    EXPECT_EQ(bytes[76], 'G');
    EXPECT_EQ(bytes[152], 'a');       // user name
    EXPECT_EQ(bytes[152 + 32], 's');  // password
    EXPECT_EQ(bytes[152 + 64], '1');  // address
    EXPECT_EQ(getU16(bytes, 152 + 128), 8080);
    writeFile(file_, bytes);

    ASSERT_EQ(directory.loadDirectory(file_), LoadResult::Complete);
    const DeviceEntry* gate = directory.entryAt(2);
    ASSERT_NE(gate, nullptr);
    ASSERT_TRUE(gate->isDevice());
    EXPECT_EQ(gate->label(), u"Gate");
    EXPECT_EQ(gate->userName(), u"admin");
    EXPECT_EQ(gate->password(), u"secret");
    EXPECT_EQ(gate->address(), u"10.1.2.3");
    EXPECT_EQ(gate->port(), 8080);
    EXPECT_EQ(gate->avFlags(), kAvVideo);
    EXPECT_EQ(directory.parent(gate), directory.entryAt(1));
    EXPECT_EQ(directory.selectionIndex(), 2);
    // Unchanged, the directory writes back the same bytes.
    ASSERT_TRUE(directory.saveDirectory(file_));
    EXPECT_EQ(readFile(file_), bytes);
}

TEST_F(DirectoryFileTest, SelectionIsReadOnlyFromIndexOneAndWrittenToTopLevelRecords) {
    std::vector<uint8_t> inner = device(3, 1, u"Cam");
    testing::putU16(inner, 74, 2);
    const std::vector<uint8_t> bytes =
        concat({folder(2, 0, u"Other", 3), folder(1, 0, u"Device", 3), inner});
    ASSERT_TRUE(directory.loadFromBytes(bytes));
    EXPECT_EQ(directory.selectionIndex(), 3);

    directory.setSelectionIndex(2);
    const std::vector<uint8_t> saved = directory.fileBytes();
    EXPECT_EQ(getU16(saved, 74), 2);
    EXPECT_EQ(getU16(saved, 76 + 74), 2);
    EXPECT_EQ(getU16(saved, 152 + 74), 2);  // inner record keeps what it had

    // No valid selection: the root folder.
    directory.setSelectionIndex(0);
    EXPECT_EQ(directory.selectionIndex(), 1);
    directory.setSelectionIndex(4);
    EXPECT_EQ(directory.selectionIndex(), 1);
    EXPECT_TRUE(directory.loadFromBytes(folder(1, 0, u"Device", 9)));
    EXPECT_EQ(directory.selectionIndex(), 1);
}

struct DamageCase {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t goodEntries;  // kept before the added root folder
};

class DamagedFileTest : public DirectoryFileTest,
                        public ::testing::WithParamInterface<DamageCase> {};

TEST_P(DamagedFileTest, KeepsTheGoodEntriesAndAddsARootWithDenseIndices) {
    const DamageCase& damage = GetParam();
    writeFile(file_, damage.bytes);
    EXPECT_NE(directory.loadDirectory(file_), LoadResult::Complete);
    ASSERT_EQ(directory.entryCount(), damage.goodEntries + 1);
    for (uint16_t index = 1; index < directory.nextIndex(); ++index) {
        const DeviceEntry* entry = directory.entryAt(index);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->index(), index);
        const DeviceEntry* parent = directory.parent(entry);
        EXPECT_EQ(entry->parentIndex(), parent ? parent->index() : 0);
    }
    const DeviceEntry* added = directory.entryAt(directory.nextIndex() - 1);
    EXPECT_EQ(added->label(), u"Device");
    EXPECT_TRUE(added->isFolder());
    EXPECT_EQ(added->parentIndex(), 0);
    EXPECT_EQ(directory.row(added), directory.childCount(nullptr) - 1);
    EXPECT_EQ(directory.entryAt(1)->kind(), EntryKind::folder);

    // The damaged original is kept, and what is saved now reads back whole.
    EXPECT_EQ(readFile(folder_ / "device.inf.damaged"), damage.bytes);
    ASSERT_TRUE(directory.saveDirectory(file_));
    DeviceDirectory again;
    EXPECT_EQ(again.loadDirectory(file_), LoadResult::Complete);
    EXPECT_EQ(again.fileBytes(), readFile(file_));
}

std::vector<uint8_t> goodStart() {
    return concat({folder(1, 0, u"Device", 1), device(2, 1, u"Cam")});
}

std::vector<uint8_t> truncated(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOfDamage, DamagedFileTest,
    ::testing::Values(
        DamageCase{"UnknownKind", concat({goodStart(), record(4, 76, 3, 1, u"?")}), 2},
        DamageCase{"KindZero", concat({goodStart(), record(0, 76, 3, 1, u"?")}), 2},
        DamageCase{"SizeZero", concat({goodStart(), record(1, 0, 3, 1, u"?")}), 2},
        DamageCase{"SizeOfAnotherKind", concat({goodStart(), record(2, 144, 3, 1, u"?")}), 2},
        DamageCase{"RunsPastTheEnd", concat({goodStart(), truncated(device(3, 1, u"D"), 150)}), 2},
        DamageCase{"TrailingBytes", concat({goodStart(), std::vector<uint8_t>(10, 0)}), 2},
        DamageCase{"IndexZero", concat({goodStart(), folder(0, 1, u"?")}), 2},
        DamageCase{"IndexTooLarge", concat({goodStart(), folder(32, 1, u"?")}), 2},
        DamageCase{"ParentTooLarge", concat({goodStart(), folder(3, 40, u"?")}), 2},
        DamageCase{"ParentNotLoaded", concat({goodStart(), folder(3, 4, u"?")}), 2},
        DamageCase{"ParentIsADevice", concat({goodStart(), folder(3, 2, u"?")}), 2},
        DamageCase{"ParentIsItself", concat({goodStart(), folder(3, 3, u"?")}), 2},
        DamageCase{"DuplicateIndex", concat({goodStart(), folder(2, 1, u"?")}), 2},
        DamageCase{"IndexOneNotAFolder", concat({device(1, 0, u"D"), folder(2, 0, u"F")}), 0},
        DamageCase{"IndexGap", concat({goodStart(), folder(4, 1, u"?")}), 2},
        // 3 Site { 2 Door } and 5 after a gap: 5 goes, 1 ... 3 stay dense.
        DamageCase{"GapAfterNesting",
                   concat({folder(1, 0, u"Device"), folder(3, 0, u"Site"), device(2, 3, u"Door"),
                           device(5, 1, u"Far")}),
                   3},
        // 4 Site { 2 Door } with 3 missing: 4 goes, and 2 with it, so only 1 stays.
        DamageCase{"GapUnderAChild",
                   concat({folder(1, 0, u"Device"), folder(4, 0, u"Site"), device(2, 4, u"Door")}),
                   1},
        DamageCase{"DamageFirst", record(9, 76, 1, 0, u"?"), 0},
        DamageCase{"ShorterThanARecord", std::vector<uint8_t>(40, 1), 0}),
    [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

TEST_F(DirectoryFileTest, MembersNamingNoEntryAreDroppedOnLoad) {
    const std::vector<uint8_t> bytes = concat(
        {folder(1, 0, u"Device"), device(2, 1, u"A"), multiDevice(3, 1, u"M", {2, 0, 7, 3, 2})});
    ASSERT_TRUE(directory.loadFromBytes(bytes));
    EXPECT_EQ(directory.entryAt(3)->members(), (std::vector<uint16_t>{2, 3, 2}));
    // A count beyond the 32 slots is cut to the slots.
    ASSERT_TRUE(directory.loadFromBytes(
        concat({folder(1, 0, u"Device"), multiDevice(2, 1, u"M", {1, 2}, 40)})));
    const std::vector<uint8_t> saved = directory.fileBytes();
    EXPECT_EQ(getU16(saved, 76 + 78), 2);
}

TEST_F(DirectoryFileTest, AFullDirectoryWithTrailingDamageStaysFull) {
    std::vector<uint8_t> bytes = folder(1, 0, u"Device");
    for (uint16_t index = 2; index <= 31; ++index) {
        const std::vector<uint8_t> next = device(index, 1, u"D");
        bytes.insert(bytes.end(), next.begin(), next.end());
    }
    const std::vector<uint8_t> extra = device(32, 1, u"D");
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    EXPECT_FALSE(directory.loadFromBytes(bytes));
    EXPECT_EQ(directory.entryCount(), 31u);
    EXPECT_EQ(directory.entryAt(31)->label(), u"D");
}

TEST_F(DirectoryFileTest, SavedFileIsPrivateToItsOwner) {
    directory.loadFromBytes({});
    writeFile(file_, {1, 2, 3});
    ::chmod(file_.c_str(), 0644);
    ASSERT_TRUE(directory.saveDirectory(file_));
    struct stat info {};
    ASSERT_EQ(::stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(DirectoryFileTest, FailedWriteLeavesThePreviousFileAndNoLeftovers) {
    const std::vector<uint8_t> previous = folder(1, 0, u"Device", 1);
    writeFile(file_, previous);
    ASSERT_EQ(directory.loadDirectory(file_), LoadResult::Complete);
    directory.createEntry(EntryKind::device, u"Cam", directory.entryAt(1));

    // The file size limit makes the write of the 284-byte directory fail
    // part-way, as a full disk would.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool result = directory.saveDirectory(file_);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(result);
    EXPECT_EQ(readFile(file_), previous);
    EXPECT_EQ(folderContents(), std::vector<fs::path>{"device.inf"});
    // Once writing works again the save goes through.
    EXPECT_TRUE(directory.saveDirectory(file_));
    EXPECT_EQ(readFile(file_).size(), 284u);
}

// A save killed at any moment leaves the complete old or the complete new
// file, and at most a temporary beside it, which the next start removes.
TEST_F(DirectoryFileTest, SaveKilledAtAnyMomentLeavesAWholeFile) {
    DeviceDirectory other;
    other.loadFromBytes({});
    other.createEntry(EntryKind::device, u"Cam", other.entryAt(1));
    directory.loadFromBytes({});
    const std::vector<uint8_t> first = directory.fileBytes(), second = other.fileBytes();
    ASSERT_TRUE(directory.saveDirectory(file_));

    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> delayUs(0, 8000);
    for (int round = 0; round < 200; ++round) {
        const pid_t saver = ::fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            for (;;) {
                directory.saveDirectory(file_);
                other.saveDirectory(file_);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        const std::vector<uint8_t> bytes = readFile(file_);
        ASSERT_TRUE(bytes == first || bytes == second) << "round " << round;
    }
    DeviceDirectory::removeStaleSaveFiles(file_);
    EXPECT_EQ(folderContents(), std::vector<fs::path>{"device.inf"});
}

TEST_F(DirectoryFileTest, SaveIntoAMissingFolderFails) {
    directory.loadFromBytes({});
    EXPECT_FALSE(directory.saveDirectory(folder_ / "missing" / "device.inf"));
    EXPECT_FALSE(fs::exists(folder_ / "missing"));
}

TEST_F(DirectoryFileTest, SaveOverSomethingThatIsNotAFileFailsWithoutLeftovers) {
    directory.loadFromBytes({});
    fs::create_directory(file_);
    fs::create_directory(file_ / "keep");
    EXPECT_FALSE(directory.saveDirectory(file_));
    EXPECT_TRUE(fs::is_directory(file_ / "keep"));
    EXPECT_EQ(folderContents(), std::vector<fs::path>{"device.inf"});
}

}  // namespace
}  // namespace tess
