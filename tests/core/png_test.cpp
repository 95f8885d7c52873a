// PNG reader, dimension query and writer.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <zlib.h>

#include <cstring>
#include <string>

using namespace vstest;

namespace {

uint32_t Be32(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
void PutBe32(Bytes& b, uint32_t v) { for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); }

// Payload of the first chunk of a type, or null.
const uint8_t* Find(const Bytes& png, const char* type, uint32_t* length = nullptr) {
    for (size_t at = 8; at + 12 <= png.size(); at += 12 + Be32(&png[at]))
        if (std::memcmp(&png[at + 4], type, 4) == 0) {
            if (length) *length = Be32(&png[at]);
            return &png[at + 8];
        }
    return nullptr;
}

// Length, type, data and the CRC of type and data.
Bytes MakeChunk(const char* type, const Bytes& data) {
    Bytes length, body = Cat(Bytes(type, type + 4), data);
    PutBe32(length, static_cast<uint32_t>(data.size()));
    PutBe32(body, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
    return Cat(length, body);
}

// A PNG from its IHDR values and raw (filtered) scan-line data, with extra chunks before IDAT.
Bytes BuildPng(uint32_t w, uint32_t h, uint8_t bitDepth, uint8_t colourType, const Bytes& raw,
               const std::vector<Bytes>& extra = {}) {
    Bytes ihdr;
    PutBe32(ihdr, w);
    PutBe32(ihdr, h);
    ihdr.insert(ihdr.end(), {bitDepth, colourType, 0, 0, 0});
    Bytes png = Cat({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, MakeChunk("IHDR", ihdr));
    for (const Bytes& c : extra) png = Cat(png, c);
    uLongf zlen = compressBound(static_cast<uLong>(raw.size()));
    Bytes z(zlen);
    compress2(z.data(), &zlen, raw.data(), static_cast<uLong>(raw.size()), 9);
    z.resize(zlen);
    return Cat(Cat(png, MakeChunk("IDAT", z)), MakeChunk("IEND", {}));
}

ReadResult Read(const Bytes& file, uint32_t depth, uint32_t flags = 0) { return ReadWith(IS40_ReadPNG, file, depth, flags); }

// Writer arguments; rows are tight.
struct WriteArgs {
    uint32_t colourType = 2, bitDepth = 8, flags = 0;
    const Bytes* palette = nullptr;
    uint32_t paletteCount = 0;
    double gamma = 0.0;
    const ISResolution* res = nullptr;
};

Bytes Write(const Bytes& image, uint32_t w, uint32_t h, const WriteArgs& a = {}, uint32_t* returned = nullptr) {
    const uint32_t channels = a.colourType == 2 ? 3 : a.colourType == 4 ? 2 : a.colourType == 6 ? 4 : 1;
    return WriteToBytes("out.png", [&](ISHANDLE d) {
        return IS40_WritePNG(d, image.data(), w, h, (w * a.bitDepth * channels + 7) / 8, a.bitDepth, a.paletteCount,
                             a.palette ? a.palette->data() : nullptr, a.colourType, a.gamma, a.res, a.flags);
    }, returned);
}

uint8_t Over(uint8_t c, uint8_t a, uint8_t bg) { return static_cast<uint8_t>((c * a + bg * (255 - a) + 127) / 255); }

}  // namespace

// Every colour type and depth a writer call makes reads back as written at its own depth, interlaced or not.
TEST(PngRoundTrip, EveryColourTypeAndDepthAndPaletteTransparency) {
    const uint32_t w = 13, h = 7;
    const Bytes pal = PatternPalette(200, 255);
    const uint32_t cases[][5] = {{0, 1, 1, 0, 2},  {0, 8, 8, 0, 1}, {0, 16, 16, 4, 2}, {2, 8, 24, 0, 3}, {2, 16, 48, 0, 6},
                                 {6, 8, 32, 0, 4}, {6, 16, 64, 0, 8}, {4, 8, 16, 0, 2},  {3, 8, 8, 0, 1},  {3, 1, 1, 0, 2}};
    for (auto [colourType, bitDepth, readDepth, readFlags, bytes] : cases) {
        SCOPED_TRACE("colour type " + std::to_string(colourType) + " depth " + std::to_string(bitDepth));
        const uint32_t row = bitDepth == 1 ? bytes : w * bytes;
        Bytes px = Pattern(row, h, 1, colourType * 16 + bitDepth);
        for (uint32_t y = 0; bitDepth == 1 && y < h; ++y) px[y * row + 1] &= 0xF8;  // unused low bits stay clear
        for (uint8_t& v : px) v = colourType == 3 && bitDepth == 8 ? v % 200 : v;
        for (uint32_t interlace : {0u, 1u}) {
            const bool indexed = colourType == 3;
            const WriteArgs a{colourType, bitDepth, interlace, indexed ? &pal : nullptr, !indexed ? 0 : bitDepth == 1 ? 2u : 200u};
            uint32_t returned = 0;
            const Bytes file = Write(px, w, h, a, &returned);
            EXPECT_EQ(returned, file.size());
            EXPECT_EQ(Find(file, "IHDR")[12], interlace);
            ReadResult r = Read(file, readDepth, readFlags);
            EXPECT_EQ(r.width * 1000 + r.height, w * 1000 + h);
            EXPECT_EQ(r.Data(px.size()), px);
            for (uint32_t i = 0; colourType == 3 && i < 256; ++i) {
                const uint32_t e = i < a.paletteCount ? i : 0;  // unused entries copy entry 0, opaque
                ASSERT_EQ(Bytes(&r.palette[4 * i], &r.palette[4 * i + 4]), (Bytes{pal[4 * e], pal[4 * e + 1], pal[4 * e + 2], 255})) << i;
            }
        }
    }
    // Palette transparency: without flag 2 no tRNS, every entry opaque, 24 bits the plain colours.
    Bytes tpal = pal, idx = Pattern(w, h, 1, 6);
    tpal[4 * 3 + 3] = 0, tpal[4 * 7 + 3] = 90;
    for (uint8_t& v : idx) v %= 200;
    idx[0] = 3, idx[1] = 7;
    Bytes file = Write(idx, w, h, {3, 8, 0, &tpal, 200});
    EXPECT_EQ(Read(file, 24).Data(idx.size() * 3), ThroughPalette(idx.data(), idx.size(), tpal.data()));
    // Flag 2: tRNS from the fourth bytes.
    file = Write(idx, w, h, {3, 8, 2, &tpal, 200});
    ReadResult r = Read(file, 8);
    EXPECT_EQ(Bytes({r.palette[4 * 3 + 3], r.palette[4 * 7 + 3], r.palette[4 * 8 + 3]}), Bytes({0, 90, 255}));
    EXPECT_EQ(Read(file, 32).Data(8), (Bytes{tpal[4 * 3 + 2], tpal[4 * 3 + 1], tpal[4 * 3], 0,
                                             tpal[4 * 7 + 2], tpal[4 * 7 + 1], tpal[4 * 7], 90}));
}

TEST(PngRoundTrip, DepthConversions) {
    const uint32_t w = 11, h = 3, n = w * h;
    // Grey at 2 and 4 bits is written as asked.
    for (uint32_t depth : {2u, 4u}) {
        const Bytes file = Write(Pattern(6, h, 1, 5), w, h, {0, depth});
        ASSERT_TRUE(Find(file, "IHDR")) << depth;
        EXPECT_EQ(Find(file, "IHDR")[8], depth);
    }
    // Grey 1 bit at 8 bits: one index a pixel over a two-level ramp.
    const Bytes bits = Pattern(2, h, 1, 3);
    ReadResult r = Read(Write(bits, w, h, {0, 1}), 8);
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(r.Data(n)[i], (bits[i / w * 2 + i % w / 8] >> (7 - i % w % 8)) & 1);
    EXPECT_EQ(Bytes(r.palette.begin(), r.palette.begin() + 12), (Bytes{0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255}));
    // Grey 8 bits: a full ramp at 8, equal channels at 24, opaque at 16.
    const Bytes grey = Pattern(w, h, 1, 4), greyFile = Write(grey, w, h, {0});
    r = Read(greyFile, 8);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(r.palette[4 * i + 1], i);
    const Bytes rgb24 = Read(greyFile, 24).Data(3 * n), ga = Read(greyFile, 16).Data(2 * n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(Bytes(&rgb24[3 * i], &rgb24[3 * i + 3]), Bytes(3, grey[i]));
        EXPECT_EQ(Get16(ga, 2 * i), grey[i] | 255u << 8);
    }
    // 16-bit samples: scaled down at 24 bits, little-endian at 48.
    const Bytes grey16 = Pattern(w, h, 2, 5), g16File = Write(grey16, w, h, {0, 16});
    const Bytes g24 = Read(g16File, 24).Data(3 * n), g48 = Read(g16File, 48).Data(6 * n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_NEAR(g24[3 * i + 2], (Get16(grey16, 2 * i) + 128) / 257, 1);
        EXPECT_EQ(Get16(g48, 6 * i + 4), Get16(grey16, 2 * i));
    }
    // RGB 8 bits: opaque at 32, v x 257 at 64; grey + alpha at 32: grey in every channel, alpha kept.
    const Bytes rgb = Pattern(w, h, 3, 7), gaPx = Pattern(w, h, 2, 10), rgbFile = Write(rgb, w, h);
    const Bytes r32 = Read(rgbFile, 32).Data(4 * n), r64 = Read(rgbFile, 64).Data(8 * n), ga32 = Read(Write(gaPx, w, h, {4}), 32).Data(4 * n);
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(Bytes(&r32[4 * i], &r32[4 * i + 4]), (Bytes{rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], 255}));
        EXPECT_EQ(Get16(r64, 8 * i + 2), rgb[3 * i + 1] * 257u);
        EXPECT_EQ(Get16(r64, 8 * i + 6), 0xFFFFu);
        EXPECT_EQ(Bytes(&ga32[4 * i], &ga32[4 * i + 4]), (Bytes{gaPx[2 * i], gaPx[2 * i], gaPx[2 * i], gaPx[2 * i + 1]}));
    }
}

TEST(PngRead, AlphaIsCompositedOverBackground) {
    const uint32_t w = 8, h = 2;
    const Bytes rgba = PatternRgba(w, h, 4);
    Bytes raw;
    for (uint32_t y = 0; y < h; ++y) raw = Cat(Cat(raw, {0}), Bytes(rgba.begin() + y * w * 4, rgba.begin() + (y + 1) * w * 4));
    const uint8_t bg[2][3] = {{0, 0, 0}, {0x20, 0x90, 0xF0}};
    for (int withBkgd : {0, 1}) {
        SCOPED_TRACE(withBkgd ? "bKGD" : "black");
        const Bytes file = BuildPng(w, h, 8, 6, raw, withBkgd ? std::vector<Bytes>{MakeChunk("bKGD", {0, 0x20, 0, 0x90, 0, 0xF0})} : std::vector<Bytes>{});
        const Bytes flat = Read(file, 24).Data(w * h * 3);
        ASSERT_EQ(flat.size(), w * h * 3);
        for (size_t i = 0; i < w * h * 3; ++i) EXPECT_NEAR(flat[i], Over(rgba[i / 3 * 4 + i % 3], rgba[i / 3 * 4 + 3], bg[withBkgd][i % 3]), 1) << i;
        // 32 bits keeps alpha and ignores the background.
        EXPECT_EQ(Read(file, 32).Data(rgba.size()), rgba);
    }
    // Grey + alpha over black; 16-bit RGBA over black at 48 bits.
    const uint8_t half = Over(100, 128, 0);
    EXPECT_EQ(Read(Write(Bytes{200, 0, 200, 255, 100, 128}, 3, 1, {4}), 24).Data(9), (Bytes{0, 0, 0, 200, 200, 200, half, half, half}));
    const Bytes px = {0x00, 0x80, 0x00, 0x40, 0xFF, 0xFF, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    EXPECT_EQ(Read(Write(px, 2, 1, {6, 16}), 48).Data(12), (Bytes{0, 0, 0, 0, 0, 0, 0x34, 0x12, 0, 0, 0, 0}));
}

TEST(PngRead, ErrorCodesAndDecompressionBombs) {
    const Bytes pal8 = PatternPalette(4, 255);
    const Bytes rgb = Write(Pattern(4, 3, 3), 4, 3), grey = Write(Pattern(4, 3, 1), 4, 3, {0});
    const Bytes indexed = Write(Bytes(12, 1), 4, 3, {3, 8, 0, &pal8, 4}), greyAlpha = Write(Pattern(4, 3, 2), 4, 3, {4});
    Bytes badDepth = rgb;
    badDepth[16 + 8] = 7;  // IHDR bit depth 7
    // 100000 x 100000 pixels in a few hundred bytes; at 1 bit the grey one would fit the allocation limit, but not the
    // file. 30000 x 30000 grey fits the limit, but its few bytes cannot hold the rows: refused before the 900 MB buffer
    // is asked for.
    const Bytes raw(100001 * 4, 0), rgbBomb = BuildPng(100000, 100000, 8, 2, raw), greyBomb = BuildPng(100000, 100000, 1, 0, raw);
    const Bytes small = BuildPng(30000, 30000, 8, 0, Bytes(30001 * 2, 0));
    const struct Case { const Bytes* file; uint32_t depth, flags, error; } cases[] = {
        {&rgb, 0, 0, 5}, {&rgb, 2, 0, 5}, {&rgb, 12, 0, 5}, {&rgb, 40, 0, 5},
        {&rgb, 48, 2, 5}, {&rgb, 16, 2, 5}, {&rgb, 64, 2, 5},  // no DIB layout with 16-bit samples
        {&rgb, 8, 0, 28}, {&rgb, 16, 0, 28}, {&grey, 1, 0, 28}, {&indexed, 48, 0, 28},
        {&indexed, 16, 0, 28}, {&greyAlpha, 64, 0, 28}, {&greyAlpha, 16, 4, 28}, {&badDepth, 24, 0, 6},
        {&rgbBomb, 24, 0, 1}, {&rgbBomb, 32, 0, 1}, {&rgbBomb, 64, 0, 1}, {&rgbBomb, 1, 0, 28},
        {&greyBomb, 1, 0, 3}, {&greyBomb, 24, 0, 1}, {&small, 8, 0, 3}};
    for (const Case& c : cases) EXPECT_EQ(ReadError(IS40_ReadPNG, *c.file, c.depth, c.flags), c.error);
    if (!kSanitized) {
        EXPECT_EQ(InCappedChild(256ull << 20, [&]() { return static_cast<int>(ReadError(IS40_ReadPNG, small, 8)); }), 3);
    }
    EXPECT_EQ(ReadWith(IS40_ReadPNG, rgb, 8, 0, -1, false).error, 5u);  // index depths need a palette
    uint32_t w;
    uint8_t pal[1024];
    EXPECT_FAILS_WITH(WithMemorySource(rgb, [&](ISHANDLE s) { return IS40_ReadPNG(s, &w, nullptr, 24, pal, 0); }), 5);
    EXPECT_EQ(ReadError(IS40_ReadPNG, Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 24), 6u);  // not a PNG
}

TEST(PngDims, HeaderValues) {
    uint32_t v[5];
    int32_t t[5];
    auto dims = [&](const Bytes& file, ISResolution* res) {
        return WithMemorySource(file, [&](ISHANDLE h) {
            return IS40_GetPNGDims(h, &v[0], &v[1], &v[2], &v[3], &v[4], &t[0], &t[1], &t[2], &t[3], &t[4], res, 0);
        });
    };
    const ISResolution in{5000, 4000, 1};
    ISResolution res{-1, -1, 9};
    ASSERT_TRUE(dims(Write(Pattern(7, 5, 6), 7, 5, {2, 16, 1, nullptr, 0, 0, &in}), &res));
    EXPECT_EQ(Bytes(v, v + 5), (Bytes{7, 5, 16, 2, 1}));
    EXPECT_EQ(std::vector<int32_t>(t, t + 5), std::vector<int32_t>(5, -1));
    EXPECT_EQ((std::vector<double>{res.xRes, res.yRes, double(res.unit)}), (std::vector<double>{5000, 4000, 1}));
    // tRNS colour of an RGB file; a file without pHYs gives zeros.
    const Bytes file = BuildPng(1, 1, 8, 2, {0, 1, 2, 3}, {MakeChunk("tRNS", {0, 10, 0, 20, 0, 30})});
    ASSERT_TRUE(dims(file, &res));
    EXPECT_EQ(std::vector<int32_t>(t, t + 4), (std::vector<int32_t>{-1, 10, 20, 30}));
    EXPECT_EQ(res.xRes + res.unit, 0);
    ASSERT_TRUE(dims(file, nullptr));
    // Missing outputs, wrong format.
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE h) {
        return IS40_GetPNGDims(h, &v[0], &v[1], &v[2], &v[3], &v[4], nullptr, &t[1], &t[2], &t[3], &t[4], &res, 0);
    }), 5);
    EXPECT_FAILS_WITH(dims(Bytes(64, 'x'), &res), 6);
}

TEST(PngWrite, Chunks) {
    const uint32_t w = 17, h = 9;
    const Bytes rgb = Pattern(w, h, 3, 12);
    struct Case { uint32_t flags; ISResolution res; Bytes phys; };
    // Defaults: a time stamp, pHYs 1 x 1 without unit, no gAMA, no PLTE. Flag 16 drops the time; gamma and a
    // resolution record are written; unknown units and nonsense densities are clamped.
    const Case cases[] = {{0, {-1, -1, 0}, {0, 0, 0, 1, 0, 0, 0, 1, 0}},
                          {16, {2834.6, 1000, 1}, {0, 0, 0x0B, 0x13, 0, 0, 0x03, 0xE8, 1}},
                          {16, {-5, 1e12, 7}, {0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 0}}};
    for (const Case& c : cases) {
        const Bytes file = Write(rgb, w, h, {2, 8, c.flags, nullptr, 0, c.flags ? 0.45455 : 0, c.res.unit ? &c.res : nullptr});
        EXPECT_EQ(Find(file, "tIME") == nullptr, c.flags != 0);
        EXPECT_EQ(Find(file, "PLTE"), nullptr);
        EXPECT_EQ(Find(file, "gAMA") ? Be32(Find(file, "gAMA")) : 0, c.flags ? 45455u : 0u);
        uint32_t length = 0;
        const uint8_t* phys = Find(file, "pHYs", &length);
        EXPECT_EQ(phys ? Bytes(phys, phys + length) : Bytes(), c.phys);
    }
}
