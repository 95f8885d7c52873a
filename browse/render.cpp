// The display's render pipeline.
#include "render.h"

#include "IS40.h"

#include <cstddef>

bool OrientationTurns(int32_t orientation) { return orientation >= 2 && orientation <= 8; }

bool OrientationSwaps(int32_t orientation) { return orientation >= 5 && orientation <= 8; }

bool Upright(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, int32_t orientation, VSRgbImage* out) {
    const bool swaps = OrientationSwaps(orientation);
    const uint32_t ow = swaps ? h : w, oh = swaps ? w : h;
    out->pixels.assign(static_cast<size_t>(ow) * oh * 3, 0);
    out->width = ow;
    out->height = oh;
    const uint32_t o = OrientationTurns(orientation) ? static_cast<uint32_t>(orientation) : 1;
    if (IS40_OrientImage(rgb, w, h, stride, out->pixels.data(), ow * 3, o, 3, 0)) return true;
    out->pixels.clear();
    out->width = out->height = 0;
    return false;
}

namespace {

bool Resize(const uint8_t* src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, uint32_t mode,
            std::vector<uint8_t>* out) {
    out->assign(static_cast<size_t>(dw) * dh * 3, 0);
    return IS40_ResizeImage(src, sw, sh, sw * 3, out->data(), dw, dh, dw * 3, 3, mode, 0) != 0;
}

}  // namespace

bool RenderPicture(const uint8_t* kept, uint32_t kw, uint32_t kh, VSSize box, uint32_t screenWidth,
                   uint32_t screenHeight, int32_t orientation, VSRgbImage* out) {
    out->pixels.clear();
    out->width = out->height = 0;
    if (!kept || kw == 0 || kh == 0) return false;
    // Fitted once, by the upright size, and resampled in the stored
    // orientation so that the turn itself is exact.
    const bool swaps = OrientationSwaps(orientation);
    const VSSize fit = FitForDisplay(swaps ? kh : kw, swaps ? kw : kh, box, screenWidth, screenHeight);
    if (fit.width == 0 || fit.height == 0) return false;
    const uint32_t fw = swaps ? fit.height : fit.width, fh = swaps ? fit.width : fit.height;
    // Shrinking reads every source pixel (area averaging), or fine detail
    // turns to moire; near 1:1 and enlarging stay bilinear.
    const bool shrinks = static_cast<uint64_t>(fw) * 3 < static_cast<uint64_t>(kw) * 2 ||
                         static_cast<uint64_t>(fh) * 3 < static_cast<uint64_t>(kh) * 2;
    std::vector<uint8_t> fitted;
    if (!Resize(kept, kw, kh, fw, fh, shrinks ? IS_RESIZE_AREA : IS_RESIZE_BILINEAR, &fitted)) return false;
    if (!OrientationTurns(orientation)) {
        out->pixels.swap(fitted);
        out->width = fw;
        out->height = fh;
        return true;
    }
    return Upright(fitted.data(), fw, fh, fw * 3, orientation, out);
}
