// Public interface of the IS40 library: JPEG reading and writing.
// Included by IS40.h; fixed-width types only.
#ifndef IS40JPEG_H
#define IS40JPEG_H

#include <stdint.h>

#include "codec/IS40.h"

#ifdef __cplusplus
extern "C" {
#endif

// IS40_ReadJPG flags.
enum {
    IS_JPG_READ_RAW_CMYK = 1,   // CMYK / YCCK delivered as decoded, 32 bits
    IS_JPG_READ_DIB = 2,        // packed DIB
    IS_JPG_READ_YCBCR = 4,      // three-component YCbCr pictures without colour conversion
    IS_JPG_READ_PAD_BGR = 8,    // rows padded to 4 bytes, 24-bit pixels B, G, R
    IS_JPG_READ_GIVE_BACK = 16  // leave the source just after the last byte consumed
};

// IS40_WriteJPG flags.
enum {
    IS_JPG_WRITE_PROGRESSIVE = 1,
    IS_JPG_WRITE_YCCK = 2,      // 32-bit input is YCCK, not CMYK
    IS_JPG_WRITE_BOTTOM_UP = 4,
    IS_JPG_WRITE_BGR = 8,       // 24-bit input pixels B, G, R
    IS_JPG_WRITE_YCBCR = 16,    // 24-bit input is Y, Cb, Cr
    IS_JPG_WRITE_NO_JFIF = 32   // no APP0 JFIF segment
};

// Coding flags of IS40_GetJPGDims.
enum {
    IS_JPG_CODING_PROGRESSIVE = 1,
    IS_JPG_CODING_ARITHMETIC = 2
};

// bitDepth 8 (grey), 24 (R, G, B) or 32 (CMYK / YCCK with flag 1). The
// picture is scaled by the calling thread's DCT scale factors; width and
// height receive the decoded size.
uint8_t* IS40_ReadJPG(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint32_t flags);

// A rectangle of a picture: its top-left pixel and size.
typedef struct ISRegion {
    uint32_t left;
    uint32_t top;
    uint32_t width;
    uint32_t height;
} ISRegion;

// The pixels of region of the picture IS40_ReadJPG would give (at the
// calling thread's DCT scale, in its coordinates), cut to the picture;
// width and height receive the size given. Decoding stops after the
// region's last row (a progressive file is still read whole), and pixels
// are made for its columns alone. A region of no size or beginning outside
// the picture fails with error 5.
// IS_JPG_READ_GIVE_BACK is ignored: the source is left where reading stopped.
uint8_t* IS40_ReadJPGRegion(ISHANDLE handle, const ISRegion* region, uint32_t* width, uint32_t* height,
                            uint32_t bitDepth, uint32_t flags);

// Full-size dimensions without decoding. bitDepth: 8 x default output
// components; colourSpace: the file's colour space (0 unknown, 1 grey, 2 RGB,
// 3 YCbCr, 4 CMYK, 5 YCCK); codingFlags: IS_JPG_CODING_*. bitDepth,
// colourSpace, codingFlags and resolution may be null. resolution gets the
// JFIF densities and unit (0 none, 1 per inch, 2 per centimetre).
IS_BOOL IS40_GetJPGDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitDepth,
                        uint32_t* colourSpace, uint32_t* codingFlags, ISResolution* resolution,
                        uint32_t flags);

// bitDepth 8 (grey), 24 (R, G, B) or 32 (CMYK / YCCK); quality 1 to 100.
// Returns the destination's size after writing, or 0.
uint32_t IS40_WriteJPG(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t bitDepth, uint32_t rowStride, uint32_t quality,
                       const ISResolution* resolution, uint32_t flags);

// Decode scale of the calling thread: 1/8 when denominator >= 8 x
// numerator, else 1/4, 1/2 or 1/1 by the same test.
IS_BOOL IS40_SetJPGDCTScaleFactors(uint32_t numerator, uint32_t denominator);

// Nothing adds output markers, so written files carry none and there is
// nothing to clear; always nonzero.
IS_BOOL IS40_ClearJPGOutputMarkers(void);

#ifdef __cplusplus
}
#endif

#endif
