// Image operations: resizing, quarter turns, fills, overlays, palette
// expansion and the packed-DIB conversions.
#include "isframe.h"
#include "testutil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace vstest;

namespace {

using Words = std::vector<uint16_t>;

// A smooth two-dimensional gradient with a little structure per channel.
Bytes Gradient(uint32_t w, uint32_t h, uint32_t ch) {
    Bytes b(static_cast<size_t>(w) * h * ch);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < ch; ++c)
                b[(static_cast<size_t>(y) * w + x) * ch + c] =
                    static_cast<uint8_t>((x * 255 / std::max(1u, w - 1) + y * 97 / std::max(1u, h - 1) + 40 * c) % 256);
    return b;
}

Words Gradient16(uint32_t w, uint32_t h, uint32_t ch) {
    Words b(static_cast<size_t>(w) * h * ch);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (uint32_t c = 0; c < ch; ++c)
                b[(static_cast<size_t>(y) * w + x) * ch + c] =
                    static_cast<uint16_t>((x * 65535ull / std::max(1u, w - 1) + y * 9973ull + 11111ull * c) % 65536);
    return b;
}

const uint8_t* U8(const Words& w) { return reinterpret_cast<const uint8_t*>(w.data()); }
uint8_t* U8(Words& w) { return reinterpret_cast<uint8_t*>(w.data()); }

bool Resize(const Bytes& src, uint32_t sw, uint32_t sh, Bytes& dst, uint32_t dw, uint32_t dh, uint32_t ch,
            uint32_t mode) {
    dst.assign(static_cast<size_t>(dw) * dh * ch, 0);
    return IS40_ResizeImage(src.data(), sw, sh, sw * ch, dst.data(), dw, dh, dw * ch, ch, mode, 0) != 0;
}

bool Resize16(const Words& src, uint32_t sw, uint32_t sh, Words& dst, uint32_t dw, uint32_t dh, uint32_t ch,
              uint32_t mode) {
    dst.assign(static_cast<size_t>(dw) * dh * ch, 0);
    return IS40_ResizeImage(U8(src), sw, sh, sw * ch * 2, U8(dst), dw, dh, dw * ch * 2, ch, mode, 1) != 0;
}

// The bilinear value of the definition, in doubles: sample position
// i x ratio, the ratio shrunk when enlarging, neighbours clamped.
template <typename Get>
double BilinearReference(Get get, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, uint32_t x, uint32_t y) {
    auto ratio = [](uint32_t s, uint32_t d) {
        double r = double(s) / d;
        return s < d ? (s - r) / d : r;
    };
    const double fx = x * ratio(sw, dw), fy = y * ratio(sh, dh);
    const double ix = std::floor(fx), iy = std::floor(fy);
    const double ax = fx - ix, ay = fy - iy;
    auto cx = [&](double v) { return static_cast<uint32_t>(std::min<double>(v, sw - 1)); };
    auto cy = [&](double v) { return static_cast<uint32_t>(std::min<double>(v, sh - 1)); };
    return get(cx(ix), cy(iy)) * (1 - ax) * (1 - ay) + get(cx(ix + 1), cy(iy)) * ax * (1 - ay) +
           get(cx(ix), cy(iy + 1)) * (1 - ax) * ay + get(cx(ix + 1), cy(iy + 1)) * ax * ay;
}

// Rounded to nearest, ties to even; a value this close to a half may
// round either way in fixed point.
bool MatchesRounded(double ref, uint32_t got) {
    const double lower = std::floor(ref);
    if (std::fabs(ref - lower - 0.5) < 1e-4) return got == lower || got == lower + 1;
    return got == static_cast<uint32_t>(std::nearbyint(ref));
}

}  // namespace

// ---- resize: argument checks -------------------------------------------------

TEST(OpsResizeArgs, BadArgumentsAreErrorFive) {
    Bytes src(4 * 4 * 3, 7), dst(2 * 2 * 3, 0);
    struct Case {
        const char* what;
        const uint8_t* s;
        uint32_t sw, sh, ss;
        uint8_t* d;
        uint32_t dw, dh, ds, bpp, mode;
    } cases[] = {
        {"null source", nullptr, 4, 4, 12, dst.data(), 2, 2, 6, 3, 16},
        {"null destination", src.data(), 4, 4, 12, nullptr, 2, 2, 6, 3, 16},
        {"zero source width", src.data(), 0, 4, 12, dst.data(), 2, 2, 6, 3, 16},
        {"zero destination height", src.data(), 4, 4, 12, dst.data(), 2, 0, 6, 3, 18},
        {"two bytes per pixel", src.data(), 4, 4, 12, dst.data(), 2, 2, 6, 2, 16},
        {"zero bytes per pixel", src.data(), 4, 4, 12, dst.data(), 2, 2, 6, 0, 14},
        {"five bytes per pixel", src.data(), 4, 4, 20, dst.data(), 2, 2, 10, 5, 18},
        {"mode 19", src.data(), 4, 4, 12, dst.data(), 2, 2, 6, 3, 19},
        {"mode far out", src.data(), 4, 4, 12, dst.data(), 2, 2, 6, 3, 0xFFFFFFFFu},
        {"short source stride", src.data(), 4, 4, 11, dst.data(), 2, 2, 6, 3, 16},
        {"short destination stride", src.data(), 4, 4, 12, dst.data(), 2, 2, 5, 3, 18},
        {"box enlarging", src.data(), 2, 2, 6, src.data() + 12, 4, 1, 12, 3, 14},
        {"width overflows a row", src.data(), 0xFFFFFFFFu, 1, 12, dst.data(), 2, 2, 6, 4, 16},
    };
    for (const Case& c : cases) {
        for (uint32_t mode : {c.mode}) {
            EXPECT_FALSE(IS40_ResizeImage(c.s, c.sw, c.sh, c.ss, c.d, c.dw, c.dh, c.ds, c.bpp, mode, 0)) << c.what;
            EXPECT_EQ(IS40_GetLastError(), 5u) << c.what;
        }
    }
    EXPECT_TRUE(IS40_ResizeImage(src.data(), 4, 4, 12, dst.data(), 2, 2, 6, 3, 16, 0));
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

TEST(OpsResizeArgs, EveryModeChecksStrides) {
    Bytes src(8 * 8 * 4, 1), dst(8 * 8 * 4, 0);
    for (uint32_t mode = 0; mode <= 18; ++mode) {
        EXPECT_FALSE(IS40_ResizeImage(src.data(), 8, 8, 31, dst.data(), 4, 4, 16, 4, mode, 0)) << mode;
        EXPECT_EQ(IS40_GetLastError(), 5u) << mode;
        // 16-bit samples need twice the row.
        EXPECT_FALSE(IS40_ResizeImage(src.data(), 8, 8, 32, dst.data(), 4, 4, 32, 4, mode, 1)) << mode;
        EXPECT_EQ(IS40_GetLastError(), 5u) << mode;
    }
}

TEST(OpsResizeArgs, WorkTablesOutOfMemoryIsErrorOne) {
    Bytes src = Gradient(50, 40, 3), dst(20 * 10 * 3);
    for (uint32_t mode : {0u, 8u, 14u, 15u, 16u, 17u, 18u}) {
        ISSetAllocFailAfter(0);
        const IS_BOOL ok = IS40_ResizeImage(src.data(), 50, 40, 150, dst.data(), 20, 10, 60, 3, mode, 0);
        const uint32_t err = IS40_GetLastError();
        ISSetAllocFailAfter(-1);
        EXPECT_FALSE(ok) << mode;
        EXPECT_EQ(err, 1u) << mode;
    }
}

// ---- resize: box reduction (14) ------------------------------------------------

namespace {
// Mode 14 by its definition: n x n boxes at the running sums of the ratios.
Bytes BoxReference(const Bytes& s, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh, uint32_t ch) {
    const double xr = double(sw) / dw, yr = double(sh) / dh;
    const uint32_t n = static_cast<uint32_t>(std::min(std::floor(xr), std::floor(yr)));
    Bytes out(static_cast<size_t>(dw) * dh * ch);
    double sy = 0;
    for (uint32_t j = 0; j < dh; ++j, sy += yr) {
        double sx = 0;
        for (uint32_t i = 0; i < dw; ++i, sx += xr) {
            for (uint32_t c = 0; c < ch; ++c) {
                uint32_t sum = 0;
                for (uint32_t v = 0; v < n; ++v)
                    for (uint32_t u = 0; u < n; ++u)
                        sum += s[((static_cast<size_t>(sy) + v) * sw + static_cast<size_t>(sx) + u) * ch + c];
                out[(static_cast<size_t>(j) * dw + i) * ch + c] = static_cast<uint8_t>(sum / (n * n));
            }
        }
    }
    return out;
}
}  // namespace

TEST(OpsResizeBox, WholeRatioAveragesExactBlocks) {
    const Bytes src = Pattern(640, 480, 3, 5);
    Bytes dst;
    ASSERT_TRUE(Resize(src, 640, 480, dst, 160, 120, 3, 14));
    for (uint32_t j = 0; j < 120; j += 7)
        for (uint32_t i = 0; i < 160; i += 3)
            for (uint32_t c = 0; c < 3; ++c) {
                uint32_t sum = 0;
                for (uint32_t v = 0; v < 4; ++v)
                    for (uint32_t u = 0; u < 4; ++u) sum += src[((4 * j + v) * 640 + 4 * i + u) * 3 + c];
                ASSERT_EQ(dst[(j * 160 + i) * 3 + c], sum / 16) << i << "," << j;
            }
}

TEST(OpsResizeBox, FractionalRatioUsesSmallerBoxAtTruncatedPositions) {
    // Ratios 3.125 and 2.5: 2 x 2 boxes at trunc(3.125 i), trunc(2.5 j).
    const Bytes src = Pattern(500, 300, 3, 6);
    Bytes dst;
    ASSERT_TRUE(Resize(src, 500, 300, dst, 160, 120, 3, 14));
    for (uint32_t j = 0; j < 120; ++j)
        for (uint32_t i = 0; i < 160; ++i)
            for (uint32_t c = 0; c < 3; ++c) {
                const uint32_t x = static_cast<uint32_t>(3.125 * i), y = static_cast<uint32_t>(2.5 * j);
                uint32_t sum = src[(y * 500 + x) * 3 + c] + src[(y * 500 + x + 1) * 3 + c] +
                               src[((y + 1) * 500 + x) * 3 + c] + src[((y + 1) * 500 + x + 1) * 3 + c];
                ASSERT_EQ(dst[(j * 160 + i) * 3 + c], sum / 4) << i << "," << j;
            }
}

TEST(OpsResizeBox, MatchesDefinitionForOddSizesAndChannels) {
    const struct { uint32_t sw, sh, dw, dh; } sizes[] = {{97, 61, 13, 7}, {31, 17, 30, 16}, {200, 3, 7, 1},
                                                         {5, 80, 5, 9}, {1000, 10, 3, 3}};
    for (const auto& z : sizes) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            const Bytes src = Pattern(z.sw, z.sh, ch, z.sw + ch);
            Bytes dst;
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, ch, 14));
            EXPECT_EQ(dst, BoxReference(src, z.sw, z.sh, z.dw, z.dh, ch)) << z.sw << "x" << z.sh << " ch " << ch;
        }
    }
}

TEST(OpsResizeBox, EnlargingFailsAndRatioLimitHolds) {
    const Bytes small = Pattern(160, 120, 3);
    Bytes dst;
    EXPECT_FALSE(Resize(small, 160, 120, dst, 320, 240, 3, 14));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(Resize(small, 160, 120, dst, 80, 121, 3, 14));
    EXPECT_EQ(IS40_GetLastError(), 5u);

    // 8-bit sums must fit 32 bits: xr x yr above 16843009 is refused.
    Bytes line(20000000, 255);
    EXPECT_FALSE(Resize(line, 20000000, 1, dst, 1, 1, 1, 14));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    Bytes square(4096u * 4096u, 255);
    ASSERT_TRUE(Resize(square, 4096, 4096, dst, 1, 1, 1, 14));
    EXPECT_EQ(dst[0], 255);

    // 16-bit: the limit is 0xFFFFFFFF / 65535 = 65537.
    Words big(300 * 300, 65535), out;
    EXPECT_FALSE(Resize16(big, 300, 300, out, 1, 1, 1, 14));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    Words ok(256 * 256, 65535);
    ASSERT_TRUE(Resize16(ok, 256, 256, out, 1, 1, 1, 14));
    EXPECT_EQ(out[0], 65535);
}

TEST(OpsResizeBox, SixteenBitSamplesAverageAsIntegers) {
    const Words src = Gradient16(37, 23, 3);
    Words dst;
    ASSERT_TRUE(Resize16(src, 37, 23, dst, 8, 5, 3, 14));
    const double xr = 37.0 / 8, yr = 23.0 / 5;
    const uint32_t n = 4;
    for (uint32_t j = 0; j < 5; ++j)
        for (uint32_t i = 0; i < 8; ++i)
            for (uint32_t c = 0; c < 3; ++c) {
                uint64_t sum = 0;
                const uint32_t x = static_cast<uint32_t>(i * xr), y = static_cast<uint32_t>(j * yr);
                for (uint32_t v = 0; v < n; ++v)
                    for (uint32_t u = 0; u < n; ++u) sum += src[((y + v) * 37 + x + u) * 3 + c];
                ASSERT_EQ(dst[(j * 8 + i) * 3 + c], sum / 16) << i << "," << j;
            }
}

// ---- resize: equal sizes, nearest (18) ------------------------------------

TEST(OpsResizeCopy, EqualSizesCopyUnchanged) {
    const uint32_t w = 13, h = 9, ch = 3;
    for (uint32_t mode = 0; mode <= 18; ++mode) {
        for (uint32_t pad : {0u, 5u}) {
            const uint32_t ss = w * ch + pad, ds = w * ch + (mode % 2 ? 0 : pad);
            Bytes src = Pattern(ss, h, 1, mode + 1), dst(static_cast<size_t>(ds) * h, 0xAB);
            ASSERT_TRUE(IS40_ResizeImage(src.data(), w, h, ss, dst.data(), w, h, ds, ch, mode, 0)) << mode;
            for (uint32_t y = 0; y < h; ++y)
                ASSERT_EQ(0, std::memcmp(&src[y * ss], &dst[y * ds], w * ch)) << "mode " << mode << " row " << y;
        }
    }
}

TEST(OpsResizeNearest, TakesColumnsAndRowsByIntegerRatio) {
    const Bytes four = {10, 20, 30, 40};
    Bytes dst;
    ASSERT_TRUE(Resize(four, 4, 1, dst, 2, 1, 1, 18));
    EXPECT_EQ(dst, (Bytes{10, 30}));

    for (uint32_t ch : {1u, 3u, 4u}) {
        const struct { uint32_t sw, sh, dw, dh; } sizes[] = {{17, 11, 5, 4}, {3, 2, 10, 7}, {6000, 2, 1280, 1}};
        for (const auto& z : sizes) {
            const Bytes src = Pattern(z.sw, z.sh, ch, ch);
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, ch, 18));
            for (uint64_t j = 0; j < z.dh; ++j)
                for (uint64_t i = 0; i < z.dw; ++i)
                    for (uint32_t c = 0; c < ch; ++c)
                        ASSERT_EQ(dst[(j * z.dw + i) * ch + c], src[((j * z.sh / z.dh) * z.sw + i * z.sw / z.dw) * ch + c]);
        }
    }
}

TEST(OpsResizeNearest, SixteenBitMatchesEightBitScaled) {
    const Bytes src8 = Pattern(23, 19, 3, 9);
    Words src16(src8.begin(), src8.end());
    for (uint16_t& v : src16) v = static_cast<uint16_t>(v * 257);
    Bytes dst8;
    Words dst16;
    ASSERT_TRUE(Resize(src8, 23, 19, dst8, 40, 7, 3, 18));
    ASSERT_TRUE(Resize16(src16, 23, 19, dst16, 40, 7, 3, 18));
    for (size_t k = 0; k < dst8.size(); ++k) ASSERT_EQ(dst16[k], dst8[k] * 257) << k;
}

// ---- resize: bilinear (16) -----------------------------------------------

TEST(OpsResizeBilinear, EnlargingRatioAndTiesToEven) {
    // rx = (2 - 0.5) / 4 = 0.375: positions 0, 0.375, 0.75, 1.125 (clamped).
    Bytes dst;
    ASSERT_TRUE(Resize(Bytes{0, 200}, 2, 1, dst, 4, 1, 1, 16));
    EXPECT_EQ(dst, (Bytes{0, 75, 150, 200}));
    // 0.375 x 4 = 1.5 rounds to 2; 0.375 x 12 = 4.5 rounds to 4.
    ASSERT_TRUE(Resize(Bytes{0, 4}, 2, 1, dst, 4, 1, 1, 16));
    EXPECT_EQ(dst, (Bytes{0, 2, 3, 4}));
    ASSERT_TRUE(Resize(Bytes{0, 12}, 2, 1, dst, 4, 1, 1, 16));
    EXPECT_EQ(dst, (Bytes{0, 4, 9, 12}));
    // Same rule down the rows.
    ASSERT_TRUE(Resize(Bytes{0, 12}, 1, 2, dst, 1, 4, 1, 16));
    EXPECT_EQ(dst, (Bytes{0, 4, 9, 12}));
    // Half way in both directions: (1 + 2 + 4 + 8) / 4 = 3.75.
    ASSERT_TRUE(Resize(Bytes{1, 2, 4, 8}, 2, 2, dst, 4, 4, 1, 16));
    EXPECT_EQ(dst[0], 1);
}

TEST(OpsResizeBilinear, GradientMatchesDefinition) {
    const struct { uint32_t sw, sh, dw, dh; } sizes[] = {
        {64, 48, 16, 12}, {97, 61, 40, 25}, {13, 9, 40, 30}, {2, 2, 7, 5}, {300, 7, 11, 19}, {6, 50, 6, 17},
        {1, 1, 5, 3},     {40, 1, 9, 1},    {999, 4, 1, 1}};
    for (const auto& z : sizes) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            const Bytes src = Gradient(z.sw, z.sh, ch);
            Bytes dst;
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, ch, 16));
            for (uint32_t y = 0; y < z.dh; ++y)
                for (uint32_t x = 0; x < z.dw; ++x)
                    for (uint32_t c = 0; c < ch; ++c) {
                        auto get = [&](uint32_t u, uint32_t v) { return double(src[(v * z.sw + u) * ch + c]); };
                        const double ref = BilinearReference(get, z.sw, z.sh, z.dw, z.dh, x, y);
                        ASSERT_TRUE(MatchesRounded(ref, dst[(y * z.dw + x) * ch + c]))
                            << z.sw << "x" << z.sh << "->" << z.dw << "x" << z.dh << " at " << x << "," << y << " ref "
                            << ref << " got " << int(dst[(y * z.dw + x) * ch + c]);
                    }
        }
    }
}

TEST(OpsResizeBilinear, SixteenBitMatchesDefinition) {
    const struct { uint32_t sw, sh, dw, dh; } sizes[] = {{64, 48, 16, 12}, {13, 9, 40, 30}, {2, 1, 4, 1}};
    for (const auto& z : sizes) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            const Words src = Gradient16(z.sw, z.sh, ch);
            Words dst;
            ASSERT_TRUE(Resize16(src, z.sw, z.sh, dst, z.dw, z.dh, ch, 16));
            for (uint32_t y = 0; y < z.dh; ++y)
                for (uint32_t x = 0; x < z.dw; ++x)
                    for (uint32_t c = 0; c < ch; ++c) {
                        auto get = [&](uint32_t u, uint32_t v) { return double(src[(v * z.sw + u) * ch + c]); };
                        const double ref = BilinearReference(get, z.sw, z.sh, z.dw, z.dh, x, y);
                        ASSERT_TRUE(MatchesRounded(ref, dst[(y * z.dw + x) * ch + c])) << x << "," << y;
                    }
        }
    }
}

TEST(OpsResizeBilinear, PaddedStridesLeavePaddingAlone) {
    const uint32_t sw = 21, sh = 14, dw = 9, dh = 6, ss = sw * 3 + 3, ds = dw * 3 + 7;
    Bytes src = Pattern(ss, sh, 1, 3), dst(static_cast<size_t>(ds) * dh, 0xEE);
    Bytes packed(static_cast<size_t>(sw) * sh * 3);
    for (uint32_t y = 0; y < sh; ++y) std::memcpy(&packed[y * sw * 3], &src[y * ss], sw * 3);
    Bytes expect;
    ASSERT_TRUE(Resize(packed, sw, sh, expect, dw, dh, 3, 16));
    ASSERT_TRUE(IS40_ResizeImage(src.data(), sw, sh, ss, dst.data(), dw, dh, ds, 3, 16, 0));
    for (uint32_t y = 0; y < dh; ++y) {
        EXPECT_EQ(0, std::memcmp(&dst[y * ds], &expect[y * dw * 3], dw * 3)) << y;
        for (uint32_t k = dw * 3; k < ds; ++k) EXPECT_EQ(dst[y * ds + k], 0xEE);
    }
}

// ---- resize: filtered modes (0 to 13, 15, 17) -------------------------------

namespace {
double FilterRef(uint32_t mode, double x) {
    const double a = std::fabs(x), pi = M_PI;
    auto sinc = [&](double t) { return t == 0 ? 1.0 : std::sin(pi * t) / (pi * t); };
    switch (mode) {
        case 0: return x >= -0.5 && x < 0.5;
        case 1: return a < 1 ? 1 - a : 0;
        case 2: return a < 1 ? 0.54 + 0.46 * std::cos(pi * x) : 0;
        case 3: return a < 1.25 ? std::exp(-2 * x * x) * std::sqrt(2 / pi) : 0;
        case 4: return a < 0.5 ? 0.75 - x * x : a < 1.5 ? 0.5 * (a - 1.5) * (a - 1.5) : 0;
        case 5:
        case 7: return a < 1 ? 0.5 * a * a * a - x * x + 2.0 / 3 : a < 2 ? std::pow(2 - a, 3) / 6 : 0;
        case 6:
        case 11: return a < 1 ? (2 * a - 3) * x * x + 1 : 0;
        case 8: return a < 3 ? sinc(x) * sinc(x / 3) : 0;
        case 9:
            return a < 1   ? (7 * a * a * a - 12 * x * x + 16.0 / 3) / 6
                   : a < 2 ? (-7.0 / 3 * a * a * a + 12 * x * x - 20 * a + 32.0 / 3) / 6
                           : 0;
        case 10: return a < 4 ? sinc(x) : 0;
        case 12: return a < 1 ? 0.5 + 0.5 * std::cos(pi * x) : 0;
        default: return a < 1 ? 0.5 * ((3 * a - 5) * x * x + 2) : a < 2 ? 0.5 * (((5 - a) * a - 8) * a + 4) : 0;
    }
}

// Direct two-dimensional sum over every source pixel: pixel centres at
// k + 0.5, the filter widened by the ratio when shrinking, weights of the
// pixels inside the picture normalised.
double FilteredRef(const Bytes& s, uint32_t sw, uint32_t sh, uint32_t ch, uint32_t dw, uint32_t dh, uint32_t mode,
                   uint32_t x, uint32_t y, uint32_t c) {
    const double sx = double(sw) / dw, sy = double(sh) / dh;
    const double wx = std::max(1.0, sx), wy = std::max(1.0, sy);
    const double cx = (x + 0.5) * sx, cy = (y + 0.5) * sy;
    double num = 0, den = 0;
    for (uint32_t v = 0; v < sh; ++v) {
        const double fy = FilterRef(mode, (v + 0.5 - cy) / wy);
        if (fy == 0) continue;
        for (uint32_t u = 0; u < sw; ++u) {
            const double f = FilterRef(mode, (u + 0.5 - cx) / wx) * fy;
            num += f * s[(v * sw + u) * ch + c];
            den += f;
        }
    }
    return std::min(255.0, std::max(0.0, std::floor(num / den + 0.5)));
}
}  // namespace

TEST(OpsResizeFiltered, EveryFilterMatchesDirectSum) {
    const struct { uint32_t sw, sh, dw, dh; } sizes[] = {{23, 17, 9, 7}, {11, 8, 29, 19}, {30, 5, 12, 11}};
    for (uint32_t mode = 0; mode <= 13; ++mode) {
        for (const auto& z : sizes) {
            const Bytes src = Pattern(z.sw, z.sh, 3, mode + 2);
            Bytes dst;
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, 3, mode)) << mode;
            int worst = 0;
            for (uint32_t y = 0; y < z.dh; ++y)
                for (uint32_t x = 0; x < z.dw; ++x)
                    for (uint32_t c = 0; c < 3; ++c) {
                        const double ref = FilteredRef(src, z.sw, z.sh, 3, z.dw, z.dh, mode, x, y, c);
                        worst = std::max(worst, std::abs(int(dst[(y * z.dw + x) * 3 + c]) - int(ref)));
                    }
            // Only the order of the sums differs.
            EXPECT_LE(worst, 1) << "mode " << mode << " " << z.sw << "x" << z.sh << "->" << z.dw << "x" << z.dh;
        }
    }
}

TEST(OpsResizeFiltered, FlatPicturesStayFlatUpToTheEdges) {
    for (uint32_t mode = 0; mode <= 18; ++mode) {
        if (mode == 14) continue;  // cannot enlarge
        for (bool wide : {false, true}) {
            const uint32_t sw = 19, sh = 13, dw = wide ? 47 : 7, dh = wide ? 31 : 5;
            Bytes src(sw * sh * 4);
            for (size_t k = 0; k < src.size(); ++k) src[k] = static_cast<uint8_t>(k % 4 == 3 ? 255 : 30 + 50 * (k % 4));
            Bytes dst;
            ASSERT_TRUE(Resize(src, sw, sh, dst, dw, dh, 4, mode)) << mode;
            for (size_t k = 0; k < dst.size(); ++k) ASSERT_EQ(dst[k], src[k % 4]) << "mode " << mode << " at " << k;

            Words s16(sw * sh * 3, 40000), d16;
            ASSERT_TRUE(Resize16(s16, sw, sh, d16, dw, dh, 3, mode)) << mode;
            for (uint16_t v : d16) ASSERT_EQ(v, 40000) << "16-bit mode " << mode;
        }
    }
}

TEST(OpsResizeFiltered, AreaModeIsBoxForWholeRatiosAndAveragesOtherwise) {
    const Bytes src = Pattern(60, 40, 3, 4);
    Bytes a, b;
    ASSERT_TRUE(Resize(src, 60, 40, a, 20, 10, 3, 15));
    ASSERT_TRUE(Resize(src, 60, 40, b, 20, 10, 3, 14));
    EXPECT_EQ(a, b);

    // 7 -> 3: each output averages 7/3 source pixels, partly covered ones
    // by their share; 2 -> 3 enlarges the same way.
    for (const auto& z : {std::pair<uint32_t, uint32_t>{7, 3}, {2, 3}, {10, 4}}) {
        const Bytes row = Pattern(z.first, 1, 1, 7);
        ASSERT_TRUE(Resize(row, z.first, 1, a, z.second, 1, 1, 15));
        const double r = double(z.first) / z.second;
        for (uint32_t i = 0; i < z.second; ++i) {
            double sum = 0;
            for (uint32_t k = 0; k < z.first; ++k) {
                const double cover = std::min<double>(k + 1, (i + 1) * r) - std::max<double>(k, i * r);
                if (cover > 0) sum += cover * row[k];
            }
            EXPECT_NEAR(a[i], sum / r, 0.5 + 1e-9) << z.first << "->" << z.second << " at " << i;
        }
    }
}

TEST(OpsResizeFiltered, CubicModeFollowsStraightRamps) {
    // A cubic through a linear ramp is the ramp, so inside the picture
    // mode 17 agrees with bilinear.
    const uint32_t sw = 40, sh = 30;
    Bytes src(sw * sh);
    for (uint32_t y = 0; y < sh; ++y)
        for (uint32_t x = 0; x < sw; ++x) src[y * sw + x] = static_cast<uint8_t>(3 * x + 2 * y);
    Bytes cubic, linear;
    ASSERT_TRUE(Resize(src, sw, sh, cubic, 67, 51, 1, 17));
    ASSERT_TRUE(Resize(src, sw, sh, linear, 67, 51, 1, 16));
    for (uint32_t y = 3; y < 46; ++y)
        for (uint32_t x = 3; x < 62; ++x) EXPECT_NEAR(cubic[y * 67 + x], linear[y * 67 + x], 1) << x << "," << y;
}

// ---- quarter turns ---------------------------------------------------------

namespace {
Bytes Turn(const Bytes& src, uint32_t w, uint32_t h, uint32_t pb, uint32_t rotation, uint32_t flags = 0,
           uint32_t pad = 0) {
    const uint32_t dw = rotation == 1 ? w : h, dh = rotation == 1 ? h : w;
    const uint32_t ch = flags & 0x200 ? pb / 2 : pb;
    const uint32_t ds = dw * pb + pad;
    Bytes padded(static_cast<size_t>(ds) * dh, 0x5A);
    EXPECT_TRUE(IS40_QuickRotateImage(src.data(), w, h, w * pb, padded.data(), ds, rotation, ch, flags));
    Bytes out(static_cast<size_t>(dw) * dh * pb);
    for (uint32_t y = 0; y < dh; ++y) {
        std::memcpy(&out[y * dw * pb], &padded[y * ds], dw * pb);
        for (uint32_t k = dw * pb; k < ds; ++k) EXPECT_EQ(padded[y * ds + k], 0x5A);
    }
    return out;
}
}  // namespace

TEST(OpsRotate, ThreeByTwoQuarterTurn) {
    // a b c      d a
    // d e f  ->  e b
    //            f c
    const Bytes src = {'a', 'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(Turn(src, 3, 2, 1, 0), (Bytes{'d', 'a', 'e', 'b', 'f', 'c'}));
    EXPECT_EQ(Turn(src, 3, 2, 1, 1), (Bytes{'f', 'e', 'd', 'c', 'b', 'a'}));
    EXPECT_EQ(Turn(src, 3, 2, 1, 2), (Bytes{'c', 'f', 'b', 'e', 'a', 'd'}));
}

TEST(OpsRotate, EveryPixelLandsWhereTheDefinitionSays) {
    for (uint32_t pb : {1u, 3u, 4u}) {
        const uint32_t w = 131, h = 70;  // more than one tile each way
        const Bytes src = Pattern(w, h, pb, pb);
        for (uint32_t rot = 0; rot < 3; ++rot) {
            const Bytes out = Turn(src, w, h, pb, rot, 0, 5);
            const uint32_t dw = rot == 1 ? w : h;
            for (uint32_t r = 0; r < h; ++r)
                for (uint32_t c = 0; c < w; ++c) {
                    uint32_t dx = rot == 0 ? h - 1 - r : rot == 1 ? w - 1 - c : r;
                    uint32_t dy = rot == 0 ? c : rot == 1 ? h - 1 - r : w - 1 - c;
                    ASSERT_EQ(0, std::memcmp(&out[(dy * dw + dx) * pb], &src[(r * w + c) * pb], pb))
                        << "rotation " << rot << " pixel " << c << "," << r;
                }
        }
    }
}

TEST(OpsRotate, CompositionsGiveIdentity) {
    for (uint32_t flags : {0u, 0x200u}) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            const uint32_t pb = flags ? 2 * ch : ch;
            const uint32_t w = 77, h = 45;
            const Bytes src = Pattern(w, h, pb, 11);
            Bytes q = src;
            uint32_t cw = w, chh = h;
            for (int i = 0; i < 4; ++i) {
                q = Turn(q, cw, chh, pb, 0, flags);
                std::swap(cw, chh);
            }
            EXPECT_EQ(q, src) << "four quarter turns, pb " << pb;
            EXPECT_EQ(Turn(Turn(src, w, h, pb, 0, flags), h, w, pb, 2, flags), src) << "90 then 270";
            EXPECT_EQ(Turn(Turn(src, w, h, pb, 2, flags), h, w, pb, 0, flags), src) << "270 then 90";
            EXPECT_EQ(Turn(Turn(src, w, h, pb, 1, flags), w, h, pb, 1, flags), src) << "180 twice";
            EXPECT_EQ(Turn(Turn(src, w, h, pb, 0, flags), h, w, pb, 0, flags), Turn(src, w, h, pb, 1, flags));
        }
    }
}

TEST(OpsRotate, SixteenBitMovesWholeSamples) {
    // 2 x 1 of two-byte RGB samples: a quarter turn keeps each 6-byte pixel.
    const Bytes src = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(Turn(src, 2, 1, 6, 0, 0x200), src);
    EXPECT_EQ(Turn(src, 2, 1, 6, 1, 0x200), (Bytes{7, 8, 9, 10, 11, 12, 1, 2, 3, 4, 5, 6}));
}

TEST(OpsRotate, BadArguments) {
    Bytes a(64, 1), b(64, 0);
    EXPECT_FALSE(IS40_QuickRotateImage(nullptr, 2, 2, 6, b.data(), 6, 0, 3, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 2, 2, 6, nullptr, 6, 0, 3, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 2, 2, 6, b.data(), 6, 3, 3, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 2, 2, 6, b.data(), 6, 0, 2, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 3, 2, 9, b.data(), 5, 0, 3, 0));  // needs 6
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 3, 2, 9, b.data(), 6, 0, 3, 0x200));  // needs 12
    EXPECT_EQ(IS40_GetLastError(), 5u);
    // In place or overlapping buffers would read turned pixels back.
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 4, 4, 4, a.data(), 4, 1, 1, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_QuickRotateImage(a.data(), 4, 4, 4, a.data() + 15, 4, 0, 1, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_TRUE(IS40_QuickRotateImage(a.data(), 4, 4, 4, a.data() + 16, 4, 0, 1, 0));
    EXPECT_EQ(IS40_GetLastError(), 0u);
}

// ---- fill ------------------------------------------------------------------

namespace {
// Checks that exactly the pixels inside [x0, x1) x [y0, y1) carry px.
void ExpectFilled(const Bytes& img, uint32_t w, uint32_t h, uint32_t bpp, uint32_t stride, int x0, int y0, int x1,
                  int y1, const Bytes& px, uint8_t background) {
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < stride; ++x) {
            const uint32_t col = x / bpp;
            const bool inside = col < w && int(col) >= x0 && int(col) < x1 && int(y) >= y0 && int(y) < y1;
            const uint8_t want = inside ? px[x % bpp] : background;
            ASSERT_EQ(img[y * stride + x], want) << "byte " << x << " row " << y;
        }
}
}  // namespace

TEST(OpsFill, WholePictureAndClippedCorner) {
    const uint32_t w = 160, h = 120;
    Bytes img(w * h * 3, 0);
    ISRect all = {0, 0, 160, 120};
    ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, 3, w * 3, &all, 0x00B48B5C, 0));
    ExpectFilled(img, w, h, 3, w * 3, 0, 0, 160, 120, {0x5C, 0x8B, 0xB4}, 0);

    img.assign(w * h * 3, 0);
    ISRect corner = {150, 110, 200, 200};
    ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, 3, w * 3, &corner, 0x00112233, 0));
    ExpectFilled(img, w, h, 3, w * 3, 150, 110, 160, 120, {0x33, 0x22, 0x11}, 0);

    img.assign(w * h * 3, 0);
    ISRect negative = {-5, -7, 3, 2};
    ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, 3, w * 3, &negative, 0x00112233, 1));
    ExpectFilled(img, w, h, 3, w * 3, 0, 0, 3, 2, {0x11, 0x22, 0x33}, 0);
}

TEST(OpsFill, ChannelLayoutsAndPaddedRows) {
    const uint32_t w = 9, h = 6;
    for (uint32_t bpp : {1u, 3u, 4u}) {
        for (uint32_t colour : {0x80FFFFFFu, 0x00FFFFFFu, 0x44332211u}) {
            for (uint32_t flags : {0u, 1u}) {
                const uint32_t stride = w * bpp + 3;
                Bytes img(stride * h, 0xCD);
                ISRect r = {0, 0, 9, 6};
                ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, bpp, stride, &r, colour, flags));
                Bytes px;
                if (bpp == 1) {
                    px = {static_cast<uint8_t>(colour)};
                } else {
                    uint8_t rr = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
                    px = flags ? Bytes{b, g, rr} : Bytes{rr, g, b};
                    if (bpp == 4) px.push_back(static_cast<uint8_t>(colour >> 24));
                }
                ExpectFilled(img, w, h, bpp, stride, 0, 0, 9, 6, px, 0xCD);
            }
        }
    }
    // White on an unpadded 3-byte picture: the one-block fill.
    Bytes img(w * h * 3, 0);
    ISRect r = {0, 0, 9, 6};
    ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, 3, w * 3, &r, 0x00FFFFFF, 0));
    EXPECT_EQ(img, Bytes(w * h * 3, 0xFF));
}

TEST(OpsFill, EmptyAreasAndBadArguments) {
    Bytes img(10 * 10 * 3, 0x77);
    const Bytes before = img;
    for (ISRect r : {ISRect{5, 5, 5, 9}, ISRect{8, 8, 2, 2}, ISRect{20, 0, 30, 10}, ISRect{0, -9, 10, 0},
                     ISRect{INT32_MIN, INT32_MIN, INT32_MIN + 1, INT32_MAX}}) {
        EXPECT_TRUE(IS40_FillSolidRect(img.data(), 10, 10, 3, 30, &r, 0, 0));
        EXPECT_EQ(IS40_GetLastError(), 0u);
    }
    EXPECT_EQ(img, before);
    ISRect huge = {INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    EXPECT_TRUE(IS40_FillSolidRect(img.data(), 10, 10, 3, 30, &huge, 0x00010203, 0));
    ExpectFilled(img, 10, 10, 3, 30, 0, 0, 10, 10, {3, 2, 1}, 0);

    ISRect r = {0, 0, 1, 1};
    EXPECT_FALSE(IS40_FillSolidRect(nullptr, 10, 10, 3, 30, &r, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_FillSolidRect(img.data(), 10, 10, 3, 30, nullptr, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    for (uint32_t bpp : {0u, 2u, 5u, 8u}) {
        EXPECT_FALSE(IS40_FillSolidRect(img.data(), 10, 10, bpp, 80, &r, 0, 0)) << bpp;
        EXPECT_EQ(IS40_GetLastError(), 5u);
    }
    EXPECT_FALSE(IS40_FillSolidRect(img.data(), 10, 10, 3, 29, &r, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
}

// ---- overlay ---------------------------------------------------------------

namespace {
struct OverlayCase {
    uint32_t dw = 12, dh = 9, ow = 5, oh = 4, ch = 3;
    Bytes dst, ovl;
    OverlayCase(uint32_t seed = 1) {
        dst = Pattern(dw, dh, ch, seed);
        ovl = Pattern(ow, oh, ch, seed + 100);
    }
    bool Run(int32_t x, int32_t y, double opacity, uint32_t mode) {
        return IS40_OverlayImage(dst.data(), dw, dh, ch, dw * ch, ovl.data(), ow, oh, ow * ch, x, y, opacity, 14.0,
                                 mode, 0) != 0;
    }
};

// The expected destination after laying ovl at (x, y) with f per byte.
template <typename F>
Bytes Expected(const OverlayCase& c, int32_t x, int32_t y, F f) {
    Bytes out = c.dst;
    for (int v = 0; v < int(c.dh); ++v)
        for (int u = 0; u < int(c.dw); ++u) {
            if (u < x || u >= x + int(c.ow) || v < y || v >= y + int(c.oh)) continue;
            for (uint32_t k = 0; k < c.ch; ++k) {
                uint8_t& d = out[(v * c.dw + u) * c.ch + k];
                d = static_cast<uint8_t>(f(d, c.ovl[((v - y) * c.ow + (u - x)) * c.ch + k]));
            }
        }
    return out;
}
}  // namespace

TEST(OpsOverlay, OpaqueNormalCopiesTheClippedOverlay) {
    for (auto pos : {std::pair<int, int>{3, 2}, {-2, 0}, {9, 7}, {-4, -3}, {0, 0}}) {
        OverlayCase c;
        const Bytes want = Expected(c, pos.first, pos.second, [](int, int o) { return o; });
        ASSERT_TRUE(c.Run(pos.first, pos.second, 1.0, 0));
        EXPECT_EQ(c.dst, want) << pos.first << "," << pos.second;
    }
}

TEST(OpsOverlay, NegativePlacementAndOutsideOverlays) {
    // At x = -10 only the overlay's columns 10 and beyond reach the picture.
    Bytes dst(20 * 3 * 3, 0), ovl(15 * 3 * 3);
    for (size_t k = 0; k < ovl.size(); ++k) ovl[k] = static_cast<uint8_t>(k / 3 % 15);
    ASSERT_TRUE(IS40_OverlayImage(dst.data(), 20, 3, 3, 60, ovl.data(), 15, 3, 45, -10, 0, 1.0, 14.0, 0, 0));
    for (uint32_t x = 0; x < 20; ++x) EXPECT_EQ(dst[x * 3], x < 5 ? 10 + x : 0) << x;

    for (auto pos : {std::pair<int, int>{12, 0}, {-5, 0}, {0, 9}, {0, -4}, {INT32_MIN, INT32_MAX},
                     {INT32_MAX, INT32_MIN}}) {
        OverlayCase c;
        const Bytes before = c.dst;
        EXPECT_TRUE(c.Run(pos.first, pos.second, 1.0, 0)) << pos.first;
        EXPECT_EQ(IS40_GetLastError(), 0u);
        EXPECT_EQ(c.dst, before);
    }
}

TEST(OpsOverlay, NormalBlendUsesTruncatedTables) {
    for (double opacity : {0.5, 0.3, 0.999, 0.001}) {
        OverlayCase c(7);
        auto f = [&](int d, int o) { return int(std::trunc(o * opacity)) + int(std::trunc(d * (1 - opacity))); };
        const Bytes want = Expected(c, 2, 3, f);
        ASSERT_TRUE(c.Run(2, 3, opacity, 0));
        EXPECT_EQ(c.dst, want) << opacity;
    }
    // Opacity is limited to 0 ... 1.
    OverlayCase c;
    Bytes want = Expected(c, 1, 1, [](int, int o) { return o; });
    ASSERT_TRUE(c.Run(1, 1, 7.5, 0));
    EXPECT_EQ(c.dst, want);
    const Bytes before = c.dst;
    ASSERT_TRUE(c.Run(1, 1, -3.0, 0));
    EXPECT_EQ(c.dst, before);
}

TEST(OpsOverlay, AndModeOpaqueAndBlended) {
    {
        OverlayCase c(3);
        const Bytes want = Expected(c, 4, 2, [](int d, int o) { return d & o; });
        ASSERT_TRUE(c.Run(4, 2, 1.0, 2));
        EXPECT_EQ(c.dst, want);
    }
    for (double opacity : {0.6, 0.0, 0.25}) {
        OverlayCase c(4);
        auto f = [&](int d, int o) { return int(std::trunc((d & o) * opacity)) + int(std::trunc(d * (1 - opacity))); };
        const Bytes want = Expected(c, -1, 5, f);
        ASSERT_TRUE(c.Run(-1, 5, opacity, 2));
        EXPECT_EQ(c.dst, want) << opacity;
    }
}

TEST(OpsOverlay, FurtherModesFollowTheirRules) {
    struct Mode {
        uint32_t mode;
        int (*f)(int, int);
    } modes[] = {
        {3, [](int d, int o) { return d | o; }},
        {4, [](int d, int o) { return d ^ o; }},
        {5, [](int d, int o) { return std::min(255, d + o); }},
        {6, [](int d, int o) { return std::max(0, d - o); }},
        {7, [](int d, int o) { return std::min(d, o); }},
        {8, [](int d, int o) { return std::max(d, o); }},
        {9, [](int d, int o) { return std::abs(d - o); }},
        {10, [](int d, int o) { return d * o / 255; }},
        {11, [](int d, int o) { return 255 - (255 - d) * (255 - o) / 255; }},
    };
    for (const Mode& m : modes) {
        OverlayCase c(int(m.mode));
        const Bytes want = Expected(c, 1, 2, m.f);
        ASSERT_TRUE(c.Run(1, 2, 1.0, m.mode)) << m.mode;
        EXPECT_EQ(c.dst, want) << m.mode;

        OverlayCase h(int(m.mode));
        auto blended = [&](int d, int o) { return int(std::trunc(m.f(d, o) * 0.5)) + int(std::trunc(d * 0.5)); };
        const Bytes half = Expected(h, 1, 2, blended);
        ASSERT_TRUE(h.Run(1, 2, 0.5, m.mode)) << m.mode;
        EXPECT_EQ(h.dst, half) << m.mode;
    }
}

TEST(OpsOverlay, SixteenBitSamples) {
    Words dst(6 * 4 * 3), ovl(3 * 2 * 3);
    for (size_t k = 0; k < dst.size(); ++k) dst[k] = static_cast<uint16_t>(1000 * k + 7);
    for (size_t k = 0; k < ovl.size(); ++k) ovl[k] = static_cast<uint16_t>(60000 - 999 * k);
    Words want = dst;
    for (int v = 0; v < 2; ++v)
        for (int u = 0; u < 3; ++u)
            for (int k = 0; k < 3; ++k) {
                uint16_t& d = want[((v + 1) * 6 + u + 2) * 3 + k];
                const uint16_t o = ovl[(v * 3 + u) * 3 + k];
                d = static_cast<uint16_t>(std::trunc(o * 0.25) + std::trunc(d * 0.75));
            }
    ASSERT_TRUE(IS40_OverlayImage(U8(dst), 6, 4, 3, 36, U8(ovl), 3, 2, 18, 2, 1, 0.25, 14.0, 0, 1));
    EXPECT_EQ(dst, want);
}

TEST(OpsOverlay, BadArguments) {
    OverlayCase c;
    EXPECT_FALSE(IS40_OverlayImage(nullptr, 12, 9, 3, 36, c.ovl.data(), 5, 4, 15, 0, 0, 1.0, 14.0, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_OverlayImage(c.dst.data(), 12, 9, 3, 36, nullptr, 5, 4, 15, 0, 0, 1.0, 14.0, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_OverlayImage(c.dst.data(), 12, 9, 3, 36, c.dst.data(), 12, 9, 36, 0, 0, 1.0, 14.0, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    for (uint32_t mode : {1u, 12u, 30u, 31u}) {
        EXPECT_FALSE(c.Run(0, 0, 0.5, mode)) << mode;
        EXPECT_EQ(IS40_GetLastError(), 5u);
    }
    EXPECT_FALSE(c.Run(0, 0, std::nan(""), 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_OverlayImage(c.dst.data(), 12, 9, 2, 36, c.ovl.data(), 5, 4, 15, 0, 0, 1.0, 14.0, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
    EXPECT_FALSE(IS40_OverlayImage(c.dst.data(), 12, 9, 3, 36, c.ovl.data(), 5, 4, 14, 0, 0, 1.0, 14.0, 0, 0));
    EXPECT_EQ(IS40_GetLastError(), 5u);
}

// ---- palette expansion -----------------------------------------------------

// ---- packed DIBs -----------------------------------------------------------

namespace {
uint32_t Get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A packed DIB assembled field by field.
Bytes MakeDib(int32_t w, int32_t h, uint32_t bits, uint32_t compression, const Bytes& table, const Bytes& rows,
              const std::vector<uint32_t>& masks = {}, uint32_t used = 0) {
    Bytes d(40, 0);
    Put32(&d[0], 40);
    Put32(&d[4], static_cast<uint32_t>(w));
    Put32(&d[8], static_cast<uint32_t>(h));
    d[12] = 1;
    d[14] = static_cast<uint8_t>(bits);
    Put32(&d[16], compression);
    Put32(&d[20], static_cast<uint32_t>(rows.size()));
    Put32(&d[32], used);
    for (uint32_t m : masks) {
        d.resize(d.size() + 4);
        Put32(&d[d.size() - 4], m);
    }
    d.insert(d.end(), table.begin(), table.end());
    d.insert(d.end(), rows.begin(), rows.end());
    return d;
}

uint32_t DibStride(uint32_t w, uint32_t bits) { return (w * bits + 31) / 32 * 4; }

// Converts with the library into a fresh RGB buffer.
Bytes ToRGB(const Bytes& dib, uint32_t w, uint32_t h, bool* ok = nullptr) {
    Bytes out(static_cast<size_t>(w) * h * 3, 0xEE);
    const bool r = IS40_PackedDIBToRGB(dib.data(), static_cast<uint32_t>(dib.size()), out.data(), w * 3, w, h) != 0;
    if (ok) *ok = r;
    else EXPECT_TRUE(r) << IS40_GetLastError();
    return out;
}

Bytes GreyTable(uint32_t n) {
    Bytes t(4 * n);
    for (uint32_t i = 0; i < n; ++i) {
        t[4 * i] = static_cast<uint8_t>(i * 7 + 1);
        t[4 * i + 1] = static_cast<uint8_t>(i * 13 + 2);
        t[4 * i + 2] = static_cast<uint8_t>(i * 29 + 3);
        t[4 * i + 3] = 0;
    }
    return t;
}
}  // namespace

TEST(OpsDib, OneRedPixelIsOneBgrRowWithPadding) {
    const Bytes red = {0xFF, 0x00, 0x00};
    uint32_t size = 0;
    LibBuffer dib(IS40_RGBToPackedDIB(red.data(), 1, 1, 3, 24, nullptr, &size));
    ASSERT_TRUE(dib);
    ASSERT_EQ(size, 44u);
    const uint8_t* d = dib.get();
    EXPECT_EQ(Get32(d), 40u);
    EXPECT_EQ(Get32(d + 4), 1u);
    EXPECT_EQ(Get32(d + 8), 1u);
    EXPECT_EQ(Get16(d + 12), 1u);
    EXPECT_EQ(Get16(d + 14), 24u);
    EXPECT_EQ(Get32(d + 16), 0u);
    EXPECT_EQ(Get32(d + 20), 4u);
    for (int k = 24; k < 40; k += 4) EXPECT_EQ(Get32(d + k), 0u) << k;
    EXPECT_EQ(Bytes(d + 40, d + 44), (Bytes{0x00, 0x00, 0xFF, 0x00}));
}

TEST(OpsDib, RowsAreBottomUpAtEveryDepth) {
    const uint32_t w = 5, h = 3;
    const Bytes rgb = Pattern(w, h, 3, 8);
    Bytes idx(w * h);
    for (size_t k = 0; k < idx.size(); ++k) idx[k] = static_cast<uint8_t>(k % 2 ? k % 16 : 1);
    const Bytes table = GreyTable(256);
    for (uint32_t bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
        const bool indexed = bits <= 8;
        Bytes src = indexed ? idx : rgb;
        if (bits == 1)
            for (auto& v : src) v &= 1;
        uint32_t size = 0;
        LibBuffer dib(IS40_RGBToPackedDIB(src.data(), w, h, indexed ? w : w * 3, bits, table.data(), &size));
        ASSERT_TRUE(dib) << bits;
        const uint32_t colours = indexed ? 1u << bits : 0;
        const uint32_t stride = DibStride(w, bits);
        ASSERT_EQ(size, 40 + 4 * colours + stride * h) << bits;
        EXPECT_EQ(Get32(dib.get() + 20), stride * h);
        EXPECT_EQ(0, std::memcmp(dib.get() + 40, table.data(), 4 * colours));
        for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* row = dib.get() + 40 + 4 * colours + (h - 1 - y) * stride;
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* p = &rgb[(y * w + x) * 3];
                const uint32_t i = src[y * w + x];
                switch (bits) {
                    case 1: ASSERT_EQ((row[x / 8] >> (7 - x % 8)) & 1, i); break;
                    case 4: ASSERT_EQ((row[x / 2] >> (x % 2 ? 0 : 4)) & 15, i); break;
                    case 8: ASSERT_EQ(row[x], i); break;
                    case 16:
                        ASSERT_EQ(Get16(row + 2 * x), ((p[0] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[2] >> 3));
                        break;
                    case 24: ASSERT_EQ(Bytes(row + 3 * x, row + 3 * x + 3), (Bytes{p[2], p[1], p[0]})); break;
                    default: ASSERT_EQ(Bytes(row + 4 * x, row + 4 * x + 4), (Bytes{p[2], p[1], p[0], 0})); break;
                }
            }
            for (uint32_t k = (w * bits + 7) / 8; k < stride; ++k) ASSERT_EQ(row[k], 0) << "padding, bits " << bits;
        }
    }
}

TEST(OpsDib, EveryDepthConvertsToRGB) {
    const uint32_t w = 11, h = 4;
    const Bytes table = GreyTable(256);
    const Bytes rgbPattern = Pattern(w, h, 4, 12);
    auto expectTable = [&](const Bytes& out, uint32_t x, uint32_t y, uint32_t i) {
        const uint8_t* p = &out[(y * w + x) * 3];
        ASSERT_EQ(Bytes(p, p + 3), (Bytes{table[4 * i + 2], table[4 * i + 1], table[4 * i]})) << x << "," << y;
    };
    for (uint32_t bits : {1u, 4u, 8u}) {
        const uint32_t stride = DibStride(w, bits);
        Bytes rows(stride * h);
        for (size_t k = 0; k < rows.size(); ++k) rows[k] = static_cast<uint8_t>(k * 37 + 5);
        const Bytes out = ToRGB(MakeDib(w, h, bits, 0, Bytes(table.begin(), table.begin() + 4 * (1 << bits)), rows), w, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* row = &rows[(h - 1 - y) * stride];
                const uint32_t i = bits == 1 ? (row[x / 8] >> (7 - x % 8)) & 1
                                   : bits == 4 ? (row[x / 2] >> (x % 2 ? 0 : 4)) & 15
                                               : row[x];
                expectTable(out, x, y, i);
            }
    }
    // 16 bits: 5-5-5 scaled by 255 / 31; with bit fields (5-6-5 here) masked
    // and shifted to the top of the byte.
    for (bool fields : {false, true}) {
        const uint32_t stride = DibStride(w, 16);
        Bytes rows(stride * h);
        for (size_t k = 0; k < rows.size(); ++k) rows[k] = static_cast<uint8_t>(k * 91 + 3);
        const Bytes dib = fields ? MakeDib(w, h, 16, 3, {}, rows, {0xF800, 0x07E0, 0x001F}) : MakeDib(w, h, 16, 0, {}, rows);
        const Bytes out = ToRGB(dib, w, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint32_t v = Get16(&rows[(h - 1 - y) * stride + 2 * x]);
                Bytes want = fields ? Bytes{uint8_t((v >> 11) << 3), uint8_t(((v >> 5) & 63) << 2), uint8_t((v & 31) << 3)}
                                    : Bytes{uint8_t(((v >> 10) & 31) * 255 / 31), uint8_t(((v >> 5) & 31) * 255 / 31),
                                            uint8_t((v & 31) * 255 / 31)};
                ASSERT_EQ(Bytes(&out[(y * w + x) * 3], &out[(y * w + x) * 3] + 3), want) << x << "," << y;
            }
    }
    // 24 and 32 bits, and 32 bits with fields in another order.
    for (uint32_t variant = 0; variant < 3; ++variant) {
        const uint32_t bits = variant == 0 ? 24 : 32;
        const uint32_t stride = DibStride(w, bits);
        Bytes rows(stride * h, 0);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                std::memcpy(&rows[y * stride + x * (bits / 8)], &rgbPattern[(y * w + x) * 4], bits / 8);
        const Bytes dib = variant == 2 ? MakeDib(w, h, 32, 3, {}, rows, {0x000000FF, 0x0000FF00, 0x00FF0000})
                                       : MakeDib(w, h, bits, 0, {}, rows);
        const Bytes out = ToRGB(dib, w, h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t* s = &rows[(h - 1 - y) * stride + x * (bits / 8)];
                Bytes want = variant == 2 ? Bytes{s[0], s[1], s[2]} : Bytes{s[2], s[1], s[0]};
                ASSERT_EQ(Bytes(&out[(y * w + x) * 3], &out[(y * w + x) * 3] + 3), want) << variant;
            }
    }
}

TEST(OpsDib, RGBToDibRejectsBadArguments) {
    Bytes img(12 * 3, 0), table(1024, 0);
    uint32_t size = 0;
    struct Case {
        const char* what;
        const uint8_t* image;
        uint32_t w, h, stride, bits;
        const uint8_t* palette;
        uint32_t code;
    } cases[] = {
        {"null image", nullptr, 4, 3, 12, 24, nullptr, 5},
        {"zero width", img.data(), 0, 3, 12, 24, nullptr, 5},
        {"zero height", img.data(), 4, 0, 12, 24, nullptr, 5},
        {"bit count 2", img.data(), 4, 3, 12, 2, table.data(), 5},
        {"bit count 15", img.data(), 4, 3, 12, 15, nullptr, 5},
        {"no palette", img.data(), 4, 3, 4, 8, nullptr, 5},
        {"short stride", img.data(), 4, 3, 11, 24, nullptr, 5},
        {"index past 1-bit table", img.data(), 4, 3, 4, 1, table.data(), 0},
        {"huge", img.data(), 100000, 100000, 300000, 24, nullptr, 1},
    };
    img[5] = 2;
    for (const Case& c : cases) {
        uint8_t* p = IS40_RGBToPackedDIB(c.image, c.w, c.h, c.stride, c.bits, c.palette, &size);
        EXPECT_EQ(p, nullptr) << c.what;
        EXPECT_EQ(IS40_GetLastError(), c.code ? c.code : 5u) << c.what;
        IS40_GlobalFree(p);
    }
}

TEST(OpsDib, ImageMagickReadsOurDibsAsBmpFiles) {
    REQUIRE_MAGICK();
    const uint32_t w = 10, h = 6;
    const Bytes rgb = Pattern(w, h, 3, 31);
    Bytes idx(w * h);
    for (size_t k = 0; k < idx.size(); ++k) idx[k] = static_cast<uint8_t>(k % 2);
    const Bytes table = GreyTable(256);
    for (uint32_t bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
        const bool indexed = bits <= 8;
        uint32_t size = 0;
        LibBuffer dib(IS40_RGBToPackedDIB(indexed ? idx.data() : rgb.data(), w, h, indexed ? w : w * 3, bits,
                                          table.data(), &size));
        ASSERT_TRUE(dib);
        Bytes file(14 + size, 0);
        file[0] = 'B';
        file[1] = 'M';
        Put32(&file[2], 14 + size);
        Put32(&file[10], 14 + 40 + (indexed ? 4u << bits : 0));
        std::copy(dib.get(), dib.get() + size, file.begin() + 14);
        const std::string path = ScratchPath("dib" + std::to_string(bits) + ".bmp");
        WriteFileBytes(path, file);
        const Bytes got = MagickPixels(path);
        ASSERT_EQ(got.size(), rgb.size()) << bits;
        for (size_t k = 0; k < got.size(); ++k) {
            uint32_t want = indexed ? table[4 * idx[k / 3] + 2 - k % 3]
                            : bits == 16 ? (rgb[k] >> 3) * 255 / 31
                                         : rgb[k];
            ASSERT_NEAR(got[k], want, bits == 16 ? 1 : 0) << "bits " << bits << " at " << k;
        }
    }
}
