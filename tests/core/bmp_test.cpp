// BMP reader, dimension query and writer.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <cstring>
#include <functional>
#include <string>

using namespace vstest;

namespace {

void Put16(Bytes& b, uint32_t v) { b.push_back(static_cast<uint8_t>(v)), b.push_back(static_cast<uint8_t>(v >> 8)); }
void Put32(Bytes& b, uint32_t v) { Put16(b, v), Put16(b, v >> 16); }
Bytes Words(std::initializer_list<uint32_t> v, bool wide = false) {
    Bytes b;
    for (uint32_t x : v) wide ? Put32(b, x) : Put16(b, x);
    return b;
}

// A BMP file assembled field by field, so tests can bend any of them.
struct BmpLayout {
    int32_t width = 1, height = 1;
    uint32_t bits = 24, compression = 0;
    Bytes table;   // as stored: 4 bytes an entry, 3 for OS/2
    Bytes pixels;
    std::vector<uint32_t> masks;  // written after the header when present
    uint32_t headerSize = 40, coloursUsed = 0, gap = 0, xPpm = 0, yPpm = 0;
};

Bytes BuildBmp(const BmpLayout& s) {
    Bytes info;
    Put32(info, s.headerSize);
    if (s.headerSize == 12) {
        for (uint32_t v : {uint32_t(s.width), uint32_t(s.height), 1u, s.bits}) Put16(info, v);
    } else {
        Put32(info, static_cast<uint32_t>(s.width)), Put32(info, static_cast<uint32_t>(s.height));
        Put16(info, 1), Put16(info, s.bits);
        for (uint32_t v : {s.compression, uint32_t(s.pixels.size()), s.xPpm, s.yPpm, s.coloursUsed, 0u}) Put32(info, v);
        for (uint32_t m : s.masks) if (s.headerSize > 40) Put32(info, m);  // later headers hold the masks
        info.resize(s.headerSize, 0);
    }
    for (uint32_t m : s.masks) if (s.headerSize <= 40) Put32(info, m);
    info.insert(info.end(), s.table.begin(), s.table.end());
    info.insert(info.end(), s.gap, 0xEE);
    Bytes out = {'B', 'M'};
    const uint32_t offset = static_cast<uint32_t>(14 + info.size());
    for (uint32_t v : {static_cast<uint32_t>(offset + s.pixels.size()), 0u, offset}) Put32(out, v);
    return Cat(Cat(out, info), s.pixels);
}

// File rows (bottom-up unless topDown, B, G, R, padded) of a top-first RGB image.
Bytes Rows24(const Bytes& rgb, uint32_t w, uint32_t h, bool topDown = false) {
    const uint32_t row = (w * 3 + 3) & ~3u;
    Bytes out(static_cast<size_t>(row) * h, 0);
    for (uint32_t i = 0; i < w * h * 3; ++i)
        out[(topDown ? i / 3 / w : h - 1 - i / 3 / w) * row + i / 3 % w * 3 + 2 - i % 3] = rgb[i];
    return out;
}

ReadResult Read(const Bytes& file, uint32_t depth, uint32_t flags = 0, int64_t allocations = -1) {
    return ReadWith(IS40_ReadBMP, file, depth, flags, allocations);
}

Bytes Write(const uint8_t* image, uint32_t w, uint32_t h, uint32_t bits, uint32_t stride, uint32_t colours,
            const uint8_t* palette, uint32_t flags, uint32_t* returned = nullptr) {
    return WriteToBytes("out.bmp", [&](ISHANDLE d) {
        return IS40_WriteBMP(d, image, w, h, bits, stride, colours, palette, nullptr, flags);
    }, returned);
}

Bytes Patched(Bytes file, size_t at, uint8_t value) { file[at] = value; return file; }

// A w x h file at bits, its colour table as stored, its pixel data, bit field masks and header size.
BmpLayout Fields(int32_t w, int32_t h, uint32_t bits, uint32_t compression, Bytes table, Bytes pixels,
                 std::vector<uint32_t> masks = {}, uint32_t headerSize = 40) {
    return {w, h, bits, compression, std::move(table), std::move(pixels), std::move(masks), headerSize};
}

Bytes Standard24(uint32_t w, uint32_t h, const Bytes& rgb) { return BuildBmp(Fields(w, h, 24, 0, {}, Rows24(rgb, w, h))); }

}  // namespace

TEST(BmpRead, EveryLayoutAndCompression) {
    const Bytes rgb = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19};  // 3 x 2, top first
    const BmpLayout s24 = Fields(3, 2, 24, 0, {}, Rows24(rgb, 3, 2)), top = Fields(3, -2, 24, 0, {}, Rows24(rgb, 3, 2, true));
    BmpLayout gap = s24;
    gap.gap = 40;
    // Masks left out: pixel data right after the header, 5-5-5 defaults.
    const BmpLayout noMasks = Fields(3, 1, 16, 3, {}, Words({(31u << 10) | (1u << 5) | 24u, 0, 0, 0}));
    // 10-bit masks keep their top 8 bits; no alpha mask: opaque.
    const Bytes wide = Words({(0x3FFu << 20) | (0x200u << 10) | 1u, 0xC0000000u | (0x155u << 20) | (0xFFu << 10) | 0x3FCu}, true);
    auto v4 = [](uint32_t bits, std::vector<uint32_t> masks, Bytes pixels) { return BuildBmp(Fields(2, 1, bits, 3, {}, pixels, masks, 108)); };
    const Bytes plain32 = BuildBmp(Fields(2, 1, 32, 0, {}, {1, 2, 3, 4, 5, 6, 7, 8}));

    struct Case { const char* what; Bytes file; uint32_t depth; Bytes expected; } cases[] = {
        {"top-down", BuildBmp(top), 24, rgb},
        {"gap before the pixels", BuildBmp(gap), 24, rgb},
        {"24 bits as 32", BuildBmp(s24), 32, {1, 2, 3, 255, 4, 5, 6, 255, 7, 8, 9, 255, 11, 12, 13, 255, 14, 15, 16, 255, 17, 18, 19, 255}},
        {"5-5-5 stretched", BuildBmp(Fields(3, 1, 16, 0, {}, Words({0x7FFF, (16u << 10) | (1u << 5) | 31u, 0x8000, 0}))), 24,
         {255, 255, 255, 16 * 255 / 31, 255 / 31, 255, 0, 0, 0}},
        {"5-6-5 moved, not stretched", BuildBmp(Fields(3, 1, 16, 3, {}, Words({0xFFFF, 0x8410, 0, 0}), {0xF800, 0x07E0, 0x001F})), 24,
         {248, 252, 248, 128, 128, 128, 0, 0, 0}},
        {"bit fields without masks", BuildBmp(noMasks), 24, {248, 8, 192}},
        {"32-bit fields", BuildBmp(Fields(2, 1, 32, 3, {}, wide, {0x3FF00000, 0x000FFC00, 0x000003FF})), 32, {255, 128, 0, 0xFF, 0x55, 0x3F, 0xFF, 0xFF}},
        {"alpha mask", v4(32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {10, 20, 30, 0x40, 40, 50, 60, 0x80}), 32, {30, 20, 10, 0x40, 60, 50, 40, 0x80}},
        {"no alpha mask: opaque", v4(32, {0xFF0000, 0xFF00, 0xFF, 0}, {10, 20, 30, 0x40, 40, 50, 60, 0x80}), 32, {30, 20, 10, 255, 60, 50, 40, 255}},
        {"1-5-5-5 alpha", v4(16, {0x7C00, 0x03E0, 0x001F, 0x8000}, {0xFF, 0xFF, 0x00, 0x7C}), 32, {248, 248, 248, 255, 248, 0, 0, 0}},
        {"32 bits", plain32, 32, {3, 2, 1, 4, 7, 6, 5, 8}},
        {"32 bits as 24", plain32, 24, {3, 2, 1, 7, 6, 5}},
    };
    for (const Case& c : cases) {
        ReadResult r = Read(c.file, c.depth);
        EXPECT_EQ(r.error, 0u) << c.what;
        EXPECT_EQ(r.Data(c.expected.size()), c.expected) << c.what;
    }
}

TEST(BmpRead, IndexedAndRunLengthFiles) {
    // An OS/2 file's 3-byte table cut short: its length shows in the offset.
    const BmpLayout os2 = Fields(2, 2, 8, 0, {10, 20, 30, 40, 50, 60, 70, 80, 90}, {0, 1, 0, 0, 2, 0, 0, 0}, {}, 12);
    BmpLayout used = Fields(3, 1, 4, 0, {1, 2, 3, 4, 5, 6, 7, 0x77, 9, 10, 11, 12}, {0x21, 0, 0, 0});
    used.coloursUsed = 3;  // the rest of the palette copies entry 0
    const Bytes longAbsolute = Cat(Cat({0, 250}, Bytes(250, 3)), {0, 2, 255, 0, 1, 1, 0, 2, 0, 255, 5, 5, 5, 5});
    const Bytes t256 = PatternPalette(256, 0), t16 = PatternPalette(16, 0);

    // indexes: read at 8 bits, top row first; paletteHead: first palette bytes, when checked
    struct Case { const char* what; BmpLayout layout; Bytes indexes, paletteHead; uint32_t error; } cases[] = {
        // Bits past the width are set, and must not show at 1 bit either.
        {"1 bit", Fields(10, 2, 1, 0, {0, 0, 0, 0, 200, 100, 50, 0}, {0x4C, 0x7F, 0, 0, 0xB3, 0xBF, 0, 0}),
         {1, 0, 1, 1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 1}, {0, 0, 0, 0, 200, 100, 50, 0}, 0},
        {"4 bits, 3 colours used", used, {2, 1, 0}, {1, 2, 3, 4, 5, 6, 7, 0x77, 9, 10, 11, 12, 1, 2, 3, 4}, 0},
        {"8 bits, padded rows", Fields(5, 2, 8, 0, t256, {10, 20, 30, 40, 50, 0, 0, 0, 255, 254, 0, 1, 2, 0, 0, 0}),
         {255, 254, 0, 1, 2, 10, 20, 30, 40, 50}, t256, 0},
        {"OS/2 short table", os2, {2, 0, 0, 1}, {10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 10, 20, 30, 0}, 0},
        // run, odd absolute run with pad, end of line, delta to (2, 2), run, end of bitmap
        {"RLE8", Fields(6, 3, 8, 1, t256, {3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 2, 1, 2, 7, 0, 1}),
         {0, 0, 7, 7, 0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 5, 1, 2, 3}, {}, 0},
        {"RLE4", Fields(5, 2, 4, 2, t16, {5, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0x67, 0, 1}),
         {3, 4, 5, 6, 7, 1, 2, 1, 2, 1}, {}, 0},
        {"RLE4 odd absolute run", Fields(9, 1, 4, 2, t16, {0, 9, 0x12, 0x34, 0x56, 0x78, 0x90, 0, 0, 1}),
         {1, 2, 3, 4, 5, 6, 7, 8, 9}, {}, 0},
        // Runs longer than the row are clipped; the next row starts only at end of line.
        {"RLE8 long runs", Fields(3, 2, 8, 1, t256, {255, 9, 200, 8, 0, 0, 2, 4, 0, 0, 0, 0, 0, 0, 9, 9, 9, 9}),
         {4, 4, 0, 9, 9, 9}, {}, 0},
        {"RLE8 wide absolute run, far deltas, data past the end", Fields(3, 2, 8, 1, t256, longAbsolute),
         {0, 0, 0, 3, 3, 3}, {}, 0},
        {"RLE8 without end of bitmap", Fields(3, 2, 8, 1, t256, {2, 6, 0, 0, 1}), {0, 0, 0, 6, 6, 0}, {}, 3},
        {"RLE4 past the row", Fields(3, 1, 4, 2, t16, {0, 9, 0x12, 0x34, 0x56, 0x78, 0x90, 0, 0, 2, 0, 9, 3, 3}),
         {1, 2, 3}, {}, 0},
    };
    for (const Case& c : cases) {
        const Bytes file = BuildBmp(c.layout);
        ReadResult r = Read(file, 8);
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_EQ(r.Data(c.indexes.size()), c.indexes) << c.what;
        EXPECT_EQ(Bytes(r.palette.begin(), r.palette.begin() + c.paletteHead.size()), c.paletteHead) << c.what;
        // Colour reads go through the same palette; pixels a run-length stream skips stay zero, alpha included.
        for (uint32_t depth : {24u, 32u}) {
            if (depth == 32 && c.layout.compression) continue;
            ReadResult rc = Read(file, depth);
            EXPECT_EQ(rc.Data(c.indexes.size() * depth / 8), ThroughPalette(c.indexes.data(), c.indexes.size(), r.palette.data(), depth))
                << c.what << " at " << depth;
        }
    }
    // 1 bit to 1 bit keeps the packed rows, top first.
    ReadResult r = Read(BuildBmp(cases[0].layout), 1);
    EXPECT_EQ(r.Data(4), (Bytes{0xB3, 0x80, 0x4C, 0x40}));
}

TEST(BmpRead, ErrorCodes) {
    const BmpLayout s = Fields(2, 2, 24, 0, {}, Rows24(Pattern(2, 2, 3), 2, 2));
    const Bytes good = BuildBmp(s), file8 = BuildBmp(Fields(2, 2, 8, 0, PatternPalette(256, 0), Bytes(8, 1)));
    auto with = [&](const std::function<void(BmpLayout&)>& change) { BmpLayout v = s; change(v); return BuildBmp(v); };
    struct Case { std::string what; Bytes file; uint32_t depth, error; };
    std::vector<Case> cases = {
        {"signature", Patched(good, 1, 'A'), 24, 6}, {"width 0", with([](BmpLayout& v) { v.width = 0; }), 24, 6},
        {"width -3", with([](BmpLayout& v) { v.width = -3; }), 24, 6},
        {"height 0", with([](BmpLayout& v) { v.height = 0; }), 24, 6},
        {"OS/2 width 0", with([](BmpLayout& v) { v.headerSize = 12, v.width = 0; }), 24, 6},
        {"colour table cut short", Bytes(file8.begin(), file8.begin() + 54 + 100), 24, 3},
        {"not even one row", Bytes(good.begin(), good.end() - 9), 24, 3},
        {"pixel offset past the end", Patched(good, 11, 0x10), 24, 3},
        {"no run-length data", BuildBmp(Fields(3, 2, 8, 1, PatternPalette(256, 0), {})), 24, 3},
        {"24 bits as indexes", good, 8, 28}, {"24 bits as 1 bit", good, 1, 28},
        {"4 bits as 1 bit", BuildBmp(Fields(4, 1, 4, 0, PatternPalette(16, 0), Bytes(4, 0x12))), 1, 28},
        {"16 bits as indexes", with([](BmpLayout& v) { v.bits = 16; }), 8, 28},
    };
    for (uint32_t size : {0u, 16u, 64u, 100u, 200u})
        cases.push_back({"header size " + std::to_string(size), with([&](BmpLayout& v) { v.headerSize = size; }), 24, 6});
    for (uint32_t bits : {0u, 2u, 12u, 48u})
        cases.push_back({"bits " + std::to_string(bits), with([&](BmpLayout& v) { v.bits = bits; }), 24, 6});
    // Compression that does not fit the bit count, or is unknown.
    const std::pair<uint32_t, uint32_t> mismatched[] = {{4, 1}, {8, 2}, {24, 1}, {24, 3}, {8, 3}, {24, 4}, {24, 7}};
    for (auto m : mismatched) {
        cases.push_back({"bits " + std::to_string(m.first) + " compression " + std::to_string(m.second),
                         with([&](BmpLayout& v) {
                             v.bits = m.first, v.compression = m.second;
                             if (m.first <= 8) v.table = PatternPalette(1u << m.first, 0);
                         }), 24, 6});
    }
    for (uint32_t depth : {0u, 4u, 12u, 16u, 48u}) cases.push_back({"depth " + std::to_string(depth), good, depth, 5});
    for (const Case& c : cases) EXPECT_EQ(ReadError(IS40_ReadBMP, c.file, c.depth), c.error) << c.what;
}

TEST(BmpRead, TruncatedPixelDataKeepsWhatArrived) {
    const uint32_t w = 5, h = 4, line = w * 3;
    const Bytes rgb = Pattern(w, h, 3), file = Standard24(w, h, rgb);
    // A file row and a half (rows of 16 bytes): the bottom row survives, and
    // of the next only pixels 0 and 1 and pixel 2's B and G; the rest stays zero.
    ReadResult r = Read(Bytes(file.begin(), file.begin() + 54 + 16 + 8), 24);
    EXPECT_EQ(r.error, 3u);
    Bytes expected(w * h * 3, 0);
    std::copy(rgb.begin() + 2 * line, rgb.begin() + 2 * line + 6, expected.begin() + 2 * line);
    std::copy(rgb.begin() + 2 * line + 7, rgb.begin() + 2 * line + 9, expected.begin() + 2 * line + 7);
    std::copy(rgb.begin() + 3 * line, rgb.end(), expected.begin() + 3 * line);
    EXPECT_EQ(r.Data(w * h * 3), expected);
}

TEST(BmpRead, HugeHeadersFailWithoutAllocating) {
    struct { uint32_t bits, compression; } kinds[] = {{24, 0}, {8, 0}, {8, 1}, {4, 2}, {32, 3}, {1, 0}};
    for (auto k : kinds) for (int32_t height : {60000, -60000, 0x7FFFFFFF, static_cast<int32_t>(0x80000000u)}) {
        BmpLayout s = Fields(60000, height, k.bits, k.compression, k.bits <= 8 ? PatternPalette(1u << k.bits, 0) : Bytes(), Bytes(64, 0));
        if (k.compression == 3) s.masks = {0xFF0000, 0xFF00, 0xFF};
        for (uint32_t depth : {24u, 32u, 8u}) for (uint32_t flags : {0u, 2u}) {
            if (depth == 8 && k.bits > 8) continue;
            const uint32_t err = ReadError(IS40_ReadBMP, BuildBmp(s), depth, flags);
            EXPECT_TRUE(err == 1 || err == 6 || (k.bits == 1 && err == 3)) << k.bits << " bits, " << height << ": " << err;
        }
    }
    // Plausible sizes the data cannot fill are refused before allocating, so with allocation disabled, or in a child
    // whose address space cannot take the picture, the error is still 3: RLE4 of 8 x 33554435 pixels in a few bytes
    // (the escapes could end it early, but no picture of a gigabyte is made of them), RLE8 likewise, one row of 10000,
    // not even one row.
    const BmpLayout plausible[] = {Fields(8, 0x02000003, 4, 2, PatternPalette(16, 0), {0, 1, 0, 0}),
                                 Fields(20000, 20000, 8, 1, PatternPalette(256, 0), {255, 1, 255, 2, 0, 1}),
                                 Fields(4000, 10000, 24, 0, {}, Bytes(12000, 0x40)), Fields(20000, 20000, 24, 0, {}, Bytes(100, 0))};
    for (const BmpLayout& s : plausible) {
        const Bytes file = BuildBmp(s);
        EXPECT_EQ(Read(file, 32, IS_READ_DIB, 0).error, 3u) << s.width;
        auto run = [&] { return static_cast<int>(ReadError(IS40_ReadBMP, file, 32, IS_READ_DIB)); };
        if (!kSanitized) { EXPECT_EQ(InCappedChild(192ull << 20, run), 3) << s.width; }
    }
}

TEST(BmpDims, ReportsHeaderFieldsAndErrors) {
    BmpLayout s = Fields(7, -3, 24, 0, {}, {});
    s.xPpm = 2835, s.yPpm = 3780;
    const Bytes headers = BuildBmp(s);  // headers alone are enough
    uint32_t w = 0, bits = 0;
    int32_t h = 0;
    ISResolution res{-1, -1, 99};
    auto dims = [&](const Bytes& file) {
        return WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetBMPDims(src, &w, &h, &bits, &res, 0); });
    };
    EXPECT_TRUE(dims(headers));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(std::vector<double>({double(w), double(h), double(bits), res.xRes, res.yRes, double(res.unit)}),
              std::vector<double>({7, -3, 24, 2835, 3780, 2}));
    EXPECT_FAILS_WITH(dims(Patched(headers, 0, 'X')), 6);
    EXPECT_FAILS_WITH(dims(Bytes(headers.begin(), headers.begin() + 20)), 3);
}

TEST(BmpWrite, DirectColourAndRle8RoundTrips) {
    const uint32_t w = 13, h = 5;
    // 16 bits: 5-5-5 data as given.
    Bytes img = Pattern(w * 2, h, 1, 7);
    for (size_t i = 1; i < img.size(); i += 2) img[i] &= 0x7F;
    ReadResult r = Read(Write(img.data(), w, h, 16, w * 2, 0, nullptr, 0), 24);
    ASSERT_TRUE(r.buf) << r.error;
    for (size_t i = 0; i < 3u * w * h; ++i)
        ASSERT_EQ(r.buf.get()[i], ((Get16(img, i / 3 * 2) >> (10 - 5 * (i % 3))) & 31) * 255 / 31) << i;
    for (uint32_t bits : {24u, 32u}) {  // alpha kept
        img = Pattern(w, h, bits / 8, bits);
        const Bytes file = Write(img.data(), w, h, bits, w * bits / 8, 0, nullptr, 0);
        EXPECT_EQ(Get32(file, 46), 0u);
        EXPECT_EQ(Read(file, bits).Data(img.size()), img) << bits;
    }
    // Rows that hit every coder path: long runs, pairs, singles between
    // runs, literal stretches longer than 255, odd literal lengths, width 1.
    struct Case { uint32_t w, h; };
    for (Case c : {Case{1, 3}, Case{2, 2}, Case{3, 1}, Case{300, 4}, Case{600, 7}, Case{17, 9}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        Bytes img(static_cast<size_t>(c.w) * c.h);
        const Bytes noise = Pattern(c.w, c.h, 1, c.w), pal = PatternPalette(256, 0, c.h);
        for (uint32_t i = 0; i < c.w * c.h; ++i) {
            const uint32_t x = i % c.w, kinds[] = {x / 97, noise[i], (x / 2) % 3, x % 4 == 0 ? x : 200, x % 3 == 2 ? 9 : x};
            img[i] = static_cast<uint8_t>(kinds[(i / c.w) % 5]);
        }
        uint32_t ret = 0;
        const Bytes file = Write(img.data(), c.w, c.h, 8, c.w, 256, pal.data(), 1, &ret);
        ASSERT_EQ(IS40_GetLastError(), 0u);
        ASSERT_EQ(ret, file.size());
        EXPECT_EQ((std::vector<uint32_t>{Get32(file, 30), Get32(file, 2), Get32(file, 34), Get16(file, file.size() - 2)}),
                  (std::vector<uint32_t>{1, ret, ret - 54 - 1024, 0x100}));
        ReadResult r = Read(file, 8);
        EXPECT_EQ(r.error, 0u);
        EXPECT_EQ(r.Data(img.size()), img);
    }
    // A pair is a run, not two single pixels; long uniform rows compress.
    const Bytes pair = {5, 5}, palette = PatternPalette(256, 0), flat(1000 * 10, 42);
    const Bytes coded = Write(pair.data(), 2, 1, 8, 2, 256, palette.data(), 1);
    EXPECT_EQ(Bytes(coded.begin() + 54 + 1024, coded.end()), (Bytes{2, 5, 0, 1}));
    EXPECT_LT(Write(flat.data(), 1000, 10, 8, 1000, 256, palette.data(), 1).size(), 54u + 1024u + 200u);
}

TEST(BmpWrite, LayoutFlagsAndWorkMemoryFirst) {
    const uint32_t w = 7, h = 4;
    const Bytes rgb = Pattern(w, h, 3, 11), expected = Standard24(w, h, rgb);
    // Bit 31: a stride of 21 rounded up to 24.
    Bytes padded(24 * h, 0xAA);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&padded[y * 24], &rgb[y * w * 3], w * 3);
    EXPECT_EQ(Write(padded.data(), w, h, 24, w * 3, 0, nullptr, 0x80000000u), expected);

    // Flag 2: a packed DIB written as it is (DIBs with a colour table are written back in the reader agreement test).
    ReadResult r = Read(expected, 24, 2);
    uint32_t ret = 0;
    EXPECT_EQ(Write(r.buf.get(), 0, 0, 0, 0, 0, nullptr, 2, &ret), expected);
    EXPECT_EQ(ret, expected.size());
    // Work memory comes first: its failure leaves the destination untouched, also for run-length coding.
    const Bytes pal = PatternPalette(256, 0);
    for (uint32_t flags : {0u, 1u}) {
        EXPECT_TRUE(WriteFails([&](ISHANDLE d) {
            ISSetAllocFailAfter(0);
            const uint32_t size = IS40_WriteBMP(d, rgb.data(), 4, 4, 8, 4, 256, pal.data(), nullptr, flags);
            ISSetAllocFailAfter(-1);
            return size;
        }, 1)) << flags;
    }
}
