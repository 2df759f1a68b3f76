#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "snapshots/SnapshotBrowsing.h"
#include "snapshots/SnapshotFile.h"
#include "snapshots/SnapshotFolder.h"

namespace tess {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A JPEG-looking frame: start of image, some body bytes, end of image.
std::vector<uint8_t> fakeFrame(size_t bodyBytes) {
    std::vector<uint8_t> frame{0xFF, 0xD8};
    for (size_t i = 0; i < bodyBytes; ++i) frame.push_back(static_cast<uint8_t>(i * 7 + 3));
    frame.push_back(0xFF);
    frame.push_back(0xD9);
    return frame;
}

class SnapshotFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tess-snapshots-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        root_ = pattern;
        folder_ = (root_ / "Temp").string() + "/";
    }
    void TearDown() override { fs::remove_all(root_); }

    void touch(const std::string& name, size_t bytes = 10) {
        std::ofstream(folder_ + name, std::ios::binary) << std::string(bytes, 'x');
    }

    fs::path root_;
    std::string folder_;
};

TEST(SnapshotHeader, NameAndDateUseTwoDigitFields) {
    SnapshotHeader header;
    EXPECT_EQ(header.dateText(), "0000:00:00 00:00:00");
    // An earlier date with two-digit values everywhere must leave no digit.
    header.setDate({2006, 12, 31, 23, 59, 58});
    const SnapshotTime time{2007, 2, 1, 9, 5, 3};
    header.setDate(time);
    EXPECT_EQ(snapshotName(time), "20070201090503");
    EXPECT_EQ(header.dateText(), "2007:02:01 09:05:03");
    EXPECT_EQ(header.bytes()[SnapshotHeader::kDateAt + 19], 0);
}

// The file is the header and the frame from its third byte; a second one of
// the same second gets "-2" and replaces nothing. The folder is made when
// missing, and nothing but the snapshots stays in it.
TEST_F(SnapshotFolderTest, SavesWithoutReplacingAndPublishesWhole) {
    SnapshotHeader header;
    header.setDate({2007, 2, 1, 9, 5, 3});
    const std::vector<uint8_t> frame = fakeFrame(5000);
    const SavedSnapshot first = saveSnapshot(folder_, "20070201090503", header, frame);
    ASSERT_TRUE(first.saved) << first.error;
    EXPECT_EQ(first.fileName, "20070201090503.jpg");
    const std::vector<uint8_t> bytes = readAll(folder_ + first.fileName);
    ASSERT_EQ(bytes.size(), frame.size() + 74);
    EXPECT_TRUE(std::equal(header.bytes().begin(), header.bytes().end(), bytes.begin()));
    EXPECT_TRUE(std::equal(frame.begin() + 2, frame.end(), bytes.begin() + 76));
    // The Exif entry points at the date where it really is.
    EXPECT_EQ(bytes[12 + 44], '2');

    const std::vector<uint8_t> shorter = fakeFrame(10);
    const SavedSnapshot second = saveSnapshot(folder_, "20070201090503", header, shorter);
    ASSERT_TRUE(second.saved) << second.error;
    EXPECT_EQ(second.fileName, "20070201090503-2.jpg");
    EXPECT_EQ(readAll(folder_ + first.fileName).size(), frame.size() + 74);
    EXPECT_EQ(readAll(folder_ + second.fileName).size(), shorter.size() + 74);
    EXPECT_EQ(saveSnapshot(folder_, "20070201090503", header, frame).fileName,
              "20070201090503-3.jpg");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 3);
}

TEST_F(SnapshotFolderTest, AFailedSaveSaysWhyAndLeavesNoFile) {
    // Not a JPEG picture: it would make a broken file.
    EXPECT_FALSE(saveSnapshot(folder_, "1", SnapshotHeader{}, std::vector<uint8_t>{0, 1, 2}).saved);
    EXPECT_FALSE(saveSnapshot(folder_, "1", SnapshotHeader{}, std::vector<uint8_t>{0xFF}).saved);
    // A snapshot "folder" that is a file: nothing can go into it, whoever runs.
    std::ofstream(root_ / "Temp") << "not a folder";
    const SavedSnapshot saved = saveSnapshot(folder_, "1", SnapshotHeader{}, fakeFrame(100));
    EXPECT_FALSE(saved.saved);
    EXPECT_NE(saved.error.find(folder_), std::string::npos) << saved.error;
    EXPECT_EQ(std::distance(fs::directory_iterator(root_), fs::directory_iterator()), 1);
}

// Newest first by the date stem, then by the same-second number; temporary
// and other files are not snapshots.
TEST_F(SnapshotFolderTest, ListsNewestFirstWhateverTheOrderOfCreation) {
    fs::create_directory(folder_);
    for (const char* name :
         {"20070201090503-2.jpg", "20061005093007.jpg", "20070201090503.jpg",
          "20070201090503-10.jpg", "20080101000000.jpg", ".snapshot-Ab12Cd", "notes.txt", ".jpg"}) {
        touch(name);
    }
    EXPECT_EQ(listSnapshots(folder_),
              (std::vector<std::string>{"20080101000000.jpg", "20070201090503-10.jpg",
                                        "20070201090503-2.jpg", "20070201090503.jpg",
                                        "20061005093007.jpg"}));
    EXPECT_TRUE(listSnapshots(folder_ + "absent/").empty());
}

// Only regular files within the size limit are read, and nothing blocks.
TEST_F(SnapshotFolderTest, ReadsOnlyRegularFilesOfBoundedSize) {
    fs::create_directory(folder_);
    touch("a.jpg", 3000);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(readSnapshotFile(folder_ + "a.jpg", bytes));
    EXPECT_EQ(bytes.size(), 3000u);
    EXPECT_FALSE(readSnapshotFile(folder_ + "a.jpg", bytes, 2999));
    EXPECT_TRUE(bytes.empty());

    ASSERT_EQ(::mkfifo((folder_ + "pipe.jpg").c_str(), 0600), 0);
    fs::create_directory(folder_ + "folder.jpg");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(readSnapshotFile(folder_ + "pipe.jpg", bytes));
    EXPECT_FALSE(readSnapshotFile(folder_ + "folder.jpg", bytes));
    EXPECT_FALSE(readSnapshotFile(folder_ + "absent.jpg", bytes));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// The counting rules, on three snapshots listed newest first.
TEST(SnapshotCursor, StepsThroughThreeSnapshots) {
    const std::vector<std::string> listing{"L0", "L1", "L2"};
    SnapshotCursor cursor;
    cursor.open(listing, "L0");
    EXPECT_EQ(cursor.counterText(), "3/3");
    const auto expect = [&](const char* current, const char* counter) {
        EXPECT_EQ(cursor.current(), current);
        EXPECT_EQ(cursor.counterText(), counter);
    };
    cursor.previous(listing);
    expect("L1", "2/3");
    cursor.previous(listing);
    expect("L2", "1/3");
    cursor.previous(listing);
    expect("L2", "1/3");
    cursor.next(listing);
    expect("L1", "2/3");
    cursor.last(listing);
    expect("L0", "3/3");
    cursor.first(listing);
    expect("L2", "1/3");

    // Opened on L1, the count is 2 and stays so.
    cursor.open(listing, "L1");
    expect("L1", "2/2");
    cursor.next(listing);
    expect("L0", "2/2");

    // A name no longer listed: counted as the newest, NEXT goes to the oldest.
    cursor.open(listing, "gone");
    expect("gone", "3/3");
    cursor.previous(listing);
    expect("gone", "2/3");
    cursor.next(listing);
    expect("L2", "3/3");
}

TEST(SnapshotCursor, AnEmptyFolderStaysAtNothing) {
    const std::vector<std::string> none;
    SnapshotCursor cursor;
    cursor.open(none, "20070201090503.jpg");
    for (auto command : {&SnapshotCursor::previous, &SnapshotCursor::next, &SnapshotCursor::first,
                         &SnapshotCursor::last}) {
        (cursor.*command)(none);
        EXPECT_EQ(cursor.counterText(), "0/0");
    }
}

TEST(SnapshotCursor, DateTextFromTheName) {
    EXPECT_EQ(snapshotDateText("20061005093007.jpg"), "2006/10/05 09:30:07");
    EXPECT_EQ(snapshotDateText("20061005093007-2.jpg"), "2006/10/05 09:30:07");
    EXPECT_EQ(snapshotDateText("200610"), "2006/10/ ::");
    EXPECT_EQ(snapshotDateText(""), "// ::");
}

}  // namespace
}  // namespace tess
