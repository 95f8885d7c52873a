// The generic reader: detect the format, then call its reader.
#include "codec/isframe.h"

#include <cstring>

namespace {

using ISReaderFn = uint8_t* (*)(ISHANDLE, uint32_t*, uint32_t*, uint32_t, uint8_t*, uint32_t);

struct CISReaderEntry {
    ISReaderFn read;
    bool reads32;  // reads 32-bit RGBA itself
    uint32_t paletteDepth;  // 8 or 1 when mode 0 goes through an index image, else 0
};

// Indexed by reader code; formats with no reader in this build are null.
const CISReaderEntry kReaders[kISReaderNone] = {
    /* JPEG */ {[](ISHANDLE h, uint32_t* w, uint32_t* ht, uint32_t d, uint8_t*, uint32_t f) { return IS40_ReadJPG(h, w, ht, d, f); }, false, 0},
    /* BMP  */ {IS40_ReadBMP, true, 0},
    /* GIF  */ {IS40_ReadGIF, false, 8},
    /* PCX  */ {IS40_ReadPCX, false, 0},
    /* PNG  */ {IS40_ReadPNG, true, 0},
    /* TIFF */ {ISReadTIFFFirstPage, true, 0},
    /* TGA  */ {IS40_ReadTGA, true, 0},
    /* WMF  */ {IS40_ReadMetafile, false, 0},
    /* EMF  */ {IS40_ReadMetafile, false, 0},
    /* PSD  */ {IS40_ReadPSD, false, 0},
    /* WBMP */ {IS40_ReadWBMP, false, 8},
    /* TLAU */ {IS40_ReadTLA, true, 0},
    /* TLA  */ {nullptr, false, 0},
    /* PCD  */ {IS40_ReadPCD, false, 0},
    /* PBM  */ {IS40_ReadPNM, false, 1},
    /* PGM  */ {IS40_ReadPNM, false, 8},
    /* PPM  */ {IS40_ReadPNM, false, 0},
};

class CISGenericReadBase {
public:
    explicit CISGenericReadBase(ISHANDLE handle) : m_handle(handle) {}

    uint8_t* Read(uint32_t* width, uint32_t* height, uint32_t mode) {
        CISIO io(m_handle);
        io.Seek(0, 0);
        uint32_t type = IS40_GuessFileType(m_handle);
        uint32_t code = ISReaderCodeFor(type, m_handle);
        io.Seek(0, 0);
        if (code == kISReaderTLA) {
            m_error = IS_ERR_TLA;
            return nullptr;
        }
        if (code >= kISReaderNone || !kReaders[code].read) {
            m_error = IS_ERR_OPEN;
            return nullptr;
        }
        const CISReaderEntry& r = kReaders[code];
        uint8_t* out;
        if (mode == 2) {
            out = r.read(m_handle, width, height, 24, m_palette, IS_READ_DIB);
            m_error = IS40_GetLastError();
        } else if (mode == 1 && r.reads32) {
            out = r.read(m_handle, width, height, 32, m_palette, 0);
            m_error = IS40_GetLastError();
        } else {
            out = Read24(r, width, height);
            if (out && mode == 1) {
                uint8_t* wide = ISWidenToRGBA(out, *width, *height);
                IS40_GlobalFree(out);
                out = wide;
                if (!out) m_error = IS_ERR_MEMORY;
            }
        }
        if (!out && m_error == 0) m_error = IS_ERR_MEMORY;
        return out;
    }

    uint32_t Error() const { return m_error; }

private:
    uint8_t* Read24(const CISReaderEntry& r, uint32_t* width, uint32_t* height) {
        if (r.paletteDepth == 0) {
            uint8_t* out = r.read(m_handle, width, height, 24, m_palette, 0);
            m_error = IS40_GetLastError();
            return out;
        }
        uint8_t* index = r.read(m_handle, width, height, r.paletteDepth, m_palette, 0);
        m_error = IS40_GetLastError();
        if (!index) return nullptr;
        uint8_t* out;
        if (r.paletteDepth == 1) {
            out = ISBitsToRGB(index, *width, *height, (*width + 7) / 8);
        } else {
            out = ISIndexedToRGB(index, *width, *height, *width, m_palette);
        }
        IS40_GlobalFree(index);
        if (!out) m_error = IS_ERR_MEMORY;
        return out;
    }

    ISHANDLE m_handle;
    uint32_t m_error = 0;
    uint8_t m_palette[256 * 4] = {};
};

}  // namespace

extern "C" uint8_t* IS40_ReadImage(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t mode,
                                   uint32_t /*flags*/) {
    CISThreadState* s = ISThreadState();
    if (!s) return nullptr;
    s->Record(0, "IS40_ReadImage");
    if (!width || !height) {
        s->Record(IS_ERR_PARAM, "IS40_ReadImage");
        return nullptr;
    }
    if (!ISCheckHandle(handle, "IS40_ReadImage")) return nullptr;
    if (mode > 2) mode = 0;
    uint32_t w = 0, h = 0;
    CISGenericReadBase reader(handle);
    uint8_t* out = reader.Read(&w, &h, mode);
    if (out) {
        *width = w;
        *height = h;
    }
    s->Record(reader.Error(), "IS40_ReadImage");
    return out;
}
