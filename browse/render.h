// The render pipeline of the picture display on RGB buffers: fit into the
// box, resample, make upright from the EXIF orientation.
#ifndef VS_BROWSE_RENDER_H
#define VS_BROWSE_RENDER_H

#include "browse/fit.h"

#include <cstdint>
#include <vector>

// The background of the picture area and the thumbnails' key colour, as a
// Windows colour value (0x00BBGGRR).
constexpr uint32_t kBackgroundColour = 0xB48B5C;

// EXIF orientation tag.
constexpr uint32_t kOrientationTag = 274;

struct VSRgbImage {
    std::vector<uint8_t> pixels;  // rows top first, R, G, B, no padding
    uint32_t width = 0;
    uint32_t height = 0;
};

// True for the orientations (2 to 8) that change the picture at all.
bool OrientationTurns(int32_t orientation);
// True for the orientations (5 to 8) whose upright picture is turned a
// quarter, so that width and height trade places.
bool OrientationSwaps(int32_t orientation);

// The picture (rgb, R, G, B rows of stride bytes) made upright from its
// EXIF orientation: turned and mirrored as 2 to 8 say; other values copy.
bool Upright(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, int32_t orientation, VSRgbImage* out);

// src (sw x sh, R, G, B rows of stride bytes, 0 for none over sw x 3)
// resampled to dw x dh for the display: filtered over the whole source area
// when shrinking below two thirds, bilinear near 1:1 and when enlarging.
bool ScaleForDisplay(const uint8_t* src, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh,
                     std::vector<uint8_t>* out, uint32_t stride = 0);

// Renders kept (kw x kh) for a box: fitted once by its upright size
// (growing by 2 when the fit is exactly the screen), resampled by
// ScaleForDisplay, then made upright from the EXIF orientation. Pass
// orientation 0 when auto-rotation is off. False, and out empty, when a
// step fails or the box is empty.
bool RenderPicture(const uint8_t* kept, uint32_t kw, uint32_t kh, VSSize box, uint32_t screenWidth,
                   uint32_t screenHeight, int32_t orientation, VSRgbImage* out);

#endif
