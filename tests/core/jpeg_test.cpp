// JPEG reader, dimension query and writer.
#include "isframe.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

using namespace vstest;

namespace {

// ---- pictures and files ------------------------------------------------------

// Gradients with mild noise: what photographs look like to a JPEG coder.
Bytes Photo(uint32_t w, uint32_t h, uint32_t channels, uint32_t seed = 1) {
    Bytes noise = Pattern(w, h, 1, seed);
    Bytes px(static_cast<size_t>(w) * h * channels);
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const size_t i = static_cast<size_t>(y) * w + x;
            const int n = noise[i] % 9 - 4;
            const int base[4] = {static_cast<int>(x * 220 / w) + 16, static_cast<int>(y * 220 / h) + 16,
                                 static_cast<int>((x + y) * 110 / (w + h)) + 60,
                                 static_cast<int>(((x / 7 + y / 5) % 2) * 60) + 80};
            for (uint32_t c = 0; c < channels; ++c) {
                px[i * channels + c] = static_cast<uint8_t>(std::clamp(base[c] + n, 0, 255));
            }
        }
    }
    return px;
}

double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

int MaxDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1 << 20;
    int m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
    return m;
}

// Each n x n block averaged; partial blocks at the right and bottom edges
// average what they have, so the size is rounded up.
Bytes BoxReduce(const Bytes& px, uint32_t w, uint32_t h, uint32_t channels, uint32_t n) {
    const uint32_t ow = (w + n - 1) / n, oh = (h + n - 1) / n;
    Bytes out(static_cast<size_t>(ow) * oh * channels);
    for (uint32_t oy = 0; oy < oh; ++oy) {
        for (uint32_t ox = 0; ox < ow; ++ox) {
            for (uint32_t c = 0; c < channels; ++c) {
                uint32_t sum = 0, count = 0;
                for (uint32_t y = oy * n; y < std::min(h, oy * n + n); ++y) {
                    for (uint32_t x = ox * n; x < std::min(w, ox * n + n); ++x, ++count) {
                        sum += px[(static_cast<size_t>(y) * w + x) * channels + c];
                    }
                }
                out[(static_cast<size_t>(oy) * ow + ox) * channels + c] = static_cast<uint8_t>((sum + count / 2) / count);
            }
        }
    }
    return out;
}

Bytes SwapRB(Bytes px) {
    for (size_t i = 0; i + 2 < px.size(); i += 3) std::swap(px[i], px[i + 2]);
    return px;
}

struct WriteArgs {
    uint32_t depth = 24;
    uint32_t quality = 90;
    uint32_t flags = 0;
    uint32_t stride = 0;  // 0: width x components
    const ISResolution* res = nullptr;
};

Bytes Encode(const Bytes& px, uint32_t w, uint32_t h, const WriteArgs& a = WriteArgs(), uint32_t* error = nullptr,
             uint32_t* returned = nullptr, const std::string& name = "out.jpg") {
    const uint32_t stride = a.stride ? a.stride : w * a.depth / 8;
    return WriteToBytes(name, [&](ISHANDLE d) {
        uint32_t r = IS40_WriteJPG(d, px.data(), w, h, a.depth, stride, a.quality, a.res, a.flags);
        if (error) *error = IS40_GetLastError();
        return r;
    }, returned);
}

ReadResult Decode(const Bytes& file, uint32_t depth = 24, uint32_t flags = 0) {
    ReadResult d;
    d.buf = LibBuffer(WithMemorySource(file, [&](ISHANDLE h) { return IS40_ReadJPG(h, &d.width, &d.height, depth, flags); }));
    d.error = IS40_GetLastError();
    return d;
}

// RGB (or grey) pixels of a decode at 24 (or 8) bits: w x h x channels.
Bytes DecodePixels(const Bytes& file, uint32_t channels = 3) {
    ReadResult d = Decode(file, channels * 8);
    EXPECT_TRUE(d.buf) << "error " << d.error;
    return d.Data(static_cast<size_t>(d.width) * d.height * channels);
}

struct Dims {
    IS_BOOL ok = 0;
    uint32_t width = 0, height = 0, bits = 0, space = 0, coding = 0, error = 0;
    ISResolution res{0, 0, 0};
};

Dims GetDims(const Bytes& file) {
    Dims d;
    d.ok = WithMemorySource(file, [&](ISHANDLE h) {
        return IS40_GetJPGDims(h, &d.width, &d.height, &d.bits, &d.space, &d.coding, &d.res, 0);
    });
    d.error = IS40_GetLastError();
    return d;
}

// APPn and COM segments from SOI up to the first SOS: marker code and payload.
std::vector<CISJpegMarker> Segments(const Bytes& f) {
    std::vector<CISJpegMarker> out;
    size_t at = 2;
    while (at + 4 <= f.size() && f[at] == 0xFF) {
        const uint32_t marker = f[at + 1];
        const size_t len = static_cast<size_t>(f[at + 2]) << 8 | f[at + 3];
        if (marker == 0xDA || at + 2 + len > f.size()) break;
        if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
            out.push_back({marker, Bytes(f.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                         f.begin() + static_cast<std::ptrdiff_t>(at + 2 + len))});
        }
        at += 2 + len;
    }
    return out;
}

// Offset of the first SOFn segment's height field.
size_t FrameSizeOffset(const Bytes& f) {
    for (size_t i = 2; i + 8 < f.size(); ++i) {
        if (f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC1 || f[i + 1] == 0xC2)) return i + 5;
    }
    return 0;
}

Bytes WithFrameSize(Bytes f, uint32_t w, uint32_t h) {
    const size_t at = FrameSizeOffset(f);
    EXPECT_NE(at, 0u);
    f[at] = static_cast<uint8_t>(h >> 8);
    f[at + 1] = static_cast<uint8_t>(h);
    f[at + 2] = static_cast<uint8_t>(w >> 8);
    f[at + 3] = static_cast<uint8_t>(w);
    return f;
}

// Sets the calling thread's decode scale for one scope.
struct ScaleScope {
    ScaleScope(uint32_t num, uint32_t den) { IS40_SetJPGDCTScaleFactors(num, den); }
    ~ScaleScope() { IS40_SetJPGDCTScaleFactors(1, 1); }
};

}  // namespace

// ---- round trips ---------------------------------------------------------------

TEST(JpegRoundTrip, QualityBoundsThePsnr) {
    const uint32_t w = 96, h = 64;
    struct Case {
        uint32_t channels, quality;
        double minPsnr;
    };
    const Case cases[] = {{3, 75, 32}, {3, 95, 38}, {3, 100, 42}, {1, 75, 34}, {1, 95, 41}, {1, 100, 48}};
    size_t lastSize[2] = {0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE("channels " + std::to_string(c.channels) + " quality " + std::to_string(c.quality));
        const Bytes px = Photo(w, h, c.channels);
        WriteArgs a;
        a.depth = c.channels * 8;
        a.quality = c.quality;
        uint32_t error = 9, returned = 0;
        const Bytes file = Encode(px, w, h, a, &error, &returned);
        EXPECT_EQ(error, 0u);
        EXPECT_EQ(returned, file.size());  // the written length, exactly
        ReadResult d = Decode(file, a.depth);
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(d.error, 0u);
        EXPECT_EQ(d.width, w);
        EXPECT_EQ(d.height, h);
        EXPECT_GE(Psnr(d.Data(px.size()), px), c.minPsnr);
        // Higher quality never makes the file smaller.
        EXPECT_GT(file.size(), lastSize[c.channels == 1]);
        lastSize[c.channels == 1] = file.size();
    }
}

TEST(JpegRoundTrip, GreyReadsAsEqualChannelsAndNotAs32Bits) {
    const uint32_t w = 33, h = 17;
    const Bytes grey = Photo(w, h, 1, 4);
    WriteArgs a;
    a.depth = 8;
    const Bytes file = Encode(grey, w, h, a);
    const Bytes g8 = DecodePixels(file, 1);
    const Bytes rgb = DecodePixels(file, 3);
    ASSERT_EQ(rgb.size(), g8.size() * 3);
    for (size_t i = 0; i < g8.size(); ++i) {
        ASSERT_EQ(rgb[3 * i], g8[i]) << i;
        ASSERT_EQ(rgb[3 * i + 1], g8[i]) << i;
        ASSERT_EQ(rgb[3 * i + 2], g8[i]) << i;
    }
    ReadResult d32 = Decode(file, 32);
    EXPECT_FALSE(d32.buf);
    EXPECT_EQ(d32.error, 9u);
}

TEST(JpegRoundTrip, WriterLayoutFlagsGiveTheSameFile) {
    const uint32_t w = 29, h = 13;
    const Bytes rgb = Photo(w, h, 3, 2);
    const Bytes plain = Encode(rgb, w, h);
    // B, G, R input.
    WriteArgs bgr;
    bgr.flags = 8;
    EXPECT_EQ(Encode(SwapRB(rgb), w, h, bgr), plain);
    // Bottom-up rows with a padded stride.
    const uint32_t stride = w * 3 + 5;
    Bytes flipped(static_cast<size_t>(stride) * h, 0xEE);
    for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(&flipped[static_cast<size_t>(h - 1 - y) * stride], &rgb[static_cast<size_t>(y) * w * 3], w * 3);
    }
    WriteArgs up;
    up.flags = 4;
    up.stride = stride;
    EXPECT_EQ(Encode(flipped, w, h, up), plain);
    // Both at once.
    WriteArgs both = up;
    both.flags = 4 | 8;
    Bytes flippedBgr = flipped;
    const Bytes bgrRows = SwapRB(rgb);
    for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(&flippedBgr[static_cast<size_t>(h - 1 - y) * stride], &bgrRows[static_cast<size_t>(y) * w * 3], w * 3);
    }
    EXPECT_EQ(Encode(flippedBgr, w, h, both), plain);
}

TEST(JpegRoundTrip, YCbCrInputAndRawYCbCrOutput) {
    const uint32_t w = 40, h = 24;
    const Bytes rgb = Photo(w, h, 3, 5);
    Bytes ycc(rgb.size());
    for (size_t i = 0; i < rgb.size(); i += 3) {
        const double r = rgb[i], g = rgb[i + 1], b = rgb[i + 2];
        ycc[i] = static_cast<uint8_t>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
        ycc[i + 1] = static_cast<uint8_t>(std::clamp(std::lround(128 - 0.168736 * r - 0.331264 * g + 0.5 * b), 0L, 255L));
        ycc[i + 2] = static_cast<uint8_t>(std::clamp(std::lround(128 + 0.5 * r - 0.418688 * g - 0.081312 * b), 0L, 255L));
    }
    WriteArgs a;
    a.flags = 16;
    a.quality = 95;
    const Bytes file = Encode(ycc, w, h, a);
    // Read normally: converted to R, G, B.
    EXPECT_GE(Psnr(DecodePixels(file), rgb), 35);
    // Flag 4: the Y, Cb, Cr samples as coded.
    ReadResult raw = Decode(file, 24, 4);
    ASSERT_TRUE(raw.buf) << raw.error;
    EXPECT_GE(Psnr(raw.Data(ycc.size()), ycc), 38);
    // Only 24 bits can carry them.
    EXPECT_EQ(Decode(file, 8, 4).error, 9u);
    EXPECT_EQ(Decode(file, 32, 4).error, 9u);
    // A grey file has no chroma to give: flag 4 reads it as grey.
    WriteArgs g;
    g.depth = 8;
    const Bytes grey = Photo(w, h, 1);
    ReadResult gd = Decode(Encode(grey, w, h, g), 8, 4);
    ASSERT_TRUE(gd.buf) << gd.error;
    EXPECT_GE(Psnr(gd.Data(grey.size()), grey), 35);
}

TEST(JpegRoundTrip, FourComponentsRawAndConverted) {
    const uint32_t w = 24, h = 16;
    const Bytes cmyk = Photo(w, h, 4, 6);
    // The same picture as YCCK: Y, Cb, Cr of the inverted C, M, Y, then K.
    Bytes ycck(cmyk.size());
    for (size_t i = 0; i < cmyk.size(); i += 4) {
        const double r = 255 - cmyk[i], g = 255 - cmyk[i + 1], b = 255 - cmyk[i + 2];
        ycck[i] = static_cast<uint8_t>(std::lround(0.299 * r + 0.587 * g + 0.114 * b));
        ycck[i + 1] = static_cast<uint8_t>(std::clamp(std::lround(128 - 0.168736 * r - 0.331264 * g + 0.5 * b), 0L, 255L));
        ycck[i + 2] = static_cast<uint8_t>(std::clamp(std::lround(128 + 0.5 * r - 0.418688 * g - 0.081312 * b), 0L, 255L));
        ycck[i + 3] = cmyk[i + 3];
    }
    for (uint32_t flags : {0u, 2u}) {
        SCOPED_TRACE(flags ? "YCCK" : "CMYK");
        WriteArgs a;
        a.depth = 32;
        a.quality = 95;
        a.flags = flags;
        const Bytes file = Encode(flags ? ycck : cmyk, w, h, a);
        const Dims dims = GetDims(file);
        EXPECT_EQ(dims.space, flags ? 5u : 4u);
        EXPECT_EQ(dims.bits, 32u);
        // Raw: four samples a pixel, C, M, Y, K for both kinds of file.
        ReadResult raw = Decode(file, 32, 1);
        ASSERT_TRUE(raw.buf) << raw.error;
        EXPECT_GE(Psnr(raw.Data(cmyk.size()), cmyk), 34);
        // Converted: R = c k / 255 and so on, from the samples decoded.
        ReadResult rgb = Decode(file, 24);
        ASSERT_TRUE(rgb.buf) << rgb.error;
        const Bytes dec = raw.Data(cmyk.size());
        const Bytes conv = rgb.Data(static_cast<size_t>(w) * h * 3);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(conv[3 * i + c], dec[4 * i + c] * dec[4 * i + 3] / 255) << i;
        }
        // 32 bits need flag 1; flag 1 needs 32 bits.
        EXPECT_EQ(Decode(file, 32).error, 9u);
        EXPECT_EQ(Decode(file, 24, 1).error, 9u);
        EXPECT_EQ(Decode(file, 8).error, 9u);
    }
}

TEST(JpegRoundTrip, JfifHeaderAndDensity) {
    const uint32_t w = 8, h = 8;
    const Bytes rgb = Photo(w, h, 3);
    // No record: density 1 by 1 without unit.
    std::vector<CISJpegMarker> seg = Segments(Encode(rgb, w, h));
    ASSERT_FALSE(seg.empty());
    ASSERT_EQ(seg[0].marker, 0xE0u);
    ASSERT_GE(seg[0].data.size(), 12u);
    EXPECT_EQ(0, std::memcmp(seg[0].data.data(), "JFIF\0", 5));
    EXPECT_EQ(seg[0].data[7], 0);                                   // unit
    EXPECT_EQ(seg[0].data[8] << 8 | seg[0].data[9], 1);             // X density
    EXPECT_EQ(seg[0].data[10] << 8 | seg[0].data[11], 1);           // Y density
    // A record is written as whole numbers and read back.
    const ISResolution res{300.7, 150.2, 1};
    WriteArgs a;
    a.res = &res;
    const Dims d = GetDims(Encode(rgb, w, h, a));
    EXPECT_EQ(d.res.xRes, 300.0);
    EXPECT_EQ(d.res.yRes, 150.0);
    EXPECT_EQ(d.res.unit, 1u);
    // Flag 32: no APP0 at all.
    WriteArgs none;
    none.flags = 32;
    for (const CISJpegMarker& m : Segments(Encode(rgb, w, h, none))) EXPECT_NE(m.marker, 0xE0u);
}

TEST(JpegRoundTrip, WriteArgumentsAndFailedWrites) {
    const Bytes rgb = Photo(4, 4, 3);
    uint32_t error = 0;
    WriteArgs a;
    for (uint32_t depth : {0u, 1u, 16u, 48u}) {
        a.depth = depth;
        a.stride = 12;
        EXPECT_EQ(Encode(rgb, 4, 4, a, &error).size(), 0u);
        EXPECT_EQ(error, 5u) << depth;
    }
    a = WriteArgs();
    Encode(rgb, 0, 4, a, &error);
    EXPECT_EQ(error, 5u);
    Encode(rgb, 4, 0, a, &error);
    EXPECT_EQ(error, 5u);
    a.stride = 11;  // rows would overlap
    Encode(rgb, 4, 4, a, &error);
    EXPECT_EQ(error, 5u);
    EXPECT_EQ(IS40_WriteJPG(nullptr, rgb.data(), 4, 4, 24, 12, 90, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    int foreign[32] = {};
    EXPECT_EQ(IS40_WriteJPG(foreign, rgb.data(), 4, 4, 24, 12, 90, nullptr, 0), 0u);
    EXPECT_EQ(IS40_GetLastError(), 38u);
    // A source is not writable.
    WithMemorySource(rgb, [&](ISHANDLE s) { return IS40_WriteJPG(s, rgb.data(), 4, 4, 24, 12, 90, nullptr, 0); });
    EXPECT_EQ(IS40_GetLastError(), 4u);
    // A full device refuses the bytes when they are flushed.
    ISHANDLE full = IS40_OpenFileDest("/dev/full", 0);
    if (full) {
        EXPECT_EQ(IS40_WriteJPG(full, rgb.data(), 4, 4, 24, 12, 90, nullptr, 0), 0u);
        EXPECT_EQ(IS40_GetLastError(), 4u);
        IS40_CloseDest(full);
    }
}

// ---- reader layouts ------------------------------------------------------------

TEST(JpegRead, PaddedBgrRows) {
    const uint32_t w = 3, h = 5;
    const Bytes file = Encode(Photo(w, h, 3), w, h);
    const Bytes rgb = DecodePixels(file);
    ReadResult d = Decode(file, 24, 8);
    ASSERT_TRUE(d.buf);
    ASSERT_EQ(IS40_GlobalSize(d.buf.get()), 12u * h);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* row = d.buf.get() + 12 * y;
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(row[3 * x + c], rgb[(y * w + x) * 3 + 2 - c]);
        }
        EXPECT_EQ(row[9] | row[10] | row[11], 0);
    }
}

TEST(JpegRead, PackedDibs) {
    const uint32_t w = 5, h = 3;
    const ISResolution res{300, 200, 1};
    WriteArgs a;
    a.res = &res;
    const Bytes colour = Encode(Photo(w, h, 3), w, h, a);
    const Bytes rgb = DecodePixels(colour);
    ReadResult d = Decode(colour, 24, 2);
    ASSERT_TRUE(d.buf) << d.error;
    const uint8_t* p = d.buf.get();
    const uint32_t row = 16;  // 15 bytes padded to 4
    EXPECT_EQ(ISGet32LE(p), 40u);
    EXPECT_EQ(ISGet32LE(p + 4), w);
    EXPECT_EQ(ISGet32LE(p + 8), h);  // positive: bottom-up
    EXPECT_EQ(ISGet16LE(p + 12), 1u);
    EXPECT_EQ(ISGet16LE(p + 14), 24u);
    EXPECT_EQ(ISGet32LE(p + 16), 0u);
    EXPECT_EQ(ISGet32LE(p + 20), row * h);
    EXPECT_EQ(ISGet32LE(p + 24), 11811u);  // 300 per inch in pixels per metre
    EXPECT_EQ(ISGet32LE(p + 28), 7874u);
    EXPECT_EQ(ISGet32LE(p + 32), 0u);
    ASSERT_EQ(IS40_GlobalSize(p), 40u + row * h);
    for (uint32_t y = 0; y < h; ++y) {
        const uint8_t* r = p + 40 + (h - 1 - y) * row;
        for (uint32_t x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) ASSERT_EQ(r[3 * x + c], rgb[(y * w + x) * 3 + 2 - c]) << x << "," << y;
        }
        EXPECT_EQ(r[15], 0);
    }

    // Grey: 8 bits with a grey table, whatever depth was asked for.
    WriteArgs g;
    g.depth = 8;
    const Bytes grey = Encode(Photo(w, h, 1), w, h, g);
    const Bytes g8 = DecodePixels(grey, 1);
    ReadResult gd = Decode(grey, 24, 2);
    ASSERT_TRUE(gd.buf) << gd.error;
    const uint8_t* q = gd.buf.get();
    EXPECT_EQ(ISGet16LE(q + 14), 8u);
    EXPECT_EQ(ISGet32LE(q + 32), 256u);
    EXPECT_EQ(ISGet32LE(q + 24), 0u);  // no unit: no resolution
    for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(ISGet32LE(q + 40 + 4 * i), i | i << 8 | i << 16 | 0xFFu << 24);
    ASSERT_EQ(IS40_GlobalSize(q), 40u + 1024 + 8 * h);
    for (uint32_t y = 0; y < h; ++y) {
        EXPECT_EQ(0, std::memcmp(q + 1064 + (h - 1 - y) * 8, &g8[y * w], w)) << y;
    }

    // Four components: converted to 24 bits.
    WriteArgs c;
    c.depth = 32;
    const Bytes cmyk = Encode(Photo(w, h, 4), w, h, c);
    const Bytes conv = DecodePixels(cmyk);
    ReadResult cd = Decode(cmyk, 32, 2);
    ASSERT_TRUE(cd.buf) << cd.error;
    EXPECT_EQ(ISGet16LE(cd.buf.get() + 14), 24u);
    EXPECT_EQ(cd.buf.get()[40 + (h - 1) * row], conv[2]);
}

TEST(JpegRead, BitDepthRules) {
    const Bytes file = Encode(Photo(8, 8, 3), 8, 8);
    for (uint32_t depth : {0u, 1u, 4u, 16u, 33u}) {
        ReadResult d = Decode(file, depth);
        EXPECT_FALSE(d.buf);
        EXPECT_EQ(d.error, 5u) << depth;
    }
    // Colour cannot be narrowed or widened.
    EXPECT_EQ(Decode(file, 8).error, 9u);
    EXPECT_EQ(Decode(file, 32).error, 9u);
    EXPECT_EQ(Decode(file, 32, 1).error, 9u);
    uint32_t w, h;
    EXPECT_EQ(IS40_ReadJPG(nullptr, &w, &h, 24, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 5u);
    int foreign[32] = {};
    EXPECT_EQ(IS40_ReadJPG(foreign, &w, &h, 24, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 38u);
}

// ---- decode scale -------------------------------------------------------------

TEST(JpegScale, DividesWithTheCeilRule) {
    const uint32_t w = 1001, h = 603;
    const Bytes rgb = Photo(w, h, 3, 8);
    WriteArgs a;
    a.quality = 95;
    const Bytes file = Encode(rgb, w, h, a);
    const Bytes full = DecodePixels(file);
    struct Case {
        uint32_t num, den, divisor;
    };
    const Case cases[] = {{1, 1, 1}, {1, 2, 2}, {1, 3, 2}, {2, 3, 1}, {1, 4, 4}, {3, 13, 4},
                          {1, 7, 4}, {1, 8, 8}, {1, 100, 8}, {1, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
        ScaleScope scale(c.num, c.den);
        ReadResult d = Decode(file);
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(d.width, (w + c.divisor - 1) / c.divisor);
        EXPECT_EQ(d.height, (h + c.divisor - 1) / c.divisor);
        if (c.divisor > 1) {
            const Bytes reduced = BoxReduce(full, w, h, 3, c.divisor);
            ASSERT_EQ(reduced.size(), static_cast<size_t>(d.width) * d.height * 3);
            EXPECT_GE(Psnr(d.Data(reduced.size()), reduced), 33);
        }
        // The dimension query always reports the full size.
        const Dims dims = GetDims(file);
        EXPECT_EQ(dims.width, w);
        EXPECT_EQ(dims.height, h);
    }
}

TEST(JpegScale, IsKeptPerThread) {
    const uint32_t w = 80, h = 48;
    const Bytes file = Encode(Photo(w, h, 3), w, h);
    ScaleScope scale(1, 8);
    uint32_t otherW = 0, otherH = 0, otherScaledW = 0;
    std::thread other([&]() {
        ReadResult d = Decode(file);
        otherW = d.width;
        otherH = d.height;
        IS40_SetJPGDCTScaleFactors(1, 2);
        otherScaledW = Decode(file).width;
    });
    other.join();
    EXPECT_EQ(otherW, w);
    EXPECT_EQ(otherH, h);
    EXPECT_EQ(otherScaledW, w / 2);
    EXPECT_EQ(Decode(file).width, w / 8);  // the other thread's setting stayed there
}

// ---- dimension query ------------------------------------------------------------

TEST(JpegDims, ColourSpacesAndDepths) {
    const uint32_t w = 19, h = 7;
    struct Case {
        uint32_t depth, flags, space, bits;
    };
    const Case cases[] = {{8, 0, 1, 8}, {24, 0, 3, 24}, {32, 0, 4, 32}, {32, 2, 5, 32}};
    for (const Case& c : cases) {
        WriteArgs a;
        a.depth = c.depth;
        a.flags = c.flags;
        const Dims d = GetDims(Encode(Photo(w, h, c.depth / 8), w, h, a));
        EXPECT_TRUE(d.ok);
        EXPECT_EQ(d.error, 0u);
        EXPECT_EQ(d.width, w);
        EXPECT_EQ(d.height, h);
        EXPECT_EQ(d.space, c.space);
        EXPECT_EQ(d.bits, c.bits);
        EXPECT_EQ(d.coding, 0u);
    }
    // Null outputs and bad input.
    const Bytes file = Encode(Photo(w, h, 3), w, h);
    uint32_t x = 0;
    EXPECT_FALSE(WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetJPGDims(s, nullptr, &x, nullptr, nullptr, nullptr, nullptr, 0); }));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_TRUE(WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetJPGDims(s, &x, &x, nullptr, nullptr, nullptr, nullptr, 0); }));
    const Bytes text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    const Dims bad = GetDims(text);
    EXPECT_FALSE(bad.ok);
    EXPECT_EQ(bad.error, 9u);
    EXPECT_EQ(bad.width, 0u);
}

TEST(JpegDims, ProgressiveArithmeticAndDensityFromOtherPrograms) {
    REQUIRE_MAGICK();
    const uint32_t w = 48, h = 32;
    const Bytes rgb = Photo(w, h, 3, 9);
    const std::string ppm = ScratchPath("src.ppm");
    WriteNetpbm(ppm, rgb, w, h, 3);

    const Dims progressive = GetDims(ReadFileBytes(MagickConvert(rgb, w, h, 3, "-interlace Plane", "p.jpg")));
    EXPECT_EQ(progressive.coding, 1u);
    EXPECT_EQ(GetDims(ReadFileBytes(MagickConvert(rgb, w, h, 3, "", "b.jpg"))).coding, 0u);

    const Dims inch = GetDims(ReadFileBytes(MagickConvert(rgb, w, h, 3, "-density 300 -units PixelsPerInch", "i.jpg")));
    EXPECT_EQ(inch.res.xRes, 300.0);
    EXPECT_EQ(inch.res.yRes, 300.0);
    EXPECT_EQ(inch.res.unit, 1u);
    const Dims cm = GetDims(ReadFileBytes(MagickConvert(rgb, w, h, 3, "-density 118 -units PixelsPerCentimeter", "c.jpg")));
    EXPECT_EQ(cm.res.xRes, 118.0);
    EXPECT_EQ(cm.res.unit, 2u);

    if (!HavePrograms("cjpeg djpeg")) GTEST_SKIP() << "cjpeg / djpeg not installed";
    for (const char* opts : {"-arithmetic", "-arithmetic -progressive"}) {
        SCOPED_TRACE(opts);
        const std::string path = ScratchPath("arith.jpg");
        ASSERT_EQ(Shell(std::string("cjpeg ") + opts + " -outfile '" + path + "' '" + ppm + "'"), 0);
        const Bytes file = ReadFileBytes(path);
        const Dims d = GetDims(file);
        EXPECT_EQ(d.coding, std::strstr(opts, "progressive") ? 3u : 2u);
        // ReadResult here as djpeg decodes it.
        const Bytes ref = Capture("djpeg -ppm '" + path + "' | tail -c " + std::to_string(w * h * 3));
        EXPECT_EQ(DecodePixels(file), ref);
    }
}

// ---- comments and markers ------------------------------------------------------

// ---- four-component files from ImageMagick ------------------------------------------

TEST(JpegCmyk, ImageMagickCmykRawAndConverted) {
    REQUIRE_MAGICK();
    const uint32_t w = 40, h = 24;
    const Bytes rgb = Photo(w, h, 3, 10);
    const std::string path = MagickConvert(rgb, w, h, 3, "-colorspace CMYK -quality 95", "cmyk.jpg");
    const Bytes file = ReadFileBytes(path);
    const Dims d = GetDims(file);
    ASSERT_TRUE(d.space == 4 || d.space == 5) << d.space;  // CMYK, or YCCK as this writer prefers
    EXPECT_EQ(d.bits, 32u);

    // Raw: the samples as stored. This writer stores them inverted, the
    // usual convention of CMYK JPEGs, which ImageMagick undoes when it reads.
    ReadResult raw = Decode(file, 32, 1);
    ASSERT_TRUE(raw.buf) << raw.error;
    const Bytes stored = raw.Data(static_cast<size_t>(w) * h * 4);
    const Bytes magickCmyk = MagickPixels(path, "cmyk");
    ASSERT_EQ(magickCmyk.size(), stored.size());
    Bytes inverted(stored.size());
    for (size_t i = 0; i < stored.size(); ++i) inverted[i] = static_cast<uint8_t>(255 - stored[i]);
    EXPECT_LE(MaxDiff(inverted, magickCmyk), 1);

    // Converted: close to ImageMagick's own RGB of the same file, and to
    // the picture it started from.
    ReadResult conv = Decode(file, 24);
    ASSERT_TRUE(conv.buf) << conv.error;
    const Bytes ours = conv.Data(rgb.size());
    const Bytes magickRgb = MagickPixels(path, "rgb", "-colorspace sRGB");
    ASSERT_EQ(magickRgb.size(), ours.size());
    EXPECT_LE(MaxDiff(ours, magickRgb), 3);
    EXPECT_GE(Psnr(ours, rgb), 30);
}

// ---- exchange with ImageMagick ------------------------------------------------------

TEST(JpegInterop, FilesWrittenHereOpenInImageMagick) {
    REQUIRE_MAGICK();
    const uint32_t w = 45, h = 27;
    for (uint32_t depth : {8u, 24u}) {
        for (uint32_t flags : {0u, 1u, 32u}) {
            SCOPED_TRACE("depth " + std::to_string(depth) + " flags " + std::to_string(flags));
            const Bytes px = Photo(w, h, depth / 8, 11);
            WriteArgs a;
            a.depth = depth;
            a.flags = flags;
            const std::string name = "ours" + std::to_string(depth) + "_" + std::to_string(flags) + ".jpg";
            const Bytes file = Encode(px, w, h, a, nullptr, nullptr, name);
            const std::string path = ScratchPath(name);
            EXPECT_EQ(MagickSize(path), std::to_string(w) + " " + std::to_string(h));
            const Bytes magick = MagickPixels(path, depth == 8 ? "gray" : "rgb");
            EXPECT_LE(MaxDiff(magick, DecodePixels(file, depth / 8)), 2);
            EXPECT_GE(Psnr(magick, px), 32);
        }
    }
}

TEST(JpegInterop, FilesWrittenByImageMagickReadHere) {
    REQUIRE_MAGICK();
    const uint32_t w = 51, h = 33;
    const Bytes rgb = Photo(w, h, 3, 12);
    struct Case {
        const char* name;
        const char* options;
        uint32_t channels;
    };
    const Case cases[] = {{"q90.jpg", "-quality 90", 3},
                          {"q50.jpg", "-quality 50", 3},
                          {"444.jpg", "-quality 90 -sampling-factor 1x1", 3},
                          {"prog.jpg", "-quality 90 -interlace Plane", 3},
                          {"grey.jpg", "-colorspace Gray -quality 90", 1},
                          {"comment.jpg", "-quality 90 -set comment hello", 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        const std::string path = MagickConvert(rgb, w, h, 3, c.options, c.name);
        const Bytes file = ReadFileBytes(path);
        ReadResult d = Decode(file, 8 * c.channels);
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(d.error, 0u);
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        const Bytes ours = d.Data(static_cast<size_t>(w) * h * c.channels);
        EXPECT_LE(MaxDiff(ours, MagickPixels(path, c.channels == 1 ? "gray" : "rgb")), 2);
        // And at 24 bits a grey file is grey in all three channels.
        if (c.channels == 1) {
            EXPECT_LE(MaxDiff(DecodePixels(file), MagickPixels(path, "rgb")), 2);
        }
    }
}

// ---- sources, truncation and damage -----------------------------------------------

TEST(JpegSource, GiveBackLetsConcatenatedPicturesBeReadInTurn) {
    const Bytes first = Encode(Photo(30, 20, 3, 1), 30, 20);
    WriteArgs g;
    g.depth = 8;
    g.flags = 1;
    const Bytes second = Encode(Photo(17, 9, 1, 2), 17, 9, g);
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    const Bytes tail = {'T', 'A', 'I', 'L'};
    both.insert(both.end(), tail.begin(), tail.end());
    const Bytes ref1 = DecodePixels(first), ref2 = DecodePixels(second, 1);

    auto readBoth = [&](ISHANDLE s) {
        uint32_t w = 0, h = 0;
        LibBuffer a(IS40_ReadJPG(s, &w, &h, 24, 16));
        EXPECT_TRUE(a);
        EXPECT_EQ(w, 30u);
        if (a) {
            EXPECT_EQ(Bytes(a.get(), a.get() + ref1.size()), ref1);
        }
        LibBuffer b(IS40_ReadJPG(s, &w, &h, 8, 16));
        EXPECT_TRUE(b) << IS40_GetLastError();
        EXPECT_EQ(w, 17u);
        if (b) {
            EXPECT_EQ(Bytes(b.get(), b.get() + ref2.size()), ref2);
        }
    };
    ISHANDLE mem = IS40_OpenMemorySource(both.data(), static_cast<uint32_t>(both.size()));
    ASSERT_NE(mem, nullptr);
    readBoth(mem);
    // Just after the second end-of-image marker.
    EXPECT_EQ(IS40_CloseSource(mem), first.size() + second.size());

    const std::string path = ScratchPath("both.bin");
    WriteFileBytes(path, both);
    ISHANDLE file = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(file, nullptr);
    readBoth(file);
    EXPECT_EQ(IS40_CloseSource(file), first.size() + second.size());
}

TEST(JpegSource, TruncatedFilesDecodeWithTheRestFilled) {
    const uint32_t w = 64, h = 64;
    const Bytes rgb = Pattern(w, h, 3, 13);  // noise: the bytes spread evenly over the rows
    for (uint32_t flags : {0u, 1u}) {
        SCOPED_TRACE(flags ? "progressive" : "baseline");
        WriteArgs a;
        a.flags = flags;
        const Bytes file = Encode(rgb, w, h, a);
        const Bytes full = DecodePixels(file);
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 6 / 10));
        ISThreadState()->trace.clear();
        testing::internal::CaptureStderr();
        ReadResult d = Decode(cut);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // libjpeg never prints
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(d.error, 0u);
        ASSERT_EQ(d.width, w);
        ASSERT_EQ(d.height, h);
        const Bytes got = d.Data(full.size());
        if (flags == 0) {
            // The rows before the cut are intact; the last row is filled evenly.
            const size_t top = static_cast<size_t>(w) * 3 * (h / 4);
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<std::ptrdiff_t>(top), full.begin()));
            const uint8_t* last = d.buf.get() + static_cast<size_t>(w) * 3 * (h - 1);
            for (uint32_t x = 1; x < w; ++x) EXPECT_EQ(last[3 * x], last[0]) << x;
        }
        // The warning went to the trace, not into the outcome.
        const CISThreadState* s = ISThreadState();
        bool traced = false;
        for (const CISTraceEntry& e : s->trace) traced |= e.text.find("IS40_ReadJPG") != std::string::npos;
        EXPECT_TRUE(traced);
    }
    // Nothing at all is not a JPEG.
    const std::string empty = ScratchPath("empty.jpg");
    WriteFileBytes(empty, {});
    ISHANDLE s = IS40_OpenFileSource(empty.c_str());
    ASSERT_NE(s, nullptr);
    uint32_t ow = 0, oh = 0;
    EXPECT_EQ(IS40_ReadJPG(s, &ow, &oh, 24, 0), nullptr);
    EXPECT_EQ(IS40_GetLastError(), 9u);
    IS40_CloseSource(s);
}

TEST(JpegSource, FailedReadLeavesTheHandleUsable) {
    const Bytes file = Encode(Photo(12, 10, 3), 12, 10);
    const Bytes ref = DecodePixels(file);
    WithMemorySource(file, [&](ISHANDLE s) {
        uint32_t w = 0, h = 0;
        EXPECT_EQ(IS40_ReadJPG(s, &w, &h, 32, 0), nullptr);  // RGB at 32 bits
        EXPECT_EQ(IS40_GetLastError(), 9u);
        EXPECT_EQ(IS40_ReadJPG(s, &w, &h, 12, 0), nullptr);
        EXPECT_EQ(IS40_GetLastError(), 5u);
        EXPECT_TRUE(IS40_Seek(s, 0, 0));
        LibBuffer b(IS40_ReadJPG(s, &w, &h, 24, 0));
        EXPECT_TRUE(b);
        EXPECT_EQ(IS40_GetLastError(), 0u);
        if (b) {
            EXPECT_EQ(Bytes(b.get(), b.get() + ref.size()), ref);
        }
        return 0;
    });
    // The same through a file source.
    const std::string path = ScratchPath("again.jpg");
    WriteFileBytes(path, file);
    ISHANDLE s = IS40_OpenFileSource(path.c_str());
    ASSERT_NE(s, nullptr);
    uint32_t w = 0, h = 0;
    EXPECT_EQ(IS40_ReadJPG(s, &w, &h, 8, 0), nullptr);
    EXPECT_TRUE(IS40_Seek(s, 0, 0));
    LibBuffer b(IS40_ReadJPG(s, &w, &h, 24, 0));
    ASSERT_TRUE(b);
    EXPECT_EQ(Bytes(b.get(), b.get() + ref.size()), ref);
    IS40_CloseSource(s);
}

TEST(JpegRobust, HugeDeclaredSizesFailWithoutAllocating) {
    const Bytes small = Encode(Photo(16, 16, 3), 16, 16);
    WriteArgs p;
    p.flags = 1;
    const Bytes smallProgressive = Encode(Photo(16, 16, 3), 16, 16, p);
    const Bytes huge = WithFrameSize(small, 65500, 65500);
    const Dims d = GetDims(huge);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.width, 65500u);
    EXPECT_EQ(d.height, 65500u);
    auto check = [&](const Bytes& file, uint32_t num, uint32_t den) {
        ScaleScope scale(num, den);
        return Decode(file).error;
    };
    // 12.8 GB of pixels: refused before any of it is asked for.
    EXPECT_EQ(check(huge, 1, 1), 1u);
    // A progressive file keeps all coefficients of the full size, scaled or not.
    EXPECT_EQ(check(WithFrameSize(smallProgressive, 65500, 65500), 1, 8), 1u);
    EXPECT_EQ(check(WithFrameSize(smallProgressive, 60000, 30000), 1, 8), 1u);
    // Below the limit, in a process that cannot hold gigabytes: still clean.
    if (!kSanitized) {
        const Bytes wide = WithFrameSize(small, 65500, 8000);  // 1.5 GB at full size
        int code = InCappedChild(400ull << 20, [&]() { return static_cast<int>(check(wide, 1, 1)); });
        EXPECT_EQ(code, 1);
    }
}

TEST(JpegRobust, OutOfMemoryAtEveryAllocation) {
    const Bytes file = Encode(Photo(20, 12, 1), 20, 12, [] { WriteArgs a; a.depth = 8; return a; }());
    bool done = false;
    for (int64_t budget = 0; budget < 20 && !done; ++budget) {
        ReadResult d;
        WithMemorySource(file, [&](ISHANDLE s) {
            ISSetAllocFailAfter(budget);
            d.buf = LibBuffer(IS40_ReadJPG(s, &d.width, &d.height, 24, 0));
            d.error = IS40_GetLastError();
            ISSetAllocFailAfter(-1);
            return 0;
        });
        if (d.buf) done = true;
        else EXPECT_EQ(d.error, 1u) << "budget " << budget;
    }
    EXPECT_TRUE(done);
    const Bytes rgb = Photo(20, 12, 3);
    done = false;
    for (int64_t budget = 0; budget < 20 && !done; ++budget) {
        uint32_t error = 0, size = 0;
        WriteToBytes("oom.jpg", [&](ISHANDLE dst) {
            ISSetAllocFailAfter(budget);
            size = IS40_WriteJPG(dst, rgb.data(), 20, 12, 24, 60, 90, nullptr, 8);
            error = IS40_GetLastError();
            ISSetAllocFailAfter(-1);
            return size;
        });
        if (size) done = true;
        else EXPECT_EQ(error, 1u) << "budget " << budget;
    }
    EXPECT_TRUE(done);
}

TEST(JpegRobust, CorruptionSweep) {
    const Bytes rgb = Photo(16, 16, 3, 14);
    const Bytes baseline = Encode(rgb, 16, 16);
    WriteArgs p;
    p.flags = 1;
    const Bytes progressive = Encode(rgb, 16, 16, p);
    for (const Bytes* file : {&baseline, &progressive}) {
        for (uint32_t flags : {0u, 2u | 16u}) {
            CorruptionSweep(*file, [&](ISHANDLE s) {
                uint32_t w = 0, h = 0;
                return IS40_ReadJPG(s, &w, &h, 24, flags);
            }, 1500, {1, 3, 9});
        }
        CorruptionSweep(*file, [](ISHANDLE s) -> uint8_t* {
            uint32_t w, h, bits, space, coding;
            ISResolution res;
            if (!IS40_GetJPGDims(s, &w, &h, &bits, &space, &coding, &res, 0)) return nullptr;
            return static_cast<uint8_t*>(IS40_GlobalAlloc(0x0040, 1));
        }, 500, {9});
    }
}
