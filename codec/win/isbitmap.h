// Device bitmaps for the Win32 shell: conversions between RGB image
// buffers and device-dependent bitmaps, over the packed-DIB conversions of
// the portable core (IS40_RGBToPackedDIB, IS40_PackedDIBToRGB).
#ifndef ISBITMAP_H
#define ISBITMAP_H

#include <windows.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// A device-dependent bitmap with the pixels of a 24-bit RGB image buffer.
// palette and dc may be null (dc null: the screen's). The caller deletes
// the bitmap with DeleteObject. Errors: 5, 1, 26 (the device cannot take
// DIBs), 35 (the bitmap could not be created).
HBITMAP IS40_RGBToHBITMAP(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride,
                          HPALETTE palette, HDC dc);

// Reads the bitmap into destination, a 24-bit RGB image buffer of the
// bitmap's width x height x 3 bytes (stride width x 3). dc must be able to
// transfer DIBs (a null dc cannot: 26); palette may be null. Errors: 26, 5,
// 17 (not a bitmap), 25 (its bits could not be read), 1.
BOOL IS40_HBITMAPToRGB(HBITMAP bitmap, HDC dc, HPALETTE palette, uint8_t* destination);

// Width and height in pixels. Errors: 5 null, 17 not a bitmap.
BOOL IS40_GetHBITMAPDimensions(HBITMAP bitmap, uint32_t* width, uint32_t* height);

#ifdef __cplusplus
}
#endif

#endif
