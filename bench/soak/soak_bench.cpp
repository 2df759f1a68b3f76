// soak_bench: four panes streaming for a long time through the faults of a
// real network, watched for leaks.
//
// Four simulated class 6 cameras (video and audio) run in this process. Each
// drops its stream every 20 s and refuses connections for 2 s once a minute,
// so every pane keeps logging in again. Every minute the program prints its
// resident memory, open file descriptors and threads (the simulator's
// included), the bytes the simulators' event logs hold (they keep every
// request and datagram, so they grow by design), the panes' reconnects and
// the frames they took. At the end it prints the growth of each after the
// first minute, memory also without the logs. Target: none, memory within
// 1 MB.
//
// Usage: soak_bench [minutes] (10 by default).
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"
#include "SimulatedDevice.h"

namespace tess {
namespace {

using namespace std::chrono_literals;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

constexpr int kPanes = 4;
constexpr int kFramesPerSecond = 25;
constexpr int kDropEverySeconds = 20;
constexpr auto kOutage = 2s;

int entriesIn(const char* folder) {
    int count = 0;
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(dir);
    }
    return count;
}

long residentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

struct Sample {
    long residentKb;
    long logKb;
    int descriptors;
    int threads;
};

long logKilobytes(const std::array<std::unique_ptr<SimulatedDevice>, kPanes>& devices) {
    size_t bytes = 0;
    for (const auto& device : devices) {
        for (const devsim::Event& event : device->log().events()) bytes += event.bytes.size();
    }
    return static_cast<long>(bytes / 1024);
}

int run(int minutes) {
    panetest::InstantAudioOut out;
    std::array<std::unique_ptr<SimulatedDevice>, kPanes> devices;
    std::array<std::unique_ptr<panetest::TestPane>, kPanes> panes;
    for (int i = 0; i < kPanes; ++i) {
        DeviceConfig config;
        config.deviceClass = 6;
        config.framesPerSecond = kFramesPerSecond;
        config.faults.closeAfterFrames = kDropEverySeconds * kFramesPerSecond;
        devices[i] = panetest::startedDevice(config);
        if (!devices[i]) return 1;
        panes[i] = std::make_unique<panetest::TestPane>(i, &out);
        panetest::startPaneOn(*panes[i]->runtime, *devices[i], true, true);
    }

    std::printf("== soak: %d panes, class 6 video and audio at %d fps, %d min ==\n", kPanes,
                kFramesPerSecond, minutes);
    std::printf("minute  resident KB  sim log KB  descriptors  threads  reconnects  frames\n");
    std::vector<Sample> samples;
    for (int minute = 1; minute <= minutes; ++minute) {
        // Each device refuses connections once a minute, the four spread out.
        for (int i = 0; i < kPanes; ++i) {
            std::this_thread::sleep_for(15s);
            devices[i]->goDown(kOutage);
        }
        int reconnects = 0;
        uint64_t frames = 0;
        for (const auto& pane : panes) {
            reconnects += std::max(0, pane->events.negotiations.load() - 1);
            frames += pane->consumer->frames();
        }
        samples.push_back({residentKilobytes(), logKilobytes(devices), entriesIn("/proc/self/fd"),
                           entriesIn("/proc/self/task")});
        const Sample& now = samples.back();
        std::printf("%6d  %11ld  %10ld  %11d  %7d  %10d  %6llu\n", minute, now.residentKb,
                    now.logKb, now.descriptors, now.threads, reconnects,
                    static_cast<unsigned long long>(frames));
        std::fflush(stdout);
    }
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    std::printf(
        "from minute 1 to minute %d: resident memory %+ld KB, %+ld KB without the simulators' "
        "logs (target: within 1024), descriptors %+d, threads %+d (targets: no growth)\n",
        minutes, last.residentKb - first.residentKb,
        (last.residentKb - last.logKb) - (first.residentKb - first.logKb),
        last.descriptors - first.descriptors, last.threads - first.threads);
    return 0;
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
    const int minutes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    return tess::run(minutes);
}
