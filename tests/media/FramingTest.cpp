#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "SimulatedDevice.h"
#include "media/ByteSource.h"
#include "media/Framing.h"
#include "protocol/Login.h"
#include "protocol/ModelCodes.h"
#include "protocol/Negotiation.h"
#include "protocol/Requests.h"

namespace tess {
namespace {

using Bytes = std::vector<uint8_t>;

// A packet: the 8 fixed header bytes with L, A and B, zeros up to `h`, the data.
Bytes packet(const Bytes& data, size_t h = 8, uint8_t a = 0, uint8_t b = 0) {
    Bytes out(h, 0);
    const size_t length = h + data.size();
    out[2] = static_cast<uint8_t>(length & 0xFF);
    out[3] = static_cast<uint8_t>(length >> 8);
    out[6] = a;
    out[7] = b;
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A JPEG-like picture: FF D8, then bytes that never hold D9.
Bytes picture(size_t length) {
    Bytes out(length);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>((i * 7 + 3) % 0xD0);
    out[0] = 0xFF;
    out[1] = 0xD8;
    return out;
}

// The wire order of the packet stream: the bytes of every pair swapped; an odd
// last byte is paired with a zero pad in front of it.
Bytes swapped(Bytes bytes) {
    if (bytes.size() % 2) bytes.push_back(0);
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
    return bytes;
}

void putFrameSize(Bytes& header, uint32_t size) {
    header[27] = static_cast<uint8_t>(size & 0xFF);
    header[24] = static_cast<uint8_t>(((size >> 8) & 0x07) | ((size >> 11) & 0x0F) << 4);
    header[25] = static_cast<uint8_t>((size >> 15) & 0x7F);
}

Bytes mediaHeader(size_t length, uint32_t frameSize) {
    Bytes header(length, 0);
    header[21] = length == 104 ? 0xD3 : 0x41;
    putFrameSize(header, frameSize);
    return header;
}

// Media header and swapped picture of one packet-stream video frame, cut into
// packets whose data have the given sizes (the last one takes the rest).
Bytes packetStreamFrame(const Bytes& jpeg, size_t mediaLength, std::vector<size_t> dataSizes) {
    Bytes payload = mediaHeader(mediaLength, static_cast<uint32_t>(mediaLength + jpeg.size()));
    const Bytes wire = swapped(jpeg);
    payload.insert(payload.end(), wire.begin(), wire.end());
    Bytes out;
    size_t at = 0;
    for (size_t i = 0; i < dataSizes.size(); ++i) {
        const size_t size = i + 1 == dataSizes.size() ? payload.size() - at : dataSizes[i];
        const Bytes data(payload.begin() + at, payload.begin() + at + size);
        const Bytes p = i % 2 ? packet(data, 10, 0x02) : packet(data);
        out.insert(out.end(), p.begin(), p.end());
        at += size;
    }
    return out;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// A packet behind a frame, which reading the frame must leave unread.
Bytes trailer() {
    return packet(Bytes(1200, 0x11));
}

struct Reading {
    explicit Reading(const Bytes& wire, size_t chunk = SIZE_MAX)
        : bytes(wire), source(bytes, chunk), reader(source, byteCount) {}
    Bytes bytes;
    BufferByteSource source;
    std::atomic<uint32_t> byteCount{0};
    StreamReader reader;
    StreamPacket window;
    std::unique_ptr<std::array<uint8_t, kVideoSlotBytes>> video =
        std::make_unique<std::array<uint8_t, kVideoSlotBytes>>();
    std::array<uint8_t, kAudioSlotBytes> audio{};
};

TEST(PacketHeaderTest, LengthFollowsEveryFlagRule) {
    Bytes header(64, 0);
    header[2] = 0x34;
    header[3] = 0x05;
    auto h = [&](uint8_t a, uint8_t b) {
        header[6] = a;
        header[7] = b;
        const auto parsed = parsePacketHeader(header);
        return parsed ? static_cast<int>(parsed->headerLength) : -1;
    };
    EXPECT_EQ(parsePacketHeader(header)->length, 0x0534u);
    EXPECT_EQ(h(0x00, 0x00), 8);
    EXPECT_EQ(h(0x02, 0x00), 10);
    EXPECT_EQ(h(0xFE, 0x07), 45);
    EXPECT_EQ(h(0x01, 0x18), 8);  // bits without a length
    header[8] = 3;                // read by B 0x80 at offset h
    EXPECT_EQ(h(0x00, 0x80), 12);
    header[9] = 5;  // read by B 0x20 at offset h + 1
    EXPECT_EQ(h(0x00, 0x20), 8 + 4 + 5);
    header[17] = 2;  // B 0x20 first (h = 17), then B 0x80 reads offset 17
    EXPECT_EQ(h(0x00, 0xA0), 17 + 1 + 2);
    EXPECT_EQ(h(0x00, 0x40), -1);
}

TEST(PacketHeaderTest, BytesTheRuleReadsMustLieInsideTheSpan) {
    Bytes header(8, 0);
    header[7] = 0x80;  // reads offset 8
    EXPECT_FALSE(parsePacketHeader(header));
    header[7] = 0x20;  // reads offset 9
    header.push_back(0);
    EXPECT_FALSE(parsePacketHeader(header));
    header.push_back(0);
    EXPECT_TRUE(parsePacketHeader(header));
    EXPECT_FALSE(parsePacketHeader(std::span<const uint8_t>(header).first(7)));
}

TEST(MediaHeaderTest, KindAndFrameSize) {
    Bytes header(28, 0);
    header[21] = 0xD3;  // only the low 7 bits are compared with 'S'
    EXPECT_EQ(videoMediaHeaderLength(header), 104u);
    header[21] = 0x53;
    EXPECT_EQ(videoMediaHeaderLength(header), 104u);
    header[21] = 0x52;
    EXPECT_EQ(videoMediaHeaderLength(header), 32u);

    header[24] = 0x12;
    header[25] = 0x00;
    header[27] = 0x34;
    EXPECT_EQ(mediaFrameSize(header), 2612u);
    header[24] = 0x1A;  // bit 3 is not part of S
    EXPECT_EQ(mediaFrameSize(header), 2612u);
    header[25] = 0x80;  // nor bit 7 of byte 25, nor byte 26
    header[26] = 0xFF;
    EXPECT_EQ(mediaFrameSize(header), 2612u);
    header[24] = 0xF7;
    header[25] = 0x7F;
    header[27] = 0xFF;
    EXPECT_EQ(mediaFrameSize(header), 0x3FFFFFu);

    EXPECT_FALSE(mediaFrameSize(std::span<const uint8_t>(header).first(27)));
    EXPECT_FALSE(videoMediaHeaderLength(std::span<const uint8_t>(header).first(21)));
}

TEST(SwapTest, PairsUpToAndIncludingTheOneAtTheIndexWithinTheSpan) {
    Bytes bytes{1, 2, 3, 4, 5, 6, 7};
    swapBytePairs(bytes, 2);
    EXPECT_EQ(bytes, (Bytes{2, 1, 4, 3, 5, 6, 7}));
    swapBytePairs(bytes, 3);  // pairs start at even indexes: (0,1) and (2,3)
    EXPECT_EQ(bytes, (Bytes{1, 2, 3, 4, 5, 6, 7}));
    swapBytePairs(bytes, 6);  // the pair at 6 would end past the span
    EXPECT_EQ(bytes, (Bytes{2, 1, 4, 3, 6, 5, 7}));
}

struct SplitCase {
    const char* name;
    size_t pictureLength;
    size_t mediaLength;
    std::vector<size_t> dataSizes;
    size_t chunk;
};

// Keeps test names free of the case's raw bytes.
void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class PacketStreamVideoTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PacketStreamVideoTest, FrameIsReassembledAcrossPacketsAndReceives) {
    const SplitCase& c = GetParam();
    const Bytes jpeg = picture(c.pictureLength);
    Bytes wire = packetStreamFrame(jpeg, c.mediaLength, c.dataSizes);
    const size_t frameBytes = wire.size();
    append(wire, trailer());
    append(wire, trailer());
    Reading r(wire, c.chunk);

    const FrameResult result = r.reader.readPacketStreamVideo(r.window, *r.video);
    ASSERT_EQ(result.status, FrameStatus::Ok);
    EXPECT_EQ(result.length, jpeg.size());
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), r.video->begin()));
    // Every byte received is counted, and not one past the frame is read.
    EXPECT_EQ(r.byteCount, r.source.consumed());
    EXPECT_EQ(r.source.consumed(), frameBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Splits, PacketStreamVideoTest,
    ::testing::Values(SplitCase{"ThreePackets", 3000, 32, {1500, 1500, 0}, SIZE_MAX},
                      SplitCase{"OddLengthSmallReceives", 3001, 104, {1000, 1580, 0}, 7},
                      SplitCase{"ByteByByte", 2000, 32, {1592, 0}, 1},
                      SplitCase{"NearlyFullSlot", 24990, 32, std::vector<size_t>(17, 1500), 999}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(PacketStreamVideo, AnotherPacketFollowsEvenWhenTheFirstHeldTheWholeFrame) {
    const Bytes jpeg = picture(600);
    Bytes wire = packetStreamFrame(jpeg, 32, {632});
    const Bytes second = packet(Bytes(40, 0x22));  // appended behind the picture, not part of it
    append(wire, second);
    append(wire, trailer());
    append(wire, trailer());
    Reading r(wire);
    const FrameResult result = r.reader.readPacketStreamVideo(r.window, *r.video);
    ASSERT_EQ(result.status, FrameStatus::Ok);
    EXPECT_EQ(result.length, 600u);
    EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), r.video->begin()));
    EXPECT_EQ(r.source.consumed(), 8 + 632 + second.size());
}

TEST(PacketStreamVideo, BadStartThenResyncDiscardsFromBehindTheFrame) {
    Bytes jpeg = picture(800);
    jpeg[0] = 0x12;
    Bytes wire = packetStreamFrame(jpeg, 32, {400, 0});
    // Behind the frame: junk, the 0xD9, the byte after it, then a good frame.
    append(wire, Bytes{0x01, 0x02, 0xD9, 0xFF});
    const Bytes good = picture(900);
    append(wire, packetStreamFrame(good, 104, {500, 0}));
    Reading r(wire);

    EXPECT_EQ(r.reader.readPacketStreamVideo(r.window, *r.video).status, FrameStatus::BadStart);
    EXPECT_EQ(r.reader.resyncPacketStream(), ResyncStatus::Resynchronised);
    const FrameResult next = r.reader.readPacketStreamVideo(r.window, *r.video);
    ASSERT_EQ(next.status, FrameStatus::Ok);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), r.video->begin()));
    EXPECT_EQ(r.source.remaining(), 0u);
    EXPECT_EQ(r.byteCount, r.source.consumed());
}

TEST(PacketStreamVideo, UncuttablePacketsAreFramingErrors) {
    struct Case {
        const char* what;
        Bytes wire;
        size_t readAtMost;  // nothing behind the stated length is read
    };
    Bytes tooLong = packet(Bytes(100, 0));
    tooLong[2] = 0x41;  // L = 1601
    tooLong[3] = 0x06;
    Bytes belowHeader = packet(Bytes(100, 0), 10, 0x02);
    belowHeader[2] = 9;  // L below h = 10
    belowHeader[3] = 0;
    const Bytes flag40 = packet(Bytes(100, 0), 8, 0, 0x40);
    Bytes belowEight = packet(Bytes(100, 0));
    belowEight[2] = 7;
    belowEight[3] = 0;
    const Case cases[] = {{"L above 1600", tooLong, 8},
                          {"L below 8", belowEight, 8},
                          {"L below h", belowHeader, 9},
                          {"B 0x40", flag40, 108}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes wire = c.wire;
        wire.resize(2 * kStreamPacketBytes, 0x33);
        Reading r(wire);
        EXPECT_EQ(r.reader.readPacketStreamVideo(r.window, *r.video).status,
                  FrameStatus::FramingError);
        EXPECT_LE(r.source.consumed(), c.readAtMost);
        Reading audio(wire);
        EXPECT_EQ(audio.reader.readAudio(audio.window, audio.audio, true).status,
                  FrameStatus::FramingError);
    }
}

TEST(PacketStreamVideo, FramesThatCannotFitTheSlotOrHeaderAreFramingErrors) {
    struct Case {
        const char* what;
        Bytes firstData;
    };
    Bytes oversized = mediaHeader(32, 32 + kVideoSlotBytes + 1);
    oversized.resize(200, 0);
    Bytes fits = mediaHeader(32, 32 + kVideoSlotBytes);
    fits.resize(200, 0);
    Bytes sizeBelowHeader = mediaHeader(104, 100);
    sizeBelowHeader.resize(200, 0);
    Bytes headerCut = mediaHeader(104, 2000);
    headerCut.resize(90);  // the 104-byte header does not fit the packet's data
    const Case cases[] = {{"picture above the slot", oversized},
                          {"S below the header length", sizeBelowHeader},
                          {"header beyond the packet", headerCut}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes wire = packet(c.firstData);
        append(wire, trailer());
        append(wire, trailer());
        Reading r(wire);
        EXPECT_EQ(r.reader.readPacketStreamVideo(r.window, *r.video).status,
                  FrameStatus::FramingError);
        // The packet itself was well formed: the stream stays cut at its end.
        EXPECT_EQ(r.source.consumed(), 8 + c.firstData.size());
    }
    // A picture of exactly the slot's size is taken.
    Bytes wire = packet(fits);
    for (int i = 0; i < 20; ++i) append(wire, packet(Bytes(1500, 0xAA)));
    append(wire, trailer());
    Reading r(wire);
    EXPECT_EQ(r.reader.readPacketStreamVideo(r.window, *r.video).status, FrameStatus::BadStart);
}

TEST(PacketStreamVideo, ReceiveFailureEndsTheStream) {
    Bytes wire = packetStreamFrame(picture(3000), 32, {1500, 0});
    wire.resize(wire.size() - 10);
    Reading r(wire, 500);
    EXPECT_EQ(r.reader.readPacketStreamVideo(r.window, *r.video).status, FrameStatus::Ended);
    EXPECT_EQ(r.byteCount, wire.size());
}

// A whole frame: header of h bytes (flags a, b), L in the header, the picture.
Bytes wholeFrame(size_t length, const Bytes& jpeg, size_t h = 8, uint8_t a = 0, uint8_t b = 0) {
    Bytes out = packet(jpeg, h, a, b);
    out[2] = static_cast<uint8_t>(length & 0xFF);
    out[3] = static_cast<uint8_t>(length >> 8);
    return out;
}

TEST(WholeFrameVideo, LengthRulesOfBothClassFamilies) {
    struct Case {
        const char* what;
        WholeFrameLength rule;
        size_t h;
        uint8_t a, b;
        size_t afterWindow;
        size_t pictureLength;
    };
    const Case cases[] = {
        {"L + h - 1600, h 8", WholeFrameLength::ExcludesHeader, 8, 0, 0, 3408, 5000},
        {"L + h - 1600, h 45", WholeFrameLength::ExcludesHeader, 45, 0xFE, 0x07, 3445, 5000},
        {"L - 1600", WholeFrameLength::CountsHeader, 8, 0, 0, 3400, 4992},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes jpeg = picture(c.pictureLength);
        Bytes wire = wholeFrame(5000, jpeg, c.h, c.a, c.b);
        ASSERT_EQ(wire.size(), kStreamPacketBytes + c.afterWindow);
        append(wire, Bytes(77, 0x55));
        Reading r(wire, 333);
        r.video->fill(0xEE);
        const FrameResult result = r.reader.readWholeFrameVideo(r.window, *r.video, c.rule);
        ASSERT_EQ(result.status, FrameStatus::Ok);
        EXPECT_EQ(result.length, 5000u);
        EXPECT_EQ(r.source.remaining(), 77u);
        EXPECT_EQ(r.byteCount, kStreamPacketBytes + c.afterWindow);
        EXPECT_TRUE(std::equal(jpeg.begin(), jpeg.end(), r.video->begin()));
        // The slot was cleared: what L counts beyond the picture reads as zero.
        EXPECT_TRUE(std::all_of(r.video->begin() + jpeg.size(), r.video->end(),
                                [](uint8_t v) { return v == 0; }));
    }
}

TEST(WholeFrameVideo, BadStartAndImpossibleLengths) {
    {
        Bytes jpeg = picture(3000);
        jpeg[1] = 0xD9;
        Reading r(wholeFrame(3000, jpeg));
        EXPECT_EQ(r.reader.readWholeFrameVideo(r.window, *r.video, WholeFrameLength::ExcludesHeader)
                      .status,
                  FrameStatus::BadStart);
    }
    struct Case {
        const char* what;
        size_t length;
        WholeFrameLength rule;
    };
    const Case cases[] = {
        {"L + h below 1600", 1591, WholeFrameLength::ExcludesHeader},
        {"class 4 L below 1600", 1599, WholeFrameLength::CountsHeader},
        {"L above the slot", kVideoSlotBytes + 1, WholeFrameLength::ExcludesHeader},
        {"class 4 L above the slot", kVideoSlotBytes + 1, WholeFrameLength::CountsHeader},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reading r(wholeFrame(c.length, picture(30000)));
        EXPECT_EQ(r.reader.readWholeFrameVideo(r.window, *r.video, c.rule).status,
                  FrameStatus::FramingError);
    }
    {  // The smallest frames that are cut: L + h exactly 1600, and class 4 L exactly 1600.
        Reading r(wholeFrame(1592, picture(1592)));
        EXPECT_EQ(r.reader.readWholeFrameVideo(r.window, *r.video, WholeFrameLength::ExcludesHeader)
                      .status,
                  FrameStatus::Ok);
        Reading r4(wholeFrame(1600, picture(1592)));
        EXPECT_EQ(
            r4.reader.readWholeFrameVideo(r4.window, *r4.video, WholeFrameLength::CountsHeader)
                .status,
            FrameStatus::Ok);
    }
    {
        Reading r(wholeFrame(5000, picture(4000)));  // the stream ends inside the frame
        EXPECT_EQ(r.reader.readWholeFrameVideo(r.window, *r.video, WholeFrameLength::ExcludesHeader)
                      .status,
                  FrameStatus::Ended);
    }
}

// Audio: a 64-byte media header with S, the frame's bytes in wire order, cut
// after `firstData` bytes into two packets.
Bytes audioFrame(uint32_t frameSize, size_t totalData, size_t firstData) {
    Bytes data = mediaHeader(64, frameSize);
    data.resize(totalData);
    for (size_t i = 64; i < totalData; ++i) data[i] = static_cast<uint8_t>(i);
    Bytes out = packet(Bytes(data.begin(), data.begin() + firstData));
    append(out, packet(Bytes(data.begin() + firstData, data.end()), 10, 0x02));
    return out;
}

TEST(AudioFrame, TwoPacketsSwappedOnRequest) {
    for (bool swap : {false, true}) {
        SCOPED_TRACE(swap);
        Bytes wire = audioFrame(1064, 1064, 700);
        const Bytes data = [&] {
            Bytes d = mediaHeader(64, 1064);
            d.resize(1064);
            for (size_t i = 64; i < d.size(); ++i) d[i] = static_cast<uint8_t>(i);
            return d;
        }();
        append(wire, trailer());
        append(wire, trailer());
        Reading r(wire, 100);
        const FrameResult result = r.reader.readAudio(r.window, r.audio, swap);
        ASSERT_EQ(result.status, FrameStatus::Ok);
        EXPECT_EQ(result.length, 1064u);
        EXPECT_EQ(r.byteCount, r.source.consumed());
        EXPECT_EQ(r.source.consumed(), 8 + 700 + 10 + 364);
        const Bytes expected = swap ? swapped(data) : data;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.audio.begin()));
    }
}

TEST(AudioFrame, FramesThatMakeNoSenseAreDroppedAndTheStreamStaysInStep) {
    // Two full packets hold more than the slot; S above the PCM block limit.
    Bytes wire = audioFrame(kMaxAudioFrameBytes + 1, 1592 + 1590, 1592);
    append(wire, audioFrame(63, 200, 100));  // S below its own header
    append(wire, packet(Bytes(20, 0x44)));   // a first packet too short to hold S ...
    append(wire, packet(Bytes(300, 0x45)));  // ... and its second packet
    append(wire, audioFrame(kMaxAudioFrameBytes, 2200, 1100));  // the largest frame taken
    append(wire, trailer());
    append(wire, trailer());
    Reading r(wire);
    for (int dropped = 0; dropped < 3; ++dropped) {
        EXPECT_EQ(r.reader.readAudio(r.window, r.audio, true).status, FrameStatus::Dropped);
    }
    const FrameResult last = r.reader.readAudio(r.window, r.audio, true);
    EXPECT_EQ(last.status, FrameStatus::Ok);
    EXPECT_EQ(last.length, kMaxAudioFrameBytes);
}

TEST(Resync, BothProceduresAreBoundedAndReportTheirEnd) {
    {
        Reading r(Bytes(kResyncByteLimit + 10, 0x42));
        EXPECT_EQ(r.reader.resyncPacketStream(), ResyncStatus::GaveUp);
        EXPECT_EQ(r.source.consumed(), kResyncByteLimit);
    }
    {
        Reading r(Bytes(kResyncByteLimit + 10, 0x42));
        EXPECT_EQ(r.reader.resyncWholeFrame(), ResyncStatus::GaveUp);
        EXPECT_EQ(r.byteCount, kResyncByteLimit);
    }
    {
        Reading r(Bytes{0x01, 0xD9});  // the byte after 0xD9 never comes
        EXPECT_EQ(r.reader.resyncPacketStream(), ResyncStatus::Ended);
    }
    {
        Reading r(Bytes(300, 0xD9));  // whole frames wait for the stream to fall quiet
        EXPECT_EQ(r.reader.resyncWholeFrame(), ResyncStatus::Ended);
        EXPECT_EQ(r.byteCount, 300u);
    }
}

// The frames a simulated device streams, cut by the reader from a socket link.
class DeviceStreamTest : public ::testing::Test {
protected:
    // Starts the device, logs in, negotiates and opens a stream with `start`.
    void open(devsim::DeviceConfig config, bool audio) {
        config.loopFrames = 4;
        config.flatOut = true;
        device_ = std::make_unique<devsim::SimulatedDevice>(config);
        ASSERT_TRUE(device_->start()) << device_->lastError();
        const LoginData account{u"127.0.0.1", u"admin", u"velum", device_->port(), u"Camera"};
        SessionFacts s;
        s.host = account.host;
        s.devicePort = account.devicePort;
        s.streamPort = account.devicePort;
        LoginIdentity identity;
        ASSERT_EQ(login(link_, account, kLocalAddress, identity), RequestResult::Ok);
        s.sessionId = identity.sessionId;
        s.productId = identity.productId;
        ASSERT_TRUE(identifyModel(s));
        ASSERT_EQ(negotiate(link_, kLocalAddress, s), RequestResult::Ok);

        link_.setPeer(s.host, s.streamPort);
        ASSERT_TRUE(link_.open(SocketType::Stream));
        link_.connect();
        ASSERT_TRUE(link_.connected());
        const std::string start = audio ? request::audioStart(s.sessionIdText(), kLocalAddress)
                                  : classTraits(s.deviceClass).videoStartByBody
                                      ? request::videoStartByBody(s.sessionIdText(), kLocalAddress)
                                      : request::videoStartByUrl(s.sessionIdText(), kLocalAddress);
        ASSERT_EQ(link_.send(start.data(), start.size()), static_cast<int>(start.size()));
    }
    // The loop picture the slot holds at its start, or -1.
    int pictureIn(std::span<const uint8_t> frame) const {
        const auto loop = device_->frameLoop();
        for (size_t i = 0; i < loop->size(); ++i) {
            const std::string& p = loop->picture(i);
            if (frame.size() >= p.size() &&
                std::equal(p.begin(), p.end(), frame.begin(),
                           [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; })) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    static constexpr std::string_view kLocalAddress = "127.0.0.1";

    std::unique_ptr<devsim::SimulatedDevice> device_;
    SocketLink link_;
    SocketByteSource source_{link_};
    std::atomic<uint32_t> byteCount_{0};
    StreamReader reader_{source_, byteCount_};
    StreamPacket window_;
    std::unique_ptr<std::array<uint8_t, kVideoSlotBytes>> slot_ =
        std::make_unique<std::array<uint8_t, kVideoSlotBytes>>();
};

TEST_F(DeviceStreamTest, VideoOfEveryFramingArrivesWhole) {
    struct Case {
        int deviceClass;
        bool longHeader;
        uint8_t flagA, flagB;
    };
    for (const Case& c : {Case{6, true, 0x06, 0x01}, Case{8, false, 0, 0}, Case{3, false, 0x02, 0},
                          Case{4, false, 0xFE, 0x07}, Case{50, false, 0, 0}}) {
        SCOPED_TRACE(c.deviceClass);
        devsim::DeviceConfig config;
        config.deviceClass = c.deviceClass;
        config.longMediaHeader = c.longHeader;
        config.headerFlagA = c.flagA;
        config.headerFlagB = c.flagB;
        open(config, false);
        const VideoForm form = classTraits(c.deviceClass).videoForm;
        const size_t h = 8 + (c.flagA == 0xFE ? 37 : 0) + (c.flagA == 0x02 ? 2 : 0);
        window_.clear();
        byteCount_ = 0;
        for (int frame = 0; frame < 6; ++frame) {
            const FrameResult result =
                form == VideoForm::PacketStream
                    ? reader_.readPacketStreamVideo(window_, *slot_)
                    : reader_.readWholeFrameVideo(window_, *slot_,
                                                  form == VideoForm::WholeFrameCountingHeader
                                                      ? WholeFrameLength::CountsHeader
                                                      : WholeFrameLength::ExcludesHeader);
            ASSERT_EQ(result.status, FrameStatus::Ok) << "frame " << frame;
            const int index = pictureIn(std::span<const uint8_t>(slot_->data(), result.length));
            ASSERT_GE(index, 0) << "frame " << frame;
            const size_t pictureLength = device_->frameLoop()->picture(index).size();
            EXPECT_EQ(result.length, form == VideoForm::WholeFrameCountingHeader ? pictureLength + h
                                                                                 : pictureLength);
        }
        EXPECT_GT(byteCount_, 6u * kStreamPacketBytes);
        link_.close();
        device_->stop();
    }
}

TEST_F(DeviceStreamTest, AudioFramesCarryTheirHeaderAndSize) {
    devsim::DeviceConfig config;
    config.deviceClass = 6;
    open(config, true);
    std::array<uint8_t, kAudioSlotBytes> audio{};
    for (int frame = 0; frame < 4; ++frame) {
        const FrameResult result = reader_.readAudio(window_, audio, true);
        ASSERT_EQ(result.status, FrameStatus::Ok);
        EXPECT_GE(result.length, kAudioMediaHeaderBytes);
        EXPECT_LE(result.length, kMaxAudioFrameBytes);
    }
}

TEST_F(DeviceStreamTest, OversizedWholeFrameIsAFramingErrorAndTheResyncEndsTheStream) {
    devsim::DeviceConfig config;
    config.deviceClass = 3;
    config.faults.oversizedFrame = 2;
    config.flatOut = false;
    open(config, false);
    EXPECT_EQ(reader_.readWholeFrameVideo(window_, *slot_, WholeFrameLength::ExcludesHeader).status,
              FrameStatus::Ok);
    EXPECT_EQ(reader_.readWholeFrameVideo(window_, *slot_, WholeFrameLength::ExcludesHeader).status,
              FrameStatus::FramingError);
    // The device keeps streaming, so discarding gives up at its bound.
    EXPECT_EQ(reader_.resyncWholeFrame(), ResyncStatus::GaveUp);
}

}  // namespace
}  // namespace tess
