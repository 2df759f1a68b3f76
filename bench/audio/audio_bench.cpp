// audio_bench: live sound through network jitter and clock drift.
//
// For each case a simulated class 6 camera sends a steady 500 Hz tone
// (amplitude 8000), audio only, with the simulator's --audio-jitter,
// --audio-jitter-seconds and --audio-clock-ppm; a pane receives, decodes and
// plays it through the real output path (PulseAudioOut) into a private
// PulseAudio server's null sink, whose monitor is recorded from the first
// sound on. Printed per case:
//
// - dropouts: 4 or more samples below 300 in magnitude inside the tone,
//   counted from the first sound (after its 8 ms fade-in) to the last (before
//   its fade-out); all of them, and those after the first 2 s;
// - latency of each frame's first sample from the device's send to playing:
//   the time from the send to the block's hand-over to the output, plus the
//   sound queued ahead of it there (in the program and at the server), median
//   and worst; for jitter cases over the jittered part of the run;
// - recovery: jitter cases jitter only for the first half of the run; the time
//   from its end until the latency stays below 60 ms;
// - drift: the median latency around 5 s and over the last 4 s.
//
// Also the heap allocations of the pane's audio threads while they play into
// the real output (target 0).
//
//   audio_bench [SECONDS]     SECONDS per case (60); five cases.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PaneTestSupport.h"
#include "PulseServer.h"
#include "SimulatedDevice.h"
#include "ThreadAllocations.h"
#include "WriteStamps.h"
#include "media/PulseAudioOut.h"

namespace {
constexpr std::array<const char*, 3> kCountedThreads = {"AudioReceiver", "AudioDecoder",
                                                        "AudioPlayer"};
}  // namespace

namespace tess {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::DeviceConfig;

constexpr int kQuiet = 300;
constexpr size_t kFadeMargin = 64;  // 8 ms at either end of the sound
constexpr double kLatencyBoundMs = 60;

struct Dropouts {
    size_t all = 0, after2s = 0;
    double firstAt = -1;  // seconds after the first sound
    double recordedSeconds = 0;
};

Dropouts dropoutsIn(const std::vector<int16_t>& samples) {
    const auto quiet = [](int16_t s) { return s > -kQuiet && s < kQuiet; };
    size_t first = 0, last = samples.size();
    while (first < last && quiet(samples[first])) ++first;
    while (last > first && quiet(samples[last - 1])) --last;
    Dropouts result;
    result.recordedSeconds = (last - first) / 8000.0;
    if (last - first < 2 * kFadeMargin) return result;
    size_t run = 0;
    for (size_t i = first + kFadeMargin; i < last - kFadeMargin; ++i) {
        run = quiet(samples[i]) ? run + 1 : 0;
        if (run != 4) continue;
        const double at = (i - first) / 8000.0;
        ++result.all;
        if (at > 2.0) ++result.after2s;
        if (result.firstAt < 0) result.firstAt = at;
    }
    return result;
}

double medianOf(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Case {
    const char* name;
    int jitterMs;
    int ppm;
};

struct Row {
    Dropouts dropouts;
    double median = 0, worst = 0;  // ms, over the jittered part for jitter cases
    double steadyMedian = 0;       // ms, jitter cases: after the jitter
    double recovery = -1;          // s after the jitter stopped; -1: never
    double medianAt5 = 0, medianAtEnd = 0;
    size_t blocks = 0;
    uint64_t receiverDrops = 0, resets = 0, underflows = 0;
    uint64_t allocations = 0;
    std::string error;
};

Row runCase(const Case& c, int seconds) {
    Row row;
    PulseServer server;
    if (!server.error().empty()) {
        row.error = "no sound server (" + server.error() + ")";
        return row;
    }
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    DeviceConfig config;
    config.deviceClass = 6;
    config.toneHz = 500;
    config.audioJitterMs = c.jitterMs;
    config.audioJitterSeconds = c.jitterMs > 0 ? seconds / 2.0 : 0;
    config.audioClockPpm = c.ppm;
    auto device = panetest::startedDevice(config);
    if (!device || !server.startRecording()) {
        row.error = "no device or no recorder";
        unsetenv("PULSE_SERVER");
        return row;
    }
    WriteStamps stamps;
    std::vector<int16_t> recorded;
    {
        PulseAudioOut out;
        if (!out.playing()) {
            row.error = "the output does not play";
            unsetenv("PULSE_SERVER");
            return row;
        }
        out.setWriteProbe(&stamps);
        auto pane = std::make_unique<panetest::TestPane>(0, &out);
        panetest::startPaneOn(*pane->runtime, *device, false, true);
        // The run counts from the first block played.
        panetest::eventually([&] { return stamps.count() > 0; }, 15s);
        const auto start = Clock::now();
        std::this_thread::sleep_until(start + 3s);
        bench::startCountingAllocations(kCountedThreads);
        std::this_thread::sleep_until(start + 6s);
        bench::stopCountingAllocations();
        for (size_t i = 0; i < kCountedThreads.size(); ++i)
            row.allocations += bench::countedAllocations(i);
        std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
        pane->runtime->stopPane();
        row.receiverDrops = pane->runtime->audio().droppedFrames();
        pane.reset();
        row.resets = out.resets();
        row.underflows = out.underflows();
        out.setWriteProbe(nullptr);
        std::this_thread::sleep_for(300ms);
        recorded = server.stopRecording();
    }
    unsetenv("PULSE_SERVER");
    row.dropouts = dropoutsIn(recorded);

    // Block n is the device's frame n + 1: nothing is dropped on the way
    // (the receiver's drops are printed).
    const int64_t sent0 = device->audioSentAt(1);
    const double jitterEnd = c.jitterMs > 0 ? seconds / 2.0 : 1e9;
    std::vector<double> jittered, steady, at5, atEnd;
    double lastHigh = -1;
    for (size_t n = 0; n < stamps.count(); ++n) {
        const int64_t sent = device->audioSentAt(static_cast<int>(n) + 1);
        if (sent == 0) break;
        const double latency = (stamps.writtenNs(n) - sent) / 1e6 + stamps.queuedUs(n) / 1e3;
        const double t = (sent - sent0) / 1e9;
        ++row.blocks;
        (t < jitterEnd ? jittered : steady).push_back(latency);
        row.worst = std::max(row.worst, t < jitterEnd ? latency : 0.0);
        if (t >= 3 && t <= 7) at5.push_back(latency);
        if (t >= seconds - 4) atEnd.push_back(latency);
        if (t >= jitterEnd && latency >= kLatencyBoundMs) lastHigh = t;
    }
    if (c.jitterMs == 0) {
        row.worst = 0;
        for (double latency : jittered) row.worst = std::max(row.worst, latency);
    }
    row.median = medianOf(jittered);
    row.steadyMedian = medianOf(steady);
    // Still high in the last second: it never came back.
    if (c.jitterMs > 0)
        row.recovery = lastHigh < 0 ? 0 : lastHigh > seconds - 1 ? -1 : lastHigh - jitterEnd;
    row.medianAt5 = medianOf(at5);
    row.medianAtEnd = medianOf(atEnd);
    return row;
}

}  // namespace
}  // namespace tess

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds < 12) {
        std::fprintf(stderr, "usage: audio_bench [SECONDS]  (at least 12; 60 by default)\n");
        return 2;
    }
    const tess::Case cases[] = {{"jitter 0 ms", 0, 0},
                                {"jitter 40 ms", 40, 0},
                                {"jitter 100 ms", 100, 0},
                                {"drift +0.3 %", 0, 3000},
                                {"drift -0.3 %", 0, -3000}};
    std::printf(
        "== live audio, %d s per case: 500 Hz tone, class 6, audio only, real output into a "
        "PulseAudio null sink ==\n"
        "jitter cases jitter for the first %d s; latency = device send to the block's hand-over "
        "+ sound queued ahead of it\n\n",
        seconds, seconds / 2);
    std::printf("%-14s | %9s %9s | %10s %10s | %10s | %9s | %15s | %s\n", "case", "dropouts",
                "after 2s", "median ms", "worst ms", "recovery", "steady ms", "drift 5s/end ms",
                "blocks, receiver drops, resets, underflows, allocations");
    for (const tess::Case& c : cases) {
        const tess::Row row = tess::runCase(c, seconds);
        if (!row.error.empty()) {
            std::printf("%-14s | %s\n", c.name, row.error.c_str());
            continue;
        }
        char recovery[32] = "-";
        if (c.jitterMs > 0) {
            if (row.recovery < 0)
                std::snprintf(recovery, sizeof recovery, "never");
            else
                std::snprintf(recovery, sizeof recovery, "%.1f s", row.recovery);
        }
        char steady[32] = "-";
        if (c.jitterMs > 0) std::snprintf(steady, sizeof steady, "%.1f", row.steadyMedian);
        char drift[32] = "-";
        if (c.ppm != 0)
            std::snprintf(drift, sizeof drift, "%.1f / %.1f", row.medianAt5, row.medianAtEnd);
        std::printf(
            "%-14s | %9zu %9zu | %10.1f %10.1f | %10s | %9s | %15s | %zu, %llu, %llu, %llu, %llu\n",
            c.name, row.dropouts.all, row.dropouts.after2s, row.median, row.worst, recovery, steady,
            drift, row.blocks, static_cast<unsigned long long>(row.receiverDrops),
            static_cast<unsigned long long>(row.resets),
            static_cast<unsigned long long>(row.underflows),
            static_cast<unsigned long long>(row.allocations));
        if (row.dropouts.all > 0)
            std::printf("%-14s   (first dropout %.2f s after the first sound; %.1f s recorded)\n",
                        "", row.dropouts.firstAt, row.dropouts.recordedSeconds);
        std::fflush(stdout);
    }
    std::printf(
        "\ntargets: 0 dropouts (jitter 100: at most 1, in the first 2 s); median <= 60 ms at "
        "jitter "
        "0, <= jitter + 60 ms otherwise; recovery <= 10 s; drift: end within 20 ms of 5 s; 0 "
        "allocations\n");
    return 0;
}
