#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tess {

// The snapshot files ("*.jpg") of `folder` (ending with a separator), newest
// first: by the fourteen-digit date stem descending, then by the same-second
// number descending ("-3" before "-2" before none). Empty when the folder is
// missing or unreadable.
std::vector<std::string> listSnapshots(const std::string& folder);

// True when snapshot `a` is listed before `b`.
bool newerSnapshotFirst(std::string_view a, std::string_view b);

// Snapshot files larger than this are not read.
inline constexpr size_t kMaxSnapshotBytes = 16 * 1024 * 1024;

// Reads the whole snapshot file at `path` into `bytes`. Only a regular file
// is read, opened without blocking (a FIFO or device named like a snapshot
// cannot hold the caller), and only up to `maxBytes`. False, with `bytes`
// empty, for anything else.
bool readSnapshotFile(const std::string& path, std::vector<uint8_t>& bytes,
                      size_t maxBytes = kMaxSnapshotBytes);

}  // namespace tess
