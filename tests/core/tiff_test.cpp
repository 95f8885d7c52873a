// TIFF reader, dimension query and writer.
#include "isframe.h"
#include "testutil.h"

#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vstest;

namespace {

// ---- files made with libtiff directly ------------------------------------------

struct RawPage {
    uint32_t w = 4, h = 3;
    uint16_t spp = 3, bps = 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t orientation = 0;  // 0: no tag
    Bytes data;                // contiguous scan lines
    std::vector<uint16_t> map;  // 3 x entries
    bool tiled = false;
    float xRes = 0, yRes = 0;
    uint16_t unit = 0;  // 0: no tag
};

Bytes MakeTiff(const std::vector<RawPage>& pages, const std::string& name = "made.tif") {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    std::string path = ScratchPath(name);
    TIFF* t = TIFFOpen(path.c_str(), "w");
    EXPECT_NE(t, nullptr);
    if (!t) return {};
    for (const RawPage& p : pages) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, p.w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, p.h);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, p.spp);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, p.bps);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, p.photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, p.compression);
        if (p.orientation) TIFFSetField(t, TIFFTAG_ORIENTATION, p.orientation);
        if (!p.map.empty()) {
            size_t n = p.map.size() / 3;
            TIFFSetField(t, TIFFTAG_COLORMAP, p.map.data(), p.map.data() + n, p.map.data() + 2 * n);
        }
        if (p.xRes > 0) {
            TIFFSetField(t, TIFFTAG_XRESOLUTION, p.xRes);
            TIFFSetField(t, TIFFTAG_YRESOLUTION, p.yRes);
        }
        if (p.unit) TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, p.unit);
        const size_t line = (static_cast<size_t>(p.w) * p.spp * p.bps + 7) / 8;
        if (p.tiled) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
            TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
            Bytes tile(TIFFTileSize(t), 0);
            const size_t tileRow = TIFFTileRowSize(t);
            for (uint32_t ty = 0; ty < p.h; ty += 16) {
                for (uint32_t tx = 0; tx < p.w; tx += 16) {
                    std::fill(tile.begin(), tile.end(), 0);
                    uint32_t cols = std::min<uint32_t>(16, p.w - tx);
                    for (uint32_t r = 0; r < 16 && ty + r < p.h; ++r) {
                        std::memcpy(&tile[r * tileRow], &p.data[(ty + r) * line + tx * p.spp * p.bps / 8],
                                    (cols * p.spp * p.bps + 7) / 8);
                    }
                    TIFFWriteEncodedTile(t, TIFFComputeTile(t, tx, ty, 0, 0), tile.data(), tile.size());
                }
            }
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2u);
            for (uint32_t y = 0; y < p.h; ++y) {
                Bytes row(p.data.begin() + static_cast<std::ptrdiff_t>(y * line),
                          p.data.begin() + static_cast<std::ptrdiff_t>((y + 1) * line));
                TIFFWriteScanline(t, row.data(), y, 0);
            }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return ReadFileBytes(path);
}

// A classic little-endian TIFF assembled entry by entry (for headers no
// writer would produce).
struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
};

Bytes BuildTiff(std::vector<Entry> entries, const Bytes& data) {
    Bytes out = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put16 = [&](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t dataAt = 8 + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    put16(static_cast<uint32_t>(entries.size()));
    for (Entry e : entries) {
        if (e.tag == 273 || e.tag == 324) e.value = dataAt;
        put16(e.tag);
        put16(e.type);
        put32(e.count);
        if (e.type == 3 && e.count == 1) {
            put16(e.value);
            put16(0);
        } else {
            put32(e.value);
        }
    }
    put32(0);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// ---- calls -----------------------------------------------------------------

ReadResult Read(const Bytes& file, uint32_t depth, uint32_t page = 0, uint32_t flags = 0, bool withPalette = true) {
    ReadResult r;
    WithMemorySource(file, [&](ISHANDLE h) {
        r.buf = LibBuffer(
            IS40_ReadTIFF(h, &r.width, &r.height, depth, withPalette ? r.palette.data() : nullptr, page, flags));
        r.error = IS40_GetLastError();
        return 0;
    });
    return r;
}

uint32_t ReadError(const Bytes& file, uint32_t depth, uint32_t page = 0, uint32_t flags = 0) {
    ReadResult r = Read(file, depth, page, flags);
    EXPECT_FALSE(r.buf);
    return r.error;
}

struct WriteArgs {
    uint32_t bitCount = 24;
    uint32_t compression = 1;
    const uint8_t* palette = nullptr;
    const ISResolution* res = nullptr;
    uint32_t flags = 0;
    uint32_t stride = 0;
};

Bytes Write(const Bytes& image, uint32_t w, uint32_t h, const WriteArgs& a, uint32_t* returned = nullptr,
            uint32_t* error = nullptr, const std::string& name = "out.tif") {
    uint32_t stride = a.stride ? a.stride : (w * a.bitCount + 7) / 8;
    return WriteToBytes(name, [&](ISHANDLE d) {
        uint32_t r = IS40_WriteTIFF(d, image.data(), w, h, a.bitCount, stride, a.palette, a.compression, a.res, a.flags);
        if (error) *error = IS40_GetLastError();
        return r;
    }, returned);
}

// Opens bytes with libtiff for tag checks.
struct TagReader {
    TIFF* t = nullptr;
    explicit TagReader(const Bytes& file) {
        std::string path = ScratchPath("tags.tif");
        WriteFileBytes(path, file);
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
        t = TIFFOpen(path.c_str(), "r");
    }
    ~TagReader() {
        if (t) TIFFClose(t);
    }
    uint32_t U16(uint32_t tag) {
        uint16_t v = 0;
        return TIFFGetField(t, tag, &v) ? v : 0xFFFFFFFFu;
    }
    uint32_t U32(uint32_t tag) {
        uint32_t v = 0;
        return TIFFGetField(t, tag, &v) ? v : 0xFFFFFFFFu;
    }
    Bytes Block(uint32_t tag) {
        uint32_t n = 0;
        void* p = nullptr;
        if (!TIFFGetField(t, tag, &n, &p) || !p) return {};
        return Bytes(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + n);
    }
};

int MaxDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1 << 20;
    int m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
    return m;
}

double MeanDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double s = 0;
    for (size_t i = 0; i < a.size(); ++i) s += std::abs(int(a[i]) - int(b[i]));
    return s / a.size();
}

// Straight RGBA compared with a copy that went through premultiplied
// storage: the colour error grows as alpha shrinks.
void ExpectRgbaClose(const Bytes& got, const Bytes& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (size_t i = 0; i < got.size(); i += 4) {
        const int a = want[i + 3];
        ASSERT_EQ(got[i + 3], a) << what << " pixel " << i / 4;
        if (a == 0) continue;
        const int tolerance = 255 / (2 * a) + 1;
        for (int c = 0; c < 3; ++c) {
            ASSERT_LE(std::abs(int(got[i + c]) - int(want[i + c])), tolerance) << what << " pixel " << i / 4;
        }
    }
}

Bytes Rgba(uint32_t w, uint32_t h, uint32_t seed = 1) {
    Bytes p = Pattern(w, h, 4, seed);
    static const uint8_t levels[] = {255, 0, 128, 255, 64, 200, 255, 30};
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) p[4 * i + 3] = levels[i % 8];
    return p;
}

Bytes Palette(uint32_t n, uint32_t seed = 5) {
    Bytes t = Pattern(n, 1, 4, seed);
    for (uint32_t i = 0; i < n; ++i) t[4 * i + 3] = 0;
    return t;
}

Bytes Smooth(uint32_t w, uint32_t h) {
    Bytes p(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* q = &p[(y * w + x) * 3];
            q[0] = static_cast<uint8_t>(x * 255 / (w - 1));
            q[1] = static_cast<uint8_t>(y * 255 / (h - 1));
            q[2] = static_cast<uint8_t>(128 + 60 * std::sin(x / 7.0));
        }
    }
    return p;
}

// Where stored pixel (r, c) of a w x h picture shows on screen for each
// Orientation value (TIFF 6.0).
void VisualPosition(uint32_t o, uint32_t w, uint32_t h, uint32_t r, uint32_t c, uint32_t* x, uint32_t* y) {
    switch (o) {
        case 2: *x = w - 1 - c; *y = r; break;
        case 3: *x = w - 1 - c; *y = h - 1 - r; break;
        case 4: *x = c; *y = h - 1 - r; break;
        case 5: *x = r; *y = c; break;
        case 6: *x = h - 1 - r; *y = c; break;
        case 7: *x = h - 1 - r; *y = w - 1 - c; break;
        case 8: *x = r; *y = w - 1 - c; break;
        default: *x = c; *y = r; break;
    }
}

}  // namespace

// ---- round trips ---------------------------------------------------------------

TEST(TiffRoundTrip, IndexedGreyAndCmyk) {
    const uint32_t w = 21, h = 13;
    Bytes pal = Palette(256);
    Bytes idx = Pattern(w, h, 1, 7);
    for (uint32_t compression : {1u, 5u, 8u, 32773u}) {
        for (uint32_t tiles : {0u, 0x80u}) {
            WriteArgs a;
            a.bitCount = 8;
            a.palette = pal.data();
            a.compression = compression;
            a.flags = tiles;
            Bytes file = Write(idx, w, h, a);
            ReadResult r = Read(file, 8);
            ASSERT_TRUE(r.buf) << r.error;
            EXPECT_EQ(r.Data(idx.size()), idx);
            EXPECT_EQ(Bytes(r.palette.begin(), r.palette.begin() + 1024), pal);
            r = Read(file, 24);
            ASSERT_TRUE(r.buf);
            for (size_t i = 0; i < idx.size(); ++i) {
                ASSERT_EQ(r.buf.get()[3 * i], pal[4 * idx[i] + 2]);
                ASSERT_EQ(r.buf.get()[3 * i + 2], pal[4 * idx[i]]);
            }
        }
    }

    // 4 bits, two indexes a byte, high nibble first.
    Bytes pal16 = Palette(16, 9);
    Bytes nibbles = Pattern((w + 1) / 2, h, 1, 8);
    WriteArgs a;
    a.bitCount = 4;
    a.palette = pal16.data();
    for (uint32_t tiles : {0u, 0x80u}) {
        a.flags = tiles;
        ReadResult r = Read(Write(nibbles, w, h, a), 8);
        ASSERT_TRUE(r.buf) << r.error;
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t b = nibbles[y * ((w + 1) / 2) + x / 2];
                ASSERT_EQ(r.buf.get()[y * w + x], (x & 1) ? b & 15 : b >> 4);
            }
        }
        EXPECT_EQ(r.palette[4 * 15 + 1], pal16[4 * 15 + 1]);
        EXPECT_EQ(r.palette[4 * 16 + 1], pal16[1]);  // unused entries copy entry 0
    }

    // 1 bit: black and white become bilevel grey, so the fax schemes apply.
    const uint32_t stride = (w + 7) / 8;
    Bytes bits = Pattern(stride, h, 1, 10);
    for (uint32_t y = 0; y < h; ++y) bits[y * stride + stride - 1] &= 0xF8;
    Bytes bw = {0, 0, 0, 0, 255, 255, 255, 0};
    Bytes wb = {255, 255, 255, 0, 0, 0, 0, 0};
    for (uint32_t compression : {1u, 3u, 4u, 32773u, 5u}) {
        for (const Bytes* p : {&bw, &wb}) {
            a = WriteArgs();
            a.bitCount = 1;
            a.palette = p->data();
            a.compression = compression;
            Bytes file = Write(bits, w, h, a);
            {
                TagReader tr(file);
                ASSERT_NE(tr.t, nullptr);
                EXPECT_EQ(tr.U16(TIFFTAG_COMPRESSION), compression);
                EXPECT_EQ(tr.U16(TIFFTAG_PHOTOMETRIC), p == &bw ? 1u : 0u);
            }
            ReadResult r = Read(file, 1);
            ASSERT_TRUE(r.buf) << compression << ": " << r.error;
            EXPECT_EQ(r.Data(bits.size()), bits) << compression;
            EXPECT_EQ(r.palette[4], (*p)[4]);
            r = Read(file, 24);
            ASSERT_TRUE(r.buf);
            EXPECT_EQ(r.buf.get()[0], ((bits[0] >> 7) ^ (p == &wb)) ? 255 : 0);
        }
    }
    // A coloured two-entry palette stays a palette; fax becomes none.
    Bytes two = {10, 20, 30, 0, 200, 100, 50, 0};
    a = WriteArgs();
    a.bitCount = 1;
    a.palette = two.data();
    a.compression = 4;
    Bytes file = Write(bits, w, h, a);
    {
        TagReader tr(file);
        EXPECT_EQ(tr.U16(TIFFTAG_PHOTOMETRIC), 3u);
        EXPECT_EQ(tr.U16(TIFFTAG_COMPRESSION), 1u);
    }
    ReadResult r = Read(file, 1);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.Data(bits.size()), bits);
    EXPECT_EQ(r.palette[6], 50);

    // 16-bit grey, little-endian in memory.
    Bytes grey16 = Pattern(w, h, 2, 11);
    a = WriteArgs();
    a.bitCount = 16;
    a.compression = 8;
    file = Write(grey16, w, h, a);
    {
        TagReader tr(file);
        EXPECT_EQ(tr.U16(TIFFTAG_BITSPERSAMPLE), 16u);
        EXPECT_EQ(tr.U16(TIFFTAG_PHOTOMETRIC), 1u);
    }
    r = Read(file, 24);
    ASSERT_TRUE(r.buf) << r.error;
    for (size_t i = 0; i < grey16.size() / 2; ++i) {
        int v = grey16[2 * i] | (grey16[2 * i + 1] << 8);
        ASSERT_NEAR(r.buf.get()[3 * i], v / 257.0, 1.0);
    }
    EXPECT_EQ(ReadError(file, 8), 28u);

    // CMYK: libtiff's RGBA interface turns it into RGB.
    Bytes cmyk = {0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 128, 255, 0};
    a = WriteArgs();
    a.bitCount = 32;
    a.flags = 16;
    file = Write(cmyk, 4, 1, a);
    {
        TagReader tr(file);
        EXPECT_EQ(tr.U16(TIFFTAG_PHOTOMETRIC), 5u);
        EXPECT_EQ(tr.U16(TIFFTAG_INKSET), 1u);
    }
    r = Read(file, 24);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(r.Data(12), (Bytes{255, 255, 255, 0, 255, 255, 0, 0, 0, 255, 127, 0}));
}

// ---- reading ---------------------------------------------------------------

TEST(TiffRead, PaletteMapScaling) {
    RawPage p;
    p.w = 4;
    p.h = 1;
    p.spp = 1;
    p.bps = 8;
    p.photometric = PHOTOMETRIC_PALETTE;
    p.data = {0, 1, 2, 255};
    p.map.assign(3 * 256, 0);
    // Values written as 8-bit numbers are kept as they are.
    for (int i = 0; i < 256; ++i) {
        p.map[i] = static_cast<uint16_t>(i);
        p.map[256 + i] = static_cast<uint16_t>(255 - i);
        p.map[512 + i] = 7;
    }
    ReadResult r = Read(MakeTiff({p}), 8);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(r.palette[4 * 1 + 2], 1);
    EXPECT_EQ(r.palette[4 * 1 + 1], 254);
    EXPECT_EQ(r.palette[4 * 1], 7);
    r = Read(MakeTiff({p}), 24);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.buf.get()[3], 1);  // libtiff's own reading agrees
    // One value of 256 or more: every value is scaled from 16 bits.
    p.map[512 + 3] = 65535;
    p.map[1] = 0x8000;
    r = Read(MakeTiff({p}), 8);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.palette[4 * 1 + 2], 0x8000 * 255 / 65535);
    EXPECT_EQ(r.palette[4 * 3], 255);
    EXPECT_EQ(r.palette[4 * 2], 0);  // 7 scaled
    EXPECT_EQ(r.palette[4 * 2 + 1], 253 * 255 / 65535);

    // Grey pictures read as indexes over a ramp (inverted for min-is-white).
    RawPage g;
    g.w = 4;
    g.h = 1;
    g.spp = 1;
    g.bps = 4;
    g.photometric = PHOTOMETRIC_MINISWHITE;
    g.data = {0x0F, 0x7A};
    r = Read(MakeTiff({g}), 8);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(r.Data(4), (Bytes{0, 15, 7, 10}));
    EXPECT_EQ(r.palette[0], 255);
    EXPECT_EQ(r.palette[4 * 15], 0);
    EXPECT_EQ(r.palette[4 * 5], 255 - 5 * 17);
}

TEST(TiffRead, PagesAndDims) {
    std::vector<RawPage> pages(3);
    for (uint32_t i = 0; i < 3; ++i) {
        pages[i].w = 3 + i;
        pages[i].h = 2 + 2 * i;
        pages[i].data = Pattern(pages[i].w, pages[i].h, 3, 20 + i);
    }
    pages[1].xRes = 72.7f;
    pages[1].yRes = 150.2f;
    pages[1].unit = RESUNIT_INCH;
    pages[2].spp = 1;
    pages[2].photometric = PHOTOMETRIC_MINISBLACK;
    pages[2].data = Pattern(pages[2].w, pages[2].h, 1, 22);
    Bytes file = MakeTiff(pages);
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t w = 0, h = 0, bits = 0;
        ISResolution res{-1, -1, 9};
        IS_BOOL ok = WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, i, &w, &h, &bits, &res, 0); });
        ASSERT_TRUE(ok) << i;
        EXPECT_EQ(IS40_GetLastError(), 0u);
        EXPECT_EQ(w, pages[i].w);
        EXPECT_EQ(h, pages[i].h);
        EXPECT_EQ(bits, i == 2 ? 8u : 24u);
        if (i == 1) {
            EXPECT_EQ(res.xRes, 72);
            EXPECT_EQ(res.yRes, 150);
            EXPECT_EQ(res.unit, 2u);
        } else {
            EXPECT_EQ(res.unit, 0u);  // no ResolutionUnit tag
        }
        ReadResult r = Read(file, 24, i);
        ASSERT_TRUE(r.buf) << i;
        EXPECT_EQ(r.width, pages[i].w);
        if (i < 2) {
            EXPECT_EQ(r.Data(pages[i].data.size()), pages[i].data);
        }
    }
    uint32_t w, h, bits;
    EXPECT_FALSE(WithMemorySource(file, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, 3, &w, &h, &bits, nullptr, 0); }));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_EQ(ReadError(file, 24, 3), 5u);
    EXPECT_EQ(ReadError(file, 24, 0xFFFFFFFFu), 5u);

    // Argument and format errors.
    EXPECT_FALSE(IS40_GetTIFFDims(nullptr, 0, &w, &h, &bits, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    WithMemorySource(file, [&](ISHANDLE src) {
        EXPECT_FALSE(IS40_GetTIFFDims(src, 0, &w, nullptr, &bits, nullptr, 0));
        EXPECT_EQ(IS40_GetLastError(), 5u);
        return 0;
    });
    ISHANDLE closed = IS40_OpenMemorySource(file.data(), static_cast<uint32_t>(file.size()));
    IS40_CloseSource(closed);
    EXPECT_FALSE(IS40_GetTIFFDims(closed, 0, &w, &h, &bits, nullptr, 0));
    EXPECT_EQ(IS40_GetLastError(), 38u);
    uint8_t pal[1024];
    EXPECT_EQ(IS40_ReadTIFF(closed, &w, &h, 24, pal, 0, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    Bytes notTiff(100, 'x');
    EXPECT_EQ(ReadError(notTiff, 24), 6u);
    EXPECT_EQ(ReadError(Bytes(file.begin(), file.begin() + 6), 24), 3u);
}

TEST(TiffRead, DepthAndVariantErrors) {
    RawPage p;
    p.data = Pattern(4, 3, 3);
    Bytes file = MakeTiff({p});
    for (uint32_t depth : {0u, 2u, 4u, 12u, 48u, 64u}) EXPECT_EQ(ReadError(file, depth), 5u) << depth;
    EXPECT_FALSE(Read(file, 8, 0, 0, false).buf);
    EXPECT_EQ(ReadError(file, 16), 17u);  // true colour, but only 24 and 32 are made
    EXPECT_EQ(ReadError(file, 8), 28u);
    EXPECT_EQ(ReadError(file, 1), 28u);

    // Layouts the RGBA interface refuses.
    RawPage two;
    two.spp = 2;
    two.data = Pattern(4, 3, 2);
    EXPECT_EQ(ReadError(MakeTiff({two}), 24), 20u);
    RawPage odd;
    odd.bps = 12;
    odd.data = Bytes(4 * 3 * 3 * 12 / 8, 0x55);
    EXPECT_EQ(ReadError(MakeTiff({odd}), 24), 20u);
    // Palette picture at 1 bit when it has 8.
    RawPage pal;
    pal.spp = 1;
    pal.photometric = PHOTOMETRIC_PALETTE;
    pal.data = Bytes(12, 1);
    pal.map.assign(3 * 256, 0x1234);
    EXPECT_EQ(ReadError(MakeTiff({pal}), 1), 28u);
}

TEST(TiffRead, LayoutFlags) {
    Bytes rgb = Pattern(3, 2, 3, 14);
    ISResolution res{300, 300, 2};
    WriteArgs a;
    a.res = &res;
    Bytes file = Write(rgb, 3, 2, a);
    ReadResult r = Read(file, 24, 0, 8);
    ASSERT_TRUE(r.buf);
    EXPECT_EQ(r.buf.get()[0], rgb[2]);
    EXPECT_EQ(r.buf.get()[2], rgb[0]);
    EXPECT_EQ(r.buf.get()[12], rgb[9 + 2]);
    EXPECT_EQ(r.buf.get()[9], 0);
    r = Read(file, 24, 0, 2);
    ASSERT_TRUE(r.buf);
    const uint8_t* d = r.buf.get();
    EXPECT_EQ(ISGet32LE(d), 40u);
    EXPECT_EQ(ISGet32LE(d + 4), 3u);
    EXPECT_EQ(ISGet32LE(d + 24), 11811u);  // 300 per inch in pixels per metre
    EXPECT_EQ(d[40], rgb[9 + 2]);          // bottom row first, B, G, R

    Bytes pal = Palette(256);
    a = WriteArgs();
    a.bitCount = 8;
    a.palette = pal.data();
    Bytes idx = {1, 2, 3, 4, 5, 6};
    r = Read(Write(idx, 3, 2, a), 8, 0, 2, false);
    ASSERT_TRUE(r.buf) << r.error;
    d = r.buf.get();
    EXPECT_EQ(ISGet16LE(d + 14), 8u);
    EXPECT_EQ(d[40 + 8], pal[8]);
    EXPECT_EQ(d[40 + 1024], 4);
}

// ---- writing -----------------------------------------------------------------

TEST(TiffWrite, Errors) {
    Bytes rgb = Pattern(4, 4, 3);
    Bytes pal = Palette(256);
    auto expectFail = [&](WriteArgs a, uint32_t code, const uint8_t* image) {
        uint32_t err = 0, ret = 1;
        uint32_t stride = a.stride ? a.stride : (4 * a.bitCount + 7) / 8;
        WriteToBytes("bad.tif", [&](ISHANDLE d) {
            ret = IS40_WriteTIFF(d, image, 4, 4, a.bitCount, stride, a.palette, a.compression, nullptr, a.flags);
            err = IS40_GetLastError();
            return ret;
        });
        EXPECT_EQ(ret, 0u) << a.bitCount << " " << a.compression;
        EXPECT_EQ(err, code) << a.bitCount << " " << a.compression;
    };
    WriteArgs a;
    expectFail(a, 5, nullptr);
    for (uint32_t bits : {0u, 2u, 12u, 48u}) {
        a.bitCount = bits;
        expectFail(a, 5, rgb.data());
    }
    a = WriteArgs();
    a.bitCount = 8;  // no palette
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.stride = 11;
    expectFail(a, 5, rgb.data());
    a = WriteArgs();
    a.compression = 12345;
    expectFail(a, 7, rgb.data());
    a.bitCount = 8;
    a.palette = pal.data();
    a.compression = 7;
    expectFail(a, 7, rgb.data());

    EXPECT_EQ(IS40_WriteTIFF(nullptr, rgb.data(), 4, 4, 24, 12, nullptr, 1, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    ISHANDLE full = IS40_OpenFileDest("/dev/full", 0);
    if (full) {
        Bytes big = Pattern(300, 300, 3);
        EXPECT_EQ(IS40_WriteTIFF(full, big.data(), 300, 300, 24, 900, nullptr, 1, nullptr, 0), 0u);
        EXPECT_EQ(IS40_GetLastError(), 4u);
        IS40_CloseDest(full);
    }
}

// ---- the generic reader and handles ----------------------------------------------

TEST(TiffGeneric, ReadImageModesAndReusableHandle) {
    const uint32_t w = 6, h = 5;
    Bytes rgb = Pattern(w, h, 3, 16);
    WriteArgs a;
    a.compression = 5;
    Bytes file = Write(rgb, w, h, a);
    WithMemorySource(file, [&](ISHANDLE src) {
        uint32_t gw = 0, gh = 0;
        LibBuffer out(IS40_ReadImage(src, &gw, &gh, 0, 0));
        EXPECT_EQ(IS40_GetLastError(), 0u);
        if (!out) return ADD_FAILURE() << "mode 0", 0;
        EXPECT_EQ(gw, w);
        EXPECT_EQ(IS40_GlobalSize(out.get()), w * h * 3u);
        EXPECT_EQ(Bytes(out.get(), out.get() + rgb.size()), rgb);
        LibBuffer wide(IS40_ReadImage(src, &gw, &gh, 1, 0));
        if (!wide) return ADD_FAILURE() << "mode 1", 0;
        EXPECT_EQ(wide.get()[3], 255);
        EXPECT_EQ(wide.get()[4], rgb[3]);
        LibBuffer dib(IS40_ReadImage(src, &gw, &gh, 2, 0));
        if (!dib) return ADD_FAILURE() << "mode 2", 0;
        EXPECT_EQ(ISGet32LE(dib.get() + 8), h);

        // A failed read, then the same handle again.
        uint8_t pal[1024];
        EXPECT_EQ(IS40_ReadTIFF(src, &gw, &gh, 8, pal, 0, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), 28u);
        EXPECT_EQ(IS40_ReadTIFF(src, &gw, &gh, 24, pal, 9, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), 5u);
        LibBuffer again(IS40_ReadTIFF(src, &gw, &gh, 24, pal, 0, 0));
        EXPECT_TRUE(again);
        return 0;
    });

    std::string path = ScratchPath("file.tif");
    WriteFileBytes(path, file);
    ISHANDLE src = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(src, nullptr);
    uint32_t rw, rh;
    LibBuffer fromFile(IS40_ReadTIFF(src, &rw, &rh, 24, nullptr, 0, 0));
    IS40_CloseSource(src);
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(Bytes(fromFile.get(), fromFile.get() + rgb.size()), rgb);
}

// ---- robustness ---------------------------------------------------------------

TEST(TiffRobust, OutOfMemoryAtEveryAllocation) {
    const Bytes rgba = Rgba(40, 30, 3);
    WriteArgs a;
    a.bitCount = 32;
    a.compression = 8;
    a.flags = 0x80;
    const Bytes file = Write(rgba, 40, 30, a);
    Bytes pal = Palette(256);
    WriteArgs p;
    p.bitCount = 8;
    p.palette = pal.data();
    const Bytes indexed = Write(Pattern(40, 30, 1, 4), 40, 30, p, nullptr, nullptr, "oom8.tif");
    bool done = false;
    for (int64_t budget = 0; budget < 50 && !done; ++budget) {
        for (uint32_t depth : {32u, 8u}) {
            ReadResult r;
            WithMemorySource(depth == 8 ? indexed : file, [&](ISHANDLE h) {
                ISSetAllocFailAfter(budget);
                r.buf = LibBuffer(IS40_ReadTIFF(h, &r.width, &r.height, depth, r.palette.data(), 0, 0));
                r.error = IS40_GetLastError();
                ISSetAllocFailAfter(-1);
                return 0;
            });
            if (r.buf) {
                done = depth == 8;
            } else {
                EXPECT_EQ(r.error, 1u) << "budget " << budget;
            }
        }
        uint32_t err = 0, size = 0;
        WriteToBytes("oom.tif", [&](ISHANDLE d) {
            ISSetAllocFailAfter(budget);
            size = IS40_WriteTIFF(d, rgba.data(), 40, 30, 32, 160, nullptr, 5, nullptr, 0x80);
            err = IS40_GetLastError();
            ISSetAllocFailAfter(-1);
            return size;
        });
        if (!size) {
            EXPECT_EQ(err, 1u) << "budget " << budget;
        }
    }
    EXPECT_TRUE(done);
}

TEST(TiffRobust, DecompressionBombFailsCleanly) {
    // 100000 x 100000 pixels declared over 64 bytes of strip data.
    auto bomb = [](uint32_t w, uint32_t h, uint16_t spp, uint16_t photometric, uint16_t compression) {
        return BuildTiff({{256, 4, 1, w},
                          {257, 4, 1, h},
                          {258, 3, 1, 8},
                          {259, 3, 1, compression},
                          {262, 3, 1, photometric},
                          {273, 4, 1, 0},
                          {277, 3, 1, spp},
                          {278, 4, 1, h},
                          {279, 4, 1, 64}},
                         Bytes(64, 0));
    };
    Bytes rgb = bomb(100000, 100000, 3, 2, 1);
    EXPECT_EQ(ReadError(rgb, 24), 1u);
    EXPECT_EQ(ReadError(rgb, 32), 1u);
    Bytes grey = bomb(100000, 100000, 1, 1, 1);
    EXPECT_EQ(ReadError(grey, 8), 1u);
    EXPECT_EQ(ReadError(grey, 24), 1u);
    // Tiled: millions of 16 x 16 tiles declared, one stored.
    Bytes tiled = BuildTiff({{256, 4, 1, 100000},
                             {257, 4, 1, 100000},
                             {258, 3, 1, 8},
                             {259, 3, 1, 1},
                             {262, 3, 1, 1},
                             {277, 3, 1, 1},
                             {322, 3, 1, 16},
                             {323, 3, 1, 16},
                             {324, 4, 1, 0},
                             {325, 4, 1, 256}},
                            Bytes(256, 0));
    for (uint32_t depth : {24u, 8u}) {
        uint32_t err = ReadError(tiled, depth);
        EXPECT_TRUE(err == 1 || err == 3 || err == 6) << depth << ": " << err;
    }
    uint32_t w = 0, h = 0, bits = 0;
    EXPECT_TRUE(WithMemorySource(rgb, [&](ISHANDLE src) { return IS40_GetTIFFDims(src, 0, &w, &h, &bits, nullptr, 0); }));
    EXPECT_EQ(w, 100000u);

    // Sizes below the allocation limit whose data cannot be in the file.
    for (uint16_t compression : {1, 5, 8, 32773}) {
        Bytes small = bomb(20000, 20000, 1, 1, compression);
        EXPECT_EQ(ReadError(small, 24), 3u) << compression;
        EXPECT_EQ(ReadError(small, 8), 3u) << compression;
        if (!kSanitized) {
            int code = InCappedChild(256ull << 20, [&]() { return static_cast<int>(ReadError(small, 24)); });
            EXPECT_EQ(code, 3) << compression;
        }
    }
}

// ---- ImageMagick -----------------------------------------------------------------

TEST(TiffInterop, MagickFilesReadBack) {
    REQUIRE_MAGICK();
    const uint32_t w = 37, h = 23;
    std::string rgbSrc = ScratchPath("src.ppm");
    WriteNetpbm(rgbSrc, Pattern(w, h, 3, 6), w, h, 3);
    std::string rgbaSrc = ScratchPath("src.pam");
    WriteNetpbm(rgbaSrc, Rgba(w, h, 5), w, h, 4);
    std::string rgbSrc2 = ScratchPath("src2.ppm");
    WriteNetpbm(rgbSrc2, Pattern(w + 4, h - 3, 3, 8), w + 4, h - 3, 3);

    struct Variant {
        const char* name;
        std::string src;
        const char* options;
        const char* out;
        bool alpha;
        const char* pre;  // options for the reference decode
    } variants[] = {
        {"rgb none", rgbSrc, "-compress None", "rgb.tif", false, ""},
        {"rgb lzw", rgbSrc, "-compress LZW", "lzw.tif", false, ""},
        {"rgb deflate", rgbSrc, "-compress Zip", "zip.tif", false, ""},
        {"rgb packbits", rgbSrc, "-compress RLE", "rle.tif", false, ""},
        {"rgba", rgbaSrc, "-compress LZW", "rgba.tif", true, ""},
        {"palette", rgbSrc, "-colors 40 -type Palette", "pal.tif", false, ""},
        {"grey", rgbSrc, "-type Grayscale -compress Zip", "grey.tif", false, ""},
        {"bilevel", rgbSrc, "-threshold 50% -type Bilevel -compress Group4", "g4.tif", false, ""},
        {"16 bit", rgbSrc, "-depth 16", "rgb16.tif", false, ""},
        {"tiled", rgbSrc, "-define tiff:tile-geometry=16x16 -compress LZW", "tiled.tif", false, ""},
        {"orient 6", rgbSrc, "-orient RightTop", "or6.tif", false, "-auto-orient"},
        {"orient 3", rgbSrc, "-orient BottomRight", "or3.tif", false, "-auto-orient"},
        {"orient 8", rgbSrc, "-orient LeftBottom", "or8.tif", false, "-auto-orient"},
        {"jpeg", rgbSrc, "-compress JPEG -quality 90", "jpeg.tif", false, ""},
    };
    for (const Variant& v : variants) {
        std::string path = ScratchPath(v.out);
        ASSERT_EQ(Shell("convert '" + v.src + "' " + v.options + " '" + path + "'"), 0) << v.name;
        Bytes file = ReadFileBytes(path);
        ReadResult r = Read(file, v.alpha ? 32 : 24);
        ASSERT_TRUE(r.buf) << v.name << ": " << r.error;
        Bytes expect = MagickPixels(path, v.alpha ? "rgba" : "rgb", v.pre);
        const size_t n = static_cast<size_t>(w) * h * (v.alpha ? 4 : 3);
        ASSERT_EQ(expect.size(), n) << v.name;
        const bool swapped = std::string(v.name) == "orient 6" || std::string(v.name) == "orient 8";
        EXPECT_EQ(r.width, swapped ? h : w) << v.name;
        EXPECT_EQ(r.height, swapped ? w : h) << v.name;
        if (v.alpha) {
            ExpectRgbaClose(r.Data(n), expect, v.name);
        } else if (std::string(v.name) == "jpeg") {
            EXPECT_LT(MeanDiff(r.Data(n), expect), 2.0) << v.name;
        } else {
            EXPECT_LE(MaxDiff(r.Data(n), expect), 1) << v.name;
        }
    }

    // Several pages.
    std::string multi = ScratchPath("multi.tif");
    ASSERT_EQ(Shell("convert '" + rgbSrc + "' '" + rgbSrc2 + "' -compress LZW '" + multi + "'"), 0);
    Bytes file = ReadFileBytes(multi);
    ReadResult r = Read(file, 24, 1);
    ASSERT_TRUE(r.buf) << r.error;
    EXPECT_EQ(r.width, w + 4);
    EXPECT_EQ(r.height, h - 3);
    EXPECT_EQ(r.Data(static_cast<size_t>(w + 4) * (h - 3) * 3), MagickPixels(multi + "[1]"));
    EXPECT_EQ(ReadError(file, 24, 2), 5u);

    // Palette file at 8 bits: indexes through the palette give the colours.
    r = Read(ReadFileBytes(ScratchPath("pal.tif")), 8);
    ASSERT_TRUE(r.buf) << r.error;
    Bytes expect = MagickPixels(ScratchPath("pal.tif"));
    for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
        const uint8_t* e = &r.palette[4 * r.buf.get()[i]];
        ASSERT_LE(std::abs(int(e[2]) - int(expect[3 * i])), 1) << i;
        ASSERT_LE(std::abs(int(e[0]) - int(expect[3 * i + 2])), 1) << i;
    }
}

TEST(TiffInterop, WrittenFilesOpenInMagick) {
    REQUIRE_MAGICK();
    const uint32_t w = 29, h = 17;
    Bytes rgb = Pattern(w, h, 3, 3);
    Bytes rgba = Rgba(w, h, 4);
    Bytes pal = Palette(256);
    Bytes idx = Pattern(w, h, 1, 2);
    int n = 0;
    auto check = [&](const Bytes& file, const std::string& map, const Bytes& expect, const char* what, bool alpha) {
        std::string path = ScratchPath("ours-" + std::to_string(n++) + ".tif");
        WriteFileBytes(path, file);
        EXPECT_EQ(MagickSize(path), std::to_string(w) + " " + std::to_string(h)) << what;
        Bytes got = MagickPixels(path, map);
        if (alpha) {
            ExpectRgbaClose(got, expect, what);
        } else {
            EXPECT_LE(MaxDiff(got, expect), 0) << what;
        }
    };
    for (uint32_t compression : {1u, 5u, 8u, 32773u}) {
        for (uint32_t tiles : {0u, 0x80u}) {
            WriteArgs a;
            a.compression = compression;
            a.flags = tiles | (compression == 5 ? 64 : 0);
            check(Write(rgb, w, h, a), "rgb", rgb, "rgb", false);
        }
    }
    WriteArgs a;
    a.bitCount = 32;
    a.compression = 8;
    check(Write(rgba, w, h, a), "rgba", rgba, "rgba", true);
    a = WriteArgs();
    a.bitCount = 8;
    a.palette = pal.data();
    Bytes expect;
    for (uint8_t i : idx) {
        expect.push_back(pal[4 * i + 2]);
        expect.push_back(pal[4 * i + 1]);
        expect.push_back(pal[4 * i]);
    }
    check(Write(idx, w, h, a), "rgb", expect, "palette", false);
    Bytes bw = {0, 0, 0, 0, 255, 255, 255, 0};
    const uint32_t stride = (w + 7) / 8;
    Bytes bits = Pattern(stride, h, 1, 4);
    a = WriteArgs();
    a.bitCount = 1;
    a.palette = bw.data();
    a.compression = 4;
    expect.clear();
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) expect.push_back((bits[y * stride + x / 8] >> (7 - x % 8)) & 1 ? 255 : 0);
    }
    check(Write(bits, w, h, a), "gray", expect, "fax 4", false);
}
