#include "media/AdpcmDecoder.h"

#include <algorithm>
#include <array>

namespace tess {
namespace {

constexpr std::array<int32_t, 89> kStepTable = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

constexpr std::array<int32_t, 16> kIndexTable = {-1, -1, -1, -1, 2, 4, 6, 8,
                                                 -1, -1, -1, -1, 2, 4, 6, 8};

constexpr int32_t kMaxStepIndex = 88;

}  // namespace

int16_t AdpcmDecoder::decodeNibble(uint8_t code) {
    stepIndex_ = std::clamp(stepIndex_, 0, kMaxStepIndex);
    const int32_t step = kStepTable[stepIndex_];
    stepIndex_ = std::clamp(stepIndex_ + kIndexTable[code], 0, kMaxStepIndex);
    const int32_t magnitude = code & 0x07;
    const int32_t diff = ((2 * magnitude + 1) * step) / 8;
    predictor_ += (code & 0x08) ? -diff : diff;
    predictor_ = std::clamp(predictor_, -32768, 32767);
    return static_cast<int16_t>(predictor_);
}

size_t AdpcmDecoder::decodeBlock(int16_t headerPredictor, int8_t headerStepIndex,
                                 std::span<const uint8_t> codes, std::span<int16_t> pcm) {
    stepIndex_ = headerStepIndex;
    if (!firstBlockDone_) {
        predictor_ = headerPredictor;
        firstBlockDone_ = true;
    }
    const size_t bytes = std::min(codes.size(), pcm.size() / 2);
    for (size_t i = 0; i < bytes; ++i) {
        pcm[2 * i] = decodeNibble(codes[i] & 0x0F);
        pcm[2 * i + 1] = decodeNibble(codes[i] >> 4);
    }
    return bytes * 2;
}

size_t AdpcmDecoder::decodeFrame(std::span<const uint8_t> frame, size_t length,
                                 std::span<int16_t> pcm) {
    length = std::min(length, frame.size());
    if (length < kHeaderBytes) return 0;
    const auto predictor = static_cast<int16_t>(frame[60] | (frame[61] << 8));
    const auto stepIndex = static_cast<int8_t>(frame[62]);
    const size_t dataBytes = std::min(length - kHeaderBytes, kMaxDataBytes);
    return decodeBlock(predictor, stepIndex, frame.subspan(kHeaderBytes, dataBytes), pcm);
}

}  // namespace tess
