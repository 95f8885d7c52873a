// Public interface of the IS40 library: PNG and TIFF reading and writing.
// Included by IS40.h; fixed-width types only.
#ifndef IS40PNGTIFF_H
#define IS40PNGTIFF_H

#include <stdint.h>

#include "codec/IS40.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- PNG -----------------------------------------------------------------

// Header values of a PNG file. bitDepth is bits per sample, colourType and
// interlace are the IHDR values. index is always -1; red, green, blue and
// grey are the tRNS colour values, -1 each without one. resolution (may be
// null) receives the pHYs values and unit (0 unknown, 1 metre), or zeros.
IS_BOOL IS40_GetPNGDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitDepth,
                        uint32_t* colourType, uint32_t* interlace, int32_t* index, int32_t* red,
                        int32_t* green, int32_t* blue, int32_t* grey, ISResolution* resolution,
                        uint32_t flags);

// bitDepth: 1 or 8 indexes (palette gets 256 entries B, G, R, alpha);
// 16 grey + alpha 8 + 8 (flag 4: one 16-bit grey sample); 24 R, G, B;
// 32 R, G, B, A; 48 and 64 the same with 16-bit samples. 16-bit samples are
// little-endian. flags: 2 packed DIB (1, 8, 24, 32 only), 4 see above,
// 8 rows padded to 4 bytes with pixels B, G, R (, A).
uint8_t* IS40_ReadPNG(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);

// PNG write flags.
enum {
    IS_PNG_INTERLACE = 1,  // Adam7
    IS_PNG_PALETTE_ALPHA = 2,  // palette entries' fourth bytes become tRNS
    IS_PNG_BOTTOM_UP = 4,
    IS_PNG_BGR = 8,
    IS_PNG_NO_TIME = 16
};

// bitDepth and colourType are PNG's (0 grey, 2 RGB, 3 palette, 4 grey +
// alpha, 6 RGBA); 16-bit samples are taken little-endian. paletteCount
// entries of palette (B, G, R, alpha) become PLTE. gamma > 0 writes gAMA.
// Returns the destination's size, or 0.
uint32_t IS40_WritePNG(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t rowStride, uint32_t bitDepth, uint32_t paletteCount,
                       const uint8_t* palette, uint32_t colourType, double gamma,
                       const ISResolution* resolution, uint32_t flags);

// ---- TIFF ----------------------------------------------------------------

// page is the directory number, 0 = first. bitCount = BitsPerSample x
// SamplesPerPixel; resolution (may be null) gets XResolution and
// YResolution cut to whole numbers and ResolutionUnit (0 when absent).
IS_BOOL IS40_GetTIFFDims(ISHANDLE handle, uint32_t page, uint32_t* width, uint32_t* height,
                         uint32_t* bitCount, ISResolution* resolution, uint32_t flags);

// TIFF read flags.
enum {
    IS_TIFF_IGNORE_ORIENTATION = 1
};

// bitDepth: 1 or 8 indexes (palette gets 256 entries B, G, R, 0); 24
// R, G, B; 32 R, G, B, A (straight alpha). flags: 1 ignore the Orientation
// tag, 2 packed DIB, 8 rows padded to 4 bytes with pixels B, G, R.
uint8_t* IS40_ReadTIFF(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                       uint8_t* palette, uint32_t page, uint32_t flags);

// TIFF write flags.
enum {
    IS_TIFF_CMYK = 16,       // 32-bit pixels are C, M, Y, K
    IS_TIFF_PREDICTOR = 64,  // horizontal differencing with LZW and Deflate
    IS_TIFF_TILES = 0x80
};

// bitCount: 1, 4, 8 (indexes, palette of B, G, R, reserved entries
// required), 16 (16-bit grey, little-endian), 24 (R, G, B), 32 (R, G, B, A
// with straight alpha, or CMYK). compression is a TIFF Compression value
// (1 none). The argument after it is the reserved slot, which carries an
// optional resolution record (null: 1 x 1, unit none). Returns the
// destination's size, or 0.
uint32_t IS40_WriteTIFF(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                        uint32_t bitCount, uint32_t rowStride, const uint8_t* palette,
                        uint32_t compression, const ISResolution* resolution, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif
