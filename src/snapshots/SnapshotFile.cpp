#include "snapshots/SnapshotFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace tess {
namespace {

constexpr std::array<uint8_t, SnapshotHeader::kDateAt> kHeaderStart{
    0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x48, 0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x49, 0x49,
    0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x69, 0x87, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x90,
    0x02, 0x00, 0x14, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
constexpr std::string_view kUndated = "0000:00:00 00:00:00";
// Snapshots of one second beyond this many are refused rather than searched on.
constexpr int kMaxSameSecond = 999;

// Writes all of `bytes`, across short writes and interruptions.
bool writeAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes += written;
        count -= static_cast<size_t>(written);
    }
    return true;
}

// Publishes the complete file `from` as `to` unless `to` exists; errno tells
// why not. File systems without the no-replace rename get a hard link, which
// also refuses to replace, and the temporary name goes.
bool publishWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

std::string describe(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

}  // namespace

SnapshotTime SnapshotTime::localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string snapshotName(const SnapshotTime& t) {
    char name[32];
    std::snprintf(name, sizeof name, "%d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return name;
}

SnapshotHeader::SnapshotHeader() {
    bytes_.fill(0);
    std::memcpy(bytes_.data(), kHeaderStart.data(), kHeaderStart.size());
    std::memcpy(bytes_.data() + kDateAt, kUndated.data(), kUndated.size());
}

void SnapshotHeader::setDate(const SnapshotTime& t) {
    // Every field is written at its fixed width, so no digit of an earlier
    // date survives; a year beyond four digits is cut rather than let run
    // into the terminator.
    char text[64];
    std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", t.year % 10000, t.month,
                  t.day, t.hour, t.minute, t.second);
    std::memcpy(bytes_.data() + kDateAt, text, kDateChars);
    bytes_[kDateAt + kDateChars] = 0;
}

std::string_view SnapshotHeader::dateText() const {
    return {reinterpret_cast<const char*>(bytes_.data() + kDateAt), kDateChars};
}

SavedSnapshot saveSnapshot(const std::string& folder, std::string_view stem,
                           const SnapshotHeader& header, std::span<const uint8_t> frame) {
    if (frame.size() < 2 || frame[0] != 0xFF || frame[1] != 0xD8) {
        return {false, {}, "the frame is not a JPEG picture"};
    }
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        return {false, {}, describe(folder, errno)};
    }
    // Unique per save, so two panes saving in the same second never share it;
    // it does not end in ".jpg", so the browser never lists it.
    std::string temporary = folder + ".snapshot-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return {false, {}, describe(folder, errno)};
    const auto body = frame.subspan(2);
    bool ok = ::fchmod(fd, 0644) == 0 &&
              writeAll(fd, header.bytes().data(), SnapshotHeader::kSize) &&
              writeAll(fd, body.data(), body.size());
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    for (int copy = 1; ok && copy <= kMaxSameSecond; ++copy) {
        std::string name(stem);
        if (copy > 1) name += "-" + std::to_string(copy);
        name += ".jpg";
        if (publishWithoutReplacing(temporary, folder + name)) return {true, name, {}};
        if (errno != EEXIST) {
            ok = false;
            error = errno;
        }
    }
    ::unlink(temporary.c_str());
    return {false, {}, describe(folder + std::string(stem) + ".jpg", ok ? EEXIST : error)};
}

}  // namespace tess
