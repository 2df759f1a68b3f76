#include <gtest/gtest.h>

#include <string>

#include "ptz/PtzRecord.h"

namespace tess::ptz {
namespace {

std::string hex(const std::optional<PtzRecord>& record) {
    return record ? record->hexText() : "none";
}

TEST(PtzRecord, WorkedRecordsOfAddressOneAtUserLevelSixty) {
    // Up to a D0 camera, and to a Pelco camera followed by its stop.
    EXPECT_EQ(hex(actionRecord(16, Protocol::D0, Form::Command, 1, 60)), "07d0013c4befff460123");
    EXPECT_EQ(hex(actionRecord(16, Protocol::Pelco, Form::Command, 1, 60)), "07ff0100082020490123");
    EXPECT_EQ(hex(actionRecord(kActionStop, Protocol::Pelco, Form::Command, 1, 60)),
              "07ff0100000000010123");
    // Channel 3 (key 57) to a class 1 device.
    EXPECT_EQ(keyRecord(1, 57, 1).hexText(), "05ffc001337f0123");
}

TEST(PtzRecord, EmptyRecordsAndCodesOutsideTheTableSendNothing) {
    for (int code : {-1, 20, 28, 29, 30, 255}) {
        EXPECT_FALSE(actionRecord(code, Protocol::D0, Form::Command, 1, 0)) << code;
    }
    for (int code : {21, 28, 29, 30, -5}) {
        EXPECT_FALSE(actionRecord(code, Protocol::Pelco, Form::Command, 1, 0)) << code;
    }
}

TEST(PtzRecord, KeyCharactersAndKeyRecords) {
    const std::pair<int, char> characters[] = {{55, '1'}, {63, '9'}, {64, 'A'},
                                               {70, 'G'}, {81, 'Q'}, {112, 'p'}};
    for (const auto& [key, character] : characters) {
        EXPECT_EQ(keyCharacter(key), static_cast<uint8_t>(character)) << key;
    }
    // Class 3 takes the key code itself: key 64 goes as 0x40, not "A".
    EXPECT_EQ(keyRecord(3, 64, 9).hexText(), "01400132");
    EXPECT_EQ(keyRecord(50, 64, 7).hexText(), "05ffc007417f0132");
    EXPECT_EQ(keyRecord(1, 64, 7).hexText(), "05ffc007417f0123");
}

TEST(PtzRecord, AimCellRecordKeepsItsTrailerInEveryForm) {
    // 07 D0 addr level "R" cell 00 sum 01 32
    const PtzRecord record = aimCellRecord(3, 20, 0x16);
    EXPECT_EQ(record.hexText(), "07d003145216004f0132");
}

TEST(PtzRecord, GridCellsAndTheirEdges) {
    // 240 x 180: rows of 30, columns of 15.
    EXPECT_EQ(gridCell(0, 0, 240, 180), 0x00);
    EXPECT_EQ(gridCell(100, 50, 240, 180), 0x16);
    EXPECT_EQ(gridCell(239, 179, 240, 180), 0x5F);
    // 240 x 165: rows of 27, so y 162 ... 165 would be row 6; x 240 column 16.
    EXPECT_EQ(gridCell(120, 161, 240, 165), 0x58);
    EXPECT_EQ(gridCell(120, 165, 240, 165), 0x58);
    EXPECT_EQ(gridCell(240, 0, 240, 165), 0x0F);
    EXPECT_EQ(gridCell(-3, -3, 240, 165), 0x00);
    // Too small a picture for the grid.
    EXPECT_FALSE(gridCell(0, 0, 15, 165));
    EXPECT_FALSE(gridCell(0, 0, 240, 5));
}

}  // namespace
}  // namespace tess::ptz
