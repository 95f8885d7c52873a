// Files other programs write, decoded the way those programs show them, and the layouts every reader shares.
#include "codec/IS40.h"
#include "codec/IS40jpeg.h"
#include "codec/IS40pngtiff.h"
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <cstring>
#include <utility>

using namespace vstest;

namespace {

// The pixels of a successful read, `bytes` bytes a pixel.
Bytes Pixels(FormatReader read, const Bytes& file, uint32_t depth, uint32_t bytes) {
    const ReadResult r = ReadWith(read, file, depth);
    return r.Data(size_t(r.width) * r.height * bytes);
}

uint8_t* ReadJpg(ISHANDLE s, uint32_t* w, uint32_t* h, uint32_t depth, uint8_t*, uint32_t flags) {
    return IS40_ReadJPG(s, w, h, depth, flags);
}

}  // namespace

// Translucent pixels read without alpha come over black, blended with the values as stored, as every viewer does,
// whatever gAMA or sRGB say; 16-bit samples scale plainly. TIFF's premultiplied samples come out the same.
TEST(ReaderAgreement, TranslucentPixelsComeOverBlackAndTiffWarningsStayWarnings) {
    const Bytes rgba = {200, 100, 50, 128, 255, 255, 255, 64, 30, 60, 90, 255, 0, 255, 0, 0};
    const Bytes gamma = WriteToBytes("g.png", [&](ISHANDLE d) {
        return IS40_WritePNG(d, rgba.data(), 4, 1, 16, 8, 0, nullptr, 6, 0.45455, nullptr, IS_PNG_NO_TIME);
    });
    Bytes wide;  // the same picture in 16 bits, little-endian samples
    for (uint8_t v : rgba) wide.insert(wide.end(), {uint8_t(v * 257), uint8_t(v * 257 >> 8)});
    wide[4 * 2 * 2] = 0x34;  // one sample that is not a multiple of 257
    Bytes srgb = WriteToBytes("s.png", [&](ISHANDLE d) {
        return IS40_WritePNG(d, wide.data(), 4, 1, 32, 16, 0, nullptr, 6, 0, nullptr, IS_PNG_NO_TIME);
    });
    // An sRGB chunk (intent 0, then its CRC) right after the signature and IHDR.
    srgb.insert(srgb.begin() + 8 + 25, {0, 0, 0, 1, 's', 'R', 'G', 'B', 0, 0xAE, 0xCE, 0x1C, 0xE9});
    const Bytes tiff = WriteToBytes("a.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, rgba.data(), 4, 1, 32, 16, nullptr, 1, nullptr, 0); });
    Bytes expected;
    for (size_t i = 0; i < rgba.size(); ++i)
        if (i % 4 < 3) expected.push_back(uint8_t((rgba[i] * rgba[i | 3] + 127) / 255));
    for (const auto& [read, file] : {std::pair(IS40_ReadPNG, &gamma), std::pair(IS40_ReadPNG, &std::as_const(srgb)), std::pair(ISReadTIFFFirstPage, &tiff)})
        EXPECT_LE(MaxDiff(Pixels(read, *file, 24, 3), expected), 1) << "file of " << file->size() << " bytes";
    // A fax strip that ends early decodes with a warning only: its rows are
    // shown, as libtiff's own tools show them. A libtiff error still refuses.
    const uint32_t w = 64, h = 32;
    Bytes bits(w / 8 * h);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = uint8_t((i / 8) & 1 ? 0xF0 : 0x3C);
    const Bytes bw = {0, 0, 0, 0, 255, 255, 255, 0};
    Bytes fax = WriteToBytes("f.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, bits.data(), w, h, 1, w / 8, bw.data(), 3, nullptr, 0); });
    const ReadResult whole = ReadWith(ISReadTIFFFirstPage, fax, 24);
    uint32_t type = 0;
    const size_t count = TiffValueAt(fax, 279, &type);
    const uint32_t stored = type == 3 ? Get16(fax, count) : Get32(fax, count);
    Bytes cut = fax;
    if (type == 3) ISPut16LE(&cut[count], static_cast<uint16_t>(stored / 2));
    else ISPut32LE(&cut[count], stored / 2);
    for (uint32_t depth : {24u, 1u}) {
        const ReadResult d = ReadWith(ISReadTIFFFirstPage, cut, depth);
        ASSERT_TRUE(d.buf) << depth << ": error " << d.error;
        const size_t row = depth == 24 ? w * 3 : w / 8;
        EXPECT_EQ(d.Data(row), depth == 24 ? whole.Data(row) : Bytes(bits.begin(), bits.begin() + row));
        // Data missing from the file is an error, not a warning.
        EXPECT_FALSE(ReadWith(ISReadTIFFFirstPage, Bytes(fax.begin(), fax.begin() + fax.size() / 2), depth).buf);
    }
}

// A 256-colour PCX whose palette is cut off is refused, not shown in invented colours; a grey one needs none. A 1-bit
// PCX reads back in the colours it was written with.
TEST(ReaderAgreement, PcxPalettes) {
    const Bytes indexes = {0, 1, 2, 3};
    Bytes palette(1024, 0);
    for (int i = 0; i < 256; ++i) palette[4 * i] = uint8_t(255 - i), palette[4 * i + 2] = uint8_t(i);
    for (uint32_t grey : {0u, 1u}) {
        Bytes file = WriteToBytes("p.pcx", [&](ISHANDLE d) {
            return IS40_WritePCX(d, indexes.data(), 4, 1, 8, 4, palette.data(), nullptr, grey);
        });
        file.resize(file.size() - 500);
        const ReadResult cut = ReadWith(IS40_ReadPCX, file, 24);
        EXPECT_EQ(bool(cut.buf), grey == 1);
        EXPECT_EQ(cut.error, grey ? 0u : uint32_t(IS_ERR_PALETTE));
    }
    // An empty header palette (both entries alike) means black and white.
    const Bytes bits = {0x50}, whiteFirst = {255, 255, 255, 0, 0, 0, 128, 0}, empty(8, 0);  // 0 1 0 1
    auto write = [&](const Bytes& two) {
        return WriteToBytes("m.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, bits.data(), 4, 1, 1, 1, two.data(), nullptr, 0); });
    };
    EXPECT_EQ(Pixels(IS40_ReadPCX, write(whiteFirst), 24, 3), (Bytes{255, 255, 255, 128, 0, 0, 255, 255, 255, 128, 0, 0}));
    const Bytes plain = write(empty);
    const ReadResult mono = ReadWith(IS40_ReadPCX, plain, 1);
    EXPECT_EQ(Bytes(mono.palette.begin(), mono.palette.begin() + 8), (Bytes{0, 0, 0, 0, 255, 255, 255, 0}));
    EXPECT_EQ(Pixels(IS40_ReadPCX, plain, 24, 3), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 255, 255}));
}

// B, G, R rows padded to 4 bytes, and packed DIBs: bottom-up, the resolution in pixels per metre, indexes with their
// colour table; both hold the picture the plain 24-bit read gives.
TEST(ReaderAgreement, PaddedRowsAndPackedDibs) {
    const uint32_t w = 3, h = 2, row = 12, any = ~0u;
    const Bytes rgb = Pattern(w, h, 3, 14), rgba = Pattern(w, h, 4, 5), grey = Pattern(w, h, 1, 6), cmyk = Pattern(w, h, 4, 7);
    const Bytes idx = {1, 2, 3, 4, 5, 6}, nibbles = {0x12, 0x30, 0x45, 0x60}, bits = {0xA0, 0x40};
    const Bytes pal = PatternPalette(256, 0), two = {0, 0, 0, 0, 255, 255, 255, 0};
    const ISResolution bmpRes{2835, 3780, 2}, pcxRes{96, 200, 0}, pngRes{3780, 2835, 1}, tiffInch{95.998, 300, 2}, tiffCm{100, 50, 3},
                       jpgInch{300, 200, 1}, jpgCm{40, 20, 2};
    using W = std::function<uint32_t(ISHANDLE)>;
    const Bytes bmp = WriteToBytes("a.bmp", W([&](ISHANDLE d) { return IS40_WriteBMP(d, rgb.data(), w, h, 24, w * 3, 0, nullptr, &bmpRes, 0); }));
    struct Case { const char* what; FormatReader read; Bytes file; uint32_t depth, bits, xPpm, yPpm; } cases[] = {
        {"BMP", IS40_ReadBMP, bmp, 24, 24, 2835, 3780},
        {"BMP at 32", IS40_ReadBMP, bmp, 32, 32, 2835, 3780},
        {"BMP of 4 bits", IS40_ReadBMP, WriteToBytes("b.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, nibbles.data(), w, h, 4, 2, 16, pal.data(), nullptr, 0); }), 8, 8, any, any},
        {"TGA", IS40_ReadTGA, WriteToBytes("a.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, rgb.data(), w, h, 24, w * 3, nullptr, 0, 0); }), 24, 24, any, any},
        {"TGA of 32 bits", IS40_ReadTGA, WriteToBytes("b.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, rgba.data(), w, h, 32, w * 4, nullptr, 0, 0); }), 24, 32, any, any},
        {"PCX", IS40_ReadPCX, WriteToBytes("a.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, rgb.data(), w, h, 24, w * 3, nullptr, &pcxRes, 0); }), 24, 24, 3780, 7874},
        {"PCX of 8 bits", IS40_ReadPCX, WriteToBytes("b.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, idx.data(), w, h, 8, w, pal.data(), nullptr, 0); }), 24, 8, any, any},
        {"PCX of 1 bit", IS40_ReadPCX, WriteToBytes("c.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, bits.data(), w, h, 1, 1, two.data(), nullptr, 0); }), 24, 1, any, any},
        {"PNG", IS40_ReadPNG, WriteToBytes("a.png", [&](ISHANDLE d) { return IS40_WritePNG(d, rgb.data(), w, h, w * 3, 8, 0, nullptr, 2, 0, &pngRes, 0); }), 24, 24, 3780, 2835},
        {"PNG of indexes", IS40_ReadPNG, WriteToBytes("b.png", [&](ISHANDLE d) { return IS40_WritePNG(d, idx.data(), w, h, w, 8, 16, pal.data(), 3, 0, nullptr, 0); }), 8, 8, 0, 0},
        {"TIFF", ISReadTIFFFirstPage, WriteToBytes("a.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, rgb.data(), w, h, 24, w * 3, nullptr, 1, &tiffInch, 0); }), 24, 24, 3779, 11811},
        {"TIFF of indexes", ISReadTIFFFirstPage, WriteToBytes("b.tif", [&](ISHANDLE d) { return IS40_WriteTIFF(d, idx.data(), w, h, 8, w, pal.data(), 1, &tiffCm, 0); }), 8, 8, 10000, 5000},
        {"JPEG", ReadJpg, WriteToBytes("a.jpg", [&](ISHANDLE d) { return IS40_WriteJPG(d, rgb.data(), w, h, 24, w * 3, 90, &jpgInch, 0); }), 24, 24, 11811, 7874},
        // Grey: 8 bits with a grey table whatever depth was asked for.
        {"JPEG of grey", ReadJpg, WriteToBytes("b.jpg", [&](ISHANDLE d) { return IS40_WriteJPG(d, grey.data(), w, h, 8, w, 90, &jpgCm, 0); }), 24, 8, 4000, 2000},
        // Four components: converted to 24 bits; no unit gives no resolution.
        {"JPEG of CMYK", ReadJpg, WriteToBytes("c.jpg", [&](ISHANDLE d) { return IS40_WriteJPG(d, cmyk.data(), w, h, 32, w * 4, 90, nullptr, 0); }), 32, 24, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ReadResult plain = ReadWith(c.read, c.file, 24), padded = ReadWith(c.read, c.file, 24, IS_READ_PAD_BGR),
                         dib = ReadWith(c.read, c.file, c.depth, IS_READ_DIB);
        ASSERT_TRUE(plain.buf && padded.buf && dib.buf) << plain.error << " " << padded.error << " " << dib.error;
        const Bytes ref = plain.Data(w * h * 3);
        Bytes rows(row * h, 0);
        for (uint32_t i = 0; i < w * h * 3; ++i) rows[i / 9 * row + i % 9] = ref[i - i % 3 + 2 - i % 3];
        EXPECT_EQ(IS40_GlobalSize(padded.buf.get()), row * h);
        EXPECT_EQ(padded.Data(row * h), rows);
        const uint32_t stride = (w * c.bits + 31) / 32 * 4, colours = c.bits <= 8 ? 1u << c.bits : 0;
        EXPECT_EQ(IS40_GlobalSize(dib.buf.get()), 40 + 4 * colours + stride * h);
        const Bytes head = dib.Data(40);
        EXPECT_EQ((std::vector<uint32_t>{Get32(head, 0), Get32(head, 4), Get32(head, 8), Get16(head, 12), Get16(head, 14),
                                         Get32(head, 16), Get32(head, 20), Get32(head, 32)}),
                  (std::vector<uint32_t>{40, w, h, 1, c.bits, 0, stride * h, colours}));
        // The grey table of a grey JPEG is opaque.
        if (c.read == ReadJpg && c.bits == 8) { EXPECT_EQ(Get32(dib.Data(44 + 4 * 255), 40 + 4 * 255), 0xFFFFFFFFu); }
        if (c.xPpm != any) { EXPECT_EQ(Get32(head, 24) * 100000ull + Get32(head, 28), c.xPpm * 100000ull + c.yPpm); }
        EXPECT_EQ(DibPixels(dib.buf.get()), ref);
    }
}

// Every writer takes rows bottom-up (flag 4), pixels B, G, R (flag 8) and
// rows longer than the picture, and writes the same file.
TEST(WriterAgreement, RowOrderPixelOrderAndStride) {
    const uint32_t w = 7, h = 5, stride = w * 3 + 5;
    const Bytes rgb = Pattern(w, h, 3, 11);
    using Writer = std::function<uint32_t(ISHANDLE, const uint8_t*, uint32_t, uint32_t)>;
    const struct { const char* what; Writer write; size_t compared; } writers[] = {
        {"BMP", [&](ISHANDLE d, const uint8_t* p, uint32_t s, uint32_t f) { return IS40_WriteBMP(d, p, w, h, 24, s, 0, nullptr, nullptr, f); }, 0},
        // The TGA's date stamp after the pixels may differ.
        {"TGA", [&](ISHANDLE d, const uint8_t* p, uint32_t s, uint32_t f) { return IS40_WriteTGA(d, p, w, h, 24, s, nullptr, 0, f); }, 18 + w * h * 3},
        {"PCX", [&](ISHANDLE d, const uint8_t* p, uint32_t s, uint32_t f) { return IS40_WritePCX(d, p, w, h, 24, s, nullptr, nullptr, f); }, 0},
        {"PNG", [&](ISHANDLE d, const uint8_t* p, uint32_t s, uint32_t f) {
             return IS40_WritePNG(d, p, w, h, s, 8, 0, nullptr, 2, 0, nullptr, f | IS_PNG_NO_TIME);
         }, 0},
        {"JPEG", [&](ISHANDLE d, const uint8_t* p, uint32_t s, uint32_t f) { return IS40_WriteJPG(d, p, w, h, 24, s, 90, nullptr, f); }, 0},
    };
    for (const auto& wr : writers) {
        Bytes plain = WriteToBytes("plain", [&](ISHANDLE d) { return wr.write(d, rgb.data(), w * 3, 0); });
        ASSERT_GT(plain.size(), wr.compared);
        if (wr.compared) plain.resize(wr.compared);
        for (uint32_t flags : {4u, 8u, 12u}) {
            Bytes rows(size_t(stride) * h, 0xEE);
            for (uint32_t i = 0; i < w * h * 3; ++i) {
                const uint32_t y = i / 3 / w, at = (flags & 4) ? h - 1 - y : y, c = (flags & 8) ? 2 - i % 3 : i % 3;
                rows[at * stride + i / 3 % w * 3 + c] = rgb[i];
            }
            Bytes file = WriteToBytes("bent", [&](ISHANDLE d) { return wr.write(d, rows.data(), stride, flags); });
            if (wr.compared) file.resize(wr.compared);
            EXPECT_EQ(file, plain) << wr.what << " flags " << flags;
        }
    }
}

// Files ImageMagick writes, in each variant of each format it writes, read here as it decodes them itself (turned by
// their orientation tag); palette files also through their palette at 8 bits.
TEST(ReaderAgreement, ImageMagickFilesReadAsItShowsThem) {
    REQUIRE_MAGICK();
    const uint32_t w = 37, h = 23;
    const Bytes rgb = Pattern(w, h, 3, 6), rgba = PatternRgba(w, h, 5);
    // 64 colours, so that palette files keep every one; with alpha, some of them transparent.
    Bytes few(rgb.size()), fewAlpha;
    for (size_t i = 0; i < few.size(); ++i) few[i] = static_cast<uint8_t>((rgb[i] & 0xC0) | 0x15);
    for (size_t i = 0; i < few.size(); i += 3) fewAlpha.insert(fewAlpha.end(), {few[i], few[i + 1], few[i + 2], uint8_t(i % 15 ? 255 : 0)});
    // slack: largest difference; -1: colour stored premultiplied, so its error grows as alpha shrinks; -2: lossy, a
    // mean difference below 2. The reader is the one of the name's extension.
    struct Case { const Bytes& src; const char *options, *format, *name; int slack; bool indexed = false; } cases[] = {
        {rgb, "", "BMP3", "24.bmp", 0}, {few, "-type Palette -compress None", "BMP3", "8.bmp", 0, true},
        {few, "-type Palette -compress RLE", "BMP3", "rle.bmp", 0, true},
        {few, "-colors 16 -type Palette -compress None", "BMP3", "4.bmp", 0, true},
        {rgb, "-type Bilevel", "BMP3", "1.bmp", 0, true}, {rgba, "-define bmp3:alpha=true", "BMP3", "32.bmp", 0},
        {rgb, "", "BMP2", "os2.bmp", 0}, {rgb, "-type TrueColor", "BMP", "v5.bmp", 0}, {rgba, "", "BMP", "v5a.bmp", 0},
        {rgb, "", "", "24.tga", 0}, {rgb, "-compress RLE", "", "rle.tga", 0}, {rgba, "", "", "32.tga", 0},
        {rgba, "-compress RLE", "", "rle32.tga", 0}, {few, "-type Palette", "", "8.tga", 0, true},
        {few, "-type Palette -compress RLE", "", "rle8.tga", 0, true},
        {rgb, "-type Grayscale", "", "grey.tga", 0, true},
        {rgb, "-type Grayscale -compress RLE", "", "rlegrey.tga", 0, true},
        {rgb, "", "", "24.pcx", 0}, {few, "-type Palette", "", "8.pcx", 0, true},
        {rgb, "-colorspace Gray -define png:color-type=0", "", "grey.png", 1},
        {rgb, "-colorspace Gray -threshold 50% -define png:bit-depth=1 -define png:color-type=0", "", "grey1.png", 1},
        {rgb, "-colorspace Gray -depth 16 -define png:color-type=0", "", "grey16.png", 1},
        {rgb, "-colors 50", "PNG8", "palette.png", 1}, {fewAlpha, "", "PNG8", "paltrns.png", 1},
        {rgb, "", "PNG24", "rgb.png", 1}, {rgba, "", "PNG32", "rgba.png", 1},
        {rgb, "-depth 16", "PNG48", "rgb16.png", 1}, {rgba, "-depth 16", "PNG64", "rgba16.png", 1},
        {rgba, "-interlace PNG", "PNG32", "laced.png", 1},
        {rgba, "-colorspace Gray -define png:color-type=4", "", "ga.png", 1},
        {rgb, "-compress None", "", "rgb.tif", 1}, {rgb, "-compress LZW", "", "lzw.tif", 1},
        {rgba, "-compress LZW", "", "rgba.tif", -1}, {rgb, "-colors 40 -type Palette", "", "pal.tif", 1, true},
        {rgb, "-type Grayscale -compress Zip", "", "grey.tif", 1},
        {rgb, "-threshold 50% -type Bilevel -compress Group4", "", "g4.tif", 1}, {rgb, "-depth 16", "", "rgb16.tif", 1},
        {rgb, "-define tiff:tile-geometry=16x16 -compress LZW", "", "tiled.tif", 1},
        {rgb, "-orient RightTop", "", "or6.tif", 1}, {rgb, "-orient BottomRight", "", "or3.tif", 1},
        {rgb, "-orient LeftBottom", "", "or8.tif", 1}, {rgb, "-compress JPEG -quality 90", "", "jpeg.tif", -2},
        {rgb, "-quality 90", "", "90.jpg", 2}, {rgb, "-quality 50", "", "50.jpg", 2},
        {rgb, "-quality 90 -sampling-factor 1x1", "", "444.jpg", 2},
        {rgb, "-quality 90 -interlace Plane", "", "progressive.jpg", 2},
        {rgb, "-colorspace Gray -quality 90", "", "grey.jpg", 2},
        {rgb, "-quality 90 -set comment hello", "", "comment.jpg", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ext = std::strrchr(c.name, '.');
        const FormatReader read = ext == ".bmp" ? IS40_ReadBMP : ext == ".tga" ? IS40_ReadTGA : ext == ".pcx" ? IS40_ReadPCX
                                : ext == ".png" ? IS40_ReadPNG : ext == ".tif" ? ISReadTIFFFirstPage : ReadJpg;
        const uint32_t channels = &c.src == &rgb || &c.src == &few ? 3 : 4;
        const std::string path = MagickConvert(c.src, w, h, channels, c.options, c.name, c.format);
        const Bytes file = ReadFileBytes(path), ref = MagickPixels(path, channels == 4 ? "rgba" : "rgb", "-auto-orient");
        const ReadResult r = ReadWith(read, file, channels * 8);
        const Bytes got = r.Data(ref.size());
        ASSERT_TRUE(got.size() == ref.size() && ref.size() == w * h * channels) << r.error;
        EXPECT_EQ(r.width * r.height, w * h);
        double total = 0;
        for (size_t i = 0; i < ref.size(); ++i) {
            // Colour under full transparency is not defined.
            const int a = channels == 4 ? ref[i | 3] : 255, diff = std::abs(got[i] - ref[i]);
            const int slack = channels == 3 || i % 4 == 3 ? std::max(c.slack, 0) : !a ? 255 : c.slack == -1 ? 255 / (2 * a) + 1 : c.slack;
            total += diff;
            if (c.slack != -2) { ASSERT_LE(diff, slack) << "byte " << i; }
        }
        if (c.slack == -2) { EXPECT_LT(total / ref.size(), 2.0); }
        if (c.indexed) {
            const ReadResult i8 = ReadWith(read, file, 8);
            ASSERT_TRUE(i8.buf) << i8.error;
            EXPECT_LE(MaxDiff(ThroughPalette(i8.buf.get(), w * h, i8.palette.data()), ref), c.slack);
        }
        // PNG alpha at 24 bits comes composited over black (or the file's own background).
        if (read == IS40_ReadPNG && channels == 4 && std::string(file.begin(), file.end()).find("bKGD") == std::string::npos) {
            EXPECT_LE(MaxDiff(ReadWith(read, file, 24).Data(w * h * 3), MagickPixels(path, "rgb", "-background black -alpha remove")), 2);
        }
    }
}

// Files written here show in ImageMagick as they were written.
TEST(WriterAgreement, ImageMagickShowsOurFiles) {
    REQUIRE_MAGICK();
    const uint32_t w = 37, h = 11;
    const Bytes pal = PatternPalette(256, 0, 8), bw = {0, 0, 0, 0, 255, 255, 255, 0}, rgb = Pattern(w, h, 3, 21), rgba = Pattern(w, h, 4, 12);
    // Indexes of 1, 4 and 8 bits, packed in rows of whole bytes, and their colours.
    Bytes packed[9], colours[9];
    for (uint32_t bits : {1u, 4u, 8u}) {
        const uint32_t stride = (w * bits + 7) / 8;
        packed[bits] = Pattern(stride, h, 1, 22 + bits);
        Bytes idx;
        for (uint32_t i = 0; i < w * h; ++i) {
            const uint32_t x = i % w * bits;
            idx.push_back((packed[bits][i / w * stride + x / 8] >> (8 - bits - x % 8)) & ((1 << bits) - 1));
        }
        colours[bits] = ThroughPalette(idx.data(), idx.size(), bits == 1 ? bw.data() : pal.data());
    }
    const uint8_t *idx = packed[8].data(), *bits1 = packed[1].data();
    using W = std::function<uint32_t(ISHANDLE)>;
    const struct { const char* name; W write; const Bytes& want; } cases[] = {
        {"1.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, bits1, w, h, 1, 5, 2, bw.data(), nullptr, 0); }, colours[1]},
        {"4.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, packed[4].data(), w, h, 4, 19, 16, pal.data(), nullptr, 0); }, colours[4]},
        {"8.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, idx, w, h, 8, w, 256, pal.data(), nullptr, 0); }, colours[8]},
        {"rle.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, idx, w, h, 8, w, 256, pal.data(), nullptr, 1); }, colours[8]},
        {"24.bmp", [&](ISHANDLE d) { return IS40_WriteBMP(d, rgb.data(), w, h, 24, w * 3, 0, nullptr, nullptr, 0); }, rgb},
        {"8.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, idx, w, h, 8, w, pal.data(), 0, 0); }, colours[8]},
        {"24.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, rgb.data(), w, h, 24, w * 3, nullptr, 0, 0); }, rgb},
        {"32.tga", [&](ISHANDLE d) { return IS40_WriteTGA(d, rgba.data(), w, h, 32, w * 4, nullptr, 0, 0); }, rgba},
        {"8.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, idx, w, h, 8, w, pal.data(), nullptr, 0); }, colours[8]},
        {"24.pcx", [&](ISHANDLE d) { return IS40_WritePCX(d, rgb.data(), w, h, 24, w * 3, nullptr, nullptr, 0); }, rgb},
    };
    for (const auto& c : cases) {
        WriteToBytes(c.name, c.write);
        EXPECT_EQ(MagickPixels(ScratchPath(c.name), &c.want == &rgba ? "rgba" : "rgb"), c.want) << c.name;
    }
}
