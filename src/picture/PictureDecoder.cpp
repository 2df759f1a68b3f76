#include "picture/PictureDecoder.h"

#include <bit>

#include <turbojpeg.h>

namespace tess {

static_assert(std::endian::native == std::endian::little,
              "Format_RGB32 is filled as TurboJPEG's BGRX byte order");

namespace {

struct OutputSize {
    int width = 0;
    int height = 0;
};

// The largest output TurboJPEG can make that fits the maximum; a picture
// that fits already is decoded at 100 %. Empty when even the strongest
// reduction is too large.
OutputSize fitOutput(int width, int height) {
    if (width <= PictureDecoder::kMaximumWidth && height <= PictureDecoder::kMaximumHeight) {
        return {width, height};
    }
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    OutputSize best;
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const int w = TJSCALED(width, factors[i]);
        const int h = TJSCALED(height, factors[i]);
        if (w <= PictureDecoder::kMaximumWidth && h <= PictureDecoder::kMaximumHeight &&
            int64_t{w} * h > int64_t{best.width} * best.height) {
            best = {w, h};
        }
    }
    return best;
}

// The DCT scalings: they shrink the inverse transform itself, where other
// factors would only resample its output.
constexpr tjscalingfactor kDctScalings[] = {{1, 8}, {1, 4}, {1, 2}};

// The smallest DCT-scaled output of `full` that still covers `shownAt`; the
// full size when none does or nothing is asked.
OutputSize coverOutput(OutputSize full, int width, int height, QSize shownAt) {
    if (shownAt.width() <= 0 || shownAt.height() <= 0 || full.width != width ||
        full.height != height) {
        return full;
    }
    for (const tjscalingfactor& factor : kDctScalings) {
        const int w = TJSCALED(width, factor);
        const int h = TJSCALED(height, factor);
        if (w >= shownAt.width() && h >= shownAt.height()) return {w, h};
    }
    return full;
}

}  // namespace

PictureDecoder::PictureDecoder() : handle_(tjInitDecompress()) {}

PictureDecoder::~PictureDecoder() {
    if (handle_ != nullptr) {
        tjDestroy(static_cast<tjhandle>(handle_));
    }
}

bool PictureDecoder::decode(std::span<const uint8_t> jpeg) {
    const bool decoded = decode(jpeg, picture_);
    if (decoded) {
        width_ = picture_.width();
        height_ = picture_.height();
    }
    return decoded;
}

bool PictureDecoder::decode(std::span<const uint8_t> jpeg, QImage& target, QSize shownAt) {
    auto* handle = static_cast<tjhandle>(handle_);
    if (handle == nullptr || jpeg.empty() || jpeg.size() > static_cast<size_t>(UINT32_MAX)) {
        return false;
    }
    int width = 0;
    int height = 0;
    int subsampling = 0;
    int colorspace = 0;
    if (tjDecompressHeader3(handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), &width,
                            &height, &subsampling, &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return false;
    }
    const OutputSize out = coverOutput(fitOutput(width, height), width, height, shownAt);
    if (out.width == 0) {
        return false;
    }
    received_ = QSize(width, height);
    if (target.width() != out.width || target.height() != out.height ||
        target.format() != QImage::Format_RGB32 || !target.isDetached()) {
        target = QImage(out.width, out.height, QImage::Format_RGB32);
        if (target.isNull()) {
            return false;
        }
    }
    // Format_RGB32 is 0xffRRGGBB per pixel, which on a little-endian machine
    // is TurboJPEG's BGRX byte order; TurboJPEG writes 0xff into the X byte.
    // The scan limit keeps a hostile progressive stream from taking minutes.
    const int result = tjDecompress2(
        handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()), target.bits(), out.width,
        static_cast<int>(target.bytesPerLine()), out.height, TJPF_BGRX, TJFLAG_LIMITSCANS);
    // A warning (for instance a truncated or slightly damaged frame) still
    // yields a whole picture, with grey where data was missing: show it.
    return result == 0 || tjGetErrorCode(handle) == TJERR_WARNING;
}

}  // namespace tess
