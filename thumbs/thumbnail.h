// The 160 x 120 thumbnails of the thumbnail view, made from RGB buffers:
// fitted and centred on a frame colour, laid on unscaled, or stretched.
// Pure functions over the codec library's image operations.
#ifndef VS_THUMBS_THUMBNAIL_H
#define VS_THUMBS_THUMBNAIL_H

#include "browse/render.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kThumbWidth = 160;
constexpr uint32_t kThumbHeight = 120;
constexpr uint32_t kThumbStride = kThumbWidth * 3;                // 480
constexpr uint32_t kThumbBytes = kThumbStride * kThumbHeight;    // 57,600
// The frame of the platform's thumbnails; the others' is kBackgroundColour.
constexpr uint32_t kThumbWhite = 0xFFFFFF;

// A canvas of kThumbBytes: rows top first, R, G, B.
using VSThumbCanvas = std::vector<uint8_t>;

// Where on the canvas the picture lies; the rest is frame, which the view
// leaves clear (a key colour would also clear the picture's own pixels of
// that colour).
struct VSThumbArea {
    uint32_t x = 0, y = 0, width = kThumbWidth, height = kThumbHeight;
};

// Fits w x h into the canvas without enlarging (box reduction), centred on
// frameColour. False, canvas empty, when the input is empty or a step fails.
bool FitThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, uint32_t frameColour,
                  VSThumbCanvas* canvas, VSThumbArea* area = nullptr);

// An EXIF thumbnail: exactly 160 x 120 is taken as it is; any other size is
// laid on unscaled at the centring offsets on the background colour (a
// larger one from the top-left corner, cut at the canvas edges).
bool PlaceThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, VSThumbCanvas* canvas,
                    VSThumbArea* area = nullptr);

// Resamples to exactly 160 x 120, nearest neighbour, the aspect ratio not kept.
bool StretchThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, VSThumbCanvas* canvas);

// A thumbnail handed over by the platform's shell, re-made for the view:
// portrait is fitted onto white; landscape smaller than 160 x 120 is
// refused (false); landscape made upright by its EXIF orientation (2 to 8)
// is fitted onto white, otherwise it is stretched.
bool ShellThumbnail(const uint8_t* rgb, uint32_t w, uint32_t h, uint32_t stride, int32_t orientation,
                    VSThumbCanvas* canvas);

class VSLoaderHost;

enum VSThumbWay : uint32_t { kThumbNone = 0, kThumbFromExif = 1, kThumbFromPicture = 2 };

// The view's own thumbnail of a picture file: its EXIF thumbnail placed on
// the background colour, else the whole picture decoded through ImageLoader
// (whose host reports a read failure) and fitted onto it. With
// autoRotate either is first made upright by the picture's EXIF orientation
// (a turned EXIF thumbnail is fitted, not placed). Returns the way that gave
// the canvas, kThumbNone (canvas empty) when neither did.
VSThumbWay FileThumbnail(const std::string& path, bool autoRotate, VSLoaderHost& host, VSThumbCanvas* canvas,
                         VSThumbArea* area = nullptr);

#endif
