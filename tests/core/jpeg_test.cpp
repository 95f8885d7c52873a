// JPEG reader, dimension query and writer.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>

using namespace vstest;

namespace {

// Gradients with mild noise: what photographs look like to a JPEG coder.
Bytes Photo(uint32_t w, uint32_t h, uint32_t channels, uint32_t seed = 1) {
    const Bytes noise = Pattern(w, h, 1, seed);
    Bytes px(static_cast<size_t>(w) * h * channels);
    for (uint32_t y = 0; y < h; ++y) for (uint32_t x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        const int base[4] = {int(x * 220 / w) + 16, int(y * 220 / h) + 16, int((x + y) * 110 / (w + h)) + 60,
                             int(((x / 7 + y / 5) % 2) * 60) + 80};
        for (uint32_t c = 0; c < channels; ++c) px[i * channels + c] = uint8_t(std::clamp(base[c] + noise[i] % 9 - 4, 0, 255));
    }
    return px;
}

double Psnr(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size() || a.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(a.size()) / sum);
}

// Each n x n block of an RGB picture averaged; edge blocks average what they have.
Bytes BoxReduce(const Bytes& px, uint32_t w, uint32_t h, uint32_t n) {
    const uint32_t ow = (w + n - 1) / n, oh = (h + n - 1) / n;
    Bytes out;
    for (uint32_t o = 0; o < ow * oh * 3; ++o) {
        const uint32_t ox = o / 3 % ow, oy = o / 3 / ow;
        uint32_t sum = 0, count = 0;
        for (uint32_t y = oy * n; y < std::min(h, oy * n + n); ++y)
            for (uint32_t x = ox * n; x < std::min(w, ox * n + n); ++x, ++count) sum += px[(size_t(y) * w + x) * 3 + o % 3];
        out.push_back(uint8_t((sum + count / 2) / count));
    }
    return out;
}

// Y, Cb, Cr of R, G, B triples every `step` bytes (inverted for CMYK).
Bytes ToYCbCr(const Bytes& px, size_t step, bool invert) {
    Bytes out;
    for (size_t i = 0; i + step <= px.size(); i += step) {
        const double r = invert ? 255 - px[i] : px[i], g = invert ? 255 - px[i + 1] : px[i + 1], b = invert ? 255 - px[i + 2] : px[i + 2];
        out.push_back(uint8_t(std::lround(0.299 * r + 0.587 * g + 0.114 * b)));
        out.push_back(uint8_t(std::clamp(std::lround(128 - 0.168736 * r - 0.331264 * g + 0.5 * b), 0L, 255L)));
        out.push_back(uint8_t(std::clamp(std::lround(128 + 0.5 * r - 0.418688 * g - 0.081312 * b), 0L, 255L)));
        if (step == 4) out.push_back(px[i + 3]);
    }
    return out;
}

Bytes Encode(const Bytes& px, uint32_t w, uint32_t h, uint32_t depth = 24, uint32_t flags = 0, uint32_t quality = 90,
             const ISResolution* res = nullptr, uint32_t* returned = nullptr) {
    return WriteToBytes("out.jpg", [&](ISHANDLE d) { return IS40_WriteJPG(d, px.data(), w, h, depth, w * depth / 8, quality, res, flags); },
                        returned);
}

// The whole picture, or the part given; a refused part leaves the width 0xDEAD.
ReadResult Decode(const Bytes& file, uint32_t depth = 24, uint32_t flags = 0, const ISRegion* part = nullptr) {
    ReadResult d;
    d.width = 0xDEAD;
    d.buf = LibBuffer(WithMemorySource(file, [&](ISHANDLE h) {
        return part ? IS40_ReadJPGRegion(h, part, &d.width, &d.height, depth, flags)
                    : IS40_ReadJPG(h, &d.width, &d.height, depth, flags);
    }));
    d.error = IS40_GetLastError();
    return d;
}

ReadResult DecodeRegion(const Bytes& file, ISRegion r, uint32_t depth = 24, uint32_t flags = 0) {
    return Decode(file, depth, flags, &r);
}

// Pixels of a decode at 24 (or 8) bits: w x h x channels.
Bytes DecodePixels(const Bytes& file, uint32_t channels = 3) {
    ReadResult d = Decode(file, channels * 8);
    EXPECT_TRUE(d.buf) << "error " << d.error;
    return d.Data(size_t(d.width) * d.height * channels);
}

struct Dims {
    IS_BOOL ok = 0;
    uint32_t width = 7, height = 7, bits = 7, space = 7, coding = 7;
    ISResolution res{7, 7, 7};
};

Dims GetDims(const Bytes& file) {
    Dims d;
    d.ok = WithMemorySource(file, [&](ISHANDLE h) {
        return IS40_GetJPGDims(h, &d.width, &d.height, &d.bits, &d.space, &d.coding, &d.res, 0);
    });
    return d;
}

// The file with another size in its (baseline or progressive) frame header.
Bytes WithFrameSize(Bytes f, uint32_t w, uint32_t h) {
    size_t i = 2;
    while (i + 8 < f.size() && !(f[i] == 0xFF && (f[i + 1] == 0xC0 || f[i + 1] == 0xC2))) ++i;
    EXPECT_LT(i + 8, f.size()) << "no frame header";
    if (i + 8 < f.size()) f[i + 5] = uint8_t(h >> 8), f[i + 6] = uint8_t(h), f[i + 7] = uint8_t(w >> 8), f[i + 8] = uint8_t(w);
    return f;
}

// Sets the calling thread's decode scale for one scope.
struct ScaleScope {
    ScaleScope(uint32_t num, uint32_t den) { IS40_SetJPGDCTScaleFactors(num, den); }
    ~ScaleScope() { IS40_SetJPGDCTScaleFactors(1, 1); }
};

// A reader's buffer as plain top-down rows of w x bpp bytes: DIBs lose
// their header and turn over, padded rows their padding.
Bytes PlainRows(const ReadResult& d, uint32_t bpp, uint32_t flags) {
    const bool dib = flags & IS_JPG_READ_DIB;
    const size_t row = size_t(d.width) * bpp, stride = dib || (flags & IS_JPG_READ_PAD_BGR) ? (row + 3) & ~size_t(3) : row;
    const size_t start = dib ? 40 + (bpp == 1 ? 1024 : 0) : 0;
    Bytes out;
    for (uint32_t y = 0; d.buf && y < d.height; ++y) {
        const uint8_t* p = d.buf.get() + start + (dib ? d.height - 1 - y : y) * stride;
        out.insert(out.end(), p, p + row);
    }
    return out;
}

// The rectangle x, y, w x h of plain rows of width `width`.
Bytes Cut(const Bytes& rows, uint32_t width, uint32_t bpp, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    Bytes out;
    for (uint32_t r = y; r < y + h; ++r) {
        const auto at = rows.begin() + std::ptrdiff_t((size_t(r) * width + x) * bpp);
        out.insert(out.end(), at, at + std::ptrdiff_t(size_t(w) * bpp));
    }
    return out;
}

// A photo written by cjpeg with the given options, or by us when there is no cjpeg.
Bytes CjpegPhoto(uint32_t w, uint32_t h, const std::string& options, uint32_t seed) {
    const Bytes rgb = Photo(w, h, 3, seed);
    if (!HavePrograms("cjpeg")) return Encode(rgb, w, h);
    const std::string ppm = ScratchPath("photo.ppm"), path = ScratchPath("photo.jpg");
    WriteNetpbm(ppm, rgb, w, h, 3);
    EXPECT_EQ(Shell("cjpeg " + options + " -outfile '" + path + "' '" + ppm + "'"), 0);
    return ReadFileBytes(path);
}

}  // namespace

TEST(JpegRoundTrip, QualityBoundsThePsnr) {
    const uint32_t w = 96, h = 64;
    struct Case { uint32_t channels, quality; double minPsnr; };
    const Case cases[] = {{3, 75, 32}, {3, 95, 38}, {3, 100, 42}, {3, 250, 42}, {1, 75, 34}, {1, 100, 48}};
    size_t lastSize[2] = {0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE("channels " + std::to_string(c.channels) + " quality " + std::to_string(c.quality));
        const Bytes px = Photo(w, h, c.channels);
        uint32_t returned = 0;
        const Bytes file = Encode(px, w, h, c.channels * 8, 0, c.quality, nullptr, &returned);
        EXPECT_EQ(returned, file.size());
        ReadResult d = Decode(file, c.channels * 8);
        EXPECT_EQ(d.error, 0u);
        EXPECT_EQ(d.width * 1000 + d.height, w * 1000 + h);
        EXPECT_GE(Psnr(d.Data(px.size()), px), c.minPsnr);
        // Higher quality makes the file larger; above 100 is 100.
        if (c.quality > 100) EXPECT_EQ(file.size(), lastSize[c.channels == 1]);
        else EXPECT_GT(file.size(), lastSize[c.channels == 1]);
        lastSize[c.channels == 1] = file.size();
    }
}

TEST(JpegRoundTrip, YCbCrAndFourComponents) {
    const uint32_t w = 40, h = 24;
    const Bytes rgb = Photo(w, h, 3, 5), ycc = ToYCbCr(rgb, 3, false);
    const Bytes file = Encode(ycc, w, h, 24, 16, 95);
    EXPECT_GE(Psnr(DecodePixels(file), rgb), 35);
    // Flag 4: the Y, Cb, Cr samples as coded, and only at 24 bits; a grey file reads as grey.
    EXPECT_GE(Psnr(Decode(file, 24, 4).Data(ycc.size()), ycc), 38);
    for (uint32_t depth : {8u, 32u}) EXPECT_EQ(Decode(file, depth, 4).error, 9u) << depth;
    const Bytes grey = Photo(w, h, 1);
    EXPECT_GE(Psnr(Decode(Encode(grey, w, h, 8), 8, 4).Data(grey.size()), grey), 35);

    // CMYK, and the same picture as YCCK: Y, Cb, Cr of the inverted C, M, Y, then K.
    const Bytes cmyk = Photo(w, h, 4, 6);
    for (uint32_t flags : {0u, 2u}) {
        SCOPED_TRACE(flags ? "YCCK" : "CMYK");
        const Bytes file4 = Encode(flags ? ToYCbCr(cmyk, 4, true) : cmyk, w, h, 32, flags, 95);
        // Raw: four samples a pixel, C, M, Y, K for both kinds of file.
        const Bytes dec = Decode(file4, 32, 1).Data(cmyk.size());
        EXPECT_GE(Psnr(dec, cmyk), 34);
        // Converted: R = C K / 255 and so on.
        ReadResult conv = Decode(file4, 24);
        ASSERT_TRUE(conv.buf) << conv.error;
        for (uint32_t i = 0; i < w * h * 3; ++i)
            ASSERT_EQ(conv.buf.get()[i], dec[i / 3 * 4 + i % 3] * dec[i / 3 * 4 + 3] / 255) << i / 3;
        // 32 bits need flag 1; flag 1 needs 32 bits.
        for (auto [d, f] : {std::pair{32u, 0u}, {24u, 1u}, {8u, 0u}}) EXPECT_EQ(Decode(file4, d, f).error, 9u) << d;
    }
}

TEST(JpegRoundTrip, ProgressiveJfifAndDensity) {
    const uint32_t w = 64, h = 40;
    const Bytes rgb = Photo(w, h, 3, 7);
    const Bytes baseline = Encode(rgb, w, h), progressive = Encode(rgb, w, h, 24, 1);
    EXPECT_EQ(DecodePixels(progressive), DecodePixels(baseline));  // same coefficients, other order
    // Without a record: JFIF right after SOI, density 1 by 1, no unit. Flag 32: no APP0.
    ASSERT_GE(baseline.size(), 18u);
    EXPECT_EQ(Bytes(baseline.begin() + 2, baseline.begin() + 11), (Bytes{0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0}));
    EXPECT_EQ(Bytes(baseline.begin() + 13, baseline.begin() + 18), (Bytes{0, 0, 1, 0, 1}));
    EXPECT_NE(Encode(rgb, w, h, 24, 32)[3], 0xE0);
    // Records are written as whole numbers within 16 bits; unknown units are none.
    struct Case { ISResolution in; double x, y; uint32_t unit; };
    const Case cases[] = {{{300.7, 150.2, 1}, 300, 150, 1}, {{70000, 96, 2}, 65535, 96, 2}, {{72, 72, 3}, 72, 72, 0}};
    for (const Case& c : cases) {
        const Dims d = GetDims(Encode(rgb, w, h, 24, 0, 90, &c.in));
        EXPECT_EQ((std::vector<double>{d.res.xRes, d.res.yRes, double(d.res.unit)}), (std::vector<double>{c.x, c.y, double(c.unit)}));
    }
}

TEST(JpegRead, ArgumentErrorsLeaveTheHandleUsable) {
    const Bytes file = Encode(Photo(12, 10, 3), 12, 10), grey = Encode(Photo(12, 10, 1), 12, 10, 8);
    const Bytes ref = DecodePixels(file);
    struct Case { uint32_t depth, flags, error, greyError; };
    const Case cases[] = {{0, 0, 5, 5}, {1, 0, 5, 5}, {16, 0, 5, 5}, {33, 0, 5, 5}, {8, 0, 9, 0}, {32, 0, 9, 9}, {32, 1, 9, 9}};
    for (const Case& c : cases) {
        SCOPED_TRACE("depth " + std::to_string(c.depth) + " flags " + std::to_string(c.flags));
        EXPECT_EQ(Decode(file, c.depth, c.flags).error, c.error);
        EXPECT_EQ(Decode(grey, c.depth, c.flags).error, c.greyError);
    }
    // A failed read leaves both kinds of source usable after a seek back.
    const std::string path = ScratchPath("again.jpg");
    WriteFileBytes(path, file);
    for (ISHANDLE s : {IS40_OpenMemorySource(file.data(), uint32_t(file.size())), IS40_OpenFileSource(path.c_str())}) {
        uint32_t w = 0, h = 0;
        EXPECT_EQ(IS40_ReadJPG(s, &w, &h, 8, 0), nullptr);
        ASSERT_TRUE(IS40_Seek(s, 0, 0));
        LibBuffer b(IS40_ReadJPG(s, &w, &h, 24, 0));
        EXPECT_EQ(b ? Bytes(b.get(), b.get() + ref.size()) : Bytes(), ref);
        IS40_CloseSource(s);
    }
    uint32_t w;
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE s) { return IS40_ReadJPG(s, &w, nullptr, 24, 0); }), 5);
}

TEST(JpegScale, DividesWithTheCeilRuleAndIsKeptPerThread) {
    const uint32_t w = 1001, h = 603;
    const Bytes file = Encode(Photo(w, h, 3, 8), w, h, 24, 0, 95);
    const Bytes full = DecodePixels(file);
    const uint32_t cases[][3] = {{1, 2, 2}, {1, 3, 2}, {2, 3, 1}, {1, 4, 4}, {3, 13, 4}, {1, 7, 4}, {1, 8, 8}, {1, 100, 8}, {1, 0, 1}};
    for (auto [num, den, divisor] : cases) {
        SCOPED_TRACE(std::to_string(num) + "/" + std::to_string(den));
        ScaleScope scale(num, den);
        ReadResult d = Decode(file);
        EXPECT_EQ(d.width * 10000 + d.height, (w + divisor - 1) / divisor * 10000 + (h + divisor - 1) / divisor);
        const Bytes reduced = BoxReduce(full, w, h, divisor);
        EXPECT_GE(Psnr(d.Data(reduced.size()), reduced), 33);
        EXPECT_EQ(GetDims(file).width, w);  // always the full size
    }
    // Another thread has its own scale, and leaves this one's alone.
    ScaleScope scale(1, 8);
    uint32_t otherW = 0, otherScaledW = 0;
    std::thread other([&]() {
        otherW = Decode(file).width;
        IS40_SetJPGDCTScaleFactors(1, 2);
        otherScaledW = Decode(file).width;
    });
    other.join();
    EXPECT_EQ(otherW, w);
    EXPECT_EQ(otherScaledW, (w + 1) / 2);
    EXPECT_EQ(Decode(file).width, (w + 7) / 8);
}

TEST(JpegDims, ColourSpacesDepthsAndBadInput) {
    const uint32_t w = 19, h = 7;
    const uint32_t cases[][3] = {{8, 0, 1}, {24, 0, 3}, {32, 0, 4}, {32, 2, 5}, {32, 3, 5}};
    for (auto [depth, flags, space] : cases) {
        const Dims d = GetDims(Encode(Photo(w, h, depth / 8), w, h, depth, flags));
        EXPECT_EQ(std::vector<uint32_t>({d.width, d.height, d.bits, d.space, d.coding}), std::vector<uint32_t>({w, h, depth, space, flags & 1}));
    }
    const Bytes file = Encode(Photo(w, h, 3), w, h);
    uint32_t x = 0;
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetJPGDims(s, nullptr, &x, nullptr, nullptr, nullptr, nullptr, 0); }), 5);
    EXPECT_TRUE(WithMemorySource(file, [&](ISHANDLE s) { return IS40_GetJPGDims(s, &x, &x, nullptr, nullptr, nullptr, nullptr, 0); }));
    // A failed query leaves every output zero.
    for (const Bytes& bad : {Bytes(10, 'x'), Bytes(file.begin(), file.begin() + 40)}) {
        const Dims d = GetDims(bad);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(IS40_GetLastError(), 9u);
        EXPECT_EQ(d.width + d.height + d.bits + d.space + d.coding + d.res.unit, 0u);
    }
}

TEST(JpegDims, ArithmeticCodingFromCjpeg) {
    if (!HavePrograms("cjpeg djpeg")) GTEST_SKIP() << "cjpeg / djpeg not installed";
    const uint32_t w = 48, h = 32;
    const Bytes rgb = Photo(w, h, 3, 9);
    const std::string ppm = ScratchPath("src.ppm"), path = ScratchPath("arith.jpg");
    WriteNetpbm(ppm, rgb, w, h, 3);
    for (const char* opts : {"-arithmetic", "-arithmetic -progressive"}) {
        ASSERT_EQ(Shell(std::string("cjpeg ") + opts + " -outfile '" + path + "' '" + ppm + "'"), 0);
        const Bytes file = ReadFileBytes(path);
        EXPECT_EQ(GetDims(file).coding, std::strstr(opts, "progressive") ? 3u : 2u) << opts;
        // The pixels as djpeg decodes them.
        EXPECT_EQ(DecodePixels(file), Capture("djpeg -ppm '" + path + "' | tail -c " + std::to_string(w * h * 3))) << opts;
    }
}

// CMYK as ImageMagick stores it: inverted samples (it undoes that when it reads), maybe as YCCK.
TEST(JpegInterop, CmykFromImageMagick) {
    REQUIRE_MAGICK();
    const uint32_t w = 51, h = 33;
    const Bytes rgb = Photo(w, h, 3, 12);
    const std::string path = MagickConvert(rgb, w, h, 3, "-colorspace CMYK -quality 95", "cmyk.jpg");
    const Bytes file = ReadFileBytes(path);
    const Dims d = GetDims(file);
    EXPECT_TRUE(d.space == 4 || d.space == 5) << d.space;
    Bytes inverted = Decode(file, 32, 1).Data(size_t(w) * h * 4);
    for (uint8_t& v : inverted) v = uint8_t(255 - v);
    EXPECT_LE(MaxDiff(inverted, MagickPixels(path, "cmyk")), 1);
    const Bytes ours = DecodePixels(file);
    EXPECT_LE(MaxDiff(ours, MagickPixels(path, "rgb", "-colorspace sRGB")), 3);
    EXPECT_GE(Psnr(ours, rgb), 30);
}

TEST(JpegSource, ConcatenatedPicturesReadInTurnAndCutOnesFilled) {
    const Bytes first = Encode(Photo(30, 20, 3, 1), 30, 20), second = Encode(Photo(17, 9, 1, 2), 17, 9, 8, 1);
    const Bytes both = Cat(Cat(first, second), {'T', 'A', 'I', 'L'});
    const std::string path = ScratchPath("both.bin");
    WriteFileBytes(path, both);
    for (bool onDisk : {false, true}) {
        ISHANDLE s = onDisk ? IS40_OpenFileSource(path.c_str()) : IS40_OpenMemorySource(both.data(), uint32_t(both.size()));
        ASSERT_NE(s, nullptr);
        uint32_t w = 0, h = 0;
        LibBuffer a(IS40_ReadJPG(s, &w, &h, 24, 16));
        EXPECT_EQ(a && w == 30 ? Bytes(a.get(), a.get() + 30 * 20 * 3) : Bytes(), DecodePixels(first)) << onDisk;
        LibBuffer b(IS40_ReadJPG(s, &w, &h, 8, 16));
        EXPECT_EQ(b && w == 17 ? Bytes(b.get(), b.get() + 17 * 9) : Bytes(), DecodePixels(second, 1)) << onDisk;
        // Just after the second end-of-image marker.
        EXPECT_EQ(IS40_CloseSource(s), first.size() + second.size()) << onDisk;
    }
    const uint32_t w = 64, h = 64;
    const Bytes rgb = Pattern(w, h, 3, 13);  // noise: the bytes spread evenly over the rows
    for (uint32_t flags : {0u, 1u}) {
        SCOPED_TRACE(flags ? "progressive" : "baseline");
        const Bytes file = Encode(rgb, w, h, 24, flags);
        const Bytes full = DecodePixels(file);
        ISThreadState()->trace.clear();
        testing::internal::CaptureStderr();
        ReadResult d = Decode(Bytes(file.begin(), file.begin() + std::ptrdiff_t(file.size() * 6 / 10)));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // libjpeg never prints
        ASSERT_TRUE(d.buf) << d.error;
        EXPECT_EQ(d.error, 0u);  // a warning, not a failure
        EXPECT_FALSE(ISThreadState()->trace.empty());
        if (flags == 0) {
            // The rows before the cut are intact; the last row is filled evenly.
            EXPECT_EQ(0, std::memcmp(d.buf.get(), full.data(), w * 3 * (h / 4)));
            const uint8_t* last = d.buf.get() + w * 3 * (h - 1);
            for (uint32_t x = 1; x < w; ++x) EXPECT_EQ(last[3 * x], last[0]) << x;
        }
    }
    // A header cut short is not a picture.
    const Bytes file = Encode(rgb, w, h);
    for (size_t keep : {2, 40}) EXPECT_EQ(Decode(Bytes(file.begin(), file.begin() + keep)).error, 9u) << keep;
}

TEST(JpegRobust, HugeDeclaredSizesFailWithoutAllocating) {
    const Bytes small = Encode(Photo(16, 16, 3), 16, 16), smallProgressive = Encode(Photo(16, 16, 3), 16, 16, 24, 1);
    const Bytes huge = WithFrameSize(small, 65500, 65500);
    auto error = [&](const Bytes& file, uint32_t den) { ScaleScope scale(1, den); return Decode(file).error; };
    // 12.8 GB of pixels: refused before any of it is asked for.
    EXPECT_EQ(error(huge, 1), 1u);
    // A progressive file keeps all coefficients of the full size, scaled or not.
    EXPECT_EQ(error(WithFrameSize(smallProgressive, 65500, 65500), 8), 1u);
    // Scaled down, a baseline file that size needs little: it decodes.
    EXPECT_EQ(error(WithFrameSize(small, 4000, 3000), 8), 0u);
    // Below the limit, in a process that cannot hold gigabytes: still clean.
    if (!kSanitized) {
        const Bytes wide = WithFrameSize(small, 65500, 8000);  // 1.5 GB at full size
        EXPECT_EQ(InCappedChild(400ull << 20, [&]() { return int(error(wide, 1)); }), 1);
    }
}

// Every part of a picture, however placed, is the same pixels as the same
// part of the whole decode: any sampling, colour kind, layout and scale.
TEST(JpegRegion, EqualsTheSamePartOfTheWholeDecode) {
    const uint32_t w = 203, h = 157;  // not a whole number of blocks either way
    struct File { const char* name; Bytes data; uint32_t depth, flags, bpp; };
    const Bytes h2v2 = Encode(Photo(w, h, 3, 21), w, h, 24, 0, 90);
    const Bytes cmyk = Encode(Photo(w, h, 4, 22), w, h, 32, 0, 90);
    const File files[] = {
        {"4:2:0", h2v2, 24, 0, 3},
        {"4:2:0 as B, G, R in padded rows", h2v2, 24, IS_JPG_READ_PAD_BGR, 3},
        {"4:2:0 as a DIB", h2v2, 24, IS_JPG_READ_DIB, 3},
        {"4:2:0 as Y, Cb, Cr", h2v2, 24, IS_JPG_READ_YCBCR, 3},
        {"progressive 4:2:0", Encode(Photo(w, h, 3, 23), w, h, 24, IS_JPG_WRITE_PROGRESSIVE, 90), 24, 0, 3},
        {"4:2:2", CjpegPhoto(w, h, "-sample 2x1", 24), 24, 0, 3},
        {"4:4:0", CjpegPhoto(w, h, "-sample 1x2", 25), 24, 0, 3},
        {"4:4:4 with restart markers", CjpegPhoto(w, h, "-sample 1x1 -restart 1", 26), 24, 0, 3},
        {"4:1:1", CjpegPhoto(w, h, "-sample 4x1", 27), 24, 0, 3},
        {"grey", Encode(Photo(w, h, 1, 28), w, h, 8), 8, 0, 1},
        {"grey as RGB", Encode(Photo(w, h, 1, 28), w, h, 8), 24, 0, 3},
        {"CMYK as stored", cmyk, 32, IS_JPG_READ_RAW_CMYK, 4},
        {"CMYK as RGB", cmyk, 24, 0, 3},
    };
    // Parts as fractions of the picture (x, y, w, h in 1/12ths), and some
    // of a fixed size; parts running off the picture are cut to it.
    const struct Part { const char* name; uint32_t x, y, w, h; bool fixed; } parts[] = {
        {"whole", 0, 0, 12, 12, false},        {"top-left pixel", 0, 0, 1, 1, true},
        {"top-right corner", 9, 0, 3, 2, false}, {"bottom-left corner", 0, 10, 5, 2, false},
        {"bottom-right pixel", 12, 12, 1, 1, true}, {"centre", 4, 4, 4, 4, false},
        {"one column", 7, 0, 1, 12, false},    {"one row", 0, 5, 12, 1, true},
        {"off the right and bottom", 8, 9, 100, 100, true}, {"odd place and size", 5, 3, 17, 11, true},
    };
    for (const File& f : files) for (uint32_t den : {1u, 2u, 8u}) {
        ScaleScope scale(1, den);
        const ReadResult whole = Decode(f.data, f.depth, f.flags);
        ASSERT_TRUE(whole.buf) << f.name << " " << whole.error;
        const Bytes all = PlainRows(whole, f.bpp, f.flags);
        const uint32_t W = whole.width, H = whole.height;
        for (const Part& p : parts) {
            SCOPED_TRACE(std::string(f.name) + " at 1/" + std::to_string(den) + ", " + p.name);
            ISRegion r{p.x * W / 12, p.y * H / 12, p.fixed ? p.w : std::max(1u, p.w * W / 12),
                       p.fixed ? p.h : std::max(1u, p.h * H / 12)};
            r.left = std::min(r.left, W - 1);
            r.top = std::min(r.top, H - 1);
            const uint32_t cw = std::min(r.width, W - r.left), ch = std::min(r.height, H - r.top);
            const ReadResult part = DecodeRegion(f.data, r, f.depth, f.flags);
            ASSERT_TRUE(part.buf) << part.error;
            EXPECT_EQ(part.error, 0u);
            ASSERT_EQ(part.width * 100000 + part.height, cw * 100000 + ch);
            if (f.flags & IS_JPG_READ_DIB) { EXPECT_EQ(Get32(Bytes(part.buf.get(), part.buf.get() + 12), 4), cw); }
            ASSERT_EQ(PlainRows(part, f.bpp, f.flags), Cut(all, W, f.bpp, r.left, r.top, cw, ch));
        }
    }
}

// Tiny pictures, refused parts and damaged files: a part of a cut-off file is that part of its whole decode (filled
// where the data ran out); no header is an error; a huge declared picture is refused even for a small part, since
// reaching it decodes every row above.
TEST(JpegRegion, TinyRefusedAndDamaged) {
    for (uint32_t side : {1u, 2u, 9u}) {
        const Bytes file = Encode(Photo(side, side, 3, side), side, side);
        const Bytes all = DecodePixels(file);
        const ReadResult d = DecodeRegion(file, {side - 1, side - 1, 5, 5});
        EXPECT_EQ(d.width * 100 + d.height, 101u);
        EXPECT_EQ(d.Data(3), Bytes(all.end() - 3, all.end())) << side;
    }
    // Refused before anything is decoded: error 5, nothing given, the size untouched.
    const Bytes file = Encode(Photo(40, 30, 3), 40, 30);
    const struct Case { const char* name; ISRegion r; uint32_t depth; } cases[] = {
        {"left past the picture", {40, 0, 1, 1}, 24}, {"top past the picture", {0, 30, 1, 1}, 24},
        {"no width", {3, 3, 0, 4}, 24},   {"no height", {3, 3, 4, 0}, 24},
        {"far outside", {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 24}, {"bit depth 16", {0, 0, 4, 4}, 16},
    };
    for (const Case& c : cases) {
        const ReadResult d = DecodeRegion(file, c.r, c.depth);
        EXPECT_FALSE(d.buf) << c.name;
        EXPECT_EQ(d.error, 5u) << c.name;
        EXPECT_EQ(d.width, 0xDEADu) << c.name;
    }
    // Parts run to the picture's end, however far they reach.
    const ReadResult end = DecodeRegion(file, {39, 29, 0xFFFFFFFF, 0xFFFFFFFF});
    EXPECT_EQ(end.width * 100 + end.height, 101u);
    uint32_t x = 0;
    const ISRegion r{0, 0, 1, 1};
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE s) { return IS40_ReadJPGRegion(s, nullptr, &x, &x, 24, 0); }), 5);
    EXPECT_FAILS_WITH(WithMemorySource(file, [&](ISHANDLE s) { return IS40_ReadJPGRegion(s, &r, &x, nullptr, 24, 0); }), 5);
    EXPECT_EQ(DecodeRegion(WithFrameSize(Encode(Photo(16, 16, 3), 16, 16), 65500, 65500), {0, 0, 8, 8}).error, 1u);
    const uint32_t w = 120, h = 96;
    for (uint32_t flags : {0u, uint32_t(IS_JPG_WRITE_PROGRESSIVE)}) {
        const Bytes full = Encode(Pattern(w, h, 3, 31), w, h, 24, flags);
        for (uint32_t tenths = 1; tenths < 10; tenths += 2) {
            SCOPED_TRACE(std::to_string(tenths) + "/10 of the file, flags " + std::to_string(flags));
            const Bytes cut(full.begin(), full.begin() + std::ptrdiff_t(full.size() * tenths / 10));
            const ReadResult whole = Decode(cut);
            if (!whole.buf) {
                // Cut inside a later scan's header: no part either.
                EXPECT_EQ(whole.error, 9u);
                EXPECT_EQ(DecodeRegion(cut, {0, 0, 8, 8}).error, 9u);
                continue;
            }
            const Bytes all = whole.Data(size_t(w) * h * 3);
            for (const ISRegion p : {ISRegion{0, 0, 30, 20}, ISRegion{50, 40, 21, 13}, ISRegion{90, 70, 30, 26}}) {
                const ReadResult part = DecodeRegion(cut, p);
                EXPECT_EQ(part.error, 0u);
                EXPECT_EQ(part.Data(size_t(p.width) * p.height * 3), Cut(all, w, 3, p.left, p.top, p.width, p.height))
                    << p.left << "," << p.top;
            }
        }
    }
}
