#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tess::ptz {

// One RS-485 command record as it travels in an RS485Cmd.cgi body:
//
//   +---+-------------------+----------+----------+
//   | n | n message bytes   | trailer1 | trailer2 |
//   +---+-------------------+----------+----------+
//
//   D0 message (n = 7):    D0 address level op data1 data2 sum(D0..data2)
//   Pelco-D message (7):   FF address cmd1 cmd2 data1 data2 sum(address..data2)
//   key message (n = 1):   the key code             (class 3)
//   key message (n = 5):   FF C0 address character 7F   (classes 1 and 50)
//
// trailer1 is 1, or 0x14 for the ZoomInMax and ZoomOutMax records; trailer2
// is 0x32 or 0x23 by request form. A record is n + 3 bytes long.
struct PtzRecord {
    static constexpr size_t kMaxBytes = 10;

    std::array<uint8_t, kMaxBytes> bytes{};
    uint8_t length = 0;

    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
    // Every byte as two lower-case hexadecimal digits, for the Command form.
    std::string hexText() const;
};

enum class Protocol { D0, Pelco };

// The RS485Cmd.cgi forms a record is sent in.
enum class Form { Command, Channel, PelcoChannel, MasterKey, ChannelKey };

// PTZ action codes: 0 ... 15 presets 1 ... 16, then the buttons.
inline constexpr int kActionCount = 28;
inline constexpr int kActionStop = 20;  // sent by the viewer after a Pelco command

// The 60 template records: D0 action c at c, Pelco action c at 30 + c. Built
// on first use and only read afterwards; address, user level and checksum
// are filled in when a record is sent.
inline constexpr size_t kTemplateCount = 60;
const std::array<PtzRecord, kTemplateCount>& templateTable();

// Action `code` of `protocol`, ready to send in `form` to camera `address`:
// the D0 message takes the user level, both get their checksum, and trailer2
// is 0x23 in the Command form (0x32 for D0 ZoomInMax and ZoomOutMax and in
// the channel forms). None for an empty record or a code outside 0 ... 27.
std::optional<PtzRecord> actionRecord(int code, Protocol protocol, Form form, uint8_t address,
                                      uint8_t userLevel);

// The character a key code travels as to classes 1 and 50: keys 55 ... 63
// are "1" ... "9", 64 ... 70 are "A" ... "G", larger ones go as they are.
uint8_t keyCharacter(int keyCode);

// A remote-control key record: class 3 takes the key code itself (01 w 01 32),
// classes 1 and 50 the key character for camera `address`
// (05 FF C0 address character 7F 01, then 0x23 for class 1, 0x32 for 50).
PtzRecord keyRecord(int deviceClass, int keyCode, uint8_t address);

// The D0 "R" record that turns a camera to a cell of its picture; trailer2
// is 0x32 in every form.
PtzRecord aimCellRecord(uint8_t address, uint8_t userLevel, uint8_t cell);

// The cell of the 16 x 6 grid over a width x height picture that holds
// (x, y): row * 16 | column, the inner divisions first and truncating. Points
// on or past an edge count to the nearest cell; none for a picture too small
// to hold the grid.
std::optional<uint8_t> gridCell(int x, int y, uint16_t width, uint16_t height);

}  // namespace tess::ptz
