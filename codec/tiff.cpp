// TIFF reader, dimension query and writer over libtiff.
//
// True-colour reads go through libtiff's RGBA interface, which knows every
// photometric interpretation, sample layout and compression it supports;
// index reads decode the strips or tiles themselves. The Orientation tag is
// applied here for all eight values (libtiff only flips).
#include "codec/istiff.h"

#include "codec/isframe.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

// ---- libtiff over a handle -------------------------------------------------

struct CISTiffFile::Client {
    explicit Client(ISHANDLE h) : io(h) {}
    CISIO io;
    bool write = false;
    uint64_t pos = 0;           // libtiff's file position
    uint64_t streamPos = ~0ull;  // where the handle is, when known
    uint64_t size = 0;           // source size, or the written end
    bool shortRead = false;
    bool writeFailed = false;
    uint32_t errors = 0;  // libtiff errors so far; warnings are not counted
    char message[240] = {};
};

namespace {

using Client = CISTiffFile::Client;

bool MoveTo(Client* c) {
    if (c->streamPos == c->pos) return true;
    if (c->pos > 0x7FFFFFFFu || !c->io.Seek(static_cast<int64_t>(c->pos), 0)) {
        c->streamPos = ~0ull;
        return false;
    }
    c->streamPos = c->pos;
    return true;
}

tmsize_t TiffRead(thandle_t h, void* buf, tmsize_t size) {
    Client* c = static_cast<Client*>(h);
    if (size <= 0) return 0;
    if (c->pos >= c->size || !MoveTo(c)) {
        c->shortRead = true;
        return 0;
    }
    uint64_t want = static_cast<uint64_t>(size);
    if (want > c->size - c->pos) want = c->size - c->pos;
    uint32_t n = c->io.Read(buf, static_cast<uint32_t>(want));
    c->pos += n;
    c->streamPos = c->pos;
    if (n < static_cast<uint64_t>(size)) c->shortRead = true;
    return n;
}

tmsize_t TiffWrite(thandle_t h, void* buf, tmsize_t size) {
    Client* c = static_cast<Client*>(h);
    if (size <= 0) return 0;
    if (!c->write || c->pos + static_cast<uint64_t>(size) > 0xFFFFFFFFull || !MoveTo(c) ||
        !c->io.Write(buf, static_cast<uint32_t>(size))) {
        c->writeFailed = true;
        c->streamPos = ~0ull;
        return -1;
    }
    c->pos += static_cast<uint64_t>(size);
    c->streamPos = c->pos;
    if (c->pos > c->size) c->size = c->pos;
    return size;
}

toff_t TiffSeek(thandle_t h, toff_t off, int whence) {
    Client* c = static_cast<Client*>(h);
    int64_t base;
    switch (whence) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = static_cast<int64_t>(c->pos); break;
        case SEEK_END: base = static_cast<int64_t>(c->size); break;
        default: return static_cast<toff_t>(-1);
    }
    const int64_t target = base + static_cast<int64_t>(off);
    if (target < 0) return static_cast<toff_t>(-1);
    c->pos = static_cast<uint64_t>(target);
    return c->pos;
}

int TiffClose(thandle_t) { return 0; }

toff_t TiffSize(thandle_t h) { return static_cast<Client*>(h)->size; }

int TiffMap(thandle_t, void**, toff_t*) { return 0; }
void TiffUnmap(thandle_t, void*, toff_t) {}

int TiffOnError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    Client* c = static_cast<Client*>(user);
    if (c) {
        ++c->errors;
        char text[200];
        std::vsnprintf(text, sizeof text, fmt, ap);
        std::snprintf(c->message, sizeof c->message, "%s: %s", module ? module : "libtiff", text);
    }
    return 1;  // handled: the process-wide handlers are not called
}

int TiffOnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Process-wide handlers stay silent too, for messages libtiff raises
// before a handle has its own.
void SilenceLibtiff() {
    static std::once_flag once;
    std::call_once(once, []() {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

}  // namespace

CISTiffFile::CISTiffFile() = default;

CISTiffFile::~CISTiffFile() { Close(); }

bool CISTiffFile::ReadShort() const { return m_client && m_client->shortRead; }
bool CISTiffFile::WriteFailed() const { return m_client && m_client->writeFailed; }
uint32_t CISTiffFile::ErrorCount() const { return m_client ? m_client->errors : 0; }
void CISTiffFile::Note(const char* text) {
    if (m_client) std::snprintf(m_client->message, sizeof m_client->message, "%s", text ? text : "");
}

const char* CISTiffFile::Message() const { return m_client && m_client->message[0] ? m_client->message : nullptr; }

bool CISTiffFile::OpenRead(ISHANDLE handle) { return Open(handle, false); }
bool CISTiffFile::OpenWrite(ISHANDLE handle) { return Open(handle, true); }

bool CISTiffFile::Open(ISHANDLE handle, bool write) {
    Close();
    SilenceLibtiff();
    m_error = 0;
    m_client.reset(new Client(handle));
    Client* c = m_client.get();
    c->write = write;
    c->size = write ? 0 : c->io.Size();
    const char* name = c->io.Kind() == 1 && c->io.Path()[0] ? c->io.Path() : "memory";
#if TIFFLIB_VERSION >= 20221213
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts) {
        m_error = IS_ERR_MEMORY;
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(opts, TiffOnError, c);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, TiffOnWarning, c);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, static_cast<tmsize_t>(kISAllocLimit - 1));
    m_tif = TIFFClientOpenExt(name, write ? "w" : "rm", c, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                              TiffUnmap, opts);
    TIFFOpenOptionsFree(opts);
#else
    m_tif = TIFFClientOpen(name, write ? "w" : "rm", c, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                           TiffUnmap);
#endif
    if (!m_tif) {
        m_error = write ? IS_ERR_WRITE : (c->shortRead ? IS_ERR_READ : IS_ERR_FORMAT);
        return false;
    }
    return true;
}

bool CISTiffFile::Close() {
    bool ok = true;
    if (m_tif) {
        if (m_client && m_client->write) ok = TIFFFlush(m_tif) != 0;
        TIFFClose(m_tif);
        m_tif = nullptr;
    }
    if (m_client && m_client->writeFailed) ok = false;
    return ok;
}

namespace {

// ---- reading -----------------------------------------------------------------

struct CISTiffInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 1;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 0;
    uint16_t compression = 1;
    uint16_t orientation = 1;
    bool hasResolution = false;
    float xRes = 0, yRes = 0;
    uint16_t resUnit = 0;
};

uint32_t PelsPerMetre(const CISTiffInfo& info, float v) {
    if (!info.hasResolution || !(v > 0)) return 0;
    double m = v;
    if (info.resUnit == RESUNIT_INCH) m = v / 0.0254;
    else if (info.resUnit == RESUNIT_CENTIMETER) m = v * 100.0;
    else return 0;
    return m >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(m + 0.5);
}

class CISTiffCodec {
public:
    explicit CISTiffCodec(ISHANDLE handle) : m_handle(handle) {}

    uint32_t Error() const { return m_error; }
    void SetError(uint32_t code) { m_error = code; }
    const char* Message() const { return m_file.Message(); }

    // Opens the source and selects the page; fills the header values.
    void OpenPage(uint32_t page);
    const CISTiffInfo& Info() const { return m_info; }

    uint8_t* Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height);

    uint32_t Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t rowStride,
                   const uint8_t* palette, uint32_t compression, const ISResolution* resolution, uint32_t flags);

private:
    void CheckDataFits();
    void ReadTrueColour(uint32_t depth, uint32_t orientation, uint32_t flags, CISOutBufAllocator& out);
    void ReadIndexes(uint32_t depth, uint32_t orientation, uint32_t flags, CISOutBufAllocator& out,
                     uint8_t* table);
    void DecodeSamples(uint8_t* indexes);
    uint8_t* Allocate(CISOutBufAllocator& out, uint32_t w, uint32_t h, uint32_t depth, bool dib, bool pad,
                      uint64_t* rowBytes, uint64_t* pixelStart);

    void WriteStrips(const uint8_t* image, uint32_t rowStride, uint32_t bitCount, uint32_t flags);
    void WriteTiles(const uint8_t* image, uint32_t rowStride, uint32_t bitCount, uint32_t flags);
    void PrepareRow(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t bitCount, uint32_t flags) const;

    ISHANDLE m_handle;
    CISTiffFile m_file;
    uint32_t m_error = 0;
    CISTiffInfo m_info;
    uint32_t m_width = 0, m_height = 0;
};

void CISTiffCodec::OpenPage(uint32_t page) {
    if (!m_file.OpenRead(m_handle)) ISFail(m_file.Error(), "open");
    TIFF* tif = m_file.Get();
    if (page > 0 && (page > 0xFFFFu || !TIFFSetDirectory(tif, static_cast<tdir_t>(page)))) {
        ISFail(IS_ERR_PARAM, "no such page");
    }
    CISTiffInfo& i = m_info;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &i.width) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &i.height)) {
        ISFail(IS_ERR_FORMAT, "no size");
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &i.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &i.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &i.compression);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &i.photometric)) i.photometric = 0xFFFF;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &i.orientation);
    if (i.orientation < 1 || i.orientation > 8) i.orientation = 1;
    float x = 0, y = 0;
    bool hasX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) != 0;
    bool hasY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) != 0;
    if (hasX || hasY) {
        i.hasResolution = true;
        i.xRes = std::isfinite(x) ? x : 0;
        i.yRes = std::isfinite(y) ? y : 0;
    }
    if (!TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &i.resUnit)) i.resUnit = 0;
}

// The decoded picture cannot be larger than its compressed data allows; a
// header that promises more than the file could hold is refused before the
// picture buffers are allocated.
void CISTiffCodec::CheckDataFits() {
    TIFF* tif = m_file.Get();
    uint64_t ratio;
    switch (m_info.compression) {
        case COMPRESSION_NONE: ratio = 1; break;
        case COMPRESSION_PACKBITS: ratio = 128; break;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE: ratio = 1040; break;
        case COMPRESSION_LZW:
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG: ratio = 4096; break;
        // Fax and the newer schemes have no tight bound: only a large picture
        // from next to no data is taken for a bomb.
        default: ratio = 1u << 16; break;
    }
    uint64_t* counts = nullptr;
    const bool tiled = TIFFIsTiled(tif) != 0;
    if (!TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) || !counts) {
        ISFail(IS_ERR_FORMAT, "no strip byte counts");
    }
    const uint32_t n = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const uint64_t fileSize = TIFFClientdata(tif) ? static_cast<Client*>(TIFFClientdata(tif))->size : 0;
    uint64_t sum = 0;
    for (uint32_t k = 0; k < n && sum < fileSize; ++k) sum += counts[k];
    if (sum > fileSize) sum = fileSize;
    const uint64_t bits = static_cast<uint64_t>(m_info.bitsPerSample) * m_info.samplesPerPixel;
    long double raw = static_cast<long double>(m_info.width) * m_info.height * bits / 8;
    long double slack = 65536.0L;
    if (ratio > 4096) {
        // Measured against the RGBA picture a read makes, whatever the depth.
        raw = static_cast<long double>(m_info.width) * m_info.height * 4;
        slack = static_cast<long double>(kISBombFloor);
    }
    if (raw > static_cast<long double>(sum) * ratio + slack) ISFail(IS_ERR_READ, "image data cannot fit the file");
}

uint8_t* CISTiffCodec::Allocate(CISOutBufAllocator& out, uint32_t w, uint32_t h, uint32_t depth, bool dib, bool pad,
                                uint64_t* rowBytes, uint64_t* pixelStart) {
    const uint64_t dataRow = depth == 1 ? (static_cast<uint64_t>(w) + 7) / 8 : static_cast<uint64_t>(w) * (depth / 8);
    const uint64_t row = dib ? ISDibRowBytes(w, depth) : (pad ? ISRoundUp4(dataRow) : dataRow);
    const uint32_t table = dib && depth <= 8 ? (1u << depth) : 0;
    const uint64_t start = dib ? kISDibHeaderBytes + 4ull * table : 0;
    uint64_t pixels, total;
    if (!ISMulSize(row, h, &pixels) || !ISMulSize(pixels + start, 1, &total)) ISFail(IS_ERR_MEMORY, "too large");
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "output");
    if (dib) {
        ISPutDibHeader(out.Get(), w, h, depth, static_cast<uint32_t>(pixels), PelsPerMetre(m_info, m_info.xRes),
                       PelsPerMetre(m_info, m_info.yRes), table);
    }
    *rowBytes = row;
    *pixelStart = start;
    return out.Get();
}

void CISTiffCodec::ReadTrueColour(uint32_t depth, uint32_t orientation, uint32_t flags, CISOutBufAllocator& out) {
    TIFF* tif = m_file.Get();
    char emsg[1024] = {};
    if (!TIFFRGBAImageOK(tif, emsg)) {
        m_file.Note(emsg);
        ISFail(IS_ERR_PALETTE, "RGBA interface refuses the picture");
    }
    if (depth != 24 && depth != 32) {
        m_file.Note("Invalid bpp in ReadTIFFTrueColor!");
        ISFail(IS_ERR_VARIANT, "depth");
    }
    const uint32_t w = m_info.width, h = m_info.height;
    uint64_t rasterBytes;
    if (!ISMulSize3(w, h, 4, &rasterBytes)) ISFail(IS_ERR_MEMORY, "too large");
    CheckDataFits();

    CISInternalAllocator raster;
    if (!raster.Alloc(rasterBytes)) ISFail(IS_ERR_MEMORY, "raster");
    // libtiff rounds its own raw buffer up to 1 KB and then takes an
    // uncompressed tile whose size is not a multiple of that for damaged;
    // a buffer of exactly one tile avoids it.
    CISInternalAllocator rawTile;
    if (TIFFIsTiled(tif) && m_info.compression == COMPRESSION_NONE) {
        const uint64_t tileBytes = TIFFTileSize64(tif);
        if (tileBytes == 0 || tileBytes >= kISAllocLimit) ISFail(IS_ERR_FORMAT, "tile size");
        if (!rawTile.Alloc(tileBytes)) ISFail(IS_ERR_MEMORY, "tile");
        if (!TIFFReadBufferSetup(tif, rawTile.Get(), static_cast<tmsize_t>(tileBytes))) {
            ISFail(IS_ERR_MEMORY, "tile buffer");
        }
    }
    // Not stopping on error: a strip libtiff decodes with only a warning (a
    // fax line cut short) still counts; a libtiff error refuses the picture.
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, tif, 0, emsg)) {
        m_file.Note(emsg);
        ISFail(IS_ERR_PALETTE, "RGBA interface refuses the picture");
    }
    // Rows come as stored; the turn below covers all eight orientations.
    img.req_orientation = ORIENTATION_TOPLEFT;
    img.orientation = ORIENTATION_TOPLEFT;
    const uint32_t errorsBefore = m_file.ErrorCount();
    const int got = TIFFRGBAImageGet(&img, reinterpret_cast<uint32_t*>(raster.Get()), w, h);
    TIFFRGBAImageEnd(&img);
    if (!got || m_file.ErrorCount() != errorsBefore) ISFail(m_file.ReadFailureCode(), "decode");

    const CISOrient turn{orientation, w, h};
    const uint32_t ow = turn.OutWidth(), oh = turn.OutHeight();
    const bool dib = (flags & IS_READ_DIB) != 0;
    const bool bgr = dib || (flags & IS_READ_PAD_BGR);
    uint64_t row, start;
    uint8_t* base = Allocate(out, ow, oh, depth, dib, (flags & IS_READ_PAD_BGR) != 0, &row, &start);
    const uint32_t* px = reinterpret_cast<const uint32_t*>(raster.Get());
    const uint32_t bpp = depth / 8;
    for (uint32_t y = 0; y < oh; ++y) {
        uint8_t* dst = base + start + (dib ? oh - 1 - y : y) * row;
        for (uint32_t x = 0; x < ow; ++x, dst += bpp) {
            const uint32_t p = px[orientation == 1 ? static_cast<uint64_t>(y) * w + x : turn.Source(x, y)];
            uint32_t r = TIFFGetR(p), g = TIFFGetG(p), b = TIFFGetB(p);
            const uint32_t a = TIFFGetA(p);
            if (depth == 32 && a < 255) {
                // The RGBA interface hands out premultiplied colour.
                if (a == 0) {
                    r = g = b = 0;
                } else {
                    r = r >= a ? 255 : (r * 255 + a / 2) / a;
                    g = g >= a ? 255 : (g * 255 + a / 2) / a;
                    b = b >= a ? 255 : (b * 255 + a / 2) / a;
                }
            }
            dst[0] = static_cast<uint8_t>(bgr ? b : r);
            dst[1] = static_cast<uint8_t>(g);
            dst[2] = static_cast<uint8_t>(bgr ? r : b);
            if (depth == 32) dst[3] = static_cast<uint8_t>(a);
        }
    }
}

// One byte a pixel of the stored picture, from strips or tiles.
void CISTiffCodec::DecodeSamples(uint8_t* indexes) {
    TIFF* tif = m_file.Get();
    const uint32_t w = m_info.width, h = m_info.height;
    const uint32_t bps = m_info.bitsPerSample;
    const uint32_t mask = (1u << bps) - 1;
    auto unpack = [&](const uint8_t* src, uint8_t* dst, uint32_t count) {
        if (bps == 8) {
            std::memcpy(dst, src, count);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t bit = static_cast<uint64_t>(i) * bps;
            dst[i] = static_cast<uint8_t>((src[bit >> 3] >> (8 - bps - (bit & 7))) & mask);
        }
    };
    // A block that decodes with only a warning (a fax line cut short) keeps
    // what arrived, the rest zero; a libtiff error refuses the picture.
    const uint32_t errorsBefore = m_file.ErrorCount();
    auto decode = [&](tmsize_t got, const char* what) {
        if (got < 0 && m_file.ErrorCount() != errorsBefore) ISFail(m_file.ReadFailureCode(), what);
    };
    if (TIFFIsTiled(tif)) {
        uint32_t tw = 0, th = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
        const uint64_t tileBytes = TIFFTileSize64(tif);
        const uint64_t tileRow = TIFFTileRowSize64(tif);
        if (tw == 0 || th == 0 || tileBytes == 0 || tileBytes >= kISAllocLimit ||
            tileRow * th > tileBytes || (static_cast<uint64_t>(tw) * bps + 7) / 8 > tileRow) {
            ISFail(IS_ERR_FORMAT, "tile size");
        }
        CISInternalAllocator tile;
        if (!tile.Alloc(tileBytes)) ISFail(IS_ERR_MEMORY, "tile");
        for (uint32_t ty = 0; ty < h; ty += th) {
            for (uint32_t tx = 0; tx < w; tx += tw) {
                std::memset(tile.Get(), 0, tileBytes);
                decode(TIFFReadEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.Get(),
                                           static_cast<tmsize_t>(tileBytes)),
                       "tile");
                const uint32_t cols = tw < w - tx ? tw : w - tx;
                for (uint32_t r = 0; r < th && ty + r < h; ++r) {
                    unpack(tile.Get() + r * tileRow, indexes + static_cast<uint64_t>(ty + r) * w + tx, cols);
                }
            }
        }
        return;
    }
    uint32_t rps = h;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
    if (rps == 0 || rps > h) rps = h;
    const uint64_t line = TIFFScanlineSize64(tif);
    const uint64_t stripBytes = TIFFStripSize64(tif);
    if (line == 0 || (static_cast<uint64_t>(w) * bps + 7) / 8 > line || stripBytes >= kISAllocLimit ||
        stripBytes < line * rps) {
        ISFail(IS_ERR_FORMAT, "strip size");
    }
    CISInternalAllocator strip;
    if (!strip.Alloc(stripBytes)) ISFail(IS_ERR_MEMORY, "strip");
    for (uint32_t y = 0, s = 0; y < h; y += rps, ++s) {
        std::memset(strip.Get(), 0, stripBytes);
        decode(TIFFReadEncodedStrip(tif, s, strip.Get(), static_cast<tmsize_t>(stripBytes)), "strip");
        for (uint32_t r = 0; r < rps && y + r < h; ++r) {
            unpack(strip.Get() + r * line, indexes + static_cast<uint64_t>(y + r) * w, w);
        }
    }
}

void CISTiffCodec::ReadIndexes(uint32_t depth, uint32_t orientation, uint32_t flags, CISOutBufAllocator& out,
                               uint8_t* table) {
    TIFF* tif = m_file.Get();
    const CISTiffInfo& i = m_info;
    const uint32_t bps = i.bitsPerSample;
    const bool known = i.photometric == PHOTOMETRIC_MINISWHITE || i.photometric == PHOTOMETRIC_MINISBLACK ||
                       i.photometric == PHOTOMETRIC_PALETTE;
    if (i.samplesPerPixel != 1 || !known || (bps != 1 && bps != 2 && bps != 4 && bps != 8) ||
        (depth == 1 && bps != 1)) {
        ISFail(IS_ERR_DEPTH, "not an index picture at this depth");
    }
    const uint32_t entries = 1u << bps;
    if (i.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) || !r || !g || !b) ISFail(IS_ERR_PALETTE, "no colour map");
        // Maps written with 8-bit values are taken as they are.
        bool eightBit = true;
        for (uint32_t k = 0; k < entries; ++k) {
            if (r[k] > 255 || g[k] > 255 || b[k] > 255) eightBit = false;
        }
        auto scale = [eightBit](uint16_t v) {
            return static_cast<uint8_t>(eightBit ? v : static_cast<uint32_t>(v) * 255 / 65535);
        };
        for (uint32_t k = 0; k < entries; ++k) {
            table[4 * k] = scale(b[k]);
            table[4 * k + 1] = scale(g[k]);
            table[4 * k + 2] = scale(r[k]);
            table[4 * k + 3] = 0;
        }
    } else {
        for (uint32_t k = 0; k < entries; ++k) {
            uint8_t v = static_cast<uint8_t>(k * 255 / (entries - 1));
            if (i.photometric == PHOTOMETRIC_MINISWHITE) v = static_cast<uint8_t>(255 - v);
            table[4 * k] = table[4 * k + 1] = table[4 * k + 2] = v;
            table[4 * k + 3] = 0;
        }
    }
    for (uint32_t k = entries; k < 256; ++k) std::memcpy(table + 4 * k, table, 4);

    const uint32_t w = i.width, h = i.height;
    uint64_t count;
    if (!ISMulSize(w, h, &count)) ISFail(IS_ERR_MEMORY, "too large");
    CheckDataFits();
    CISInternalAllocator indexes;
    if (!indexes.Alloc(count)) ISFail(IS_ERR_MEMORY, "indexes");
    DecodeSamples(indexes.Get());

    const CISOrient turn{orientation, w, h};
    const uint32_t ow = turn.OutWidth(), oh = turn.OutHeight();
    const bool dib = (flags & IS_READ_DIB) != 0;
    uint64_t row, start;
    uint8_t* base = Allocate(out, ow, oh, depth, dib, (flags & IS_READ_PAD_BGR) != 0, &row, &start);
    if (dib) std::memcpy(base + kISDibHeaderBytes, table, 4ull * (1u << depth));
    const uint8_t* src = indexes.Get();
    for (uint32_t y = 0; y < oh; ++y) {
        uint8_t* dst = base + start + (dib ? oh - 1 - y : y) * row;
        for (uint32_t x = 0; x < ow; ++x) {
            const uint8_t v = src[orientation == 1 ? static_cast<uint64_t>(y) * w + x : turn.Source(x, y)];
            if (depth == 8) {
                dst[x] = v;
            } else if (v & 1) {
                dst[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
            }
        }
    }
}

uint8_t* CISTiffCodec::Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height) {
    if (depth != 1 && depth != 8 && depth != 16 && depth != 24 && depth != 32) ISFail(IS_ERR_PARAM, "depth");
    const bool index = depth <= 8;
    if (index && !palette && !(flags & IS_READ_DIB)) ISFail(IS_ERR_PARAM, "palette");
    if (m_info.width == 0 || m_info.height == 0) ISFail(IS_ERR_FORMAT, "size");
    const uint32_t orientation = (flags & IS_TIFF_IGNORE_ORIENTATION) ? 1 : m_info.orientation;
    CISOutBufAllocator out;
    if (index) {
        uint8_t table[256 * 4] = {};
        ReadIndexes(depth, orientation, flags, out, table);
        if (palette) std::memcpy(palette, table, sizeof table);
    } else {
        ReadTrueColour(depth, orientation, flags, out);
    }
    const CISOrient turn{orientation, m_info.width, m_info.height};
    *width = turn.OutWidth();
    *height = turn.OutHeight();
    m_file.Close();
    return out.Release();
}

// ---- writing -----------------------------------------------------------------

bool FaxScheme(uint32_t c) {
    return c == COMPRESSION_CCITTRLE || c == COMPRESSION_CCITTFAX3 || c == COMPRESSION_CCITTFAX4 ||
           c == COMPRESSION_CCITTRLEW;
}

void CISTiffCodec::PrepareRow(uint8_t* dst, const uint8_t* src, uint32_t count, uint32_t bitCount,
                              uint32_t flags) const {
    if (bitCount == 32 && !(flags & IS_TIFF_CMYK)) {
        // Stored as associated alpha, so colour is premultiplied.
        for (uint32_t x = 0; x < count; ++x) {
            const uint8_t* p = src + 4ull * x;
            uint8_t* q = dst + 4ull * x;
            const uint32_t a = p[3];
            q[0] = static_cast<uint8_t>((p[0] * a + 127) / 255);
            q[1] = static_cast<uint8_t>((p[1] * a + 127) / 255);
            q[2] = static_cast<uint8_t>((p[2] * a + 127) / 255);
            q[3] = static_cast<uint8_t>(a);
        }
        return;
    }
    std::memcpy(dst, src, static_cast<size_t>((static_cast<uint64_t>(count) * bitCount + 7) / 8));
}

void CISTiffCodec::WriteStrips(const uint8_t* image, uint32_t rowStride, uint32_t bitCount, uint32_t flags) {
    TIFF* tif = m_file.Get();
    const uint64_t line = TIFFScanlineSize64(m_file.Get());
    const uint64_t need = (static_cast<uint64_t>(m_width) * bitCount + 7) / 8;
    if (line < need || line >= kISAllocLimit) ISFail(IS_ERR_PARAM, "scan line size");
    CISInternalAllocator work;
    if (!work.Alloc(line)) ISFail(IS_ERR_MEMORY, "work row");
    for (uint32_t y = 0; y < m_height; ++y) {
        PrepareRow(work.Get(), image + static_cast<uint64_t>(y) * rowStride, m_width, bitCount, flags);
        if (TIFFWriteScanline(tif, work.Get(), y, 0) < 0) ISFail(IS_ERR_WRITE, "scan line");
    }
}

void CISTiffCodec::WriteTiles(const uint8_t* image, uint32_t rowStride, uint32_t bitCount, uint32_t flags) {
    TIFF* tif = m_file.Get();
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const uint64_t tileBytes = TIFFTileSize64(tif);
    const uint64_t tileRow = TIFFTileRowSize64(tif);
    if (tw == 0 || th == 0 || tileBytes == 0 || tileBytes >= kISAllocLimit) ISFail(IS_ERR_PARAM, "tile size");
    CISInternalAllocator tile;
    if (!tile.Alloc(tileBytes)) ISFail(IS_ERR_MEMORY, "tile");
    for (uint32_t ty = 0; ty < m_height; ty += th) {
        for (uint32_t tx = 0; tx < m_width; tx += tw) {
            std::memset(tile.Get(), 0, static_cast<size_t>(tileBytes));
            const uint32_t cols = tw < m_width - tx ? tw : m_width - tx;
            // Tile widths are multiples of 16, so tx starts on a byte.
            const uint64_t offset = static_cast<uint64_t>(tx) * bitCount / 8;
            for (uint32_t r = 0; r < th && ty + r < m_height; ++r) {
                PrepareRow(tile.Get() + r * tileRow, image + static_cast<uint64_t>(ty + r) * rowStride + offset, cols,
                           bitCount, flags);
            }
            if (TIFFWriteEncodedTile(tif, TIFFComputeTile(tif, tx, ty, 0, 0), tile.Get(),
                                     static_cast<tmsize_t>(tileBytes)) < 0) {
                ISFail(IS_ERR_WRITE, "tile");
            }
        }
    }
}

uint32_t CISTiffCodec::Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                             uint32_t rowStride, const uint8_t* palette, uint32_t compression,
                             const ISResolution* resolution, uint32_t flags) {
    if (!image) ISFail(IS_ERR_PARAM, "image");
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
        ISFail(IS_ERR_PARAM, "bit count");
    }
    const bool indexed = bitCount <= 8;
    if (indexed && !palette) ISFail(IS_ERR_PARAM, "palette");
    if (width == 0 || height == 0) ISFail(IS_ERR_PARAM, "size");
    const uint64_t rowBytes = (static_cast<uint64_t>(width) * bitCount + 7) / 8;
    if (rowStride < rowBytes) ISFail(IS_ERR_PARAM, "row stride");
    uint64_t imageBytes;
    if (!ISMulSize(rowBytes, height, &imageBytes)) ISFail(IS_ERR_PARAM, "picture too large");
    m_width = width;
    m_height = height;

    // Two-colour pictures whose palette is black and white are stored as
    // bilevel grey, which the fax schemes need.
    uint16_t photometric;
    const bool cmyk = bitCount == 32 && (flags & IS_TIFF_CMYK);
    if (bitCount == 1 && palette[0] == 0 && palette[1] == 0 && palette[2] == 0 && palette[4] == 255 &&
        palette[5] == 255 && palette[6] == 255) {
        photometric = PHOTOMETRIC_MINISBLACK;
    } else if (bitCount == 1 && palette[0] == 255 && palette[1] == 255 && palette[2] == 255 && palette[4] == 0 &&
               palette[5] == 0 && palette[6] == 0) {
        photometric = PHOTOMETRIC_MINISWHITE;
    } else if (indexed) {
        photometric = PHOTOMETRIC_PALETTE;
    } else if (bitCount == 16) {
        photometric = PHOTOMETRIC_MINISBLACK;
    } else {
        photometric = cmyk ? PHOTOMETRIC_SEPARATED : PHOTOMETRIC_RGB;
    }
    const bool bilevel = photometric == PHOTOMETRIC_MINISBLACK && bitCount == 1;
    const bool bilevelWhite = photometric == PHOTOMETRIC_MINISWHITE;
    if (compression == 0 || (FaxScheme(compression) && !(bilevel || bilevelWhite))) compression = COMPRESSION_NONE;
    if (compression > 0xFFFF || !TIFFIsCODECConfigured(static_cast<uint16_t>(compression))) {
        ISFail(IS_ERR_COMPRESSION, "compression not available");
    }
    if (compression == COMPRESSION_JPEG && bitCount != 24 && !cmyk) ISFail(IS_ERR_COMPRESSION, "JPEG needs 24 bits");
    if (compression == COMPRESSION_OJPEG) ISFail(IS_ERR_COMPRESSION, "old-style JPEG cannot be written");
    const bool tiles = (flags & IS_TIFF_TILES) != 0;

    if (!m_file.OpenWrite(m_handle)) ISFail(m_file.Error(), "open");
    TIFF* tif = m_file.Get();
    bool ok = true;
    auto set = [&ok](int result) { ok = ok && result != 0; };

    const uint16_t samples = bitCount == 32 ? 4 : (bitCount == 24 ? 3 : 1);
    const uint16_t bits = indexed ? static_cast<uint16_t>(bitCount) : (bitCount == 16 ? 16 : 8);
    set(TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width));
    set(TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height));
    set(TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples));
    set(TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits));
    set(TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG));
    set(TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric));
    if (bitCount == 32) {
        if (cmyk) {
            set(TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK));
        } else {
            const uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
            set(TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra));
        }
    }
    std::vector<uint16_t> map;
    if (photometric == PHOTOMETRIC_PALETTE) {
        const uint32_t n = 1u << bitCount;
        map.resize(3ull * n);
        for (uint32_t k = 0; k < n; ++k) {
            map[k] = static_cast<uint16_t>(palette[4 * k + 2] * 257);
            map[n + k] = static_cast<uint16_t>(palette[4 * k + 1] * 257);
            map[2 * n + k] = static_cast<uint16_t>(palette[4 * k] * 257);
        }
        set(TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n));
    }
    set(TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(compression)));
    if (compression == COMPRESSION_JPEG) {
        set(TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 75));
        set(TIFFSetField(tif, TIFFTAG_JPEGTABLESMODE, 0));
    }
    if ((flags & IS_TIFF_PREDICTOR) && bits >= 8 &&
        (compression == COMPRESSION_LZW || compression == COMPRESSION_ADOBE_DEFLATE ||
         compression == COMPRESSION_DEFLATE)) {
        set(TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL));
    }
    set(TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(ORIENTATION_TOPLEFT)));

    float xRes = 1, yRes = 1;
    uint16_t unit = RESUNIT_NONE;
    if (resolution) {
        if (std::isfinite(resolution->xRes) && resolution->xRes >= 0) xRes = static_cast<float>(resolution->xRes);
        if (std::isfinite(resolution->yRes) && resolution->yRes >= 0) yRes = static_cast<float>(resolution->yRes);
        if (resolution->unit >= RESUNIT_NONE && resolution->unit <= RESUNIT_CENTIMETER) {
            unit = static_cast<uint16_t>(resolution->unit);
        }
    }
    set(TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, unit));
    set(TIFFSetField(tif, TIFFTAG_XRESOLUTION, xRes));
    set(TIFFSetField(tif, TIFFTAG_YRESOLUTION, yRes));

    char software[512];
    std::snprintf(software, sizeof software, "ZerUvadod (%s), using %s", kISVersionText, TIFFGetVersion());
    set(TIFFSetField(tif, TIFFTAG_SOFTWARE, software));

    if (!tiles) {
        uint32_t rps;
        if (compression == COMPRESSION_JPEG) {
            rps = height;
        } else {
            rps = TIFFDefaultStripSize(tif, static_cast<uint32_t>(-1));
        }
        set(TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rps));
    } else {
        uint32_t tw = 0, th = 0;
        TIFFDefaultTileSize(tif, &tw, &th);
        set(TIFFSetField(tif, TIFFTAG_TILEWIDTH, tw));
        set(TIFFSetField(tif, TIFFTAG_TILELENGTH, th));
    }

    if (!ok) ISFail(IS_ERR_PARAM, "field refused");

    if (tiles) {
        WriteTiles(image, rowStride, bitCount, flags);
    } else {
        WriteStrips(image, rowStride, bitCount, flags);
    }
    if (!m_file.Close()) ISFail(IS_ERR_WRITE, "close");
    CISIO io(m_handle);
    if (!io.Flush()) ISFail(IS_ERR_WRITE, "flush");
    return io.Size();
}

void Finish(const CISTiffCodec& codec, const char* name) {
    ISRecordError(codec.Error(), name, codec.Error() ? codec.Message() : nullptr);
}

}  // namespace

extern "C" {

IS_BOOL IS40_GetTIFFDims(ISHANDLE handle, uint32_t page, uint32_t* width, uint32_t* height, uint32_t* bitCount,
                         ISResolution* resolution, uint32_t /*flags*/) {
    static const char kName[] = "IS40_GetTIFFDims";
    if (!ISEnter(kName, !width || !height || !bitCount, handle)) return 0;
    CISTiffCodec codec(handle);
    IS_BOOL ok = ISGuarded(codec, [&]() -> IS_BOOL {
        codec.OpenPage(page);
        const CISTiffInfo& i = codec.Info();
        *width = i.width;
        *height = i.height;
        *bitCount = static_cast<uint32_t>(i.bitsPerSample) * i.samplesPerPixel;
        if (resolution) {
            resolution->xRes = std::trunc(i.xRes);
            resolution->yRes = std::trunc(i.yRes);
            resolution->unit = i.resUnit;
        }
        return 1;
    });
    Finish(codec, kName);
    return ok;
}

uint8_t* IS40_ReadTIFF(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette,
                       uint32_t page, uint32_t flags) {
    static const char kName[] = "IS40_ReadTIFF";
    if (!ISEnter(kName, !width || !height, handle)) return nullptr;
    CISTiffCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() -> uint8_t* {
        if (bitDepth != 1 && bitDepth != 8 && bitDepth != 16 && bitDepth != 24 && bitDepth != 32) {
            ISFail(IS_ERR_PARAM, "depth");
        }
        codec.OpenPage(page);
        return codec.Read(bitDepth, palette, flags, width, height);
    });
    Finish(codec, kName);
    return out;
}

uint32_t IS40_WriteTIFF(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                        uint32_t rowStride, const uint8_t* palette, uint32_t compression,
                        const ISResolution* resolution, uint32_t flags) {
    static const char kName[] = "IS40_WriteTIFF";
    if (!ISEnter(kName, false, handle)) return 0;
    CISTiffCodec codec(handle);
    uint32_t size = ISGuarded(codec, [&]() {
        return codec.Write(image, width, height, bitCount, rowStride, palette, compression, resolution, flags);
    });
    Finish(codec, kName);
    return size;
}

}  // extern "C"

uint8_t* ISReadTIFFFirstPage(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth, uint8_t* palette,
                             uint32_t flags) {
    return IS40_ReadTIFF(handle, width, height, bitDepth, palette, 0, flags);
}
