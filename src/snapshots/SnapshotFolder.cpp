#include "snapshots/SnapshotFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <memory>

namespace tess {
namespace {

constexpr std::string_view kExtension = ".jpg";
constexpr size_t kStemDigits = 14;

// A snapshot's place in time: its stem, and its number among the snapshots
// of one second (1 for the first, which has no "-n").
struct SnapshotKey {
    std::string_view stem;
    unsigned copy = 1;
};

SnapshotKey keyOf(std::string_view name) {
    if (name.ends_with(kExtension)) name.remove_suffix(kExtension.size());
    SnapshotKey key{name, 1};
    if (name.size() > kStemDigits + 1 && name[kStemDigits] == '-') {
        const std::string_view copy = name.substr(kStemDigits + 1);
        unsigned number = 0;
        const auto [end, error] = std::from_chars(copy.data(), copy.data() + copy.size(), number);
        if (error == std::errc{} && end == copy.data() + copy.size()) {
            key = {name.substr(0, kStemDigits), number};
        }
    }
    return key;
}

}  // namespace

bool newerSnapshotFirst(std::string_view a, std::string_view b) {
    const SnapshotKey keyA = keyOf(a);
    const SnapshotKey keyB = keyOf(b);
    if (keyA.stem != keyB.stem) return keyA.stem > keyB.stem;
    if (keyA.copy != keyB.copy) return keyA.copy > keyB.copy;
    return a > b;
}

std::vector<std::string> listSnapshots(const std::string& folder) {
    std::vector<std::string> names;
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(folder.c_str()), ::closedir);
    if (!listing) return names;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() > kExtension.size() && name.ends_with(kExtension)) names.emplace_back(name);
    }
    std::sort(names.begin(), names.end(), newerSnapshotFirst);
    return names;
}

bool readSnapshotFile(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes) {
    bytes.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
              static_cast<uint64_t>(status.st_size) <= maxBytes;
    if (ok) {
        // The file may shrink or grow while it is read: read to its end, and
        // one byte past the limit at most to tell that it is too large.
        const size_t limit = maxBytes + 1;
        bytes.resize(std::min(static_cast<size_t>(status.st_size) + 1, limit));
        size_t filled = 0;
        for (;;) {
            if (filled == bytes.size()) {
                if (bytes.size() >= limit) break;
                bytes.resize(std::min(limit, bytes.size() * 2));
            }
            const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            filled += static_cast<size_t>(got);
        }
        ok = ok && filled <= maxBytes;
        bytes.resize(filled);
    }
    ::close(fd);
    if (!ok) bytes.clear();
    return ok;
}

}  // namespace tess
