// Format detection by content and the generic reader over every format.

#include "codec/isframe.h"

#include <cstring>

namespace {

struct CISSignature {
    uint32_t type;
    uint32_t offset;
    uint32_t length;
    const char* bytes;
};

// Tested in order; the first match wins (WBMP's two zero bytes only
// tentatively).
const CISSignature kSignatures[32] = {
    {IS_FT_BMP, 0, 2, "BM"},
    {IS_FT_PAX, 0, 3, "PAX"},
    {IS_FT_GIF, 0, 6, "GIF89a"},
    {IS_FT_GIF, 0, 6, "GIF87a"},
    {IS_FT_JPEG, 0, 4, "\xFF\xD8\xFF\xE0"},
    {IS_FT_JPEG, 0, 3, "\xFF\xD8\xFF"},
    {IS_FT_PCX, 0, 2, "\x0A\x00"},
    {IS_FT_PCX, 0, 2, "\x0A\x02"},
    {IS_FT_PCX, 0, 2, "\x0A\x03"},
    {IS_FT_PCX, 0, 2, "\x0A\x05"},
    {IS_FT_TIFF, 0, 2, "MM"},
    {IS_FT_TIFF, 0, 2, "II"},
    {IS_FT_PNG, 0, 8, "\x89PNG\r\n\x1A\n"},
    {IS_FT_WMF, 0, 5, "\x01\x00\x09\x00\x00"},
    {IS_FT_WMF, 0, 4, "\xD7\xCD\xC6\x9A"},
    {IS_FT_EMF, 40, 4, " EMF"},
    {IS_FT_PSD, 0, 4, "8BPS"},
    {IS_FT_TLA, 0, 4, "TLA\x01"},
    {IS_FT_TLAU, 0, 4, "TLAU"},
    {IS_FT_PCD_OVERVIEW, 0, 7, "PCD_OPA"},
    {IS_FT_JP2, 4, 5, "jP  \r"},
    {IS_FT_JP2, 0, 2, "\xFF\x4F"},
    {IS_FT_J2K, 4, 2, "\xFF\x4F"},
    {IS_FT_WBMP, 0, 2, "\x00\x00"},
    {IS_FT_TGA, 0, 0, ""},
    {IS_FT_OLE, 0, 4, "\xD0\xCF\x11\xE0"},
    {IS_FT_PBM, 0, 2, "P1"},
    {IS_FT_PBM, 0, 2, "P4"},
    {IS_FT_PGM, 0, 2, "P2"},
    {IS_FT_PGM, 0, 2, "P5"},
    {IS_FT_PPM, 0, 2, "P3"},
    {IS_FT_PPM, 0, 2, "P6"},
};

constexpr uint32_t kProbeBytes = 44;

bool SameTextNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char ca = (*a >= 'A' && *a <= 'Z') ? static_cast<char>(*a + 32) : *a;
        char cb = (*b >= 'A' && *b <= 'Z') ? static_cast<char>(*b + 32) : *b;
        if (ca != cb) return false;
    }
    return *a == *b;
}

bool ExtensionIs(ISHANDLE handle, const char* ext) { return SameTextNoCase(ISPathExtension(handle), ext); }

struct CISExtReader {
    const char* ext;
    uint32_t reader;
};

const CISExtReader kExtensionReaders[] = {
    {".bmp", kISReaderBMP},   {".wbmp", kISReaderWBMP}, {".wbm", kISReaderWBMP}, {".pcd", kISReaderPCD},
    {".gif", kISReaderGIF},   {".tga", kISReaderTGA},   {".jpeg", kISReaderJPEG}, {".jpg", kISReaderJPEG},
    {".tif", kISReaderTIFF},  {".tiff", kISReaderTIFF}, {".pcx", kISReaderPCX},   {".psd", kISReaderPSD},
    {".tla", kISReaderTLAU},   {".png", kISReaderPNG},   {".wmf", kISReaderWMF},   {".emf", kISReaderEMF},
    {".pbm", kISReaderPBM},   {".pgm", kISReaderPGM},   {".ppm", kISReaderPPM},
};

uint32_t GuessType(CISIO& io, uint32_t* error) {
    *error = 0;
    uint8_t probe[kProbeBytes] = {};
    uint32_t got = io.Read(probe, kProbeBytes);
    if (got == 0) {
        *error = IS_ERR_READ;
        return IS_FT_UNKNOWN;
    }
    bool tentativeWbmp = false;
    for (const CISSignature& sig : kSignatures) {
        if (sig.length == 0 || got < sig.offset + sig.length) continue;
        if (std::memcmp(probe + sig.offset, sig.bytes, sig.length) != 0) continue;
        if (sig.type != IS_FT_WBMP) return sig.type;
        tentativeWbmp = true;
        break;
    }

    ISHANDLE h = io.Handle();
    if (ExtensionIs(h, ".wbmp") || ExtensionIs(h, ".wbm")) return IS_FT_WBMP;
    if (ExtensionIs(h, ".tga")) return IS_FT_TGA;

    uint8_t footer[18];
    if (!io.Seek(-18, 2) || !io.ReadExact(footer, sizeof footer)) {
        *error = IS_ERR_READ;
        return IS_FT_UNKNOWN;
    }
    if (std::memcmp(footer, "TRUEVISION-XFILE.", 17) == 0) return IS_FT_TGA;
    if (tentativeWbmp) return IS_FT_WBMP;

    // A file stream seeks past its end without complaint; the size test keeps
    // files and memory blocks alike: shorter than 2049 bytes is no Photo CD.
    uint8_t pcd[3];
    if (io.Size() <= 2048 || !io.Seek(2048, 0)) return IS_FT_UNKNOWN;
    if (!io.ReadExact(pcd, sizeof pcd)) {
        *error = IS_ERR_READ;
        return IS_FT_UNKNOWN;
    }
    return std::memcmp(pcd, "PCD", 3) == 0 ? IS_FT_PCD : IS_FT_UNKNOWN;
}

}  // namespace

uint32_t ISReaderCodeFor(uint32_t fileType, ISHANDLE handle) {
    switch (fileType) {
        case IS_FT_JPEG: return kISReaderJPEG;
        case IS_FT_BMP: return kISReaderBMP;
        case IS_FT_GIF: return kISReaderGIF;
        case IS_FT_PCX: return kISReaderPCX;
        case IS_FT_PNG: return kISReaderPNG;
        case IS_FT_TIFF: return kISReaderTIFF;
        case IS_FT_TGA: return kISReaderTGA;
        case IS_FT_WMF: return kISReaderWMF;
        case IS_FT_EMF: return kISReaderEMF;
        case IS_FT_PSD: return kISReaderPSD;
        case IS_FT_WBMP: return kISReaderWBMP;
        case IS_FT_TLAU: return kISReaderTLAU;
        case IS_FT_TLA: return kISReaderTLA;
        case IS_FT_PCD: return kISReaderPCD;
        case IS_FT_PBM: return kISReaderPBM;
        case IS_FT_PGM: return kISReaderPGM;
        case IS_FT_PPM: return kISReaderPPM;
        default: break;
    }
    for (const CISExtReader& e : kExtensionReaders) {
        if (ExtensionIs(handle, e.ext)) return e.reader;
    }
    return kISReaderNone;
}

extern "C" uint32_t IS40_GuessFileType(ISHANDLE handle) {
    if (!ISEnter("IS40_GuessFileType", false, handle)) return 0;
    CISIO io(handle);
    uint32_t error = 0;
    uint32_t type = GuessType(io, &error);
    ISRecordError(error, "IS40_GuessFileType");
    return type;
}
