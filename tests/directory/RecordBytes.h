#pragma once

// Directory records written byte by byte, independently of DeviceEntry, so the
// tests state the file layout themselves.

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace tess::testing {

inline void putU16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    bytes[offset] = static_cast<uint8_t>(value & 0xff);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t getU16(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

inline void putText(std::vector<uint8_t>& bytes, size_t offset, std::u16string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        putU16(bytes, offset + 2 * i, text[i]);
    }
}

// Header fields at 0 label, 64 parent, 66 index, 68 kind, 70 size, 72/73
// images, 74 selection; the record is `size` bytes long, but never shorter
// than the header so that bad sizes can be written too.
inline std::vector<uint8_t> record(uint16_t kind, uint16_t size, uint16_t index, uint16_t parent,
                                   std::u16string_view label, uint16_t selection = 0) {
    std::vector<uint8_t> bytes(size < 76 ? 76 : size, 0);
    putText(bytes, 0, label);
    putU16(bytes, 64, parent);
    putU16(bytes, 66, index);
    putU16(bytes, 68, kind);
    putU16(bytes, 70, size);
    const uint8_t image = kind == 1 ? 1 : static_cast<uint8_t>(kind);
    bytes[72] = image;
    bytes[73] = kind == 1 ? 0 : image;
    putU16(bytes, 74, selection);
    return bytes;
}

inline std::vector<uint8_t> folder(uint16_t index, uint16_t parent, std::u16string_view label,
                                   uint16_t selection = 0) {
    return record(1, 76, index, parent, label, selection);
}

inline std::vector<uint8_t> device(uint16_t index, uint16_t parent, std::u16string_view label,
                                   std::u16string_view address = u"10.0.0.7", uint16_t port = 80) {
    std::vector<uint8_t> bytes = record(2, 208, index, parent, label);
    putText(bytes, 76, u"admin");
    putText(bytes, 108, u"secret");
    putText(bytes, 140, address);
    putU16(bytes, 204, port);
    putU16(bytes, 206, 1);
    return bytes;
}

inline std::vector<uint8_t> multiDevice(uint16_t index, uint16_t parent, std::u16string_view label,
                                        std::initializer_list<uint16_t> members,
                                        uint16_t countField = 0xffff) {
    std::vector<uint8_t> bytes = record(3, 144, index, parent, label);
    bytes[76] = 1;  // Quad
    bytes[77] = 2;  // 15 s
    putU16(bytes, 78, countField == 0xffff ? static_cast<uint16_t>(members.size()) : countField);
    size_t slot = 0;
    for (const uint16_t member : members) {
        putU16(bytes, 80 + 2 * slot++, member);
    }
    return bytes;
}

inline std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> records) {
    std::vector<uint8_t> out;
    for (const auto& r : records) {
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

}  // namespace tess::testing
