#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tess {

// Where the snapshot browser stands among the snapshots listed newest first:
// the file shown and the counter "position/count" below it. Every command
// takes the listing as it is now; the count is fixed when the browser opens,
// and the position moves by the commands' own rules even where the file
// shown does not. An empty listing reads "0/0" and no command changes it.
class SnapshotCursor {
public:
    // Opening on `current`: the count is the number of snapshots up to and
    // including `current` counted from the newest, or all of them when
    // `current` is the newest or not listed; the position is the count.
    void open(const std::vector<std::string>& listing, std::string current);
    // One snapshot older; one newer, where a file no longer listed goes to
    // the oldest.
    void previous(const std::vector<std::string>& listing);
    void next(const std::vector<std::string>& listing);
    // The oldest (position 1) and the newest (position count).
    void first(const std::vector<std::string>& listing);
    void last(const std::vector<std::string>& listing);

    const std::string& current() const { return current_; }
    int position() const { return position_; }
    int count() const { return count_; }
    std::string counterText() const;

private:
    std::string current_;
    int position_ = 0;
    int count_ = 0;
};

// "2006/10/05 09:30:07" from "20061005093007.jpg": the name's characters 1-4,
// 5-6, 7-8, 9-10, 11-12 and 13-14 with their separators; parts past the end
// of a short name are empty.
std::string snapshotDateText(std::string_view name);

}  // namespace tess
