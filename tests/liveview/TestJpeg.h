#pragma once

#include <cstdint>
#include <vector>

#include <turbojpeg.h>

namespace tess::test {

// A baseline JPEG of `width` x `height` whose left half is `left` and right
// half `right` (0xRRGGBB), compressed at high quality with TurboJPEG.
inline std::vector<uint8_t> makeJpeg(int width, int height, uint32_t left = 0x808080,
                                     uint32_t right = 0x808080) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = x < width / 2 ? left : right;
            uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(c >> 16);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c);
        }
    }
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> jpeg;
    if (tjCompress2(handle, rgb.data(), width, 0, height, TJPF_RGB, &out, &size, TJSAMP_444, 95,
                    0) == 0) {
        jpeg.assign(out, out + size);
    }
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

}  // namespace tess::test
