// Public interface of the IS40 library: Image operations: resizing, quarter turns, fills, overlays and DIB conversions.
// Included by IS40.h; fixed-width types only.
//
// Images are (pointer, width, height, row stride in bytes) with a separate
// count of channels per pixel (1, 3 or 4). With 16-bit samples each channel
// is two bytes in the machine's byte order. The caller owns every image
// buffer; only the conversions that return a new block allocate (release
// those with IS40_GlobalFree).
#ifndef IS40OPS_H
#define IS40OPS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Right and bottom are exclusive (the Windows RECT layout).
typedef struct ISRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} ISRect;

// Resampling modes of IS40_ResizeImage.
enum {
    IS_RESIZE_BOX_FILTER = 0,
    IS_RESIZE_TRIANGLE = 1,
    IS_RESIZE_HAMMING = 2,
    IS_RESIZE_GAUSSIAN = 3,
    IS_RESIZE_BELL = 4,
    IS_RESIZE_BSPLINE = 5,
    IS_RESIZE_HERMITE = 6,
    IS_RESIZE_BSPLINE_2 = 7,
    IS_RESIZE_LANCZOS3 = 8,
    IS_RESIZE_MITCHELL = 9,
    IS_RESIZE_SINC = 10,
    IS_RESIZE_HERMITE_2 = 11,
    IS_RESIZE_HANNING = 12,
    IS_RESIZE_CATMULL_ROM = 13,
    IS_RESIZE_BOX_REDUCE = 14,   // shrinking only
    IS_RESIZE_AREA = 15,         // box reduction for whole ratios, else area averaging
    IS_RESIZE_BILINEAR = 16,
    IS_RESIZE_BICUBIC = 17,      // cubic interpolation at the bilinear sample positions
    IS_RESIZE_NEAREST = 18
};

enum {
    IS_RESIZE_16BIT = 1,        // IS40_ResizeImage and IS40_OverlayImage flags bit 0
    IS_ROTATE_16BIT = 0x200,    // IS40_QuickRotateImage flags
    IS_FILL_BGR = 1             // IS40_FillSolidRect flags bit 0
};

// Rotations of IS40_QuickRotateImage.
enum { IS_ROTATE_90 = 0, IS_ROTATE_180 = 1, IS_ROTATE_270 = 2 };

// Overlay combining rules. At opacity 1 the destination becomes f(d, o);
// otherwise trunc(f(d, o) x opacity) + trunc(d x (1 - opacity)).
enum {
    IS_OVERLAY_NORMAL = 0,      // f = o
    IS_OVERLAY_AND = 2,         // f = d AND o
    IS_OVERLAY_OR = 3,          // f = d OR o
    IS_OVERLAY_XOR = 4,         // f = d XOR o
    IS_OVERLAY_ADD = 5,         // f = min(d + o, max)
    IS_OVERLAY_SUBTRACT = 6,    // f = max(d - o, 0)
    IS_OVERLAY_DARKEN = 7,      // f = min(d, o)
    IS_OVERLAY_LIGHTEN = 8,     // f = max(d, o)
    IS_OVERLAY_DIFFERENCE = 9,  // f = |d - o|
    IS_OVERLAY_MULTIPLY = 10,   // f = d x o / max, truncated
    IS_OVERLAY_SCREEN = 11      // f = max - (max - d)(max - o) / max, truncated
};

// Resamples source into destination (both caller-allocated). bytesPerPixel
// is the channel count (1, 3 or 4); flags IS_RESIZE_16BIT for 16-bit samples.
// Errors: 5 bad argument or mode, 1 out of memory.
IS_BOOL IS40_ResizeImage(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight,
                         uint32_t sourceStride, uint8_t* destination, uint32_t destWidth,
                         uint32_t destHeight, uint32_t destStride, uint32_t bytesPerPixel,
                         uint32_t mode, uint32_t flags);

// Turns by a quarter or half turn. For IS_ROTATE_90 and IS_ROTATE_270 the
// destination is height pixels wide and width pixels tall. Source and
// destination must not overlap (error 5).
IS_BOOL IS40_QuickRotateImage(const uint8_t* source, uint32_t width, uint32_t height,
                              uint32_t sourceStride, uint8_t* destination, uint32_t destStride,
                              uint32_t rotation, uint32_t bytesPerPixel, uint32_t flags);

// Makes a picture stored with an EXIF Orientation (1 to 8) upright: the
// turns of 3, 6 and 8 and the mirrored forms of 2, 4, 5 and 7. For 5 to 8
// the destination is height pixels wide and width pixels tall. flags as
// for IS40_QuickRotateImage. Errors: 5 bad argument or overlapping buffers.
IS_BOOL IS40_OrientImage(const uint8_t* source, uint32_t width, uint32_t height,
                         uint32_t sourceStride, uint8_t* destination, uint32_t destStride,
                         uint32_t orientation, uint32_t bytesPerPixel, uint32_t flags);

// Fills the rectangle, clipped to the image, with colour 0xAABBGGRR.
IS_BOOL IS40_FillSolidRect(uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel,
                           uint32_t stride, const ISRect* rect, uint32_t colour, uint32_t flags);

// Lays overlay onto destination with its top-left corner at (x, y),
// clipped to the destination. opacity is limited to 0 ... 1; parameter is
// not used by the implemented modes. Unimplemented modes: error 5.
IS_BOOL IS40_OverlayImage(uint8_t* destination, uint32_t destWidth, uint32_t destHeight,
                          uint32_t bytesPerPixel, uint32_t destStride, const uint8_t* overlay,
                          uint32_t overlayWidth, uint32_t overlayHeight, uint32_t overlayStride,
                          int32_t x, int32_t y, double opacity, double parameter, uint32_t mode,
                          uint32_t flags);

// ---- packed DIBs: the pixel contract of the display bitmaps ---------------

// New packed DIB (40-byte header, colour table, bottom-up rows padded to 4)
// from an image. bitCount 24, 32 and 16 take 24-bit R, G, B pixels and store
// B, G, R / B, G, R, 0 / 5-5-5 (each channel's top 5 bits). bitCount 1, 4
// and 8 take one index byte per pixel, below 1 << bitCount, and palette
// (1 << bitCount entries of B, G, R, reserved) becomes the colour table.
// *dibBytes (optional) receives the block's size. Errors: 5, 1.
uint8_t* IS40_RGBToPackedDIB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride,
                             uint32_t bitCount, const uint8_t* palette, uint32_t* dibBytes);

// Converts a packed DIB into a 24-bit RGB buffer of destWidth x destHeight,
// which must be the DIB's size (error 5 otherwise). Indexes go through the
// colour table, 16-bit pixels are 5-5-5 scaled by 255 / 31 or, with bit
// fields, masked and shifted; 32-bit pixels drop their fourth byte; the
// rows are read as the BMP reader reads a file's. Errors: 5, 1, 17 for a DIB
// that is inconsistent or of a kind not handled.
IS_BOOL IS40_PackedDIBToRGB(const uint8_t* dib, uint32_t dibBytes, uint8_t* destination,
                            uint32_t destStride, uint32_t destWidth, uint32_t destHeight);

#ifdef __cplusplus
}
#endif

#endif
