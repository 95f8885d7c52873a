// Filling a rectangle with one colour.
#include "codec/isframe.h"

#include <cstring>

namespace {

void Fill(uint8_t* image, uint32_t width, uint32_t height, uint32_t bpp, uint32_t stride, const ISRect* rect,
          uint32_t colour, uint32_t flags) {
    if (!image || !rect || !ISValidChannels(bpp)) ISFail(IS_ERR_PARAM, "arguments");
    const uint64_t fullRow = ISPixelRowBytes(width, bpp);
    if (height && stride < fullRow) ISFail(IS_ERR_PARAM, "stride");
    const int64_t x0 = std::max<int64_t>(0, rect->left);
    const int64_t x1 = std::min<int64_t>(width, rect->right);
    const int64_t y0 = std::max<int64_t>(0, rect->top);
    const int64_t y1 = std::min<int64_t>(height, rect->bottom);
    if (x0 >= x1 || y0 >= y1) return;

    uint8_t px[4];
    const uint8_t r = static_cast<uint8_t>(colour), g = static_cast<uint8_t>(colour >> 8),
                  b = static_cast<uint8_t>(colour >> 16), a = static_cast<uint8_t>(colour >> 24);
    if (bpp == 1) {
        px[0] = r;
    } else {
        const bool bgr = (flags & IS_FILL_BGR) != 0;
        px[0] = bgr ? b : r;
        px[1] = g;
        px[2] = bgr ? r : b;
        px[3] = a;
    }
    const uint64_t left = static_cast<uint64_t>(x0) * bpp;
    const uint64_t bytes = static_cast<uint64_t>(x1 - x0) * bpp;
    bool uniform = true;
    for (uint32_t k = 1; k < bpp; ++k) uniform = uniform && px[k] == px[0];
    if (uniform) {
        if (x0 == 0 && y0 == 0 && x1 == width && y1 == height && stride == fullRow) {
            std::memset(image, px[0], fullRow * height);
            return;
        }
        for (int64_t y = y0; y < y1; ++y) std::memset(image + y * static_cast<uint64_t>(stride) + left, px[0], bytes);
        return;
    }
    // Build the first row of the area, then copy it to the others.
    uint8_t* first = image + y0 * static_cast<uint64_t>(stride) + left;
    for (uint64_t k = 0; k < bytes; k += bpp) std::memcpy(first + k, px, bpp);
    for (int64_t y = y0 + 1; y < y1; ++y) std::memcpy(image + y * static_cast<uint64_t>(stride) + left, first, bytes);
}

}  // namespace

extern "C" {

IS_BOOL IS40_FillSolidRect(uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint32_t stride,
                           const ISRect* rect, uint32_t colour, uint32_t flags) {
    return ISRunOperation("IS40_FillSolidRect",
                    [&] { Fill(image, width, height, bytesPerPixel, stride, rect, colour, flags); });
}

}  // extern "C"
