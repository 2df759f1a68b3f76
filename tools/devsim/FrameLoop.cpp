#include "FrameLoop.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace tess::devsim {
namespace {

// 5x7 glyphs, one row per byte, bit 4 the leftmost pixel.
struct Glyph {
    char character;
    uint8_t rows[7];
};
constexpr Glyph kFont[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}},
    {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}},
    {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}},
    {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}},
    {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}},
    {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}},
    {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
};

struct Rgb {
    uint8_t r, g, b;
};

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), pixels_(width * height * 3) {}

    void fill(int x0, int y0, int x1, int y1, Rgb colour) {
        x0 = std::max(x0, 0), y0 = std::max(y0, 0);
        x1 = std::min(x1, width_), y1 = std::min(y1, height_);
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                uint8_t* p = &pixels_[(static_cast<size_t>(y) * width_ + x) * 3];
                p[0] = colour.r, p[1] = colour.g, p[2] = colour.b;
            }
    }

    // Text on a dark box, `scale` pixels per font dot; (x, y) is its top-left.
    void text(int x, int y, int scale, std::string_view text, Rgb colour) {
        const int advance = 6 * scale;
        fill(x - scale, y - scale, x + advance * static_cast<int>(text.size()) + scale,
             y + 8 * scale, {0, 0, 0});
        for (char c : text) {
            for (const Glyph& glyph : kFont) {
                if (glyph.character != c) continue;
                for (int row = 0; row < 7; ++row)
                    for (int col = 0; col < 5; ++col)
                        if (glyph.rows[row] & (0x10 >> col))
                            fill(x + col * scale, y + row * scale, x + (col + 1) * scale,
                                 y + (row + 1) * scale, colour);
            }
            x += advance;
        }
    }

    int width() const { return width_; }
    int height() const { return height_; }
    std::vector<uint8_t> take() { return std::move(pixels_); }

private:
    int width_, height_;
    std::vector<uint8_t> pixels_;
};

constexpr Rgb kBars[] = {{192, 192, 192}, {192, 192, 0}, {0, 192, 192}, {0, 192, 0},
                         {192, 0, 192},   {192, 0, 0},   {0, 0, 192},   {64, 64, 64}};
constexpr Rgb kWhite{255, 255, 255}, kYellow{255, 230, 0};

}  // namespace

std::vector<uint8_t> renderScene(const PictureScene& scene, int number) {
    Canvas canvas(scene.width, scene.height);
    const int w = scene.width, h = scene.height;
    // Colour bars that slide one bar width every 25 frames.
    const int bar = std::max(1, w / 8);
    const int shift = (number % 25) * bar / 25 + (number / 25) * bar;
    for (int i = -1; i <= 8; ++i) {
        const int x0 = i * bar + shift % bar;
        const size_t colour = static_cast<size_t>(i + 8 + shift / bar) % 8;
        canvas.fill(x0, 0, x0 + bar, h, kBars[colour]);
    }
    const int textScale = std::max(1, h / 120);
    if (scene.channel > 0) {
        canvas.text(w / 2 - 18 * textScale * 2, h / 2 - 8 * textScale, 4 * textScale / 2 + 1,
                    "CH" + std::to_string(scene.channel), kWhite);
    } else {
        const int cells = std::max(1, static_cast<int>(std::lround(std::sqrt(scene.split))));
        for (int i = 1; i < cells; ++i) {
            canvas.fill(i * w / cells - 1, 0, i * w / cells + 1, h, kWhite);
            canvas.fill(0, i * h / cells - 1, w, i * h / cells + 1, kWhite);
        }
        for (int row = 0; row < cells; ++row)
            for (int col = 0; col < cells; ++col)
                canvas.text(col * w / cells + 4 * textScale, row * h / cells + 12 * textScale,
                            textScale, std::to_string(row * cells + col + 1), kWhite);
    }
    canvas.text(2 * textScale, 2 * textScale, textScale, "F" + std::to_string(number), kYellow);
    if (scene.numberMark) {
        const uint8_t r = (number & 4) ? 255 : 0, g = (number & 2) ? 255 : 0,
                      b = (number & 1) ? 255 : 0;
        const int x0 = w - 8 - kNumberMarkSize;
        canvas.fill(x0, kNumberMarkTop, x0 + kNumberMarkSize, kNumberMarkTop + kNumberMarkSize,
                    {r, g, b});
    }
    // The PTZ marker: a cross whose arms grow with the zoom.
    const int mx = static_cast<int>(scene.markerX * (w - 1));
    const int my = static_cast<int>(scene.markerY * (h - 1));
    const int arm = static_cast<int>(std::clamp(h / 16.0 * scene.markerScale, 4.0, h / 3.0));
    const int half = std::max(1, h / 160);
    canvas.fill(mx - arm - 1, my - half - 1, mx + arm + 2, my + half + 2, {0, 0, 0});
    canvas.fill(mx - half - 1, my - arm - 1, mx + half + 2, my + arm + 2, {0, 0, 0});
    canvas.fill(mx - arm, my - half, mx + arm + 1, my + half + 1, kYellow);
    canvas.fill(mx - half, my - arm, mx + half + 1, my + arm + 1, kYellow);
    return canvas.take();
}

std::string encodeJpeg(const std::vector<uint8_t>& rgb, int width, int height, int quality) {
    tjhandle handle = tjInitCompress();
    if (!handle) return {};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int result = tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &buffer, &size,
                                   TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::string jpeg;
    if (result == 0) jpeg.assign(reinterpret_cast<const char*>(buffer), size);
    tjFree(buffer);
    tjDestroy(handle);
    return jpeg;
}

std::shared_ptr<const FrameLoop> FrameLoop::build(const PictureScene& scene, int frames,
                                                  int quality, const Framing& framing,
                                                  std::string& error) {
    std::vector<std::vector<uint8_t>> images;
    for (int i = 0; i < frames; ++i) images.push_back(renderScene(scene, i));
    const int pixels = scene.width * scene.height;
    int tryQuality = quality > 0           ? quality
                     : pixels <= 352 * 288 ? 80
                     : pixels <= 704 * 576 ? 50
                                           : 30;
    auto loop = std::make_shared<FrameLoop>();
    loop->framing_ = framing;
    loop->scene_ = scene;
    for (;;) {
        loop->pictures_.clear();
        bool fits = true;
        for (const auto& image : images) {
            std::string jpeg = encodeJpeg(image, scene.width, scene.height, tryQuality);
            if (jpeg.empty()) {
                error = "JPEG encoding failed";
                return nullptr;
            }
            if (jpeg.size() % 2) jpeg.push_back('\0');  // pairs are swapped on the wire
            fits = fits && jpeg.size() <= kMaxPicture;
            loop->pictures_.push_back(std::move(jpeg));
        }
        if (fits) break;
        if (quality > 0 || tryQuality <= 5) {
            error = "pictures of " + std::to_string(scene.width) + "x" +
                    std::to_string(scene.height) + " do not fit the viewer's frame slot";
            return nullptr;
        }
        tryQuality = std::max(5, tryQuality - 10);
    }
    loop->quality_ = tryQuality;
    for (const auto& picture : loop->pictures_) loop->wire_.push_back(loop->frame(picture, {}));
    return loop;
}

std::string FrameLoop::frame(const std::string& picture, const wire::FrameDamage& damage) const {
    if (framing_.packetStream)
        return wire::packetStreamFrame(picture, framing_.mediaHeaderLength, framing_.flags, damage);
    return wire::wholeFrame(picture, framing_.lengthCountsHeader, framing_.flags, damage);
}

std::string FrameLoop::damagedFrame(size_t index, const wire::FrameDamage& damage,
                                    bool oversized) const {
    std::string picture = pictures_[index];
    // Zeros behind the end marker keep it a valid JPEG that no slot can hold.
    if (oversized) picture.resize(std::max<size_t>(picture.size(), wire::kVideoSlot + 2000), '\0');
    return frame(picture, damage);
}

}  // namespace tess::devsim
