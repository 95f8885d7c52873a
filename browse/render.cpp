// The display's render pipeline.
#include "render.h"

#include "IS40.h"

#include <cstddef>

int32_t TurnForOrientation(int32_t orientation) {
    switch (orientation) {
    case 6: return IS_ROTATE_90;
    case 8: return IS_ROTATE_270;
    case 3: return IS_ROTATE_180;
    default: return -1;
    }
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
    const VSSize fit = FitForDisplay(kw, kh, box, screenWidth, screenHeight);
    if (fit.width == 0 || fit.height == 0) return false;
    std::vector<uint8_t> fitted;
    if (!Resize(kept, kw, kh, fit.width, fit.height, IS_RESIZE_BILINEAR, &fitted)) return false;

    const int32_t turn = TurnForOrientation(orientation);
    if (turn < 0) {
        out->pixels.swap(fitted);
        out->width = fit.width;
        out->height = fit.height;
        return true;
    }
    const bool quarter = turn != IS_ROTATE_180;
    const uint32_t tw = quarter ? fit.height : fit.width;
    const uint32_t th = quarter ? fit.width : fit.height;
    std::vector<uint8_t> turned(fitted.size());
    if (!IS40_QuickRotateImage(fitted.data(), fit.width, fit.height, fit.width * 3, turned.data(), tw * 3,
                               static_cast<uint32_t>(turn), 3, 0))
        return false;
    if (!quarter) {
        out->pixels.swap(turned);
        out->width = tw;
        out->height = th;
        return true;
    }
    const VSSize refit = FitSize(tw, th, box.width, box.height);
    if (refit.width == 0 || refit.height == 0) return false;
    if (!Resize(turned.data(), tw, th, refit.width, refit.height, IS_RESIZE_NEAREST, &out->pixels)) {
        out->pixels.clear();
        return false;
    }
    out->width = refit.width;
    out->height = refit.height;
    return true;
}
