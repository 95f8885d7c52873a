// TGA reader, dimension query and writer.
//
// Reads colour-mapped, true-colour and grey files, uncompressed and
// run-length coded, with 8-, 15-, 16-, 24- and 32-bit pixels and colour
// map entries, either origin and either horizontal direction. Writes
// uncompressed 8-bit colour-mapped, 24- and 32-bit files followed by a
// version 2 extension area and footer.
#include "codec/isframe.h"

#include <cstring>
#include <ctime>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kHeaderBytes = 18;
constexpr uint32_t kFooterBytes = 26;
constexpr uint32_t kExtensionBytes = 495;
const char kSignature[] = "TRUEVISION-XFILE.";  // 17 characters and its zero byte

constexpr uint8_t kDescTop = 0x20;
constexpr uint8_t kDescRightToLeft = 0x10;

struct CISTgaHeader {
    uint8_t idLength = 0;
    uint8_t mapType = 0;
    uint8_t imageType = 0;
    uint32_t mapFirst = 0;
    uint32_t mapLength = 0;
    uint32_t mapEntryBits = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelBits = 0;
    uint8_t descriptor = 0;

    bool ColourMapped() const { return imageType == 1 || imageType == 9; }
    // 16-bit grey pixels are grey then alpha, not 5-5-5 colour.
    bool GreyAlpha() const { return (imageType == 3 || imageType == 11) && pixelBits == 16; }
    bool Rle() const { return imageType >= 9; }
    uint32_t PixelBytes() const { return (pixelBits + 7) / 8; }
    uint32_t MapEntryBytes() const { return (mapEntryBits + 7) / 8; }
};

bool ValidEntryBits(uint32_t bits) { return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// One pixel or colour map entry to B, G, R, A.
inline void DecodeColour(const uint8_t* p, uint32_t bits, uint8_t* bgra) {
    switch (bits) {
        case 8:
            bgra[0] = bgra[1] = bgra[2] = p[0];
            bgra[3] = 255;
            break;
        case 15:
        case 16: {
            const uint32_t v = ISGet16LE(p);
            bgra[0] = static_cast<uint8_t>((v << 3) & 0xF8);
            bgra[1] = static_cast<uint8_t>((v >> 2) & 0xF8);
            bgra[2] = static_cast<uint8_t>((v >> 7) & 0xF8);
            bgra[3] = 255;
            break;
        }
        case 24:
            bgra[0] = p[0];
            bgra[1] = p[1];
            bgra[2] = p[2];
            bgra[3] = 255;
            break;
        default:
            bgra[0] = p[0];
            bgra[1] = p[1];
            bgra[2] = p[2];
            bgra[3] = p[3];
    }
}

class CISTgaCodec {
public:
    explicit CISTgaCodec(ISHANDLE handle) : m_io(handle) {}

    uint32_t Error() const { return m_error; }
    void SetError(uint32_t code) { m_error = code; }

    void ReadHeader();
    const CISTgaHeader& Header() const { return m_h; }

    uint8_t* Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width, uint32_t* height);

    uint32_t Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                   uint32_t rowStride, const uint8_t* palette, uint32_t flags);

private:
    void ReadColourMap();
    void ReadFooter();
    void Put(const void* data, uint32_t count);

    CISIO m_io;
    uint32_t m_error = 0;
    CISTgaHeader m_h;
    // Entries of the colour map as B, G, R, A; index i is entry i - mapFirst.
    std::vector<uint8_t> m_map;
};

void CISTgaCodec::ReadHeader() {
    uint8_t b[kHeaderBytes];
    if (!m_io.ReadExact(b, sizeof b)) ISFail(IS_ERR_READ, "header");
    m_h.idLength = b[0];
    m_h.mapType = b[1];
    m_h.imageType = b[2];
    m_h.mapFirst = ISGet16LE(b + 3);
    m_h.mapLength = ISGet16LE(b + 5);
    m_h.mapEntryBits = b[7];
    m_h.width = ISGet16LE(b + 12);
    m_h.height = ISGet16LE(b + 14);
    m_h.pixelBits = b[16];
    m_h.descriptor = b[17];

    switch (m_h.imageType) {
        case 1: case 2: case 3: case 9: case 10: case 11: break;
        default: ISFail(IS_ERR_TGA_TYPE, "image type");
    }
    if (m_h.pixelBits < 8 || m_h.pixelBits > 32) ISFail(IS_ERR_TGA_TYPE, "pixel depth");
    if (m_h.width == 0 || m_h.height == 0) ISFail(IS_ERR_FORMAT, "zero size");
}

void CISTgaCodec::ReadColourMap() {
    if (m_h.mapType == 0 || m_h.mapLength == 0) {
        if (m_h.ColourMapped()) ISFail(IS_ERR_PALETTE, "no colour map");
        return;
    }
    if (!ValidEntryBits(m_h.mapEntryBits)) ISFail(IS_ERR_TGA_TYPE, "colour map entry size");
    const uint32_t entryBytes = m_h.MapEntryBytes();
    const uint32_t bytes = m_h.mapLength * entryBytes;  // at most 65535 * 4
    const uint32_t here = m_io.Tell();
    const uint32_t size = m_io.Size();
    if (here > size || size - here < bytes) ISFail(IS_ERR_READ, "short colour map");
    std::vector<uint8_t> raw(bytes);
    if (!m_io.ReadExact(raw.data(), bytes)) ISFail(IS_ERR_READ, "short colour map");
    if (!m_h.ColourMapped()) return;  // true-colour files may carry one; it is not used
    m_map.assign(static_cast<size_t>(m_h.mapLength) * 4, 0);
    for (uint32_t i = 0; i < m_h.mapLength; ++i) {
        DecodeColour(raw.data() + static_cast<size_t>(i) * entryBytes, m_h.mapEntryBits, &m_map[4 * i]);
    }
}

// The footer and extension area carry nothing this reader uses; they are
// only checked for, and a damaged one does not cost the picture.
void CISTgaCodec::ReadFooter() {
    const uint32_t size = m_io.Size();
    if (size < kHeaderBytes + kFooterBytes) return;  // too small to carry one
    uint8_t footer[kFooterBytes];
    if (!m_io.Seek(-static_cast<int64_t>(kFooterBytes), 2) || !m_io.ReadExact(footer, sizeof footer)) {
        m_error = IS_ERR_READ;
        return;
    }
    if (std::memcmp(footer + 8, kSignature, 17) != 0) return;
    const uint32_t extOffset = ISGet32LE(footer);
    if (extOffset == 0) return;
    uint8_t ext[kExtensionBytes];
    if (extOffset > size || size - extOffset < sizeof ext || !m_io.Seek(extOffset, 0) ||
        !m_io.ReadExact(ext, sizeof ext)) {
        m_error = IS_ERR_READ;
    }
}

uint8_t* CISTgaCodec::Read(uint32_t depth, uint8_t* palette, uint32_t flags, uint32_t* width,
                           uint32_t* height) {
    const bool dib = (flags & IS_READ_DIB) != 0;
    const bool padBgr = (flags & IS_READ_PAD_BGR) != 0;
    if (depth != 8 && depth != 24 && depth != 32) ISFail(IS_ERR_PARAM, "depth");
    if (dib && (depth == 8 || padBgr)) ISFail(IS_ERR_PARAM, "DIB with 8");

    ReadHeader();
    const CISTgaHeader& h = m_h;
    const uint32_t pb = h.PixelBytes();
    if (h.ColourMapped()) {
        if (h.pixelBits != 8 && h.pixelBits != 16) ISFail(IS_ERR_TGA_TYPE, "index depth");
    } else if (!ValidEntryBits(h.pixelBits)) {
        ISFail(IS_ERR_TGA_TYPE, "pixel depth");
    }
    // Indexes only come out of 8-bit colour-mapped or grey files.
    if (depth == 8) {
        const bool indexes = h.ColourMapped() && h.pixelBits == 8;
        const bool grey = (h.imageType == 3 || h.imageType == 11) && h.pixelBits == 8;
        if (!indexes && !grey) ISFail(IS_ERR_DEPTH, "no 8-bit form");
    }

    uint8_t id[255];
    if (h.idLength && !m_io.ReadExact(id, h.idLength)) ISFail(IS_ERR_READ, "ID field");
    ReadColourMap();

    // A DIB keeps the file's own depth: 32 bits only where the file has alpha.
    uint32_t outDepth = depth;
    if (dib) {
        const uint32_t sourceBits = h.ColourMapped() ? h.mapEntryBits : h.pixelBits;
        outDepth = sourceBits == 32 || h.GreyAlpha() ? 32 : 24;
    }
    const uint32_t outPixel = outDepth / 8;
    uint64_t rowBytes = static_cast<uint64_t>(h.width) * outPixel;
    if (dib || (padBgr && depth != 8)) rowBytes = ISRoundUp4(rowBytes);
    const uint64_t start = dib ? kISDibHeaderBytes : 0;
    uint64_t total;
    if (!ISMulSize(rowBytes, h.height, &total) || total + start >= kISAllocLimit) {
        ISFail(IS_ERR_MEMORY, "picture too large");
    }
    total += start;

    // The whole picture must be present, so a source too short for even
    // the densest coding of it is refused before the output is allocated.
    const uint64_t pixels = static_cast<uint64_t>(h.width) * h.height;
    const uint64_t minBytes = h.Rle() ? (pixels + 127) / 128 * (1 + pb) : pixels * pb;
    const uint32_t here = m_io.Tell();
    const uint32_t size = m_io.Size();
    if (here > size || size - here < minBytes) ISFail(IS_ERR_READ, "short pixel data");

    CISOutBufAllocator out;
    if (!out.Alloc(total)) ISFail(IS_ERR_MEMORY, "pixel buffer");
    uint8_t* const base = out.Get();

    const bool fileTop = (h.descriptor & kDescTop) != 0;
    const bool rightToLeft = (h.descriptor & kDescRightToLeft) != 0;
    const bool swapRB = dib || padBgr;
    const uint32_t mapLength = static_cast<uint32_t>(m_map.size() / 4);

    CISByteReader in(m_io);
    std::vector<uint8_t> fileLine(h.Rle() ? 0 : static_cast<size_t>(h.width) * pb);
    uint8_t pixel[4] = {};
    uint32_t runLeft = 0;     // pixels left in the current packet
    bool runRepeat = false;   // current packet repeats one pixel
    for (uint32_t fileRow = 0; fileRow < h.height; ++fileRow) {
        const uint32_t top = fileTop ? fileRow : h.height - 1 - fileRow;
        const uint32_t physical = dib ? h.height - 1 - top : top;
        uint8_t* row = base + start + static_cast<uint64_t>(physical) * rowBytes;
        // Uncompressed rows come in whole.
        if (!h.Rle() && !m_io.ReadExact(fileLine.data(), static_cast<uint32_t>(fileLine.size()))) {
            ISFail(IS_ERR_READ, "short pixel data");
        }
        for (uint32_t i = 0; i < h.width; ++i) {
            if (!h.Rle()) {
                std::memcpy(pixel, &fileLine[static_cast<size_t>(i) * pb], pb);
            } else {
                // Packets may run across row ends.
                if (runLeft == 0) {
                    uint8_t packet;
                    if (!in.Get(&packet, 1)) ISFail(IS_ERR_READ, "short pixel data");
                    runRepeat = (packet & 0x80) != 0;
                    runLeft = (packet & 0x7Fu) + 1;
                    if (runRepeat && !in.Get(pixel, pb)) ISFail(IS_ERR_READ, "short pixel data");
                }
                if (!runRepeat && !in.Get(pixel, pb)) ISFail(IS_ERR_READ, "short pixel data");
                --runLeft;
            }
            const uint32_t x = rightToLeft ? h.width - 1 - i : i;
            if (depth == 8 && !dib) {
                row[x] = pixel[0];
                continue;
            }
            uint8_t bgra[4];
            if (h.ColourMapped()) {
                const uint32_t index = h.pixelBits == 8 ? pixel[0] : ISGet16LE(pixel);
                // Indexes outside the map come out black.
                if (index >= h.mapFirst && index - h.mapFirst < mapLength) {
                    std::memcpy(bgra, &m_map[4 * (index - h.mapFirst)], 4);
                } else {
                    bgra[0] = bgra[1] = bgra[2] = 0;
                    bgra[3] = 255;
                }
            } else if (h.GreyAlpha()) {
                bgra[0] = bgra[1] = bgra[2] = pixel[0];
                bgra[3] = pixel[1];
            } else {
                DecodeColour(pixel, h.pixelBits, bgra);
            }
            uint8_t* p = row + static_cast<uint64_t>(x) * outPixel;
            p[0] = swapRB ? bgra[0] : bgra[2];
            p[1] = bgra[1];
            p[2] = swapRB ? bgra[2] : bgra[0];
            if (outPixel == 4) p[3] = bgra[3];
        }
    }

    if (dib) {
        ISPutDibHeader(base, h.width, h.height, outDepth, static_cast<uint32_t>(total - start), 0, 0, 0);
    }
    if (depth == 8 && palette) {
        std::memset(palette, 0, 256 * 4);
        for (uint32_t i = 0; i < 256; ++i) {
            uint8_t* e = palette + 4 * i;
            if (!h.ColourMapped()) {
                e[0] = e[1] = e[2] = static_cast<uint8_t>(i);
            } else if (i >= h.mapFirst && i - h.mapFirst < mapLength) {
                std::memcpy(e, &m_map[4 * (i - h.mapFirst)], 3);
            }
        }
    }

    ReadFooter();
    *width = h.width;
    *height = h.height;
    return out.Release();
}

void CISTgaCodec::Put(const void* data, uint32_t count) {
    if (!m_io.Write(data, count)) ISFail(IS_ERR_WRITE, "write");
}

uint32_t CISTgaCodec::Write(const uint8_t* image, uint32_t width, uint32_t height, uint32_t bitCount,
                            uint32_t rowStride, const uint8_t* palette, uint32_t flags) {
    if (!image) ISFail(IS_ERR_PARAM, "image");
    if (bitCount != 8 && bitCount != 24 && bitCount != 32) ISFail(IS_ERR_PARAM, "bit count");
    if (bitCount == 8 && !palette) ISFail(IS_ERR_PARAM, "palette");
    // The header holds 16-bit sizes.
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF) ISFail(IS_ERR_PARAM, "size");
    const uint32_t pixelBytes = bitCount / 8;
    const uint32_t lineBytes = width * pixelBytes;
    if (rowStride < lineBytes) ISFail(IS_ERR_PARAM, "row stride");

    uint8_t hd[kHeaderBytes] = {};
    hd[1] = bitCount == 8 ? 1 : 0;
    hd[2] = bitCount == 8 ? 1 : 2;
    ISPut16LE(hd + 5, bitCount == 8 ? 256 : 0);
    hd[7] = bitCount == 8 ? 24 : 0;
    ISPut16LE(hd + 12, width);
    ISPut16LE(hd + 14, height);
    hd[16] = static_cast<uint8_t>(bitCount);
    hd[17] = bitCount == 8 ? 0x28 : 0x20;
    Put(hd, sizeof hd);

    if (bitCount == 8) {
        uint8_t map[256 * 3];
        for (uint32_t i = 0; i < 256; ++i) std::memcpy(map + 3 * i, palette + 4 * i, 3);
        Put(map, sizeof map);
    }

    const bool bottomUp = (flags & kISWriteBottomUp) != 0;
    const bool swap = bitCount != 8 && (flags & kISWriteBgr) == 0;
    std::vector<uint8_t> line(lineBytes);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t src = bottomUp ? height - 1 - y : y;
        const uint8_t* in = image + static_cast<uint64_t>(src) * rowStride;
        std::memcpy(line.data(), in, lineBytes);
        if (swap) {
            for (uint32_t x = 0; x < lineBytes; x += pixelBytes) {
                const uint8_t t = line[x];
                line[x] = line[x + 2];
                line[x + 2] = t;
            }
        }
        Put(line.data(), lineBytes);
    }

    const uint32_t extOffset = m_io.Tell();
    uint8_t ext[kExtensionBytes] = {};
    ISPut16LE(ext, kExtensionBytes);
    std::time_t now = std::time(nullptr);
    std::tm local = {};
    if (ISLocalTime(now, &local)) {
        ISPut16LE(ext + 367, static_cast<uint32_t>(local.tm_mon + 1));
        ISPut16LE(ext + 369, static_cast<uint32_t>(local.tm_mday));
        ISPut16LE(ext + 371, static_cast<uint32_t>(local.tm_year + 1900));
        ISPut16LE(ext + 373, static_cast<uint32_t>(local.tm_hour));
        ISPut16LE(ext + 375, static_cast<uint32_t>(local.tm_min));
        ISPut16LE(ext + 377, static_cast<uint32_t>(local.tm_sec));
    }
    std::memcpy(ext + 426, kISVersionText, sizeof kISVersionText - 1);
    ISPut16LE(ext + 467, 4);  // version number; the letter at 469 stays 0
    ISPut16LE(ext + 474, 1);  // pixel aspect 1 : 1
    ISPut16LE(ext + 476, 1);
    ext[494] = bitCount == 32 ? 3 : 0;
    Put(ext, sizeof ext);

    uint8_t footer[kFooterBytes] = {};
    ISPut32LE(footer, extOffset);
    std::memcpy(footer + 8, kSignature, sizeof kSignature);
    Put(footer, sizeof footer);

    if (!m_io.Flush()) ISFail(IS_ERR_WRITE, "flush");
    return m_io.Size();
}

}  // namespace

extern "C" IS_BOOL IS40_GetTGADims(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t* bitCount,
                                   uint32_t /*flags*/) {
    if (!ISEnter("IS40_GetTGADims", !width || !height || !bitCount, handle)) return 0;
    CISTgaCodec codec(handle);
    const IS_BOOL ok = ISGuarded(codec, [&]() -> IS_BOOL {
        codec.ReadHeader();
        *width = codec.Header().width;
        *height = codec.Header().height;
        *bitCount = codec.Header().pixelBits;
        return 1;
    });
    ISRecordError(codec.Error(), "IS40_GetTGADims");
    return ok;
}

extern "C" uint8_t* IS40_ReadTGA(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                                 uint8_t* palette, uint32_t flags) {
    if (!ISEnter("IS40_ReadTGA", !width || !height, handle)) return nullptr;
    CISTgaCodec codec(handle);
    uint8_t* out = ISGuarded(codec, [&]() { return codec.Read(bitDepth, palette, flags, width, height); });
    ISRecordError(codec.Error(), "IS40_ReadTGA");
    return out;
}

extern "C" uint32_t IS40_WriteTGA(ISHANDLE handle, const uint8_t* image, uint32_t width, uint32_t height,
                                  uint32_t bitCount, uint32_t rowStride, const uint8_t* palette,
                                  uint32_t /*reserved*/, uint32_t flags) {
    if (!ISEnter("IS40_WriteTGA", false, handle)) return 0;
    CISTgaCodec codec(handle);
    const uint32_t size =
        ISGuarded(codec, [&]() { return codec.Write(image, width, height, bitCount, rowStride, palette, flags); });
    ISRecordError(codec.Error(), "IS40_WriteTGA");
    return size;
}
