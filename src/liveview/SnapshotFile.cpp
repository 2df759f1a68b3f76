#include "liveview/SnapshotFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tess {
namespace {

constexpr std::array<uint8_t, SnapshotHeader::kDateAt> kHeaderStart{
    0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x48, 0x45, 0x78, 0x69, 0x66, 0x00, 0x00, 0x49, 0x49,
    0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x69, 0x87, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x90,
    0x02, 0x00, 0x14, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};
constexpr std::string_view kUndated = "0000:00:00 00:00:00";

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

SnapshotFile::SnapshotFile(std::string path, const SnapshotHeader& header)
    : path_(std::move(path)), header_(header) {}

bool SnapshotFile::write(std::span<const uint8_t> frame) {
    if (frame.size() < 2 || frame[0] != 0xFF || frame[1] != 0xD8) {
        error_ = "the frame is not a JPEG picture";
        return false;
    }
    const std::string partial = path_ + ".part";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error_ = partial + ": " + std::strerror(errno);
        return false;
    }
    const auto body = frame.subspan(2);
    bool ok = writeAll(fd, header_.bytes().data(), SnapshotHeader::kSize) &&
              writeAll(fd, body.data(), body.size());
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && std::rename(partial.c_str(), path_.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        error_ = path_ + ": " + std::strerror(savedErrno);
        ::unlink(partial.c_str());
        return false;
    }
    error_.clear();
    return true;
}

}  // namespace tess
