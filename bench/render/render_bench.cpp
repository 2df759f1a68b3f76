// render_bench: what the live view's picture path costs.
//
// 1. Throughput: one and four BenchPanes (runtime, render thread, picture
//    slot, pane widget) against flat-out simulated devices at 352x240 and
//    704x480, the QApplication consuming the slots' wake-ups and painting;
//    frames composed per second, next to a plain TurboJPEG decode of the same
//    device's frames in the same run.
// 2. CPU: four quad panes of 704x480 at 25 frames/s each, their devices in
//    a child process (tessarine-devsim), at window scale 2 and 1: this
//    process's CPU over 5 s as a ratio to one full-size TurboJPEG decode of
//    the same 100 frames/s measured in the same run, with the decoding scale
//    and the threads' shares by name.
// 3. Latency: four panes at 25 frames/s each, from a frame's publication in
//    the pane's FrameQueue to the paint of the pane widget that shows it. The
//    frames are published by the bench itself (standing in for the receiver,
//    so the publish time is exact) and carry their number as the colour of a
//    corner block, which the paint reads back.
// 4. Latency: at 1, 5 and 25 frames/s and for each framing, from a simulated
//    device's send of a frame's last byte to the paint of the pane that shows
//    it alone (pictures numbered by a corner block, which the paint reads).
//
// 5. The health overlay: one pane flat out, the overlay switched on and off
//    every 400 ms within one run; frames composed per second with and
//    without it, the spread of each, and the heap allocations the render
//    thread made per frame (the replaced global operator new counts by
//    thread name).
// 6. Full screen: a 704x480 stream at 25 frames/s (device in a child
//    process) shown fitted on a 1920x1080 window; this process's CPU next to
//    one plain full-size decode and smooth stretch of the same frames,
//    measured in the same run, as a ratio.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise; about
// 40 s in all. Figures go to standard output.
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include "FrameLoop.h"
#include "PaneTestSupport.h"
#include "SimulatedDevice.h"
#include "ThreadAllocations.h"
#include "geometry/LogicalGeometry.h"
#include "liveview/PaneRenderer.h"
#include "liveview/PaneWidget.h"

// Only the render threads' allocations count.
namespace {
constexpr std::array<const char*, 1> kRenderThread = {"RenderThread"};
}  // namespace

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

// One pane as the live view runs it: its runtime, its render side and the
// widget that shows its pictures.
class BenchPane final : public SnapshotEvents {
public:
    BenchPane(int number, AudioOut& audioOut, PaneEvents& events, QWidget* parent)
        : runtime_(std::make_unique<PaneRuntime>(number, audioOut, events)),
          renderer_(std::make_unique<PaneRenderer>(*runtime_, *this, "/tmp/")),
          widget_(new PaneWidget(QString(), parent)) {
        runtime_->setFrameConsumer(renderer_.get());
        widget_->attachSlot(renderer_->pictureSlot());
    }
    ~BenchPane() override {
        // The runtime joins the render thread before the renderer goes.
        runtime_.reset();
        widget_->detachSlot();
    }

    PaneWidget& widget() { return *widget_; }
    PaneRuntime& runtime() { return *runtime_; }
    PaneConnection& connection() { return runtime_->connection(); }
    PaneRenderer& renderer() { return *renderer_; }
    PaneRenderState& renderState() { return renderer_->renderState(); }
    PictureSlot& pictureSlot() { return renderer_->pictureSlot(); }
    RenderThread& renderThread() { return renderer_->renderThread(); }
    void startPane(const LoginData& login) { runtime_->startPane(login); }
    void stopPane() { runtime_->stopPane(); }

    void snapshotFinished(PaneStamp, bool, const std::string&) override {}

private:
    std::unique_ptr<PaneRuntime> runtime_;
    std::unique_ptr<PaneRenderer> renderer_;
    PaneWidget* widget_;
};

// A window holding up to four panes as the quad places them.
struct PaneWindow {
    static constexpr QRect kQuad[4] = {
        {0, 0, 120, 82}, {120, 0, 120, 82}, {0, 82, 120, 82}, {120, 82, 120, 82}};

    panetest::RecordingEvents events;    // the window side, which has no controls here
    panetest::InstantAudioOut audioOut;  // no sound in these runs
    LogicalGeometry geometry{1};
    QWidget window;
    std::vector<std::unique_ptr<BenchPane>> panes;

    explicit PaneWindow(int count, int scale = 1) : geometry(scale) {
        geometry.fitWindow(window, QSize(240, 165));
        for (int i = 0; i < count; ++i) {
            panes.push_back(std::make_unique<BenchPane>(i, audioOut, events, &window));
            geometry.place(panes.back()->widget(), count == 1 ? QRect(0, 0, 240, 165) : kQuad[i]);
            panes.back()->widget().setLogicalScale(scale);
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

void startOn(BenchPane& pane, const SimulatedDevice& device) {
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

// Simulated devices in a child process (tessarine-devsim), so that this
// process's CPU is the viewer's alone.
class DeviceProcess {
public:
    DeviceProcess(int count, const std::string& options) {
        char folder[] = "/tmp/tess-render-bench-XXXXXX";
        if (mkdtemp(folder) == nullptr) return;
        folder_ = folder;
        const std::string config = folder_ + "/devices.conf";
        std::ofstream(config) << [&] {
            std::string lines;
            for (int i = 0; i < count; ++i) lines += options + "\n";
            return lines;
        }();
        const std::string command =
            std::string(TESS_DEVSIM_PROGRAM) + " --no-discovery --config " + config;
        int out[2];
        if (pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[256];
        while (static_cast<int>(ports_.size()) < count && lines != nullptr &&
               std::fgets(line, sizeof line, lines) != nullptr) {
            unsigned port = 0;
            if (std::sscanf(line, "device class %*d on 127.0.0.1:%u", &port) == 1)
                ports_.push_back(static_cast<uint16_t>(port));
        }
        if (lines != nullptr) std::fclose(lines);
    }
    ~DeviceProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }
    const std::vector<uint16_t>& ports() const { return ports_; }

private:
    std::string folder_;
    pid_t pid_ = -1;
    std::vector<uint16_t> ports_;
};

// CPU seconds of one TurboJPEG decode of each of `frames` at 1/`denominator`,
// on this thread, averaged over about a second.
double decodeSeconds(const std::vector<std::string>& frames, int denominator) {
    tjhandle handle = tjInitDecompress();
    std::vector<uint8_t> pixels;
    const auto threadCpu = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    };
    const double start = threadCpu();
    uint64_t decoded = 0;
    while (threadCpu() - start < 1.0) {
        const std::string& jpeg = frames[decoded % frames.size()];
        const auto* bytes = reinterpret_cast<const unsigned char*>(jpeg.data());
        int width = 0, height = 0, subsampling = 0, colourspace = 0;
        tjDecompressHeader3(handle, bytes, jpeg.size(), &width, &height, &subsampling,
                            &colourspace);
        const int w = (width + denominator - 1) / denominator;
        const int h = (height + denominator - 1) / denominator;
        pixels.resize(static_cast<size_t>(w) * h * 4);
        tjDecompress2(handle, bytes, jpeg.size(), pixels.data(), w, 0, h, TJPF_BGRX, 0);
        ++decoded;
    }
    const double seconds = (threadCpu() - start) / static_cast<double>(decoded);
    tjDestroy(handle);
    return seconds;
}

// The pictures the device process streams (a class 3 device at 704 x 480),
// encoded here by the same code, for timing the decode alone; empty when the
// encoder cannot start.
std::vector<std::string> classThreeLoop704() {
    DeviceConfig config;
    config.deviceClass = 3;
    config.width = 704;
    config.height = 480;
    config.audio = false;
    SimulatedDevice encoder(config);
    std::vector<std::string> frames;
    if (!encoder.start()) return frames;
    const auto loop = encoder.frameLoop();
    for (size_t i = 0; i < loop->size(); ++i) frames.push_back(loop->picture(i));
    return frames;
}

void cpuOfFourPanes(int scale) {
    DeviceProcess devices(4, "--class 3 --size 704x480 --fps 25 --no-audio");
    if (devices.ports().size() != 4) {
        std::printf("4 panes: the simulator process did not start its devices\n");
        return;
    }
    const std::vector<std::string> frames = classThreeLoop704();
    if (frames.empty()) return;
    PaneWindow window(4, scale);
    for (int i = 0; i < 4; ++i) {
        BenchPane& pane = *window.panes[i];
        pane.connection().videoWanted = true;
        pane.connection().audioWanted = false;
        pane.startPane(LoginData{u"127.0.0.1", u"admin", u"velum", devices.ports()[i], u"Camera"});
    }
    runEvents(1500ms);
    const double cpuBefore = processCpuSeconds();
    const auto threadsBefore = threadCpuByName();
    const uint64_t composedBefore = window.composed();
    const auto start = Clock::now();
    runEvents(5000ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const auto threadsAfter = threadCpuByName();
    const double composed = (window.composed() - composedBefore) / seconds;
    const QSize decoded = window.panes[0]->widget().picture().size();
    for (auto& pane : window.panes) pane->stopPane();

    // One full-size decode of the same 100 frames a second, measured now.
    const double fullDecode = decodeSeconds(frames, 1) * 100;
    const int denominator = decoded.width() > 0 ? 704 / decoded.width() : 1;
    const double scaledDecode = decodeSeconds(frames, denominator) * 100;
    std::printf(
        "4 quad panes 704x480 at 25 frames/s, window scale %d (pane %dx%d device pixels, decoded "
        "at %dx%d = 1/%d): %.0f frames/s composed, CPU %.1f %% of one core  |  full-size "
        "decode of 100 frames/s %.1f %%  |  ratio %.2f (target %s)\n"
        "  the 1/%d decode alone: %.1f %%, %.2f of the full one\n",
        scale, 120 * scale, 82 * scale, decoded.width(), decoded.height(), denominator, composed,
        100 * cpu / seconds, 100 * fullDecode, cpu / seconds / fullDecode,
        scale == 1 ? "<= 0.6" : "<= 1.0", denominator, 100 * scaledDecode,
        scaledDecode / fullDecode);
    std::printf("  by thread:");
    for (const auto& [name, after] : threadsAfter) {
        const auto before = threadsBefore.find(name);
        const double used = after - (before != threadsBefore.end() ? before->second : 0);
        if (used > 0) std::printf("  %s %.1f %%", name.c_str(), 100 * used / seconds);
    }
    std::printf("\n");
}

// ---- 3b. device send to paint -------------------------------------------------

// Stamps each paint of a pane widget that shows a picture it has not shown
// before, and keeps the delay since its device sent that frame's last byte.
class SendToPaintWatch : public QObject {
public:
    SendToPaintWatch(PaneWidget& widget, const SimulatedDevice& device)
        : widget_(widget), device_(device) {
        widget_.installEventFilter(this);
        delaysMs_.reserve(4000);
    }
    ~SendToPaintWatch() override { widget_.removeEventFilter(this); }
    std::vector<double>& delaysMs() { return delaysMs_; }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() != QEvent::Paint || !widget_.hasPicture()) return false;
        const QImage& picture = widget_.picture();
        const int width = device_.config().width;
        const QRgb c =
            picture.pixel(devsim::numberMarkCentreX(width) * picture.width() / width,
                          devsim::numberMarkCentreY() * picture.height() / device_.config().height);
        const int mark = devsim::numberMarkOf(qRed(c), qGreen(c), qBlue(c));
        if (mark == lastMark_) return false;  // the same picture painted again
        lastMark_ = mark;
        const int64_t sent = device_.videoSentAt(static_cast<size_t>(mark));
        if (sent != 0) {
            const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    Clock::now().time_since_epoch())
                                    .count();
            delaysMs_.push_back((now - sent) / 1e6);
        }
        return false;
    }

private:
    PaneWidget& widget_;
    const SimulatedDevice& device_;
    std::vector<double> delaysMs_;
    int lastMark_ = -1;
};

void sendToPaint() {
    struct Form {
        int deviceClass;
        const char* name;
    };
    const Form forms[] = {{3, "whole frame (class 3)"},
                          {4, "whole frame, L with header (class 4)"},
                          {6, "packet stream (class 6)"}};
    for (int fps : {1, 5, 25}) {
        std::vector<std::unique_ptr<SimulatedDevice>> devices;
        for (const Form& form : forms) {
            DeviceConfig config;
            config.deviceClass = form.deviceClass;
            config.framesPerSecond = fps;
            config.loopFrames = 8;
            config.numberMark = true;
            config.audio = false;
            auto device = std::make_unique<SimulatedDevice>(config);
            if (!device->start()) {
                std::printf("simulator does not start: %s\n", device->lastError().c_str());
                return;
            }
            devices.push_back(std::move(device));
        }
        // Each pane alone in its own window, as a pane shown by itself.
        std::vector<std::unique_ptr<PaneWindow>> windows;
        std::vector<std::unique_ptr<SendToPaintWatch>> watches;
        for (size_t i = 0; i < devices.size(); ++i) {
            windows.push_back(std::make_unique<PaneWindow>(1));
            startOn(*windows.back()->panes[0], *devices[i]);
            watches.push_back(std::make_unique<SendToPaintWatch>(windows.back()->panes[0]->widget(),
                                                                 *devices[i]));
        }
        runEvents(1500ms);
        for (auto& watch : watches) watch->delaysMs().clear();
        runEvents(fps == 1 ? 12000ms : fps == 5 ? 5000ms : 4000ms);
        for (size_t i = 0; i < devices.size(); ++i) {
            std::vector<double> delays = watches[i]->delaysMs();
            if (delays.empty()) {
                std::printf("%2d frames/s %-38s no frame painted\n", fps, forms[i].name);
                continue;
            }
            std::sort(delays.begin(), delays.end());
            const auto at = [&](double share) {
                return delays[std::min(delays.size() - 1,
                                       static_cast<size_t>(share * delays.size()))];
            };
            std::printf(
                "%2d frames/s %-38s %4zu paints: median %6.2f ms, 99th percentile %6.2f ms, worst "
                "%6.2f ms (target: p99 <= 5 ms; frame interval %.0f ms)\n",
                fps, forms[i].name, delays.size(), at(0.5), at(0.99), delays.back(), 1000.0 / fps);
        }
        watches.clear();
        windows.clear();
    }
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

// The mark of a picture received at 704 pixels wide, which the pane may
// have decoded at a reduced size.
int markOf(const QImage& picture) {
    const int at = kMarkAt * picture.width() / 704;
    if (picture.width() <= at || picture.height() <= at) return -1;
    const QRgb c = picture.pixel(at, at);
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
        BenchPane& pane = *window.panes[i];
        // The consumer side of a started pane, without a connection: the
        // bench's publisher stands in for the video receiver.
        pane.renderer().startConsumer();
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

// ---- 5. the health overlay --------------------------------------------------

void healthOverlayCost(int width, int height) {
    auto devices = startDevices(1, width, height, true);
    if (devices.empty()) return;
    PaneWindow window(1);
    BenchPane& pane = *window.panes[0];
    startOn(pane, *devices[0]);
    runEvents(800ms);
    std::vector<double> rates[2];
    uint64_t frames = 0;
    tess::bench::startCountingAllocations(kRenderThread);
    for (int interval = 0; interval < 10; ++interval) {
        const bool shown = interval % 2 == 1;
        pane.renderState().healthShown = shown;
        runEvents(50ms);  // the frame in progress takes the switch
        const uint64_t before = window.composed();
        const auto start = Clock::now();
        runEvents(400ms);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        frames += window.composed() - before;
        rates[shown].push_back((window.composed() - before) / seconds);
    }
    tess::bench::stopCountingAllocations();
    const uint64_t allocations = tess::bench::countedAllocations(0);
    pane.stopPane();
    for (auto& device : devices) device->stop();
    const auto summary = [](const std::vector<double>& values) {
        double sum = 0;
        for (double value : values) sum += value;
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        return std::array<double, 3>{sum / values.size(), *low, *high};
    };
    const auto off = summary(rates[0]);
    const auto on = summary(rates[1]);
    std::printf(
        "1 pane %3dx%-3d  overlay off %6.0f frames/s (%.0f ... %.0f)  |  on %6.0f frames/s "
        "(%.0f ... %.0f)  |  difference %+.1f %%, spread of off %.1f %%  |  render-thread "
        "allocations %llu in %llu frames (%.3f per frame)\n",
        width, height, off[0], off[1], off[2], on[0], on[1], on[2], 100 * (on[0] - off[0]) / off[0],
        100 * (off[2] - off[1]) / off[0], static_cast<unsigned long long>(allocations),
        static_cast<unsigned long long>(frames),
        frames > 0 ? static_cast<double>(allocations) / frames : 0.0);
}

// ---- 6. full screen ------------------------------------------------------------

// CPU seconds of one full-size decode and one smooth, aspect-kept stretch
// onto `screen` of each of `frames`, on this thread, averaged over a second.
double decodeAndStretchSeconds(const std::vector<std::string>& frames, QSize screen) {
    PictureDecoder decoder;
    QImage picture;
    QImage target(screen, QImage::Format_RGB32);
    const auto threadCpu = [] {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    };
    const double start = threadCpu();
    uint64_t done = 0;
    while (threadCpu() - start < 1.0) {
        const std::string& jpeg = frames[done % frames.size()];
        decoder.decode({reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size()}, picture);
        QPainter painter(&target);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize fitted = picture.size().scaled(screen, Qt::KeepAspectRatio);
        painter.drawImage(QRect(QPoint((screen.width() - fitted.width()) / 2,
                                       (screen.height() - fitted.height()) / 2),
                                fitted),
                          picture);
        ++done;
    }
    return (threadCpu() - start) / static_cast<double>(done);
}

void fullScreenCpu() {
    DeviceProcess devices(1, "--class 3 --size 704x480 --fps 25 --no-audio");
    if (devices.ports().size() != 1) {
        std::printf("full screen: the simulator process did not start its device\n");
        return;
    }
    const std::vector<std::string> frames = classThreeLoop704();
    if (frames.empty()) return;
    const QSize screen(1920, 1080);
    PaneWindow window(1);
    BenchPane& pane = *window.panes[0];
    // The live view's full-screen window: the pane's slot shown fitted.
    PaneWidget full(QString{});
    full.setPresentation(PaneWidget::Presentation::Fitted, QSize(240, 165));
    full.resize(screen);
    pane.widget().detachSlot();
    full.attachSlot(pane.pictureSlot());
    full.show();
    pane.connection().videoWanted = true;
    pane.connection().audioWanted = false;
    pane.startPane(LoginData{u"127.0.0.1", u"admin", u"velum", devices.ports()[0], u"Camera"});
    runEvents(1500ms);
    const double cpuBefore = processCpuSeconds();
    const uint64_t composedBefore = window.composed();
    const auto start = Clock::now();
    runEvents(5000ms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpuSeconds() - cpuBefore;
    const double composed = (window.composed() - composedBefore) / seconds;
    const QSize decoded = full.picture().size();
    pane.stopPane();
    full.detachSlot();

    const double plain = decodeAndStretchSeconds(frames, screen) * composed;
    std::printf(
        "1 pane 704x480 at 25 frames/s full screen on %dx%d (decoded at %dx%d): %.1f frames/s "
        "composed, CPU %.1f %% of one core  |  plain decode + smooth stretch of the same frames "
        "%.1f %%  |  ratio %.2f\n",
        screen.width(), screen.height(), decoded.width(), decoded.height(), composed,
        100 * cpu / seconds, 100 * plain, cpu / seconds / plain);
}

}  // namespace
}  // namespace tess

// With an argument, only the part it names: throughput, cpu, latency, overlay
// or fullscreen.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&](const char* part) { return only.empty() || only == part; };
    if (wanted("throughput")) {
        std::printf("== render throughput, flat out (%u cores) ==\n",
                    std::thread::hardware_concurrency());
        for (const auto& [width, height] : {std::pair{352, 240}, std::pair{704, 480}}) {
            tess::throughput(1, width, height);
            tess::throughput(4, width, height);
        }
    }
    if (wanted("cpu")) {
        std::printf("== CPU, simulated devices in another process ==\n");
        tess::cpuOfFourPanes(2);
        tess::cpuOfFourPanes(1);
    }
    if (wanted("latency")) {
        std::printf("== latency ==\n");
        tess::publicationToPaint();
        std::printf("== device send of a frame's last byte to its paint, each pane alone ==\n");
        tess::sendToPaint();
    }
    if (wanted("overlay")) {
        std::printf("== the health overlay, switched on and off in one run ==\n");
        tess::healthOverlayCost(352, 240);
        tess::healthOverlayCost(704, 480);
    }
    if (wanted("fullscreen")) {
        std::printf("== full screen ==\n");
        tess::fullScreenCpu();
    }
    return 0;
}
