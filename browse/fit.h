// Fitting a picture into a box without enlarging it, and centring it.
// One rule for the display and the thumbnails.
#ifndef VS_BROWSE_FIT_H
#define VS_BROWSE_FIT_H

#include <cstdint>

struct VSSize {
    uint32_t width;
    uint32_t height;
};

inline bool operator==(const VSSize& a, const VSSize& b) {
    return a.width == b.width && a.height == b.height;
}
inline bool operator!=(const VSSize& a, const VSSize& b) { return !(a == b); }

struct VSPoint {
    int32_t x;
    int32_t y;
};

inline bool operator==(const VSPoint& a, const VSPoint& b) { return a.x == b.x && a.y == b.y; }
inline bool operator!=(const VSPoint& a, const VSPoint& b) { return !(a == b); }

// Height of the toolbar above the picture area.
constexpr uint32_t kToolbarHeight = 48;
// Added to the screen size to form the full-screen box.
constexpr uint32_t kFullScreenBoxExtra = 4;
// Added to a fitted size that equals the screen size exactly.
constexpr uint32_t kScreenFitExtra = 2;

// The source size fitted into bw x bh, keeping the aspect ratio, never
// enlarged; a picture smaller than the box in both directions keeps its
// size. An empty box gives {0, 0}.
VSSize FitSize(uint32_t sw, uint32_t sh, uint32_t bw, uint32_t bh);

// Top-left corner of a w x h bitmap centred in the area. Along an axis
// where the bitmap is not smaller than the area the offset is 0.
VSPoint CenterIn(uint32_t w, uint32_t h, int32_t areaLeft, int32_t areaTop, uint32_t areaWidth,
                 uint32_t areaHeight);

// The client area less the toolbar and the status bar (its real height:
// it follows the system font).
VSSize PictureArea(uint32_t clientWidth, uint32_t clientHeight, uint32_t statusBarHeight);

// The box a picture is fitted into: the picture area, in full screen the
// screen plus 4.
VSSize DisplayBox(bool fullScreen, VSSize pictureArea, uint32_t screenWidth, uint32_t screenHeight);

// FitSize into box; a fit of exactly the screen size grows by 2 each way
// so that no frame line shows at the screen edges.
VSSize FitForDisplay(uint32_t sw, uint32_t sh, VSSize box, uint32_t screenWidth, uint32_t screenHeight);

#endif
