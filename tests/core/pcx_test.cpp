// PCX reader and writer: header rules, error codes, round trips, files
// exchanged with ImageMagick, and damaged input.
#include "isframe.h"
#include "testutil.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vstest;

namespace {

// ---- helpers ---------------------------------------------------------------

struct Decoded {
    LibBuffer buf;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t error = 0;
    uint8_t palette[1024] = {};
};

// allocations: how many library allocations the read may make (-1: any).
Decoded ReadPcx(const Bytes& file, uint32_t depth, uint32_t flags = 0, int64_t allocations = -1) {
    Decoded d;
    ISHANDLE h = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_NE(h, nullptr);
    if (!h) return d;
    ISSetAllocFailAfter(allocations);
    d.buf = LibBuffer(IS40_ReadPCX(h, &d.width, &d.height, depth, d.palette, flags));
    d.error = IS40_GetLastError();
    ISSetAllocFailAfter(-1);
    IS40_CloseSource(h);
    return d;
}

struct Written {
    Bytes file;
    uint32_t returned = 0;
    uint32_t error = 0;
};

Written WritePcx(const std::string& name, const uint8_t* image, uint32_t w, uint32_t h, uint32_t bits,
                 uint32_t stride, const uint8_t* palette, const ISResolution* res = nullptr, uint32_t flags = 0) {
    Written out;
    out.file = WriteToBytes(
        name,
        [&](ISHANDLE d) {
            uint32_t r = IS40_WritePCX(d, image, w, h, bits, stride, palette, res, flags);
            out.error = IS40_GetLastError();
            return r;
        },
        &out.returned);
    return out;
}

// 256 entries B, G, R, reserved, all different.
Bytes TestPalette(uint32_t seed) {
    Bytes pal(1024);
    for (uint32_t i = 0; i < 256; ++i) {
        pal[4 * i] = static_cast<uint8_t>(i * 7 + seed);
        pal[4 * i + 1] = static_cast<uint8_t>(255 - i);
        pal[4 * i + 2] = static_cast<uint8_t>(i * 13 + 5 * seed);
        pal[4 * i + 3] = 0;
    }
    return pal;
}

// Clears the bits past the width in every row of a 1-bit image.
void MaskBits(Bytes& bits, uint32_t w, uint32_t h) {
    const uint32_t row = (w + 7) / 8;
    if (w % 8 == 0) return;
    for (uint32_t y = 0; y < h; ++y) bits[y * row + row - 1] &= static_cast<uint8_t>(0xFF00u >> (w % 8));
}

bool BitAt(const uint8_t* row, uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1; }

// Hand-made PCX files for the variants this library never writes.
struct PcxSpec {
    uint8_t version = 5;
    uint8_t encoding = 1;
    uint8_t bitsPerPlane = 8;
    uint8_t planes = 1;
    uint32_t width = 1;
    uint32_t height = 1;
    uint32_t bytesPerLine = 0;  // 0: computed, rounded to even
    uint16_t hRes = 0, vRes = 0;
    uint8_t palette16[48] = {};
};

uint32_t SpecLineBytes(const PcxSpec& s) {
    if (s.bytesPerLine) return s.bytesPerLine;
    uint32_t n = (s.width * s.bitsPerPlane + 7) / 8;
    return (n + 1) & ~1u;
}

Bytes PcxHeader(const PcxSpec& s) {
    Bytes h(128, 0);
    h[0] = 10;
    h[1] = s.version;
    h[2] = s.encoding;
    h[3] = s.bitsPerPlane;
    h[8] = static_cast<uint8_t>(s.width - 1);
    h[9] = static_cast<uint8_t>((s.width - 1) >> 8);
    h[10] = static_cast<uint8_t>(s.height - 1);
    h[11] = static_cast<uint8_t>((s.height - 1) >> 8);
    h[12] = static_cast<uint8_t>(s.hRes);
    h[13] = static_cast<uint8_t>(s.hRes >> 8);
    h[14] = static_cast<uint8_t>(s.vRes);
    h[15] = static_cast<uint8_t>(s.vRes >> 8);
    std::memcpy(&h[16], s.palette16, 48);
    h[65] = s.planes;
    uint32_t bpl = SpecLineBytes(s);
    h[66] = static_cast<uint8_t>(bpl);
    h[67] = static_cast<uint8_t>(bpl >> 8);
    h[68] = 1;
    return h;
}

// Byte-per-byte coding without runs: every byte stands alone, or as a run
// of one when it would read as a count.
Bytes LiteralRle(const Bytes& raw) {
    Bytes out;
    for (uint8_t b : raw) {
        if ((b & 0xC0) == 0xC0) out.push_back(0xC1);
        out.push_back(b);
    }
    return out;
}

// raw: every scan line, planes one after another, bytesPerLine each.
Bytes BuildPcx(const PcxSpec& s, const Bytes& raw, const Bytes& tail = {}) {
    Bytes f = PcxHeader(s);
    Bytes body = s.encoding ? LiteralRle(raw) : raw;
    f.insert(f.end(), body.begin(), body.end());
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

Bytes PaletteTail(const Bytes& rgb768) {
    Bytes t;
    t.push_back(0x0C);
    t.insert(t.end(), rgb768.begin(), rgb768.end());
    return t;
}

// Whether ImageMagick shows a set bit of a 1-bit PCX as white; the format
// leaves the polarity to the reader and programs disagree.
bool ImSetBitIsWhite() {
    PcxSpec s;
    s.bitsPerPlane = 1;
    s.width = 8;
    Bytes raw = {0x80, 0x00};
    std::string path = ScratchPath("polarity.pcx");
    WriteFileBytes(path, BuildPcx(s, raw));
    Bytes rgb = MagickPixels(path);
    return rgb.size() >= 3 && rgb[0] > 128;
}

// ---- header rules -----------------------------------------------------------

TEST(PcxHeader, WrongManufacturerOrVersionIsNotPcx) {
    PcxSpec s;
    s.width = 2;
    Bytes good = BuildPcx(s, {1, 2});
    ASSERT_TRUE(ReadPcx(good, 24).buf);

    Bytes bad = good;
    bad[0] = 11;
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX));
    for (uint8_t v : {1, 4, 6, 255}) {
        bad = good;
        bad[1] = v;
        EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX)) << "version " << int(v);
        uint32_t w, h, bits;
        EXPECT_FALSE(WithMemorySource(bad, [&](ISHANDLE hd) { return IS40_GetPCXDims(hd, &w, &h, &bits, nullptr, 0); }));
        EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_NOT_PCX));
    }
    for (uint8_t v : {0, 2, 3, 5}) {
        bad = good;
        bad[1] = v;
        EXPECT_TRUE(ReadPcx(bad, 24).buf) << "version " << int(v);
    }
}

TEST(PcxHeader, InconsistentFieldsAreRejected) {
    PcxSpec s;
    s.width = 10;
    s.height = 2;
    Bytes good = BuildPcx(s, Bytes(20, 7));
    ASSERT_TRUE(ReadPcx(good, 24).buf);

    Bytes bad = good;
    bad[66] = 9;  // bytes per line below the width
    bad[67] = 0;
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX));

    bad = good;
    bad[4] = 20;  // xmin past xmax
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX));

    bad = good;
    bad[65] = 0;  // no planes
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX));

    bad = good;
    bad[65] = 5;  // 40 bits per pixel
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_NOT_PCX));

    bad = good;
    bad[3] = 3;  // 3 bits per plane: a valid header but no layout to decode
    EXPECT_EQ(ReadPcx(bad, 24).error, uint32_t(IS_ERR_VARIANT));

    Bytes shortHeader(good.begin(), good.begin() + 100);
    EXPECT_EQ(ReadPcx(shortHeader, 24).error, uint32_t(IS_ERR_READ));
}

TEST(PcxHeader, WrittenFieldsAndDims) {
    Bytes rgb = Pattern(3, 2, 3);
    ISResolution res{300.4, 72.0, 0};
    Written w24 = WritePcx("w24.pcx", rgb.data(), 3, 2, 24, 9, nullptr, &res);
    ASSERT_EQ(w24.error, 0u);
    ASSERT_GE(w24.file.size(), 128u);
    EXPECT_EQ(w24.returned, w24.file.size());
    const uint8_t* f = w24.file.data();
    EXPECT_EQ(f[0], 10);
    EXPECT_EQ(f[1], 5);
    EXPECT_EQ(f[2], 1);
    EXPECT_EQ(f[3], 8);
    EXPECT_EQ(ISGet16LE(f + 4), 0);
    EXPECT_EQ(ISGet16LE(f + 6), 0);
    EXPECT_EQ(ISGet16LE(f + 8), 2);
    EXPECT_EQ(ISGet16LE(f + 10), 1);
    EXPECT_EQ(ISGet16LE(f + 12), 300);
    EXPECT_EQ(ISGet16LE(f + 14), 72);
    EXPECT_EQ(f[64], 0);
    EXPECT_EQ(f[65], 3);
    EXPECT_EQ(ISGet16LE(f + 66), 4);  // width 3 rounded up to even
    EXPECT_EQ(ISGet16LE(f + 68), 1);
    for (int i = 70; i < 128; ++i) EXPECT_EQ(f[i], 0) << i;

    uint32_t w = 0, h = 0, bits = 0;
    ISResolution got{-1, -1, 99};
    EXPECT_TRUE(WithMemorySource(w24.file, [&](ISHANDLE hd) { return IS40_GetPCXDims(hd, &w, &h, &bits, &got, 0); }));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(bits, 24u);
    EXPECT_EQ(got.xRes, 300.0);
    EXPECT_EQ(got.yRes, 72.0);
    EXPECT_EQ(got.unit, 0u);

    Bytes pal = TestPalette(1);
    Bytes idx = Pattern(5, 2, 1);
    Written w8 = WritePcx("w8.pcx", idx.data(), 5, 2, 8, 5, pal.data(), nullptr, 1);
    ASSERT_EQ(w8.error, 0u);
    EXPECT_EQ(w8.file[3], 8);
    EXPECT_EQ(w8.file[65], 1);
    EXPECT_EQ(ISGet16LE(&w8.file[66]), 6);
    EXPECT_EQ(ISGet16LE(&w8.file[68]), 2);  // grey mark
    EXPECT_EQ(ISGet16LE(&w8.file[12]), 0);
    // Header palette holds the first 16 colours as R, G, B.
    EXPECT_EQ(w8.file[16], pal[2]);
    EXPECT_EQ(w8.file[17], pal[1]);
    EXPECT_EQ(w8.file[18], pal[0]);

    Bytes bitsImg = Pattern(17, 3, 1);  // 3 bytes a row
    Bytes two = {0x10, 0x20, 0x30, 0, 0xA0, 0xB0, 0xC0, 0};
    Written w1 = WritePcx("w1.pcx", bitsImg.data(), 17, 1, 1, 3, two.data());
    ASSERT_EQ(w1.error, 0u);
    EXPECT_EQ(w1.file[3], 1);
    EXPECT_EQ(w1.file[65], 1);
    EXPECT_EQ(ISGet16LE(&w1.file[66]), 4);  // 3 bytes rounded to even
    EXPECT_EQ(ISGet16LE(&w1.file[68]), 1);
    const uint8_t hp[6] = {0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0};
    EXPECT_EQ(0, std::memcmp(&w1.file[16], hp, 6));
    EXPECT_TRUE(WithMemorySource(w1.file, [&](ISHANDLE hd) { return IS40_GetPCXDims(hd, &w, &h, &bits, nullptr, 0); }));
    EXPECT_EQ(bits, 1u);
}

TEST(PcxHeader, HugeDeclaredSizeFailsWithoutAllocating) {
    PcxSpec s;
    s.width = 60000;
    s.height = 60000;
    s.planes = 3;
    Bytes f = PcxHeader(s);
    f.resize(f.size() + 64, 0xC5);

    EXPECT_EQ(ReadPcx(f, 24).error, uint32_t(IS_ERR_MEMORY));
    uint32_t w, h;
    LibBuffer any(WithMemorySource(f, [&](ISHANDLE hd) { return IS40_ReadImage(hd, &w, &h, 0, 0); }));
    EXPECT_FALSE(any);
    uint32_t err = IS40_GetLastError();
    EXPECT_TRUE(err == IS_ERR_MEMORY || err == IS_ERR_FORMAT) << err;

    // Fits the allocation limit, but the source is far too short for it:
    // short data, found before any buffer is requested.
    s.planes = 1;
    s.width = 40000;
    s.height = 40000;
    Bytes g = PcxHeader(s);
    g.resize(g.size() + 64, 0xFF);
    Decoded d = ReadPcx(g, 8, 0, 0);
    EXPECT_FALSE(d.buf);
    EXPECT_EQ(d.error, uint32_t(IS_ERR_READ));
}

// ---- entry-point contract --------------------------------------------------------

TEST(PcxApi, BadArgumentsAndHandles) {
    Bytes rgb = Pattern(4, 4, 3);
    Written ok = WritePcx("ok.pcx", rgb.data(), 4, 4, 24, 12, nullptr);
    ASSERT_EQ(ok.error, 0u);
    uint32_t w, h, bits;
    uint8_t pal[1024];

    EXPECT_EQ(IS40_ReadPCX(nullptr, &w, &h, 24, pal, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    EXPECT_FALSE(IS40_GetPCXDims(nullptr, &w, &h, &bits, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    EXPECT_EQ(IS40_WritePCX(nullptr, rgb.data(), 4, 4, 24, 12, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));

    ISHANDLE src = IS40_OpenMemorySource(ok.file.data(), static_cast<uint32_t>(ok.file.size()));
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(IS40_ReadPCX(src, nullptr, &h, 24, pal, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    EXPECT_FALSE(IS40_GetPCXDims(src, &w, &h, nullptr, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    for (uint32_t depth : {0u, 4u, 16u, 32u}) {
        IS40_Seek(src, 0, 0);
        EXPECT_EQ(IS40_ReadPCX(src, &w, &h, depth, pal, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM)) << depth;
    }
    IS40_Seek(src, 0, 0);
    EXPECT_EQ(IS40_ReadPCX(src, &w, &h, 8, nullptr, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    // A source cannot be written to.
    EXPECT_EQ(IS40_WritePCX(src, rgb.data(), 4, 4, 24, 12, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE));
    IS40_CloseSource(src);

    // Closed handles are refused without being read.
    EXPECT_EQ(IS40_ReadPCX(src, &w, &h, 24, pal, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));
    EXPECT_FALSE(IS40_GetPCXDims(src, &w, &h, &bits, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));
    EXPECT_EQ(IS40_WritePCX(src, rgb.data(), 4, 4, 24, 12, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));

    Bytes pal8 = TestPalette(2);
    struct BadWrite {
        const uint8_t* image;
        uint32_t w, h, bits, stride;
        const uint8_t* palette;
    } cases[] = {
        {nullptr, 4, 4, 24, 12, nullptr},        {rgb.data(), 0, 4, 24, 12, nullptr},
        {rgb.data(), 4, 0, 24, 12, nullptr},     {rgb.data(), 4, 4, 4, 12, pal8.data()},
        {rgb.data(), 4, 4, 32, 16, nullptr},     {rgb.data(), 4, 4, 8, 4, nullptr},
        {rgb.data(), 4, 4, 1, 1, nullptr},       {rgb.data(), 4, 4, 24, 11, nullptr},
        {rgb.data(), 70000, 1, 8, 70000, pal8.data()},
    };
    for (const BadWrite& c : cases) {
        Written r = WritePcx("bad.pcx", c.image, c.w, c.h, c.bits, c.stride, c.palette);
        EXPECT_EQ(r.returned, 0u) << c.w << "x" << c.h << " bits " << c.bits;
        EXPECT_EQ(r.error, uint32_t(IS_ERR_PARAM)) << c.w << "x" << c.h << " bits " << c.bits;
    }
}

TEST(PcxApi, WriteFailureIsNeverSuccess) {
    std::FILE* probe = std::fopen("/dev/full", "wb");
    if (!probe) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    Bytes rgb = Pattern(16, 16, 3);
    ISHANDLE d = IS40_OpenFileDest("/dev/full", 0);
    ASSERT_NE(d, nullptr);
    // The data fits the stream buffer; the refusal shows only at the flush.
    EXPECT_EQ(IS40_WritePCX(d, rgb.data(), 16, 16, 24, 48, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE));
    IS40_CloseDest(d);
}

TEST(PcxApi, DepthRulesAndOutOfMemory) {
    Bytes rgb = Pattern(6, 3, 3);
    Written f24 = WritePcx("a.pcx", rgb.data(), 6, 3, 24, 18, nullptr);
    Bytes pal = TestPalette(3);
    Bytes idx = Pattern(6, 3, 1);
    Written f8 = WritePcx("b.pcx", idx.data(), 6, 3, 8, 6, pal.data());
    ASSERT_EQ(f24.error, 0u);
    ASSERT_EQ(f8.error, 0u);

    EXPECT_EQ(ReadPcx(f24.file, 8).error, uint32_t(IS_ERR_DEPTH));
    EXPECT_EQ(ReadPcx(f24.file, 1).error, uint32_t(IS_ERR_DEPTH));
    EXPECT_EQ(ReadPcx(f8.file, 1).error, uint32_t(IS_ERR_DEPTH));
    EXPECT_TRUE(ReadPcx(f8.file, 8).buf);
    EXPECT_EQ(IS40_GetLastError(), 0u);

    for (int64_t allowed : {0, 1}) {
        Decoded d = ReadPcx(f8.file, 24, 0, allowed);
        EXPECT_FALSE(d.buf);
        EXPECT_EQ(d.error, uint32_t(IS_ERR_MEMORY));
    }
}

// ---- round trips -----------------------------------------------------------------

TEST(PcxRoundTrip, TwentyFourBit) {
    const uint32_t sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {7, 5}, {64, 4}, {65, 9}, {200, 3}};
    for (const auto& sz : sizes) {
        const uint32_t w = sz[0], h = sz[1];
        Bytes rgb = Pattern(w, h, 3, w);
        Written wr = WritePcx("rt24.pcx", rgb.data(), w, h, 24, w * 3, nullptr);
        ASSERT_EQ(wr.error, 0u) << w;
        EXPECT_EQ(wr.returned, wr.file.size());
        Decoded d = ReadPcx(wr.file, 24);
        ASSERT_TRUE(d.buf) << w << "x" << h << " error " << d.error;
        EXPECT_EQ(d.width, w);
        EXPECT_EQ(d.height, h);
        EXPECT_EQ(0, std::memcmp(d.buf.get(), rgb.data(), rgb.size())) << w << "x" << h;
    }
}

TEST(PcxRoundTrip, RunLimitsAndCountLikeBytes) {
    // One flat row of 200 pixels: each plane is four runs (63, 63, 63, 11).
    Bytes flat(200 * 3, 0xE7);
    Written wr = WritePcx("flat.pcx", flat.data(), 200, 1, 24, 600, nullptr);
    ASSERT_EQ(wr.error, 0u);
    EXPECT_EQ(wr.file.size(), 128u + 3 * 8);
    Bytes plane(wr.file.begin() + 128, wr.file.begin() + 136);
    EXPECT_EQ(plane, (Bytes{0xFF, 0xE7, 0xFF, 0xE7, 0xFF, 0xE7, 0xCB, 0xE7}));
    Decoded d = ReadPcx(wr.file, 24);
    ASSERT_TRUE(d.buf);
    EXPECT_EQ(0, std::memcmp(d.buf.get(), flat.data(), flat.size()));

    // Lone bytes with both top bits set go out as runs of one; padding is zero.
    Bytes pal = TestPalette(4);
    Bytes idx = {0xC5, 0x01, 0x3F};
    Written w8 = WritePcx("lit.pcx", idx.data(), 3, 1, 8, 3, pal.data());
    ASSERT_EQ(w8.error, 0u);
    Bytes body(w8.file.begin() + 128, w8.file.end() - 769);
    EXPECT_EQ(body, (Bytes{0xC1, 0xC5, 0x01, 0x3F, 0x00}));
    EXPECT_EQ(w8.file[w8.file.size() - 769], 0x0C);

    // Noise grows the file past the raw size, flat rows shrink it.
    Bytes noise(100 * 20 * 3);
    uint32_t x = 99;
    for (auto& b : noise) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24) | 0xC0;
    Written wn = WritePcx("noise.pcx", noise.data(), 100, 20, 24, 300, nullptr);
    Bytes calm(100 * 20 * 3, 0x10);
    Written wc = WritePcx("calm.pcx", calm.data(), 100, 20, 24, 300, nullptr);
    EXPECT_GT(wn.file.size(), 128 + noise.size());
    EXPECT_LT(wc.file.size(), 128 + calm.size() / 10);
    Decoded dn = ReadPcx(wn.file, 24);
    ASSERT_TRUE(dn.buf);
    EXPECT_EQ(0, std::memcmp(dn.buf.get(), noise.data(), noise.size()));
}

TEST(PcxRoundTrip, EightBitWithPalette) {
    Bytes pal = TestPalette(5);
    for (uint32_t w : {1u, 5u, 64u, 131u}) {
        const uint32_t h = 4;
        Bytes idx = Pattern(w, h, 1, w + 1);
        Written wr = WritePcx("rt8.pcx", idx.data(), w, h, 8, w, pal.data());
        ASSERT_EQ(wr.error, 0u);
        Decoded d = ReadPcx(wr.file, 8);
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(0, std::memcmp(d.buf.get(), idx.data(), idx.size())) << w;
        for (uint32_t i = 0; i < 256; ++i) {
            EXPECT_EQ(0, std::memcmp(d.palette + 4 * i, &pal[4 * i], 3)) << "entry " << i;
        }
        // At 24 bits the indexes go through the palette.
        Decoded c = ReadPcx(wr.file, 24);
        ASSERT_TRUE(c.buf);
        for (uint32_t p = 0; p < w * h; ++p) {
            const uint8_t* e = &pal[4 * idx[p]];
            const uint8_t* o = c.buf.get() + 3 * p;
            ASSERT_TRUE(o[0] == e[2] && o[1] == e[1] && o[2] == e[0]) << "pixel " << p;
        }
    }
}

TEST(PcxRoundTrip, OneBit) {
    Bytes two = {0, 0, 0, 0, 255, 255, 255, 0};
    for (uint32_t w : {1u, 7u, 8u, 9u, 17u, 130u}) {
        const uint32_t h = 5, row = (w + 7) / 8;
        Bytes bits = Pattern(row, h, 1, w);
        Bytes expect = bits;
        MaskBits(expect, w, h);
        // Bits past the width are not part of the picture and must not leak.
        Written wr = WritePcx("rt1.pcx", bits.data(), w, h, 1, row, two.data());
        ASSERT_EQ(wr.error, 0u);
        Decoded d = ReadPcx(wr.file, 1);
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(0, std::memcmp(d.buf.get(), expect.data(), expect.size())) << w;
        EXPECT_EQ(0, std::memcmp(d.palette, two.data(), 8));

        Decoded i8 = ReadPcx(wr.file, 8);
        Decoded c24 = ReadPcx(wr.file, 24);
        ASSERT_TRUE(i8.buf && c24.buf);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const bool on = BitAt(&expect[y * row], x);
                ASSERT_EQ(i8.buf.get()[y * w + x], on ? 1 : 0);
                ASSERT_EQ(c24.buf.get()[3 * (y * w + x)], on ? 255 : 0);
            }
    }
}

TEST(PcxRoundTrip, WriterLayoutFlags) {
    const uint32_t w = 5, h = 3, stride = 20;  // rows padded past w * 3
    Bytes rgb = Pattern(w, h, 3, 9);
    Bytes padded(stride * h, 0xEE), flipped(stride * h, 0xEE), bgr(stride * h, 0xEE);
    for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(&padded[y * stride], &rgb[y * w * 3], w * 3);
        std::memcpy(&flipped[(h - 1 - y) * stride], &rgb[y * w * 3], w * 3);
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* s = &rgb[(y * w + x) * 3];
            uint8_t* d = &bgr[y * stride + x * 3];
            d[0] = s[2], d[1] = s[1], d[2] = s[0];
        }
    }
    Written plain = WritePcx("p.pcx", padded.data(), w, h, 24, stride, nullptr);
    Written up = WritePcx("u.pcx", flipped.data(), w, h, 24, stride, nullptr, nullptr, 4);
    Written swapped = WritePcx("s.pcx", bgr.data(), w, h, 24, stride, nullptr, nullptr, 8);
    ASSERT_EQ(plain.error | up.error | swapped.error, 0u);
    EXPECT_EQ(up.file, plain.file);
    EXPECT_EQ(swapped.file, plain.file);
    Decoded d = ReadPcx(plain.file, 24);
    ASSERT_TRUE(d.buf);
    EXPECT_EQ(0, std::memcmp(d.buf.get(), rgb.data(), rgb.size()));

    Bytes pal = TestPalette(6);
    Bytes idx = Pattern(w, h, 1, 2);
    Bytes idxUp(idx.size());
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&idxUp[(h - 1 - y) * w], &idx[y * w], w);
    Written i1 = WritePcx("i1.pcx", idx.data(), w, h, 8, w, pal.data());
    Written i2 = WritePcx("i2.pcx", idxUp.data(), w, h, 8, w, pal.data(), nullptr, 4);
    EXPECT_EQ(i1.file, i2.file);
}

TEST(PcxRoundTrip, ReaderLayoutFlags) {
    const uint32_t w = 3, h = 2;
    Bytes rgb = Pattern(w, h, 3, 11);
    ISResolution res{96, 200, 0};
    Written wr = WritePcx("f.pcx", rgb.data(), w, h, 24, w * 3, nullptr, &res);
    ASSERT_EQ(wr.error, 0u);

    Decoded pad = ReadPcx(wr.file, 24, IS_READ_PAD_BGR);
    ASSERT_TRUE(pad.buf);
    EXPECT_EQ(IS40_GlobalSize(pad.buf.get()), 12u * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* s = &rgb[(y * w + x) * 3];
            const uint8_t* o = pad.buf.get() + y * 12 + x * 3;
            EXPECT_TRUE(o[0] == s[2] && o[1] == s[1] && o[2] == s[0]);
        }

    Decoded dib = ReadPcx(wr.file, 24, IS_READ_DIB);
    ASSERT_TRUE(dib.buf);
    const uint8_t* p = dib.buf.get();
    EXPECT_EQ(IS40_GlobalSize(p), 40u + 12u * h);
    EXPECT_EQ(ISGet32LE(p), 40u);
    EXPECT_EQ(ISGet32LE(p + 4), w);
    EXPECT_EQ(ISGet32LE(p + 8), h);
    EXPECT_EQ(ISGet16LE(p + 12), 1);
    EXPECT_EQ(ISGet16LE(p + 14), 24);
    EXPECT_EQ(ISGet32LE(p + 16), 0u);
    EXPECT_EQ(ISGet32LE(p + 24), 3780u);  // 96 dpi
    EXPECT_EQ(ISGet32LE(p + 28), 7874u);  // 200 dpi
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* s = &rgb[(y * w + x) * 3];
            const uint8_t* o = p + 40 + (h - 1 - y) * 12 + x * 3;
            EXPECT_TRUE(o[0] == s[2] && o[1] == s[1] && o[2] == s[0]);
        }

    // Indexed files keep their depth in a DIB, with the colour table.
    Bytes pal = TestPalette(7);
    Bytes idx = Pattern(w, h, 1, 3);
    Written w8 = WritePcx("f8.pcx", idx.data(), w, h, 8, w, pal.data());
    Decoded d8 = ReadPcx(w8.file, 24, IS_READ_DIB);
    ASSERT_TRUE(d8.buf);
    p = d8.buf.get();
    EXPECT_EQ(ISGet16LE(p + 14), 8);
    EXPECT_EQ(ISGet32LE(p + 32), 256u);
    EXPECT_EQ(IS40_GlobalSize(p), 40u + 1024u + 4u * h);
    EXPECT_EQ(0, std::memcmp(p + 40 + 4 * 200, &pal[4 * 200], 3));
    EXPECT_EQ(0, std::memcmp(p + 40 + 1024, &idx[w], w));  // bottom row first

    Bytes bits = {0xA0, 0x40};
    Bytes two = {0, 0, 0, 0, 255, 255, 255, 0};
    Written w1 = WritePcx("f1.pcx", bits.data(), 3, 2, 1, 1, two.data());
    Decoded d1 = ReadPcx(w1.file, 24, IS_READ_DIB);
    ASSERT_TRUE(d1.buf);
    p = d1.buf.get();
    EXPECT_EQ(ISGet16LE(p + 14), 1);
    EXPECT_EQ(ISGet32LE(p + 32), 2u);
    EXPECT_EQ(IS40_GlobalSize(p), 40u + 8u + 8u);
    EXPECT_EQ(p[48], 0x40);
    EXPECT_EQ(p[52], 0xA0);

    // The generic reader reaches this one.
    uint32_t gw, gh;
    LibBuffer any(WithMemorySource(wr.file, [&](ISHANDLE hd) { return IS40_ReadImage(hd, &gw, &gh, 0, 0); }));
    ASSERT_TRUE(any);
    EXPECT_EQ(0, std::memcmp(any.get(), rgb.data(), rgb.size()));
}

// ---- variants only other programs write --------------------------------------------

TEST(PcxVariants, SixteenColourLayouts) {
    PcxSpec s;
    s.width = 5;
    s.height = 2;
    for (int i = 0; i < 16; ++i) {
        s.palette16[3 * i] = static_cast<uint8_t>(i * 16);
        s.palette16[3 * i + 1] = static_cast<uint8_t>(255 - i);
        s.palette16[3 * i + 2] = static_cast<uint8_t>(i * 3);
    }
    const uint8_t want[2][5] = {{0, 15, 3, 8, 12}, {5, 10, 1, 2, 4}};
    auto check = [&](const Bytes& file, const char* what) {
        Decoded d = ReadPcx(file, 8);
        ASSERT_TRUE(d.buf) << what << " error " << d.error;
        EXPECT_EQ(0, std::memcmp(d.buf.get(), want, 10)) << what;
        EXPECT_EQ(d.palette[4 * 15 + 2], 15 * 16) << what;
        Decoded c = ReadPcx(file, 24);
        ASSERT_TRUE(c.buf) << what;
        for (int p = 0; p < 10; ++p) {
            const uint8_t i = want[p / 5][p % 5];
            const uint8_t* o = c.buf.get() + 3 * p;
            EXPECT_TRUE(o[0] == i * 16 && o[1] == 255 - i && o[2] == i * 3) << what << " pixel " << p;
        }
        Decoded dib = ReadPcx(file, 24, IS_READ_DIB);
        ASSERT_TRUE(dib.buf) << what;
        EXPECT_EQ(ISGet16LE(dib.buf.get() + 14), 8) << what;  // widened to 8 bits
        EXPECT_EQ(0, std::memcmp(dib.buf.get() + 40 + 1024, want[1], 5)) << what;
        EXPECT_EQ(ReadPcx(file, 1).error, uint32_t(IS_ERR_DEPTH)) << what;
    };

    // Four planes of one bit: plane p holds bit p of each index.
    s.bitsPerPlane = 1;
    s.planes = 4;
    s.bytesPerLine = 2;
    Bytes planar;
    for (const auto& row : want)
        for (int p = 0; p < 4; ++p) {
            uint8_t b = 0;
            for (int x = 0; x < 5; ++x) b |= static_cast<uint8_t>(((row[x] >> p) & 1) << (7 - x));
            planar.push_back(b);
            planar.push_back(0);
        }
    check(BuildPcx(s, planar), "1x4");

    // One plane of four bits, high nibble first.
    s.bitsPerPlane = 4;
    s.planes = 1;
    s.bytesPerLine = 4;  // one more than needed
    Bytes packed;
    for (const auto& row : want) {
        packed.push_back(static_cast<uint8_t>(row[0] << 4 | row[1]));
        packed.push_back(static_cast<uint8_t>(row[2] << 4 | row[3]));
        packed.push_back(static_cast<uint8_t>(row[4] << 4));
        packed.push_back(0xFF);
    }
    check(BuildPcx(s, packed), "4x1");
}

TEST(PcxVariants, ThirtyTwoBitPlanes) {
    PcxSpec s;
    s.planes = 4;
    s.width = 3;
    s.height = 2;
    Bytes raw;
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t p = 0; p < 4; ++p)
            for (uint32_t x = 0; x < 4; ++x) raw.push_back(static_cast<uint8_t>(x < 3 ? 0x40 * p + 10 * y + x : 0));
    Bytes f = BuildPcx(s, raw);
    uint32_t w, h, bits;
    EXPECT_TRUE(WithMemorySource(f, [&](ISHANDLE hd) { return IS40_GetPCXDims(hd, &w, &h, &bits, nullptr, 0); }));
    EXPECT_EQ(bits, 32u);
    EXPECT_EQ(ReadPcx(f, 24).error, uint32_t(IS_ERR_DEPTH));
    Decoded d = ReadPcx(f, 24, IS_READ_DIB);
    ASSERT_TRUE(d.buf) << d.error;
    const uint8_t* p = d.buf.get();
    EXPECT_EQ(ISGet16LE(p + 14), 32);
    EXPECT_EQ(IS40_GlobalSize(p), 40u + 12u * 2);
    // Top row (y 0) is last; pixels B, G, R, A.
    const uint8_t* px = p + 40 + 12 + 4 * 2;
    EXPECT_EQ(px[0], 0x80 + 2);
    EXPECT_EQ(px[1], 0x40 + 2);
    EXPECT_EQ(px[2], 0x00 + 2);
    EXPECT_EQ(px[3], 0xC0 + 2);
}

TEST(PcxVariants, PaletteSources) {
    PcxSpec s;
    s.width = 2;
    Bytes raw = {7, 200};
    Bytes rgb768(768);
    for (int i = 0; i < 768; ++i) rgb768[i] = static_cast<uint8_t>(i * 5 + 1);
    auto first = [](const Decoded& d) { return Bytes(d.buf.get(), d.buf.get() + 6); };

    Decoded withPal = ReadPcx(BuildPcx(s, raw, PaletteTail(rgb768)), 24);
    ASSERT_TRUE(withPal.buf);
    EXPECT_EQ(first(withPal), (Bytes{rgb768[21], rgb768[22], rgb768[23], rgb768[600], rgb768[601], rgb768[602]}));

    // No marker, or not version 5: grey ramp.
    Bytes noMark = PaletteTail(rgb768);
    noMark[0] = 0x0B;
    Decoded grey = ReadPcx(BuildPcx(s, raw, noMark), 24);
    ASSERT_TRUE(grey.buf);
    EXPECT_EQ(first(grey), (Bytes{7, 7, 7, 200, 200, 200}));
    s.version = 3;
    Decoded v3 = ReadPcx(BuildPcx(s, raw, PaletteTail(rgb768)), 24);
    ASSERT_TRUE(v3.buf);
    EXPECT_EQ(first(v3), (Bytes{7, 7, 7, 200, 200, 200}));
    // Too short to hold a palette at all.
    s.version = 5;
    Decoded tiny = ReadPcx(BuildPcx(s, raw), 8);
    ASSERT_TRUE(tiny.buf);
    EXPECT_EQ(tiny.palette[4 * 200], 200);
}

TEST(PcxVariants, ScanLineDecoding) {
    PcxSpec s;
    s.width = 3;
    s.height = 2;
    s.bytesPerLine = 6;  // wider than the picture: padding is skipped
    Bytes raw = {1, 2, 3, 0xC9, 0xFE, 0xFD, 4, 5, 6, 0, 0, 0};
    Decoded d = ReadPcx(BuildPcx(s, raw), 8);
    ASSERT_TRUE(d.buf) << d.error;
    EXPECT_EQ(Bytes(d.buf.get(), d.buf.get() + 6), (Bytes{1, 2, 3, 4, 5, 6}));

    // Encoding 0 stores bytes as they are, top bits or not.
    s.encoding = 0;
    s.bytesPerLine = 4;
    Decoded r = ReadPcx(BuildPcx(s, {0xC3, 0xFF, 0x10, 0, 0xD0, 1, 2, 0}), 8);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(Bytes(r.buf.get(), r.buf.get() + 6), (Bytes{0xC3, 0xFF, 0x10, 0xD0, 1, 2}));

    // A run longer than its line continues on the next one; a run past the
    // picture's end is cut off.
    s.encoding = 1;
    Bytes f = PcxHeader(s);
    Bytes body = {0xC6, 0x55, 0xFF, 0x66};
    f.insert(f.end(), body.begin(), body.end());
    Decoded c = ReadPcx(f, 8);
    ASSERT_TRUE(c.buf) << c.error;
    EXPECT_EQ(Bytes(c.buf.get(), c.buf.get() + 6), (Bytes{0x55, 0x55, 0x55, 0x55, 0x55, 0x66}));

    // Bits past the width in a 1-bit line stay out of the picture.
    PcxSpec m;
    m.bitsPerPlane = 1;
    m.width = 3;
    Decoded bits = ReadPcx(BuildPcx(m, {0xBF, 0xFF}), 1);
    ASSERT_TRUE(bits.buf);
    EXPECT_EQ(bits.buf.get()[0], 0xA0);

    // Empty runs and short data end in a read error, not a hang.
    Bytes empty = PcxHeader(s);
    for (int i = 0; i < 5000; ++i) empty.push_back(0xC0), empty.push_back(0x12);
    EXPECT_EQ(ReadPcx(empty, 8).error, uint32_t(IS_ERR_READ));
    Bytes cut = PcxHeader(s);
    cut.push_back(0xC3);
    EXPECT_EQ(ReadPcx(cut, 8).error, uint32_t(IS_ERR_READ));
}

// ---- ImageMagick interop ----------------------------------------------------------

TEST(PcxInterop, OurFilesOpenInImageMagick) {
    REQUIRE_MAGICK();
    const uint32_t w = 37, h = 11;
    Bytes rgb = Pattern(w, h, 3, 21);
    std::string p24 = ScratchPath("ours24.pcx");
    WriteFileBytes(p24, WritePcx("x24.pcx", rgb.data(), w, h, 24, w * 3, nullptr).file);
    EXPECT_EQ(MagickSize(p24), "37 11");
    EXPECT_EQ(MagickPixels(p24), rgb);

    Bytes pal = TestPalette(8);
    Bytes idx = Pattern(w, h, 1, 22);
    std::string p8 = ScratchPath("ours8.pcx");
    WriteFileBytes(p8, WritePcx("x8.pcx", idx.data(), w, h, 8, w, pal.data()).file);
    EXPECT_EQ(MagickSize(p8), "37 11");
    Bytes got8 = MagickPixels(p8);
    ASSERT_EQ(got8.size(), size_t(w) * h * 3);
    for (uint32_t i = 0; i < w * h; ++i) {
        const uint8_t* e = &pal[4 * idx[i]];
        ASSERT_TRUE(got8[3 * i] == e[2] && got8[3 * i + 1] == e[1] && got8[3 * i + 2] == e[0]) << "pixel " << i;
    }

    const uint32_t row = (w + 7) / 8;
    Bytes bits = Pattern(row, h, 1, 23);
    Bytes two = {0, 0, 0, 0, 255, 255, 255, 0};
    std::string p1 = ScratchPath("ours1.pcx");
    WriteFileBytes(p1, WritePcx("x1.pcx", bits.data(), w, h, 1, row, two.data()).file);
    EXPECT_EQ(MagickSize(p1), "37 11");
    const bool setIsWhite = ImSetBitIsWhite();
    Bytes got1 = MagickPixels(p1);
    ASSERT_EQ(got1.size(), size_t(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const bool white = BitAt(&bits[y * row], x) == setIsWhite;
            ASSERT_EQ(got1[3 * (y * w + x)], white ? 255 : 0) << x << "," << y;
        }
}

TEST(PcxInterop, ImageMagickFilesReadHere) {
    REQUIRE_MAGICK();
    const uint32_t w = 33, h = 7;
    Bytes rgb = Pattern(w, h, 3, 31);
    Bytes f24 = ReadFileBytes(MagickConvert(rgb, w, h, 3, "", "im24.pcx"));
    ASSERT_GE(f24.size(), 128u);
    EXPECT_EQ(f24[65], 3);
    Decoded d24 = ReadPcx(f24, 24);
    ASSERT_TRUE(d24.buf) << d24.error;
    EXPECT_EQ(d24.width, w);
    EXPECT_EQ(d24.height, h);
    EXPECT_EQ(0, std::memcmp(d24.buf.get(), rgb.data(), rgb.size()));

    // At most 256 colours, so the palette file is exact.
    Bytes few(rgb.size());
    for (size_t i = 0; i < few.size(); ++i) few[i] = static_cast<uint8_t>((rgb[i] & 0xE0) | 0x0F);
    for (size_t i = 0; i < few.size(); i += 3) few[i + 2] = static_cast<uint8_t>(few[i + 2] & 0xC0);
    Bytes f8 = ReadFileBytes(MagickConvert(few, w, h, 3, "-type Palette", "im8.pcx"));
    ASSERT_GE(f8.size(), 128u);
    if (f8[3] * f8[65] != 8) GTEST_SKIP() << "ImageMagick wrote no 8-bit palette file";
    Decoded d8 = ReadPcx(f8, 24);
    ASSERT_TRUE(d8.buf) << d8.error;
    EXPECT_EQ(0, std::memcmp(d8.buf.get(), few.data(), few.size()));
    Decoded i8 = ReadPcx(f8, 8);
    ASSERT_TRUE(i8.buf);
    for (uint32_t i = 0; i < w * h; ++i) {
        const uint8_t* e = i8.palette + 4 * i8.buf.get()[i];
        ASSERT_TRUE(e[2] == few[3 * i] && e[1] == few[3 * i + 1] && e[0] == few[3 * i + 2]) << i;
    }

    Bytes mono(rgb.size());
    for (uint32_t i = 0; i < w * h; ++i) {
        const uint8_t v = rgb[3 * i] > 127 ? 255 : 0;
        mono[3 * i] = mono[3 * i + 1] = mono[3 * i + 2] = v;
    }
    Bytes f1 = ReadFileBytes(MagickConvert(mono, w, h, 3, "-type PaletteMatte", "im1.pcx"));
    ASSERT_GE(f1.size(), 128u);
    if (f1[3] != 1 || f1[65] != 1) GTEST_SKIP() << "ImageMagick wrote no 1-bit file";
    const bool setIsWhite = ImSetBitIsWhite();
    Decoded d1 = ReadPcx(f1, 1);
    ASSERT_TRUE(d1.buf) << d1.error;
    const uint32_t row = (w + 7) / 8;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const bool white = BitAt(d1.buf.get() + y * row, x) == setIsWhite;
            ASSERT_EQ(mono[3 * (y * w + x)], white ? 255 : 0) << x << "," << y;
        }
}

// ---- damaged input ----------------------------------------------------------------

void SweepAllReaders(const Bytes& file) {
    SCOPED_TRACE(testing::Message() << "file of " << file.size() << " bytes");
    const std::set<uint32_t> allowed = {IS_ERR_READ, IS_ERR_NOT_PCX, IS_ERR_VARIANT, IS_ERR_DEPTH, IS_ERR_MEMORY};
    uint8_t pal[1024];
    CorruptionSweep(file, [&](ISHANDLE h) {
        uint32_t w, hh;
        return IS40_ReadPCX(h, &w, &hh, 24, pal, 0);
    }, 1500, allowed);
    CorruptionSweep(file, [&](ISHANDLE h) {
        uint32_t w, hh;
        return IS40_ReadPCX(h, &w, &hh, 8, pal, 0);
    }, 500, allowed);
    CorruptionSweep(file, [&](ISHANDLE h) {
        uint32_t w, hh;
        return IS40_ReadPCX(h, &w, &hh, 24, nullptr, IS_READ_DIB);
    }, 500, allowed);
}

TEST(PcxCorruption, WrittenVariants) {
    Bytes rgb = Pattern(5, 3, 3, 41);
    SweepAllReaders(WritePcx("c24.pcx", rgb.data(), 5, 3, 24, 15, nullptr).file);
    Bytes pal = TestPalette(9);
    Bytes idx = Pattern(6, 4, 1, 42);
    SweepAllReaders(WritePcx("c8.pcx", idx.data(), 6, 4, 8, 6, pal.data()).file);
    Bytes bits = Pattern(2, 3, 1, 43);
    SweepAllReaders(WritePcx("c1.pcx", bits.data(), 9, 3, 1, 2, pal.data()).file);
}

TEST(PcxCorruption, HandMadeVariants) {
    PcxSpec s;
    s.bitsPerPlane = 1;
    s.planes = 4;
    s.width = 9;
    s.height = 3;
    SweepAllReaders(BuildPcx(s, Pattern(2 * 4, 3, 1, 51)));
    s.bitsPerPlane = 8;
    s.width = 3;
    s.height = 2;
    SweepAllReaders(BuildPcx(s, Pattern(4 * 4, 2, 1, 52)));
    s.planes = 1;
    s.encoding = 0;
    SweepAllReaders(BuildPcx(s, Pattern(4, 2, 1, 53)));
}

}  // namespace
