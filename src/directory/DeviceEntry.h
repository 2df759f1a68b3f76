#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tess {

// The three kinds of directory record; the value is the record's `kind` field.
enum class EntryKind : uint16_t { folder = 1, device = 2, multiDevice = 3 };

inline constexpr size_t kFolderRecordSize = 76;  // the common header alone
inline constexpr size_t kDeviceRecordSize = 208;
inline constexpr size_t kMultiDeviceRecordSize = 144;
inline constexpr size_t kLargestRecordSize = kDeviceRecordSize;

// Longest texts, in UTF-16 code units; each field also holds a terminator.
inline constexpr size_t kLabelChars = 31;
inline constexpr size_t kAddressChars = 31;
inline constexpr size_t kUserNameChars = 15;
inline constexpr size_t kPasswordChars = 15;

inline constexpr size_t kMemberSlots = 32;

// `avFlags` bits of a device.
inline constexpr uint16_t kAvVideo = 1;
inline constexpr uint16_t kAvAudio = 2;

// `multiType` of a multi-device.
inline constexpr uint8_t kMultiTypeSwitch = 0;  // members one after another
inline constexpr uint8_t kMultiTypeQuad = 1;    // up to four members at once

bool isEntryKind(uint16_t value);
uint16_t recordSizeFor(EntryKind kind);
// Numbers in the tree's image list. The tree shows these for every entry of
// the kind, whatever a loaded record's image bytes hold.
uint8_t treeImageFor(EntryKind kind);
uint8_t treeSelectedImageFor(EntryKind kind);

// One record of device.inf. Its bytes in memory are its bytes in the file:
// integers little-endian, texts UTF-16LE in fixed fields with a terminator,
// read and written here explicitly so the layout holds on any host.
//
//   0  label[32 units]   64 parentIndex  66 index  68 kind  70 recordSize
//   72 image  73 selectedImage  74 selectionIndex                  (76 bytes)
// device:
//   76 userName[16]  108 password[16]  140 address[32]  204 port  206 avFlags
// multi-device:
//   76 multiType  77 displayTimeIndex  78 memberCount  80 members[32 x u16]
//
// `index`, `parentIndex` and `selectionIndex` belong to the DeviceDirectory,
// which keeps them consistent with the tree; everything else is the caller's.
// The kind-specific accessors are for entries of that kind only.
class DeviceEntry {
public:
    // A zeroed record of `kind` with its size and tree images filled in.
    explicit DeviceEntry(EntryKind kind);

    // The record at the start of `bytes`, or nothing when the bytes do not
    // begin with a whole record of a known kind whose size field matches it.
    static std::optional<DeviceEntry> fromRecord(std::span<const uint8_t> bytes);

    // The record as stored: recordSize() bytes.
    std::span<const uint8_t> bytes() const { return {bytes_.data(), recordSize()}; }

    EntryKind kind() const { return static_cast<EntryKind>(u16(kKindAt)); }
    uint16_t recordSize() const { return u16(kRecordSizeAt); }
    uint16_t index() const { return u16(kIndexAt); }
    uint16_t parentIndex() const { return u16(kParentIndexAt); }
    uint16_t selectionIndex() const { return u16(kSelectionIndexAt); }
    bool isFolder() const { return kind() == EntryKind::folder; }
    bool isDevice() const { return kind() == EntryKind::device; }
    bool isMultiDevice() const { return kind() == EntryKind::multiDevice; }

    // Texts are cut to their field: a longer text keeps its first characters
    // (never half of a surrogate pair) and the rest of the field is cleared.
    std::u16string label() const;
    void setLabel(std::u16string_view text);

    // Device.
    std::u16string userName() const;
    void setUserName(std::u16string_view text);
    std::u16string password() const;
    void setPassword(std::u16string_view text);
    std::u16string address() const;
    void setAddress(std::u16string_view text);
    uint16_t port() const;
    void setPort(uint16_t port);
    uint16_t avFlags() const;
    void setAvFlags(uint16_t flags);

    // Multi-device.
    uint8_t multiType() const;
    void setMultiType(uint8_t type);
    uint8_t displayTimeIndex() const;
    void setDisplayTimeIndex(uint8_t timeIndex);
    // The valid members, at most 32 whatever the count field holds.
    std::vector<uint16_t> members() const;
    // Stores at most 32 members and clears the unused slots.
    void setMembers(std::span<const uint16_t> members);

private:
    friend class DeviceDirectory;

    static constexpr size_t kLabelAt = 0;
    static constexpr size_t kParentIndexAt = 64;
    static constexpr size_t kIndexAt = 66;
    static constexpr size_t kKindAt = 68;
    static constexpr size_t kRecordSizeAt = 70;
    static constexpr size_t kImageAt = 72;
    static constexpr size_t kSelectedImageAt = 73;
    static constexpr size_t kSelectionIndexAt = 74;
    static constexpr size_t kUserNameAt = 76;
    static constexpr size_t kPasswordAt = 108;
    static constexpr size_t kAddressAt = 140;
    static constexpr size_t kPortAt = 204;
    static constexpr size_t kAvFlagsAt = 206;
    static constexpr size_t kMultiTypeAt = 76;
    static constexpr size_t kDisplayTimeIndexAt = 77;
    static constexpr size_t kMemberCountAt = 78;
    static constexpr size_t kMembersAt = 80;

    DeviceEntry() = default;

    void setIndex(uint16_t index) { setU16(kIndexAt, index); }
    void setParentIndex(uint16_t index) { setU16(kParentIndexAt, index); }
    void setSelectionIndex(uint16_t index) { setU16(kSelectionIndexAt, index); }

    uint16_t u16(size_t offset) const;
    void setU16(size_t offset, uint16_t value);
    // `chars` is the longest text; the field is one unit longer.
    std::u16string text(size_t offset, size_t chars) const;
    void setText(size_t offset, size_t chars, std::u16string_view text);

    std::array<uint8_t, kLargestRecordSize> bytes_{};
};

}  // namespace tess
