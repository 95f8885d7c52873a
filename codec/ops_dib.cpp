// Packed DIBs, the pixel contract of the display bitmaps: made from RGB
// image buffers here, read back through the BMP codec.
#include "codec/isframe.h"

#include <cstring>

namespace {

void DibToRGB(const uint8_t* dib, uint32_t size, uint8_t* dest, uint32_t stride, uint32_t dw, uint32_t dh) {
    if (!dib) ISFail(IS_ERR_PARAM, "null DIB");
    if (size < kISDibHeaderBytes) ISFail(IS_ERR_VARIANT, "short DIB");
    ISHANDLE source = IS40_OpenMemorySource(dib, size);
    if (!source) ISFail(IS_ERR_MEMORY, "DIB source");
    uint32_t width = 0, height = 0, error = 0;
    uint8_t* rgb = ISReadPackedDIB(source, &width, &height, &error);
    IS40_CloseSource(source);
    struct Owned {
        uint8_t* block;
        ~Owned() { IS40_GlobalFree(block); }
    } owned{rgb};
    // A DIB the reader cannot take whole is one of a kind not handled.
    if (error) ISFail(error == IS_ERR_MEMORY ? IS_ERR_MEMORY : IS_ERR_VARIANT, "DIB");
    if (!dest) ISFail(IS_ERR_PARAM, "destination");
    if (dw != width || dh != height) ISFail(IS_ERR_PARAM, "destination size");
    const uint64_t row = ISPixelRowBytes(dw, 3);
    if (stride < row) ISFail(IS_ERR_PARAM, "stride");
    for (uint32_t y = 0; y < height; ++y) {
        std::memcpy(dest + static_cast<uint64_t>(y) * stride, rgb + y * row, static_cast<size_t>(row));
    }
}

}  // namespace

uint8_t* ISRGBToPackedDIB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride, uint32_t bits,
                          const uint8_t* palette, uint32_t* dibBytes) {
    if (!image || !width || !height || !ISValidDibBits(bits) || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        ISFail(IS_ERR_PARAM, "arguments");
    }
    const bool indexed = bits <= 8;
    if (indexed && !palette) ISFail(IS_ERR_PARAM, "palette");
    if (stride < ISPixelRowBytes(width, indexed ? 1 : 3)) ISFail(IS_ERR_PARAM, "stride");
    const uint32_t colours = indexed ? 1u << bits : 0;
    const uint64_t start = kISDibHeaderBytes + 4ull * colours;
    const uint64_t row = ISDibRowBytes(width, bits);
    uint64_t pixels, total;
    if (!ISMulSize(row, height, &pixels) || !ISMulSize(pixels + start, 1, &total)) ISFail(IS_ERR_MEMORY, "DIB too large");

    CISOutBufAllocator out;
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "DIB");
    uint8_t* base = out.Get();
    ISPutDibHeader(base, width, height, bits, static_cast<uint32_t>(pixels), 0, 0, 0);
    if (indexed) std::memcpy(base + kISDibHeaderBytes, palette, 4ull * colours);

    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = image + static_cast<uint64_t>(y) * stride;
        uint8_t* d = base + start + static_cast<uint64_t>(height - 1 - y) * row;
        switch (bits) {
            case 1:
            case 4:
            case 8: {
                const uint32_t perByte = 8 / bits;
                for (uint32_t x = 0; x < width; ++x) {
                    if (s[x] >= colours) ISFail(IS_ERR_PARAM, "index past the palette");
                    const uint32_t shift = bits * (perByte - 1 - x % perByte);
                    d[x / perByte] |= static_cast<uint8_t>(s[x] << shift);
                }
                break;
            }
            case 16:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 2) {
                    ISPut16LE(d, ((s[0] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[2] >> 3));
                }
                break;
            case 24:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 3) {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
                break;
            default:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 4) {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
                break;
        }
    }
    if (dibBytes) *dibBytes = static_cast<uint32_t>(total);
    return out.Release();
}

extern "C" {

uint8_t* IS40_RGBToPackedDIB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride,
                             uint32_t bitCount, const uint8_t* palette, uint32_t* dibBytes) {
    uint8_t* result = nullptr;
    ISRunOperation("IS40_RGBToPackedDIB",
                   [&] { result = ISRGBToPackedDIB(image, width, height, stride, bitCount, palette, dibBytes); });
    return result;
}

IS_BOOL IS40_PackedDIBToRGB(const uint8_t* dib, uint32_t dibBytes, uint8_t* destination, uint32_t destStride,
                            uint32_t destWidth, uint32_t destHeight) {
    return ISRunOperation("IS40_PackedDIBToRGB",
                          [&] { DibToRGB(dib, dibBytes, destination, destStride, destWidth, destHeight); });
}

}  // extern "C"
