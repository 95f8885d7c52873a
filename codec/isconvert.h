// Pixel layout conversions shared by the readers and the generic reader.
#ifndef ISCONVERT_H
#define ISCONVERT_H

#include <cstdint>

// New 24-bit RGB buffer from 8-bit indexes through a 256-entry B, G, R,
// reserved palette; null when out of memory.
uint8_t* ISIndexedToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride,
                        const uint8_t* palette);

// New 24-bit RGB buffer from a 1-bit image (most significant bit first),
// 0 black and 1 white.
uint8_t* ISBitsToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride);

// New 32-bit RGBA buffer from a 24-bit one, alpha 255.
uint8_t* ISWidenToRGBA(const uint8_t* image, uint32_t width, uint32_t height);

// New packed DIB (40-byte header, bottom-up B, G, R rows padded to 4)
// from a 24-bit RGB buffer; null when out of memory.
uint8_t* ISRGBToPackedDIB24(const uint8_t* image, uint32_t width, uint32_t height);

// Writes a 40-byte BITMAPINFOHEADER for an uncompressed, bottom-up DIB.
void ISPutDibHeader(uint8_t* header, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t imageSize,
                    uint32_t xPelsPerMetre, uint32_t yPelsPerMetre, uint32_t colours);

#endif
