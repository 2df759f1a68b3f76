// tessarine-e2e-probe: the measurements the end-to-end test makes on what the
// real program produced. Each command prints its figures and exits 0 when
// they pass, 1 when they do not, 2 on bad arguments or unreadable input.
//
//   picture IMAGE WIDTH HEIGHT [X Y]
//                                the WIDTH x HEIGHT pixels at X, Y (the top left
//                                by default) show a live picture: many colours
//                                and a spread of brightness
//   moved BEFORE AFTER X Y WIDTH HEIGHT
//                                that area of two screenshots differs: the
//                                picture there moves
//   snapshot FILE WIDTH HEIGHT   a saved snapshot: the fixed header with the date
//                                of its name, then a WIDTH x HEIGHT JPEG picture
//   tone RAW RATE HZ             16-bit mono samples hold a tone of HZ, well
//                                above silence, for a second at least
//   clicks RAW RATE STARTS MIN_SECONDS
//                                16-bit mono samples of a steady tone (amplitude
//                                8000) hold exactly STARTS stretches of sound, split
//                                by silence, each at least MIN_SECONDS long, each
//                                starting and ending with a fade, and no dropout
//                                (4 or more samples below 300 in magnitude) inside
//                                any of them, from its first sound on
//   directory BEFORE AFTER       two device.inf files hold the same records
//                                (the saved selection aside)
//   selected-row IMAGE           prints "X Y", the middle of the row drawn as
//                                selected (the widest band of highlight colour)
//   device FILE ADDRESS PORT     device.inf holds a device at ADDRESS:PORT,
//                                labelled ADDRESS, with video only, under the
//                                first top-level folder
#include <QColor>
#include <QImage>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "directory/DeviceDirectory.h"

namespace {

// A live picture: JPEG video stretched over the area has hundreds of colours,
// where an empty pane, a flat fill or a caption on one has a few dozen.
constexpr size_t kMinPictureColours = 200;
constexpr double kMinLumaSpread = 20;  // standard deviation, 0 ... 255
// A moving picture changes a good part of its pixels between two screenshots
// half a second apart; JPEG noise alone changes them by a few steps.
constexpr int kMinMovedLumaStep = 8;
constexpr double kMinMovedShare = 0.05;
// Sound: RMS of full scale 32767; a silent or merely noisy sink stays far below.
constexpr double kMinToneRms = 1000;
constexpr double kMinToneShare = 0.5;   // of a window's power at the tone
constexpr double kWindowSeconds = 0.1;  // a whole number of periods of 1 kHz at 8 kHz
constexpr double kMinToneSeconds = 1.0;
// Clicks in a steady tone of amplitude 8000: a dropout is this many samples in
// a row below kQuietSample in magnitude; stretches of sound are split by
// silence (samples within ±2) of at least kSilenceSplitSeconds. A fade's first
// and last kFadeSamples are soft (below kSoftSample) and left out of the count.
constexpr int kQuietSample = 300;
constexpr size_t kDropoutSamples = 4;
constexpr double kSilenceSplitSeconds = 0.3;
constexpr size_t kFadeSamples = 64;
constexpr size_t kSoftEdgeSamples = 8;
constexpr int kSoftSample = 2000;
// A selected row is filled with the highlight colour across most of a view;
// icons and text are far narrower.
constexpr double kMinHighlightShare = 0.4;  // of the image's width
constexpr int kMinSaturation = 100;         // 0 ... 255: a colour, not a grey

bool readFile(const char* path, std::vector<char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return true;
}

// The area of the image at `path`, or a null image (with the reason on
// standard error) when the file holds no image that contains it.
QImage areaOf(const char* path, const QRect& area) {
    const QImage image(QString::fromLocal8Bit(path));
    if (image.isNull() || area.isEmpty() || !image.rect().contains(area)) {
        std::fprintf(stderr, "%s is no image holding %dx%d at %d,%d\n", path, area.width(),
                     area.height(), area.x(), area.y());
        return {};
    }
    return image.copy(area).convertToFormat(QImage::Format_RGB32);
}

int picture(const char* path, const QRect& where) {
    const QImage area = areaOf(path, where);
    if (area.isNull()) return 2;
    const int width = area.width();
    const int height = area.height();
    std::unordered_set<QRgb> colours;
    double sum = 0;
    double squares = 0;
    for (int y = 0; y < height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(area.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            colours.insert(line[x] & 0xffffff);
            const double luma = qGray(line[x]);
            sum += luma;
            squares += luma * luma;
        }
    }
    const double count = static_cast<double>(width) * height;
    const double mean = sum / count;
    const double spread = std::sqrt(std::max(0.0, squares / count - mean * mean));
    std::printf("picture %dx%d: %zu colours, brightness %.1f +- %.1f\n", width, height,
                colours.size(), mean, spread);
    return colours.size() >= kMinPictureColours && spread >= kMinLumaSpread ? 0 : 1;
}

// Power of `frequency` in the samples (Goertzel), scaled so that a pure tone
// gives the same figure as the sum of squares.
double tonePower(const std::vector<double>& samples, double rate, double frequency) {
    const double coefficient = 2 * std::cos(2 * std::numbers::pi * frequency / rate);
    double previous = 0;
    double beforePrevious = 0;
    for (double sample : samples) {
        const double next = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = next;
    }
    const double power = previous * previous + beforePrevious * beforePrevious -
                         coefficient * previous * beforePrevious;
    const double n = static_cast<double>(samples.size());
    return 2 * power / (n * n);
}

int moved(const char* beforePath, const char* afterPath, const QRect& where) {
    const QImage before = areaOf(beforePath, where);
    const QImage after = areaOf(afterPath, where);
    if (before.isNull() || after.isNull()) return 2;
    size_t changed = 0;
    for (int y = 0; y < before.height(); ++y) {
        const QRgb* a = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const QRgb* b = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (int x = 0; x < before.width(); ++x) {
            if (std::abs(qGray(a[x]) - qGray(b[x])) > kMinMovedLumaStep) ++changed;
        }
    }
    const double share = static_cast<double>(changed) / (before.width() * before.height());
    std::printf("moved: %.1f %% of %dx%d at %d,%d changed\n", share * 100, where.width(),
                where.height(), where.x(), where.y());
    return share >= kMinMovedShare ? 0 : 1;
}

int snapshot(const char* path, int width, int height) {
    // Everything of the header but the date text at 56 and its zero at 75.
    constexpr unsigned char kHeaderStart[56] = {
        0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x48, 'E',  'x',  'i',  'f',  0x00, 0x00, 0x49, 0x49,
        0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x01, 0x00, 0x69, 0x87, 0x04, 0x00, 0x01, 0x00,
        0x00, 0x00, 0x1A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x90,
        0x02, 0x00, 0x14, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    std::vector<char> bytes;
    if (!readFile(path, bytes)) {
        std::fprintf(stderr, "snapshot: cannot read %s\n", path);
        return 2;
    }
    const std::string name = std::string(path).substr(std::string(path).rfind('/') + 1);
    if (bytes.size() < 80 || name.size() < 14 ||
        std::memcmp(bytes.data(), kHeaderStart, sizeof kHeaderStart) != 0 || bytes[75] != 0) {
        std::printf("snapshot: %s does not start with the snapshot header\n", name.c_str());
        return 1;
    }
    const std::string date(bytes.data() + 56, 19);
    const std::string expected = name.substr(0, 4) + ":" + name.substr(4, 2) + ":" +
                                 name.substr(6, 2) + " " + name.substr(8, 2) + ":" +
                                 name.substr(10, 2) + ":" + name.substr(12, 2);
    // The frame as received: its start of image, then the file from byte 76.
    QByteArray frame("\xFF\xD8", 2);
    frame.append(bytes.data() + 76, static_cast<qsizetype>(bytes.size() - 76));
    const QImage picture = QImage::fromData(frame, "JPEG");
    // Devices pad a frame to an even length: its end of image may be followed
    // by a byte or two.
    const bool ends = frame.lastIndexOf("\xFF\xD9") >= frame.size() - 4;
    std::printf("snapshot %s: dated %s, a %dx%d picture of %zu bytes%s\n", name.c_str(),
                date.c_str(), picture.width(), picture.height(), bytes.size(),
                ends ? "" : ", without an end of image");
    return date == expected && picture.width() == width && picture.height() == height && ends ? 0
                                                                                              : 1;
}

int tone(const char* path, int rate, double frequency) {
    std::vector<char> bytes;
    if (!readFile(path, bytes) || rate <= 0 || frequency <= 0 || frequency >= rate / 2.0) {
        std::fprintf(stderr, "tone: cannot read %s, or rate and tone do not fit\n", path);
        return 2;
    }
    std::vector<double> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    // Short windows, so that a glitch spoils only the window it falls in.
    const size_t window = static_cast<size_t>(rate * kWindowSeconds);
    size_t toneWindows = 0;
    double loudestRms = 0;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        const std::vector<double> part(
            samples.begin() + static_cast<std::ptrdiff_t>(start),
            samples.begin() + static_cast<std::ptrdiff_t>(start + window));
        double squares = 0;
        for (double sample : part) squares += sample * sample;
        const double meanSquare = squares / static_cast<double>(window);
        const double rms = std::sqrt(meanSquare);
        loudestRms = std::max(loudestRms, rms);
        if (rms >= kMinToneRms && tonePower(part, rate, frequency) >= kMinToneShare * meanSquare) {
            ++toneWindows;
        }
    }
    const double toneSeconds = static_cast<double>(toneWindows) * kWindowSeconds;
    std::printf("tone: %.1f s recorded, %.1f s of it a %g Hz tone; loudest RMS %.0f\n",
                static_cast<double>(samples.size()) / rate, toneSeconds, frequency, loudestRms);
    return toneSeconds >= kMinToneSeconds ? 0 : 1;
}

std::vector<int16_t> readSamples(const char* path, bool& ok) {
    std::vector<char> bytes;
    ok = readFile(path, bytes);
    std::vector<int16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                          (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    }
    return samples;
}

int clicks(const char* path, int rate, int starts, double minSeconds) {
    bool ok = false;
    const std::vector<int16_t> samples = readSamples(path, ok);
    if (!ok || rate <= 0 || starts < 1) {
        std::fprintf(stderr, "clicks: cannot read %s, or bad arguments\n", path);
        return 2;
    }
    const auto silent = [](int16_t s) { return s >= -2 && s <= 2; };
    // Stretches of sound: [first, last) between silences of kSilenceSplitSeconds.
    const size_t split = static_cast<size_t>(kSilenceSplitSeconds * rate);
    std::vector<std::pair<size_t, size_t>> stretches;
    size_t quietRun = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (silent(samples[i])) {
            ++quietRun;
            continue;
        }
        if (stretches.empty() || quietRun >= split) stretches.push_back({i, i + 1});
        stretches.back().second = i + 1;
        quietRun = 0;
    }
    bool pass = static_cast<int>(stretches.size()) == starts;
    std::printf("clicks: %.1f s recorded, %zu stretches of sound (%d expected)\n",
                static_cast<double>(samples.size()) / rate, stretches.size(), starts);
    for (size_t n = 0; n < stretches.size(); ++n) {
        const auto [first, last] = stretches[n];
        const double seconds = static_cast<double>(last - first) / rate;
        size_t dropouts = 0, run = 0;
        double firstAt = -1;
        for (size_t i = first + kFadeSamples; i + kFadeSamples < last; ++i) {
            run = std::abs(samples[i]) < kQuietSample ? run + 1 : 0;
            if (run != kDropoutSamples) continue;
            ++dropouts;
            if (firstAt < 0) firstAt = static_cast<double>(i - first) / rate;
        }
        int startPeak = 0, endPeak = 0;
        for (size_t i = 0; i < kSoftEdgeSamples && first + i < last; ++i) {
            startPeak = std::max(startPeak, std::abs(int{samples[first + i]}));
            endPeak = std::max(endPeak, std::abs(int{samples[last - 1 - i]}));
        }
        const bool faded = startPeak < kSoftSample && endPeak < kSoftSample;
        std::printf(
            "  stretch %zu: at %.2f s, %.2f s long, %zu dropouts%s; first and last %zu samples "
            "peak at %d and %d (%s)\n",
            n + 1, static_cast<double>(first) / rate, seconds, dropouts,
            firstAt < 0 ? "" : (", the first " + std::to_string(firstAt) + " s in").c_str(),
            kSoftEdgeSamples, startPeak, endPeak, faded ? "faded" : "cut");
        pass = pass && dropouts == 0 && faded && seconds >= minSeconds;
    }
    return pass ? 0 : 1;
}

int directory(const char* beforePath, const char* afterPath) {
    std::vector<char> beforeBytes;
    std::vector<char> afterBytes;
    if (!readFile(beforePath, beforeBytes) || !readFile(afterPath, afterBytes)) {
        std::fprintf(stderr, "directory: cannot read %s or %s\n", beforePath, afterPath);
        return 2;
    }
    const auto load = [](tess::DeviceDirectory& into, const std::vector<char>& bytes) {
        return into.loadFromBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    };
    tess::DeviceDirectory before;
    tess::DeviceDirectory after;
    if (!load(before, beforeBytes)) {
        std::fprintf(stderr, "directory: %s is no whole directory\n", beforePath);
        return 2;
    }
    const bool whole = load(after, afterBytes);
    std::printf("directory: %zu bytes, %zu entries before; %zu bytes, %zu entries after%s\n",
                beforeBytes.size(), before.entryCount(), afterBytes.size(), after.entryCount(),
                whole ? "" : " (damaged)");
    if (!whole || before.entryCount() != after.entryCount()) return 1;
    // Index by index; the selection stored in the top-level records may differ.
    constexpr size_t kSelectionAt = 74;
    for (uint16_t index = 1; index < before.nextIndex(); ++index) {
        std::vector<uint8_t> a(before.entryAt(index)->bytes().begin(),
                               before.entryAt(index)->bytes().end());
        std::vector<uint8_t> b(after.entryAt(index)->bytes().begin(),
                               after.entryAt(index)->bytes().end());
        a[kSelectionAt] = a[kSelectionAt + 1] = b[kSelectionAt] = b[kSelectionAt + 1] = 0;
        if (a != b || before.row(before.entryAt(index)) != after.row(after.entryAt(index))) {
            std::printf("directory: entry %u differs\n", index);
            return 1;
        }
    }
    return 0;
}

// The selection is drawn in one saturated colour: the most common one in the
// image. Its rows are those it fills to kMinHighlightShare of the width; the
// first run of such rows is the selected row.
int selectedRow(const char* path) {
    const QImage image = QImage(QString::fromLocal8Bit(path)).convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) {
        std::fprintf(stderr, "selected-row: %s is no image\n", path);
        return 2;
    }
    std::unordered_map<QRgb, size_t> counts;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (QColor(line[x]).hsvSaturation() >= kMinSaturation) ++counts[line[x]];
        }
    }
    const auto highlight =
        std::max_element(counts.begin(), counts.end(),
                         [](const auto& a, const auto& b) { return a.second < b.second; });
    if (highlight == counts.end()) {
        std::printf("selected-row: no coloured pixels\n");
        return 1;
    }
    int top = -1;
    int bottom = -1;
    long left = 0;
    long right = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int filled = 0;
        int first = -1;
        int last = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == highlight->first) {
                ++filled;
                first = first < 0 ? x : first;
                last = x;
            }
        }
        if (filled >= kMinHighlightShare * image.width()) {
            if (top < 0) top = y;
            bottom = y;
            left += first;
            right += last;
        } else if (top >= 0) {
            break;
        }
    }
    if (top < 0) {
        std::printf("selected-row: no row is filled with #%06x\n", highlight->first & 0xffffff);
        return 1;
    }
    const long rows = bottom - top + 1;
    std::printf("%ld %d\n", (left + right) / (2 * rows), (top + bottom) / 2);
    return 0;
}

int device(const char* path, const char* address, int port) {
    std::vector<char> bytes;
    tess::DeviceDirectory directory;
    if (!readFile(path, bytes) ||
        !directory.loadFromBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()})) {
        std::fprintf(stderr, "device: %s is no whole directory\n", path);
        return 2;
    }
    const std::u16string wanted = QString::fromUtf8(address).toStdU16String();
    const tess::DeviceEntry* folder = directory.childAt(nullptr, 0);
    for (uint16_t index = 1; index < directory.nextIndex(); ++index) {
        const tess::DeviceEntry* entry = directory.entryAt(index);
        if (!entry->isDevice() || entry->address() != wanted) continue;
        std::printf(
            "device: %s:%u labelled \"%s\", avFlags %u, in \"%s\"\n", address, entry->port(),
            QString::fromStdU16String(entry->label()).toUtf8().constData(), entry->avFlags(),
            QString::fromStdU16String(directory.parent(entry) ? directory.parent(entry)->label()
                                                              : u"")
                .toUtf8()
                .constData());
        return entry->port() == port && entry->label() == wanted && entry->avFlags() == 1 &&
                       directory.parent(entry) == folder
                   ? 0
                   : 1;
    }
    std::printf("device: no device at %s in %s\n", address, path);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const auto rect = [&](int first) {
        return QRect(std::atoi(argv[first]), std::atoi(argv[first + 1]), std::atoi(argv[first + 2]),
                     std::atoi(argv[first + 3]));
    };
    if (command == "picture" && argc == 5)
        return picture(argv[2], QRect(0, 0, std::atoi(argv[3]), std::atoi(argv[4])));
    if (command == "picture" && argc == 7)
        return picture(argv[2], QRect(std::atoi(argv[5]), std::atoi(argv[6]), std::atoi(argv[3]),
                                      std::atoi(argv[4])));
    if (command == "moved" && argc == 8) return moved(argv[2], argv[3], rect(4));
    if (command == "snapshot" && argc == 5)
        return snapshot(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    if (command == "tone" && argc == 5)
        return tone(argv[2], std::atoi(argv[3]), std::atof(argv[4]));
    if (command == "clicks" && argc == 6)
        return clicks(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]));
    if (command == "directory" && argc == 4) return directory(argv[2], argv[3]);
    if (command == "selected-row" && argc == 3) return selectedRow(argv[2]);
    if (command == "device" && argc == 5) return device(argv[2], argv[3], std::atoi(argv[4]));
    std::fprintf(stderr,
                 "usage: tessarine-e2e-probe picture IMAGE WIDTH HEIGHT [X Y]\n"
                 "       tessarine-e2e-probe moved BEFORE AFTER X Y WIDTH HEIGHT\n"
                 "       tessarine-e2e-probe snapshot FILE WIDTH HEIGHT\n"
                 "       tessarine-e2e-probe tone RAW RATE HZ\n"
                 "       tessarine-e2e-probe clicks RAW RATE STARTS MIN_SECONDS\n"
                 "       tessarine-e2e-probe directory BEFORE AFTER\n"
                 "       tessarine-e2e-probe selected-row IMAGE\n"
                 "       tessarine-e2e-probe device FILE ADDRESS PORT\n");
    return 2;
}
