// PCX reader and writer: header rules, error codes, round trips and files exchanged with ImageMagick.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <cstring>
#include <string>

using namespace vstest;

namespace {

ReadResult ReadPcx(const Bytes& file, uint32_t depth, uint32_t flags = 0, int64_t allocations = -1) {
    return ReadWith(IS40_ReadPCX, file, depth, flags, allocations);
}

Bytes WritePcx(const uint8_t* image, uint32_t w, uint32_t h, uint32_t bits, uint32_t stride,
               const uint8_t* palette, const ISResolution* res = nullptr, uint32_t flags = 0) {
    return WriteToBytes("out.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, image, w, h, bits, stride, palette, res, flags); });
}

uint32_t Dims(const Bytes& file, uint32_t* w, uint32_t* h, uint32_t* bits, ISResolution* res = nullptr) {
    return WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetPCXDims(s, w, h, bits, res, 0); });
}

// Hand-made PCX files for the variants this library never writes.
struct PcxFields {
    uint8_t version = 5, encoding = 1, bitsPerPlane = 8, planes = 1;
    uint32_t width = 1, height = 1;
    uint32_t bytesPerLine = 0;  // 0: computed, rounded to even
    uint8_t paletteInfo = 2;    // grey: a 256-colour file needs no palette at its end
    uint8_t palette16[48] = {};
};

Bytes PcxHeader(const PcxFields& s) {
    Bytes h(128, 0);
    const uint32_t bpl = s.bytesPerLine ? s.bytesPerLine : (((s.width * s.bitsPerPlane + 7) / 8 + 1) & ~1u);
    h[0] = 10, h[1] = s.version, h[2] = s.encoding, h[3] = s.bitsPerPlane;
    ISPut16LE(&h[8], static_cast<uint16_t>(s.width - 1));
    ISPut16LE(&h[10], static_cast<uint16_t>(s.height - 1));
    std::memcpy(&h[16], s.palette16, 48);
    h[65] = s.planes, h[68] = s.paletteInfo;
    ISPut16LE(&h[66], static_cast<uint16_t>(bpl));
    return h;
}

// raw: every scan line, planes one after another. Coded byte by byte
// without runs: a byte that would read as a count goes out as a run of one.
Bytes BuildPcx(const PcxFields& s, const Bytes& raw, const Bytes& tail = {}) {
    Bytes f = PcxHeader(s);
    for (uint8_t b : raw) {
        if (s.encoding && (b & 0xC0) == 0xC0) f.push_back(0xC1);
        f.push_back(b);
    }
    f.insert(f.end(), tail.begin(), tail.end());
    return f;
}

}  // namespace

TEST(PcxRead, ErrorCodes) {
    PcxFields s;
    s.width = 10, s.height = 2;
    const Bytes good = BuildPcx(s, Bytes(20, 7));
    auto patched = [&](size_t at, uint8_t value) { Bytes f = good; f[at] = value; return f; };
    Bytes empties = PcxHeader(s);  // empty runs and no data: a read error, not a hang
    for (int i = 0; i < 5000; ++i) empties.insert(empties.end(), {0xC0, 0x12});
    PcxFields rgb, planar16, huge, big;
    rgb.planes = 3, planar16.bitsPerPlane = 1, planar16.planes = 4;
    huge.width = huge.height = 60000, huge.planes = 3, big.width = big.height = 40000;
    const Bytes pal = PatternPalette(256, 0, 3), idx = Pattern(6, 3, 1);
    const Bytes f8 = WritePcx(idx.data(), 6, 3, 8, 6, pal.data());

    // allocations: how many the read may make (negative: any)
    struct Case { std::string what; Bytes file; uint32_t depth, error; int64_t allocations = -1; };
    std::vector<Case> cases = {
        {"manufacturer", patched(0, 11), 24, IS_ERR_NOT_PCX},
        {"bytes per line below the width", patched(66, 9), 24, IS_ERR_NOT_PCX},
        {"xmin past xmax", patched(4, 20), 24, IS_ERR_NOT_PCX}, {"no planes", patched(65, 0), 24, IS_ERR_NOT_PCX},
        {"40 bits a pixel", patched(65, 5), 24, IS_ERR_NOT_PCX}, {"3 bits a plane", patched(3, 3), 24, IS_ERR_VARIANT},
        {"empty runs", empties, 8, IS_ERR_READ}, {"run cut off", Cat(PcxHeader(s), {0xC3}), 8, IS_ERR_READ},
        {"24 bits as indexes", BuildPcx(rgb, Bytes(6, 1)), 8, IS_ERR_DEPTH},
        {"16 colours as 1 bit", BuildPcx(planar16, Bytes(8, 1)), 1, IS_ERR_DEPTH},
        {"huge", Cat(PcxHeader(huge), Bytes(64, 0xC5)), 24, IS_ERR_MEMORY},
        // Within the allocation limit, but the source is far too short for it: found before any buffer is requested.
        {"data cannot fill the picture", Cat(PcxHeader(big), Bytes(64, 0xFF)), 8, IS_ERR_READ, 0},
        {"no memory for the picture", f8, 24, IS_ERR_MEMORY, 0},
        {"no memory for the palette", f8, 24, IS_ERR_MEMORY, 1},
    };
    for (uint8_t v : {1, 4, 6, 255}) cases.push_back({"version " + std::to_string(v), patched(1, v), 24, IS_ERR_NOT_PCX});
    for (uint32_t depth : {0u, 4u, 16u, 32u}) cases.push_back({"depth " + std::to_string(depth), good, depth, IS_ERR_PARAM});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadResult r = ReadPcx(c.file, c.depth, 0, c.allocations);
        EXPECT_TRUE(!r.buf && r.error == c.error) << r.error;
        uint32_t w, h, bits;
        if (c.what.rfind("version", 0) == 0 || c.what == "manufacturer") EXPECT_FAILS_WITH(Dims(c.file, &w, &h, &bits), c.error);
    }
    for (uint8_t v : {0, 2, 3, 5}) EXPECT_TRUE(ReadPcx(patched(1, v), 24).buf) << "version " << int(v);
}

TEST(PcxRead, VariantsOtherProgramsWrite) {
    PcxFields s;
    s.width = 5, s.height = 2;
    for (int i = 0; i < 16; ++i) s.palette16[3 * i] = uint8_t(i * 16), s.palette16[3 * i + 1] = uint8_t(255 - i), s.palette16[3 * i + 2] = uint8_t(i * 3);
    const uint8_t want[2][5] = {{0, 15, 3, 8, 12}, {5, 10, 1, 2, 4}};
    Bytes colours;
    for (uint8_t i : {0, 15, 3, 8, 12, 5, 10, 1, 2, 4}) colours.insert(colours.end(), {uint8_t(i * 16), uint8_t(255 - i), uint8_t(i * 3)});
    // Four planes of one bit (plane p holds bit p of each index), and one
    // plane of four bits, high nibble first, with a spare byte a line.
    Bytes planar, packed;
    for (const auto& row : want) {
        for (int p = 0; p < 4; ++p) {
            uint8_t b = 0;
            for (int x = 0; x < 5; ++x) b |= static_cast<uint8_t>(((row[x] >> p) & 1) << (7 - x));
            planar.insert(planar.end(), {b, 0});
        }
        packed.insert(packed.end(), {uint8_t(row[0] << 4 | row[1]), uint8_t(row[2] << 4 | row[3]), uint8_t(row[4] << 4), 0xFF});
    }
    PcxFields s1x4 = s, s4x1 = s;
    s1x4.bitsPerPlane = 1, s1x4.planes = 4, s1x4.bytesPerLine = 2;
    s4x1.bitsPerPlane = 4, s4x1.bytesPerLine = 4;
    for (const Bytes& file : {BuildPcx(s1x4, planar), BuildPcx(s4x1, packed)}) {
        EXPECT_EQ(ReadPcx(file, 8).Data(10), Bytes(&want[0][0], &want[0][0] + 10));
        EXPECT_EQ(ReadPcx(file, 24).Data(30), colours);
        const Bytes dib = ReadPcx(file, 24, IS_READ_DIB).Data(40 + 1024 + 5);
        ASSERT_EQ(dib.size(), 40u + 1024 + 5);
        EXPECT_EQ(Get16(dib, 14), 8u);  // widened to 8 bits
        EXPECT_EQ(Bytes(dib.begin() + 40 + 1024, dib.end()), Bytes(want[1], want[1] + 5));
    }

    // Four planes of 8 bits: only as a 32-bit DIB, B, G, R, A, top row last.
    PcxFields s32;
    s32.planes = 4, s32.width = 3, s32.height = 2;
    Bytes raw;
    for (uint32_t i = 0; i < 32; ++i) raw.push_back(static_cast<uint8_t>(i % 4 < 3 ? 0x40 * (i / 4 % 4) + 10 * (i / 16) + i % 4 : 0));
    const Bytes f32 = BuildPcx(s32, raw);
    uint32_t w, h, bits;
    EXPECT_TRUE(Dims(f32, &w, &h, &bits) && bits == 32) << bits;
    EXPECT_EQ(ReadPcx(f32, 24).error, uint32_t(IS_ERR_DEPTH));
    ReadResult d = ReadPcx(f32, 24, IS_READ_DIB);
    ASSERT_TRUE(d.buf) << d.error;
    EXPECT_EQ(ISGet16LE(d.buf.get() + 14), 32);
    EXPECT_EQ(IS40_GlobalSize(d.buf.get()), 40u + 12u * 2);
    EXPECT_EQ(Bytes(d.buf.get() + 60, d.buf.get() + 64), (Bytes{0x82, 0x42, 0x02, 0xC2}));

    // Palette sources: the tail after marker 12, else a grey ramp (no
    // marker, not version 5, or a file too short to hold one).
    PcxFields p, v3;
    p.width = v3.width = 2, v3.version = 3;
    Bytes tail(769), noMark;
    for (int i = 0; i < 769; ++i) tail[i] = static_cast<uint8_t>(i * 5 - 4);
    tail[0] = 0x0C, noMark = tail, noMark[0] = 0x0B;
    const Bytes grey = {7, 7, 7, 200, 200, 200};
    EXPECT_EQ(ReadPcx(BuildPcx(p, {7, 200}, tail), 24).Data(6), (Bytes{tail[22], tail[23], tail[24], tail[601], tail[602], tail[603]}));
    for (const Bytes& file : {BuildPcx(p, {7, 200}, noMark), BuildPcx(v3, {7, 200}, tail), BuildPcx(p, {7, 200})})
        EXPECT_EQ(ReadPcx(file, 24).Data(6), grey);
}

TEST(PcxRead, ScanLineDecoding) {
    PcxFields s;
    s.width = 3, s.height = 2, s.bytesPerLine = 6;  // wider than the picture: padding is skipped
    PcxFields raw = s, m, carry = s;
    raw.encoding = 0, raw.bytesPerLine = 4;  // bytes as they are, top bits or not
    m.bitsPerPlane = 1, m.width = 3, carry.bytesPerLine = 4;
    struct Case { const char* what; Bytes file; uint32_t depth; Bytes expected; } cases[] = {
        {"line padding", BuildPcx(s, {1, 2, 3, 0xC9, 0xFE, 0xFD, 4, 5, 6, 0, 0, 0}), 8, {1, 2, 3, 4, 5, 6}},
        // A run longer than its line continues on the next one; a run past the picture's end is cut off.
        {"runs across lines", Cat(PcxHeader(carry), {0xC6, 0x55, 0xFF, 0x66}), 8, {0x55, 0x55, 0x55, 0x55, 0x55, 0x66}},
        {"uncoded", BuildPcx(raw, {0xC3, 0xFF, 0x10, 0, 0xD0, 1, 2, 0}), 8, {0xC3, 0xFF, 0x10, 0xD0, 1, 2}},
        {"bits past the width", BuildPcx(m, {0xBF, 0xFF}), 1, {0xA0}},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadPcx(c.file, c.depth).Data(c.expected.size()), c.expected) << c.what;
}

TEST(PcxWrite, OneBitRoundTripsAndRunLengthCoding) {
    const Bytes two = {0, 0, 0, 0, 255, 255, 255, 0};
    auto bit = [](const uint8_t* row, uint32_t x) { return (row[x / 8] >> (7 - x % 8)) & 1; };
    for (uint32_t w : {1u, 9u, 131u}) {
        const uint32_t h = 3, stride = (w + 7) / 8;
        const Bytes img = Pattern(stride, h, 1, w + 1);
        const ReadResult r = ReadPcx(WritePcx(img.data(), w, h, 1, stride, two.data()), 1);
        ASSERT_TRUE(r.buf && r.width == w && r.height == h) << r.error;
        // Bits past the width are not part of the picture and must not leak.
        for (uint32_t i = 0; i < stride * 8 * h; ++i) {
            const uint32_t y = i / (stride * 8), x = i % (stride * 8);
            ASSERT_EQ(bit(r.buf.get() + y * stride, x), x < w && bit(&img[y * stride], x)) << w << ": " << i;
        }
    }
    // One flat row of 200 pixels: each plane is four runs (63, 63, 63, 11).
    const Bytes flat(200 * 3, 0xE7);
    const Bytes wr = WritePcx(flat.data(), 200, 1, 24, 600, nullptr);
    ASSERT_EQ(wr.size(), 128u + 3 * 8);
    EXPECT_EQ(Bytes(wr.begin() + 128, wr.begin() + 136), (Bytes{0xFF, 0xE7, 0xFF, 0xE7, 0xFF, 0xE7, 0xCB, 0xE7}));
    // Lone bytes with both top bits set go out as runs of one; padding is zero.
    const Bytes pal = PatternPalette(256, 0, 4), idx = {0xC5, 0x01, 0x3F};
    const Bytes w8 = WritePcx(idx.data(), 3, 1, 8, 3, pal.data());
    EXPECT_EQ(Bytes(w8.begin() + 128, w8.end() - 769), (Bytes{0xC1, 0xC5, 0x01, 0x3F, 0x00}));
}

TEST(PcxWrite, HeaderFieldsAndGreyFlag) {
    const uint32_t w = 5, h = 3;
    const Bytes rgb = Pattern(w, h, 3, 9);
    const ISResolution res{300.4, 72.0, 0};
    const Bytes plain = WritePcx(rgb.data(), w, h, 24, w * 3, nullptr, &res);
    ASSERT_EQ(IS40_GetLastError(), 0u);
    EXPECT_EQ(Bytes(plain.begin(), plain.begin() + 4), (Bytes{10, 5, 1, 8}));
    EXPECT_EQ(plain[65], 3);
    EXPECT_EQ(Get16(plain, 66), 6u);  // 5 rounded up to even
    uint32_t dw = 0, dh = 0, bits = 0;
    ISResolution got{-1, -1, 99};
    EXPECT_TRUE(Dims(plain, &dw, &dh, &bits, &got));
    EXPECT_EQ(std::to_string(dw) + " " + std::to_string(dh) + " " + std::to_string(bits), "5 3 24");
    EXPECT_TRUE(got.xRes == 300.0 && got.yRes == 72.0 && got.unit == 0) << got.xRes << " " << got.yRes;

    // Indexed files: the header palette holds the first 16 colours as R,
    // G, B; flag 1 marks grey; flag 4 reads rows bottom-up.
    const Bytes pal = PatternPalette(256, 0, 6), idx = Pattern(w, h, 1, 2);
    Bytes idxUp(idx.size());
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&idxUp[(h - 1 - y) * w], &idx[y * w], w);
    const Bytes i1 = WritePcx(idx.data(), w, h, 8, w, pal.data(), nullptr, 1);
    EXPECT_EQ(WritePcx(idxUp.data(), w, h, 8, w, pal.data(), nullptr, 1 | 4), i1);
    EXPECT_EQ(Get16(i1, 68) * 10 + Get16(WritePcx(idx.data(), w, h, 8, w, pal.data()), 68), 21u);
    EXPECT_EQ(Bytes(i1.begin() + 16, i1.begin() + 19), (Bytes{pal[2], pal[1], pal[0]}));
    EXPECT_EQ(Bytes(i1.begin() + 61, i1.begin() + 64), (Bytes{pal[62], pal[61], pal[60]}));
    const Bytes bits1 = Pattern(3, 1, 1), two = {0x10, 0x20, 0x30, 0, 0xA0, 0xB0, 0xC0, 0};
    const Bytes w1 = WritePcx(bits1.data(), 17, 1, 1, 3, two.data());
    EXPECT_EQ(Bytes(w1.begin() + 16, w1.begin() + 22), (Bytes{0x30, 0x20, 0x10, 0xC0, 0xB0, 0xA0}));
    EXPECT_EQ(Get16(w1, 66), 4u);  // 3 bytes rounded to even
    EXPECT_TRUE(Dims(w1, &dw, &dh, &bits) && bits == 1) << bits;
}
