#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tess {

// A local date and time to the second, as a snapshot is named and dated.
struct SnapshotTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    static SnapshotTime localNow();
};

// The snapshot's name without extension: the year, then month, day, hour,
// minute and second as two digits each ("20070201090503").
std::string snapshotName(const SnapshotTime& time);

// The 76 bytes a snapshot file starts with, in place of the frame's own
// start-of-image marker: start of image, then an APP1 Exif segment whose one
// directory entry points at an Exif directory holding DateTimeOriginal.
//
//   0  FF D8                     start of image
//   2  FF E1  00 48              APP1, length 72 (big-endian, counts itself)
//   6  "Exif" 00 00
//  12  49 49 2A 00 08 00 00 00   TIFF header, little-endian, directory at 8
//  20  01 00                     one entry:
//  22  69 87 04 00 01 00 00 00 1A 00 00 00   Exif directory at TIFF offset 26
//  34  00 00 00 00               no next directory
//  38  01 00                     Exif directory, one entry:
//  40  03 90 02 00 14 00 00 00 2C 00 00 00   DateTimeOriginal, 20 bytes of
//                                            text at TIFF offset 44
//  52  00 00 00 00               no next directory
//  56  "YYYY:MM:DD hh:mm:ss" 00
//
// TIFF offsets count from byte 12.
class SnapshotHeader {
public:
    static constexpr size_t kSize = 76;
    static constexpr size_t kDateAt = 56;
    static constexpr size_t kDateChars = 19;

    // Dated "0000:00:00 00:00:00".
    SnapshotHeader();

    void setDate(const SnapshotTime& time);
    std::string_view dateText() const;
    std::span<const uint8_t, kSize> bytes() const { return bytes_; }

private:
    std::array<uint8_t, kSize> bytes_;
};

// What saving a snapshot gave: the name under which the file was published
// ("20070201090503.jpg"), or why it could not be saved.
struct SavedSnapshot {
    bool saved = false;
    std::string fileName;
    std::string error;
};

// Saves one snapshot file into `folder` (ending with a separator; created
// when missing): the header, then the received frame from its byte 2 on (its
// own start-of-image marker is left out, the header begins with one), so the
// file is the frame's length + 74 bytes.
//
// The file is written under a temporary name of its own (never listed as a
// snapshot) and published without replacing anything: as `stem` + ".jpg", or,
// when a snapshot of the same second exists, `stem` + "-2.jpg", "-3.jpg", ...
// A failed save leaves no file behind. Fails for a frame that does not start
// with a JPEG start of image.
SavedSnapshot saveSnapshot(const std::string& folder, std::string_view stem,
                           const SnapshotHeader& header, std::span<const uint8_t> frame);

}  // namespace tess
