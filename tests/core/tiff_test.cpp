// TIFF reader, dimension query and writer.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vstest;

namespace {

struct RawPage {
    uint32_t w = 4, h = 3;
    uint32_t spp = 3, photometric = PHOTOMETRIC_RGB;
    Bytes data;                         // contiguous scan lines
    uint16_t bps = 8, orientation = 0;  // orientation 0: no tag
    std::vector<uint16_t> map{};  // 3 x entries
    float xRes = 0, yRes = 0;
    uint16_t unit = 0;  // 0: no tag
};

Bytes MakeTiff(const std::vector<RawPage>& pages) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    const std::string path = ScratchPath("made.tif");
    TIFF* t = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    for (const RawPage& p : pages) {
        const uint32_t tags[][2] = {{TIFFTAG_IMAGEWIDTH, p.w}, {TIFFTAG_IMAGELENGTH, p.h},
            {TIFFTAG_SAMPLESPERPIXEL, p.spp}, {TIFFTAG_BITSPERSAMPLE, p.bps}, {TIFFTAG_PHOTOMETRIC, p.photometric},
            {TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG}, {TIFFTAG_ROWSPERSTRIP, 2}};
        for (const auto& tag : tags) TIFFSetField(t, tag[0], tag[1]);
        if (p.orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, p.orientation);
        if (!p.map.empty()) {
            const size_t n = p.map.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, p.map.data(), p.map.data() + n, p.map.data() + 2 * n);
        }
        if (p.xRes > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.xRes);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.yRes);
        }
        if (p.unit) TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, p.unit);
        const size_t line = (static_cast<size_t>(p.w) * p.spp * p.bps + 7) / 8;
        for (uint32_t y = 0; y < p.h; ++y)
            TIFFWriteScanline(t, Bytes(&p.data[y * line], &p.data[y * line] + line).data(), y, 0);
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ReadFileBytes(path);
}

// A classic little-endian TIFF assembled entry by entry (for headers no
// writer would produce). Strip and tile offsets point at the data.
struct Entry { uint16_t tag, type; uint32_t count, value; };

Bytes BuildTiff(std::vector<Entry> entries, const Bytes& data) {
    Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    put(static_cast<uint32_t>(entries.size()), 2);
    for (Entry e : entries) {
        if (e.tag == 273 || e.tag == 324) e.value = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        put(e.tag, 2), put(e.type, 2), put(e.count, 4), put(e.value, 4);  // a SHORT value sits in the low half
    }
    put(0, 4);
    return Cat(out, data);
}

ReadResult Read(const Bytes& file, uint32_t depth, uint32_t flags = 0) { return ReadWith(ISReadTIFFFirstPage, file, depth, flags); }
uint32_t Failure(const Bytes& file, uint32_t depth) { return ReadError(ISReadTIFFFirstPage, file, depth); }

Bytes Write(const Bytes& image, uint32_t w, uint32_t h, uint32_t bits, uint32_t compression = 1, uint32_t flags = 0,
            const uint8_t* palette = nullptr, const ISResolution* res = nullptr, uint32_t* returned = nullptr) {
    return WriteToBytes("out.tif", [&](ISHANDLE d) {
        return IS40_WriteTIFF(d, image.data(), w, h, bits, (w * bits + 7) / 8, palette, compression, res, flags);
    }, returned);
}

// Opens bytes with libtiff for tag checks.
struct TagReader {
    TIFF* t = nullptr;
    explicit TagReader(const Bytes& file) {
        const std::string path = ScratchPath("tags.tif");
        WriteFileBytes(path, file);
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        t = TIFFOpen(path.c_str(), "r");
        EXPECT_NE(t, nullptr);
    }
    ~TagReader() { if (t) TIFFClose(t); }
    template <typename T>
    T Get(uint32_t tag, T none = T(~0u)) { T v = none; return t && TIFFGetField(t, tag, &v) ? v : none; }
};

// Straight RGBA compared with a copy that went through premultiplied
// storage: alpha exact, the colour error growing as alpha shrinks.
void ExpectRgbaClose(const Bytes& got, const Bytes& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        const int a = want[i | 3];
        ASSERT_LE(std::abs(got[i] - want[i]), i % 4 == 3 ? 0 : a ? 255 / (2 * a) + 1 : 255) << "byte " << i;
    }
}

}  // namespace

TEST(TiffRoundTrip, TrueColourEveryCompressionStripsAndTiles) {
    // Larger than one default tile both ways, sizes not multiples of 16.
    const uint32_t w = 270, h = 261;
    const Bytes rgb = Pattern(w, h, 3, 3), rgba = PatternRgba(w, h, 4);
    const uint32_t cases[][2] = {{1, 0}, {1, 0x80}, {5, 0}, {5, 0x80 | 64}, {8, 0}, {8, 64}, {32946, 0}, {32773, 0x80}, {1, 64}};
    for (auto [compression, flags] : cases) {
        SCOPED_TRACE("compression " + std::to_string(compression) + " flags " + std::to_string(flags));
        uint32_t returned = 0;
        const Bytes file = Write(rgb, w, h, 24, compression, flags, nullptr, nullptr, &returned);
        EXPECT_EQ(returned, file.size());
        {
            TagReader tr(file);
            EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_COMPRESSION), compression);
            EXPECT_EQ(TIFFIsTiled(tr.t) != 0, (flags & 0x80) != 0);
            // Differencing only where a scheme can use it.
            EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_PREDICTOR) == 2, (flags & 64) && compression != 1);
        }
        EXPECT_EQ(Read(file, 24).Data(rgb.size()), rgb);
        ExpectRgbaClose(Read(Write(rgba, w, h, 32, compression, flags), 32).Data(rgba.size()), rgba);
    }
    // JPEG is lossy: a smooth picture comes back close; strips hold the whole picture.
    Bytes smooth;
    for (uint32_t i = 0; i < 64 * 48; ++i) smooth.insert(smooth.end(), {uint8_t(i % 64 * 4), uint8_t(i / 64 * 5), uint8_t(128 + 60 * std::sin(i % 64 / 7.0))});
    for (uint32_t tiles : {0u, 0x80u}) {
        const Bytes file = Write(smooth, 64, 48, 24, 7, tiles);
        EXPECT_EQ(TagReader(file).Get<uint32_t>(TIFFTAG_ROWSPERSTRIP) == 48u, !tiles);
        EXPECT_LE(MaxDiff(Read(file, 24).Data(smooth.size()), smooth), 3);
    }
}

TEST(TiffRoundTrip, IndexedGreyAndCmyk) {
    const uint32_t w = 21, h = 13;
    const Bytes pal = PatternPalette(256, 0), pal16 = PatternPalette(16, 0, 9);
    const Bytes idx = Pattern(w, h, 1, 7), nibbles = Pattern((w + 1) / 2, h, 1, 8);
    Bytes halves;
    for (uint32_t i = 0; i < w * h; ++i) halves.push_back(nibbles[i / w * ((w + 1) / 2) + i % w / 2] >> (i % w & 1 ? 0 : 4) & 15);
    for (uint32_t compression : {1u, 5u, 8u, 32773u}) for (uint32_t tiles : {0u, 0x80u}) {
        SCOPED_TRACE("compression " + std::to_string(compression) + " flags " + std::to_string(tiles));
        const Bytes file = Write(idx, w, h, 8, compression, tiles, pal.data());
        ReadResult r = Read(file, 8);
        EXPECT_EQ(r.Data(idx.size()), idx);
        EXPECT_EQ(r.palette, pal);
        EXPECT_EQ(Read(file, 24).Data(idx.size() * 3), ThroughPalette(idx.data(), idx.size(), pal.data()));
        // 4 bits, two indexes a byte, high nibble first; entries past 16 copy entry 0.
        r = Read(Write(nibbles, w, h, 4, compression, tiles, pal16.data()), 8);
        EXPECT_EQ(r.Data(halves.size()), halves);
        EXPECT_EQ(Bytes(r.palette.begin(), r.palette.begin() + 68), Cat(pal16, Bytes(pal16.begin(), pal16.begin() + 4)));
    }
    // A width of whole tiles (256): no tile past the right edge is read.
    const Bytes wide = Pattern(256, 2, 1, 12);
    EXPECT_EQ(Read(Write(wide, 256, 2, 8, 8, 0x80, pal.data()), 8).Data(wide.size()), wide);

    // 1 bit: black and white become bilevel grey, so the fax schemes apply;
    // any other two-entry palette stays a palette and fax becomes none.
    const uint32_t stride = (w + 7) / 8;
    Bytes bits = Pattern(stride, h, 1, 10), unpacked;
    for (uint32_t y = 0; y < h; ++y) bits[y * stride + stride - 1] &= 0xF8;
    for (uint32_t i = 0; i < w * h; ++i) unpacked.push_back((bits[i / w * stride + i % w / 8] >> (7 - i % w % 8)) & 1);
    const Bytes bw = {0, 0, 0, 0, 255, 255, 255, 0}, wb = {255, 255, 255, 0, 0, 0, 0, 0}, two = {0, 0, 0, 0, 200, 100, 255, 0},
                magenta = {0, 0, 0, 0, 255, 0, 255, 0};
    struct Case { const Bytes& palette; uint32_t compression, storedCompression, photometric; };
    const Case cases[] = {{bw, 1, 1, 1}, {bw, 4, 4, 1}, {bw, 5, 5, 1}, {wb, 3, 3, 0}, {wb, 1, 1, 0}, {two, 4, 1, 3}, {two, 32773, 32773, 3}, {magenta, 1, 1, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE("compression " + std::to_string(c.compression) + " photometric " + std::to_string(c.photometric));
        const Bytes file = Write(bits, w, h, 1, c.compression, 0, c.palette.data());
        {
            TagReader tr(file);
            EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_COMPRESSION), c.storedCompression);
            EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_PHOTOMETRIC), c.photometric);
        }
        EXPECT_EQ(Read(file, 1).Data(bits.size()), bits);
        EXPECT_EQ(Read(file, 24).Data(3 * w * h), ThroughPalette(unpacked.data(), unpacked.size(), c.palette.data()));
    }

    // 16-bit grey, little-endian in memory; no index reading of it.
    const Bytes grey16 = Pattern(w, h, 2, 11), file = Write(grey16, w, h, 16, 8);
    ReadResult r = Read(file, 24);
    ASSERT_TRUE(r.buf) << r.error;
    for (size_t i = 0; i < grey16.size() / 2; ++i) ASSERT_NEAR(r.buf.get()[3 * i], Get16(grey16, 2 * i) / 257.0, 1.0);
    EXPECT_EQ(Failure(file, 8), 28u);

    // CMYK, stored as such; the RGBA interface turns it into RGB.
    const Bytes cmykFile = Write(Bytes{0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 128, 255, 0}, 4, 1, 32, 1, 16);
    EXPECT_EQ(TagReader(cmykFile).Get<uint16_t>(TIFFTAG_INKSET), 1u);
    EXPECT_EQ(Read(cmykFile, 24).Data(12), (Bytes{255, 255, 255, 0, 255, 255, 0, 0, 0, 255, 127, 0}));
}

TEST(TiffRead, OrientationTurnsAllEightAndPalettesScaleOrRamp) {
    const uint32_t w = 5, h = 3;
    RawPage rgb{w, h, 3, PHOTOMETRIC_RGB, Pattern(w, h, 3, 12)};
    for (uint16_t o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        rgb.orientation = o;
        const uint32_t vw = o >= 5 ? h : w;
        Bytes expect(rgb.data.size());
        for (uint32_t i = 0; i < w * h; ++i) {
            // Where stored pixel (r, c) shows on screen.
            const uint32_t r = i / w, c = i % w;
            const uint32_t x = o == 2 || o == 3 ? w - 1 - c : o == 5 || o == 8 ? r : o == 6 || o == 7 ? h - 1 - r : c;
            const uint32_t y = o == 3 || o == 4 ? h - 1 - r : o == 5 || o == 6 ? c : o == 7 || o == 8 ? w - 1 - c : r;
            std::memcpy(&expect[(y * vw + x) * 3], &rgb.data[i * 3], 3);
        }
        const Bytes file = MakeTiff({rgb});
        ReadResult got = Read(file, 24);
        EXPECT_EQ(got.width * 10 + got.height, vw * 10 + (o >= 5 ? w : h));
        EXPECT_EQ(got.Data(expect.size()), expect);
        got = Read(file, 24, 1);  // flag 1: as stored
        EXPECT_EQ(got.width, w);
        EXPECT_EQ(got.Data(rgb.data.size()), rgb.data);
    }
    RawPage p{4, 1, 1, PHOTOMETRIC_PALETTE, {0, 1, 2, 255}};
    p.map.assign(3 * 256, 7);
    // Values written as 8-bit numbers are kept as they are.
    for (uint16_t i = 0; i < 256; ++i) p.map[i] = i, p.map[256 + i] = static_cast<uint16_t>(255 - i);
    ReadResult r = Read(MakeTiff({p}), 8);
    EXPECT_EQ(Bytes(&r.palette[4], &r.palette[8]), (Bytes{7, 254, 1, 0}));
    // One value of 256 or more: every value is scaled from 16 bits.
    p.map[512 + 3] = 65535, p.map[1] = 0x8000;
    r = Read(MakeTiff({p}), 8);
    EXPECT_EQ(Bytes(&r.palette[4], &r.palette[16]), (Bytes{0, 0, 0x8000 * 255 / 65535, 0, 0, 253 * 255 / 65535, 0, 0, 255, 0, 0, 0}));

    // Grey pictures read as indexes over a ramp (inverted for min-is-white).
    RawPage g{4, 1, 1, 0, {0x0F, 0x7A}};
    g.bps = 4;
    for (uint16_t photometric : {PHOTOMETRIC_MINISWHITE, PHOTOMETRIC_MINISBLACK}) {
        g.photometric = photometric;
        r = Read(MakeTiff({g}), 8);
        EXPECT_EQ(r.Data(4), (Bytes{0, 15, 7, 10}));
        const uint8_t five = photometric == PHOTOMETRIC_MINISWHITE ? 255 - 5 * 17 : 5 * 17;
        EXPECT_EQ(Bytes(&r.palette[20], &r.palette[24]), (Bytes{five, five, five, 0}));
        EXPECT_EQ(r.palette[60], photometric == PHOTOMETRIC_MINISWHITE ? 0 : 255);
        EXPECT_EQ(Bytes(&r.palette[64], &r.palette[68]), Bytes(&r.palette[0], &r.palette[4]));  // beyond 16: entry 0
    }
}

TEST(TiffRead, PagesDimsAndErrors) {
    std::vector<RawPage> pages;
    for (uint32_t i = 0; i < 3; ++i) pages.push_back(RawPage{3 + i, 2 + 2 * i, i == 2 ? 1u : 3u, i == 2 ? 1u : 2u, Pattern(3 + i, 2 + 2 * i, i == 2 ? 1 : 3, 20 + i)});
    pages[1].xRes = 72.7f, pages[1].yRes = 150.2f, pages[1].unit = RESUNIT_INCH;
    const Bytes file = MakeTiff(pages);
    uint32_t w = 0, h = 0, bits = 0;
    uint8_t table[1024];
    for (uint32_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const LibBuffer px(WithMemorySource(file, [&](ISHANDLE src) { return IS40_ReadTIFF(src, &w, &h, i == 2 ? 8 : 24, table, i, 0); }));
        EXPECT_EQ(w, pages[i].w);
        EXPECT_EQ(px ? Bytes(px.get(), px.get() + pages[i].data.size()) : Bytes(), pages[i].data);
        ISResolution res{-1, -1, 9};
        ASSERT_TRUE(WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, i, &w, &h, &bits, &res, 0); }));
        EXPECT_EQ((std::vector<uint32_t>{w, h, bits, res.unit}), (std::vector<uint32_t>{pages[i].w, pages[i].h, i == 2 ? 8u : 24u, i == 1 ? 2u : 0u}));
        EXPECT_EQ(res.xRes * 1000 + res.yRes, i == 1 ? 72150 : 0);
    }
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE src) { return IS40_ReadTIFF(src, &w, &h, 24, table, 0xFFFFFFFFu, 0); }), 5);
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, 3, &w, &h, &bits, nullptr, 0); }), 5);
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, 0, &w, nullptr, &bits, nullptr, 0); }), 5);

    // Depths and layouts that cannot be delivered.
    RawPage odd, indexed{4, 3, 1, PHOTOMETRIC_PALETTE, Bytes(12, 1)};
    odd.bps = 12, odd.data = Bytes(4 * 3 * 3 * 12 / 8, 0x55);
    indexed.map.assign(3 * 256, 0x1234);
    const Bytes rgb = MakeTiff({pages[0]}), twoFile = MakeTiff({RawPage{4, 3, 2, 2, Pattern(4, 3, 2)}}), oddFile = MakeTiff({odd}),
                palFile = MakeTiff({indexed});
    struct Case { const Bytes& file; uint32_t depth, error; };
    const Case cases[] = {{rgb, 0, 5},  {rgb, 4, 5},       {rgb, 48, 5},      {rgb, 16, 17},    {rgb, 8, 28},
                          {rgb, 1, 28}, {twoFile, 24, 20}, {oddFile, 24, 20}, {palFile, 1, 28}, {Bytes(100, 'x'), 24, 6}};
    for (const Case& c : cases) EXPECT_EQ(Failure(c.file, c.depth), c.error) << "depth " << c.depth;
    EXPECT_EQ(ReadWith(ISReadTIFFFirstPage, rgb, 8, 0, -1, false).error, 5u);  // index depths need a palette
    // A failed read leaves the source usable.
    WithMemorySource(rgb, [&](ISHANDLE src) {
        EXPECT_EQ(IS40_ReadTIFF(src, &w, &h, 8, table, 0, 0), nullptr);
        LibBuffer again(IS40_ReadTIFF(src, &w, &h, 24, nullptr, 0, 0));
        EXPECT_EQ(again ? Bytes(again.get(), again.get() + 18) : Bytes(), pages[0].data);
        return 0;
    });
}

TEST(TiffWrite, TagsAndStoredSamples) {
    const uint32_t w = 9, h = 70;
    const Bytes rgb = Pattern(w, h, 3, 15);
    {
        TagReader tr(Write(rgb, w, h, 24));
        EXPECT_EQ(tr.Get<uint32_t>(TIFFTAG_ROWSPERSTRIP), TIFFDefaultStripSize(tr.t, static_cast<uint32_t>(-1)));
    }
    // Resolution records as given; none, or nonsense values, give 1 without unit.
    struct Res { ISResolution in; float x, y; uint32_t unit; };
    const Res records[] = {{{300.5, 200, 3}, 300.5f, 200, 3}, {{0, 0, 2}, 0, 0, 2}, {{-4, NAN, 9}, 1, 1, 1}, {{-1, -1, 0}, 1, 1, 1}};
    for (const Res& c : records) {
        TagReader tr(Write(rgb, w, h, 24, 1, 0, nullptr, c.in.unit ? &c.in : nullptr));
        EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_RESOLUTIONUNIT), c.unit);
        EXPECT_FLOAT_EQ(tr.Get<float>(TIFFTAG_XRESOLUTION, -1), c.x);
        EXPECT_FLOAT_EQ(tr.Get<float>(TIFFTAG_YRESOLUTION, -1), c.y);
    }
    // 32 bits: associated alpha, colour stored premultiplied; fax and 0 become none for colour.
    Bytes rgba = PatternRgba(w, h);
    rgba[2] = 191, rgba[3] = 2;  // blue 1.498 stored as 1, which reads back as 127.5, rounded to 128
    const Bytes stored = Write(rgba, w, h, 32, 4);
    EXPECT_EQ(Read(stored, 32).Data(4).at(2), 128);
    TagReader tr(stored);
    uint16_t count = 0;
    uint16_t* extra = nullptr;
    ASSERT_TRUE(TIFFGetField(tr.t, TIFFTAG_EXTRASAMPLES, &count, &extra));
    EXPECT_EQ(count == 1 ? extra[0] : 0, 1);
    EXPECT_EQ(tr.Get<uint16_t>(TIFFTAG_COMPRESSION), 1u);
    Bytes strip(TIFFStripSize(tr.t));
    ASSERT_GT(TIFFReadEncodedStrip(tr.t, 0, strip.data(), static_cast<tmsize_t>(strip.size())), 0);
    for (size_t i = 0; i < 64; ++i) ASSERT_EQ(strip[i], i % 4 == 3 ? rgba[i] : (rgba[i] * rgba[i | 3] + 127) / 255) << i;
    EXPECT_EQ(TagReader(Write(rgb, w, h, 24, 0)).Get<uint16_t>(TIFFTAG_COMPRESSION), 1u);
}

TEST(TiffRobust, DecompressionBombFailsCleanly) {
    // Pictures declared over 64 bytes of strip data.
    auto bomb = [](uint32_t w, uint32_t h, uint16_t spp, uint16_t photometric, uint16_t compression) {
        return BuildTiff({{256, 4, 1, w}, {257, 4, 1, h}, {258, 3, 1, 8}, {259, 3, 1, compression}, {262, 3, 1, photometric},
                          {273, 4, 1, 0}, {277, 3, 1, spp}, {278, 4, 1, h}, {279, 4, 1, 64}},
                         Bytes(64, 0));
    };
    const Bytes rgb = bomb(100000, 100000, 3, 2, 1), grey = bomb(100000, 100000, 1, 1, 1);
    for (uint32_t depth : {24u, 32u}) EXPECT_EQ(Failure(rgb, depth), 1u) << depth;
    for (uint32_t depth : {24u, 8u}) EXPECT_EQ(Failure(grey, depth), 1u) << depth;
    uint32_t w = 0, h = 0, bits = 0;
    EXPECT_TRUE(WithMemorySource(rgb, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, 0, &w, &h, &bits, nullptr, 0); }));
    EXPECT_EQ(w, 100000u);
    // Tiled: millions of 16 x 16 tiles declared, one stored.
    const Bytes tiled = BuildTiff({{256, 4, 1, 100000}, {257, 4, 1, 100000}, {258, 3, 1, 8}, {259, 3, 1, 1}, {262, 3, 1, 1},
                                   {277, 3, 1, 1}, {322, 3, 1, 16}, {323, 3, 1, 16}, {324, 4, 1, 0}, {325, 4, 1, 256}},
                                  Bytes(256, 0));
    for (uint32_t depth : {24u, 8u}) {
        const uint32_t err = Failure(tiled, depth);
        EXPECT_TRUE(err == 1 || err == 3 || err == 6) << depth << ": " << err;
    }
    // Sizes below the allocation limit whose data cannot be in the file.
    for (uint16_t compression : {1, 5, 8, 32773}) {
        const Bytes small = bomb(20000, 20000, 1, 1, compression);
        EXPECT_EQ(Failure(small, 24) * 100 + Failure(small, 8), 303u) << compression;
        if (!kSanitized) {
            EXPECT_EQ(InCappedChild(256ull << 20, [&]() { return static_cast<int>(Failure(small, 24)); }), 3) << compression;
        }
    }
}
