#pragma once

#include <cstdint>
#include <span>

#include <QImage>
#include <QSize>

namespace tess {

// Decodes in-memory JPEG pictures into 32-bit images (QImage::Format_RGB32).
//
// One decoder per pane (its render thread is the only user) and one in the
// snapshot browser. The TurboJPEG handle is made once; the target image is
// reused while the picture size stays the same, so steady streaming allocates
// nothing. Pictures wider or taller than 1000 pixels come out reduced by the
// mildest TurboJPEG scaling factor that fits them within 1000 x 1000.
//
// Given the size in device pixels that the picture will be stretched over,
// the decoder decodes no more pixels than that needs: at the smallest of the
// DCT scalings 1/2, 1/4 and 1/8 whose output still covers it, which saves the
// inverse transform and the colour conversion of the pixels not shown.
class PictureDecoder {
public:
    static constexpr int kMaximumWidth = 1000;
    static constexpr int kMaximumHeight = 1000;

    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // Decodes `jpeg` (read in place, not copied, not kept) into the decoder's
    // own image. False when the bytes are not a picture that can be decoded;
    // picture() then holds no valid content for that frame.
    bool decode(std::span<const uint8_t> jpeg);
    // Same, into `target`: its buffer is reused when it already has the right
    // size and format and is not shared, otherwise it is replaced. With a
    // non-empty `shownAt` (device pixels) the picture may come out reduced.
    bool decode(std::span<const uint8_t> jpeg, QImage& target, QSize shownAt = {});

    // The size of the last picture as received, whatever it was decoded at
    // (0 before the first).
    QSize receivedSize() const { return received_; }

    const QImage& picture() const { return picture_; }
    // Size of the last successfully decoded picture (0 before the first).
    int pictureWidth() const { return width_; }
    int pictureHeight() const { return height_; }

private:
    void* handle_ = nullptr;  // tjhandle
    QImage picture_;
    int width_ = 0;
    int height_ = 0;
    QSize received_;
};

}  // namespace tess
