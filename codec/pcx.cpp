// PCX reading and writing: run-length coded scan lines of one or more
// planes, optional 256-colour palette at the end of the file.
#include "codec/isframe.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kPcxHeaderSize = 128;
constexpr uint32_t kPcxPaletteTail = 769;  // 0x0C marker + 256 x R, G, B
constexpr uint8_t kPcxPaletteMark = 0x0C;
constexpr uint32_t kPcxMaxRun = 63;

struct CISPcxHeader {
    uint32_t version = 0;
    uint32_t encoding = 0;
    uint32_t bitsPerPlane = 0;
    uint32_t planes = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bitCount = 0;
    uint32_t bytesPerLine = 0;
    uint32_t hRes = 0;
    uint32_t vRes = 0;
    uint32_t paletteInfo = 0;  // 2: grey
    uint8_t palette16[48] = {};

    bool Indexed() const {
        return (bitsPerPlane == 1 || bitsPerPlane == 2 || bitsPerPlane == 4 || bitsPerPlane == 8) && bitCount <= 8;
    }
    bool TrueColour() const { return bitsPerPlane == 8 && (planes == 3 || planes == 4); }
    uint64_t LineBytes() const { return static_cast<uint64_t>(bytesPerLine) * planes; }
};

// Validates the fixed header; 0 or the error code.
uint32_t ParsePcxHeader(const uint8_t* raw, CISPcxHeader* h) {
    if (raw[0] != 10) return IS_ERR_NOT_PCX;
    const uint32_t version = raw[1];
    if (version != 0 && version != 2 && version != 3 && version != 5) return IS_ERR_NOT_PCX;
    const uint32_t xmin = ISGet16LE(raw + 4), ymin = ISGet16LE(raw + 6);
    const uint32_t xmax = ISGet16LE(raw + 8), ymax = ISGet16LE(raw + 10);
    if (xmax < xmin || ymax < ymin) return IS_ERR_NOT_PCX;
    h->version = version;
    h->encoding = raw[2];
    h->bitsPerPlane = raw[3];
    h->planes = raw[65];
    h->width = xmax - xmin + 1;
    h->height = ymax - ymin + 1;
    h->bitCount = h->bitsPerPlane * h->planes;
    h->bytesPerLine = ISGet16LE(raw + 66);
    h->hRes = ISGet16LE(raw + 12);
    h->vRes = ISGet16LE(raw + 14);
    h->paletteInfo = ISGet16LE(raw + 68);
    std::memcpy(h->palette16, raw + 16, sizeof h->palette16);
    if (h->bitCount == 0 || h->bitCount > 32) return IS_ERR_NOT_PCX;
    // A scan line shorter than the window cannot hold the pixels.
    if (static_cast<uint64_t>(h->bytesPerLine) * 8 < static_cast<uint64_t>(h->width) * h->bitsPerPlane)
        return IS_ERR_NOT_PCX;
    return IS_ERR_NONE;
}

// Pulls bytes from the source in blocks and undoes the run-length coding.
// A run that does not fit the current line carries over to the next one,
// so nothing is ever written past the caller's line.
class CISPcxLineDecoder {
public:
    CISPcxLineDecoder(CISIO& io, bool runLength) : m_io(io), m_runLength(runLength) {}

    // Fills count bytes; false when the source ends first.
    bool Fill(uint8_t* dst, uint32_t count) {
        uint32_t done = 0;
        while (done < count) {
            if (m_runLeft) {
                uint32_t n = count - done < m_runLeft ? count - done : m_runLeft;
                std::memset(dst + done, m_runValue, n);
                done += n;
                m_runLeft -= n;
                continue;
            }
            uint8_t b;
            if (!Next(&b)) return false;
            if (m_runLength && (b & 0xC0) == 0xC0) {
                if (!Next(&m_runValue)) return false;
                m_runLeft = b & 0x3Fu;
            } else {
                dst[done++] = b;
            }
        }
        return true;
    }

private:
    bool Next(uint8_t* b) {
        if (m_pos == m_len) {
            m_len = m_io.Read(m_buf, sizeof m_buf);
            m_pos = 0;
            if (m_len == 0) return false;
        }
        *b = m_buf[m_pos++];
        return true;
    }

    CISIO& m_io;
    bool m_runLength;
    uint8_t m_buf[8192];
    uint32_t m_pos = 0;
    uint32_t m_len = 0;
    uint32_t m_runLeft = 0;
    uint8_t m_runValue = 0;
};

inline uint32_t PlaneValue(const uint8_t* plane, uint32_t x, uint32_t bits) {
    if (bits == 8) return plane[x];
    const uint64_t bit = static_cast<uint64_t>(x) * bits;
    const uint32_t shift = 8 - bits - static_cast<uint32_t>(bit & 7);
    return (plane[bit >> 3] >> shift) & ((1u << bits) - 1);
}

inline uint32_t PixelIndex(const CISPcxHeader& h, const uint8_t* line, uint32_t x) {
    uint32_t index = 0;
    for (uint32_t p = 0; p < h.planes; ++p)
        index |= PlaneValue(line + static_cast<uint64_t>(p) * h.bytesPerLine, x, h.bitsPerPlane) << (p * h.bitsPerPlane);
    return index;
}

inline uint32_t DpiToPelsPerMeter(uint32_t dpi) { return static_cast<uint32_t>((dpi * 10000ull + 127) / 254); }

uint16_t ResolutionField(const ISResolution* res, bool vertical) {
    if (!res) return 0;
    double v = vertical ? res->yRes : res->xRes;
    if (!(v > 0)) return 0;  // also NaN
    if (v >= 65535.0) return 65535;
    return static_cast<uint16_t>(std::lround(v));
}

class CISPcxCodec {
public:
    uint32_t Error() const { return m_error; }

    bool Dims(CISIO& io, uint32_t* width, uint32_t* height, uint32_t* bitCount, ISResolution* resolution) {
        CISPcxHeader h;
        if (!ReadHeader(io, &h)) return false;
        *width = h.width;
        *height = h.height;
        *bitCount = h.bitCount;
        if (resolution) {
            resolution->xRes = h.hRes;
            resolution->yRes = h.vRes;
            resolution->unit = 0;
        }
        return true;
    }

    uint8_t* Read(CISIO& io, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette, uint32_t flags);

    uint32_t Write(CISIO& io, const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                   uint32_t rowStride, const uint8_t* palette, const ISResolution* resolution, uint32_t flags);

private:
    enum OutKind { kOutBits, kOutIndex, kOutRGB, kOutRGBA };

    bool Fail(uint32_t code) {
        m_error = code;
        return false;
    }
    uint8_t* FailNull(uint32_t code) {
        m_error = code;
        return nullptr;
    }
    uint32_t FailZero(uint32_t code) {
        m_error = code;
        return 0;
    }

    bool ReadHeader(CISIO& io, CISPcxHeader* h) {
        uint8_t raw[kPcxHeaderSize];
        if (!io.ReadExact(raw, sizeof raw)) return Fail(IS_ERR_READ);
        uint32_t code = ParsePcxHeader(raw, h);
        return code == IS_ERR_NONE || Fail(code);
    }

    // 256 entries B, G, R, reserved; false when the file's palette is missing.
    bool BuildPalette(CISIO& io, const CISPcxHeader& h, uint8_t* pal);

    uint32_t m_error = IS_ERR_NONE;
};

bool CISPcxCodec::BuildPalette(CISIO& io, const CISPcxHeader& h, uint8_t* pal) {
    for (uint32_t i = 0; i < 256; ++i) {
        pal[4 * i] = pal[4 * i + 1] = pal[4 * i + 2] = static_cast<uint8_t>(i);
        pal[4 * i + 3] = 0;
    }
    if (h.bitCount == 8) {
        if (h.version != 5) return true;
        const uint32_t here = io.Tell();
        uint8_t tail[kPcxPaletteTail];
        const bool got = io.Seek(-static_cast<int64_t>(kPcxPaletteTail), 2) && io.ReadExact(tail, sizeof tail);
        // The caller's pixel read reports a failed return seek as short data.
        io.Seek(here, 0);
        // A grey file may go without; any other would show invented colours.
        if (!got || tail[0] != kPcxPaletteMark) return h.paletteInfo == 2;
        for (uint32_t i = 0; i < 256; ++i) {
            pal[4 * i] = tail[1 + 3 * i + 2];
            pal[4 * i + 1] = tail[1 + 3 * i + 1];
            pal[4 * i + 2] = tail[1 + 3 * i];
        }
        return true;
    }
    if (h.bitCount >= 8) return true;
    const uint8_t* e = h.palette16;
    if (h.bitCount == 1 && std::memcmp(e, e + 3, 3) == 0) {
        // Monochrome files often carry an empty header palette: black, white.
        std::memset(pal, 0, 8);
        pal[4] = pal[5] = pal[6] = 255;
        return true;
    }
    for (uint32_t i = 0; i < 16; ++i) {
        pal[4 * i] = e[3 * i + 2];
        pal[4 * i + 1] = e[3 * i + 1];
        pal[4 * i + 2] = e[3 * i];
    }
    return true;
}

uint8_t* CISPcxCodec::Read(CISIO& io, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette,
                           uint32_t flags) {
    const bool dib = (flags & IS_READ_DIB) != 0;
    if (!dib) {
        if (bitDepth != 1 && bitDepth != 8 && bitDepth != 24) return FailNull(IS_ERR_PARAM);
        if (bitDepth != 24 && !palette) return FailNull(IS_ERR_PARAM);
    }
    CISPcxHeader h;
    if (!ReadHeader(io, &h)) return nullptr;
    if (!h.Indexed() && !h.TrueColour()) return FailNull(IS_ERR_VARIANT);

    OutKind kind;
    uint32_t outBits;
    if (dib) {
        if (h.bitCount == 1) kind = kOutBits, outBits = 1;
        else if (h.bitCount <= 8) kind = kOutIndex, outBits = 8;
        else if (h.bitCount == 24) kind = kOutRGB, outBits = 24;
        else kind = kOutRGBA, outBits = 32;
    } else {
        if (h.bitCount > bitDepth) return FailNull(IS_ERR_DEPTH);
        kind = bitDepth == 1 ? kOutBits : bitDepth == 8 ? kOutIndex : kOutRGB;
        outBits = bitDepth;
    }
    const bool bgr = dib || (kind == kOutRGB && (flags & IS_READ_PAD_BGR));
    const uint32_t tableEntries = dib ? (outBits == 1 ? 2 : outBits == 8 ? 256 : 0) : 0;

    uint64_t rowBytes;
    if (dib || bgr) rowBytes = ISDibRowBytes(h.width, outBits);
    else if (kind == kOutBits) rowBytes = (static_cast<uint64_t>(h.width) + 7) / 8;
    else rowBytes = static_cast<uint64_t>(h.width) * (outBits / 8);
    const uint64_t prefix = dib ? kISDibHeaderBytes + 4ull * tableEntries : 0;
    uint64_t pixelBytes, totalBytes, pictureBytes;
    if (!ISMulSize(rowBytes, h.height, &pixelBytes) || !ISMulSize(1, pixelBytes + prefix, &totalBytes) ||
        !ISMulSize(h.LineBytes(), h.height, &pictureBytes))
        return FailNull(IS_ERR_MEMORY);

    uint8_t pal[1024];
    if (h.Indexed() && !BuildPalette(io, h, pal)) return FailNull(IS_ERR_PALETTE);

    // Each coded byte yields at most one run of 63, so a source this short
    // cannot hold the picture: refuse before allocating for it.
    const uint32_t start = io.Tell();
    const uint32_t size = io.Size();
    const uint64_t left = size > start ? size - start : 0;
    const uint64_t yield = h.encoding == 0 ? 1 : kPcxMaxRun;
    if (left * yield < pictureBytes) return FailNull(IS_ERR_READ);

    CISInternalAllocator lineBuf;
    uint8_t* line = lineBuf.Alloc(h.LineBytes());
    CISOutBufAllocator outBuf;
    uint8_t* out = line ? outBuf.Alloc(totalBytes) : nullptr;
    if (!out) return FailNull(IS_ERR_MEMORY);

    if (dib) {
        uint8_t* d = out;
        ISPutDibHeader(d, h.width, h.height, outBits, static_cast<uint32_t>(pixelBytes), DpiToPelsPerMeter(h.hRes),
                       DpiToPelsPerMeter(h.vRes), tableEntries);
        std::memcpy(d + kISDibHeaderBytes, pal, 4ull * tableEntries);
    }

    CISPcxLineDecoder decoder(io, h.encoding != 0);
    const uint32_t lineBytes = static_cast<uint32_t>(h.LineBytes());
    const uint8_t* planeG = line + h.bytesPerLine;
    const uint8_t* planeB = planeG + h.bytesPerLine;
    const uint8_t* planeA = planeB + h.bytesPerLine;
    const int r = bgr ? 2 : 0, b = bgr ? 0 : 2;
    for (uint32_t y = 0; y < h.height; ++y) {
        if (!decoder.Fill(line, lineBytes)) return FailNull(IS_ERR_READ);
        const uint32_t row = dib ? h.height - 1 - y : y;
        uint8_t* d = out + prefix + static_cast<uint64_t>(row) * rowBytes;
        switch (kind) {
            case kOutBits: {
                const uint32_t n = (h.width + 7) / 8;
                std::memcpy(d, line, n);
                if (h.width & 7) d[n - 1] &= static_cast<uint8_t>(0xFF00u >> (h.width & 7));
                break;
            }
            case kOutIndex:
                for (uint32_t x = 0; x < h.width; ++x) d[x] = static_cast<uint8_t>(PixelIndex(h, line, x));
                break;
            case kOutRGB:
            case kOutRGBA: {
                const uint32_t step = kind == kOutRGB ? 3 : 4;
                for (uint32_t x = 0; x < h.width; ++x, d += step) {
                    if (h.Indexed()) {
                        const uint8_t* e = pal + 4 * PixelIndex(h, line, x);
                        d[r] = e[2];
                        d[1] = e[1];
                        d[b] = e[0];
                    } else {
                        d[r] = line[x];
                        d[1] = planeG[x];
                        d[b] = planeB[x];
                        if (step == 4) d[3] = planeA[x];
                    }
                }
                break;
            }
        }
    }

    if (!dib && palette) std::memcpy(palette, pal, kind == kOutBits ? 8 : kind == kOutIndex ? 1024 : 0);
    *width = h.width;
    *height = h.height;
    return outBuf.Release();
}

// Appends the run-length coding of src to dst; returns the new end.
uint8_t* EncodePlane(const uint8_t* src, uint32_t count, uint8_t* dst) {
    uint32_t i = 0;
    while (i < count) {
        const uint8_t v = src[i];
        uint32_t run = 1;
        while (i + run < count && run < kPcxMaxRun && src[i + run] == v) ++run;
        // A lone byte with both top bits set would read as a count.
        if (run > 1 || (v & 0xC0) == 0xC0) *dst++ = static_cast<uint8_t>(0xC0 | run);
        *dst++ = v;
        i += run;
    }
    return dst;
}

uint32_t CISPcxCodec::Write(CISIO& io, const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                            uint32_t rowStride, const uint8_t* palette, const ISResolution* resolution,
                            uint32_t flags) {
    if (bitCount != 1 && bitCount != 8 && bitCount != 24) return FailZero(IS_ERR_PARAM);
    if ((bitCount != 24 && !palette) || width == 0 || height == 0) return FailZero(IS_ERR_PARAM);
    // The window and bytes-per-line fields are 16 bits wide.
    const uint32_t dataBytes = bitCount == 1 ? (width + 7) / 8 : width;
    const uint32_t bytesPerLine = (dataBytes + 1) & ~1u;
    if (width > 65536 || height > 65536 || bytesPerLine > 65535) return FailZero(IS_ERR_PARAM);
    const uint32_t inputRow = bitCount == 24 ? width * 3 : dataBytes;
    if (rowStride < inputRow) return FailZero(IS_ERR_PARAM);
    const uint32_t planes = bitCount == 24 ? 3 : 1;

    uint8_t header[kPcxHeaderSize] = {};
    header[0] = 10;
    header[1] = 5;
    header[2] = 1;
    header[3] = bitCount == 1 ? 1 : 8;
    ISPut16LE(header + 8, width - 1);
    ISPut16LE(header + 10, height - 1);
    ISPut16LE(header + 12, ResolutionField(resolution, false));
    ISPut16LE(header + 14, ResolutionField(resolution, true));
    if (palette) {
        const uint32_t entries = bitCount == 1 ? 2 : bitCount == 8 ? 16 : 0;
        for (uint32_t i = 0; i < entries; ++i) {
            header[16 + 3 * i] = palette[4 * i + 2];
            header[16 + 3 * i + 1] = palette[4 * i + 1];
            header[16 + 3 * i + 2] = palette[4 * i];
        }
    }
    header[65] = static_cast<uint8_t>(planes);
    ISPut16LE(header + 66, bytesPerLine);
    ISPut16LE(header + 68, bitCount != 24 && (flags & 1) ? 2 : 1);

    const uint32_t lineBytes = bytesPerLine * planes;
    CISInternalAllocator work(3ull * lineBytes);
    uint8_t* line = work.Get();
    if (!line) return FailZero(IS_ERR_MEMORY);
    uint8_t* coded = line + lineBytes;

    if (!io.Write(header, sizeof header)) return FailZero(IS_ERR_WRITE);

    const bool bottomUp = (flags & 4) != 0;
    const int r = (flags & 8) ? 2 : 0, b = (flags & 8) ? 0 : 2;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = image + static_cast<uint64_t>(bottomUp ? height - 1 - y : y) * rowStride;
        if (bitCount == 24) {
            uint8_t* pr = line;
            uint8_t* pg = line + bytesPerLine;
            uint8_t* pb = pg + bytesPerLine;
            for (uint32_t x = 0; x < width; ++x, s += 3) {
                pr[x] = s[r];
                pg[x] = s[1];
                pb[x] = s[b];
            }
        } else {
            std::memcpy(line, s, dataBytes);
            if (bitCount == 1 && (width & 7)) line[dataBytes - 1] &= static_cast<uint8_t>(0xFF00u >> (width & 7));
        }
        uint8_t* end = coded;
        for (uint32_t p = 0; p < planes; ++p) end = EncodePlane(line + p * bytesPerLine, bytesPerLine, end);
        if (!io.Write(coded, static_cast<uint32_t>(end - coded))) return FailZero(IS_ERR_WRITE);
    }

    if (bitCount == 8) {
        uint8_t tail[kPcxPaletteTail];
        tail[0] = kPcxPaletteMark;
        for (uint32_t i = 0; i < 256; ++i) {
            tail[1 + 3 * i] = palette[4 * i + 2];
            tail[1 + 3 * i + 1] = palette[4 * i + 1];
            tail[1 + 3 * i + 2] = palette[4 * i];
        }
        if (!io.Write(tail, sizeof tail)) return FailZero(IS_ERR_WRITE);
    }
    if (!io.Flush()) return FailZero(IS_ERR_WRITE);
    const uint32_t size = io.Size();
    if (size == 0) return FailZero(IS_ERR_WRITE);
    return size;
}

}  // namespace

extern "C" {

IS_BOOL IS40_GetPCXDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitCount,
                        ISResolution* resolution, uint32_t /*flags*/) {
    static const char kName[] = "IS40_GetPCXDims";
    if (!ISEnter(kName, !width || !height || !bitCount, handle)) return 0;
    CISIO io(handle);
    CISPcxCodec codec;
    bool ok = codec.Dims(io, width, height, bitCount, resolution);
    ISRecordError(codec.Error(), kName);
    return ok ? 1 : 0;
}

uint8_t* IS40_ReadPCX(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette,
                      uint32_t flags) {
    static const char kName[] = "IS40_ReadPCX";
    if (!ISEnter(kName, !width || !height, handle)) return nullptr;
    CISIO io(handle);
    CISPcxCodec codec;
    uint8_t* out = nullptr;
    uint32_t code;
    try {
        out = codec.Read(io, width, height, bitDepth, palette, flags);
        code = codec.Error();
    } catch (const ZerUvadod::ISException& e) {
        code = e.Code() ? e.Code() : static_cast<uint32_t>(IS_ERR_FORMAT);
    } catch (const std::bad_alloc&) {
        code = IS_ERR_MEMORY;
    }
    if (!out && code == IS_ERR_NONE) code = IS_ERR_MEMORY;
    ISRecordError(code, kName);
    return out;
}

uint32_t IS40_WritePCX(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                       uint32_t rowStride, const uint8_t* palette, const ISResolution* resolution, uint32_t flags) {
    static const char kName[] = "IS40_WritePCX";
    if (!ISEnter(kName, !image, handle)) return 0;
    CISIO io(handle);
    CISPcxCodec codec;
    uint32_t size = 0;
    uint32_t code;
    try {
        size = codec.Write(io, image, width, height, bitCount, rowStride, palette, resolution, flags);
        code = codec.Error();
    } catch (const ZerUvadod::ISException& e) {
        code = e.Code() ? e.Code() : static_cast<uint32_t>(IS_ERR_WRITE);
    } catch (const std::bad_alloc&) {
        code = IS_ERR_MEMORY;
    }
    if (!size && code == IS_ERR_NONE) code = IS_ERR_WRITE;
    ISRecordError(code, kName);
    return size;
}

}  // extern "C"
