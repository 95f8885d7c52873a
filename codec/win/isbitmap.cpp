// Device bitmaps: thin GDI wrappers over the packed-DIB conversions of the
// core. The core owns the pixel contract (bottom-up B, G, R rows padded to
// 4 bytes, the row conversions at every bit depth); this file only moves
// DIBs in and out of GDI.
//
// The frame header comes before windows.h so that its standard headers
// never see the min and max macros.
#include "codec/isframe.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "codec/win/isbitmap.h"

#include <cstring>

namespace {

// A logical palette of the 256 system palette entries, for palette devices.
HPALETTE SystemPalette(HDC dc) {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } lp = {};
    lp.version = 0x300;
    lp.count = 256;
    if (GetSystemPaletteEntries(dc, 0, 256, lp.entries) == 0) return nullptr;
    return CreatePalette(reinterpret_cast<LOGPALETTE*>(&lp));
}

// Selects and realises a palette for the scope, restoring the old one.
class CISPaletteScope {
public:
    CISPaletteScope(HDC dc, HPALETTE palette) : m_dc(dc) {
        if (palette) {
            m_old = SelectPalette(dc, palette, FALSE);
            RealizePalette(dc);
        }
    }
    ~CISPaletteScope() {
        if (m_old) SelectPalette(m_dc, m_old, FALSE);
    }
    CISPaletteScope(const CISPaletteScope&) = delete;
    CISPaletteScope& operator=(const CISPaletteScope&) = delete;

private:
    HDC m_dc;
    HPALETTE m_old = nullptr;
};

uint32_t DibBitCount(uint32_t bits) {
    if (bits <= 1) return 1;
    if (bits <= 4) return 4;
    if (bits <= 8) return 8;
    if (bits <= 16) return 16;
    if (bits <= 24) return 24;
    return 32;
}

uint32_t BitmapToRGB(HBITMAP bitmap, HDC dc, HPALETTE palette, uint8_t* destination) {
    if (!dc) return IS_ERR_DIB_DEVICE;
    const int caps = GetDeviceCaps(dc, RASTERCAPS);
    if (!(caps & RC_DI_BITMAP)) return IS_ERR_DIB_DEVICE;
    if (!destination || !bitmap) return IS_ERR_PARAM;
    BITMAP bm;
    if (GetObjectType(bitmap) != OBJ_BITMAP || GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm) return IS_ERR_VARIANT;
    if (bm.bmWidth < 1 || bm.bmHeight < 1) return IS_ERR_VARIANT;

    HPALETTE own = nullptr;
    if (!palette && (caps & RC_PALETTE)) palette = own = SystemPalette(dc);
    uint32_t code = IS_ERR_NONE;
    void* block = nullptr;
    {
        CISPaletteScope scope(dc, palette);
        const uint32_t bits = DibBitCount(static_cast<uint32_t>(bm.bmPlanes) * bm.bmBitsPixel);
        const uint32_t colours = bits <= 8 ? 1u << bits : 0;
        // Room for the header, a full colour table or the three masks that
        // GDI may hand back with bit fields.
        const uint64_t headRoom = kISDibHeaderBytes + (colours ? 4ull * colours : kISDibMaskBytes);
        const uint64_t width = static_cast<uint64_t>(bm.bmWidth), height = static_cast<uint64_t>(bm.bmHeight);
        uint64_t computed = 0;
        block = IS40_GlobalAlloc(kISZeroInit, headRoom);
        if (!block) {
            code = IS_ERR_MEMORY;
        } else {
            auto* info = static_cast<BITMAPINFO*>(block);
            BITMAPINFOHEADER& h = info->bmiHeader;
            h.biSize = kISDibHeaderBytes;
            h.biWidth = bm.bmWidth;
            h.biHeight = bm.bmHeight;
            h.biPlanes = 1;
            h.biBitCount = static_cast<WORD>(bits);
            h.biCompression = BI_RGB;
            if (!GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), nullptr, info, DIB_RGB_COLORS)) {
                code = IS_ERR_DIB_BITS;
            } else if (!ISMulSize(ISDibRowBytes(width, bits), height, &computed)) {
                code = IS_ERR_MEMORY;
            }
        }
        if (code == IS_ERR_NONE) {
            auto* h = static_cast<BITMAPINFOHEADER*>(block);
            // The layout the core reads: masks only with bit fields, the
            // full table for index pictures, nothing else.
            const bool fields = h->biCompression == BI_BITFIELDS;
            h->biClrUsed = 0;
            h->biBitCount = static_cast<WORD>(bits);
            h->biHeight = bm.bmHeight;
            const uint64_t offset = kISDibHeaderBytes + (fields ? kISDibMaskBytes : 0) + 4ull * colours;
            const uint64_t image = h->biSizeImage > computed ? h->biSizeImage : computed;
            uint64_t total;
            void* grown = nullptr;
            if (offset > headRoom || !ISMulSize(offset + image, 1, &total)) {
                code = IS_ERR_VARIANT;
            } else if (!(grown = IS40_GlobalReAlloc(block, total, kISMoveable))) {
                code = IS_ERR_MEMORY;
            } else {
                block = grown;
                auto* info = static_cast<BITMAPINFO*>(block);
                uint8_t* pixels = static_cast<uint8_t*>(block) + offset;
                if (!GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels, info, DIB_RGB_COLORS)) {
                    code = IS_ERR_DIB_BITS;
                } else {
                    info->bmiHeader.biClrUsed = 0;
                    if (!IS40_PackedDIBToRGB(static_cast<const uint8_t*>(block), static_cast<uint32_t>(total),
                                             destination, static_cast<uint32_t>(width * 3),
                                             static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
                        code = IS40_GetLastError();
                    }
                }
            }
        }
    }
    IS40_GlobalFree(block);
    if (own) DeleteObject(own);
    return code;
}

}  // namespace

extern "C" {

HBITMAP IS40_RGBToHBITMAP(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride,
                          HPALETTE palette, HDC dc) {
    static const char kName[] = "IS40_RGBToHBITMAP";
    if (!ISThreadState()) return nullptr;
    if (!image) {
        ISRecordError(IS_ERR_PARAM, kName);
        return nullptr;
    }
    uint32_t dibBytes = 0;
    uint8_t* dib = IS40_RGBToPackedDIB(image, width, height, stride, 24, nullptr, &dibBytes);
    if (!dib) {
        ISRecordError(IS40_GetLastError(), kName);
        return nullptr;
    }
    HDC use = dc ? dc : GetDC(nullptr);
    HBITMAP bitmap = nullptr;
    uint32_t code = IS_ERR_NONE;
    if (!use || !(GetDeviceCaps(use, RASTERCAPS) & RC_DI_BITMAP)) {
        code = IS_ERR_DIB_DEVICE;
    } else {
        // A 24-bit DIB has no colour table, so without a given palette
        // there is none to realise, even on a palette device.
        CISPaletteScope scope(use, palette);
        const auto* info = reinterpret_cast<const BITMAPINFO*>(dib);
        bitmap = CreateDIBitmap(use, &info->bmiHeader, CBM_INIT, dib + kISDibHeaderBytes, info, DIB_RGB_COLORS);
        if (!bitmap) code = IS_ERR_BITMAP_CREATE;
    }
    if (!dc && use) ReleaseDC(nullptr, use);
    IS40_GlobalFree(dib);
    ISRecordError(code, kName);
    return bitmap;
}

BOOL IS40_HBITMAPToRGB(HBITMAP bitmap, HDC dc, HPALETTE palette, uint8_t* destination) {
    static const char kName[] = "IS40_HBITMAPToRGB";
    if (!ISThreadState()) return FALSE;
    const uint32_t code = BitmapToRGB(bitmap, dc, palette, destination);
    ISRecordError(code, kName);
    return code == IS_ERR_NONE;
}

BOOL IS40_GetHBITMAPDimensions(HBITMAP bitmap, uint32_t* width, uint32_t* height) {
    static const char kName[] = "IS40_GetHBITMAPDimensions";
    if (!ISThreadState()) return FALSE;
    if (!bitmap || !width || !height) {
        ISRecordError(IS_ERR_PARAM, kName);
        return FALSE;
    }
    BITMAP bm;
    if (GetObjectType(bitmap) != OBJ_BITMAP || GetObjectA(bitmap, sizeof bm, &bm) != sizeof bm) {
        ISRecordError(IS_ERR_VARIANT, kName);
        return FALSE;
    }
    *width = static_cast<uint32_t>(bm.bmWidth);
    *height = static_cast<uint32_t>(bm.bmHeight);
    ISRecordError(IS_ERR_NONE, kName);
    return TRUE;
}

}  // extern "C"
