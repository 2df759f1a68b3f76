#include "Rs485Record.h"

namespace tess::devsim {
namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The viewer sends keys 55..63 as "1".."9", 64..70 as "A".."G" and larger
// codes unchanged; this undoes that.
int keyCodeOfCharacter(uint8_t character) {
    if (character <= '9') return character + 6;
    if (character >= 'A' && character <= 'G') return character - 1;
    return character;
}

uint8_t sum(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
    unsigned total = 0;
    for (size_t i = from; i <= to; ++i) total += bytes[i];
    return static_cast<uint8_t>(total);
}

void decodeD0(Rs485Record& record) {
    const auto& b = record.bytes;
    record.kind = Rs485Record::Kind::D0;
    record.address = b[2];
    record.userLevel = b[3];
    record.checksumOk = sum(b, 1, 6) == b[7];
    const uint8_t op = b[4], data1 = b[5], data2 = b[6];
    const bool max = record.trailer1 == 20;
    if (op == 'P') {
        record.action = PtzAction::Preset;
        record.preset = data1 + 1;
    } else if (op == 'R') {
        record.action = PtzAction::AimCell;
        record.cell = data1;
    } else if (op == 'K') {
        // Active-low key mask: exactly one bit of data1/data2 is clear.
        const int mask = (data1 << 8) | data2;
        switch (mask) {
            case 0xEFFF: record.action = PtzAction::Up; break;
            case 0xDFFF: record.action = PtzAction::Down; break;
            case 0xBFFF: record.action = PtzAction::Left; break;
            case 0x7FFF: record.action = PtzAction::Right; break;
            case 0xFFEF: record.action = PtzAction::Auto; break;
            case 0xFEFF: record.action = max ? PtzAction::ZoomInMax : PtzAction::ZoomIn; break;
            case 0xFDFF: record.action = max ? PtzAction::ZoomOutMax : PtzAction::ZoomOut; break;
            case 0xF7FF: record.action = PtzAction::FocusIn; break;
            case 0xFBFF: record.action = PtzAction::FocusOut; break;
            default: break;
        }
    }
}

void decodePelco(Rs485Record& record) {
    const auto& b = record.bytes;
    record.kind = Rs485Record::Kind::Pelco;
    record.address = b[2];
    record.checksumOk = sum(b, 2, 6) == b[7];
    const uint8_t command1 = b[3], command2 = b[4], data1 = b[5];
    if (command1 == 0x01 && command2 == 0) {
        record.action = PtzAction::FocusIn;
        return;
    }
    if (command1 != 0) return;
    switch (command2) {
        case 0x00: record.action = PtzAction::Stop; break;
        case 0x07:
            record.action = PtzAction::Preset;
            record.preset = data1;
            break;
        case 0x08: record.action = PtzAction::Up; break;
        case 0x10: record.action = PtzAction::Down; break;
        case 0x04: record.action = PtzAction::Left; break;
        case 0x02: record.action = PtzAction::Right; break;
        case 0x20: record.action = data1 ? PtzAction::ZoomInMax : PtzAction::ZoomIn; break;
        case 0x40: record.action = data1 ? PtzAction::ZoomOutMax : PtzAction::ZoomOut; break;
        case 0x80: record.action = PtzAction::FocusOut; break;
        default: break;
    }
}

}  // namespace

const char* ptzActionName(PtzAction action) {
    static const char* const kNames[] = {
        "None",   "Preset",  "Up",        "Down",       "Left",    "Right",    "Stop",   "Auto",
        "ZoomIn", "ZoomOut", "ZoomInMax", "ZoomOutMax", "FocusIn", "FocusOut", "AimCell"};
    return kNames[static_cast<int>(action)];
}

std::optional<std::vector<uint8_t>> parseHexRecord(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

std::optional<Rs485Record> decodeRs485(const std::vector<uint8_t>& bytes, std::string& error) {
    if (bytes.empty() || bytes.size() != static_cast<size_t>(bytes[0]) + 3) {
        error = "record length does not match its count byte";
        return std::nullopt;
    }
    Rs485Record record;
    record.bytes = bytes;
    const size_t n = bytes[0];
    record.trailer1 = bytes[n + 1];
    record.trailer2 = bytes[n + 2];
    if (n == 1) {
        record.keyCode = bytes[1];
    } else if (n == 5 && bytes[1] == 0xFF && bytes[2] == 0xC0 && bytes[5] == 0x7F) {
        record.address = bytes[3];
        record.keyCode = keyCodeOfCharacter(bytes[4]);
    } else if (n == 7 && bytes[1] == 0xD0) {
        decodeD0(record);
    } else if (n == 7 && bytes[1] == 0xFF) {
        decodePelco(record);
    } else {
        error = "unknown record shape";
        return std::nullopt;
    }
    return record;
}

}  // namespace tess::devsim
