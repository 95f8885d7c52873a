// PNG reader, dimension query and writer over libpng.
//
// libpng reports errors by longjmp. Every libpng call runs inside
// PngProtect, whose body keeps no object with a destructor, so the jump
// never skips one; the C++ objects of a call live in the frames above.
#include "codec/isframe.h"

#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kReadGrey16 = 4;  // 16 bits: one grey sample, not grey and alpha

// Deflate cannot expand data by more than about 1032 to 1; a header that
// declares more pixels than the rest of the source could hold is refused
// before the picture buffer is allocated.
constexpr uint64_t kMaxInflateRatio = 1040;

// Ancillary chunks (text, profiles) larger than this are dropped by libpng.
constexpr png_alloc_size_t kChunkMallocMax = 16u * 1024 * 1024;

// libpng's own blocks are chunk buffers and rows; anything larger comes from
// a chunk length that the chunk limit does not cover (this libpng allocates
// a text chunk's declared length before reading it).
constexpr png_alloc_size_t kLibpngBlockMax = 2 * kChunkMallocMax;

// Shared by the libpng callbacks of one call.
struct CISPngContext {
    CISIO* io = nullptr;
    uint32_t code = 0;  // set by a callback before it raises a libpng error
    bool allocFailed = false;
    char message[200] = {};
};

void PngOnError(png_structp png, png_const_charp msg) {
    CISPngContext* c = static_cast<CISPngContext*>(png_get_error_ptr(png));
    if (c) std::snprintf(c->message, sizeof c->message, "ISLib PNG Error : %s", msg ? msg : "");
    png_longjmp(png, 1);
}

void PngOnWarning(png_structp, png_const_charp) {}

// libpng's memory goes through the library allocator, so the allocation
// limit and the out-of-memory test hook apply to it as well.
png_voidp PngOnMalloc(png_structp png, png_alloc_size_t size) {
    void* p = size <= kLibpngBlockMax ? IS40_GlobalAlloc(kISZeroInit, size) : nullptr;
    if (!p) {
        CISPngContext* c = static_cast<CISPngContext*>(png_get_mem_ptr(png));
        if (c) c->allocFailed = true;
    }
    return p;
}

void PngOnFree(png_structp, png_voidp p) { IS40_GlobalFree(p); }

void PngOnRead(png_structp png, png_bytep data, size_t length) {
    CISPngContext* c = static_cast<CISPngContext*>(png_get_io_ptr(png));
    if (length > 0xFFFFFFFFu || c->io->Read(data, static_cast<uint32_t>(length)) != length) {
        c->code = IS_ERR_READ;
        png_error(png, "read Error");
    }
}

void PngOnWrite(png_structp png, png_bytep data, size_t length) {
    CISPngContext* c = static_cast<CISPngContext*>(png_get_io_ptr(png));
    if (length > 0xFFFFFFFFu || !c->io->Write(data, static_cast<uint32_t>(length))) {
        c->code = IS_ERR_WRITE;
        png_error(png, "write Error");
    }
}

void PngOnFlush(png_structp) {}

// Runs fn; false when libpng raised an error inside it. fn must not own
// objects with destructors while it calls libpng.
template <typename Fn>
bool PngProtect(png_structp png, Fn&& fn) {
    if (setjmp(png_jmpbuf(png))) return false;
    fn();
    return true;
}

struct CISPngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
    bool hasTrns = false;
    bool hasBkgd = false;
    bool hasPhys = false;
    png_uint_32 physX = 0, physY = 0;
    int physUnit = 0;
    png_color_16 trnsColour = {};
    uint8_t palette[256 * 4] = {};  // B, G, R, alpha as handed to index readers
};

uint32_t Channels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
        case PNG_COLOR_TYPE_RGB: return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
        default: return 1;
    }
}

class CISPngCodec {
public:
    explicit CISPngCodec(ISHANDLE handle) : m_io(handle) { m_ctx.io = &m_io; }
    ~CISPngCodec() {
        if (m_write) {
            png_destroy_write_struct(&m_png, &m_info);
        } else if (m_png) {
            png_destroy_read_struct(&m_png, &m_info, nullptr);
        }
    }
    CISPngCodec(const CISPngCodec&) = delete;
    CISPngCodec& operator=(const CISPngCodec&) = delete;

    uint32_t Error() const { return m_error; }
    void SetError(uint32_t code) { m_error = code; }
    const char* Message() const { return m_ctx.message[0] ? m_ctx.message : nullptr; }

    void ReadHeader();
    const CISPngHeader& Header() const { return m_h; }

    uint8_t* Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height);

    uint32_t Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride, uint32_t bitDepth,
                   uint32_t paletteCount, const uint8_t* palette, uint32_t colourType, double gamma,
                   const ISResolution* resolution, uint32_t flags);

private:
    // Turns a libpng error into the codec's error code.
    [[noreturn]] void LibFailed() {
        uint32_t code = m_ctx.code;
        if (code == 0) code = m_ctx.allocFailed ? IS_ERR_MEMORY : IS_ERR_FORMAT;
        ISFail(code, "libpng");
    }
    void ChooseTransforms(uint32_t depth, uint32_t flags);
    void FillPalette(bool grey16);

    CISIO m_io;
    CISPngContext m_ctx;
    png_structp m_png = nullptr;
    png_infop m_info = nullptr;
    bool m_write = false;
    uint32_t m_error = 0;
    CISPngHeader m_h;
};

void CISPngCodec::ReadHeader() {
    png_byte sig[8];
    const uint32_t got = m_io.Read(sig, sizeof sig);
    if (got >= 1 && png_sig_cmp(sig, 0, got) != 0) ISFail(IS_ERR_FORMAT, "signature");
    if (got < sizeof sig) ISFail(IS_ERR_READ, "signature");

    m_png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &m_ctx, PngOnError, PngOnWarning, &m_ctx, PngOnMalloc,
                                     PngOnFree);
    if (!m_png) ISFail(IS_ERR_PNG_STRUCT, "read struct");
    m_info = png_create_info_struct(m_png);
    if (!m_info) ISFail(IS_ERR_PNG_STRUCT, "info struct");

    CISPngHeader& h = m_h;
    png_structp png = m_png;
    png_infop info = m_info;
    CISPngContext* ctx = &m_ctx;
    bool ok = PngProtect(png, [png, info, ctx, &h]() {
        png_set_read_fn(png, ctx, PngOnRead);
        png_set_sig_bytes(png, 8);
        png_set_benign_errors(png, 1);
        png_set_user_limits(png, 0x7FFFFFFFu, 0x7FFFFFFFu);
        png_set_chunk_malloc_max(png, kChunkMallocMax);
        png_set_chunk_cache_max(png, 1000);
        png_read_info(png, info);
        png_get_IHDR(png, info, &h.width, &h.height, &h.bitDepth, &h.colourType, &h.interlace, nullptr, nullptr);
        png_bytep trnsAlpha = nullptr;
        int trnsCount = 0;
        png_color_16p trnsColour = nullptr;
        if (png_get_tRNS(png, info, &trnsAlpha, &trnsCount, &trnsColour)) {
            h.hasTrns = true;
            if (trnsColour) h.trnsColour = *trnsColour;
        }
        png_color_16p bkgd = nullptr;
        h.hasBkgd = png_get_bKGD(png, info, &bkgd) != 0;
        if (png_get_pHYs(png, info, &h.physX, &h.physY, &h.physUnit)) h.hasPhys = true;

        // Palette handed to index readers.
        if (h.colourType == PNG_COLOR_TYPE_PALETTE) {
            png_colorp plte = nullptr;
            int count = 0;
            if (png_get_PLTE(png, info, &plte, &count) && plte) {
                if (count > 256) count = 256;
                for (int i = 0; i < count; ++i) {
                    h.palette[4 * i] = plte[i].blue;
                    h.palette[4 * i + 1] = plte[i].green;
                    h.palette[4 * i + 2] = plte[i].red;
                    h.palette[4 * i + 3] = 255;
                }
                if (trnsAlpha) {
                    for (int i = 0; i < trnsCount && i < count; ++i) h.palette[4 * i + 3] = trnsAlpha[i];
                }
                for (int i = count ? count : 1; i < 256; ++i) {
                    std::memcpy(h.palette + 4 * i, h.palette, 3);
                    h.palette[4 * i + 3] = 255;
                }
            }
        }
    });
    if (!ok) LibFailed();
}

void CISPngCodec::FillPalette(bool grey16) {
    if (m_h.colourType != PNG_COLOR_TYPE_GRAY) return;
    const int bits = grey16 ? 8 : m_h.bitDepth;
    const uint32_t levels = 1u << bits;
    for (uint32_t i = 0; i < 256; ++i) {
        uint8_t v = static_cast<uint8_t>(i < levels ? i * 255 / (levels - 1) : 0);
        m_h.palette[4 * i] = m_h.palette[4 * i + 1] = m_h.palette[4 * i + 2] = v;
        m_h.palette[4 * i + 3] = 255;
    }
    for (uint32_t i = levels; i < 256; ++i) std::memcpy(m_h.palette + 4 * i, m_h.palette, 4);
    if (m_h.hasTrns && !grey16 && m_h.trnsColour.gray < levels) m_h.palette[4 * m_h.trnsColour.gray + 3] = 0;
}

// Sets the libpng transforms that deliver the picture at the requested
// depth (error 28 when it cannot be delivered there).
void CISPngCodec::ChooseTransforms(uint32_t depth, uint32_t flags) {
    const int ct = m_h.colourType;
    const int bd = m_h.bitDepth;
    const bool grey = ct == PNG_COLOR_TYPE_GRAY;
    const bool alpha = (ct & PNG_COLOR_MASK_ALPHA) != 0 || m_h.hasTrns;
    switch (depth) {
        case 1:
            if (bd != 1 || (ct != PNG_COLOR_TYPE_GRAY && ct != PNG_COLOR_TYPE_PALETTE)) ISFail(IS_ERR_DEPTH, "not 1 bit");
            break;
        case 8:
            if (ct != PNG_COLOR_TYPE_GRAY && ct != PNG_COLOR_TYPE_PALETTE) ISFail(IS_ERR_DEPTH, "not an index image");
            break;
        case 16:
            if (flags & kReadGrey16) {
                if (!grey) ISFail(IS_ERR_DEPTH, "not grey");
            } else if (ct != PNG_COLOR_TYPE_GRAY && ct != PNG_COLOR_TYPE_GRAY_ALPHA) {
                ISFail(IS_ERR_DEPTH, "not grey");
            }
            break;
        case 48:
        case 64:
            if (ct != PNG_COLOR_TYPE_GRAY && ct != PNG_COLOR_TYPE_RGB && ct != PNG_COLOR_TYPE_RGB_ALPHA) {
                ISFail(IS_ERR_DEPTH, "no 16-bit delivery");
            }
            break;
        default:
            break;
    }

    // Remaining calls are libpng's and may raise its errors.
    png_structp png = m_png;
    const CISPngHeader& h = m_h;
    bool ok = PngProtect(png, [png, info = m_info, depth, flags, ct, bd, grey, alpha, &h]() {
        const bool wide = depth == 48 || depth == 64 || (depth == 16 && (flags & kReadGrey16));
        if (depth == 1) return;
        if (depth == 8) {
            if (bd < 8) png_set_packing(png);
            if (bd == 16) png_set_scale_16(png);
            return;
        }
        if (ct == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
        if (grey && bd < 8) png_set_expand_gray_1_2_4_to_8(png);
        if (wide) {
            if (bd < 16) png_set_expand_16(png);
            png_set_swap(png);
        } else if (bd == 16) {
            png_set_scale_16(png);
        }
        if (depth == 16 && (flags & kReadGrey16)) return;  // tRNS is not asked for
        if (h.hasTrns) png_set_tRNS_to_alpha(png);
        if (depth != 16 && (ct == PNG_COLOR_TYPE_GRAY || ct == PNG_COLOR_TYPE_GRAY_ALPHA)) png_set_gray_to_rgb(png);
        const bool keepAlpha = depth == 16 || depth == 32 || depth == 64;
        if (keepAlpha) {
            if (!alpha) png_set_add_alpha(png, depth == 64 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
        } else if (alpha) {
            // Composite on the stored values, as every viewer does: a gAMA or
            // sRGB chunk must not send the blend (and 16-bit scaling) through
            // linear light.
            png_set_gamma(png, 1.0, 1.0);
            png_color_16p fileBackground = nullptr;
            if (h.hasBkgd && png_get_bKGD(png, info, &fileBackground)) {
                png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
            } else {
                png_color_16 c = {};  // black
                png_set_background(png, &c, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
            }
        }
    });
    if (!ok) LibFailed();
}

uint8_t* CISPngCodec::Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height) {
    if (depth != 1 && depth != 8 && depth != 16 && depth != 24 && depth != 32 && depth != 48 && depth != 64) {
        ISFail(IS_ERR_PARAM, "depth");
    }
    const bool index = depth <= 8;
    const bool dib = (flags & IS_READ_DIB) != 0;
    const bool pad = (flags & IS_READ_PAD_BGR) != 0;
    // A packed DIB has no layout for the 16-bit variants.
    if (dib && (depth == 16 || depth == 48 || depth == 64)) ISFail(IS_ERR_PARAM, "no DIB at this depth");
    if (index && !palette && !dib) ISFail(IS_ERR_PARAM, "palette");

    ReadHeader();
    const uint32_t w = m_h.width;
    const uint32_t h = m_h.height;
    if (w == 0 || h == 0) ISFail(IS_ERR_FORMAT, "size");

    // Sizes first: nothing is set up or allocated for a picture that cannot
    // be held, or whose data cannot be in the rest of the source.
    const uint64_t bytesPerPixel = depth / 8;
    const uint64_t dataRow = depth == 1 ? (static_cast<uint64_t>(w) + 7) / 8 : w * bytesPerPixel;
    uint64_t outRow = dib ? ISDibRowBytes(w, depth) : (pad ? ISRoundUp4(dataRow) : dataRow);
    const uint32_t tableEntries = dib && index ? (1u << depth) : 0;
    const uint64_t pixelStart = dib ? kISDibHeaderBytes + 4ull * tableEntries : 0;
    uint64_t pixelBytes = 0, total = 0, workRow = 0;
    // libpng's own row buffers hold up to 8 bytes a pixel.
    if (!ISMulSize(outRow, h, &pixelBytes) || !ISMulSize(pixelBytes + pixelStart, 1, &total) ||
        !ISMulSize(w, 8, &workRow)) {
        ISFail(IS_ERR_MEMORY, "picture too large");
    }
    const uint64_t here = m_io.Tell();
    ChooseTransforms(depth, flags);
    const uint64_t fileBits = static_cast<uint64_t>(m_h.bitDepth) * Channels(m_h.colourType);
    const uint64_t minRaw = static_cast<uint64_t>(w) * h / 8 * fileBits;
    const uint64_t size = m_io.Size();
    const uint64_t left = size > here ? size - here : 0;
    if (minRaw > left * kMaxInflateRatio + 65536) ISFail(IS_ERR_READ, "image data cannot fit the source");
    if (index) FillPalette(m_h.bitDepth == 16);

    CISOutBufAllocator out;
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "output");
    uint8_t* base = out.Get();
    if (dib) {
        uint32_t xppm = m_h.hasPhys && m_h.physUnit == PNG_RESOLUTION_METER ? m_h.physX : 0;
        uint32_t yppm = m_h.hasPhys && m_h.physUnit == PNG_RESOLUTION_METER ? m_h.physY : 0;
        ISPutDibHeader(base, w, h, depth, static_cast<uint32_t>(pixelBytes), xppm, yppm, tableEntries);
        for (uint32_t i = 0; i < tableEntries; ++i) {
            std::memcpy(base + kISDibHeaderBytes + 4 * i, m_h.palette + 4 * i, 3);
        }
    }

    png_structp png = m_png;
    png_infop info = m_info;
    const bool bgr = (dib || pad) && depth >= 24;
    bool rowMismatch = false;
    bool ok = PngProtect(png, [&]() {
        if (bgr) png_set_bgr(png);
        const int passes = png_set_interlace_handling(png);
        png_read_update_info(png, info);
        if (png_get_rowbytes(png, info) != dataRow) {
            rowMismatch = true;
            return;
        }
        for (int pass = 0; pass < passes; ++pass) {
            for (uint32_t y = 0; y < h; ++y) {
                uint64_t line = dib ? h - 1 - y : y;
                png_read_row(png, base + pixelStart + line * outRow, nullptr);
            }
        }
        png_read_end(png, nullptr);
    });
    if (!ok) LibFailed();
    if (rowMismatch) ISFail(IS_ERR_VARIANT, "row length after transforms");

    if (index && palette) std::memcpy(palette, m_h.palette, sizeof m_h.palette);
    *width = w;
    *height = h;
    return out.Release();
}

uint32_t CISPngCodec::Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride,
                            uint32_t bitDepth, uint32_t paletteCount, const uint8_t* palette, uint32_t colourType,
                            double gamma, const ISResolution* resolution, uint32_t flags) {
    if (!image) ISFail(IS_ERR_PARAM, "image");
    if (paletteCount > 256 || (paletteCount > 0 && !palette)) ISFail(IS_ERR_PARAM, "palette");
    bool validDepth;
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY:
            validDepth = bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
            break;
        case PNG_COLOR_TYPE_PALETTE:
            validDepth = bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
            break;
        case PNG_COLOR_TYPE_RGB:
        case PNG_COLOR_TYPE_GRAY_ALPHA:
        case PNG_COLOR_TYPE_RGB_ALPHA:
            validDepth = bitDepth == 8 || bitDepth == 16;
            break;
        default:
            validDepth = false;
    }
    if (!validDepth) ISFail(IS_ERR_PARAM, "bit depth and colour type");
    if (colourType == PNG_COLOR_TYPE_PALETTE && (paletteCount == 0 || paletteCount > (1u << bitDepth))) {
        ISFail(IS_ERR_PARAM, "palette size");
    }
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) ISFail(IS_ERR_PARAM, "size");
    const uint64_t rowBytes = (static_cast<uint64_t>(width) * bitDepth * Channels(static_cast<int>(colourType)) + 7) / 8;
    if (rowStride < rowBytes) ISFail(IS_ERR_PARAM, "row stride");

    // Everything libpng keeps a pointer to is built here, outside the
    // protected calls.
    png_color plte[256];
    png_byte trns[256];
    for (uint32_t i = 0; i < paletteCount; ++i) {
        plte[i].red = palette[4 * i + 2];
        plte[i].green = palette[4 * i + 1];
        plte[i].blue = palette[4 * i];
        trns[i] = palette[4 * i + 3];
    }
    png_time stamp = {};
    const bool withTime = (flags & IS_PNG_NO_TIME) == 0;
    if (withTime) {
        std::time_t now = std::time(nullptr);
        std::tm utc = {};
        ISUtcTime(now, &utc);
        png_convert_from_struct_tm(&stamp, &utc);
    }
    png_uint_32 physX = 1, physY = 1;
    int physUnit = PNG_RESOLUTION_UNKNOWN;
    if (resolution) {
        auto clamp = [](double v) -> png_uint_32 {
            if (!(v > 0)) return 0;
            if (v >= 2147483647.0) return 0x7FFFFFFFu;
            return static_cast<png_uint_32>(std::lround(v));
        };
        physX = clamp(resolution->xRes);
        physY = clamp(resolution->yRes);
        physUnit = resolution->unit == 1 ? PNG_RESOLUTION_METER : PNG_RESOLUTION_UNKNOWN;
    }

    m_write = true;
    m_png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &m_ctx, PngOnError, PngOnWarning, &m_ctx, PngOnMalloc,
                                      PngOnFree);
    if (!m_png) ISFail(IS_ERR_PNG_STRUCT, "write struct");
    m_info = png_create_info_struct(m_png);
    if (!m_info) ISFail(IS_ERR_PNG_STRUCT, "info struct");

    png_structp png = m_png;
    png_infop info = m_info;
    CISPngContext* ctx = &m_ctx;
    bool ok = PngProtect(png, [&]() {
        png_set_write_fn(png, ctx, PngOnWrite, PngOnFlush);
        png_set_benign_errors(png, 1);
        png_set_IHDR(png, info, width, height, static_cast<int>(bitDepth), static_cast<int>(colourType),
                     (flags & IS_PNG_INTERLACE) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        if (paletteCount > 0 && (colourType & PNG_COLOR_MASK_COLOR)) {
            png_set_PLTE(png, info, plte, static_cast<int>(paletteCount));
            if ((flags & IS_PNG_PALETTE_ALPHA) && colourType == PNG_COLOR_TYPE_PALETTE) {
                png_set_tRNS(png, info, trns, static_cast<int>(paletteCount), nullptr);
            }
        }
        if (withTime) png_set_tIME(png, info, &stamp);
        png_set_pHYs(png, info, physX, physY, physUnit);
        if (gamma > 0.0 && std::isfinite(gamma)) png_set_gAMA(png, info, gamma);
        png_write_info(png, info);
        if (flags & IS_PNG_BGR) png_set_bgr(png);
        if (bitDepth == 16) png_set_swap(png);
        const int passes = png_set_interlace_handling(png);
        for (int pass = 0; pass < passes; ++pass) {
            for (uint32_t y = 0; y < height; ++y) {
                const uint64_t line = (flags & IS_PNG_BOTTOM_UP) ? height - 1 - y : y;
                png_write_row(png, image + line * rowStride);
            }
        }
        png_write_end(png, info);
    });
    if (!ok) LibFailed();
    if (!m_io.Flush()) ISFail(IS_ERR_WRITE, "flush");
    return m_io.Size();
}

void Finish(const CISPngCodec& codec, const char* name) {
    ISRecordError(codec.Error(), name, codec.Error() ? codec.Message() : nullptr);
}

}  // namespace

extern "C" {

IS_BOOL IS40_GetPNGDims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitDepth,
                        uint32_t* colourType, uint32_t* interlace, int32_t* index, int32_t* red,
                        int32_t* green, int32_t* blue, int32_t* grey, ISResolution* resolution,
                        uint32_t /*flags*/) {
    static const char kName[] = "IS40_GetPNGDims";
    if (!ISEnter(kName, !width || !height || !bitDepth || !colourType || !interlace || !index || !red || !green || !blue || !grey, handle)) return 0;
    CISPngCodec codec(handle);
    IS_BOOL ok = ISGuarded(codec, [&]() -> IS_BOOL {
        codec.ReadHeader();
        const CISPngHeader& h = codec.Header();
        *width = h.width;
        *height = h.height;
        *bitDepth = static_cast<uint32_t>(h.bitDepth);
        *colourType = static_cast<uint32_t>(h.colourType);
        *interlace = static_cast<uint32_t>(h.interlace);
        *index = -1;
        const bool colour = h.hasTrns && h.colourType != PNG_COLOR_TYPE_PALETTE;
        *red = colour ? h.trnsColour.red : -1;
        *green = colour ? h.trnsColour.green : -1;
        *blue = colour ? h.trnsColour.blue : -1;
        *grey = colour ? h.trnsColour.gray : -1;
        if (resolution) {
            resolution->xRes = h.hasPhys ? h.physX : 0;
            resolution->yRes = h.hasPhys ? h.physY : 0;
            resolution->unit = h.hasPhys ? static_cast<uint32_t>(h.physUnit) : 0;
        }
        return 1;
    });
    Finish(codec, kName);
    return ok;
}

uint8_t* IS40_ReadPNG(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette,
                      uint32_t flags) {
    static const char kName[] = "IS40_ReadPNG";
    if (!ISEnter(kName, !width || !height, handle)) return nullptr;
    CISPngCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(bitDepth, palette, flags, width, height); });
    Finish(codec, kName);
    return out;
}

uint32_t IS40_WritePNG(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride,
                       uint32_t bitDepth, uint32_t paletteCount, const uint8_t* palette, uint32_t colourType,
                       double gamma, const ISResolution* resolution, uint32_t flags) {
    static const char kName[] = "IS40_WritePNG";
    if (!ISEnter(kName, false, handle)) return 0;
    CISPngCodec codec(handle);
    uint32_t size = ISGuarded(codec, [&]() {
        return codec.Write(image, width, height, rowStride, bitDepth, paletteCount, palette, colourType, gamma,
                           resolution, flags);
    });
    Finish(codec, kName);
    return size;
}

}  // extern "C"
