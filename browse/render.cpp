// The display's render pipeline.
#include "browse/render.h"

#include "codec/IS40.h"

#include <algorithm>
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

bool Resize(const uint8_t* src, uint32_t sw, uint32_t sh, uint32_t stride, uint32_t dw, uint32_t dh, uint32_t mode,
            std::vector<uint8_t>* out) {
    out->assign(static_cast<size_t>(dw) * dh * 3, 0);
    return IS40_ResizeImage(src, sw, sh, stride, out->data(), dw, dh, dw * 3, 3, mode, 0) != 0;
}

}  // namespace

bool ScaleForDisplay(const uint8_t* src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
                     std::vector<uint8_t>* out, uint32_t stride) {
    if (stride == 0) stride = sw * 3;
    const bool shrinks = static_cast<uint64_t>(dw) * 3 < static_cast<uint64_t>(sw) * 2 ||
                         static_cast<uint64_t>(dh) * 3 < static_cast<uint64_t>(sh) * 2;
    if (!shrinks || dw == 0 || dh == 0) return Resize(src, sw, sh, stride, dw, dh, IS_RESIZE_BILINEAR, out);
    // The Catmull-Rom, widened over the source area, keeps fine detail from
    // turning to moire without blurring edges. Its cost grows with the
    // ratio, so strong reductions first take whole boxes down to two or
    // three times the fitted size, which is exact and cheap.
    const uint32_t k = std::min(sw / dw, sh / dh) / 2;
    if (k < 3) return Resize(src, sw, sh, stride, dw, dh, IS_RESIZE_CATMULL_ROM, out);
    const uint32_t bw = sw / k, bh = sh / k;
    std::vector<uint8_t> boxed;
    return Resize(src, bw * k, bh * k, stride, bw, bh, IS_RESIZE_BOX_REDUCE, &boxed) &&
           Resize(boxed.data(), bw, bh, bw * 3, dw, dh, IS_RESIZE_CATMULL_ROM, out);
}

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
    std::vector<uint8_t> fitted;
    if (!ScaleForDisplay(kept, kw, kh, fw, fh, &fitted)) return false;
    if (!OrientationTurns(orientation)) {
        out->pixels.swap(fitted);
        out->width = fw;
        out->height = fh;
        return true;
    }
    return Upright(fitted.data(), fw, fh, fw * 3, orientation, out);
}
