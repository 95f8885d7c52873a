// TGA reader, dimension query and writer.
#include "IS40.h"
#include "isframe.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

using namespace vstest;

namespace {

// ---- building files -------------------------------------------------------

struct TgaSpec {
    uint8_t idLength = 0;
    uint8_t mapType = 0;
    uint8_t imageType = 2;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapBits = 0;
    uint16_t width = 1;
    uint16_t height = 1;
    uint8_t pixelBits = 24;
    uint8_t descriptor = 0x20;
};

Bytes Header(const TgaSpec& s) {
    Bytes b(18, 0);
    b[0] = s.idLength;
    b[1] = s.mapType;
    b[2] = s.imageType;
    b[3] = static_cast<uint8_t>(s.mapFirst);
    b[4] = static_cast<uint8_t>(s.mapFirst >> 8);
    b[5] = static_cast<uint8_t>(s.mapLength);
    b[6] = static_cast<uint8_t>(s.mapLength >> 8);
    b[7] = s.mapBits;
    b[12] = static_cast<uint8_t>(s.width);
    b[13] = static_cast<uint8_t>(s.width >> 8);
    b[14] = static_cast<uint8_t>(s.height);
    b[15] = static_cast<uint8_t>(s.height >> 8);
    b[16] = s.pixelBits;
    b[17] = s.descriptor;
    return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A file from its header and everything after it.
Bytes Tga(const TgaSpec& s, const Bytes& rest) { return Cat(Header(s), rest); }

// Uncompressed to run-length packets: runs of 3 or more repeat, the rest
// are literal; packets ignore row ends.
Bytes RleEncode(const Bytes& raw, uint32_t pb) {
    Bytes out;
    const size_t n = raw.size() / pb;
    auto same = [&](size_t a, size_t b) { return std::memcmp(&raw[a * pb], &raw[b * pb], pb) == 0; };
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && same(i, i + run)) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), &raw[i * pb], &raw[i * pb] + pb);
            i += run;
            continue;
        }
        size_t lit = 0;
        while (i + lit < n && lit < 128) {
            if (i + lit + 2 < n && same(i + lit, i + lit + 1) && same(i + lit, i + lit + 2)) break;
            ++lit;
        }
        out.push_back(static_cast<uint8_t>(lit - 1));
        out.insert(out.end(), &raw[i * pb], &raw[(i + lit) * pb]);
        i += lit;
    }
    return out;
}

// RGB(A) rows to B, G, R(, A) file pixels.
Bytes SwapRB(Bytes px, uint32_t pb) {
    for (size_t i = 0; i + 2 < px.size(); i += pb) std::swap(px[i], px[i + 2]);
    return px;
}

Bytes FlipRows(const Bytes& px, uint32_t h) {
    const size_t row = px.size() / h;
    Bytes out;
    for (uint32_t y = h; y-- > 0;) out.insert(out.end(), px.begin() + y * row, px.begin() + (y + 1) * row);
    return out;
}

// ---- reading ----------------------------------------------------------------

struct ReadResult {
    LibBuffer buf;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t error = 0;
    uint8_t palette[1024] = {};
    Bytes Pixels(size_t n) const { return buf ? Bytes(buf.get(), buf.get() + n) : Bytes(); }
};

// allocations: how many library allocations the read may make (negative: any).
ReadResult ReadMem(const Bytes& file, uint32_t depth, uint32_t flags = 0, int64_t allocations = -1) {
    ReadResult r;
    ISHANDLE h = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_NE(h, nullptr);
    ISSetAllocFailAfter(allocations);
    r.buf = LibBuffer(IS40_ReadTGA(h, &r.width, &r.height, depth, r.palette, flags));
    r.error = IS40_GetLastError();
    ISSetAllocFailAfter(-1);
    IS40_CloseSource(h);
    return r;
}

// Checks a successful read of depth 24/32 against expected RGB(A) bytes.
void ExpectPixels(const Bytes& file, uint32_t depth, const Bytes& expected, uint32_t w, uint32_t h) {
    ReadResult r = ReadMem(file, depth);
    ASSERT_TRUE(r.buf) << "error " << r.error;
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.width, w);
    EXPECT_EQ(r.height, h);
    EXPECT_EQ(r.Pixels(expected.size()), expected);
}

// Indexes through the B, G, R, reserved palette to R, G, B.
Bytes ThroughPalette(const uint8_t* index, size_t n, const uint8_t* palette) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = palette + 4 * index[i];
        out.push_back(e[2]);
        out.push_back(e[1]);
        out.push_back(e[0]);
    }
    return out;
}

// ---- writing ----------------------------------------------------------------

Bytes WriteTga(const std::string& name, const Bytes& image, uint32_t w, uint32_t h, uint32_t bits,
               uint32_t stride, const uint8_t* palette, uint32_t flags, uint32_t* returned = nullptr,
               uint32_t* error = nullptr) {
    return WriteToBytes(
        name,
        [&](ISHANDLE d) {
            uint32_t r = IS40_WriteTGA(d, image.data(), w, h, bits, stride, palette, 0, flags);
            if (error) *error = IS40_GetLastError();
            return r;
        },
        returned);
}

Bytes GreyPalette() {
    Bytes p(1024, 0);
    for (int i = 0; i < 256; ++i) {
        p[4 * i] = static_cast<uint8_t>(255 - i);
        p[4 * i + 1] = static_cast<uint8_t>(i * 7);
        p[4 * i + 2] = static_cast<uint8_t>(i);
    }
    return p;
}

// ---- read: origin, packets, pixel formats -------------------------------------

TEST(TgaRead, OriginAndDirection) {
    // File rows: A B / C D, stored B, G, R.
    const Bytes fileRows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    TgaSpec s;
    s.width = 2;
    s.height = 2;
    s.descriptor = 0x00;  // bottom-left: the file's second row is the top
    ExpectPixels(Tga(s, fileRows), 24, {9, 8, 7, 12, 11, 10, 3, 2, 1, 6, 5, 4}, 2, 2);
    s.descriptor = 0x20;
    ExpectPixels(Tga(s, fileRows), 24, {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10}, 2, 2);
    s.descriptor = 0x30;  // top-right
    ExpectPixels(Tga(s, fileRows), 24, {6, 5, 4, 3, 2, 1, 12, 11, 10, 9, 8, 7}, 2, 2);
    s.descriptor = 0x10;  // bottom-right
    ExpectPixels(Tga(s, fileRows), 24, {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 2, 2);
    // 32-bit output of a 24-bit file is opaque.
    s.descriptor = 0x20;
    ExpectPixels(Tga(s, fileRows), 32, {3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 12, 11, 10, 255}, 2, 2);
}

TEST(TgaRead, RlePacketsAcrossRowsMatchUncompressed) {
    // 3 x 2: a repeat packet of 4 covers row 0 and the start of row 1.
    TgaSpec s;
    s.width = 3;
    s.height = 2;
    const Bytes raw = {10, 20, 30, 10, 20, 30, 10, 20, 30, 10, 20, 30, 1, 2, 3, 4, 5, 6};
    s.imageType = 2;
    Bytes plain = Tga(s, raw);
    s.imageType = 10;
    Bytes rle = Tga(s, {0x83, 10, 20, 30, 0x01, 1, 2, 3, 4, 5, 6});
    ReadResult a = ReadMem(plain, 24), b = ReadMem(rle, 24);
    ASSERT_TRUE(a.buf && b.buf) << b.error;
    EXPECT_EQ(a.Pixels(18), b.Pixels(18));
    EXPECT_EQ(b.Pixels(6), Bytes({30, 20, 10, 30, 20, 10}));

    // A literal packet across the row end, bottom-left origin, 32 bits.
    s.width = 3;
    s.height = 2;
    s.pixelBits = 32;
    s.descriptor = 0x08;
    Bytes raw32 = Pattern(3, 2, 4, 9);
    s.imageType = 2;
    plain = Tga(s, raw32);
    s.imageType = 10;
    Bytes lit = {0x04};
    lit.insert(lit.end(), raw32.begin(), raw32.begin() + 20);
    lit.push_back(0x80);
    lit.insert(lit.end(), raw32.begin() + 20, raw32.end());
    a = ReadMem(plain, 32);
    b = ReadMem(Tga(s, lit), 32);
    ASSERT_TRUE(a.buf && b.buf) << b.error;
    EXPECT_EQ(a.Pixels(24), b.Pixels(24));

    // A packet running past the last pixel is cut off, not written past the buffer.
    s.pixelBits = 24;
    s.descriptor = 0x20;
    ExpectPixels(Tga(s, {0xFF, 1, 2, 3}), 24, {3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1, 3, 2, 1}, 3, 2);
}

TEST(TgaRead, SixteenAndFifteenBitPixels) {
    TgaSpec s;
    s.width = 4;
    s.height = 1;
    s.pixelBits = 16;
    // 0x7FFF white, 0x7C00 red, 0x03E0 green, 0x001F blue
    const Bytes px = {0xFF, 0x7F, 0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00};
    const Bytes want = {0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0xF8, 0, 0, 0, 0xF8};
    ExpectPixels(Tga(s, px), 24, want, 4, 1);
    s.pixelBits = 15;
    ExpectPixels(Tga(s, px), 24, want, 4, 1);
    s.pixelBits = 16;
    s.imageType = 10;
    ExpectPixels(Tga(s, {0x81, 0xFF, 0x7F, 0x01, 0x00, 0x7C, 0x1F, 0x00}), 24,
                 {0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0xF8, 0, 0, 0, 0, 0xF8}, 4, 1);
    s.imageType = 2;
    ExpectPixels(Tga(s, px), 32, {0xF8, 0xF8, 0xF8, 255, 0xF8, 0, 0, 255, 0, 0xF8, 0, 255, 0, 0, 0xF8, 255}, 4, 1);
}

TEST(TgaRead, ColourMapEntrySizes) {
    TgaSpec s;
    s.mapType = 1;
    s.imageType = 1;
    s.width = 3;
    s.height = 1;
    s.pixelBits = 8;
    s.mapFirst = 0;
    s.mapLength = 2;
    const Bytes index = {1, 0, 1};
    struct Case {
        uint8_t bits;
        Bytes map;
        Bytes entry0, entry1;  // R, G, B, A
    } cases[] = {
        {8, {0x40, 0xC0}, {0x40, 0x40, 0x40, 255}, {0xC0, 0xC0, 0xC0, 255}},
        {15, {0x1F, 0x00, 0x00, 0x7C}, {0, 0, 0xF8, 255}, {0xF8, 0, 0, 255}},
        {16, {0xE0, 0x03, 0xFF, 0xFF}, {0, 0xF8, 0, 255}, {0xF8, 0xF8, 0xF8, 255}},
        {24, {1, 2, 3, 4, 5, 6}, {3, 2, 1, 255}, {6, 5, 4, 255}},
        {32, {1, 2, 3, 4, 5, 6, 7, 8}, {3, 2, 1, 4}, {7, 6, 5, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        s.mapBits = c.bits;
        Bytes file = Tga(s, Cat(c.map, index));
        Bytes want32 = Cat(Cat(c.entry1, c.entry0), c.entry1);
        ExpectPixels(file, 32, want32, 3, 1);
        ReadResult r = ReadMem(file, 8);
        ASSERT_TRUE(r.buf) << r.error;
        EXPECT_EQ(r.Pixels(3), index);
        EXPECT_EQ(r.palette[4 * 1 + 2], c.entry1[0]);
        EXPECT_EQ(r.palette[4 * 1 + 1], c.entry1[1]);
        EXPECT_EQ(r.palette[4 * 1 + 0], c.entry1[2]);
        EXPECT_EQ(r.palette[4 * 2 + 0] | r.palette[4 * 2 + 1] | r.palette[4 * 2 + 2], 0) << "unused entry";
    }
}

TEST(TgaRead, ColourMapFirstEntryAndIndexesOutsideTheMap) {
    // Map covers indexes 5 and 6 only; 0, 7 and 255 come out black.
    TgaSpec s;
    s.mapType = 1;
    s.imageType = 9;
    s.mapFirst = 5;
    s.mapLength = 2;
    s.mapBits = 24;
    s.width = 5;
    s.height = 1;
    s.pixelBits = 8;
    Bytes file = Tga(s, {10, 20, 30, 40, 50, 60, 0x04, 5, 6, 0, 7, 255});
    ExpectPixels(file, 24, {30, 20, 10, 60, 50, 40, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 5, 1);
    ReadResult r = ReadMem(file, 8);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.Pixels(5), Bytes({5, 6, 0, 7, 255}));
    EXPECT_EQ(r.palette[4 * 5 + 2], 30);
    EXPECT_EQ(r.palette[4 * 6 + 0], 40);

    // 16-bit indexes reach entries beyond 255 at 24 bits.
    s.imageType = 1;
    s.pixelBits = 16;
    s.mapFirst = 300;
    s.width = 2;
    ExpectPixels(Tga(s, {10, 20, 30, 40, 50, 60, 0x2D, 0x01, 0xFF, 0xFF}), 24, {60, 50, 40, 0, 0, 0}, 2, 1);
    ReadResult r16 = ReadMem(Tga(s, {10, 20, 30, 40, 50, 60, 0x2D, 0x01, 0xFF, 0xFF}), 8);
    EXPECT_FALSE(r16.buf);
    EXPECT_EQ(r16.error, uint32_t(IS_ERR_DEPTH));
}

TEST(TgaRead, GreyAndIdFieldAndUnusedMap) {
    // ID field and a colour map on a grey file are skipped.
    TgaSpec s;
    s.idLength = 3;
    s.mapType = 1;
    s.mapLength = 2;
    s.mapBits = 16;
    s.imageType = 3;
    s.width = 3;
    s.height = 1;
    s.pixelBits = 8;
    Bytes file = Tga(s, {'a', 'b', 'c', 0xAA, 0xAA, 0xBB, 0xBB, 0, 128, 255});
    ExpectPixels(file, 24, {0, 0, 0, 128, 128, 128, 255, 255, 255}, 3, 1);
    ReadResult r = ReadMem(file, 8);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.Pixels(3), Bytes({0, 128, 255}));
    for (int i = 0; i < 256; i += 51) EXPECT_EQ(r.palette[4 * i + 1], i);
    s.imageType = 11;
    s.mapType = 0;
    s.idLength = 0;
    ExpectPixels(Tga(s, {0x82, 77}), 24, {77, 77, 77, 77, 77, 77, 77, 77, 77}, 3, 1);
}

// ---- read: layout flags ---------------------------------------------------------

TEST(TgaRead, PaddedBgrRowsAndPackedDib) {
    const uint32_t w = 3, h = 2;
    Bytes rgb = Pattern(w, h, 3, 4);
    TgaSpec s;
    s.width = w;
    s.height = h;
    s.descriptor = 0x00;
    // Bottom-up file rows.
    Bytes fileRows = Cat(SwapRB(Bytes(rgb.begin() + 9, rgb.end()), 3), SwapRB(Bytes(rgb.begin(), rgb.begin() + 9), 3));
    Bytes file = Tga(s, fileRows);

    ReadResult r = ReadMem(file, 24, IS_READ_PAD_BGR);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(IS40_GlobalSize(r.buf.get()), 24u);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(r.buf.get()[y * 12 + x * 3 + c], rgb[(y * w + x) * 3 + 2 - c]);
            }
        }
        EXPECT_EQ(r.buf.get()[y * 12 + 9] | r.buf.get()[y * 12 + 10] | r.buf.get()[y * 12 + 11], 0);
    }

    ReadResult d = ReadMem(file, 24, IS_READ_DIB);
    ASSERT_TRUE(d.buf);
    const Bytes dib = d.Pixels(40 + 24);
    EXPECT_EQ(Get32(dib, 0), 40u);
    EXPECT_EQ(Get32(dib, 4), w);
    EXPECT_EQ(Get32(dib, 8), h);
    EXPECT_EQ(Get16(dib, 12), 1u);
    EXPECT_EQ(Get16(dib, 14), 24u);
    EXPECT_EQ(Get32(dib, 16), 0u);
    // DIB rows are bottom-up, like this file.
    EXPECT_EQ(Bytes(dib.begin() + 40, dib.begin() + 49), Bytes(fileRows.begin(), fileRows.begin() + 9));
    EXPECT_EQ(Bytes(dib.begin() + 52, dib.begin() + 61), Bytes(fileRows.begin() + 9, fileRows.end()));

    // A 32-bit file gives a 32-bit DIB.
    s.pixelBits = 32;
    s.descriptor = 0x28;
    Bytes bgra = Pattern(w, h, 4, 5);
    ReadResult d32 = ReadMem(Tga(s, bgra), 24, IS_READ_DIB);
    ASSERT_TRUE(d32.buf);
    const Bytes dib32 = d32.Pixels(40 + 24);
    EXPECT_EQ(Get16(dib32, 14), 32u);
    EXPECT_EQ(Bytes(dib32.begin() + 40, dib32.begin() + 52), Bytes(bgra.begin() + 12, bgra.end()));
    EXPECT_EQ(Bytes(dib32.begin() + 52, dib32.end()), Bytes(bgra.begin(), bgra.begin() + 12));
}

TEST(TgaRead, RequestedDepthErrors) {
    TgaSpec s;
    Bytes file = Tga(s, {1, 2, 3});
    for (uint32_t depth : {0u, 1u, 4u, 16u, 48u}) {
        ReadResult r = ReadMem(file, depth);
        EXPECT_FALSE(r.buf);
        EXPECT_EQ(r.error, uint32_t(IS_ERR_PARAM)) << depth;
    }
    ReadResult r = ReadMem(file, 8, IS_READ_DIB);
    EXPECT_EQ(r.error, uint32_t(IS_ERR_PARAM));
    r = ReadMem(file, 24, IS_READ_DIB | IS_READ_PAD_BGR);
    EXPECT_EQ(r.error, uint32_t(IS_ERR_PARAM));
    // Indexes cannot come from a true-colour file.
    r = ReadMem(file, 8);
    EXPECT_FALSE(r.buf);
    EXPECT_EQ(r.error, uint32_t(IS_ERR_DEPTH));
    // Other flag bits are ignored.
    r = ReadMem(file, 24, 1);
    EXPECT_TRUE(r.buf);
    EXPECT_EQ(r.error, 0u);
}

// ---- read: damaged and hostile files ---------------------------------------------

TEST(TgaRead, HeaderErrors) {
    auto errorOf = [](const Bytes& file) {
        ReadResult r = ReadMem(file, 24);
        EXPECT_FALSE(r.buf);
        return r.error;
    };
    TgaSpec s;
    for (uint8_t type : {0, 4, 8, 12, 32, 255}) {
        s.imageType = type;
        EXPECT_EQ(errorOf(Tga(s, {1, 2, 3})), uint32_t(IS_ERR_TGA_TYPE)) << int(type);
    }
    s.imageType = 2;
    for (uint8_t bits : {0, 1, 4, 12, 33, 64}) {
        s.pixelBits = bits;
        EXPECT_EQ(errorOf(Tga(s, Bytes(8, 0))), uint32_t(IS_ERR_TGA_TYPE)) << int(bits);
    }
    s.pixelBits = 24;
    s.width = 0;
    EXPECT_EQ(errorOf(Tga(s, {1, 2, 3})), uint32_t(IS_ERR_FORMAT));
    s.width = 1;
    s.height = 0;
    EXPECT_EQ(errorOf(Tga(s, {1, 2, 3})), uint32_t(IS_ERR_FORMAT));
    s.height = 1;
    const Bytes head = Header(s);
    EXPECT_EQ(errorOf(Bytes(head.begin(), head.begin() + 17)), uint32_t(IS_ERR_READ));
    // Colour-mapped without a map; a map with an unknown entry size.
    s.imageType = 1;
    s.pixelBits = 8;
    EXPECT_EQ(errorOf(Tga(s, {0})), uint32_t(IS_ERR_PALETTE));
    s.mapType = 1;
    s.mapLength = 1;
    s.mapBits = 12;
    EXPECT_EQ(errorOf(Tga(s, {0, 0, 0})), uint32_t(IS_ERR_TGA_TYPE));
    s.mapBits = 24;
    s.pixelBits = 24;  // indexes must be 8 or 16 bits
    EXPECT_EQ(errorOf(Tga(s, {0, 0, 0, 0, 0, 0})), uint32_t(IS_ERR_TGA_TYPE));
}

TEST(TgaRead, ShortDataIsAReadError) {
    TgaSpec s;
    s.width = 4;
    s.height = 4;
    Bytes full = Tga(s, Pattern(4, 4, 3));
    EXPECT_TRUE(ReadMem(full, 24).buf);
    EXPECT_EQ(ReadMem(Bytes(full.begin(), full.end() - 1), 24).error, uint32_t(IS_ERR_READ));
    // Short ID field, short colour map.
    s.idLength = 200;
    EXPECT_EQ(ReadMem(Tga(s, Bytes(100, 0)), 24).error, uint32_t(IS_ERR_READ));
    s.idLength = 0;
    s.mapType = 1;
    s.imageType = 1;
    s.mapLength = 256;
    s.mapBits = 24;
    s.pixelBits = 8;
    EXPECT_EQ(ReadMem(Tga(s, Bytes(700, 0)), 24).error, uint32_t(IS_ERR_READ));
    // A run-length file whose packets stop early.
    s.imageType = 9;
    EXPECT_EQ(ReadMem(Tga(s, Cat(Bytes(768, 0), {0x87, 1})), 24).error, uint32_t(IS_ERR_READ));
    EXPECT_EQ(ReadMem(Tga(s, Cat(Bytes(768, 0), {0x87, 1, 0x87})), 24).error, uint32_t(IS_ERR_READ));
}

TEST(TgaRead, HugeHeadersFailWithoutAllocating) {
    TgaSpec s;
    s.width = 60000;
    s.height = 60000;
    const auto start = std::chrono::steady_clock::now();
    for (uint8_t type : {2, 10}) {
        s.imageType = type;
        for (uint32_t depth : {24u, 32u}) {
            ReadResult r = ReadMem(Tga(s, Bytes(64, 0x7F)), depth);
            EXPECT_FALSE(r.buf);
            EXPECT_TRUE(r.error == IS_ERR_MEMORY || r.error == IS_ERR_FORMAT) << r.error;
        }
    }
    // Fits the allocation limit, but the source cannot hold the picture:
    // refused before the output is allocated.
    s.width = 20000;
    s.height = 20000;
    s.imageType = 2;
    EXPECT_EQ(ReadMem(Tga(s, Bytes(64, 0)), 24, 0, 0).error, uint32_t(IS_ERR_READ));
    s.imageType = 10;
    EXPECT_EQ(ReadMem(Tga(s, Bytes(64, 0xFF)), 24, 0, 0).error, uint32_t(IS_ERR_READ));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(TgaRead, OutOfMemoryIsReported) {
    TgaSpec s;
    Bytes file = Tga(s, {1, 2, 3});
    ReadResult r = ReadMem(file, 24, 0, 0);
    EXPECT_FALSE(r.buf);
    EXPECT_EQ(r.error, uint32_t(IS_ERR_MEMORY));
}

TEST(TgaRead, FooterProblemsKeepThePicture) {
    TgaSpec s;
    s.width = 8;
    s.height = 1;
    Bytes px = Pattern(8, 1, 3);
    Bytes footer(26, 0);
    std::memcpy(&footer[8], "TRUEVISION-XFILE.", 18);
    // A footer with no extension area, then one whose extension lies outside the file.
    Bytes file = Cat(Tga(s, px), footer);
    ReadResult r = ReadMem(file, 24);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.Pixels(24), SwapRB(px, 3));
    file[file.size() - 26] = 0xF0;
    file[file.size() - 23] = 0x10;
    r = ReadMem(file, 24);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.error, uint32_t(IS_ERR_READ));
    EXPECT_EQ(r.Pixels(24), SwapRB(px, 3));
    // A file shorter than a footer simply has none.
    s.width = 1;
    s.pixelBits = 8;
    s.imageType = 3;
    r = ReadMem(Tga(s, {9}), 24);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.error, 0u);
}

TEST(TgaRead, ArgumentAndHandleErrors) {
    uint32_t w = 0, h = 0, bits = 0;
    EXPECT_EQ(IS40_ReadTGA(nullptr, &w, &h, 24, nullptr, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    EXPECT_FALSE(IS40_GetTGADims(nullptr, &w, &h, &bits, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));

    Bytes file = Tga(TgaSpec(), {1, 2, 3});
    ISHANDLE src = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    EXPECT_EQ(IS40_ReadTGA(src, nullptr, &h, 24, nullptr, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    EXPECT_FALSE(IS40_GetTGADims(src, &w, &h, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
    IS40_CloseSource(src);
    EXPECT_EQ(IS40_ReadTGA(src, &w, &h, 24, nullptr, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));
    EXPECT_FALSE(IS40_GetTGADims(src, &w, &h, &bits, 0));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));
    const Bytes pixel = {1, 2, 3};
    EXPECT_EQ(IS40_WriteTGA(src, pixel.data(), 1, 1, 24, 3, nullptr, 0, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_HANDLE));
    EXPECT_EQ(IS40_WriteTGA(nullptr, pixel.data(), 1, 1, 24, 3, nullptr, 0, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
}

TEST(TgaDims, ReportsHeaderAndErrors) {
    auto dims = [](const Bytes& file, uint32_t* w, uint32_t* h, uint32_t* bits) {
        return WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTGADims(src, w, h, bits, 0); });
    };
    uint32_t w = 0, h = 0, bits = 0;
    TgaSpec s;
    s.width = 300;
    s.height = 2;
    s.pixelBits = 32;
    s.imageType = 10;
    EXPECT_TRUE(dims(Header(s), &w, &h, &bits));  // no pixel data needed
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(w, 300u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(bits, 32u);
    s.pixelBits = 40;
    EXPECT_FALSE(dims(Header(s), &w, &h, &bits));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_TGA_TYPE));
    s.pixelBits = 8;
    s.imageType = 5;
    EXPECT_FALSE(dims(Header(s), &w, &h, &bits));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_TGA_TYPE));
    s.imageType = 3;
    Bytes head = Header(s);
    EXPECT_FALSE(dims(Bytes(head.begin(), head.begin() + 10), &w, &h, &bits));
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_READ));
}

// ---- writing ------------------------------------------------------------------

TEST(TgaWrite, LayoutOf24BitFile) {
    const uint32_t w = 5, h = 3;
    Bytes rgb = Pattern(w, h, 3);
    uint32_t returned = 0, error = 99;
    std::time_t before = std::time(nullptr);
    Bytes file = WriteTga("a.tga", rgb, w, h, 24, w * 3, nullptr, 0, &returned, &error);
    EXPECT_EQ(error, 0u);
    const size_t pixelEnd = 18 + 3 * w * h;
    ASSERT_EQ(file.size(), pixelEnd + 495 + 26);
    EXPECT_EQ(returned, file.size());

    Bytes want = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 3, 0, 24, 0x20};
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18), want);
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + pixelEnd), SwapRB(rgb, 3)) << "top row first, B, G, R";

    const size_t e = pixelEnd;
    EXPECT_EQ(Get16(file, e), 495u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&file[e + 426])), "IS 4.0.9.2");
    EXPECT_EQ(Get16(file, e + 467), 4u);
    EXPECT_EQ(file[e + 469], 0);
    EXPECT_EQ(Get16(file, e + 474), 1u);
    EXPECT_EQ(Get16(file, e + 476), 1u);
    EXPECT_EQ(file[e + 494], 0);
    // Date stamp from the local clock.
    std::tm local = {};
    localtime_r(&before, &local);
    EXPECT_EQ(Get16(file, e + 371), uint32_t(local.tm_year + 1900));
    EXPECT_GE(Get16(file, e + 367), 1u);
    EXPECT_LE(Get16(file, e + 367), 12u);
    EXPECT_GE(Get16(file, e + 369), 1u);
    EXPECT_LE(Get16(file, e + 373), 23u);
    // Every field not named stays zero: author, comments, job, key colour, gamma, offsets.
    for (size_t i = 2; i < 367; ++i) EXPECT_EQ(file[e + i], 0) << i;
    for (size_t i = 379; i < 426; ++i) EXPECT_EQ(file[e + i], 0) << i;
    for (size_t i = 470; i < 474; ++i) EXPECT_EQ(file[e + i], 0) << i;
    for (size_t i = 478; i < 494; ++i) EXPECT_EQ(file[e + i], 0) << i;

    const size_t f = e + 495;
    EXPECT_EQ(Get32(file, f), pixelEnd);
    EXPECT_EQ(Get32(file, f + 4), 0u);
    EXPECT_EQ(std::memcmp(&file[f + 8], "TRUEVISION-XFILE.", 18), 0);
}

TEST(TgaWrite, LayoutOf8And32BitFiles) {
    const uint32_t w = 3, h = 2;
    Bytes pal = GreyPalette();
    Bytes idx = Pattern(w, h, 1);
    uint32_t returned = 0;
    Bytes file = WriteTga("p.tga", idx, w, h, 8, w, pal.data(), 0, &returned);
    ASSERT_EQ(file.size(), 18 + 768 + w * h + 495 + 26);
    EXPECT_EQ(returned, file.size());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 18),
              Bytes({0, 1, 1, 0, 0, 0, 1, 24, 0, 0, 0, 0, 3, 0, 2, 0, 8, 0x28}));
    for (int i = 0; i < 256; ++i) {
        for (int c = 0; c < 3; ++c) EXPECT_EQ(file[18 + 3 * i + c], pal[4 * i + c]);
    }
    EXPECT_EQ(Bytes(file.begin() + 18 + 768, file.begin() + 18 + 768 + 6), idx);
    EXPECT_EQ(file[18 + 768 + 6 + 494], 0);
    EXPECT_EQ(Get32(file, file.size() - 26), 18u + 768 + 6);

    Bytes rgba = Pattern(w, h, 4);
    file = WriteTga("q.tga", rgba, w, h, 32, w * 4, nullptr, 0, &returned);
    ASSERT_EQ(file.size(), 18 + 4 * w * h + 495 + 26);
    EXPECT_EQ(file[2], 2);
    EXPECT_EQ(file[16], 32);
    EXPECT_EQ(file[17], 0x20);
    EXPECT_EQ(Bytes(file.begin() + 18, file.begin() + 42), SwapRB(rgba, 4));
    EXPECT_EQ(file[18 + 24 + 494], 3) << "attributes type: alpha";
}

TEST(TgaWrite, RowOrderAndPixelOrderFlags) {
    const uint32_t w = 3, h = 3, stride = 11;  // odd width, padded input rows
    Bytes rgb = Pattern(w, h, 3, 7);
    Bytes padded(stride * h, 0xEE);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&padded[y * stride], &rgb[y * 9], 9);
    Bytes plain = WriteTga("p.tga", padded, w, h, 24, stride, nullptr, 0);
    // The same picture given bottom-up, and already B, G, R.
    Bytes flipped(stride * h);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&flipped[y * stride], &padded[(h - 1 - y) * stride], stride);
    Bytes bottomUp = WriteTga("b.tga", flipped, w, h, 24, stride, nullptr, 4);
    Bytes bgr = SwapRB(rgb, 3);
    Bytes asBgr = WriteTga("g.tga", bgr, w, h, 24, 9, nullptr, 8);
    ASSERT_EQ(plain.size(), 18u + 27 + 521);
    auto pixels = [](const Bytes& f) { return Bytes(f.begin(), f.begin() + 45); };
    EXPECT_EQ(pixels(plain), pixels(bottomUp));
    EXPECT_EQ(pixels(plain), pixels(asBgr));
    EXPECT_EQ(Bytes(plain.begin() + 18, plain.begin() + 45), bgr);
}

TEST(TgaWrite, ArgumentErrors) {
    const Bytes px(64, 1);
    Bytes pal = GreyPalette();
    struct Case {
        const uint8_t* image;
        uint32_t w, h, bits, stride;
        const uint8_t* palette;
    } cases[] = {
        {px.data(), 0, 1, 24, 3, nullptr},  {px.data(), 1, 0, 24, 3, nullptr},
        {px.data(), 1, 1, 16, 3, nullptr},  {px.data(), 1, 1, 1, 3, nullptr},
        {px.data(), 1, 1, 8, 1, nullptr},   {nullptr, 1, 1, 24, 3, nullptr},
        {px.data(), 70000, 1, 8, 70000, pal.data()},
        {px.data(), 4, 1, 24, 8, nullptr},  // stride shorter than a row
    };
    for (const Case& c : cases) {
        uint32_t returned = 1, error = 0;
        Bytes file = WriteToBytes(
            "e.tga",
            [&](ISHANDLE d) {
                uint32_t r = IS40_WriteTGA(d, c.image, c.w, c.h, c.bits, c.stride, c.palette, 0, 0);
                error = IS40_GetLastError();
                return r;
            },
            &returned);
        EXPECT_EQ(returned, 0u) << c.w << "x" << c.h << "@" << c.bits;
        EXPECT_EQ(error, uint32_t(IS_ERR_PARAM)) << c.w << "x" << c.h << "@" << c.bits;
        EXPECT_TRUE(file.empty());
    }
}

TEST(TgaWrite, WriteFailuresAreErrors) {
    const Bytes px = Pattern(4, 4, 3);
    // A source is not writable: the header write fails.
    ISHANDLE src = IS40_OpenMemorySource(px.data(), static_cast<uint32_t>(px.size()));
    EXPECT_EQ(IS40_WriteTGA(src, px.data(), 4, 4, 24, 12, nullptr, 0, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE));
    IS40_CloseSource(src);
    // A full device takes the buffered writes, then refuses the flush.
    std::FILE* probe = std::fopen("/dev/full", "wb");
    if (!probe) GTEST_SKIP() << "no /dev/full";
    std::fclose(probe);
    ISHANDLE d = IS40_OpenFileDest("/dev/full", 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(IS40_WriteTGA(d, px.data(), 4, 4, 24, 12, nullptr, 0, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE));
    IS40_CloseDest(d);
}

// ---- round trips -------------------------------------------------------------

TEST(TgaRoundTrip, EveryDepthAndOddWidths) {
    Bytes pal = GreyPalette();
    for (uint32_t w : {1u, 2u, 3u, 7u, 33u}) {
        for (uint32_t h : {1u, 4u}) {
            for (uint32_t bits : {8u, 24u, 32u}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + "@" + std::to_string(bits));
                Bytes img = Pattern(w, h, bits / 8, w * 31 + h + bits);
                std::string path = ScratchPath("rt.tga");
                WriteTga("rt.tga", img, w, h, bits, w * bits / 8, pal.data(), 0);
                ISHANDLE src = IS40_OpenFileSource(path.c_str());
                ASSERT_NE(src, nullptr);
                uint32_t rw = 0, rh = 0;
                uint8_t outPal[1024] = {};
                LibBuffer out(IS40_ReadTGA(src, &rw, &rh, bits, outPal, 0));
                EXPECT_EQ(IS40_GetLastError(), 0u);
                IS40_CloseSource(src);
                ASSERT_TRUE(out);
                EXPECT_EQ(rw, w);
                EXPECT_EQ(rh, h);
                EXPECT_EQ(Bytes(out.get(), out.get() + img.size()), img);
                if (bits == 8) {
                    for (int i = 0; i < 256; ++i) {
                        EXPECT_EQ(Bytes(outPal + 4 * i, outPal + 4 * i + 3),
                                  Bytes(&pal[4 * i], &pal[4 * i] + 3));
                    }
                }
            }
        }
    }
}

TEST(TgaRoundTrip, FlagsAndGenericReader) {
    const uint32_t w = 5, h = 3;
    Bytes rgb = Pattern(w, h, 3, 3);
    std::string path = ScratchPath("g.tga");
    // Written from bottom-up B, G, R input; read back padded B, G, R.
    Bytes input(w * 3 * h);
    for (uint32_t y = 0; y < h; ++y) {
        Bytes row = SwapRB(Bytes(&rgb[y * w * 3], &rgb[(y + 1) * w * 3]), 3);
        std::memcpy(&input[(h - 1 - y) * w * 3], row.data(), row.size());
    }
    WriteTga("g.tga", input, w, h, 24, w * 3, nullptr, 4 | 8);
    Bytes file = ReadFileBytes(path);
    ReadResult r = ReadMem(file, 24, IS_READ_PAD_BGR);
    ASSERT_TRUE(r.buf);
    for (uint32_t y = 0; y < h; ++y) {
        EXPECT_EQ(Bytes(r.buf.get() + y * 16, r.buf.get() + y * 16 + 15),
                  SwapRB(Bytes(&rgb[y * 15], &rgb[y * 15 + 15]), 3));
    }

    // The generic reader finds TGA by extension and, in memory, by footer.
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    uint32_t gw = 0, gh = 0;
    LibBuffer g(IS40_ReadImage(src, &gw, &gh, 0, 0));
    IS40_CloseSource(src);
    ASSERT_TRUE(g);
    EXPECT_EQ(Bytes(g.get(), g.get() + rgb.size()), rgb);
    ISHANDLE mem = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    LibBuffer g32(IS40_ReadImage(mem, &gw, &gh, 1, 0));
    IS40_CloseSource(mem);
    ASSERT_TRUE(g32);
    EXPECT_EQ(IS40_GetLastError(), 0u);
    for (size_t i = 0; i < w * h; ++i) {
        EXPECT_EQ(Bytes(g32.get() + 4 * i, g32.get() + 4 * i + 3), Bytes(&rgb[3 * i], &rgb[3 * i] + 3));
        EXPECT_EQ(g32.get()[4 * i + 3], 255);
    }
}

// ---- ImageMagick interop ----------------------------------------------------------

TEST(TgaInterop, ImageMagickReadsWrittenFiles) {
    REQUIRE_MAGICK();
    const uint32_t w = 7, h = 5;
    Bytes pal = GreyPalette();
    for (uint32_t bits : {8u, 24u, 32u}) {
        SCOPED_TRACE(bits);
        Bytes img = Pattern(w, h, bits / 8, bits);
        std::string path = ScratchPath("out" + std::to_string(bits) + ".tga");
        WriteTga("out" + std::to_string(bits) + ".tga", img, w, h, bits, w * bits / 8, pal.data(), 0);
        EXPECT_EQ(MagickSize(path), "7 5");
        Bytes want = bits == 8 ? ThroughPalette(img.data(), img.size(), pal.data()) : img;
        const char* map = bits == 32 ? "rgba" : "rgb";
        EXPECT_EQ(MagickPixels(path, map), want);
    }
}

TEST(TgaInterop, ReadsImageMagickFiles) {
    REQUIRE_MAGICK();
    const uint32_t w = 9, h = 6;
    Bytes rgb = Pattern(w, h, 3, 11);
    Bytes rgba = Pattern(w, h, 4, 12);
    Bytes grey = Pattern(w, h, 1, 13);
    // Few colours so that -type Palette keeps every one of them exactly.
    Bytes few(rgb.size());
    for (size_t i = 0; i < few.size(); ++i) few[i] = static_cast<uint8_t>((rgb[i] & 0xC0) | 0x15);
    const std::string dir = ScratchDir();
    WriteNetpbm(dir + "/c.ppm", rgb, w, h, 3);
    WriteNetpbm(dir + "/a.pam", rgba, w, h, 4);
    WriteNetpbm(dir + "/g.pgm", grey, w, h, 1);
    WriteNetpbm(dir + "/f.ppm", few, w, h, 3);
    Bytes greyRgb;
    for (uint8_t v : grey) greyRgb.insert(greyRgb.end(), {v, v, v});

    struct Case {
        const char* source;
        const char* options;
        uint32_t depth;
        const Bytes* want;
    } cases[] = {
        {"c.ppm", "", 24, &rgb},
        {"c.ppm", "-compress RLE", 24, &rgb},
        {"a.pam", "", 32, &rgba},
        {"a.pam", "-compress RLE", 32, &rgba},
        {"f.ppm", "-type Palette", 24, &few},
        {"f.ppm", "-type Palette -compress RLE", 24, &few},
        {"g.pgm", "", 24, &greyRgb},
        {"g.pgm", "-compress RLE", 24, &greyRgb},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " " + c.options);
        std::string out = dir + "/im" + std::to_string(n++) + ".tga";
        ASSERT_EQ(Shell("convert '" + dir + "/" + c.source + "' " + c.options + " '" + out + "'"), 0);
        Bytes file = ReadFileBytes(out);
        // This ImageMagick stores rows top first yet marks the file
        // bottom-left; its oriented decode is the reference, and must be
        // the source picture or its mirror.
        const std::string map = c.depth == 32 ? "rgba" : "rgb";
        Bytes ref = MagickPixels(out, map, "-auto-orient");
        EXPECT_TRUE(ref == *c.want || ref == FlipRows(*c.want, h)) << "reference decode";
        ExpectPixels(file, c.depth, ref, w, h);
        uint32_t dw = 0, dh = 0, bits = 0;
        EXPECT_TRUE(WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetTGADims(s, &dw, &dh, &bits, 0); }));
        EXPECT_EQ(dw, w);
        EXPECT_EQ(dh, h);
        if (std::string(c.options).find("Palette") != std::string::npos || c.source[0] == 'g') {
            // The 8-bit form: indexes through the returned palette.
            EXPECT_EQ(bits, 8u);
            ReadResult r = ReadMem(file, 8);
            ASSERT_TRUE(r.buf) << r.error;
            EXPECT_EQ(ThroughPalette(r.buf.get(), w * h, r.palette), ref);
        }
    }
}

// ---- corruption --------------------------------------------------------------------

TEST(TgaCorruption, SweepEveryVariant) {
    const std::set<uint32_t> allowed = {IS_ERR_MEMORY, IS_ERR_READ, IS_ERR_FORMAT, IS_ERR_PALETTE, IS_ERR_DEPTH,
                                        IS_ERR_TGA_TYPE};
    const uint32_t w = 5, h = 3;
    Bytes rgb = Pattern(w, h, 3, 21);
    Bytes rgba = Pattern(w, h, 4, 22);
    std::vector<Bytes> files;
    TgaSpec s;
    s.width = w;
    s.height = h;
    s.descriptor = 0x00;
    files.push_back(Tga(s, SwapRB(rgb, 3)));
    s.imageType = 10;
    files.push_back(Tga(s, RleEncode(SwapRB(rgb, 3), 3)));
    s.pixelBits = 32;
    s.descriptor = 0x28;
    files.push_back(Tga(s, RleEncode(rgba, 4)));
    s.pixelBits = 16;
    files.push_back(Tga(s, RleEncode(Pattern(w, h, 2, 23), 2)));
    // Colour-mapped with a partial map of 16-bit entries, some indexes outside it.
    s.mapType = 1;
    s.imageType = 9;
    s.mapFirst = 2;
    s.mapLength = 6;
    s.mapBits = 16;
    s.pixelBits = 8;
    Bytes idx = Pattern(w, h, 1, 24);
    for (uint8_t& v : idx) v %= 10;
    files.push_back(Tga(s, Cat(Pattern(6, 1, 2, 25), RleEncode(idx, 1))));
    s.mapType = 0;
    s.mapLength = 0;
    s.mapBits = 0;
    s.imageType = 11;
    s.idLength = 4;
    files.push_back(Tga(s, Cat({'n', 'a', 'm', 'e'}, RleEncode(Pattern(w, h, 1, 26), 1))));
    // A written file: extension area and footer.
    Bytes pal = GreyPalette();
    files.push_back(WriteTga("w.tga", Pattern(w, h, 1, 27), w, h, 8, w, pal.data(), 0));

    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE("variant " + std::to_string(i));
        ASSERT_TRUE(ReadMem(files[i], 24).buf) << "intact file must read";
        for (uint32_t depth : {8u, 24u, 32u}) {
            CorruptionSweep(
                files[i],
                [&](ISHANDLE src) {
                    uint32_t rw, rh;
                    uint8_t p[1024];
                    return IS40_ReadTGA(src, &rw, &rh, depth, p, 0);
                },
                depth == 24 ? 1500 : 300, allowed);
        }
        CorruptionSweep(
            files[i],
            [](ISHANDLE src) {
                uint32_t rw, rh;
                return IS40_ReadTGA(src, &rw, &rh, 24, nullptr, IS_READ_DIB);
            },
            300, allowed);
    }
}

}  // namespace
