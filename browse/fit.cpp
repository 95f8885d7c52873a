// Fitting and centring.
#include "browse/fit.h"

#include <limits>

namespace {

uint32_t AddSaturated(uint32_t a, uint32_t b) {
    return a > std::numeric_limits<uint32_t>::max() - b ? std::numeric_limits<uint32_t>::max() : a + b;
}

int32_t CenteredOffset(uint32_t size, int32_t start, uint32_t areaSize) {
    if (size >= areaSize) return 0;
    const int64_t offset = static_cast<int64_t>(start) + (areaSize - size) / 2;
    if (offset > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(offset);
}

}  // namespace

VSSize FitSize(uint32_t sw, uint32_t sh, uint32_t bw, uint32_t bh) {
    if (bw == 0 || bh == 0) return {0, 0};
    if (sw < bw && sh < bh) return {sw, sh};
    // The ratios sw / bw and sh / bh compared and applied in exact integer
    // arithmetic: in floating point 500 / (1000 / 120) truncates to 59, not 60.
    const uint64_t wide = static_cast<uint64_t>(sw) * bh, high = static_cast<uint64_t>(sh) * bw;
    // Each quotient is at most the box side, so it fits.
    if (wide > high) return {bw, static_cast<uint32_t>(static_cast<uint64_t>(sh) * bw / sw)};
    if (wide < high) return {static_cast<uint32_t>(static_cast<uint64_t>(sw) * bh / sh), bh};
    return {bw, bh};
}

VSPoint CenterIn(uint32_t w, uint32_t h, int32_t areaLeft, int32_t areaTop, uint32_t areaWidth,
                 uint32_t areaHeight) {
    return {CenteredOffset(w, areaLeft, areaWidth), CenteredOffset(h, areaTop, areaHeight)};
}

VSSize PictureArea(uint32_t clientWidth, uint32_t clientHeight, uint32_t statusBarHeight) {
    const uint64_t reserve = uint64_t{kToolbarHeight} + statusBarHeight;
    return {clientWidth, clientHeight > reserve ? static_cast<uint32_t>(clientHeight - reserve) : 0};
}

VSSize DisplayBox(bool fullScreen, VSSize pictureArea, uint32_t screenWidth, uint32_t screenHeight) {
    if (fullScreen) {
        return {AddSaturated(screenWidth, kFullScreenBoxExtra), AddSaturated(screenHeight, kFullScreenBoxExtra)};
    }
    return pictureArea;
}

VSSize FitForDisplay(uint32_t sw, uint32_t sh, VSSize box, uint32_t screenWidth, uint32_t screenHeight) {
    VSSize fit = FitSize(sw, sh, box.width, box.height);
    if (fit.width == screenWidth && fit.height == screenHeight) {
        fit.width = AddSaturated(fit.width, kScreenFitExtra);
        fit.height = AddSaturated(fit.height, kScreenFitExtra);
    }
    return fit;
}
