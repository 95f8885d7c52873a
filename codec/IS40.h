// Public interface of the IS40 image codec library.
//
// Plain functions over opaque handles. Every entry point returns 0 (null,
// false, a zero count) on failure and records an error code in the calling
// thread's state; read it back with IS40_GetLastError.
//
// This header is shared with the Win32 shell, which is compiled with other
// type rules: only fixed-width integers and char texts appear here.
//
// Buffers returned by readers and conversions are allocated with
// IS40_GlobalAlloc; the caller owns them and releases them with
// IS40_GlobalFree (never with free or delete).
#ifndef IS40_H
#define IS40_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t IS_BOOL;
typedef void* ISHANDLE;  // source or destination handle

// Error codes recorded by the library.
enum {
    IS_ERR_NONE = 0,
    IS_ERR_MEMORY = 1,
    IS_ERR_OPEN = 2,
    IS_ERR_READ = 3,
    IS_ERR_WRITE = 4,
    IS_ERR_PARAM = 5,
    IS_ERR_FORMAT = 6,
    IS_ERR_COMPRESSION = 7,
    IS_ERR_JPEG_DECODE = 9,
    IS_ERR_PNG_STRUCT = 16,
    IS_ERR_VARIANT = 17,
    IS_ERR_PALETTE = 20,
    IS_ERR_NOT_PCX = 22,
    IS_ERR_RLE_OVERRUN = 24,
    IS_ERR_DIB_BITS = 25,
    IS_ERR_DIB_DEVICE = 26,
    IS_ERR_DEPTH = 28,
    IS_ERR_TGA_TYPE = 32,
    IS_ERR_BITMAP_CREATE = 35,
    IS_ERR_HANDLE = 38,
    IS_ERR_TLA = 52
};

// File type codes of IS40_GuessFileType.
enum {
    IS_FT_UNKNOWN = 0, IS_FT_BMP = 1, IS_FT_GIF = 2, IS_FT_JPEG = 3, IS_FT_PNG = 4,
    IS_FT_PCX = 5, IS_FT_TIFF = 6, IS_FT_WMF = 7, IS_FT_EMF = 8, IS_FT_PAX = 9,
    IS_FT_PSD = 10, IS_FT_TLA = 11, IS_FT_TLAU = 12, IS_FT_WBMP = 13, IS_FT_TGA = 14,
    IS_FT_PCD_OVERVIEW = 15, IS_FT_PCD = 16, IS_FT_JP2 = 17, IS_FT_J2K = 18,
    IS_FT_OLE = 19, IS_FT_PBM = 20, IS_FT_PGM = 21, IS_FT_PPM = 22
};

// Reader layout flags.
enum {
    IS_READ_DIB = 2,     // return a packed DIB
    IS_READ_PAD_BGR = 8  // 24-bit rows padded to 4 bytes, pixels B, G, R
};

// Resolution record shared by the dimension queries and writers.
typedef struct ISResolution {
    double xRes;
    double yRes;
    uint32_t unit;
} ISResolution;

// ---- library frame -------------------------------------------------------

IS_BOOL IS40_Initialize(void);
void IS40_Shutdown(void);
uint32_t IS40_GetLastError(void);

// Allocation: one zero-filled block (flag 0x0040 is implied). Requests of
// 0x7FFDEFFF bytes or more fail. Blocks are released with IS40_GlobalFree.
void* IS40_GlobalAlloc(uint32_t flags, uint64_t bytes);
void* IS40_GlobalReAlloc(void* block, uint64_t bytes, uint32_t flags);
void* IS40_GlobalFree(void* block);  // returns null on success, like GlobalFree
uint64_t IS40_GlobalSize(const void* block);

// Maps a path given to the open functions to the name the C runtime opens.
// The Win32 shell under Wine installs one that turns DOS paths into host
// paths. Returns nonzero on success; out is zero-terminated.
typedef IS_BOOL (*ISPathMapper)(const char* path, char* out, uint32_t outSize);
void IS40_SetPathMapper(ISPathMapper mapper);

// ---- sources and destinations ------------------------------------------

ISHANDLE IS40_OpenFileSource(const char* path);
ISHANDLE IS40_OpenMemorySource(const void* data, uint32_t size);
ISHANDLE IS40_OpenFileDest(const char* path, IS_BOOL keepExisting);
IS_BOOL IS40_Seek(ISHANDLE handle, int32_t offset, uint32_t origin);
uint32_t IS40_CloseSource(ISHANDLE handle);
uint32_t IS40_CloseDest(ISHANDLE handle);

// ---- detection and generic read ------------------------------------------

uint32_t IS40_GuessFileType(ISHANDLE handle);
// mode 0: 24-bit RGB, 1: 32-bit RGBA, 2: packed DIB. flags is not used.
uint8_t* IS40_ReadImage(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t mode,
                        uint32_t flags);

// Readers of formats reached only through IS40_ReadImage.
uint8_t* IS40_ReadPNM(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadGIF(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadWBMP(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                       uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadPSD(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadTLA(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadPCD(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
uint8_t* IS40_ReadMetafile(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                           uint8_t* palette, uint32_t flags);

// ---- BMP -----------------------------------------------------------------

// height is reported as stored: negative for a top-down file.
IS_BOOL IS40_GetBMPDims(ISHANDLE handle, uint32_t* width, int32_t* height, uint32_t* bitCount,
                        ISResolution* resolution, uint32_t flags);
uint8_t* IS40_ReadBMP(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
// flags: 1 RLE8, 2 image is a packed DIB, 4 rows bottom-up, 8 pixels B, G, R,
// 0x80000000 round the stride up to 4.
uint32_t IS40_WriteBMP(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t bitCount, uint32_t rowStride, uint32_t colourCount,
                       const uint8_t* palette, const ISResolution* resolution, uint32_t flags);

// ---- PCX -----------------------------------------------------------------

IS_BOOL IS40_GetPCXDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitCount,
                        ISResolution* resolution, uint32_t flags);
uint8_t* IS40_ReadPCX(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
// flags: 1 grey palette mark, 4 rows bottom-up, 8 pixels B, G, R.
uint32_t IS40_WritePCX(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t bitCount, uint32_t rowStride, const uint8_t* palette,
                       const ISResolution* resolution, uint32_t flags);

// ---- TGA -----------------------------------------------------------------

IS_BOOL IS40_GetTGADims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitCount,
                        uint32_t flags);
uint8_t* IS40_ReadTGA(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags);
// flags: 4 rows bottom-up, 8 pixels B, G, R (, A).
uint32_t IS40_WriteTGA(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t bitCount, uint32_t rowStride, const uint8_t* palette,
                       uint32_t reserved, uint32_t flags);

#ifdef __cplusplus
}
#endif

// The other parts of the interface, one header each.
#include "codec/IS40ops.h"
#include "codec/IS40jpeg.h"
#include "codec/IS40pngtiff.h"
#include "exif/IS40exif.h"

#endif
