// PNG reader, dimension query and writer.
#include "isframe.h"
#include "testutil.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

using namespace vstest;

namespace {

// ---- PNG file surgery ----------------------------------------------------

uint32_t Be32(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
void PutBe32(Bytes& b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> Chunks(const Bytes& png) {
    std::vector<Chunk> out;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t len = Be32(&png[at]);
        if (at + 12 + len > png.size()) break;
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&png[at + 4]), 4);
        c.data.assign(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                      png.begin() + static_cast<std::ptrdiff_t>(at + 8 + len));
        out.push_back(c);
        at += 12 + len;
    }
    return out;
}

const Chunk* Find(const std::vector<Chunk>& cs, const std::string& type) {
    for (const Chunk& c : cs) {
        if (c.type == type) return &c;
    }
    return nullptr;
}

Bytes MakeChunk(const std::string& type, const Bytes& data) {
    Bytes c;
    PutBe32(c, static_cast<uint32_t>(data.size()));
    c.insert(c.end(), type.begin(), type.end());
    c.insert(c.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    if (!data.empty()) crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    PutBe32(c, static_cast<uint32_t>(crc));
    return c;
}

// Inserts a chunk right before the first IDAT.
Bytes InsertBeforeIdat(const Bytes& png, const Bytes& chunk) {
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t len = Be32(&png[at]);
        if (std::memcmp(&png[at + 4], "IDAT", 4) == 0) break;
        at += 12 + len;
    }
    Bytes out(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(at));
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(at), png.end());
    return out;
}

// A PNG from its IHDR values and raw (filtered) scan-line data.
Bytes BuildPng(uint32_t w, uint32_t h, uint8_t bitDepth, uint8_t colourType, const Bytes& raw,
               const std::vector<Bytes>& extra = {}) {
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    Bytes ihdr;
    PutBe32(ihdr, w);
    PutBe32(ihdr, h);
    ihdr.push_back(bitDepth);
    ihdr.push_back(colourType);
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(0);
    Bytes c = MakeChunk("IHDR", ihdr);
    png.insert(png.end(), c.begin(), c.end());
    for (const Bytes& e : extra) png.insert(png.end(), e.begin(), e.end());
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    Bytes z(zlen);
    compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), 9);
    z.resize(zlen);
    c = MakeChunk("IDAT", z);
    png.insert(png.end(), c.begin(), c.end());
    c = MakeChunk("IEND", {});
    png.insert(png.end(), c.begin(), c.end());
    return png;
}

// ---- calls -----------------------------------------------------------------

ReadResult Read(const Bytes& file, uint32_t depth, uint32_t flags = 0, bool withPalette = true) {
    ReadResult r;
    WithMemorySource(file, [&](ISHANDLE h) {
        r.buf = LibBuffer(IS40_ReadPNG(h, &r.width, &r.height, depth, withPalette ? r.palette.data() : nullptr, flags));
        r.error = IS40_GetLastError();
        return 0;
    });
    return r;
}

uint32_t ReadError(const Bytes& file, uint32_t depth, uint32_t flags = 0) {
    ReadResult r = Read(file, depth, flags);
    EXPECT_FALSE(r.buf);
    return r.error;
}

struct WriteArgs {
    uint32_t bitDepth = 8;
    uint32_t colourType = 2;
    uint32_t paletteCount = 0;
    const uint8_t* palette = nullptr;
    double gamma = 0.0;
    const ISResolution* res = nullptr;
    uint32_t flags = 0;
    uint32_t stride = 0;  // 0: tight
};

uint32_t Channels(uint32_t ct) { return ct == 2 ? 3 : ct == 4 ? 2 : ct == 6 ? 4 : 1; }

Bytes Write(const Bytes& image, uint32_t w, uint32_t h, const WriteArgs& a, uint32_t* returned = nullptr,
            uint32_t* error = nullptr) {
    uint32_t stride = a.stride ? a.stride : (w * a.bitDepth * Channels(a.colourType) + 7) / 8;
    return WriteToBytes("out.png", [&](ISHANDLE d) {
        uint32_t r = IS40_WritePNG(d, image.data(), w, h, stride, a.bitDepth, a.paletteCount, a.palette, a.colourType,
                                   a.gamma, a.res, a.flags);
        if (error) *error = IS40_GetLastError();
        return r;
    }, returned);
}

// Largest absolute difference of two equally long byte strings.
int MaxDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1 << 20;
    int m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
    return m;
}

Bytes Rgba(uint32_t w, uint32_t h, uint32_t seed = 1) {
    Bytes p = Pattern(w, h, 4, seed);
    // Alpha: opaque, transparent and a few partial levels.
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        static const uint8_t levels[] = {255, 0, 128, 255, 64, 200, 255, 1};
        p[4 * i + 3] = levels[i % 8];
    }
    return p;
}

Bytes Palette(uint32_t n, uint32_t seed = 5) {
    Bytes t = Pattern(n, 1, 4, seed);
    for (uint32_t i = 0; i < n; ++i) t[4 * i + 3] = 255;
    return t;
}

// Pixel (B, G, R, A) entry i of a palette as R, G, B.
Bytes PaletteToRgb(const Bytes& idx, const Bytes& pal) {
    Bytes out;
    for (uint8_t i : idx) {
        out.push_back(pal[4 * i + 2]);
        out.push_back(pal[4 * i + 1]);
        out.push_back(pal[4 * i]);
    }
    return out;
}

uint8_t Over(uint8_t c, uint8_t a, uint8_t bg) { return static_cast<uint8_t>((c * a + bg * (255 - a) + 127) / 255); }

}  // namespace

// ---- round trips ----------------------------------------------------------

TEST(PngRoundTrip, GreyDepths) {
    const uint32_t w = 13, h = 7;
    for (uint32_t interlace : {0u, 1u}) {
        WriteArgs a;
        a.colourType = 0;
        a.flags = interlace;
        // 1 bit: packed rows, most significant bit first.
        a.bitDepth = 1;
        Bytes bits = Pattern((w + 7) / 8, h, 1, 3);
        for (uint32_t y = 0; y < h; ++y) bits[y * 2 + 1] &= 0xF8;  // unused low bits stay clear
        Bytes file = Write(bits, w, h, a);
        ReadResult r = Read(file, 1);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.Data(bits.size()), bits);
        EXPECT_EQ(r.palette[0], 0);
        EXPECT_EQ(r.palette[4], 255);
        EXPECT_EQ(r.palette[7], 255);
        // The same picture at 8 bits: one index a pixel over a two-level ramp.
        r = Read(file, 8);
        ASSERT_TRUE(r.buf);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                EXPECT_EQ(r.buf.get()[y * w + x], (bits[y * 2 + x / 8] >> (7 - x % 8)) & 1);
            }
        }

        a.bitDepth = 8;
        Bytes grey = Pattern(w, h, 1, 4);
        file = Write(grey, w, h, a);
        r = Read(file, 8);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(grey.size()), grey);
        for (int i = 0; i < 256; ++i) EXPECT_EQ(r.palette[4 * i + 1], i);
        r = Read(file, 24);
        ASSERT_TRUE(r.buf);
        Bytes rgb = r.Data(grey.size() * 3);
        for (size_t i = 0; i < grey.size(); ++i) {
            EXPECT_EQ(rgb[3 * i], grey[i]);
            EXPECT_EQ(rgb[3 * i + 2], grey[i]);
        }
        r = Read(file, 16);  // grey + alpha
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < grey.size(); ++i) {
            EXPECT_EQ(r.buf.get()[2 * i], grey[i]);
            EXPECT_EQ(r.buf.get()[2 * i + 1], 255);
        }

        // 16 bits, little-endian in memory.
        a.bitDepth = 16;
        Bytes grey16 = Pattern(w, h, 2, 5);
        file = Write(grey16, w, h, a);
        r = Read(file, 16, 4);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.Data(grey16.size()), grey16);
        r = Read(file, 24);
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < grey16.size() / 2; ++i) {
            int v = grey16[2 * i] | (grey16[2 * i + 1] << 8);
            EXPECT_NEAR(r.buf.get()[3 * i], (v + 128) / 257, 1);
        }
        r = Read(file, 48);
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < grey16.size() / 2; ++i) {
            EXPECT_EQ(r.buf.get()[6 * i], grey16[2 * i]);
            EXPECT_EQ(r.buf.get()[6 * i + 5], grey16[2 * i + 1]);
        }
    }
}

TEST(PngRoundTrip, PaletteAndTransparency) {
    const uint32_t w = 11, h = 6;
    Bytes pal = Palette(200);
    pal[4 * 3 + 3] = 0;
    pal[4 * 7 + 3] = 90;
    Bytes idx = Pattern(w, h, 1, 6);
    for (uint8_t& v : idx) v %= 200;
    idx[0] = 3;
    idx[1] = 7;
    for (uint32_t interlace : {0u, 1u}) {
        WriteArgs a;
        a.colourType = 3;
        a.paletteCount = 200;
        a.palette = pal.data();
        a.flags = interlace;
        Bytes file = Write(idx, w, h, a);
        EXPECT_EQ(Find(Chunks(file), "tRNS"), nullptr);
        ReadResult r = Read(file, 8);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.Data(idx.size()), idx);
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(r.palette[4 * i], pal[4 * i]) << i;
            EXPECT_EQ(r.palette[4 * i + 2], pal[4 * i + 2]) << i;
            EXPECT_EQ(r.palette[4 * i + 3], 255) << i;  // no tRNS written without flag 2
        }
        for (int i = 200; i < 256; ++i) {
            EXPECT_EQ(r.palette[4 * i + 1], pal[1]);
            EXPECT_EQ(r.palette[4 * i + 3], 255);
        }
        r = Read(file, 24);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(idx.size() * 3), PaletteToRgb(idx, pal));

        a.flags = interlace | 2;  // tRNS from the fourth bytes
        file = Write(idx, w, h, a);
        ASSERT_NE(Find(Chunks(file), "tRNS"), nullptr);
        r = Read(file, 8);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.palette[4 * 3 + 3], 0);
        EXPECT_EQ(r.palette[4 * 7 + 3], 90);
        EXPECT_EQ(r.palette[4 * 8 + 3], 255);
        r = Read(file, 32);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.buf.get()[3], 0);
        EXPECT_EQ(r.buf.get()[7], 90);
        EXPECT_EQ(r.buf.get()[4], pal[4 * 7 + 2]);
        // At 24 bits transparency is composited over black.
        r = Read(file, 24);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.buf.get()[0], 0);
        EXPECT_NEAR(r.buf.get()[3], Over(pal[4 * 7 + 2], 90, 0), 1);
        EXPECT_EQ(r.buf.get()[6], pal[4 * idx[2] + 2]);
    }

    // 1-bit palette image read as 1 bit.
    Bytes two = {0, 0, 0, 255, 10, 200, 30, 255};
    Bytes bits = {0xA5, 0x80, 0x3C, 0x00};
    WriteArgs a;
    a.colourType = 3;
    a.bitDepth = 1;
    a.paletteCount = 2;
    a.palette = two.data();
    Bytes file = Write(bits, 9, 2, a);
    ReadResult r = Read(file, 1);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(r.Data(4), bits);
    EXPECT_EQ(r.palette[4], 10);
    EXPECT_EQ(r.palette[6], 30);
}

TEST(PngRoundTrip, ColourDepths) {
    const uint32_t w = 17, h = 9;
    for (uint32_t interlace : {0u, 1u}) {
        WriteArgs a;
        a.flags = interlace;
        Bytes rgb = Pattern(w, h, 3, 7);
        Bytes file = Write(rgb, w, h, a);
        ReadResult r = Read(file, 24);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, h);
        EXPECT_EQ(r.Data(rgb.size()), rgb);
        r = Read(file, 32);
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < rgb.size() / 3; ++i) {
            EXPECT_EQ(r.buf.get()[4 * i + 1], rgb[3 * i + 1]);
            EXPECT_EQ(r.buf.get()[4 * i + 3], 255);
        }
        r = Read(file, 64);
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < rgb.size() / 3; ++i) {
            EXPECT_EQ(r.buf.get()[8 * i], rgb[3 * i]);  // v * 257 little-endian
            EXPECT_EQ(r.buf.get()[8 * i + 1], rgb[3 * i]);
            EXPECT_EQ(r.buf.get()[8 * i + 6], 0xFF);
            EXPECT_EQ(r.buf.get()[8 * i + 7], 0xFF);
        }

        // B, G, R input, bottom-up rows, wider stride.
        WriteArgs b = a;
        b.flags |= 8 | 4;
        b.stride = w * 3 + 5;
        Bytes bgrUp(static_cast<size_t>(b.stride) * h, 0xEE);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = &rgb[(y * w + x) * 3];
                uint8_t* q = &bgrUp[(h - 1 - y) * b.stride + x * 3];
                q[0] = p[2];
                q[1] = p[1];
                q[2] = p[0];
            }
        }
        r = Read(Write(bgrUp, w, h, b), 24);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(rgb.size()), rgb);

        a.colourType = 6;
        Bytes rgba = Rgba(w, h);
        file = Write(rgba, w, h, a);
        r = Read(file, 32);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(rgba.size()), rgba);

        a.bitDepth = 16;
        a.colourType = 2;
        Bytes rgb48 = Pattern(w, h, 6, 8);
        file = Write(rgb48, w, h, a);
        r = Read(file, 48);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.Data(rgb48.size()), rgb48);
        r = Read(file, 24);
        ASSERT_TRUE(r.buf);
        for (size_t i = 0; i < rgb48.size() / 2; ++i) {
            int v = rgb48[2 * i] | (rgb48[2 * i + 1] << 8);
            EXPECT_NEAR(r.buf.get()[i], (v + 128) / 257, 1);
        }

        a.colourType = 6;
        Bytes rgba64 = Pattern(w, h, 8, 9);
        file = Write(rgba64, w, h, a);
        r = Read(file, 64);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(rgba64.size()), rgba64);

        a.bitDepth = 8;
        a.colourType = 4;
        Bytes ga = Pattern(w, h, 2, 10);
        file = Write(ga, w, h, a);
        r = Read(file, 16);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.Data(ga.size()), ga);
        r = Read(file, 32);
        ASSERT_TRUE(r.buf);
        EXPECT_EQ(r.buf.get()[0], ga[0]);
        EXPECT_EQ(r.buf.get()[2], ga[0]);
        EXPECT_EQ(r.buf.get()[3], ga[1]);
    }
}

TEST(PngRoundTrip, InterlacedReadsLikeItsTwin) {
    const uint32_t w = 23, h = 19;
    Bytes rgba = Rgba(w, h, 3);
    WriteArgs a;
    a.colourType = 6;
    Bytes plain = Write(rgba, w, h, a);
    a.flags = 1;
    Bytes laced = Write(rgba, w, h, a);
    ASSERT_EQ(Chunks(laced)[0].data[12], 1);
    for (uint32_t depth : {24u, 32u, 64u}) {
        ReadResult p = Read(plain, depth), l = Read(laced, depth);
        ASSERT_TRUE(p.buf && l.buf);
        EXPECT_EQ(p.Data(w * h * depth / 8), l.Data(w * h * depth / 8)) << depth;
    }
}

// ---- reading ---------------------------------------------------------------

TEST(PngRead, ArgumentDepthAndFormatErrors) {
    Bytes rgb = Pattern(4, 3, 3);
    WriteArgs a;
    Bytes file = Write(rgb, 4, 3, a);
    uint32_t w, h;
    uint8_t pal[1024];
    EXPECT_EQ(IS40_ReadPNG(nullptr, &w, &h, 24, pal, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    ISHANDLE closed = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    IS40_CloseSource(closed);
    EXPECT_EQ(IS40_ReadPNG(closed, &w, &h, 24, pal, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    WithMemorySource(file, [&](ISHANDLE src) {
        EXPECT_EQ(IS40_ReadPNG(src, &w, nullptr, 24, pal, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), 5u);
        return 0;
    });
    for (uint32_t depth : {0u, 2u, 4u, 12u, 40u, 96u}) EXPECT_EQ(ReadError(file, depth), 5u) << depth;
    EXPECT_FALSE(Read(file, 8, 0, false).buf);
    EXPECT_EQ(ReadError(file, 48, 2), 5u);  // no DIB layout with 16-bit samples

    // Depths a picture cannot be delivered at.
    EXPECT_EQ(ReadError(file, 8), 28u);
    EXPECT_EQ(ReadError(file, 1), 28u);
    EXPECT_EQ(ReadError(file, 16), 28u);
    a.colourType = 0;
    Bytes grey = Write(Pattern(4, 3, 1), 4, 3, a);
    EXPECT_EQ(ReadError(grey, 1), 28u);
    Bytes pal8 = Palette(4);
    a.colourType = 3;
    a.paletteCount = 4;
    a.palette = pal8.data();
    Bytes idx(12, 1);
    Bytes palFile = Write(idx, 4, 3, a);
    EXPECT_EQ(ReadError(palFile, 48), 28u);
    EXPECT_EQ(ReadError(palFile, 16), 28u);
    a.colourType = 4;
    a.paletteCount = 0;
    Bytes gaFile = Write(Pattern(4, 3, 2), 4, 3, a);
    EXPECT_EQ(ReadError(gaFile, 64), 28u);
    EXPECT_EQ(ReadError(gaFile, 16, 4), 28u);

    // Not a PNG, a short signature, a cut-off file.
    Bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadError(bmp, 24), 6u);
    EXPECT_EQ(ReadError(Bytes(file.begin(), file.begin() + 5), 24), 3u);
    EXPECT_EQ(ReadError(Bytes(file.begin(), file.begin() + 40), 24), 3u);
    EXPECT_EQ(ReadError(Bytes(file.begin(), file.end() - 20), 24), 3u);
    // A damaged header chunk.
    Bytes bad = file;
    bad[16 + 8] = 7;  // bit depth 7
    EXPECT_EQ(ReadError(bad, 24), 6u);
}

TEST(PngRead, LayoutFlags) {
    Bytes rgb = Pattern(3, 2, 3, 11);
    WriteArgs a;
    Bytes file = Write(rgb, 3, 2, a);
    ReadResult r = Read(file, 24, 8);
    ASSERT_TRUE(r.buf);
    Bytes padded = r.Data(24);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(padded[y * 12 + x * 3], rgb[(y * 3 + x) * 3 + 2]);
            EXPECT_EQ(padded[y * 12 + x * 3 + 2], rgb[(y * 3 + x) * 3]);
        }
        EXPECT_EQ(padded[y * 12 + 9], 0);
        EXPECT_EQ(padded[y * 12 + 11], 0);
    }

    ISResolution res{3780, 2835, 1};
    a.res = &res;
    file = Write(rgb, 3, 2, a);
    r = Read(file, 24, 2);
    ASSERT_TRUE(r.buf);
    const uint8_t* d = r.buf.get();
    EXPECT_EQ(ISGet32LE(d), 40u);
    EXPECT_EQ(ISGet32LE(d + 4), 3u);
    EXPECT_EQ(ISGet32LE(d + 8), 2u);
    EXPECT_EQ(ISGet16LE(d + 14), 24u);
    EXPECT_EQ(ISGet32LE(d + 24), 3780u);
    EXPECT_EQ(ISGet32LE(d + 28), 2835u);
    // Bottom-up: the first stored row is the picture's last.
    EXPECT_EQ(d[40], rgb[9 + 2]);
    EXPECT_EQ(d[40 + 12 + 2], rgb[0]);

    Bytes pal = Palette(16);
    a.res = nullptr;
    a.colourType = 3;
    a.bitDepth = 8;
    a.paletteCount = 16;
    a.palette = pal.data();
    Bytes idx = {1, 2, 3, 4, 5, 6};
    r = Read(Write(idx, 3, 2, a), 8, 2, false);
    ASSERT_TRUE(r.buf) << r.error;
    d = r.buf.get();
    EXPECT_EQ(ISGet16LE(d + 14), 8u);
    EXPECT_EQ(ISGet32LE(d + 32), 256u);
    EXPECT_EQ(d[40 + 4 * 2], pal[8]);
    EXPECT_EQ(d[40 + 1024], 4);  // last row first
    EXPECT_EQ(d[40 + 1024 + 4], 1);
}

TEST(PngDims, HeaderValues) {
    auto dims = [](const Bytes& file, uint32_t* v, int32_t* t, ISResolution* res) {
        return WithMemorySource(file, [&](ISHANDLE h) {
            return IS40_GetPNGDims(h, &v[0], &v[1], &v[2], &v[3], &v[4], &t[0], &t[1], &t[2], &t[3], &t[4], res, 0);
        });
    };
    WriteArgs a;
    a.bitDepth = 16;
    a.flags = 1;
    ISResolution in{5000, 4000, 1};
    a.res = &in;
    Bytes file = Write(Pattern(7, 5, 6), 7, 5, a);
    uint32_t v[5];
    int32_t t[5];
    ISResolution res{-1, -1, 9};
    ASSERT_TRUE(dims(file, v, t, &res));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(v[0], 7u);
    EXPECT_EQ(v[1], 5u);
    EXPECT_EQ(v[2], 16u);
    EXPECT_EQ(v[3], 2u);
    EXPECT_EQ(v[4], 1u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(t[i], -1);
    EXPECT_EQ(res.xRes, 5000);
    EXPECT_EQ(res.yRes, 4000);
    EXPECT_EQ(res.unit, 1u);

    // tRNS colour of an RGB file; a file without pHYs gives zeros.
    Bytes raw = {0, 1, 2, 3};
    Bytes trns = {0, 10, 0, 20, 0, 30};
    file = BuildPng(1, 1, 8, 2, raw, {MakeChunk("tRNS", trns)});
    ASSERT_TRUE(dims(file, v, t, &res));
    EXPECT_EQ(t[0], -1);
    EXPECT_EQ(t[1], 10);
    EXPECT_EQ(t[2], 20);
    EXPECT_EQ(t[3], 30);
    EXPECT_EQ(res.xRes, 0);
    EXPECT_EQ(res.unit, 0u);
    ASSERT_TRUE(dims(file, v, t, nullptr));

    // Missing outputs, wrong format.
    WithMemorySource(file, [&](ISHANDLE h) {
        EXPECT_FALSE(IS40_GetPNGDims(h, &v[0], &v[1], &v[2], &v[3], &v[4], nullptr, &t[1], &t[2], &t[3], &t[4], &res, 0));
        EXPECT_EQ(IS40_GetLastError(), 5u);
        return 0;
    });
    Bytes notPng(64, 'x');
    EXPECT_FALSE(dims(notPng, v, t, &res));
    EXPECT_EQ(IS40_GetLastError(), 6u);
}

// ---- writing -----------------------------------------------------------------

TEST(PngWrite, Errors) {
    Bytes rgb = Pattern(4, 4, 3);
    Bytes pal = Palette(4);
    uint32_t err = 0, ret = 1;
    auto expectFail = [&](const WriteArgs& a, uint32_t code, const uint8_t* image) {
        uint32_t stride = a.stride ? a.stride : 12;
        WriteToBytes("bad.png", [&](ISHANDLE d) {
            ret = IS40_WritePNG(d, image, 4, 4, stride, a.bitDepth, a.paletteCount, a.palette, a.colourType, 0.0,
                                nullptr, a.flags);
            err = IS40_GetLastError();
            return ret;
        });
        EXPECT_EQ(ret, 0u);
        EXPECT_EQ(err, code);
    };
    WriteArgs a;
    expectFail(a, 5, nullptr);
    a.paletteCount = 4;  // count without palette
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.bitDepth = 4;  // RGB at 4 bits
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.colourType = 5;
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.colourType = 3;  // palette image without palette entries
    expectFail(a, 5, rgb.data());
    a.paletteCount = 300;
    a.palette = pal.data();
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.stride = 11;
    expectFail(a, 5, rgb.data());

    EXPECT_EQ(IS40_WritePNG(nullptr, rgb.data(), 4, 4, 12, 8, 0, nullptr, 2, 0.0, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);

    // A device that refuses the data: a write failure, never a success.
    ISHANDLE full = IS40_OpenFileDest("/dev/full", 0);
    if (full) {
        Bytes big = Pattern(300, 300, 3);
        EXPECT_EQ(IS40_WritePNG(full, big.data(), 300, 300, 900, 8, 0, nullptr, 2, 0.0, nullptr, 0), 0u);
        EXPECT_EQ(IS40_GetLastError(), 4u);
        IS40_CloseDest(full);
    }
}

// ---- the generic reader and handles ----------------------------------------------

TEST(PngGeneric, ReadImageModesAndReusableHandle) {
    const uint32_t w = 6, h = 5;
    Bytes rgba = Rgba(w, h, 7);
    WriteArgs a;
    a.colourType = 6;
    Bytes file = Write(rgba, w, h, a);
    ReadResult ref = Read(file, 24);
    ASSERT_TRUE(ref.buf);

    uint32_t gw = 0, gh = 0;
    WithMemorySource(file, [&](ISHANDLE src) {
        LibBuffer out(IS40_ReadImage(src, &gw, &gh, 0, 0));
        EXPECT_EQ(IS40_GetLastError(), 0u);
        if (!out) return ADD_FAILURE() << "mode 0", 0;
        EXPECT_EQ(gw, w);
        EXPECT_EQ(gh, h);
        EXPECT_EQ(IS40_GlobalSize(out.get()), w * h * 3u);
        EXPECT_EQ(Bytes(out.get(), out.get() + w * h * 3), ref.Data(w * h * 3));
        LibBuffer wide(IS40_ReadImage(src, &gw, &gh, 1, 0));
        if (!wide) return ADD_FAILURE() << "mode 1", 0;
        EXPECT_EQ(Bytes(wide.get(), wide.get() + rgba.size()), rgba);
        LibBuffer dib(IS40_ReadImage(src, &gw, &gh, 2, 0));
        if (!dib) return ADD_FAILURE() << "mode 2", 0;
        EXPECT_EQ(ISGet32LE(dib.get() + 4), w);
        return 0;
    });

    // A failed read leaves the source usable after a seek back.
    WithMemorySource(file, [&](ISHANDLE src) {
        uint32_t rw, rh;
        uint8_t pal[1024];
        EXPECT_EQ(IS40_ReadPNG(src, &rw, &rh, 8, pal, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), 28u);
        EXPECT_TRUE(IS40_Seek(src, 0, 0));
        LibBuffer again(IS40_ReadPNG(src, &rw, &rh, 24, pal, 0));
        EXPECT_TRUE(again);
        return 0;
    });

    // File sources read the same.
    std::string path = ScratchPath("file.png");
    WriteFileBytes(path, file);
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(src, nullptr);
    uint32_t rw, rh;
    LibBuffer fromFile(IS40_ReadPNG(src, &rw, &rh, 24, nullptr, 0));
    IS40_CloseSource(src);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(Bytes(fromFile.get(), fromFile.get() + w * h * 3), ref.Data(w * h * 3));
}

// ---- robustness ---------------------------------------------------------------

TEST(PngRobust, CorruptionSweep) {
    WriteArgs a;
    a.colourType = 6;
    a.flags = 1 | 16;
    Bytes laced = Write(Rgba(7, 5, 2), 7, 5, a);
    CorruptionSweep(laced, [](ISHANDLE h) {
        uint32_t w, hh;
        return IS40_ReadPNG(h, &w, &hh, 24, nullptr, 0);
    }, 1500);
    CorruptionSweep(laced, [](ISHANDLE h) {
        uint32_t w, hh;
        return IS40_ReadPNG(h, &w, &hh, 64, nullptr, 0);
    }, 500);

    Bytes pal = Palette(16);
    pal[7] = 0;
    a = WriteArgs();
    a.colourType = 3;
    a.bitDepth = 4;
    a.paletteCount = 16;
    a.palette = pal.data();
    a.flags = 2 | 16;
    Bytes idx = Pattern(5, 6, 1, 3);
    Bytes palFile = Write(idx, 9, 6, a);
    CorruptionSweep(palFile, [](ISHANDLE h) {
        uint32_t w, hh;
        static uint8_t p[1024];
        return IS40_ReadPNG(h, &w, &hh, 8, p, 0);
    }, 1500);
    CorruptionSweep(palFile, [](ISHANDLE h) {
        uint32_t v[5];
        int32_t t[5];
        ISResolution r;
        IS_BOOL ok = IS40_GetPNGDims(h, &v[0], &v[1], &v[2], &v[3], &v[4], &t[0], &t[1], &t[2], &t[3], &t[4], &r, 0);
        // Non-null stand-in for success; the sweep frees it.
        return ok ? static_cast<uint8_t*>(IS40_GlobalAlloc(0x40, 1)) : nullptr;
    }, 500);
}

TEST(PngRobust, OutOfMemoryAtEveryAllocation) {
    WriteArgs a;
    a.colourType = 6;
    a.flags = 1;
    const Bytes rgba = Rgba(40, 30, 3);
    const Bytes file = Write(rgba, 40, 30, a);
    bool done = false;
    for (int64_t budget = 0; budget < 400 && !done; ++budget) {
        ReadResult r;
        WithMemorySource(file, [&](ISHANDLE h) {
            ISSetAllocFailAfter(budget);
            r.buf = LibBuffer(IS40_ReadPNG(h, &r.width, &r.height, 24, nullptr, 0));
            r.error = IS40_GetLastError();
            ISSetAllocFailAfter(-1);
            return 0;
        });
        if (r.buf) {
            done = true;
        } else {
            EXPECT_TRUE(r.error == 1 || r.error == 16) << "budget " << budget << ": " << r.error;
        }
    }
    EXPECT_TRUE(done);
    done = false;
    for (int64_t budget = 0; budget < 400 && !done; ++budget) {
        uint32_t err = 0, size = 0;
        WriteToBytes("oom.png", [&](ISHANDLE d) {
            ISSetAllocFailAfter(budget);
            size = IS40_WritePNG(d, rgba.data(), 40, 30, 160, 8, 0, nullptr, 6, 0.0, nullptr, 1);
            err = IS40_GetLastError();
            ISSetAllocFailAfter(-1);
            return size;
        });
        if (size) {
            done = true;
        } else {
            EXPECT_TRUE(err == 1 || err == 16) << "budget " << budget << ": " << err;
        }
    }
    EXPECT_TRUE(done);
}

TEST(PngRobust, DecompressionBombFailsCleanly) {
    // 100000 x 100000 pixels in a few hundred bytes.
    Bytes raw(100001 * 4, 0);
    Bytes rgbBomb = BuildPng(100000, 100000, 8, 2, raw);
    ASSERT_LT(rgbBomb.size(), 2000u);
    for (uint32_t depth : {24u, 32u, 8u, 1u, 64u}) {
        uint32_t err = ReadError(rgbBomb, depth);
        EXPECT_TRUE(err == 1 || err == 28) << depth << ": " << err;
    }
    EXPECT_EQ(ReadError(rgbBomb, 1), 28u);
    // At 1 bit the picture would fit the allocation limit, but not the file.
    Bytes greyBomb = BuildPng(100000, 100000, 1, 0, raw);
    EXPECT_EQ(ReadError(greyBomb, 1), 3u);
    EXPECT_EQ(ReadError(greyBomb, 24), 1u);

    // 30000 x 30000 grey fits the allocation limit, but its few bytes cannot
    // hold the rows: refused before the 900 MB buffer is asked for. In a
    // child with a small address space such an allocation would fail as 1.
    Bytes small = BuildPng(30000, 30000, 8, 0, Bytes(30001 * 2, 0));
    EXPECT_EQ(ReadError(small, 8), 3u);
    if (!kSanitized) {
        int code = InCappedChild(256ull << 20, [&]() { return static_cast<int>(ReadError(small, 8)); });
        EXPECT_EQ(code, 3);
    }
}

// ---- ImageMagick -----------------------------------------------------------------

TEST(PngInterop, MagickFilesReadBack) {
    REQUIRE_MAGICK();
    const uint32_t w = 37, h = 23;
    std::string rgbaSrc = ScratchPath("src.pam");
    Bytes rgba = Rgba(w, h, 5);
    WriteNetpbm(rgbaSrc, rgba, w, h, 4);
    std::string rgbSrc = ScratchPath("src.ppm");
    Bytes rgb = Pattern(w, h, 3, 6);
    WriteNetpbm(rgbSrc, rgb, w, h, 3);
    // Few colours for the palette variants.
    Bytes few = rgba;
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        uint8_t c = static_cast<uint8_t>((i * 7 / 5) % 6 * 40);
        few[4 * i] = c;
        few[4 * i + 1] = static_cast<uint8_t>(255 - c);
        few[4 * i + 2] = static_cast<uint8_t>(c / 2);
        few[4 * i + 3] = (i % 5 == 0) ? 0 : 255;
    }
    std::string fewSrc = ScratchPath("few.pam");
    WriteNetpbm(fewSrc, few, w, h, 4);

    struct Variant {
        const char* name;
        std::string src;
        const char* options;
        const char* out;
        bool alpha;
    } variants[] = {
        {"grey", rgbSrc, "-colorspace Gray -define png:color-type=0", "grey.png", false},
        {"grey1", rgbSrc, "-colorspace Gray -threshold 50% -define png:bit-depth=1 -define png:color-type=0", "grey1.png", false},
        {"palette", rgbSrc, "-colors 50", "PNG8:palette.png", false},
        {"palette+tRNS", fewSrc, "", "PNG8:paltrns.png", true},
        {"rgb", rgbSrc, "", "PNG24:rgb.png", false},
        {"rgba", rgbaSrc, "", "PNG32:rgba.png", true},
        {"rgb16", rgbSrc, "-depth 16", "PNG48:rgb16.png", false},
        {"rgba16", rgbaSrc, "-depth 16", "PNG64:rgba16.png", true},
        {"interlaced", rgbaSrc, "-interlace PNG", "PNG32:laced.png", true},
        {"grey+alpha", rgbaSrc, "-colorspace Gray -define png:color-type=4", "ga.png", true},
    };
    for (const Variant& v : variants) {
        std::string out = v.out;
        std::string prefix;
        size_t colon = out.find(':');
        if (colon != std::string::npos) {
            prefix = out.substr(0, colon + 1);
            out = out.substr(colon + 1);
        }
        std::string path = ScratchPath(out);
        ASSERT_EQ(Shell("convert '" + v.src + "' " + v.options + " " + prefix + "'" + path + "'"), 0) << v.name;
        Bytes file = ReadFileBytes(path);
        ReadResult r = Read(file, v.alpha ? 32 : 24);
        ASSERT_TRUE(r.buf) << v.name << ": " << r.error;
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, h);
        Bytes expect = MagickPixels(path, v.alpha ? "rgba" : "rgb");
        const size_t n = static_cast<size_t>(w) * h * (v.alpha ? 4 : 3);
        ASSERT_EQ(expect.size(), n) << v.name;
        Bytes got = r.Data(n);
        if (v.alpha) {
            // Colour under full transparency is not defined.
            for (size_t i = 0; i < n; i += 4) {
                if (expect[i + 3] == 0 && got[i + 3] == 0) {
                    std::memset(&expect[i], 0, 3);
                    std::memset(&got[i], 0, 3);
                }
            }
        }
        EXPECT_LE(MaxDiff(got, expect), 1) << v.name;

        // At 24 bits alpha comes composited over black (ImageMagick files
        // carry a bKGD only when asked to).
        if (v.alpha && !Find(Chunks(file), "bKGD")) {
            ReadResult r24 = Read(file, 24);
            ASSERT_TRUE(r24.buf);
            Bytes flat = MagickPixels(path, "rgb", "-background black -alpha remove");
            EXPECT_LE(MaxDiff(r24.Data(static_cast<size_t>(w) * h * 3), flat), 2) << v.name;
        }
    }
}

TEST(PngInterop, WrittenFilesOpenInMagick) {
    REQUIRE_MAGICK();
    const uint32_t w = 29, h = 17;
    Bytes pal = Palette(64);
    Bytes idx = Pattern(w, h, 1, 2);
    for (uint8_t& v : idx) v %= 64;
    struct Case {
        const char* name;
        Bytes image;
        WriteArgs args;
        const char* map;
        Bytes expect;
    };
    std::vector<Case> cases;
    {
        Case c{"rgb", Pattern(w, h, 3, 3), WriteArgs(), "rgb", {}};
        c.expect = c.image;
        cases.push_back(c);
        c.name = "rgb interlaced";
        c.args.flags = 1;
        cases.push_back(c);
    }
    {
        Case c{"rgba", Rgba(w, h, 4), WriteArgs(), "rgba", {}};
        c.args.colourType = 6;
        c.expect = c.image;
        cases.push_back(c);
    }
    {
        Case c{"grey", Pattern(w, h, 1, 5), WriteArgs(), "gray", {}};
        c.args.colourType = 0;
        c.expect = c.image;
        cases.push_back(c);
    }
    {
        Case c{"palette", idx, WriteArgs(), "rgb", PaletteToRgb(idx, pal)};
        c.args.colourType = 3;
        c.args.paletteCount = 64;
        c.args.palette = pal.data();
        cases.push_back(c);
    }
    {
        Bytes rgb16 = Pattern(w, h, 6, 6);
        Case c{"rgb16", rgb16, WriteArgs(), "rgb", {}};
        c.args.bitDepth = 16;
        for (size_t i = 0; i < rgb16.size(); i += 2) {
            int v = rgb16[i] | (rgb16[i + 1] << 8);
            c.expect.push_back(static_cast<uint8_t>((v + 128) / 257));
        }
        cases.push_back(c);
    }
    for (const Case& c : cases) {
        Bytes file = Write(c.image, w, h, c.args);
        std::string path = ScratchPath(std::string("ours-") + std::to_string(&c - &cases[0]) + ".png");
        WriteFileBytes(path, file);
        EXPECT_EQ(MagickSize(path), std::to_string(w) + " " + std::to_string(h)) << c.name;
        EXPECT_LE(MaxDiff(MagickPixels(path, c.map), c.expect), 1) << c.name;
    }
}
