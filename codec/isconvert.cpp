
#include "codec/isframe.h"

namespace {

// A new RGB buffer of width x height; pixel(row, x, out) writes one pixel
// of the source row.
template <typename Pixel>
uint8_t* ExpandToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride, Pixel pixel) {
    uint64_t bytes;
    if (!image || !ISMulSize3(width, height, 3, &bytes)) return nullptr;
    uint8_t* out = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, bytes));
    if (!out) return nullptr;
    uint8_t* d = out;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = image + static_cast<uint64_t>(y) * rowStride;
        for (uint32_t x = 0; x < width; ++x, d += 3) pixel(s, x, d);
    }
    return out;
}

}  // namespace

uint8_t* ISIndexedToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride,
                        const uint8_t* palette) {
    if (!palette) return nullptr;
    return ExpandToRGB(image, width, height, rowStride, [palette](const uint8_t* s, uint32_t x, uint8_t* d) {
        const uint8_t* entry = palette + 4u * s[x];
        d[0] = entry[2];
        d[1] = entry[1];
        d[2] = entry[0];
    });
}

uint8_t* ISBitsToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride) {
    return ExpandToRGB(image, width, height, rowStride, [](const uint8_t* s, uint32_t x, uint8_t* d) {
        d[0] = d[1] = d[2] = (s[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    });
}

uint8_t* ISWidenToRGBA(const uint8_t* image, uint32_t width, uint32_t height) {
    uint64_t bytes;
    if (!image || !ISMulSize3(width, height, 4, &bytes)) return nullptr;
    uint8_t* out = static_cast<uint8_t*>(IS40_GlobalAlloc(kISZeroInit, bytes));
    if (!out) return nullptr;
    const uint64_t pixels = static_cast<uint64_t>(width) * height;
    for (uint64_t i = 0; i < pixels; ++i) {
        out[4 * i] = image[3 * i];
        out[4 * i + 1] = image[3 * i + 1];
        out[4 * i + 2] = image[3 * i + 2];
        out[4 * i + 3] = 255;
    }
    return out;
}

void ISPutDibHeader(uint8_t* d, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t imageSize,
                    uint32_t xPelsPerMetre, uint32_t yPelsPerMetre, uint32_t colours) {
    ISPut32LE(d, kISDibHeaderBytes);
    ISPut32LE(d + 4, width);
    ISPut32LE(d + 8, height);
    ISPut16LE(d + 12, 1);
    ISPut16LE(d + 14, bitCount);
    ISPut32LE(d + 16, 0);
    ISPut32LE(d + 20, imageSize);
    ISPut32LE(d + 24, xPelsPerMetre);
    ISPut32LE(d + 28, yPelsPerMetre);
    ISPut32LE(d + 32, colours);
    ISPut32LE(d + 36, 0);
}
