// devsim_bench: what the device simulator costs and how fast it can stream.
//
// 1. CPU use of four class-6 devices at 25 frames/s of 704x480, each drained
//    by a minimal loopback reader in this process; the readers' own CPU time
//    (per-thread rusage) is taken off the process total.
// 2. Flat-out throughput of one device per framing (whole frames, packet
//    stream), frames counted by cutting the stream, next to raw loopback TCP
//    throughput measured in the same run.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SimulatedDevice.h"

using namespace tess::devsim;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kLoadRun = std::chrono::seconds(3);
constexpr auto kThroughputRun = std::chrono::milliseconds(1500);

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int connectLoopback(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A reader with its own 64 KiB buffer, so that cutting the stream into
// headers and data does not cost a system call per field.
class StreamReader {
public:
    StreamReader(int fd, Clock::time_point until) : fd_(fd), until_(until) {}

    // Copies the next `count` bytes into `into` (or skips them when null);
    // false on close or when the run is over.
    bool take(size_t count, char* into) {
        while (count > 0) {
            if (begin_ == end_ && !fill()) return false;
            const size_t step = std::min(count, end_ - begin_);
            if (into) std::memcpy(into, buffer_ + begin_, step), into += step;
            begin_ += step;
            count -= step;
        }
        return true;
    }

private:
    bool fill() {
        const int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(until_ - Clock::now()).count());
        pollfd waiting{fd_, POLLIN, 0};
        if (left <= 0 || ::poll(&waiting, 1, left) <= 0) return false;
        const ssize_t got = ::recv(fd_, buffer_, sizeof buffer_, 0);
        if (got <= 0) return false;
        begin_ = 0;
        end_ = static_cast<size_t>(got);
        return true;
    }

    int fd_;
    Clock::time_point until_;
    char buffer_[65536];
    size_t begin_ = 0, end_ = 0;
};

uint16_t le16(const char* at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(at[0]) | static_cast<uint8_t>(at[1]) << 8);
}

size_t headerLength(uint8_t a, uint8_t b) {
    size_t h = (a & 0x02) ? 10 : 8;
    h += (a & 0x04 ? 2 : 0) + (a & 0x08 ? 2 : 0) + (a & 0x10 ? 2 : 0) + (a & 0x20 ? 4 : 0) +
         (a & 0x40 ? 4 : 0) + (a & 0x80 ? 16 : 0);
    return h + (b & 0x01 ? 1 : 0) + (b & 0x02 ? 2 : 0) + (b & 0x04 ? 2 : 0);
}

struct Drained {
    uint64_t bytes = 0, frames = 0;
    double readerCpu = 0;
};

// Whole frame: 1600 bytes, then L + h - 1600 more.
bool readWholeFrame(StreamReader& reader, Drained& result) {
    char window[1600];
    if (!reader.take(sizeof window, window)) return false;
    const size_t length = le16(window + 2);
    const size_t h = headerLength(window[6], window[7]);
    if (length + h < sizeof window || !reader.take(length + h - sizeof window, nullptr))
        return false;
    result.bytes += length + h;
    return true;
}

// Packet stream: the first packet's media header gives S; packets follow
// until the picture is complete.
bool readPacketFrame(StreamReader& reader, Drained& result) {
    size_t picture = 0, collected = 0;
    for (bool first = true; first || collected < picture; first = false) {
        char header[64];
        if (!reader.take(8, header)) return false;
        const size_t length = le16(header + 2);
        const size_t h = headerLength(header[6], header[7]);
        if (length < h || length > 1600 || !reader.take(h - 8, header + 8)) return false;
        size_t data = length - h;
        if (first) {
            char media[32];
            if (data < sizeof media || !reader.take(sizeof media, media)) return false;
            const auto* m = reinterpret_cast<const uint8_t*>(media);
            const size_t mediaLength = (m[21] & 0x7F) == 0x53 ? 104 : 32;
            const size_t size =
                m[27] | (m[24] & 7) << 8 | (m[24] >> 4) << 11 | (m[25] & 0x7F) << 15;
            if (data < mediaLength || size < mediaLength) return false;
            picture = size - mediaLength;
            if (!reader.take(mediaLength - sizeof media, nullptr)) return false;
            data -= mediaLength;
        }
        if (!reader.take(data, nullptr)) return false;
        collected += data;
        result.bytes += length;
    }
    return true;
}

// Drains one video stream until `until`, cutting it into frames.
Drained drain(int fd, bool packetStream, Clock::time_point until) {
    Drained result;
    const double cpuStart = cpuSeconds(RUSAGE_THREAD);
    StreamReader reader(fd, until);
    while (packetStream ? readPacketFrame(reader, result) : readWholeFrame(reader, result))
        ++result.frames;
    result.readerCpu = cpuSeconds(RUSAGE_THREAD) - cpuStart;
    return result;
}

std::string login(uint16_t port) {
    const int fd = connectLoopback(port);
    const std::string request =
        "Get /Login.cgi?Username=admin&Password=velum HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    char reply[1024] = {};
    std::string text;
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (text.find("Product-ID=") == std::string::npos && Clock::now() < until) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 100) <= 0) continue;
        const ssize_t got = ::recv(fd, reply, sizeof reply, 0);
        if (got <= 0) break;
        text.append(reply, static_cast<size_t>(got));
    }
    ::close(fd);
    const size_t at = text.find("Session-ID=");
    return at == std::string::npos ? std::string() : text.substr(at + 11, 30);
}

// Logs in and starts the video stream of `device`; the stream's socket.
int startVideo(SimulatedDevice& device) {
    const std::string session = login(device.port());
    const int fd = connectLoopback(device.streamPort());
    const int deviceClass = device.config().deviceClass;
    std::string request;
    if (deviceClass == 3 || deviceClass == 4 || deviceClass == 50)
        request = "GET /Getvideo.cgi?SessionID=" + session + " HTTP/1.1\r\n\r\n";
    else
        request = "GET / HTTP/1.1\r\nContent-Length: 77\r\n\r\nSession: " + session +
                  "\r\nCommand: Jpeg\r\nCommand: Start Play\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    return fd;
}

DeviceConfig benchConfig(int deviceClass, bool flatOut) {
    DeviceConfig config;
    config.deviceClass = deviceClass;
    config.width = 704;
    config.height = 480;
    config.flatOut = flatOut;
    return config;
}

void loadRun() {
    std::vector<std::unique_ptr<SimulatedDevice>> devices;
    for (int i = 0; i < 4; ++i) {
        devices.push_back(std::make_unique<SimulatedDevice>(benchConfig(6, false)));
        if (!devices.back()->start()) {
            std::fprintf(stderr, "cannot start: %s\n", devices.back()->lastError().c_str());
            return;
        }
    }
    std::vector<int> streams;
    for (auto& device : devices) streams.push_back(startVideo(*device));
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    std::vector<Drained> drained(streams.size());
    std::vector<std::thread> readers;
    for (size_t i = 0; i < streams.size(); ++i)
        readers.emplace_back([&, i] { drained[i] = drain(streams[i], true, start + kLoadRun); });
    for (auto& reader : readers) reader.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double total = cpuSeconds(RUSAGE_SELF) - cpuStart;
    double readerCpu = 0;
    uint64_t frames = 0, bytes = 0;
    for (const Drained& d : drained) readerCpu += d.readerCpu, frames += d.frames, bytes += d.bytes;
    std::printf(
        "load: 4 devices, 704x480 at 25 fps, %.1f s: %.1f frames/s in all, %.2f MB/s, "
        "quality %d\n",
        wall, frames / wall, bytes / wall / 1e6, devices[0]->frameLoop()->quality());
    std::printf("load: simulator CPU %.1f%% of one core (process %.1f%%, readers %.1f%%)\n",
                100 * (total - readerCpu) / wall, 100 * total / wall, 100 * readerCpu / wall);
    for (int fd : streams) ::close(fd);
    for (auto& device : devices) device->stop();
}

void throughputRun(int deviceClass, const char* name) {
    SimulatedDevice device(benchConfig(deviceClass, true));
    if (!device.start()) {
        std::fprintf(stderr, "cannot start: %s\n", device.lastError().c_str());
        return;
    }
    const int fd = startVideo(device);
    const auto start = Clock::now();
    const Drained d = drain(fd, deviceClass != 3, start + kThroughputRun);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flat out, %-13s: %8.1f MB/s %9.1f frames/s\n", name, d.bytes / wall / 1e6,
                d.frames / wall);
    ::close(fd);
    device.stop();
}

void rawLoopbackRun() {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::listen(listener, 1);
    socklen_t size = sizeof local;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&local), &size);
    const int reader = connectLoopback(ntohs(local.sin_port));
    const int writer = ::accept(listener, nullptr, nullptr);
    std::atomic<bool> done{false};
    std::thread sender([&] {
        std::vector<char> chunk(65536, 'x');
        while (!done)
            if (::send(writer, chunk.data(), chunk.size(), MSG_NOSIGNAL) < 0) break;
    });
    const auto start = Clock::now();
    uint64_t bytes = 0;
    char sink[65536];
    while (Clock::now() - start < kThroughputRun) {
        const ssize_t got = ::recv(reader, sink, sizeof sink, 0);
        if (got <= 0) break;
        bytes += static_cast<uint64_t>(got);
    }
    done = true;
    ::shutdown(reader, SHUT_RDWR);
    ::shutdown(writer, SHUT_RDWR);
    sender.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("raw loopback TCP     : %8.1f MB/s\n", bytes / wall / 1e6);
    ::close(reader);
    ::close(writer);
    ::close(listener);
}

}  // namespace

int main() {
    loadRun();
    throughputRun(3, "whole-frame");
    throughputRun(6, "packet-stream");
    rawLoopbackRun();
    return 0;
}
