#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tess {

// IMA ADPCM decoder for the audio frames of one pane (8000 samples/s, mono).
//
// A stored audio frame keeps its 64-byte media header in front of the data:
//
//   offset  0..59  rest of the media header (ignored here)
//   offset 60..61  initial predictor, signed 16-bit little-endian
//   offset 62      step index, signed 8-bit
//   offset 63      unused
//   offset 64..    ADPCM codes, two per byte, low nibble first
//
// Every frame brings its own step index. The predictor is taken from the header
// only for the first frame after `restart`; later frames carry on from the
// previous frame's last sample, so the devices' header predictors never cause
// a click between frames.
//
// The difference is formed as ((2m + 1) * step) / 8 with a true multiply, not
// with the shift-and-add approximation: the devices encode against this form.
//
// Pure state machine: no allocation, no locking; one decoder thread owns it.
class AdpcmDecoder {
public:
    static constexpr size_t kHeaderBytes = 64;
    // What fits one PCM block of 8192 bytes: 2048 code bytes, 4096 samples.
    static constexpr size_t kMaxDataBytes = 2048;
    static constexpr size_t kMaxSamples = kMaxDataBytes * 2;

    // The next frame sets the predictor from its header again.
    void restart() { firstBlockDone_ = false; }

    // Decodes one stored frame of `length` bytes (its header included) into
    // `pcm` and returns the number of samples written. A frame shorter than the
    // header yields nothing. Code bytes beyond what `pcm` (at most kMaxSamples)
    // or `frame` hold are cut off: the frame's start still plays and the
    // predictor carries on from the last decoded sample.
    size_t decodeFrame(std::span<const uint8_t> frame, size_t length, std::span<int16_t> pcm);

    // Decodes the ADPCM codes of one block with the block's header values.
    size_t decodeBlock(int16_t headerPredictor, int8_t headerStepIndex,
                       std::span<const uint8_t> codes, std::span<int16_t> pcm);

    int32_t predictor() const { return predictor_; }
    int32_t stepIndex() const { return stepIndex_; }

private:
    int16_t decodeNibble(uint8_t code);

    int32_t predictor_ = 0;
    int32_t stepIndex_ = 0;
    bool firstBlockDone_ = false;
};

}  // namespace tess
