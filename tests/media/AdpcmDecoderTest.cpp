#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "media/AdpcmDecoder.h"

namespace tess {
namespace {

// A stored audio frame: 64 header bytes (predictor at 60, step index at 62)
// followed by the code bytes.
std::vector<uint8_t> makeFrame(int16_t predictor, int8_t stepIndex,
                               const std::vector<uint8_t>& codes) {
    std::vector<uint8_t> frame(AdpcmDecoder::kHeaderBytes + codes.size(), 0xEE);
    frame[60] = static_cast<uint8_t>(predictor & 0xFF);
    frame[61] = static_cast<uint8_t>((predictor >> 8) & 0xFF);
    frame[62] = static_cast<uint8_t>(stepIndex);
    std::copy(codes.begin(), codes.end(), frame.begin() + AdpcmDecoder::kHeaderBytes);
    return frame;
}

TEST(AdpcmDecoder, WorkedValuesUseTheMultiplyFormAndLowNibbleFirst) {
    AdpcmDecoder decoder;
    std::array<int16_t, 2> pcm{};
    // 0xF7: low nibble 7 first (diff 15*7/8 = 13, index 0 -> 8), then 15
    // (step 16 at index 8, diff 15*16/8 = 30, 13 - 30 = -17, index 16).
    const auto frame = makeFrame(0, 0, {0xF7});
    ASSERT_EQ(decoder.decodeFrame(frame, frame.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], 13);  // the shift-and-add form would give 11
    EXPECT_EQ(pcm[1], -17);
    EXPECT_EQ(decoder.stepIndex(), 16);
    EXPECT_EQ(decoder.predictor(), -17);

    // 0x21: code 1 (diff 3*7/8 = 2) before code 2 (diff 5*7/8 = 4).
    AdpcmDecoder order;
    const auto pair = makeFrame(0, 0, {0x21});
    ASSERT_EQ(order.decodeFrame(pair, pair.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], 2);
    EXPECT_EQ(pcm[1], 6);
}

TEST(AdpcmDecoder, PredictorComesFromTheFirstBlockOnlyStepIndexFromEveryBlock) {
    AdpcmDecoder decoder;
    std::array<int16_t, 2> pcm{};
    const auto first = makeFrame(-300, 0, {0x00});  // code 0: diff 7/8 = 0
    ASSERT_EQ(decoder.decodeFrame(first, first.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], -300);
    EXPECT_EQ(pcm[1], -300);

    // Step index 20 (step 50) replaces the carried index; predictor 1000 is ignored.
    const auto second = makeFrame(1000, 20, {0x07});
    ASSERT_EQ(decoder.decodeFrame(second, second.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], -300 + (15 * 50) / 8);
    EXPECT_EQ(decoder.stepIndex(), 20 + 8 - 1);

    // After a restart the header predictor counts again.
    decoder.restart();
    const auto again = makeFrame(1000, 0, {0x00});
    ASSERT_EQ(decoder.decodeFrame(again, again.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], 1000);
}

TEST(AdpcmDecoder, StepIndexAndPredictorAreClampedNeverWrapped) {
    AdpcmDecoder decoder;
    std::array<int16_t, 4> pcm{};
    // Header index 100 is used as 88 (step 32767): 32000 + 15*32767/8 clamps to 32767.
    const auto high = makeFrame(32000, 100, {0x77, 0x77});
    ASSERT_EQ(decoder.decodeFrame(high, high.size(), pcm), 4u);
    for (int16_t sample : pcm) EXPECT_EQ(sample, 32767);
    EXPECT_EQ(decoder.stepIndex(), 88);

    AdpcmDecoder low;
    const auto negative = makeFrame(-32000, -5, {0xFF, 0xFF});  // index -5 used as 0
    ASSERT_EQ(low.decodeFrame(negative, negative.size(), pcm), 4u);
    EXPECT_EQ(pcm[0], -32000 - 13);
    EXPECT_LT(pcm[3], pcm[0]);
    const auto deeper = makeFrame(0, 88, {0xFF});
    ASSERT_EQ(low.decodeFrame(deeper, deeper.size(), pcm), 2u);
    EXPECT_EQ(pcm[0], -32768);
    EXPECT_EQ(pcm[1], -32768);
}

TEST(AdpcmDecoder, ShortEmptyAndOversizedFramesStayWithinTheirBuffers) {
    AdpcmDecoder decoder;
    std::vector<int16_t> pcm(AdpcmDecoder::kMaxSamples + 16, 0x5555);

    const auto headerOnly = makeFrame(0, 0, {});
    EXPECT_EQ(decoder.decodeFrame(headerOnly, 64, pcm), 0u);
    EXPECT_EQ(decoder.decodeFrame(headerOnly, 10, pcm), 0u);  // S < 64: nothing, no underflow

    // S = 2200 carries 2136 code bytes: only the first 2048 fit one PCM block.
    std::vector<uint8_t> big = makeFrame(0, 0, std::vector<uint8_t>(2136, 0x11));
    EXPECT_EQ(decoder.decodeFrame(big, big.size(), pcm), AdpcmDecoder::kMaxSamples);
    EXPECT_EQ(pcm[AdpcmDecoder::kMaxSamples], 0x5555);

    // A length beyond the stored bytes reads only what is stored.
    const auto small = makeFrame(0, 0, {0x11, 0x11});
    EXPECT_EQ(decoder.decodeFrame(small, 5000, pcm), 4u);

    // A PCM buffer shorter than the codes limits the output.
    std::array<int16_t, 3> tiny{};
    EXPECT_EQ(decoder.decodeFrame(small, small.size(), tiny), 2u);
}

}  // namespace
}  // namespace tess
