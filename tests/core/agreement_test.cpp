// Files other programs write, decoded the way those programs show them.
#include "IS40.h"
#include "IS40exif.h"
#include "IS40pngtiff.h"
#include "testutil.h"

#include <zlib.h>

#include <cstring>

using namespace vstest;

namespace {

struct Decoded {
    ReadResult r;
    Bytes Pixels(uint32_t bytesPerPixel) const { return r.Data(size_t(r.width) * r.height * bytesPerPixel); }
};

using Reader = uint8_t* (*)(ISHANDLE, uint32_t*, uint32_t*, uint32_t, uint8_t*, uint32_t);

Decoded Decode(Reader read, const Bytes& file, uint32_t depth, uint32_t flags = 0) {
    Decoded d;
    d.r.buf = LibBuffer(WithMemorySource(
        file, [&](ISHANDLE s) { return read(s, &d.r.width, &d.r.height, depth, d.r.palette.data(), flags); }));
    d.r.error = IS40_GetLastError();
    return d;
}

uint8_t* ReadTiffFirstPage(ISHANDLE s, uint32_t* w, uint32_t* h, uint32_t depth, uint8_t* pal, uint32_t flags) {
    return IS40_ReadTIFF(s, w, h, depth, pal, 0, flags);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

Bytes PngWithChunkAfterHeader(Bytes png, const char* type, const Bytes& data) {
    Bytes chunk = {0, 0, 0, uint8_t(data.size())};
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uint32_t crc = crc32(0, chunk.data() + 4, uInt(chunk.size() - 4));
    for (int i = 3; i >= 0; --i) chunk.push_back(uint8_t(crc >> (8 * i)));
    png.insert(png.begin() + 33, chunk.begin(), chunk.end());  // signature 8 + IHDR 25
    return png;
}

uint8_t Over(uint32_t c, uint32_t a) { return uint8_t((c * a + 127) / 255); }

}  // namespace

// Translucent pixels are blended with the values as stored, as every viewer
// does, whatever gAMA or sRGB say; 16-bit samples scale plainly.
TEST(ReaderAgreement, PngAlphaIsBlendedOnStoredValues) {
    const Bytes rgba = {200, 100, 50, 128, 255, 255, 255, 64, 30, 60, 90, 255, 0, 255, 0, 0};
    const Bytes gamma = WriteToBytes("g.png", [&](ISHANDLE d) {
        return IS40_WritePNG(d, rgba.data(), 4, 1, 16, 8, 0, nullptr, 6, 0.45455, nullptr, IS_PNG_NO_TIME);
    });
    Bytes wide;  // the same picture in 16 bits, little-endian samples
    for (uint8_t v : rgba) wide.insert(wide.end(), {uint8_t(v * 257), uint8_t(v * 257 >> 8)});
    wide[4 * 2 * 2] = 0x34;  // one sample that is not a multiple of 257
    const Bytes srgb = PngWithChunkAfterHeader(WriteToBytes("s.png", [&](ISHANDLE d) {
        return IS40_WritePNG(d, wide.data(), 4, 1, 32, 16, 0, nullptr, 6, 0, nullptr, IS_PNG_NO_TIME);
    }), "sRGB", {0});
    Bytes expected;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        for (int c = 0; c < 3; ++c) expected.push_back(Over(rgba[i + c], rgba[i + 3]));
    }
    for (const Bytes* file : {&gamma, &srgb}) {
        Decoded d = Decode(IS40_ReadPNG, *file, 24);
        ASSERT_TRUE(d.r.buf) << d.r.error;
        const Bytes got = d.Pixels(3);
        for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(got[i], expected[i], 1) << i;
    }
}

// Grey TGA pictures of 16 bits are grey then alpha, coded or not.
TEST(ReaderAgreement, TgaGreyWithAlpha) {
    const Bytes head = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 16, 0x28};
    Bytes plain = head;
    plain.insert(plain.end(), {10, 255, 100, 128, 200, 0});
    Bytes coded = head;
    coded[2] = 11;
    coded.insert(coded.end(), {0x00, 10, 255, 0x81, 100, 128});  // one raw pixel, then a run of two
    const Bytes rgba[] = {{10, 10, 10, 255, 100, 100, 100, 128, 200, 200, 200, 0},
                          {10, 10, 10, 255, 100, 100, 100, 128, 100, 100, 100, 128}};
    for (int i = 0; i < 2; ++i) {
        const Bytes& file = i ? coded : plain;
        EXPECT_EQ(Decode(IS40_ReadTGA, file, 32).Pixels(4), rgba[i]) << i;
        Decoded rgb = Decode(IS40_ReadTGA, file, 24);
        EXPECT_EQ(rgb.Pixels(3), (Bytes{10, 10, 10, 100, 100, 100, rgba[i][8], rgba[i][8], rgba[i][8]})) << i;
        // A packed DIB keeps the alpha: 32 bits.
        Decoded dib = Decode(IS40_ReadTGA, file, 24, IS_READ_DIB);
        ASSERT_TRUE(dib.r.buf);
        EXPECT_EQ(dib.r.buf.get()[14], 32);
    }
}

// An index outside a TGA's colour map is opaque black.
TEST(ReaderAgreement, TgaIndexOutsideItsMapIsOpaqueBlack) {
    const Bytes file = {0, 1, 1, 0, 0, 1, 0, 24, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x20, 10, 20, 30, 0, 5};
    EXPECT_EQ(Decode(IS40_ReadTGA, file, 32).Pixels(4), (Bytes{30, 20, 10, 255, 0, 0, 0, 255}));
}

// Translucent TIFF pixels read without alpha come over black, as PNG's do.
TEST(ReaderAgreement, TiffTranslucentPixelsAt24BitsComeOverBlack) {
    const Bytes rgba = {200, 100, 50, 128, 10, 20, 30, 255};
    const Bytes tiff = WriteToBytes("a.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, rgba.data(), 2, 1, 32, 8, nullptr, 1, nullptr, 0); });
    const Bytes got = Decode(ReadTiffFirstPage, tiff, 24).Pixels(3);
    const Bytes want = {Over(200, 128), Over(100, 128), Over(50, 128), 10, 20, 30};
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(got[i], want[i], 1) << i;
}

// Pixels an RLE picture skips show colour 0, like every other reader.
TEST(ReaderAgreement, BmpRlePixelsSkippedShowColourZero) {
    Bytes file = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 0, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 0, 8, 0, 1, 0, 0, 0};
    file.resize(14 + 40, 0);
    file[46] = 2;  // colours used
    file.insert(file.end(), {30, 20, 10, 0, 50, 100, 200, 0});
    Put32(file, 10, uint32_t(file.size()));
    // Bottom row: 1, skip two, 1, end of line; the top row ends the bitmap at once.
    file.insert(file.end(), {1, 1, 0, 2, 2, 0, 1, 1, 0, 0, 0, 1});
    const Bytes zero = {10, 20, 30}, one = {200, 100, 50};
    Bytes expected;
    for (const Bytes* p : {&zero, &zero, &zero, &zero, &one, &zero, &zero, &one}) expected.insert(expected.end(), p->begin(), p->end());
    Decoded d = Decode(IS40_ReadBMP, file, 24);
    EXPECT_EQ(d.r.error, 0u);
    EXPECT_EQ(d.Pixels(3), expected);
}

// Bit-field pictures take alpha from an alpha mask, and are opaque without one.
TEST(ReaderAgreement, BmpBitFieldAlphaComesFromItsMask) {
    struct Case { uint32_t bits, alphaMask; Bytes pixels, rgba; } cases[] = {
        {32, 0, {10, 20, 30, 0x40, 40, 50, 60, 0x80}, {30, 20, 10, 255, 60, 50, 40, 255}},
        {32, 0xFF000000, {10, 20, 30, 0x40, 40, 50, 60, 0x80}, {30, 20, 10, 0x40, 60, 50, 40, 0x80}},
        // 1-5-5-5 with a one-bit alpha: white opaque, red clear.
        {16, 0x8000, {0xFF, 0xFF, 0x00, 0x7C}, {248, 248, 248, 255, 248, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Bytes file(14 + 108, 0);
        file[0] = 'B', file[1] = 'M';
        Put32(file, 10, 14 + 108);
        Put32(file, 14, 108);
        Put32(file, 18, 2);
        Put32(file, 22, 1);
        file[26] = 1, file[28] = uint8_t(c.bits), file[30] = 3;  // planes, bits, bit fields
        const uint32_t masks[3][2] = {{0x00FF0000, 0x7C00}, {0x0000FF00, 0x03E0}, {0x000000FF, 0x001F}};
        for (int i = 0; i < 3; ++i) Put32(file, 54 + 4 * i, masks[i][c.bits == 16]);
        Put32(file, 66, c.alphaMask);
        file.insert(file.end(), c.pixels.begin(), c.pixels.end());
        EXPECT_EQ(Decode(IS40_ReadBMP, file, 32).Pixels(4), c.rgba) << c.bits << " " << c.alphaMask;
    }
}

// A 256-colour PCX whose palette is cut off is refused, not shown in
// invented colours; a grey one needs none. A 1-bit PCX reads back in the
// colours it was written with.
TEST(ReaderAgreement, PcxPalettes) {
    const Bytes indexes = {0, 1, 2, 3};
    Bytes palette(1024, 0);
    for (int i = 0; i < 256; ++i) palette[4 * i] = uint8_t(255 - i), palette[4 * i + 2] = uint8_t(i);
    for (uint32_t grey : {0u, 1u}) {
        Bytes file = WriteToBytes("p.pcx", [&](ISHANDLE d) {
            return IS40_WritePCX(d, indexes.data(), 4, 1, 8, 4, palette.data(), nullptr, grey);
        });
        EXPECT_TRUE(Decode(IS40_ReadPCX, file, 24).r.buf);
        file.resize(file.size() - 500);
        Decoded cut = Decode(IS40_ReadPCX, file, 24);
        EXPECT_EQ(bool(cut.r.buf), grey == 1);
        EXPECT_EQ(cut.r.error, grey ? 0u : uint32_t(IS_ERR_PALETTE));
    }
    const Bytes bits = {0x50};  // 0 1 0 1 0 0 0 0
    const Bytes whiteFirst = {255, 255, 255, 0, 0, 0, 128, 0};
    const Bytes file = WriteToBytes("m.pcx", [&](ISHANDLE d) {
        return IS40_WritePCX(d, bits.data(), 4, 1, 1, 1, whiteFirst.data(), nullptr, 0);
    });
    EXPECT_EQ(Decode(IS40_ReadPCX, file, 24).Pixels(3), (Bytes{255, 255, 255, 128, 0, 0, 255, 255, 255, 128, 0, 0}));
    // An empty header palette (both entries alike) means black and white.
    const Bytes empty(8, 0);
    const Bytes plain = WriteToBytes("e.pcx", [&](ISHANDLE d) {
        return IS40_WritePCX(d, bits.data(), 4, 1, 1, 1, empty.data(), nullptr, 0);
    });
    Decoded mono = Decode(IS40_ReadPCX, plain, 1);
    EXPECT_EQ(Bytes(mono.r.palette.begin(), mono.r.palette.begin() + 8), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));
    EXPECT_EQ(Decode(IS40_ReadPCX, plain, 24).Pixels(3), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255}));
}

// A fax strip that ends early decodes with a warning only: its rows are
// shown, as libtiff's own tools show them. A libtiff error still refuses.
TEST(ReaderAgreement, TiffDecodedWithWarningsOnly) {
    const uint32_t w = 64, h = 32;
    Bytes bits(w / 8 * h);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t((i / 8) & 1 ? 0xF0 : 0x3C);
    const Bytes bw = {0, 0, 0, 0, 255, 255, 255, 0};
    Bytes fax = WriteToBytes("f.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, bits.data(), w, h, 1, w / 8, bw.data(), 3, nullptr, 0); });
    ASSERT_FALSE(fax.empty());
    Decoded whole = Decode(ReadTiffFirstPage, fax, 24);
    ASSERT_TRUE(whole.r.buf);
    uint32_t type = 0;
    const size_t count = TiffValueAt(fax, 279, &type);
    const uint32_t stored = type == 3 ? Get16(fax, count) : Get32(fax, count);
    for (uint32_t depth : {24u, 1u}) {
        Bytes cut = fax;
        if (type == 3) cut[count] = uint8_t(stored / 2), cut[count + 1] = uint8_t(stored / 2 >> 8);
        else Put32(cut, count, stored / 2);
        Decoded d = Decode(ReadTiffFirstPage, cut, depth);
        ASSERT_TRUE(d.r.buf) << depth << ": error " << d.r.error;
        const size_t row = depth == 24 ? w * 3 : w / 8;
        EXPECT_EQ(d.r.Data(row), depth == 24 ? whole.r.Data(row) : Bytes(bits.begin(), bits.begin() + row));
        // Data missing from the file is an error, not a warning.
        Bytes shortFile = fax;
        shortFile.resize(fax.size() / 2);
        EXPECT_FALSE(Decode(ReadTiffFirstPage, shortFile, depth).r.buf);
    }
}

// A TIFF page keeps its Orientation in its own directory; no EXIF IFD is needed.
TEST(ReaderAgreement, TiffOrientationWithoutExifDirectory) {
    const Bytes px = Pattern(3, 2, 3);
    Bytes tiff = WriteToBytes("o.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, px.data(), 3, 2, 24, 9, nullptr, 1, nullptr, 0); });
    uint32_t type = 0;
    tiff[TiffValueAt(tiff, 274, &type)] = 6;
    ISHANDLE source = IS40_OpenMemorySource(tiff.data(), uint32_t(tiff.size()));
    ISEXIFREADER reader = IS40_EXIFCreateReader(source, 0, 0);
    ASSERT_TRUE(reader);
    char* text = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(IS40_EXIFGetString(reader, 274, IS_EXIF_LIST_STANDARD, &text, &length));
    EXPECT_STREQ(text, "6");
    IS40_GlobalFree(text);
    IS40_EXIFDestroyReader(reader);
    IS40_CloseSource(source);
}
