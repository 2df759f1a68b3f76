// pane_bench: what one pane's connection side costs while it streams.
//
// 1. Receive throughput: a PaneRuntime against a flat-out simulated device for
//    each framing (whole frames of class 3 and 4, packet stream of class 6) at
//    704x480 and 352x240, its frames taken by a consumer that only gives the
//    slots back; printed next to the TurboJPEG decode rate of frames captured
//    from the same run.
// 2. Heap allocations in the steady state: 1000 video frames of a pane that
//    also receives audio, and 1000 frames through the audio receiver, decoder
//    and player fed flat out on loopback. The replaced global operator new
//    counts per thread name, so the simulator's own allocations stay out.
// 3. Audio latency through a private PulseAudio server over 60 s of a tone:
//    from the simulator's send of a frame's last byte to its block's hand-over
//    to the output, the sound queued ahead of each block there (the output's
//    playout buffer and the server), their sum, and the dropouts in the null
//    sink's recording. bench/audio/audio_bench does the same under jitter and
//    clock drift.
//
// About two minutes in all; figures go to standard output.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "AdpcmEncoder.h"
#include "PaneTestSupport.h"
#include "PulseServer.h"
#include "SimulatedDevice.h"
#include "StreamWire.h"
#include "ThreadAllocations.h"
#include "WriteStamps.h"
#include "media/PulseAudioOut.h"
#include "pane/PaneRuntime.h"
#include "platform/WorkerThread.h"

// Only allocations made by the pane's own threads count, told apart by the
// names the threads give themselves.
namespace {
constexpr std::array<const char*, 5> kCountedThreads = {
    "VideoReceiver", "AudioReceiver", "AudioDecoder", "AudioPlayer", "ConnectThread"};
}  // namespace

namespace tess {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using devsim::DeviceConfig;
using devsim::SimulatedDevice;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > until) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

using panetest::InstantAudioOut;
using panetest::ReleasingConsumer;

// A pane with its consumer, started on one simulated device.
struct BenchPane : panetest::TestPane {
    BenchPane(SimulatedDevice& device, bool audio) {
        panetest::startPaneOn(*runtime, device, true, audio);
    }
};

// ---- 1. receive throughput against decoding --------------------------------

struct Rate {
    double framesPerSecond = 0;
    double megabytesPerSecond = 0;
};

// Decodes the frames round robin for about `duration`, as the render thread
// would (TurboJPEG into 32-bit pixels). `failed` when a frame is not a JPEG of
// the expected size or does not decode.
Rate decodeRate(const std::array<std::vector<uint8_t>, ReleasingConsumer::kCaptureFrames>& frames,
                int width, int height, std::chrono::milliseconds duration, bool& failed) {
    tjhandle handle = tjInitDecompress();
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    uint64_t decoded = 0, bytes = 0;
    failed = false;
    for (const std::vector<uint8_t>& jpeg : frames) {
        int frameWidth = 0, frameHeight = 0, subsampling = 0, colourspace = 0;
        if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                &frameWidth, &frameHeight, &subsampling, &colourspace) != 0 ||
            frameWidth != width || frameHeight != height)
            failed = true;
    }
    const auto start = Clock::now();
    while (Clock::now() - start < duration) {
        for (const std::vector<uint8_t>& jpeg : frames) {
            const int result = tjDecompress2(
                handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), pixels.data(), width,
                width * 4, height, TJPF_BGRX, TJFLAG_LIMITSCANS);
            if (result != 0 && tjGetErrorCode(handle) != TJERR_WARNING) failed = true;
            ++decoded;
            bytes += jpeg.size();
        }
    }
    const double seconds = secondsSince(start);
    tjDestroy(handle);
    return {decoded / seconds, bytes / seconds / 1e6};
}

void receiveAgainstDecode(int deviceClass, const char* framing, int width, int height) {
    DeviceConfig config;
    config.deviceClass = deviceClass;
    config.width = width;
    config.height = height;
    config.flatOut = true;
    config.audio = false;
    auto device = panetest::startedDevice(config);
    if (!device) return;
    Rate receive;
    uint64_t dropped = 0;
    std::array<std::vector<uint8_t>, ReleasingConsumer::kCaptureFrames> frames;
    {
        BenchPane bench(*device, false);
        ReleasingConsumer& consumer = *bench.consumer;
        if (!waitUntil([&] { return consumer.frames() >= 200; }, 10s)) {
            std::printf("class %d %dx%d: no stream (%llu frames)\n", deviceClass, width, height,
                        static_cast<unsigned long long>(consumer.frames()));
            return;
        }
        consumer.capture();
        const auto start = Clock::now();
        const uint64_t frames0 = consumer.frames(), bytes0 = consumer.bytes();
        const uint64_t dropped0 = bench.runtime->frames().droppedFrames();
        std::this_thread::sleep_for(1500ms);
        const double seconds = secondsSince(start);
        receive.framesPerSecond = (consumer.frames() - frames0) / seconds;
        receive.megabytesPerSecond = (consumer.bytes() - bytes0) / seconds / 1e6;
        dropped = bench.runtime->frames().droppedFrames() - dropped0;
        if (!waitUntil(
                [&] { return consumer.capturedCount() == ReleasingConsumer::kCaptureFrames; }, 2s))
            return;
        frames = consumer.captured();
    }
    device.reset();  // the decode runs alone, as the receive did

    bool failed = false;
    const Rate decode = decodeRate(frames, width, height, 1000ms, failed);
    std::printf(
        "class %d %-12s %3dx%-3d  receive %7.0f frames/s %6.1f MB/s (%llu dropped)  |  decode "
        "%6.0f frames/s %5.1f MB/s%s  |  receive/decode %5.1fx (target >= 5x)\n",
        deviceClass, framing, width, height, receive.framesPerSecond, receive.megabytesPerSecond,
        static_cast<unsigned long long>(dropped), decode.framesPerSecond, decode.megabytesPerSecond,
        failed ? " DECODE ERRORS" : "", receive.framesPerSecond / decode.framesPerSecond);
}

// ---- 2. allocations in the steady state ------------------------------------

void startCounting() {
    bench::startCountingAllocations(kCountedThreads);
}

void printCounts(const char* what, uint64_t frames, double seconds, int reports) {
    bench::stopCountingAllocations();
    uint64_t total = 0;
    std::string byThread;
    for (size_t i = 0; i < kCountedThreads.size(); ++i) {
        total += bench::countedAllocations(i);
        byThread += std::string(" ") + kCountedThreads[i] + "=" +
                    std::to_string(bench::countedAllocations(i));
    }
    std::printf(
        "%s: %llu allocations over %llu frames (%.2f s, %d statistics reports) [%s ] (target: "
        "0)\n",
        what, static_cast<unsigned long long>(total), static_cast<unsigned long long>(frames),
        seconds, reports, byThread.c_str());
}

// Counts the pane threads' allocations over at least 1000 frames and 2.5 s,
// long enough for a statistics report (every 2 s) to fall into the count; the
// reports are told by their restart of the statistics start.
void countSteadyState(const char* what, const std::function<uint64_t()>& frames,
                      const std::atomic<uint32_t>& statsStart) {
    const uint64_t frames0 = frames();
    uint32_t lastStart = statsStart;
    int reports = 0;
    const auto start = Clock::now();
    startCounting();
    waitUntil(
        [&] {
            if (statsStart != lastStart) {
                lastStart = statsStart;
                ++reports;
            }
            return frames() >= frames0 + 1000 && Clock::now() - start > 2500ms;
        },
        20s);
    printCounts(what, frames() - frames0, secondsSince(start), reports);
}

void paneAllocations(int deviceClass) {
    DeviceConfig config;
    config.deviceClass = deviceClass;
    config.width = 704;
    config.height = 480;
    config.flatOut = true;
    config.toneHz = 1000;
    auto device = panetest::startedDevice(config);
    if (!device) return;
    BenchPane bench(*device, true);
    ReleasingConsumer& consumer = *bench.consumer;
    if (!waitUntil([&] { return consumer.frames() >= 300 && bench.audioOut.blocks() >= 2; }, 10s)) {
        std::printf("pane allocations: no stream\n");
        return;
    }
    const uint64_t blocks0 = bench.audioOut.blocks();
    const std::string what = "pane class " + std::to_string(deviceClass) + " video+audio";
    countSteadyState(
        what.c_str(), [&] { return consumer.frames(); },
        bench.runtime->connection().statistics.statsStart);
    std::printf("  (audio blocks played meanwhile: %llu)\n",
                static_cast<unsigned long long>(bench.audioOut.blocks() - blocks0));
}

// Serves one audio stream on loopback as fast as the socket takes it: the
// simulator paces audio at its playing speed, which would make 1000 frames
// take two minutes.
class AudioFeeder {
public:
    AudioFeeder() {
        devsim::ToneSource tone(1000);
        devsim::AdpcmEncoder encoder;
        std::array<int16_t, 1024> samples{};
        for (std::string& frame : frames_) {
            tone.fill(samples.data(), samples.size());
            const int16_t predictor = encoder.predictor();
            const int8_t index = encoder.stepIndex();
            frame = devsim::wire::audioFrame(predictor, index,
                                             encoder.encode(samples.data(), samples.size()), {});
        }
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~AudioFeeder() {
        stop_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    void serve() {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        const timeval limit{0, 100000};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        char request[1024];
        if (::recv(fd, request, sizeof request, 0) > 0) {
            for (size_t next = 0; !stop_; next = (next + 1) % frames_.size()) {
                const std::string& frame = frames_[next];
                size_t sent = 0;
                while (sent < frame.size() && !stop_) {
                    const ssize_t count =
                        ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
                    if (count > 0)
                        sent += static_cast<size_t>(count);
                    else if (errno != EAGAIN && errno != EWOULDBLOCK)
                        stop_ = true;
                }
            }
        }
        ::close(fd);
    }

    std::array<std::string, 16> frames_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class CountingReconnector : public ReceiverHooks {
public:
    void restartConnection(uint32_t) override { ++calls; }
    void reportPictureLost(uint32_t) override {}
    bool waitBeforeAudioReopen(uint32_t, uint32_t, const std::atomic<bool>&) override {
        return false;
    }
    std::atomic<int> calls{0};
};

void audioPathAllocations() {
    AudioFeeder feeder;
    if (feeder.port() == 0) {
        std::printf("audio path allocations: no loopback socket\n");
        return;
    }
    PaneConnection connection("127.0.0.1");
    const uint32_t generation = connection.beginGeneration();
    SessionFacts facts;
    facts.host = u"127.0.0.1";
    facts.streamPort = feeder.port();
    connection.publishNegotiated(facts, facts.channel, generation);
    AudioQueue queue;
    StreamPacket window;
    std::atomic<bool> stop{false};
    CountingReconnector reconnector;
    InstantAudioOut out;
    AudioDecoder decoder(queue);
    AudioPlayer player(queue, out);
    decoder.start();
    player.start();
    {
        WorkerThread receiver("AudioReceiver", [&](const WorkerThread::StopRequest&) {
            runAudioReceiver(connection, generation, queue, window, stop, reconnector);
        });
        receiver.start();
        if (waitUntil([&] { return out.blocks() >= 100; }, 10s)) {
            countSteadyState(
                "audio receiver+decoder+player", [&] { return decoder.decodedFrames(); },
                connection.statistics.statsStart);
        } else {
            std::printf("audio path allocations: no stream\n");
        }
        connection.stopping = true;
        stop = true;
        receiver.join();
    }
    player.requestStop();
    decoder.requestStop();
    player.join();
    decoder.join();
    std::printf("  (frames dropped by the receiver: %llu, reconnects asked: %d)\n",
                static_cast<unsigned long long>(queue.droppedFrames()), reconnector.calls.load());
}

// ---- 3. audio latency through a real sound server ----------------------------

// Runs of at least 4 silent samples between the first and the last sound.
size_t dropoutsIn(const std::vector<int16_t>& samples) {
    const auto silent = [](int16_t s) { return s >= -2 && s <= 2; };
    size_t first = 0, last = samples.size(), gaps = 0, run = 0;
    while (first < last && silent(samples[first])) ++first;
    while (last > first && silent(samples[last - 1])) --last;
    for (size_t i = first; i < last; ++i) {
        run = silent(samples[i]) ? run + 1 : 0;
        if (run == 4) ++gaps;
    }
    return gaps;
}

struct Spread {
    double median = 0, worst = 0;
};

Spread spreadOf(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

// A class 6 device's 500 Hz tone, audio only, through the pane into a private
// PulseAudio server's null sink for `seconds`, recorded back from its monitor.
// Block n is frame n + 1 of the device's stream (nothing is dropped on the
// way, which the run checks).
void audioLatency(int seconds) {
    PulseServer server;
    if (!server.error().empty()) {
        std::printf("audio latency: no sound server (%s)\n", server.error().c_str());
        return;
    }
    setenv("PULSE_SERVER", server.address().c_str(), 1);
    DeviceConfig config;
    config.deviceClass = 6;
    config.toneHz = 500;
    auto device = panetest::startedDevice(config);
    if (!device || !server.startRecording()) {
        std::printf("audio latency: no device or no recorder\n");
        return;
    }
    WriteStamps stamps;
    uint64_t receiverDrops = 0, resets = 0, underflows = 0;
    std::vector<int16_t> recorded;
    {
        PulseAudioOut out;
        if (!out.playing()) {
            std::printf("audio latency: the output does not play\n");
            return;
        }
        out.setWriteProbe(&stamps);
        auto pane = std::make_unique<panetest::TestPane>(0, &out);
        panetest::startPaneOn(*pane->runtime, *device, false, true);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        pane->runtime->stopPane();
        receiverDrops = pane->runtime->audio().droppedFrames();
        pane.reset();
        resets = out.resets();
        underflows = out.underflows();
        out.setWriteProbe(nullptr);
        std::this_thread::sleep_for(300ms);
        recorded = server.stopRecording();
    }
    unsetenv("PULSE_SERVER");

    std::vector<double> sendToWrite, queued, total;
    for (size_t n = 0; n < stamps.count(); ++n) {
        const int64_t sent = device->audioSentAt(static_cast<int>(n) + 1);
        if (sent == 0) break;
        const double toWrite = (stamps.writtenNs(n) - sent) / 1e6;
        const double ahead = stamps.queuedUs(n) / 1e3;
        sendToWrite.push_back(toWrite);
        queued.push_back(ahead);
        total.push_back(toWrite + ahead);
    }
    const Spread write = spreadOf(sendToWrite), held = spreadOf(queued), sum = spreadOf(total);
    std::printf(
        "audio, %d s of a 500 Hz tone, %zu blocks (%llu dropped by the receiver, %llu output "
        "resets, %llu underflows):\n"
        "  device send of a frame's last byte to its block's write: median %.2f ms, worst %.2f "
        "ms (target: median <= 5 ms)\n"
        "  sound queued ahead of each block (playout buffer and server): median %.2f ms, "
        "worst %.2f ms (target <= 50 ms)\n"
        "  the two together: median %.2f ms, worst %.2f ms (target: within 60 ms)\n"
        "  dropouts (4 or more silent samples) in %.1f s recorded from the null sink: %zu "
        "(target 0)\n",
        seconds, sendToWrite.size(), static_cast<unsigned long long>(receiverDrops),
        static_cast<unsigned long long>(resets), static_cast<unsigned long long>(underflows),
        write.median, write.worst, held.median, held.worst, sum.median, sum.worst,
        recorded.size() / 8000.0, dropoutsIn(recorded));
}

}  // namespace
}  // namespace tess

int main() {
    std::printf("== receive path (one pane, flat-out device) vs TurboJPEG decode ==\n");
    for (const auto& [width, height] : {std::pair{704, 480}, std::pair{352, 240}}) {
        tess::receiveAgainstDecode(3, "whole frame", width, height);
        tess::receiveAgainstDecode(4, "whole frame", width, height);
        tess::receiveAgainstDecode(6, "packet", width, height);
    }
    std::printf("== heap allocations while streaming (after warm-up) ==\n");
    for (int deviceClass : {3, 4, 6}) tess::paneAllocations(deviceClass);
    tess::audioPathAllocations();
    std::printf("== audio latency through a sound server ==\n");
    tess::audioLatency(60);
    return 0;
}
