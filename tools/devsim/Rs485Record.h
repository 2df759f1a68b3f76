#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tess::devsim {

// What a PTZ command asks the camera to do.
enum class PtzAction {
    None,
    Preset,
    Up,
    Down,
    Left,
    Right,
    Stop,
    Auto,
    ZoomIn,
    ZoomOut,
    ZoomInMax,
    ZoomOutMax,
    FocusIn,
    FocusOut,
    AimCell
};
const char* ptzActionName(PtzAction action);

// One RS-485 command record as a device takes it from RS485Cmd.cgi:
//
//   +---+-------------------+----------+----------+
//   | n | n message bytes   | trailer1 | trailer2 |
//   +---+-------------------+----------+----------+
//
// Messages: a remote-control key (n = 1: the key code; n = 5: FF C0 address
// key-character 7F), a D0 camera message (D0 address level op data1 data2 sum)
// or a Pelco-D message (FF address cmd1 cmd2 data1 data2 sum).
struct Rs485Record {
    enum class Kind { Key, D0, Pelco };
    Kind kind = Kind::Key;
    std::vector<uint8_t> bytes;  // the whole record as received
    uint8_t address = 0;
    uint8_t userLevel = 0;  // D0 only
    int keyCode = -1;       // Key: the viewer's key code (55..70 are channels 1..16)
    PtzAction action = PtzAction::None;
    int preset = 0;          // Preset: 1-based preset number
    int cell = -1;           // AimCell: row * 16 | column
    bool checksumOk = true;  // camera messages: the last message byte is right
    uint8_t trailer1 = 0, trailer2 = 0;
};

// Decodes a record; nullopt (with `error` set) when its length or shape is wrong.
std::optional<Rs485Record> decodeRs485(const std::vector<uint8_t>& bytes, std::string& error);
// The record bytes of a Command= text: two hexadecimal digits per byte.
std::optional<std::vector<uint8_t>> parseHexRecord(std::string_view text);

}  // namespace tess::devsim
