// Laying one image over another with an opacity and a combining rule.
#include "codec/isframe.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

template <typename T>
inline uint32_t Combine(uint32_t mode, uint32_t d, uint32_t o, uint32_t maxval) {
    switch (mode) {
        case 0: return o;
        case 2: return d & o;
        case 3: return d | o;
        case 4: return d ^ o;
        case 5: return std::min(d + o, maxval);
        case 6: return d > o ? d - o : 0;
        case 7: return std::min(d, o);
        case 8: return std::max(d, o);
        case 9: return d > o ? d - o : o - d;
        case 10: return d * o / maxval;
        default: return maxval - (maxval - d) * (maxval - o) / maxval;  // 11
    }
}

template <typename T>
void OverlayBlend(uint8_t* dst, uint64_t ds, const uint8_t* ovl, uint64_t os, int64_t x0, int64_t x1, int64_t y0,
                  int64_t y1, int64_t x, int64_t y, uint32_t ch, double opacity, uint32_t mode) {
    const uint32_t maxval = sizeof(T) == 2 ? 65535u : 255u;
    const bool full = opacity >= 1.0;
    CISTable<T> ta(maxval + 1), tb(maxval + 1);
    if (!full) {
        for (uint32_t v = 0; v <= maxval; ++v) {
            ta[v] = static_cast<T>(std::trunc(v * opacity));
            tb[v] = static_cast<T>(std::trunc(v * (1.0 - opacity)));
        }
    }
    const uint64_t samples = static_cast<uint64_t>(x1 - x0) * ch;
    for (int64_t v = y0; v < y1; ++v) {
        uint8_t* d = dst + v * ds + static_cast<uint64_t>(x0) * ch * sizeof(T);
        const uint8_t* o = ovl + (v - y) * os + static_cast<uint64_t>(x0 - x) * ch * sizeof(T);
        for (uint64_t k = 0; k < samples; ++k) {
            const uint32_t dv = ISLoadSample<T>(d + k * sizeof(T));
            const uint32_t ov = ISLoadSample<T>(o + k * sizeof(T));
            const uint32_t f = Combine<T>(mode, dv, ov, maxval);
            const uint32_t out = full ? f : static_cast<uint32_t>(ta[f]) + tb[dv];
            ISStoreSample<T>(d + k * sizeof(T), static_cast<T>(out));
        }
    }
}

void Overlay(uint8_t* dst, uint32_t dw, uint32_t dh, uint32_t ch, uint32_t ds, const uint8_t* ovl, uint32_t ow,
             uint32_t oh, uint32_t os, int32_t x, int32_t y, double opacity, uint32_t mode, uint32_t flags) {
    if (!dst || !ovl || dst == ovl || !ISValidChannels(ch)) ISFail(IS_ERR_PARAM, "arguments");
    if (mode == 1 || mode > 11) ISFail(IS_ERR_PARAM, "mode");
    if (std::isnan(opacity)) ISFail(IS_ERR_PARAM, "opacity");
    const uint32_t sb = (flags & IS_RESIZE_16BIT) ? 2 : 1;
    if ((dh && ds < ISPixelRowBytes(dw, ch * sb)) || (oh && os < ISPixelRowBytes(ow, ch * sb))) ISFail(IS_ERR_PARAM, "stride");
    const int64_t x0 = std::min<int64_t>(dw, std::max<int64_t>(0, x));
    const int64_t x1 = std::min<int64_t>(dw, std::max<int64_t>(0, static_cast<int64_t>(x) + ow));
    const int64_t y0 = std::min<int64_t>(dh, std::max<int64_t>(0, y));
    const int64_t y1 = std::min<int64_t>(dh, std::max<int64_t>(0, static_cast<int64_t>(y) + oh));
    if (x0 >= x1 || y0 >= y1) return;
    opacity = std::min(1.0, std::max(0.0, opacity));

    if (mode == 0 && opacity == 0.0) return;
    if (mode == 0 && opacity == 1.0) {
        const uint64_t bytes = static_cast<uint64_t>(x1 - x0) * ch * sb;
        for (int64_t v = y0; v < y1; ++v) {
            std::memcpy(dst + v * static_cast<uint64_t>(ds) + static_cast<uint64_t>(x0) * ch * sb,
                        ovl + (v - y) * static_cast<uint64_t>(os) + static_cast<uint64_t>(x0 - x) * ch * sb, bytes);
        }
        return;
    }
    if (sb == 2)
        OverlayBlend<uint16_t>(dst, ds, ovl, os, x0, x1, y0, y1, x, y, ch, opacity, mode);
    else
        OverlayBlend<uint8_t>(dst, ds, ovl, os, x0, x1, y0, y1, x, y, ch, opacity, mode);
}

}  // namespace

extern "C" {

IS_BOOL IS40_OverlayImage(uint8_t* destination, uint32_t destWidth, uint32_t destHeight, uint32_t bytesPerPixel,
                          uint32_t destStride, const uint8_t* overlay, uint32_t overlayWidth, uint32_t overlayHeight,
                          uint32_t overlayStride, int32_t x, int32_t y, double opacity, double /*parameter*/,
                          uint32_t mode, uint32_t flags) {
    return ISRunOperation("IS40_OverlayImage", [&] {
        Overlay(destination, destWidth, destHeight, bytesPerPixel, destStride, overlay, overlayWidth, overlayHeight,
                overlayStride, x, y, opacity, mode, flags);
    });
}

}  // extern "C"
