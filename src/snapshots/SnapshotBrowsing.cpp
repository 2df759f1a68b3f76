#include "snapshots/SnapshotBrowsing.h"

#include <algorithm>

namespace tess {
namespace {

// The index of `name` in `listing`, or -1.
long indexOf(const std::vector<std::string>& listing, const std::string& name) {
    const auto found = std::find(listing.begin(), listing.end(), name);
    return found == listing.end() ? -1 : found - listing.begin();
}

}  // namespace

void SnapshotCursor::open(const std::vector<std::string>& listing, std::string current) {
    current_ = std::move(current);
    count_ = 0;
    if (!listing.empty()) {
        // The newest file is never compared: opened on it, all are counted.
        count_ = 1;
        for (size_t k = 1; k < listing.size(); ++k) {
            ++count_;
            if (listing[k] == current_) break;
        }
    }
    position_ = count_;
}

void SnapshotCursor::previous(const std::vector<std::string>& listing) {
    if (listing.empty()) return;
    const long k = indexOf(listing, current_);
    if (k >= 0 && static_cast<size_t>(k + 1) < listing.size()) current_ = listing[k + 1];
    if (position_ > 1) --position_;
}

void SnapshotCursor::next(const std::vector<std::string>& listing) {
    if (listing.empty()) return;
    const long k = indexOf(listing, current_);
    if (k < 0) {
        current_ = listing.back();
    } else if (k > 0) {
        current_ = listing[k - 1];
    }
    if (position_ < count_) ++position_;
}

void SnapshotCursor::first(const std::vector<std::string>& listing) {
    if (listing.empty()) return;
    current_ = listing.back();
    position_ = 1;
}

void SnapshotCursor::last(const std::vector<std::string>& listing) {
    if (listing.empty()) return;
    current_ = listing.front();
    position_ = count_;
}

std::string SnapshotCursor::counterText() const {
    return std::to_string(position_) + "/" + std::to_string(count_);
}

std::string snapshotDateText(std::string_view name) {
    const auto part = [name](size_t from, size_t length) {
        return from < name.size() ? std::string(name.substr(from, length)) : std::string();
    };
    return part(0, 4) + "/" + part(4, 2) + "/" + part(6, 2) + " " + part(8, 2) + ":" + part(10, 2) +
           ":" + part(12, 2);
}

}  // namespace tess
