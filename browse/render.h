// The render pipeline of the picture display on RGB buffers: fit into the
// box, resample, turn upright from the EXIF orientation and fit again.
#ifndef VS_BROWSE_RENDER_H
#define VS_BROWSE_RENDER_H

#include "fit.h"

#include <cstdint>
#include <vector>

// The background of the picture area and the thumbnails' key colour, as a
// Windows colour value (0x00BBGGRR).
constexpr uint32_t kBackgroundColour = 0xB48B5C;

// EXIF orientation tag and the values that turn a picture.
constexpr uint32_t kOrientationTag = 274;

struct VSRgbImage {
    std::vector<uint8_t> pixels;  // rows top first, R, G, B, no padding
    uint32_t width = 0;
    uint32_t height = 0;
};

// The quarter or half turn for an orientation value: the rotation of
// IS40_QuickRotateImage (0 clockwise, 1 half, 2 counter-clockwise), or -1.
int32_t TurnForOrientation(int32_t orientation);

// Renders kept (kw x kh) for a box: fitted (growing by 2 when the fit is
// exactly the screen), resampled bilinearly, then for orientation 6 and 8
// turned and fitted again by nearest neighbour, for 3 turned in place.
// Pass orientation 0 when auto-rotation is off. False, and out empty, when
// a step fails or the box is empty.
bool RenderPicture(const uint8_t* kept, uint32_t kw, uint32_t kh, VSSize box, uint32_t screenWidth,
                   uint32_t screenHeight, int32_t orientation, VSRgbImage* out);

#endif
