#include "directory/DeviceEntry.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace tess {

bool isEntryKind(uint16_t value) {
    return value >= static_cast<uint16_t>(EntryKind::folder) &&
           value <= static_cast<uint16_t>(EntryKind::multiDevice);
}

uint16_t recordSizeFor(EntryKind kind) {
    switch (kind) {
        case EntryKind::folder: return kFolderRecordSize;
        case EntryKind::device: return kDeviceRecordSize;
        case EntryKind::multiDevice: return kMultiDeviceRecordSize;
    }
    return 0;
}

// Image list: 0 open folder, 1 closed folder, 2 recorder, 3 second recorder.
uint8_t treeImageFor(EntryKind kind) {
    switch (kind) {
        case EntryKind::folder: return 1;
        case EntryKind::device: return 2;
        case EntryKind::multiDevice: return 3;
    }
    return 0;
}

uint8_t treeSelectedImageFor(EntryKind kind) {
    return kind == EntryKind::folder ? 0 : treeImageFor(kind);
}

DeviceEntry::DeviceEntry(EntryKind kind) {
    assert(isEntryKind(static_cast<uint16_t>(kind)));
    setU16(kKindAt, static_cast<uint16_t>(kind));
    setU16(kRecordSizeAt, recordSizeFor(kind));
    bytes_[kImageAt] = treeImageFor(kind);
    bytes_[kSelectedImageAt] = treeSelectedImageFor(kind);
}

std::optional<DeviceEntry> DeviceEntry::fromRecord(std::span<const uint8_t> bytes) {
    if (bytes.size() < kFolderRecordSize) {
        return std::nullopt;
    }
    const uint16_t kind = static_cast<uint16_t>(bytes[kKindAt] | bytes[kKindAt + 1] << 8);
    const uint16_t size =
        static_cast<uint16_t>(bytes[kRecordSizeAt] | bytes[kRecordSizeAt + 1] << 8);
    if (!isEntryKind(kind) || size != recordSizeFor(static_cast<EntryKind>(kind)) ||
        size > bytes.size()) {
        return std::nullopt;
    }
    DeviceEntry entry;
    std::memcpy(entry.bytes_.data(), bytes.data(), size);
    return entry;
}

uint16_t DeviceEntry::u16(size_t offset) const {
    return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
}

void DeviceEntry::setU16(size_t offset, uint16_t value) {
    bytes_[offset] = static_cast<uint8_t>(value & 0xff);
    bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

std::u16string DeviceEntry::text(size_t offset, size_t chars) const {
    // A field without a terminator reads as its first `chars` units: the last
    // unit of the field is the terminator's place.
    std::u16string result;
    for (size_t i = 0; i < chars; ++i) {
        const char16_t unit = static_cast<char16_t>(u16(offset + 2 * i));
        if (unit == 0) {
            break;
        }
        result.push_back(unit);
    }
    return result;
}

void DeviceEntry::setText(size_t offset, size_t chars, std::u16string_view text) {
    text = text.substr(0, std::min(text.find(u'\0'), chars));
    if (text.size() == chars && text.back() >= 0xD800 && text.back() <= 0xDBFF) {
        text.remove_suffix(1);  // the low half of the pair did not fit
    }
    std::memset(bytes_.data() + offset, 0, 2 * (chars + 1));
    for (size_t i = 0; i < text.size(); ++i) {
        setU16(offset + 2 * i, static_cast<uint16_t>(text[i]));
    }
}

std::u16string DeviceEntry::label() const {
    return text(kLabelAt, kLabelChars);
}
void DeviceEntry::setLabel(std::u16string_view text) {
    setText(kLabelAt, kLabelChars, text);
}

std::u16string DeviceEntry::userName() const {
    assert(isDevice());
    return text(kUserNameAt, kUserNameChars);
}
void DeviceEntry::setUserName(std::u16string_view text) {
    assert(isDevice());
    setText(kUserNameAt, kUserNameChars, text);
}

std::u16string DeviceEntry::password() const {
    assert(isDevice());
    return text(kPasswordAt, kPasswordChars);
}
void DeviceEntry::setPassword(std::u16string_view text) {
    assert(isDevice());
    setText(kPasswordAt, kPasswordChars, text);
}

std::u16string DeviceEntry::address() const {
    assert(isDevice());
    return text(kAddressAt, kAddressChars);
}
void DeviceEntry::setAddress(std::u16string_view text) {
    assert(isDevice());
    setText(kAddressAt, kAddressChars, text);
}

uint16_t DeviceEntry::port() const {
    assert(isDevice());
    return u16(kPortAt);
}
void DeviceEntry::setPort(uint16_t port) {
    assert(isDevice());
    setU16(kPortAt, port);
}

uint16_t DeviceEntry::avFlags() const {
    assert(isDevice());
    return u16(kAvFlagsAt);
}
void DeviceEntry::setAvFlags(uint16_t flags) {
    assert(isDevice());
    setU16(kAvFlagsAt, flags);
}

uint8_t DeviceEntry::multiType() const {
    assert(isMultiDevice());
    return bytes_[kMultiTypeAt];
}
void DeviceEntry::setMultiType(uint8_t type) {
    assert(isMultiDevice());
    bytes_[kMultiTypeAt] = type;
}

uint8_t DeviceEntry::displayTimeIndex() const {
    assert(isMultiDevice());
    return bytes_[kDisplayTimeIndexAt];
}
void DeviceEntry::setDisplayTimeIndex(uint8_t timeIndex) {
    assert(isMultiDevice());
    bytes_[kDisplayTimeIndexAt] = timeIndex;
}

std::vector<uint16_t> DeviceEntry::members() const {
    assert(isMultiDevice());
    const size_t count = std::min<size_t>(u16(kMemberCountAt), kMemberSlots);
    std::vector<uint16_t> result(count);
    for (size_t i = 0; i < count; ++i) {
        result[i] = u16(kMembersAt + 2 * i);
    }
    return result;
}

void DeviceEntry::setMembers(std::span<const uint16_t> members) {
    assert(isMultiDevice());
    const size_t count = std::min(members.size(), kMemberSlots);
    std::memset(bytes_.data() + kMembersAt, 0, 2 * kMemberSlots);
    for (size_t i = 0; i < count; ++i) {
        setU16(kMembersAt + 2 * i, members[i]);
    }
    setU16(kMemberCountAt, static_cast<uint16_t>(count));
}

}  // namespace tess
