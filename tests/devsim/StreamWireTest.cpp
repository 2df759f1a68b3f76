#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "AdpcmEncoder.h"
#include "ReferenceReader.h"
#include "StreamWire.h"

namespace tess::devsim {
namespace {

using testing::ReferenceDecoder;
using testing::swapped;

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

std::string zeros(size_t count) {
    return std::string(count, '\0');
}

TEST(StreamWire, HeaderLengthAndFrameSizeFollowTheFlagAndBitRules) {
    EXPECT_EQ(wire::headerLength({0x02, 0}), 10u);
    EXPECT_EQ(wire::headerLength({0xFE, 0x07}), 45u);
    EXPECT_EQ(wire::headerLength({0x01, 0x00}), 8u);
    // S = 2612 is 0x34 at 27, 0x12 at 24 (0x2 | 0x1 << 4), 0 at 25.
    std::string media = zeros(32);
    media[24] = 0x08;  // bit 3 is not part of S and stays
    media[25] = static_cast<char>(0x80);
    wire::writeFrameSize(media.data(), 2612);
    EXPECT_EQ(media.substr(24, 4), bytes({0x1A, 0x80, 0x00, 0x34}));
    wire::writeFrameSize(media.data(), 0x3FFFFF);
    EXPECT_EQ(media.substr(24, 4), bytes({0xFF, 0xFF, 0x00, 0xFF}));
}

TEST(StreamWire, SmallPacketStreamFrameTakesTwoPacketsWithTheMediaHeaderInTheFirst) {
    const std::string picture = bytes({0xFF, 0xD8, 0x01, 0x02, 0x03, 0x04, 0xFF, 0xD9});
    const std::string wireBytes = wire::packetStreamFrame(picture, 32, {});
    // S = 32 + 8 = 40 = 0x28.
    std::string media = zeros(32);
    media[27] = 0x28;
    const std::string expected = bytes({0, 0, 40, 0, 0, 0, 0, 0}) + media +
                                 bytes({0, 0, 16, 0, 0, 0, 0, 0}) +
                                 bytes({0xD8, 0xFF, 0x02, 0x01, 0x04, 0x03, 0xD9, 0xFF});
    EXPECT_EQ(wireBytes, expected);
}

TEST(StreamWire, PacketStreamFrameSpanningThreePackets) {
    // h = 10 (A 0x02) + 1 + 2 (B 0x01, 0x02) = 13, so a packet carries 1587
    // data bytes; the 104-byte media header and 3200 picture bytes make 3304
    // = 1587 + 1587 + 130.
    std::string picture(3200, '\0');
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<char>(i * 7 + 3);
    picture[0] = static_cast<char>(0xFF), picture[1] = static_cast<char>(0xD8);
    const std::string out = wire::packetStreamFrame(picture, 104, {0x02, 0x03});
    ASSERT_EQ(out.size(), 3 * 13 + 3304u);
    const size_t starts[3] = {0, 1600, 3200};
    const int lengths[3] = {1600, 1600, 143};
    for (int i = 0; i < 3; ++i) {
        const std::string header = out.substr(starts[i], 13);
        EXPECT_EQ(header,
                  bytes({0, 0, lengths[i] & 0xFF, lengths[i] >> 8, 0, 0, 0x02, 0x03}) + zeros(5))
            << "packet " << i;
    }
    const std::string media = out.substr(13, 104);
    EXPECT_EQ(static_cast<uint8_t>(media[21]), 0x53);
    // S = 3304 = 0xCE8: 27 = 0xE8, 24 = (0xC & 7) | (0xCE8 >> 11) << 4 = 0x14.
    EXPECT_EQ(media.substr(24, 4), bytes({0x14, 0x00, 0x00, 0xE8}));
    const std::string data =
        out.substr(13 + 104, 1587 - 104) + out.substr(1613, 1587) + out.substr(3213, 130);
    EXPECT_EQ(data.substr(0, 4), bytes({0xD8, 0xFF, 0x18, 0x11}));
    EXPECT_EQ(swapped(data), picture);
}

TEST(StreamWire, DamagedPacketStreamFrames) {
    const std::string picture(2000, 'x');
    const std::string flagged = wire::packetStreamFrame(picture, 32, {}, {false, 0, true});
    EXPECT_EQ(static_cast<uint8_t>(flagged[7]), 0x40);
    const std::string shortLength = wire::packetStreamFrame(picture, 32, {}, {false, 4, false});
    // The last packet states L = 4 although it carries 8 + 432 bytes.
    EXPECT_EQ(shortLength.substr(1600, 4), bytes({0, 0, 4, 0}));
    const std::string badStart = wire::packetStreamFrame(picture, 32, {}, {true, 0, false});
    EXPECT_EQ(badStart.substr(8 + 32, 2), zeros(2));
}

TEST(StreamWire, WholeFramesStateTheirLengthByClass) {
    std::string picture(2000, '\0');
    picture[0] = static_cast<char>(0xFF), picture[1] = static_cast<char>(0xD8);
    picture[1999] = 0x55;
    // Class 3: L = 2000 = 0x07D0 is the picture alone; 8 + 2000 bytes in all.
    const std::string class3 = wire::wholeFrame(picture, false, {});
    EXPECT_EQ(class3, bytes({0, 0, 0xD0, 0x07, 0, 0, 0, 0}) + picture);
    // Class 4: L = 2008 = 0x07D8 counts the header.
    const std::string class4 = wire::wholeFrame(picture, true, {});
    EXPECT_EQ(class4, bytes({0, 0, 0xD8, 0x07, 0, 0, 0, 0}) + picture);
    // A picture that would not fill the first 1600 bytes is zero-padded.
    const std::string tiny = wire::wholeFrame(picture.substr(0, 100), false, {});
    ASSERT_EQ(tiny.size(), 1600u);
    EXPECT_EQ(tiny.substr(0, 4), bytes({0, 0, 0x38, 0x06}));  // L = 1592
    EXPECT_EQ(tiny.substr(108), zeros(1492));
}

TEST(StreamWire, AudioFrameIsTwoSwappedPacketsWithPredictorAndIndexAfterTheSwap) {
    const std::string adpcm = bytes({0x21, 0x43, 0x65, 0x87});
    const std::string out = wire::audioFrame(-300, 5, adpcm, {});
    // S = 68 = 0x44. The first packet holds the whole media header (L = 72),
    // the second the four data bytes (L = 12).
    ASSERT_EQ(out.size(), 2 * 8 + 68u);
    const std::string first = out.substr(0, 8), second = out.substr(8 + 64, 8);
    EXPECT_EQ(first, bytes({0, 0, 72, 0, 0, 0, 0, 0}));
    EXPECT_EQ(second, bytes({0, 0, 12, 0, 0, 0, 0, 0}));
    const std::string sent = out.substr(8, 64) + out.substr(8 + 64 + 8);
    EXPECT_EQ(static_cast<uint8_t>(sent[27]), 0x44);  // S as sent
    EXPECT_EQ(sent.substr(24, 2), zeros(2));
    // Predictor -300 = 0xFED4 and index 5 after the viewer's swap.
    EXPECT_EQ(sent.substr(60, 4), bytes({0xFE, 0xD4, 0x00, 0x05}));
    const std::string stored = swapped(sent);
    EXPECT_EQ(stored.substr(60, 3), bytes({0xD4, 0xFE, 0x05}));
    EXPECT_EQ(stored.substr(64), adpcm);
}

TEST(AdpcmEncoder, MatchesTheWorkedValuesLowNibbleFirst) {
    // From index 0 and predictor 0: code 7 gives 13 (index 8), then code 15
    // at step 16 gives 13 - 30 = -17: one byte 0xF7.
    AdpcmEncoder encoder;
    const int16_t samples[2] = {13, -17};
    EXPECT_EQ(encoder.encode(samples, 2), bytes({0xF7}));
    EXPECT_EQ(encoder.predictor(), -17);
    EXPECT_EQ(encoder.stepIndex(), 16);
}

TEST(AdpcmEncoder, TracksTheDecoderOverATone) {
    ToneSource tone(440);
    AdpcmEncoder encoder;
    ReferenceDecoder decoder;
    int16_t samples[1024];
    double errorEnergy = 0, signalEnergy = 0;
    for (int block = 0; block < 4; ++block) {
        tone.fill(samples, 1024);
        // Each block header restates the index; the predictor carries over.
        decoder.index = encoder.stepIndex();
        const std::vector<int16_t> decoded = decoder.decode(encoder.encode(samples, 1024));
        ASSERT_EQ(decoded.size(), 1024u);
        EXPECT_EQ(decoded.back(), encoder.predictor());
        if (block == 0) continue;  // the first steps adapt from index 0
        for (int i = 0; i < 1024; ++i) {
            errorEnergy += std::pow(decoded[i] - samples[i], 2);
            signalEnergy += std::pow(samples[i], 2);
        }
    }
    EXPECT_GT(10 * std::log10(signalEnergy / errorEnergy), 20.0);
}

TEST(AdpcmEncoder, FullScaleInputClampsInsteadOfWrapping) {
    AdpcmEncoder encoder;
    ReferenceDecoder decoder;
    std::vector<int16_t> samples(400);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = (i / 100) % 2 ? -32768 : 32767;
    const std::vector<int16_t> decoded = decoder.decode(encoder.encode(samples.data(), 400));
    EXPECT_EQ(decoded[99], 32767);
    EXPECT_EQ(decoded[199], -32768);
    for (size_t i = 1; i < decoded.size(); ++i)
        ASSERT_LT(std::abs(decoded[i] - decoded[i - 1]), 32768) << "wrapped at " << i;
}

}  // namespace
}  // namespace tess::devsim
