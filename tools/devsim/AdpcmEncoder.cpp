#include "AdpcmEncoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace tess::devsim {
namespace {

constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kIndexTable[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// The decoder's next predictor for code `code` at `step`.
int decodeStep(int predictor, int step, int code) {
    const int m = code & 7;
    const int diff = ((2 * m + 1) * step) / 8;
    return std::clamp(code < 8 ? predictor + diff : predictor - diff, -32768, 32767);
}

}  // namespace

std::string AdpcmEncoder::encode(const int16_t* samples, size_t count) {
    std::string out(count / 2, '\0');
    for (size_t i = 0; i < out.size() * 2; ++i) {
        const int step = kStepTable[index_];
        int best = 0, bestError = 1 << 30, bestValue = predictor_;
        for (int code = 0; code < 16; ++code) {
            const int value = decodeStep(predictor_, step, code);
            const int error = std::abs(value - samples[i]);
            if (error < bestError) {
                best = code;
                bestError = error;
                bestValue = value;
            }
        }
        predictor_ = bestValue;
        index_ = std::clamp(index_ + kIndexTable[best & 7], 0, 88);
        if (i % 2 == 0)
            out[i / 2] = static_cast<char>(best);
        else
            out[i / 2] = static_cast<char>(static_cast<uint8_t>(out[i / 2]) | (best << 4));
    }
    return out;
}

void ToneSource::fill(int16_t* samples, size_t count) {
    constexpr double kRate = 8000;
    for (size_t i = 0; i < count; ++i, ++sampleNumber_) {
        double hz = hz_;
        if (hz <= 0) {
            const double t = std::fmod(static_cast<double>(sampleNumber_) / kRate, 4.0);
            hz = 200 + 1800 * (t < 2 ? t / 2 : (4 - t) / 2);
        }
        phase_ = std::fmod(phase_ + 2 * std::numbers::pi * hz / kRate, 2 * std::numbers::pi);
        samples[i] = static_cast<int16_t>(std::lround(amplitude_ * std::sin(phase_)));
    }
}

}  // namespace tess::devsim
