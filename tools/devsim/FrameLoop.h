#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "StreamWire.h"

namespace tess::devsim {

// What the pictures show: the device's split layout or the one channel it
// shows alone, and the PTZ marker.
struct PictureScene {
    int width = 352, height = 240;
    int channel = 0;                      // 1..16: that channel alone; 0: the split layout
    int split = 4;                        // 1, 4, 9 or 16 panes
    double markerX = 0.5, markerY = 0.5;  // marker position, 0..1 of the picture
    double markerScale = 1;               // grows with zoom
    // A 48 x 48 block in the top right corner whose colour (each channel 0
    // or 255) says the frame's number modulo 8, for latency measurements.
    bool numberMark = false;
};

// The centre of the number mark in a picture of `width` pixels, and the
// number it shows in a pixel of that colour.
inline constexpr int kNumberMarkTop = 8, kNumberMarkSize = 48;
inline int numberMarkCentreX(int width) {
    return width - 8 - kNumberMarkSize / 2;
}
inline int numberMarkCentreY() {
    return kNumberMarkTop + kNumberMarkSize / 2;
}
inline int numberMarkOf(int red, int green, int blue) {
    return (red > 127 ? 4 : 0) | (green > 127 ? 2 : 0) | (blue > 127 ? 1 : 0);
}

// How the frames travel.
struct Framing {
    bool packetStream = true;         // false: whole-frame form
    bool lengthCountsHeader = false;  // whole frames of class 4
    size_t mediaHeaderLength = wire::kShortMediaHeader;
    wire::HeaderFlags flags;
};

// Draws frame `number` of a scene as 24-bit RGB, three bytes per pixel: moving
// colour bars, the layout, the channel and frame numbers in a built-in 5x7
// font and the marker.
std::vector<uint8_t> renderScene(const PictureScene& scene, int number);

// A loop of pictures encoded once, kept both as JPEG (even length) and in
// the device's framing, ready to send. Immutable once built: stream threads
// share it through a shared_ptr while commands build its successor.
class FrameLoop {
public:
    // The largest picture a frame may carry: the viewer's slot less room for
    // the byte-pair swap and a class 4 header.
    static constexpr size_t kMaxPicture = 24000;

    // `quality` 0 picks one for the resolution and lowers it until every
    // picture fits kMaxPicture. Null (with `error`) when encoding fails or an
    // explicit quality gives a picture that does not fit.
    static std::shared_ptr<const FrameLoop> build(const PictureScene& scene, int frames,
                                                  int quality, const Framing& framing,
                                                  std::string& error);

    size_t size() const { return pictures_.size(); }
    const std::string& picture(size_t index) const { return pictures_[index]; }
    const std::string& wireFrame(size_t index) const { return wire_[index]; }
    const Framing& framing() const { return framing_; }
    const PictureScene& scene() const { return scene_; }
    int quality() const { return quality_; }

    // The wire form of picture `index` spoiled as `damage` says, or with the
    // picture padded beyond the viewer's slot (`oversized`).
    std::string damagedFrame(size_t index, const wire::FrameDamage& damage, bool oversized) const;

private:
    std::string frame(const std::string& picture, const wire::FrameDamage& damage) const;

    std::vector<std::string> pictures_;
    std::vector<std::string> wire_;
    Framing framing_;
    PictureScene scene_;
    int quality_ = 0;
};

// Encodes RGB pixels as a baseline JPEG; empty on failure.
std::string encodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality);

}  // namespace tess::devsim
