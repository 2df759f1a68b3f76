#include "ptz/PtzRecord.h"

#include <algorithm>

#include "protocol/ModelCodes.h"

namespace tess::ptz {
namespace {

constexpr uint8_t kD0 = 0xD0;
constexpr uint8_t kPelco = 0xFF;
constexpr uint8_t kTrailer = 0x01;
constexpr uint8_t kTrailerMax = 0x14;  // ZoomInMax and ZoomOutMax
constexpr uint8_t kTrailerChannel = 0x32;
constexpr uint8_t kTrailerCommand = 0x23;
constexpr int kPelcoBase = 30;

// Offsets in a 10-byte camera record.
constexpr size_t kAddressAt = 2, kLevelAt = 3, kChecksumAt = 7, kTrailer1At = 8, kTrailer2At = 9;

bool isZoomMax(int code) {
    return code == 24 || code == 25;
}

PtzRecord cameraRecord(uint8_t start, uint8_t b3, uint8_t b4, uint8_t b5, uint8_t b6,
                       uint8_t trailer1) {
    PtzRecord record;
    record.bytes = {7, start, 0, b3, b4, b5, b6, 0, trailer1, kTrailerChannel};
    record.length = 10;
    return record;
}

// D0: level, op, data 1, data 2 (level filled at send time).
PtzRecord d0(uint8_t op, uint8_t data1, uint8_t data2, uint8_t trailer1 = kTrailer) {
    return cameraRecord(kD0, 0, op, data1, data2, trailer1);
}

PtzRecord pelco(uint8_t cmd1, uint8_t cmd2, uint8_t data1, uint8_t data2,
                uint8_t trailer1 = kTrailer) {
    return cameraRecord(kPelco, cmd1, cmd2, data1, data2, trailer1);
}

std::array<PtzRecord, kTemplateCount> buildTable() {
    constexpr uint8_t kPreset = 'P', kKey = 'K';
    std::array<PtzRecord, kTemplateCount> table{};
    for (uint8_t c = 0; c < 16; ++c) {
        table[c] = d0(kPreset, c, 0x00);
        table[kPelcoBase + c] = pelco(0x00, 0x07, c + 1, 0x00);
    }
    // Key masks are active low: one bit is 0.
    table[16] = d0(kKey, 0xEF, 0xFF);  // Up
    table[17] = d0(kKey, 0xDF, 0xFF);  // Down
    table[18] = d0(kKey, 0xBF, 0xFF);  // Left
    table[19] = d0(kKey, 0x7F, 0xFF);  // Right
    table[21] = d0(kKey, 0xFF, 0xEF);  // Auto
    table[22] = d0(kKey, 0xFE, 0xFF);  // ZoomIn
    table[23] = d0(kKey, 0xFD, 0xFF);  // ZoomOut
    table[24] = d0(kKey, 0xFE, 0xFF, kTrailerMax);
    table[25] = d0(kKey, 0xFD, 0xFF, kTrailerMax);
    table[26] = d0(kKey, 0xF7, 0xFF);  // FocusIn
    table[27] = d0(kKey, 0xFB, 0xFF);  // FocusOut
    // Pelco-D: cmd2 0x02 right, 0x04 left, 0x08 up, 0x10 down, 0x20 tele,
    // 0x40 wide, 0x80 focus far; cmd1 0x01 focus near.
    table[kPelcoBase + 16] = pelco(0x00, 0x08, 0x20, 0x20);
    table[kPelcoBase + 17] = pelco(0x00, 0x10, 0x20, 0x20);
    table[kPelcoBase + 18] = pelco(0x00, 0x04, 0x20, 0x20);
    table[kPelcoBase + 19] = pelco(0x00, 0x02, 0x20, 0x20);
    table[kPelcoBase + 20] = pelco(0x00, 0x00, 0x00, 0x00);  // stop
    table[kPelcoBase + 22] = pelco(0x00, 0x20, 0x00, 0x00);
    table[kPelcoBase + 23] = pelco(0x00, 0x40, 0x00, 0x00);
    table[kPelcoBase + 24] = pelco(0x00, 0x20, 0x20, 0x20, kTrailerMax);
    table[kPelcoBase + 25] = pelco(0x00, 0x40, 0x20, 0x20, kTrailerMax);
    table[kPelcoBase + 26] = pelco(0x01, 0x00, 0x00, 0x00);
    table[kPelcoBase + 27] = pelco(0x00, 0x80, 0x00, 0x00);
    return table;
}

uint8_t sum(const PtzRecord& record, size_t from, size_t to) {
    unsigned total = 0;
    for (size_t i = from; i < to; ++i) total += record.bytes[i];
    return static_cast<uint8_t>(total);
}

}  // namespace

std::string PtzRecord::hexText() const {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : view()) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

const std::array<PtzRecord, kTemplateCount>& templateTable() {
    static const std::array<PtzRecord, kTemplateCount> table = buildTable();
    return table;
}

std::optional<PtzRecord> actionRecord(int code, Protocol protocol, Form form, uint8_t address,
                                      uint8_t userLevel) {
    if (code < 0 || code >= kActionCount) return std::nullopt;
    PtzRecord record = templateTable()[protocol == Protocol::D0 ? code : kPelcoBase + code];
    if (record.length == 0) return std::nullopt;
    record.bytes[kAddressAt] = address;
    if (protocol == Protocol::D0) {
        record.bytes[kLevelAt] = userLevel;
        record.bytes[kChecksumAt] = sum(record, 1, kChecksumAt);
    } else {
        record.bytes[kChecksumAt] = sum(record, kAddressAt, kChecksumAt);
    }
    const bool keepsChannelTrailer = protocol == Protocol::D0 && isZoomMax(code);
    if (form == Form::Command && !keepsChannelTrailer) record.bytes[kTrailer2At] = kTrailerCommand;
    return record;
}

uint8_t keyCharacter(int keyCode) {
    if (keyCode <= 63) return static_cast<uint8_t>(keyCode - 6);
    if (keyCode <= 70) return static_cast<uint8_t>(keyCode + 1);
    return static_cast<uint8_t>(keyCode);
}

PtzRecord keyRecord(int deviceClass, int keyCode, uint8_t address) {
    PtzRecord record;
    const CommandRoute route = classTraits(deviceClass).keys;
    if (route == CommandRoute::SlaveChannel) {
        record.bytes = {1, static_cast<uint8_t>(keyCode), kTrailer, kTrailerChannel};
        record.length = 4;
        return record;
    }
    const uint8_t trailer2 =
        route == CommandRoute::MasterChannel ? kTrailerChannel : kTrailerCommand;
    record.bytes = {5, 0xFF, 0xC0, address, keyCharacter(keyCode), 0x7F, kTrailer, trailer2};
    record.length = 8;
    return record;
}

PtzRecord aimCellRecord(uint8_t address, uint8_t userLevel, uint8_t cell) {
    constexpr uint8_t kAimCell = 'R';
    PtzRecord record = cameraRecord(kD0, userLevel, kAimCell, cell, 0x00, kTrailer);
    record.bytes[kAddressAt] = address;
    record.bytes[kChecksumAt] = sum(record, 1, kChecksumAt);
    return record;
}

std::optional<uint8_t> gridCell(int x, int y, uint16_t width, uint16_t height) {
    constexpr int kColumns = 16, kRows = 6;
    if (width < kColumns || height < kRows) return std::nullopt;
    const int column = std::clamp(x / (width / kColumns), 0, kColumns - 1);
    const int row = std::clamp(y / (height / kRows), 0, kRows - 1);
    return static_cast<uint8_t>(row * kColumns | column);
}

}  // namespace tess::ptz
