#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackClient.h"
#include "ReferenceReader.h"
#include "SimulatedDevice.h"

namespace tess::devsim {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClient;
using testing::ReferenceDecoder;

const std::string kHeaderBlock =
    "HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\nAccept-Encoding: gzip, deflate\r\n"
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322)\r\n"
    "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n";

std::string login(uint16_t port) {
    LoopbackClient client(port);
    client.send("Get /Login.cgi?Username=admin&Password=velum " + kHeaderBlock + "\r\n");
    const std::string reply = client.readReply();
    const size_t at = reply.find("Session-ID=");
    return at == std::string::npos ? std::string() : reply.substr(at + 11, 30);
}

std::string startByBody(const std::string& session, const char* command, int length) {
    return "GET / " + kHeaderBlock + "Content-Length: " + std::to_string(length) +
           "\r\n\r\nSession: " + session + "\r\nCommand: " + command +
           "\r\nCommand: Start Play\r\n";
}

std::string startByUrl(const std::string& session) {
    return "GET /Getvideo.cgi?SessionID=" + session + " " + kHeaderBlock + "\r\n";
}

// A started device and a stream connection that asked for video or audio.
struct Streaming {
    std::unique_ptr<SimulatedDevice> device;
    std::unique_ptr<LoopbackClient> stream;
    std::string session;
};

Streaming startStream(DeviceConfig config, bool audio = false) {
    Streaming s;
    s.device = std::make_unique<SimulatedDevice>(config);
    if (!s.device->start()) return s;
    s.session = login(s.device->port());
    s.stream = std::make_unique<LoopbackClient>(s.device->streamPort());
    const bool byBody =
        config.deviceClass != 3 && config.deviceClass != 4 && config.deviceClass != 50;
    s.stream->send(audio    ? startByBody(s.session, "Audio", 78)
                   : byBody ? startByBody(s.session, "Jpeg", 77)
                            : startByUrl(s.session));
    return s;
}

DeviceConfig quick(int deviceClass) {
    DeviceConfig config;
    config.deviceClass = deviceClass;
    config.loopFrames = 3;
    config.framesPerSecond = 50;
    return config;
}

bool decodesAs(const std::string& jpeg, int width, int height) {
    tjhandle handle = tjInitDecompress();
    int w = 0, h = 0, subsampling = 0, colours = 0;
    const int result =
        tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(jpeg.data()),
                            jpeg.size(), &w, &h, &subsampling, &colours);
    std::vector<unsigned char> pixels(static_cast<size_t>(w) * h * 3);
    const bool decoded =
        result == 0 && tjDecompress2(handle, reinterpret_cast<const unsigned char*>(jpeg.data()),
                                     jpeg.size(), pixels.data(), w, 0, h, TJPF_RGB, 0) == 0;
    tjDestroy(handle);
    return decoded && w == width && h == height;
}

bool startsJpeg(const std::string& picture) {
    return picture.size() > 4 && static_cast<uint8_t>(picture[0]) == 0xFF &&
           static_cast<uint8_t>(picture[1]) == 0xD8;
}

TEST(DeviceVideo, PacketStreamFramesFitTheViewerAtBothSizes) {
    for (const auto& [width, height, longHeader] :
         {std::tuple{352, 240, false}, std::tuple{704, 480, true}}) {
        DeviceConfig config = quick(6);
        config.width = width, config.height = height, config.longMediaHeader = longHeader;
        Streaming s = startStream(config);
        ASSERT_TRUE(s.stream && s.stream->connected());
        for (int i = 0; i < 3; ++i) {
            const testing::PacketFrame frame = testing::readPacketFrame(*s.stream);
            ASSERT_TRUE(frame.ok) << width << " frame " << i;
            EXPECT_EQ(frame.mediaHeaderLength, longHeader ? 104u : 32u);
            EXPECT_GE(frame.packets.size(), 2u);
            EXPECT_EQ(frame.picture.size() % 2, 0u);
            EXPECT_LE(frame.picture.size(), 25000u);
            EXPECT_TRUE(startsJpeg(frame.picture));
            EXPECT_TRUE(decodesAs(frame.picture, width, height));
        }
    }
}

TEST(DeviceVideo, WholeFramesOfClass3And4FollowTheirLengthRules) {
    for (int deviceClass : {3, 4, 50}) {
        Streaming s = startStream(quick(deviceClass));
        ASSERT_TRUE(s.stream && s.stream->connected());
        for (int i = 0; i < 2; ++i) {
            const testing::WholeFrame frame = testing::readWholeFrame(*s.stream, deviceClass == 4);
            ASSERT_TRUE(frame.ok) << "class " << deviceClass;
            const size_t picture =
                deviceClass == 4 ? frame.length - frame.headerLength : frame.length;
            EXPECT_EQ(frame.picture.size(), picture);
            EXPECT_TRUE(startsJpeg(frame.picture));
            EXPECT_TRUE(decodesAs(frame.picture, 352, 240));
        }
    }
}

TEST(DeviceVideo, FramesArePacedAtTheFrameRate) {
    DeviceConfig config = quick(6);
    config.framesPerSecond = 25;
    Streaming s = startStream(config);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(testing::readPacketFrame(*s.stream).ok);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 180ms);  // 5 intervals of 40 ms
}

TEST(DeviceVideo, RemoteKeysChangeWhatIsStreamed) {
    DeviceConfig config = quick(3);
    Streaming s = startStream(config);
    ASSERT_TRUE(testing::readWholeFrame(*s.stream, false).ok);
    LoopbackClient command(s.device->port());
    command.send("GET /RS485Cmd.cgi?Control=R5NS&MASTER=1&SessionID=" + s.session +
                 " HTTP/1.1\r\nAccept: */* \r\nAccept-Language: zh-tw\r\nContent-Length: 4\r\n"
                 "Accept-Encoding: gzip, deflate\r\nHost: 127.0.0.1\r\n"
                 "Connection: Keep-Alive\r\n\r\n" +
                 std::string("\x01\x19\x01\x32", 4));
    ASSERT_NE(command.readReply().find("200 OK"), std::string::npos);
    const auto loop = s.device->frameLoop();
    EXPECT_EQ(loop->scene().split, 9);
    bool seen = false;
    for (int i = 0; i < 10 && !seen; ++i) {
        const testing::WholeFrame frame = testing::readWholeFrame(*s.stream, false);
        ASSERT_TRUE(frame.ok);
        for (size_t k = 0; k < loop->size(); ++k) seen = seen || frame.picture == loop->picture(k);
    }
    EXPECT_TRUE(seen) << "the split-9 pictures are streamed after the key";
}

TEST(DeviceVideo, StartsOfTheWrongKindOrPortAreRefused) {
    {
        DeviceConfig config = quick(6);
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start());
        LoopbackClient byUrl(device.port());
        byUrl.send(startByUrl(login(device.port())));
        EXPECT_EQ(byUrl.readReply().find("200"), std::string::npos);
        EXPECT_TRUE(byUrl.closedWithin(1s));
    }
    {
        DeviceConfig config = quick(6);
        config.separateStreamPort = true;
        SimulatedDevice device(config);
        ASSERT_TRUE(device.start());
        const std::string session = login(device.port());
        LoopbackClient wrongPort(device.port());
        wrongPort.send(startByBody(session, "Jpeg", 77));
        EXPECT_TRUE(wrongPort.closedWithin(1s));
        LoopbackClient streamPort(device.streamPort());
        streamPort.send(startByBody(session, "Jpeg", 77));
        EXPECT_TRUE(testing::readPacketFrame(streamPort).ok);
    }
    {
        DeviceConfig config = quick(4);
        config.audio = false;
        Streaming s = startStream(config, true);
        EXPECT_TRUE(s.stream->closedWithin(1s));
    }
}

TEST(DeviceVideo, ConnectionCloseDatagramEndsTheSessionsStreams) {
    Streaming s = startStream(quick(6));
    ASSERT_TRUE(testing::readPacketFrame(*s.stream).ok);
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in device{};
    device.sin_family = AF_INET;
    device.sin_port = htons(s.device->port());
    device.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto datagram = [&](const std::string& tail) {
        const std::string body = "Session: " + s.session + tail;
        const std::string text = "GET / " + kHeaderBlock +
                                 "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                                 body;
        ::sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&device),
                 sizeof device);
    };
    datagram("\r\nBitRate: 100\r\nFrameRate: 25\r\n");
    ASSERT_TRUE(s.device->log().waitUntil([](const auto& e) { return !e.empty(); }, 1s));
    EXPECT_TRUE(testing::readPacketFrame(*s.stream).ok) << "statistics do not end the stream";
    datagram("\r\nConnection: Close\r\n");
    EXPECT_TRUE(s.stream->closedWithin(1s));
    ::close(fd);
    const auto datagrams = s.device->log().datagrams();
    ASSERT_EQ(datagrams.size(), 2u);
    EXPECT_NE(datagrams[1].find("Connection: Close"), std::string::npos);
    LoopbackClient late(s.device->port());
    late.send("GET /RequestStream.cgi?SessionID=" + s.session + " " + kHeaderBlock + "\r\n");
    EXPECT_EQ(late.readReply().find("200 OK"), std::string::npos) << "the session is over";
}

TEST(DeviceAudio, TwoPacketAdpcmFramesOfTheTone) {
    Streaming s = startStream(quick(6), true);
    ASSERT_TRUE(s.stream && s.stream->connected());
    ReferenceDecoder decoder;
    std::vector<int16_t> samples;
    for (int i = 0; i < 2; ++i) {
        const testing::Packet first = testing::readPacket(*s.stream);
        const testing::Packet second = testing::readPacket(*s.stream);
        ASSERT_TRUE(first.ok && second.ok);
        const std::string sent = first.data + second.data;
        ASSERT_EQ(testing::referenceFrameSize(sent), 576u);
        ASSERT_EQ(sent.size(), 576u);
        const std::string stored = testing::swapped(sent);
        const int16_t predictor =
            static_cast<int16_t>(testing::at(stored, 60) | testing::at(stored, 61) << 8);
        decoder.index = static_cast<int8_t>(stored[62]);
        if (i == 0) {
            EXPECT_EQ(predictor, 0);
            decoder.predictor = predictor;
        } else {
            EXPECT_EQ(predictor, decoder.predictor) << "the header restates the running predictor";
        }
        const auto block = decoder.decode(stored.substr(64));
        samples.insert(samples.end(), block.begin(), block.end());
    }
    // 440 Hz over 2048 samples at 8000/s: 2 * 440 * 0.256 = 225 sign changes.
    int crossings = 0, peak = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        crossings += (samples[i - 1] < 0) != (samples[i] < 0);
        peak = std::max(peak, std::abs(int(samples[i])));
    }
    EXPECT_NEAR(crossings, 225, 12);
    EXPECT_NEAR(peak, 8000, 1200);
}

// Arrival times (ms after the first frame) of the next `count` audio frames.
std::vector<double> audioArrivals(Streaming& s, int count) {
    std::vector<double> arrivals;
    std::chrono::steady_clock::time_point first;
    for (int i = 0; i < count; ++i) {
        const testing::Packet head = testing::readPacket(*s.stream);
        const testing::Packet rest = testing::readPacket(*s.stream);
        if (!head.ok || !rest.ok) break;
        const auto now = std::chrono::steady_clock::now();
        if (i == 0) first = now;
        arrivals.push_back(std::chrono::duration<double, std::milli>(now - first).count());
    }
    return arrivals;
}

TEST(DeviceAudio, AClockOffInPartsPerMillionPacesTheFramesFasterOrSlower) {
    for (const int ppm : {100000, -100000}) {
        DeviceConfig config = quick(6);
        config.audioClockPpm = ppm;
        Streaming s = startStream(config, true);
        ASSERT_TRUE(s.stream && s.stream->connected());
        const std::vector<double> at = audioArrivals(s, 9);
        ASSERT_EQ(at.size(), 9u);
        // Eight intervals of 128 ms / (1 + ppm / 10^6): 930.9 ms fast, 1137.8 ms slow.
        EXPECT_NEAR(at.back(), 8 * 128 / (1 + ppm * 1e-6), 25) << ppm << " ppm";
    }
}

TEST(DeviceAudio, JitterSendsFramesLateAtRandomWithoutChangingTheRateAndCanStop) {
    DeviceConfig config = quick(6);
    config.audioJitterMs = 80;
    config.audioJitterSeconds = 1.2;
    Streaming s = startStream(config, true);
    ASSERT_TRUE(s.stream && s.stream->connected());
    const std::vector<double> at = audioArrivals(s, 17);
    ASSERT_EQ(at.size(), 17u);
    // Within the first 1.2 s each frame is 0 to 80 ms behind its due time, so
    // intervals spread; the average rate stays one frame per 128 ms.
    double shortest = 1e9, longest = 0;
    for (size_t i = 1; i < 9; ++i) {
        shortest = std::min(shortest, at[i] - at[i - 1]);
        longest = std::max(longest, at[i] - at[i - 1]);
    }
    EXPECT_GT(longest - shortest, 20) << "no jitter seen";
    EXPECT_LT(longest, 128 + 80 + 15);
    // From 1.2 s on the frames are on time again: 128 ms apart.
    for (size_t i = 12; i < at.size(); ++i) EXPECT_NEAR(at[i] - at[i - 1], 128, 15) << i;
    EXPECT_NEAR(at.back() - at[11], 5 * 128, 20);
}

TEST(DeviceFaults, StreamsEndStallAndCarryBadFramesWhereAsked) {
    {
        DeviceConfig config = quick(6);
        config.faults.closeAfterFrames = 2;
        Streaming s = startStream(config);
        EXPECT_TRUE(testing::readPacketFrame(*s.stream).ok);
        EXPECT_TRUE(testing::readPacketFrame(*s.stream).ok);
        EXPECT_TRUE(s.stream->closedWithin(1s));
    }
    {
        DeviceConfig config = quick(6);
        config.faults.badStartFrame = 2;
        config.faults.oversizedFrame = 3;
        Streaming s = startStream(config);
        EXPECT_TRUE(startsJpeg(testing::readPacketFrame(*s.stream).picture));
        const testing::PacketFrame bad = testing::readPacketFrame(*s.stream);
        EXPECT_TRUE(bad.ok);
        EXPECT_FALSE(startsJpeg(bad.picture));
        const testing::PacketFrame big = testing::readPacketFrame(*s.stream);
        EXPECT_TRUE(big.ok);
        EXPECT_GT(big.picture.size(), 25000u);
        EXPECT_TRUE(startsJpeg(big.picture));
        EXPECT_LE(testing::readPacketFrame(*s.stream).picture.size(), 25000u);
    }
    {
        DeviceConfig config = quick(3);
        config.faults.badStartFrame = 1;
        Streaming s = startStream(config);
        const testing::WholeFrame frame = testing::readWholeFrame(*s.stream, false);
        EXPECT_TRUE(frame.ok);
        EXPECT_FALSE(startsJpeg(frame.picture));
    }
    {
        DeviceConfig config = quick(6);
        config.faults.stallAfterFrames = 1;
        config.faults.stallSeconds = 0.5;
        Streaming s = startStream(config);
        EXPECT_TRUE(testing::readPacketFrame(*s.stream).ok);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(testing::readPacketFrame(*s.stream).ok);
        EXPECT_GE(std::chrono::steady_clock::now() - start, 450ms);
    }
}

TEST(DeviceFaults, PacketHeadersThatCannotBeCut) {
    for (const int length : {4, 1700}) {
        DeviceConfig config = quick(7);
        config.faults.badPacketLengthFrame = 1;
        config.faults.badPacketLength = length;
        Streaming s = startStream(config);
        testing::Packet packet;
        for (int i = 0; i < 30; ++i) {
            packet = testing::readPacket(*s.stream);
            if (!packet.ok) break;
        }
        EXPECT_FALSE(packet.ok);
        EXPECT_EQ(packet.length, length);
    }
    {
        DeviceConfig config = quick(8);
        config.faults.flagB40Frame = 2;
        Streaming s = startStream(config);
        ASSERT_TRUE(testing::readPacketFrame(*s.stream).ok);
        const std::string header = s.stream->read(8);
        ASSERT_EQ(header.size(), 8u);
        EXPECT_EQ(testing::at(header, 7), 0x40);
    }
    // Whole frames: L + h below the 1600-byte window, and flag B 0x40.
    DeviceConfig config = quick(3);
    config.faults.badPacketLengthFrame = 1;
    config.faults.badPacketLength = 100;
    config.faults.flagB40Frame = 2;
    Streaming s = startStream(config);
    const testing::WholeFrame tooShort = testing::readWholeFrame(*s.stream, false);
    EXPECT_FALSE(tooShort.ok);
    EXPECT_EQ(tooShort.length, 100);
    // The rest of frame 1 is still on the wire: its true length is unknown
    // to the reader, so skip to frame 2 by its own header (FF D8 follows it).
    std::string skipped;
    for (int i = 0; i < 40000 && skipped.find(std::string("\x40\xff\xd8", 3)) == std::string::npos;
         ++i)
        skipped += s.stream->read(1, 500ms);
    EXPECT_NE(skipped.find(std::string("\x40\xff\xd8", 3)), std::string::npos)
        << "frame 2 starts with a header whose flag B is 0x40";
}

TEST(DeviceFaults, DeviceGoesDownAndComesBack) {
    DeviceConfig config = quick(6);
    config.faults.downAfterFrames = 1;
    config.faults.downSeconds = 0.6;
    Streaming s = startStream(config);
    ASSERT_TRUE(testing::readPacketFrame(*s.stream).ok);
    EXPECT_TRUE(s.stream->closedWithin(1s));
    const auto downAt = std::chrono::steady_clock::now();
    EXPECT_FALSE(LoopbackClient(s.device->port()).connected());
    std::string session;
    while (session.empty() && std::chrono::steady_clock::now() - downAt < 3s) {
        std::this_thread::sleep_for(50ms);
        if (LoopbackClient(s.device->port()).connected()) session = login(s.device->port());
    }
    EXPECT_EQ(session.size(), 30u);
    EXPECT_GE(std::chrono::steady_clock::now() - downAt, 400ms);
    // The outage is a one-off: the next stream runs on.
    LoopbackClient again(s.device->port());
    again.send(startByBody(session, "Jpeg", 77));
    EXPECT_TRUE(testing::readPacketFrame(again).ok);
    EXPECT_TRUE(testing::readPacketFrame(again).ok);
}

}  // namespace
}  // namespace tess::devsim
