// snapshot_bench: what a snapshot costs the render thread that writes it, and
// how fast the snapshot browser moves through a folder of 10,000 snapshots.
//
// Writing: 200 snapshots of a 704 x 480 picture (each a new file, many of
// them in the same second) into a fresh folder; the time of each save, which
// the render thread spends instead of drawing, against one frame interval at
// 25 fps (40 ms).
//
// Browsing: a folder of 10,000 snapshots; the time to list it, to open the
// browser on the newest, and of each of 100 NEXT / PREV steps (a fresh
// listing, reading and decoding the file it lands on). Target: under 50 ms.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>
#include <QBuffer>
#include <QImage>

#include "snapshots/SnapshotFile.h"
#include "snapshots/SnapshotFolder.h"
#include "snapshots/browser/SnapshotBrowser.h"

namespace tess {
namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kWrites = 200;
constexpr int kFolderSize = 10000;
constexpr int kSteps = 100;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A JPEG of `width` x `height` with enough detail to be of a camera's size.
std::vector<uint8_t> pictureOf(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 7 % 256, y * 5 % 256, (x ^ y) % 256));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return {bytes.begin(), bytes.end()};
}

struct Times {
    std::vector<double> ms;
    void add(double value) { ms.push_back(value); }
    double median() {
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    }
    double worst() { return *std::max_element(ms.begin(), ms.end()); }
};

void benchWrites(const std::string& folder) {
    const std::vector<uint8_t> frame = pictureOf(704, 480);
    SnapshotHeader header;
    header.setDate({2026, 12, 8, 10, 0, 0});
    Times times;
    for (int i = 0; i < kWrites; ++i) {
        const auto start = Clock::now();
        const SavedSnapshot saved = saveSnapshot(folder, "20261208100000", header, frame);
        times.add(millisecondsSince(start));
        if (!saved.saved) {
            std::printf("save failed: %s\n", saved.error.c_str());
            return;
        }
    }
    std::printf(
        "snapshot save, %zu-byte frame, %d files (one second's names): median %.2f ms, "
        "worst %.2f ms (one frame at 25 fps: 40 ms)\n",
        frame.size(), kWrites, times.median(), times.worst());
}

void benchBrowsing(const std::string& folder) {
    const std::vector<uint8_t> frame = pictureOf(352, 240);
    SnapshotHeader header;
    for (int i = 0; i < kFolderSize; ++i) {
        // One a minute from 1 January 2026 on: distinct, ordered names.
        const SnapshotTime time{2026, 1, 1 + i / 1440, i / 60 % 24, i % 60, 0};
        header.setDate(time);
        if (!saveSnapshot(folder, snapshotName(time), header, frame).saved) {
            std::printf("cannot fill the folder\n");
            return;
        }
    }
    auto start = Clock::now();
    const auto listing = listSnapshots(folder);
    const double listMs = millisecondsSince(start);

    SnapshotBrowser browser;
    start = Clock::now();
    browser.openOn(folder, listing.front());
    const double openMs = millisecondsSince(start);
    Times steps;
    for (int i = 0; i < kSteps; ++i) {
        start = Clock::now();
        if (i < kSteps / 2) {
            browser.showPrevious();
        } else {
            browser.showNext();
        }
        steps.add(millisecondsSince(start));
    }
    std::printf(
        "browser, %zu snapshots: listing %.1f ms, opening %.1f ms, PREV/NEXT median "
        "%.1f ms, worst %.1f ms (target below 50 ms); at %s\n",
        listing.size(), listMs, openMs, steps.median(), steps.worst(),
        browser.cursor().counterText().c_str());
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    char pattern[] = "/tmp/tess-snapshot-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    const std::string root = pattern;
    tess::benchWrites(root + "/writes/");
    tess::benchBrowsing(root + "/folder/");
    std::filesystem::remove_all(root);
    return 0;
}
