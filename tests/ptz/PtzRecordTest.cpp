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

TEST(PtzRecord, TemplateTableHoldsTwentyFiveRecordsOfEachProtocol) {
    const auto& table = templateTable();
    for (int code = 0; code < 30; ++code) {
        const bool d0Empty = code == 20 || code >= 28;
        const bool pelcoEmpty = code == 21 || code >= 28;
        EXPECT_EQ(table[code].length, d0Empty ? 0 : 10) << code;
        EXPECT_EQ(table[30 + code].length, pelcoEmpty ? 0 : 10) << code;
        if (!d0Empty) {
            EXPECT_EQ(table[code].bytes[1], 0xD0) << code;
        }
        if (!pelcoEmpty) {
            EXPECT_EQ(table[30 + code].bytes[1], 0xFF) << code;
        }
    }
    // Presets: D0 "P" c 00; Pelco 00 07 (c + 1) 00, the preset in data 1.
    EXPECT_EQ(hex(actionRecord(15, Protocol::D0, Form::Channel, 2, 0)), "07d00200500f00310132");
    EXPECT_EQ(hex(actionRecord(15, Protocol::Pelco, Form::Channel, 2, 0)), "07ff0200071000190132");
}

TEST(PtzRecord, TrailersFollowTheCodeAndTheForm) {
    struct Case {
        int code;
        Protocol protocol;
        Form form;
        uint8_t trailer1, trailer2;
    };
    const Case cases[] = {
        {22, Protocol::D0, Form::Command, 0x01, 0x23},     // ZoomIn
        {24, Protocol::D0, Form::Command, 0x14, 0x32},     // ZoomInMax keeps 0x32
        {25, Protocol::D0, Form::Command, 0x14, 0x32},     // ZoomOutMax keeps 0x32
        {24, Protocol::Pelco, Form::Command, 0x14, 0x23},  // but not in Pelco
        {16, Protocol::D0, Form::Channel, 0x01, 0x32},     // channel forms keep 0x32
        {24, Protocol::Pelco, Form::PelcoChannel, 0x14, 0x32},
        {0, Protocol::Pelco, Form::Command, 0x01, 0x23},
    };
    for (const Case& c : cases) {
        const auto record = actionRecord(c.code, c.protocol, c.form, 1, 0);
        ASSERT_TRUE(record) << c.code;
        EXPECT_EQ(record->bytes[8], c.trailer1) << c.code;
        EXPECT_EQ(record->bytes[9], c.trailer2) << c.code;
    }
}

TEST(PtzRecord, ChecksumsWrapAndOnlyD0TakesTheUserLevel) {
    // D0: D0 + FF + 3C + 4B + EF + FF wraps past 0x300.
    const auto d0 = actionRecord(16, Protocol::D0, Form::Command, 0xFF, 60);
    EXPECT_EQ(d0->bytes[3], 60);
    EXPECT_EQ(d0->bytes[7], static_cast<uint8_t>(0xD0 + 0xFF + 0x3C + 0x4B + 0xEF + 0xFF));
    // Pelco: the sum leaves out the start byte, and command 1 stays.
    const auto pelco = actionRecord(26, Protocol::Pelco, Form::Command, 0xFF, 60);
    EXPECT_EQ(pelco->bytes[3], 0x01);
    EXPECT_EQ(pelco->bytes[7], static_cast<uint8_t>(0xFF + 0x01));
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
