#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordBytes.h"
#include "directory/DeviceEntry.h"

namespace tess {
namespace {

using testing::getU16;

std::vector<uint8_t> bytesOf(const DeviceEntry& entry) {
    return {entry.bytes().begin(), entry.bytes().end()};
}

TEST(DeviceEntry, DeviceFieldsLandAtTheirOffsetsLittleEndian) {
    DeviceEntry entry(EntryKind::device);
    entry.setLabel(u"Gate");
    entry.setUserName(u"admin");
    entry.setPassword(u"pw");
    entry.setAddress(u"192.168.1.20");
    entry.setPort(0x1F90);
    entry.setAvFlags(kAvVideo | kAvAudio);
    const std::vector<uint8_t> bytes = bytesOf(entry);
    ASSERT_EQ(bytes.size(), 208u);
    EXPECT_EQ(getU16(bytes, 68), 2);
    EXPECT_EQ(getU16(bytes, 70), 208);
    EXPECT_EQ(bytes[72], 2);
    EXPECT_EQ(bytes[73], 2);
    EXPECT_EQ((std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10)),
              (std::vector<uint8_t>{'G', 0, 'a', 0, 't', 0, 'e', 0, 0, 0}));
    EXPECT_EQ(bytes[76], 'a');
    EXPECT_EQ(bytes[108], 'p');
    EXPECT_EQ(bytes[110], 'w');
    EXPECT_EQ(bytes[140], '1');
    EXPECT_EQ(bytes[204], 0x90);
    EXPECT_EQ(bytes[205], 0x1F);
    EXPECT_EQ(getU16(bytes, 206), 3);
    EXPECT_EQ(entry.address(), u"192.168.1.20");
    EXPECT_EQ(entry.port(), 0x1F90);
}

TEST(DeviceEntry, LongTextsAreCutToTheirFieldWithTerminator) {
    DeviceEntry entry(EntryKind::device);
    entry.setLabel(std::u16string(40, u'x'));
    entry.setUserName(u"a-user-name-of-twenty");
    entry.setPassword(std::u16string(16, u'p'));
    entry.setAddress(std::u16string(32, u'9'));
    EXPECT_EQ(entry.label(), std::u16string(31, u'x'));
    EXPECT_EQ(entry.userName(), u"a-user-name-of-");
    EXPECT_EQ(entry.password(), std::u16string(15, u'p'));
    EXPECT_EQ(entry.address(), std::u16string(31, u'9'));
    const std::vector<uint8_t> bytes = bytesOf(entry);
    EXPECT_EQ(getU16(bytes, 62), 0);   // label terminator
    EXPECT_EQ(getU16(bytes, 64), 0);   // parentIndex untouched
    EXPECT_EQ(getU16(bytes, 106), 0);  // user name terminator
    EXPECT_EQ(getU16(bytes, 138), 0);  // password terminator
    EXPECT_EQ(getU16(bytes, 202), 0);  // address terminator
}

TEST(DeviceEntry, CutNeverSplitsASurrogatePairAndShorterTextClearsTheField) {
    DeviceEntry entry(EntryKind::device);
    std::u16string label(30, u'a');
    label += u"\U0001F600";  // two units at positions 30 and 31
    entry.setLabel(label);
    EXPECT_EQ(entry.label(), std::u16string(30, u'a'));

    entry.setPassword(u"longpassword123");
    entry.setPassword(u"ab");
    const std::vector<uint8_t> bytes = bytesOf(entry);
    for (size_t offset = 112; offset < 140; ++offset) {
        EXPECT_EQ(bytes[offset], 0) << "stale password byte at " << offset;
    }
}

TEST(DeviceEntry, UnterminatedFieldReadsAsItsCapacity) {
    std::vector<uint8_t> bytes = testing::folder(1, 0, u"");
    for (size_t i = 0; i < 32; ++i) {
        testing::putU16(bytes, 2 * i, u'z');
    }
    const auto entry = DeviceEntry::fromRecord(bytes);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->label(), std::u16string(31, u'z'));
}

TEST(DeviceEntry, MembersAreBoundedByTheirSlots) {
    DeviceEntry entry(EntryKind::multiDevice);
    std::vector<uint16_t> many(40);
    for (size_t i = 0; i < many.size(); ++i) {
        many[i] = static_cast<uint16_t>(i + 1);
    }
    entry.setMembers(many);
    EXPECT_EQ(entry.members().size(), 32u);
    EXPECT_EQ(getU16(bytesOf(entry), 78), 32);
    const std::vector<uint16_t> two{5, 3};
    entry.setMembers(two);
    const std::vector<uint8_t> bytes = bytesOf(entry);
    EXPECT_EQ(getU16(bytes, 78), 2);
    EXPECT_EQ(getU16(bytes, 80), 5);
    EXPECT_EQ(getU16(bytes, 82), 3);
    EXPECT_EQ(getU16(bytes, 84), 0);  // former third member cleared

    // A count field beyond the slots reads as 32 members, never past them.
    std::vector<uint8_t> raw = testing::multiDevice(2, 1, u"M", {2, 3}, 500);
    EXPECT_EQ(DeviceEntry::fromRecord(raw)->members().size(), 32u);
}

TEST(DeviceEntry, FromRecordNeedsAWholeRecordOfAKnownKindAndMatchingSize) {
    const std::vector<uint8_t> good = testing::device(2, 1, u"D");
    EXPECT_TRUE(DeviceEntry::fromRecord(good));
    EXPECT_FALSE(DeviceEntry::fromRecord(std::span(good).first(207)));
    EXPECT_FALSE(DeviceEntry::fromRecord(std::span(good).first(75)));
    EXPECT_FALSE(DeviceEntry::fromRecord(testing::record(4, 76, 1, 0, u"X")));
    EXPECT_FALSE(DeviceEntry::fromRecord(testing::record(0, 76, 1, 0, u"X")));
    EXPECT_FALSE(DeviceEntry::fromRecord(testing::record(1, 0, 1, 0, u"X")));
    EXPECT_FALSE(DeviceEntry::fromRecord(testing::record(1, 208, 1, 0, u"X")));
    EXPECT_FALSE(DeviceEntry::fromRecord(testing::record(2, 144, 1, 0, u"X")));
}

}  // namespace
}  // namespace tess
