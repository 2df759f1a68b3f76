// render_bench: what the live view's picture path costs.
//
// 1. Throughput: one and four VideoPanes (runtime, render thread, picture
//    slot, pane widget) against flat-out simulated devices at 352x240 and
//    704x480, the QApplication consuming the slots' wake-ups and painting;
//    frames composed per second, next to a plain TurboJPEG decode of the same
//    device's frames in the same run.
// 2. CPU: four 704x480 panes at 25 frames/s each, in share of one core over
//    5 s (getrusage of the whole process, the simulated devices included),
//    with the threads' shares by name.
// 3. Latency: four panes at 25 frames/s each, from a frame's publication in
//    the pane's FrameQueue to the paint of the pane widget that shows it. The
//    frames are published by the bench itself (standing in for the receiver,
//    so the publish time is exact) and carry their number as the colour of a
//    corner block, which the paint reads back.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; about
// 25 s in all. Figures go to standard output.
#include <dirent.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include "FrameLoop.h"
#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "geometry/LogicalGeometry.h"
#include "liveview/VideoPane.h"

namespace tess {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

// Runs the GUI thread's event loop for `duration`.
void runEvents(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// A window holding up to four panes as the quad places them.
struct PaneWindow {
    static constexpr QRect kQuad[4] = {
        {0, 0, 120, 82}, {120, 0, 120, 82}, {0, 82, 120, 82}, {120, 82, 120, 82}};

    panetest::RecordingEvents events;    // the window side, which has no controls here
    panetest::InstantAudioOut audioOut;  // no sound in these runs
    std::atomic<int32_t> currentView{0};
    LogicalGeometry geometry{1};
    QWidget window;
    std::vector<std::unique_ptr<VideoPane>> panes;

    explicit PaneWindow(int count) {
        geometry.fitWindow(window, QSize(240, 165));
        for (int i = 0; i < count; ++i) {
            panes.push_back(
                std::make_unique<VideoPane>(i, audioOut, events, currentView, "/tmp/", &window));
            geometry.place(panes.back()->widget(), count == 1 ? QRect(0, 0, 240, 165) : kQuad[i]);
            panes.back()->widget().show();
        }
        window.show();
    }
    ~PaneWindow() {
        for (auto& pane : panes) pane->stopPane();
        panes.clear();
    }
    uint64_t composed() const {
        uint64_t total = 0;
        for (const auto& pane : panes) total += pane->renderThread().composedCount();
        return total;
    }
    uint64_t painted() const {
        uint64_t total = 0;
        for (const auto& pane : panes) total += pane->pictureSlot().wakeCount();
        return total;
    }
};

void startOn(VideoPane& pane, const SimulatedDevice& device) {
    pane.connection().videoWanted = true;
    pane.connection().audioWanted = false;
    pane.startPane(panetest::loginFor(device));
}

std::vector<std::unique_ptr<SimulatedDevice>> startDevices(int count, int width, int height,
                                                           bool flatOut) {
    std::vector<std::unique_ptr<SimulatedDevice>> devices;
    for (int i = 0; i < count; ++i) {
        DeviceConfig config;
        config.deviceClass = 3;
        config.width = width;
        config.height = height;
        config.flatOut = flatOut;
        config.audio = false;
        auto device = std::make_unique<SimulatedDevice>(config);
        if (!device->start()) {
            std::printf("simulator does not start: %s\n", device->lastError().c_str());
            return {};
        }
        devices.push_back(std::move(device));
    }
    return devices;
}

// Frames per second of a plain TurboJPEG decode into 32-bit pixels, round
// robin over `frames`, for about `duration`.
double rawDecodeRate(const std::vector<std::string>& frames, std::chrono::milliseconds duration) {
    tjhandle handle = tjInitDecompress();
    std::vector<uint8_t> pixels;
    uint64_t decoded = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < duration) {
        const std::string& jpeg = frames[decoded % frames.size()];
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
        if (tjDecompressHeader3(handle, bytes, jpeg.size(), &width, &height, &subsampling,
                                &colourspace) != 0) {
            break;
        }
        pixels.resize(static_cast<size_t>(width) * height * 4);
        if (tjDecompress2(handle, bytes, jpeg.size(), pixels.data(), width, 0, height, TJPF_BGRX,
                          0) != 0) {
            break;
        }
        ++decoded;
    }
    tjDestroy(handle);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return decoded / seconds;
}

// ---- 1. throughput ----------------------------------------------------------

void throughput(int paneCount, int width, int height) {
    auto devices = startDevices(paneCount, width, height, true);
    if (devices.empty()) return;
    PaneWindow window(paneCount);
    for (int i = 0; i < paneCount; ++i) startOn(*window.panes[i], *devices[i]);
    runEvents(800ms);  // log in, negotiate, fill the pipes
    const uint64_t composedBefore = window.composed();
    const uint64_t paintedBefore = window.painted();
    const auto start = Clock::now();
    runEvents(2000ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double composed = (window.composed() - composedBefore) / seconds;
    const double painted = (window.painted() - paintedBefore) / seconds;
    // The raw decode runs alone: every pane and device stopped first.
    for (auto& pane : window.panes) pane->stopPane();
    for (auto& device : devices) device->stop();

    std::vector<std::string> frames;
    const auto loop = devices.front()->frameLoop();
    for (size_t i = 0; i < loop->size(); ++i) frames.push_back(loop->picture(i));
    size_t bytes = 0;
    for (const std::string& frame : frames) bytes += frame.size();
    const double raw = rawDecodeRate(frames, 1000ms);
    std::printf(
        "%d pane%s %3dx%-3d  composed %6.0f frames/s (%5.0f per pane, %5.0f wake-ups/s)  |  "
        "raw decode %6.0f frames/s on one thread, run alone  |  ratio %.2f  (frames of %zu "
        "bytes)\n",
        paneCount, paneCount == 1 ? " " : "s", width, height, composed, composed / paneCount,
        painted, raw, composed / raw, bytes / frames.size());
}

// ---- 2. CPU -----------------------------------------------------------------

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds so far of every thread of this process, by thread name.
std::map<std::string, double> threadCpuByName() {
    std::map<std::string, double> byName;
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return byName;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/stat");
        std::string line;
        std::getline(in, line);
        const size_t open = line.find('('), close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        unsigned long long user = 0, system = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) user = std::stoull(field);
            if (i == 15) system = std::stoull(field);
        }
        byName[line.substr(open + 1, close - open - 1)] += (user + system) / tick;
    }
    closedir(tasks);
    return byName;
}

void cpuOfFourPanes() {
    auto devices = startDevices(4, 704, 480, false);
    if (devices.empty()) return;
    PaneWindow window(4);
    for (int i = 0; i < 4; ++i) startOn(*window.panes[i], *devices[i]);
    runEvents(1000ms);
    const double cpuBefore = processCpuSeconds();
    const auto threadsBefore = threadCpuByName();
    const uint64_t composedBefore = window.composed();
    const auto start = Clock::now();
    runEvents(5000ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const auto threadsAfter = threadCpuByName();
    std::printf(
        "4 panes 704x480 at 25 frames/s: %.0f frames/s composed, CPU %.1f %% of one core "
        "(whole process, simulated devices included)\n",
        (window.composed() - composedBefore) / seconds, 100 * cpu / seconds);
    // Threads without a name of their own (the simulated devices') count
    // under the program's name.
    std::printf("  by thread:");
    for (const auto& [name, after] : threadsAfter) {
        const auto before = threadsBefore.find(name);
        const double used = after - (before != threadsBefore.end() ? before->second : 0);
        if (used > 0) std::printf("  %s %.1f %%", name.c_str(), 100 * used / seconds);
    }
    std::printf("\n");
}

// ---- 3. publication to paint ------------------------------------------------

constexpr int kLoopFrames = 8;
constexpr int kMarkAt = 8;  // the corner block's centre, in picture pixels

// Frame `index` of the loop: the simulator's scene with a 32 x 32 block in
// the top-left corner whose colour (each channel 0 or 255) says the index.
std::vector<uint8_t> markedFrame(int index, int width, int height) {
    devsim::PictureScene scene;
    scene.width = width;
    scene.height = height;
    std::vector<uint8_t> rgb = devsim::renderScene(scene, index);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = (index & 4) ? 255 : 0;
            p[1] = (index & 2) ? 255 : 0;
            p[2] = (index & 1) ? 255 : 0;
        }
    }
    tjhandle handle = tjInitCompress();
    std::vector<uint8_t> jpeg;
    for (int quality = 80; quality >= 30 && jpeg.empty(); quality -= 10) {
        unsigned char* out = nullptr;
        unsigned long size = 0;
        if (tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_420,
                        quality, 0) == 0 &&
            size <= FrameQueue::kSlotBytes) {
            jpeg.assign(out, out + size);
        }
        tjFree(out);
    }
    tjDestroy(handle);
    return jpeg;
}

int markOf(const QImage& picture) {
    if (picture.width() <= kMarkAt || picture.height() <= kMarkAt) return -1;
    const QRgb c = picture.pixel(kMarkAt, kMarkAt);
    return (qRed(c) > 127 ? 4 : 0) | (qGreen(c) > 127 ? 2 : 0) | (qBlue(c) > 127 ? 1 : 0);
}

// Publishes the loop into one pane's FrameQueue at a steady rate, keeping the
// publish time of the latest frame of each loop index.
class PacedPublisher {
public:
    PacedPublisher(FrameQueue& queue, const std::vector<std::vector<uint8_t>>& frames,
                   std::chrono::microseconds period, std::chrono::microseconds offset)
        : queue_(queue), frames_(frames), period_(period), offset_(offset) {}
    ~PacedPublisher() { stop(); }

    void start() {
        thread_ = std::thread([this] { run(); });
    }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Nanoseconds (steady clock) of the latest publish of loop index `mark`.
    int64_t publishedAt(int mark) const { return stamps_[mark].load(); }
    uint64_t published() const { return published_.load(); }

private:
    void run() {
        auto next = Clock::now() + offset_;
        for (uint64_t n = 0; !stop_; ++n) {
            std::this_thread::sleep_until(next);
            next += period_;
            const int mark = static_cast<int>(n % kLoopFrames);
            const std::vector<uint8_t>& frame = frames_[mark];
            std::copy(frame.begin(), frame.end(), queue_.writeSlot().begin());
            stamps_[mark] = Clock::now().time_since_epoch().count();
            if (queue_.publish(static_cast<uint32_t>(frame.size()))) ++published_;
        }
    }

    FrameQueue& queue_;
    const std::vector<std::vector<uint8_t>>& frames_;
    const std::chrono::microseconds period_;
    const std::chrono::microseconds offset_;
    std::array<std::atomic<int64_t>, kLoopFrames> stamps_{};
    std::atomic<uint64_t> published_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Stamps each paint of a pane widget that shows a picture it has not shown
// before, and keeps the delay since that picture's frame was published.
class PaintWatch : public QObject {
public:
    PaintWatch(PaneWidget& widget, const PacedPublisher& publisher, std::vector<double>& delaysMs)
        : widget_(widget), publisher_(publisher), delaysMs_(delaysMs) {
        widget_.installEventFilter(this);
    }
    ~PaintWatch() override { widget_.removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint || !widget_.hasPicture()) return false;
        const QImage& picture = widget_.picture();
        const int mark = markOf(picture);
        // The same picture painted again (an expose) is not a new frame.
        if (mark < 0 || (mark == lastMark_ && picture.constBits() == lastBits_)) return false;
        lastMark_ = mark;
        lastBits_ = picture.constBits();
        const int64_t now = Clock::now().time_since_epoch().count();
        delaysMs_.push_back((now - publisher_.publishedAt(mark)) / 1e6);
        return false;
    }

private:
    PaneWidget& widget_;
    const PacedPublisher& publisher_;
    std::vector<double>& delaysMs_;
    int lastMark_ = -1;
    const uchar* lastBits_ = nullptr;
};

void publicationToPaint() {
    constexpr int kPanes = 4;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < kLoopFrames; ++i) {
        frames.push_back(markedFrame(i, 704, 480));
        if (frames.back().empty()) {
            std::printf("latency: a 704x480 frame does not fit a slot\n");
            return;
        }
    }
    PaneWindow window(kPanes);
    std::vector<std::unique_ptr<PacedPublisher>> publishers;
    std::vector<std::unique_ptr<PaintWatch>> watches;
    std::vector<double> delaysMs;
    delaysMs.reserve(2000);
    for (int i = 0; i < kPanes; ++i) {
        VideoPane& pane = *window.panes[i];
        // The consumer side of a started pane, without a connection: the
        // bench's publisher stands in for the video receiver.
        pane.startConsumer();
        publishers.push_back(std::make_unique<PacedPublisher>(pane.runtime().frames(), frames,
                                                              40000us, i * 10000us));
        watches.push_back(
            std::make_unique<PaintWatch>(pane.widget(), *publishers.back(), delaysMs));
    }
    for (auto& publisher : publishers) publisher->start();
    const auto publishedSoFar = [&] {
        uint64_t total = 0;
        for (auto& publisher : publishers) total += publisher->published();
        return total;
    };
    runEvents(500ms);
    delaysMs.clear();
    const uint64_t publishedBefore = publishedSoFar();
    runEvents(4000ms);
    const uint64_t published = publishedSoFar() - publishedBefore;
    for (auto& publisher : publishers) publisher->stop();
    watches.clear();
    if (delaysMs.empty()) {
        std::printf("latency: no frame was painted\n");
        return;
    }
    std::sort(delaysMs.begin(), delaysMs.end());
    const auto at = [&](double share) {
        return delaysMs[std::min(delaysMs.size() - 1,
                                 static_cast<size_t>(share * delaysMs.size()))];
    };
    std::printf(
        "publication to paint, 4 panes 704x480 at 25 frames/s, %zu paints of %llu frames: "
        "median %.2f ms, 99th percentile %.2f ms, worst %.2f ms (frame interval: 40 ms per "
        "pane, 10 ms across the four)\n",
        delaysMs.size(), static_cast<unsigned long long>(published), at(0.5), at(0.99),
        delaysMs.back());
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::printf("== render throughput, flat out (%u cores) ==\n",
                std::thread::hardware_concurrency());
    for (const auto& [width, height] : {std::pair{352, 240}, std::pair{704, 480}}) {
        tess::throughput(1, width, height);
        tess::throughput(4, width, height);
    }
    std::printf("== CPU ==\n");
    tess::cpuOfFourPanes();
    std::printf("== latency ==\n");
    tess::publicationToPaint();
    return 0;
}
