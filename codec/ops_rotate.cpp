// Quarter and half turns, and the eight EXIF orientations made upright.
#include "codec/isframe.h"

#include <cstring>

namespace {

// A half turn reverses each row into the mirrored row. Quarter turns walk
// square tiles so that both the column reads and the row writes stay
// within a few cache lines; inside a tile each destination row is written
// left to right.
template <uint32_t PB>
void RotateTiles(const uint8_t* src, uint32_t w, uint32_t h, uint64_t ss, uint8_t* dst, uint64_t ds,
                 uint32_t rotation) {
    if (rotation == 1) {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* s = src + r * ss;
            uint8_t* d = dst + (h - 1 - r) * ds + static_cast<uint64_t>(w - 1) * PB;
            for (uint32_t c = 0; c < w; ++c, s += PB, d -= PB) std::memcpy(d, s, PB);
        }
        return;
    }
    constexpr uint32_t kTile = 128;
    // Destination row y, column x takes source column (y or w-1-y), row
    // (h-1-x or x). Bands of source rows outside, so that each band's pages
    // are visited once.
    const uint32_t dw = h, dh = w;
    for (uint32_t x0 = 0; x0 < dw; x0 += kTile) {
        const uint32_t x1 = std::min(dw, x0 + kTile);
        for (uint32_t y0 = 0; y0 < dh; y0 += kTile) {
            const uint32_t y1 = std::min(dh, y0 + kTile);
            for (uint32_t y = y0; y < y1; ++y) {
                uint8_t* d = dst + y * ds + static_cast<uint64_t>(x0) * PB;
                if (rotation == 0) {
                    // Column y of the source, read upwards from row h-1-x0.
                    const uint8_t* s = src + (h - 1 - x0) * ss + static_cast<uint64_t>(y) * PB;
                    for (uint32_t x = x0; x < x1; ++x, d += PB, s -= ss) std::memcpy(d, s, PB);
                } else {
                    // Column w-1-y of the source, read downwards from row x0.
                    const uint8_t* s = src + x0 * ss + static_cast<uint64_t>(w - 1 - y) * PB;
                    for (uint32_t x = x0; x < x1; ++x, d += PB, s += ss) std::memcpy(d, s, PB);
                }
            }
        }
    }
}

void Rotate(const uint8_t* src, uint32_t w, uint32_t h, uint32_t ss, uint8_t* dst, uint32_t ds, uint32_t rotation,
            uint32_t channels, uint32_t flags) {
    if (!src || !dst || rotation > 2 || !ISValidChannels(channels) || !w || !h) ISFail(IS_ERR_PARAM, "arguments");
    const uint32_t pb = channels * ((flags & IS_ROTATE_16BIT) ? 2 : 1);
    const uint32_t dw = rotation == 1 ? w : h;
    const uint32_t dh = rotation == 1 ? h : w;
    const uint64_t srcRow = ISPixelRowBytes(w, pb);
    const uint64_t dstRow = ISPixelRowBytes(dw, pb);
    if (ss < srcRow || ds < dstRow) ISFail(IS_ERR_PARAM, "stride");
    // Turning in place would read pixels already overwritten.
    const uintptr_t s0 = reinterpret_cast<uintptr_t>(src), d0 = reinterpret_cast<uintptr_t>(dst);
    const uintptr_t srcEnd = s0 + (h - 1) * static_cast<uint64_t>(ss) + srcRow;
    const uintptr_t dstEnd = d0 + (dh - 1) * static_cast<uint64_t>(ds) + dstRow;
    if (s0 < dstEnd && d0 < srcEnd) ISFail(IS_ERR_PARAM, "overlapping buffers");
    switch (pb) {
        case 1: RotateTiles<1>(src, w, h, ss, dst, ds, rotation); break;
        case 2: RotateTiles<2>(src, w, h, ss, dst, ds, rotation); break;
        case 3: RotateTiles<3>(src, w, h, ss, dst, ds, rotation); break;
        case 4: RotateTiles<4>(src, w, h, ss, dst, ds, rotation); break;
        case 6: RotateTiles<6>(src, w, h, ss, dst, ds, rotation); break;
        default: RotateTiles<8>(src, w, h, ss, dst, ds, rotation); break;
    }
}

// Orientations 3, 6 and 8 are plain turns; the mirrored ones (2, 4, 5, 7)
// are rare enough to walk pixel by pixel.
void Orient(const uint8_t* src, uint32_t w, uint32_t h, uint32_t ss, uint8_t* dst, uint32_t ds,
            uint32_t orientation, uint32_t channels, uint32_t flags) {
    if (orientation < 1 || orientation > 8) ISFail(IS_ERR_PARAM, "orientation");
    const int32_t turn = orientation == 6 ? IS_ROTATE_90 : orientation == 3 ? IS_ROTATE_180 : orientation == 8 ? IS_ROTATE_270 : -1;
    if (turn >= 0) return Rotate(src, w, h, ss, dst, ds, static_cast<uint32_t>(turn), channels, flags);
    if (!src || !dst || !ISValidChannels(channels) || !w || !h) ISFail(IS_ERR_PARAM, "arguments");
    const uint32_t pb = channels * ((flags & IS_ROTATE_16BIT) ? 2 : 1);
    const CISOrient map{orientation, w, h};
    const uint32_t dw = map.OutWidth(), dh = map.OutHeight();
    const uint64_t srcRow = ISPixelRowBytes(w, pb), dstRow = ISPixelRowBytes(dw, pb);
    if (ss < srcRow || ds < dstRow) ISFail(IS_ERR_PARAM, "stride");
    const uintptr_t s0 = reinterpret_cast<uintptr_t>(src), d0 = reinterpret_cast<uintptr_t>(dst);
    if (s0 < d0 + (dh - 1) * static_cast<uint64_t>(ds) + dstRow && d0 < s0 + (h - 1) * static_cast<uint64_t>(ss) + srcRow) {
        ISFail(IS_ERR_PARAM, "overlapping buffers");
    }
    for (uint32_t y = 0; y < dh; ++y) {
        uint8_t* d = dst + static_cast<uint64_t>(y) * ds;
        if (orientation == 1) {
            std::memcpy(d, src + static_cast<uint64_t>(y) * ss, srcRow);
            continue;
        }
        for (uint32_t x = 0; x < dw; ++x, d += pb) {
            const uint64_t at = map.Source(x, y);
            std::memcpy(d, src + (at / w) * ss + (at % w) * pb, pb);
        }
    }
}

}  // namespace

extern "C" {

IS_BOOL IS40_OrientImage(const uint8_t* source, uint32_t width, uint32_t height, uint32_t sourceStride,
                         uint8_t* destination, uint32_t destStride, uint32_t orientation, uint32_t bytesPerPixel,
                         uint32_t flags) {
    return ISRunOperation("IS40_OrientImage", [&] {
        Orient(source, width, height, sourceStride, destination, destStride, orientation, bytesPerPixel, flags);
    });
}

IS_BOOL IS40_QuickRotateImage(const uint8_t* source, uint32_t width, uint32_t height, uint32_t sourceStride,
                              uint8_t* destination, uint32_t destStride, uint32_t rotation, uint32_t bytesPerPixel,
                              uint32_t flags) {
    return ISRunOperation("IS40_QuickRotateImage", [&] {
        Rotate(source, width, height, sourceStride, destination, destStride, rotation, bytesPerPixel, flags);
    });
}

}  // extern "C"
