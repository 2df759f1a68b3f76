#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tess::devsim {

// IMA ADPCM encoder that tracks the viewer's decoder exactly: each sample
// gets the code whose decoded value, computed with the decoder's own rule
// diff = ((2m + 1) * step) / 8, lands nearest the input. Two codes per byte,
// the first sample in the low nibble.
class AdpcmEncoder {
public:
    // State at the start of the next block, as a frame header states it.
    int16_t predictor() const { return static_cast<int16_t>(predictor_); }
    int8_t stepIndex() const { return static_cast<int8_t>(index_); }

    // Encodes an even number of samples into samples / 2 bytes.
    std::string encode(const int16_t* samples, size_t count);

private:
    int predictor_ = 0;
    int index_ = 0;
};

// A test signal at 8000 samples/s: a steady tone, or (hz == 0) a sweep from
// 200 to 2000 Hz and back every 4 seconds.
class ToneSource {
public:
    explicit ToneSource(double hz, double amplitude = 8000) : hz_(hz), amplitude_(amplitude) {}
    void fill(int16_t* samples, size_t count);

private:
    double hz_, amplitude_;
    double phase_ = 0;
    uint64_t sampleNumber_ = 0;
};

}  // namespace tess::devsim
