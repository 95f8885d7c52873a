// BMP reader, dimension query and writer.
//
// Reads Windows (40-byte header) and OS/2 (12-byte header) bitmaps at 1, 4,
// 8, 16, 24 and 32 bits, uncompressed, RLE8, RLE4 and bit fields. Writes
// uncompressed files at every bit count, RLE8 for 8-bit data, and packed
// DIBs as they are.
#include "codec/isframe.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;

constexpr uint32_t kWriteRle8 = 1;
constexpr uint32_t kWriteDib = 2;
constexpr uint32_t kWriteRoundStride = 0x80000000u;

// Windows headers: the 40-byte one and its later, longer versions (the
// 52- and 56-byte mask headers, version 4 and version 5).
constexpr uint32_t kV5HeaderBytes = 124;
bool IsInfoHeaderSize(uint32_t size) { return size == kISDibHeaderBytes || size == 52 || size == 56 || size == 108 || size == 124; }

// One channel of a bit-field pixel: the masked bits moved so that the mask's
// top bit lands on bit 7. Narrow masks are not stretched; wide ones keep
// their top 8 bits.
struct CISMaskChannel {
    uint32_t mask = 0;
    int shift = 0;  // positive: right, negative: left

    void Set(uint32_t m) {
        mask = m;
        int top = 31;
        if (m) {
            while (!(m & (1u << top))) --top;
        }
        shift = top - 7;
    }
    uint8_t Get(uint32_t pixel) const {
        uint32_t v = pixel & mask;
        return static_cast<uint8_t>(shift >= 0 ? v >> shift : v << -shift);
    }
};

// The alpha channel of a bit-field pixel, scaled to 0..255 whatever its
// width; opaque without a mask.
struct CISAlphaChannel {
    uint32_t mask = 0;
    int low = 0;
    uint32_t top = 0;  // the mask's largest value, shifted down

    void Set(uint32_t m) {
        mask = m;
        low = 0;
        if (!m) return;
        while (!(m & (1u << low))) ++low;
        top = m >> low;
    }
    uint8_t Get(uint32_t pixel) const {
        if (!mask) return 255;
        const uint64_t v = (pixel & mask) >> low;
        return static_cast<uint8_t>((v * 255 + top / 2) / top);
    }
};

struct CISBmpHeader {
    uint32_t pixelOffset = 0;
    uint32_t headerSize = 0;
    uint32_t width = 0;
    int32_t storedHeight = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kISBiRgb;
    uint32_t xPelsPerMetre = 0;
    uint32_t yPelsPerMetre = 0;
    uint32_t coloursUsed = 0;
    CISMaskChannel red, green, blue;
    CISAlphaChannel alpha;
    bool masksRead = false;
    uint8_t table[256 * 4] = {};  // B, G, R, reserved; unused entries copy entry 0
};

// Places decoded pixels into the output block in the requested layout.
class CISBmpSink {
public:
    CISBmpSink(const CISBmpHeader& h, uint8_t* base, uint64_t pixelStart, uint64_t rowBytes,
               uint32_t depth, bool bgr, bool dibRows)
        : m_h(h), m_base(base), m_start(pixelStart), m_row(rowBytes), m_depth(depth), m_bgr(bgr),
          m_dibRows(dibRows) {}

    // Output row of a file row (file rows counted in storage order).
    uint8_t* Row(uint32_t fileRow) const {
        uint32_t top = m_h.topDown ? fileRow : m_h.height - 1 - fileRow;
        uint32_t physical = m_dibRows ? m_h.height - 1 - top : top;
        return m_base + m_start + static_cast<uint64_t>(physical) * m_row;
    }

    void PutIndex(uint8_t* row, uint32_t x, uint8_t index) const {
        switch (m_depth) {
            case 1:
                if (index & 1) row[x >> 3] |= static_cast<uint8_t>(0x80u >> (x & 7));
                break;
            case 8:
                row[x] = index;
                break;
            default: {
                const uint8_t* e = m_h.table + 4 * index;
                PutColour(row, x, e[2], e[1], e[0], 255);
            }
        }
    }

    // Only reached for 24- and 32-bit results.
    void PutColour(uint8_t* row, uint32_t x, uint8_t r, uint8_t g, uint8_t b, uint8_t a) const {
        uint8_t* p = row + static_cast<uint64_t>(x) * (m_depth / 8);
        p[0] = m_bgr ? b : r;
        p[1] = g;
        p[2] = m_bgr ? r : b;
        if (m_depth == 32) p[3] = a;
    }

private:
    const CISBmpHeader& m_h;
    uint8_t* m_base;
    uint64_t m_start;
    uint64_t m_row;
    uint32_t m_depth;
    bool m_bgr;
    bool m_dibRows;
};

class CISBmpCodec {
public:
    // packed: the source holds a packed DIB, without the file header.
    explicit CISBmpCodec(ISHANDLE handle, bool packed = false) : m_io(handle), m_packed(packed) {}

    uint32_t Error() const { return m_error; }
    void SetError(uint32_t code) { m_error = code; }

    // File header and info header; with withTable also the masks and the
    // colour table, leaving the source after them.
    void ReadHeaders(bool withTable);
    const CISBmpHeader& Header() const { return m_h; }

    uint8_t* Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height);

    uint32_t Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                   uint32_t rowStride, uint32_t colourCount, const uint8_t* palette,
                   const ISResolution* resolution, uint32_t flags);

private:
    void ReadTable();
    void DecodeRows(const CISBmpSink& sink, uint8_t* work, uint32_t fileRow);
    void DecodeRle(const CISBmpSink& sink, CISByteReader& in);
    void ConvertRow(const CISBmpSink& sink, uint8_t* out, const uint8_t* in) const;

    uint32_t WritePackedDib(const uint8_t* dib);
    void Put(const void* data, uint64_t count, uint32_t code);
    uint32_t Finish();

    CISIO m_io;
    bool m_packed;
    uint32_t m_error = 0;
    CISBmpHeader m_h;
};

void CISBmpCodec::ReadHeaders(bool withTable) {
    if (!m_packed) {
        uint8_t fh[kFileHeaderBytes];
        if (!m_io.ReadExact(fh, sizeof fh)) ISFail(IS_ERR_READ, "file header");
        if (fh[0] != 'B' || fh[1] != 'M') ISFail(IS_ERR_FORMAT, "signature");
        m_h.pixelOffset = ISGet32LE(fh + 10);
    }

    uint8_t ih[kISDibHeaderBytes];
    if (!m_io.ReadExact(ih, 4)) ISFail(IS_ERR_READ, "header size");
    m_h.headerSize = ISGet32LE(ih);

    if (m_h.headerSize == kCoreHeaderBytes) {
        if (!m_io.ReadExact(ih + 4, kCoreHeaderBytes - 4)) ISFail(IS_ERR_READ, "core header");
        m_h.width = ISGet16LE(ih + 4);
        m_h.height = ISGet16LE(ih + 6);
        m_h.storedHeight = static_cast<int32_t>(m_h.height);
        m_h.bitCount = ISGet16LE(ih + 10);
    } else if (IsInfoHeaderSize(m_h.headerSize)) {
        if (!m_io.ReadExact(ih + 4, kISDibHeaderBytes - 4)) ISFail(IS_ERR_READ, "info header");
        int32_t w = static_cast<int32_t>(ISGet32LE(ih + 4));
        if (w < 1) ISFail(IS_ERR_FORMAT, "width");
        m_h.width = static_cast<uint32_t>(w);
        m_h.storedHeight = static_cast<int32_t>(ISGet32LE(ih + 8));
        m_h.topDown = m_h.storedHeight < 0;
        int64_t hh = m_h.storedHeight;
        m_h.height = static_cast<uint32_t>(hh < 0 ? -hh : hh);
        m_h.bitCount = ISGet16LE(ih + 14);
        m_h.compression = ISGet32LE(ih + 16);
        m_h.xPelsPerMetre = ISGet32LE(ih + 24);
        m_h.yPelsPerMetre = ISGet32LE(ih + 28);
        m_h.coloursUsed = ISGet32LE(ih + 32);
        if (m_h.headerSize > kISDibHeaderBytes) {
            // Later header versions extend the 40-byte one; their bit-field
            // masks sit where the separate masks would follow it.
            uint8_t ext[kV5HeaderBytes - kISDibHeaderBytes] = {};
            if (!m_io.ReadExact(ext, m_h.headerSize - kISDibHeaderBytes)) ISFail(IS_ERR_READ, "extended header");
            if (m_h.compression == kISBiBitFields) {
                m_h.red.Set(ISGet32LE(ext));
                m_h.green.Set(ISGet32LE(ext + 4));
                m_h.blue.Set(ISGet32LE(ext + 8));
                if (m_h.headerSize >= 56) m_h.alpha.Set(ISGet32LE(ext + 12));
                m_h.masksRead = true;
            }
        }
    } else {
        ISFail(IS_ERR_FORMAT, "header size");
    }

    if (m_h.width < 1) ISFail(IS_ERR_FORMAT, "width");
    // A picture without rows has nothing to show and no buffer to return.
    if (m_h.height < 1) ISFail(IS_ERR_FORMAT, "height");
    if (!ISValidDibBits(m_h.bitCount)) ISFail(IS_ERR_FORMAT, "bit count");
    switch (m_h.compression) {
        case kISBiRgb: break;
        case kISBiRle8:
            if (m_h.bitCount != 8) ISFail(IS_ERR_FORMAT, "RLE8 needs 8 bits");
            break;
        case kISBiRle4:
            if (m_h.bitCount != 4) ISFail(IS_ERR_FORMAT, "RLE4 needs 4 bits");
            break;
        case kISBiBitFields:
            if (m_h.bitCount != 16 && m_h.bitCount != 32) ISFail(IS_ERR_FORMAT, "bit fields need 16 or 32 bits");
            break;
        default: ISFail(IS_ERR_FORMAT, "compression");
    }
    if (withTable) {
        ReadTable();
        // A packed DIB's pixels follow its masks and colour table. A block
        // comes whole from its caller, so one that promises more colours
        // or rows than it holds is malformed, not cut short.
        if (m_packed) {
            m_h.pixelOffset = m_io.Tell();
            if (m_h.bitCount <= 8 && m_h.coloursUsed > (1u << m_h.bitCount)) ISFail(IS_ERR_FORMAT, "colours used");
            uint64_t rows = 0;
            const bool fits = ISMulSize(ISDibRowBytes(m_h.width, m_h.bitCount), m_h.height, &rows);
            if (m_h.compression != kISBiRle8 && m_h.compression != kISBiRle4 &&
                (!fits || rows > static_cast<uint64_t>(m_io.Size()) - m_h.pixelOffset)) {
                ISFail(IS_ERR_FORMAT, "rows past the block");
            }
        }
    }
}

void CISBmpCodec::ReadTable() {
    if (m_h.compression == kISBiBitFields && !m_h.masksRead) {
        // Some writers mark bit fields but leave the masks out; their pixel
        // data then starts right after the header, so take the defaults.
        if (m_packed || m_h.pixelOffset >= kFileHeaderBytes + kISDibHeaderBytes + kISDibMaskBytes) {
            uint8_t masks[kISDibMaskBytes];
            if (!m_io.ReadExact(masks, sizeof masks)) ISFail(IS_ERR_READ, "masks");
            m_h.red.Set(ISGet32LE(masks));
            m_h.green.Set(ISGet32LE(masks + 4));
            m_h.blue.Set(ISGet32LE(masks + 8));
        } else if (m_h.bitCount == 16) {
            m_h.red.Set(0x7C00);
            m_h.green.Set(0x03E0);
            m_h.blue.Set(0x001F);
        } else {
            m_h.red.Set(0x00FF0000);
            m_h.green.Set(0x0000FF00);
            m_h.blue.Set(0x000000FF);
        }
    }
    if (m_h.bitCount > 8) return;

    uint32_t count;
    uint32_t entryBytes;
    if (m_h.headerSize == kCoreHeaderBytes) {
        // OS/2 tables have no count; a short table shows in the pixel offset.
        entryBytes = 3;
        count = 1u << m_h.bitCount;
        const uint32_t start = kFileHeaderBytes + kCoreHeaderBytes;
        if (m_h.pixelOffset >= start && (m_h.pixelOffset - start) / 3 < count) {
            count = (m_h.pixelOffset - start) / 3;
        }
    } else {
        entryBytes = 4;
        count = m_h.coloursUsed ? m_h.coloursUsed : 1u << m_h.bitCount;
        if (count > 256) count = 256;
    }
    uint8_t raw[256 * 4];
    if (!m_io.ReadExact(raw, count * entryBytes)) ISFail(IS_ERR_READ, "colour table");
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(m_h.table + 4 * i, raw + entryBytes * i, entryBytes);
        if (entryBytes == 3) m_h.table[4 * i + 3] = 0;
    }
    for (uint32_t i = count ? count : 1; i < 256; ++i) std::memcpy(m_h.table + 4 * i, m_h.table, 4);
}

void CISBmpCodec::ConvertRow(const CISBmpSink& sink, uint8_t* out, const uint8_t* in) const {
    const uint32_t w = m_h.width;
    switch (m_h.bitCount) {
        case 1:
            for (uint32_t x = 0; x < w; ++x) sink.PutIndex(out, x, (in[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case 4:
            for (uint32_t x = 0; x < w; ++x) sink.PutIndex(out, x, (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
            break;
        case 8:
            for (uint32_t x = 0; x < w; ++x) sink.PutIndex(out, x, in[x]);
            break;
        case 16:
            for (uint32_t x = 0; x < w; ++x) {
                uint32_t p = ISGet16LE(in + 2 * static_cast<uint64_t>(x));
                if (m_h.compression == kISBiBitFields) {
                    sink.PutColour(out, x, m_h.red.Get(p), m_h.green.Get(p), m_h.blue.Get(p), m_h.alpha.Get(p));
                } else {
                    sink.PutColour(out, x, static_cast<uint8_t>(((p >> 10) & 31) * 255 / 31),
                                   static_cast<uint8_t>(((p >> 5) & 31) * 255 / 31),
                                   static_cast<uint8_t>((p & 31) * 255 / 31), 255);
                }
            }
            break;
        case 24:
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = in + 3 * static_cast<uint64_t>(x);
                sink.PutColour(out, x, p[2], p[1], p[0], 255);
            }
            break;
        default:
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* q = in + 4 * static_cast<uint64_t>(x);
                if (m_h.compression == kISBiBitFields) {
                    uint32_t p = ISGet32LE(q);
                    sink.PutColour(out, x, m_h.red.Get(p), m_h.green.Get(p), m_h.blue.Get(p), m_h.alpha.Get(p));
                } else {
                    sink.PutColour(out, x, q[2], q[1], q[0], q[3]);
                }
            }
            break;
    }
}

void CISBmpCodec::DecodeRows(const CISBmpSink& sink, uint8_t* work, uint32_t fileRow) {
    // The pixels of a row without its padding, which some writers leave off
    // the last row.
    const uint64_t pixelBytes = (static_cast<uint64_t>(m_h.width) * m_h.bitCount + 7) / 8;
    for (uint32_t y = 0; y < m_h.height; ++y) {
        std::memset(work, 0, fileRow);
        const uint32_t got = m_io.Read(work, fileRow);
        if (got == 0) {
            // Truncated: keep the rows read so far, report the short source.
            m_error = IS_ERR_READ;
            return;
        }
        ConvertRow(sink, sink.Row(y), work);
        if (got < pixelBytes) {
            // A row cut short is kept as far as it goes, but never as success.
            m_error = IS_ERR_READ;
            return;
        }
    }
}

// Published RLE rules: (count, value) runs, 0 0 end of line, 0 1 end of
// bitmap, 0 2 dx dy delta, 0 n absolute run padded to 16 bits. Runs past a
// row's end are clipped; data beyond the last row ends decoding.
void CISBmpCodec::DecodeRle(const CISBmpSink& sink, CISByteReader& in) {
    const bool four = m_h.compression == kISBiRle4;
    const uint32_t w = m_h.width;
    uint32_t x = 0;
    uint32_t y = 0;
    uint8_t* row = sink.Row(0);
    auto put = [&](uint8_t index) {
        if (x < w) sink.PutIndex(row, x++, index);
    };
    for (;;) {
        uint8_t count, value;
        if (!in.Next(count) || !in.Next(value)) {
            m_error = IS_ERR_READ;
            return;
        }
        if (count > 0) {
            if (x >= w) continue;
            for (uint32_t i = 0; i < count && x < w; ++i) {
                put(four ? static_cast<uint8_t>((i & 1) ? value & 0x0F : value >> 4) : value);
            }
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                if (++y >= m_h.height) return;
                row = sink.Row(y);
                break;
            case 1:  // end of bitmap
                return;
            case 2: {  // delta
                uint8_t dx, dy;
                if (!in.Next(dx) || !in.Next(dy)) {
                    m_error = IS_ERR_READ;
                    return;
                }
                x = x + dx > w ? w : x + dx;
                if (dy) {
                    if (static_cast<uint64_t>(y) + dy >= m_h.height) return;
                    y += dy;
                    row = sink.Row(y);
                }
                break;
            }
            default: {  // absolute run of `value` pixels
                const uint32_t n = value;
                const uint32_t bytes = four ? (n + 1) / 2 : n;
                for (uint32_t i = 0; i < bytes; ++i) {
                    uint8_t b;
                    if (!in.Next(b)) {
                        m_error = IS_ERR_READ;
                        return;
                    }
                    if (four) {
                        put(b >> 4);
                        if (2 * i + 1 < n) put(b & 0x0F);
                    } else {
                        put(b);
                    }
                }
                if (bytes & 1) {
                    uint8_t pad;
                    if (!in.Next(pad)) {
                        m_error = IS_ERR_READ;
                        return;
                    }
                }
                break;
            }
        }
    }
}

uint8_t* CISBmpCodec::Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width,
                           uint32_t* height) {
    if (depth != 1 && depth != 8 && depth != 24 && depth != 32) ISFail(IS_ERR_PARAM, "depth");
    const bool index = depth <= 8;
    if (index && !palette) ISFail(IS_ERR_PARAM, "palette");

    ReadHeaders(true);
    if (index && (m_h.bitCount > 8 || m_h.bitCount > depth)) ISFail(IS_ERR_DEPTH, "depth");

    const bool dib = (flags & IS_READ_DIB) != 0;
    const bool pad = (flags & IS_READ_PAD_BGR) != 0;
    const uint64_t fileRowBytes = ISDibRowBytes(m_h.width, m_h.bitCount);
    uint64_t outRow;
    if (dib) {
        outRow = ISDibRowBytes(m_h.width, depth);
    } else {
        outRow = depth == 1 ? (static_cast<uint64_t>(m_h.width) + 7) / 8
                            : static_cast<uint64_t>(m_h.width) * (depth / 8);
        if (pad) outRow = ISRoundUp4(outRow);
    }
    const uint32_t dibTable = dib && index ? (1u << depth) : 0;
    const uint64_t pixelStart = dib ? kISDibHeaderBytes + 4ull * dibTable : 0;
    uint64_t pixelBytes, total;
    if (!ISMulSize(outRow, m_h.height, &pixelBytes) || !ISMulSize(pixelBytes + pixelStart, 1, &total) ||
        fileRowBytes >= kISAllocLimit) {
        ISFail(IS_ERR_MEMORY, "picture too large");
    }

    if (!m_io.Seek(m_h.pixelOffset, 0)) ISFail(IS_ERR_READ, "pixel data offset");
    const bool rle = m_h.compression == kISBiRle8 || m_h.compression == kISBiRle4;
    CISByteReader bytes(m_io);
    const uint32_t size = m_io.Size();
    const uint64_t left = size > m_h.pixelOffset ? size - m_h.pixelOffset : 0;
    if (rle) {
        if (!bytes.Fill()) ISFail(IS_ERR_READ, "no pixel data");
        // A run pair gives at most 255 pixels; only the skip and end escapes
        // give more, and a large picture made of them is taken for a bomb.
        const uint64_t pixels = static_cast<uint64_t>(m_h.width) * m_h.height;
        if (total > kISBombFloor && left * 128 < pixels) ISFail(IS_ERR_READ, "RLE data cannot fill the picture");
    } else {
        // Refuse before allocating when not even the first row is there,
        // or when a large picture is mostly missing.
        if (left < fileRowBytes) ISFail(IS_ERR_READ, "no pixel row");
        if (total > kISBombFloor && left < fileRowBytes * m_h.height / 2) ISFail(IS_ERR_READ, "pixel data missing");
    }

    CISOutBufAllocator out;
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "output");
    uint8_t* base = out.Get();
    if (dib) {
        ISPutDibHeader(base, m_h.width, m_h.height, depth, static_cast<uint32_t>(pixelBytes), m_h.xPelsPerMetre,
                       m_h.yPelsPerMetre, dibTable);
        std::memcpy(base + kISDibHeaderBytes, m_h.table, 4ull * dibTable);
    }
    CISBmpSink sink(m_h, base, pixelStart, outRow, depth, dib || pad, dib);
    if (rle) {
        // Pixels the codes skip (deltas, early line ends, cut data) show
        // colour 0, as in every other reader.
        for (uint32_t y = 0; y < m_h.height; ++y) {
            uint8_t* row = sink.Row(y);
            for (uint32_t x = 0; x < m_h.width; ++x) sink.PutIndex(row, x, 0);
        }
        DecodeRle(sink, bytes);
    } else {
        CISInternalAllocator work;
        if (!work.Alloc(fileRowBytes)) ISFail(IS_ERR_MEMORY, "work row");
        DecodeRows(sink, work.Get(), static_cast<uint32_t>(fileRowBytes));
    }
    if (index) std::memcpy(palette, m_h.table, sizeof m_h.table);
    *width = m_h.width;
    *height = m_h.height;
    return out.Release();
}

void CISBmpCodec::Put(const void* data, uint64_t count, uint32_t code) {
    if (count == 0) return;
    if (!m_io.Write(data, static_cast<uint32_t>(count))) ISFail(code, "write");
}

uint32_t CISBmpCodec::Finish() {
    if (!m_io.Flush()) ISFail(IS_ERR_WRITE, "flush");
    return m_io.Size();
}

void PutFileHeader(uint8_t* p, uint32_t fileSize, uint32_t pixelOffset) {
    p[0] = 'B';
    p[1] = 'M';
    ISPut32LE(p + 2, fileSize);
    ISPut32LE(p + 6, 0);
    ISPut32LE(p + 10, pixelOffset);
}

uint32_t PelsPerMetre(double v) {
    if (!(v > 0)) return 0;  // also NaN
    if (v >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(v);
}

// Appends one RLE8-coded row: runs of 2 or more as (count, value), other
// stretches of 3 or more as absolute runs, the rest as single runs.
uint8_t* EncodeRle8Row(const uint8_t* row, uint32_t width, uint8_t* out) {
    uint32_t x = 0;
    auto runAt = [&](uint32_t at) {
        uint32_t n = 1;
        while (at + n < width && n < 255 && row[at + n] == row[at]) ++n;
        return n;
    };
    while (x < width) {
        uint32_t run = runAt(x);
        if (run >= 2) {
            *out++ = static_cast<uint8_t>(run);
            *out++ = row[x];
            x += run;
            continue;
        }
        uint32_t end = x + 1;
        while (end < width && end - x < 255 && runAt(end) < 3) ++end;
        uint32_t n = end - x;
        if (n >= 3) {
            *out++ = 0;
            *out++ = static_cast<uint8_t>(n);
            std::memcpy(out, row + x, n);
            out += n;
            if (n & 1) *out++ = 0;
        } else {
            for (uint32_t i = 0; i < n; ++i) {
                *out++ = 1;
                *out++ = row[x + i];
            }
        }
        x = end;
    }
    return out;
}

uint32_t CISBmpCodec::WritePackedDib(const uint8_t* dib) {
    const uint32_t headerSize = ISGet32LE(dib);
    if (headerSize != kISDibHeaderBytes) ISFail(IS_ERR_PARAM, "DIB header size");
    const int32_t w = static_cast<int32_t>(ISGet32LE(dib + 4));
    const int64_t h = static_cast<int32_t>(ISGet32LE(dib + 8));
    const uint32_t bits = ISGet16LE(dib + 14);
    const uint32_t compression = ISGet32LE(dib + 16);
    const uint32_t sizeImage = ISGet32LE(dib + 20);
    const uint32_t used = ISGet32LE(dib + 32);
    if (w < 1 || h == 0 || !ISValidDibBits(bits) || compression > kISBiBitFields) ISFail(IS_ERR_PARAM, "DIB header");
    uint64_t tableEntries = used ? used : (bits <= 8 ? 1u << bits : 0);
    uint64_t extra = 4 * tableEntries + (compression == kISBiBitFields ? kISDibMaskBytes : 0);
    uint64_t image = sizeImage;
    if (compression == kISBiRgb || compression == kISBiBitFields) {
        if (!ISMulSize(ISDibRowBytes(static_cast<uint64_t>(w), bits), static_cast<uint64_t>(h < 0 ? -h : h), &image)) {
            ISFail(IS_ERR_PARAM, "DIB size");
        }
    } else if (image == 0) {
        ISFail(IS_ERR_PARAM, "compressed DIB without size");
    }
    uint64_t dibBytes = headerSize + extra + image;
    uint64_t fileSize = kFileHeaderBytes + dibBytes;
    if (extra >= kISAllocLimit || fileSize >= kISAllocLimit) ISFail(IS_ERR_PARAM, "DIB size");

    uint8_t fh[kFileHeaderBytes];
    PutFileHeader(fh, static_cast<uint32_t>(fileSize), static_cast<uint32_t>(kFileHeaderBytes + headerSize + extra));
    Put(fh, sizeof fh, IS_ERR_MEMORY);
    Put(dib, headerSize, IS_ERR_MEMORY);
    Put(dib + headerSize, extra + image, IS_ERR_WRITE);
    return Finish();
}

uint32_t CISBmpCodec::Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                            uint32_t rowStride, uint32_t colourCount, const uint8_t* palette,
                            const ISResolution* resolution, uint32_t flags) {
    if (!image) ISFail(IS_ERR_PARAM, "image");
    if (flags & kWriteDib) return WritePackedDib(image);

    if (!ISValidDibBits(bitCount)) ISFail(IS_ERR_PARAM, "bit count");
    if (width == 0 || height == 0 || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) ISFail(IS_ERR_PARAM, "size");
    if (bitCount <= 8) {
        if (!palette || colourCount == 0 || colourCount > (1u << bitCount)) ISFail(IS_ERR_PARAM, "palette");
    } else {
        colourCount = 0;
    }
    const bool rle = (flags & kWriteRle8) && bitCount == 8;
    const uint64_t dataBytes = (static_cast<uint64_t>(width) * bitCount + 7) / 8;
    uint64_t stride = rowStride;
    if (flags & kWriteRoundStride) stride = ISRoundUp4(stride);
    if (stride < dataBytes) ISFail(IS_ERR_PARAM, "row stride");
    const uint64_t fileRow = ISDibRowBytes(width, bitCount);
    uint64_t imageSize;
    if (!ISMulSize(fileRow, height, &imageSize)) ISFail(IS_ERR_PARAM, "picture too large");

    auto sourceRow = [&](uint32_t fileY) {
        uint32_t y = (flags & kISWriteBottomUp) ? fileY : height - 1 - fileY;
        return image + static_cast<uint64_t>(y) * stride;
    };

    // Work memory comes first so that a failure leaves the destination untouched.
    CISInternalAllocator work;
    CISInternalAllocator rleData;
    if (!rle && !work.Alloc(fileRow)) ISFail(IS_ERR_MEMORY, "work row");
    if (rle) {
        // Worst case: every pixel a single run (2 bytes), plus the row end.
        uint64_t bound;
        if (!ISMulSize(2ull * width + 2, height, &bound)) ISFail(IS_ERR_MEMORY, "RLE buffer");
        if (!rleData.Alloc(bound)) ISFail(IS_ERR_MEMORY, "RLE buffer");
        uint8_t* p = rleData.Get();
        for (uint32_t y = 0; y < height; ++y) {
            p = EncodeRle8Row(sourceRow(y), width, p);
            *p++ = 0;
            *p++ = y + 1 < height ? 0 : 1;  // end of line, end of bitmap after the last
        }
        imageSize = static_cast<uint64_t>(p - rleData.Get());
    }

    const uint32_t pixelOffset = kFileHeaderBytes + kISDibHeaderBytes + 4 * colourCount;
    uint8_t hdr[kFileHeaderBytes + kISDibHeaderBytes] = {};
    PutFileHeader(hdr, static_cast<uint32_t>(pixelOffset + imageSize), pixelOffset);
    uint8_t* ih = hdr + kFileHeaderBytes;
    ISPut32LE(ih, kISDibHeaderBytes);
    ISPut32LE(ih + 4, width);
    ISPut32LE(ih + 8, height);
    ISPut16LE(ih + 12, 1);
    ISPut16LE(ih + 14, bitCount);
    ISPut32LE(ih + 16, rle ? kISBiRle8 : kISBiRgb);
    ISPut32LE(ih + 20, static_cast<uint32_t>(imageSize));
    ISPut32LE(ih + 24, resolution ? PelsPerMetre(resolution->xRes) : 0);
    ISPut32LE(ih + 28, resolution ? PelsPerMetre(resolution->yRes) : 0);
    ISPut32LE(ih + 32, colourCount);
    ISPut32LE(ih + 36, colourCount);
    Put(hdr, sizeof hdr, IS_ERR_MEMORY);
    Put(palette, 4ull * colourCount, IS_ERR_MEMORY);

    if (rle) {
        Put(rleData.Get(), imageSize, IS_ERR_WRITE);
        return Finish();
    }

    uint8_t* row = work.Get();
    const bool swap = (bitCount == 24 || bitCount == 32) && !(flags & kISWriteBgr);
    const uint32_t bpp = bitCount / 8;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* src = sourceRow(y);
        std::memcpy(row, src, static_cast<size_t>(dataBytes));
        if (swap) {
            for (uint64_t x = 0; x < width; ++x) {
                uint8_t* p = row + x * bpp;
                uint8_t t = p[0];
                p[0] = p[2];
                p[2] = t;
            }
        }
        Put(row, fileRow, IS_ERR_WRITE);
    }
    return Finish();
}

// Runs fn with exceptions turned into the codec's error code.
}  // namespace

uint8_t* ISReadPackedDIB(ISHANDLE source, uint32_t* width, uint32_t* height, uint32_t* error) {
    CISBmpCodec codec(source, true);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(24, nullptr, 0, width, height); });
    *error = codec.Error();
    if (*error) {
        IS40_GlobalFree(out);
        out = nullptr;
    }
    return out;
}

extern "C" {

IS_BOOL IS40_GetBMPDims(ISHANDLE handle, uint32_t* width, int32_t* height, uint32_t* bitCount,
                        ISResolution* resolution, uint32_t /*flags*/) {
    static const char kName[] = "IS40_GetBMPDims";
    if (!ISEnter(kName, !width || !height || !bitCount, handle)) return 0;
    CISBmpCodec codec(handle);
    IS_BOOL ok = ISGuarded(codec, [&]() -> IS_BOOL {
        codec.ReadHeaders(false);
        const CISBmpHeader& h = codec.Header();
        *width = h.width;
        *height = h.storedHeight;
        *bitCount = h.bitCount;
        if (resolution) {
            resolution->xRes = h.xPelsPerMetre;
            resolution->yRes = h.yPelsPerMetre;
            resolution->unit = 2;
        }
        return 1;
    });
    ISRecordError(codec.Error(), kName);
    return ok;
}

uint8_t* IS40_ReadBMP(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                      uint8_t* palette, uint32_t flags) {
    static const char kName[] = "IS40_ReadBMP";
    if (!ISEnter(kName, !width || !height, handle)) return nullptr;
    CISBmpCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(bitDepth, palette, flags, width, height); });
    ISRecordError(codec.Error(), kName);
    return out;
}

uint32_t IS40_WriteBMP(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                       uint32_t bitCount, uint32_t rowStride, uint32_t colourCount,
                       const uint8_t* palette, const ISResolution* resolution, uint32_t flags) {
    static const char kName[] = "IS40_WriteBMP";
    if (!ISEnter(kName, false, handle)) return 0;
    CISBmpCodec codec(handle);
    uint32_t size = ISGuarded(codec, [&]() {
        return codec.Write(image, width, height, bitCount, rowStride, colourCount, palette, resolution, flags);
    });
    ISRecordError(codec.Error(), kName);
    return size;
}

}  // extern "C"
