// Image operations against their definitions computed here: resizing in
// every mode, quarter turns, fills, overlays and the packed-DIB conversions.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using namespace vstest;

namespace {

using Words = std::vector<uint16_t>;

// A w x h picture of ch samples a pixel, sample (x, y, c) being f(x, y, c).
template <typename T = uint8_t, typename F>
std::vector<T> Sampled(uint32_t w, uint32_t h, uint32_t ch, F f) {
    std::vector<T> out;
    for (size_t i = 0; i < size_t(w) * h * ch; ++i) out.push_back(static_cast<T>(f(i / ch % w, i / ch / w, i % ch)));
    return out;
}

// How many samples of got (w x h x ch) ok(x, y, c, sample) rejects; the first few are reported.
template <typename T, typename F>
int Mismatches(const std::vector<T>& got, uint32_t w, uint32_t h, uint32_t ch, F ok) {
    int bad = 0;
    for (size_t i = 0; i < size_t(w) * h * ch; ++i) {
        const uint32_t x = i / ch % w, y = i / ch / w, c = i % ch;
        if (!ok(x, y, c, got[i]) && bad++ < 3) ADD_FAILURE() << "at " << x << "," << y << " channel " << c;
    }
    return bad;
}

// A smooth gradient with a little structure per channel.
template <typename T>
std::vector<T> Gradient(uint32_t w, uint32_t h, uint32_t ch) {
    const uint64_t top = std::numeric_limits<T>::max();
    return Sampled<T>(w, h, ch, [&](uint64_t x, uint64_t y, uint64_t c) {
        return (x * top / std::max(1u, w - 1) + y * (top * 38 / 100) / std::max(1u, h - 1) + top / 6 * c) % (top + 1);
    });
}

template <typename T>
bool Resize(const std::vector<T>& src, uint32_t sw, uint32_t sh, std::vector<T>& dst, uint32_t dw, uint32_t dh,
            uint32_t ch, uint32_t mode) {
    const uint32_t n = sizeof(T);
    dst.assign(static_cast<size_t>(dw) * dh * ch, 0);
    return IS40_ResizeImage(reinterpret_cast<const uint8_t*>(src.data()), sw, sh, sw * ch * n,
                            reinterpret_cast<uint8_t*>(dst.data()), dw, dh, dw * ch * n, ch, mode, n == 2) != 0;
}

struct Size { uint32_t sw, sh, dw, dh; };

// Mode 14 by its definition: n x n boxes at the running sums of the ratios.
template <typename T>
std::vector<T> BoxReference(const std::vector<T>& s, const Size& z, uint32_t ch) {
    auto starts = [](uint32_t n, double ratio) {
        std::vector<size_t> at;
        for (double p = 0; at.size() < n; p += ratio) at.push_back(static_cast<size_t>(p));
        return at;
    };
    const double xr = double(z.sw) / z.dw, yr = double(z.sh) / z.dh;
    const uint32_t n = static_cast<uint32_t>(std::min(std::floor(xr), std::floor(yr)));
    const std::vector<size_t> xs = starts(z.dw, xr), ys = starts(z.dh, yr);
    return Sampled<T>(z.dw, z.dh, ch, [&](uint32_t i, uint32_t j, uint32_t c) {
        uint64_t sum = 0;
        for (uint32_t v = 0; v < n; ++v)
            for (uint32_t u = 0; u < n; ++u) sum += s[((ys[j] + v) * z.sw + xs[i] + u) * ch + c];
        return sum / (n * n);
    });
}

// The bilinear value of the definition: sample position i x ratio, the ratio shrunk when enlarging, neighbours clamped.
template <typename T>
double BilinearReference(const std::vector<T>& s, const Size& z, uint32_t ch, uint32_t x, uint32_t y, uint32_t c) {
    auto ratio = [](uint32_t from, uint32_t to) {
        const double r = double(from) / to;
        return from < to ? (from - r) / to : r;
    };
    const double fx = x * ratio(z.sw, z.dw), fy = y * ratio(z.sh, z.dh);
    const double ix = std::floor(fx), iy = std::floor(fy), ax = fx - ix, ay = fy - iy;
    auto get = [&](double u, double v) {
        const size_t cu = static_cast<size_t>(std::min<double>(u, z.sw - 1));
        const size_t cv = static_cast<size_t>(std::min<double>(v, z.sh - 1));
        return double(s[(cv * z.sw + cu) * ch + c]);
    };
    return get(ix, iy) * (1 - ax) * (1 - ay) + get(ix + 1, iy) * ax * (1 - ay) + get(ix, iy + 1) * (1 - ax) * ay +
           get(ix + 1, iy + 1) * ax * ay;
}

// Rounded to nearest; a value this close to a half may go either way in fixed point.
bool MatchesRounded(double ref, uint32_t got) {
    const double lower = std::floor(ref);
    if (std::fabs(ref - lower - 0.5) < 1e-4) return got == lower || got == lower + 1;
    return got == static_cast<uint32_t>(std::nearbyint(ref));
}

// The filter kernels of modes 0 to 13.
double FilterRef(uint32_t mode, double x) {
    const double a = std::fabs(x), pi = M_PI;
    auto sinc = [&](double t) { return t == 0 ? 1.0 : std::sin(pi * t) / (pi * t); };
    switch (mode) {
        case 0: return x >= -0.5 && x < 0.5;
        case 1: return a < 1 ? 1 - a : 0;
        case 2: return a < 1 ? 0.54 + 0.46 * std::cos(pi * x) : 0;
        case 3: return a < 1.25 ? std::exp(-2 * x * x) * std::sqrt(2 / pi) : 0;
        case 4: return a < 0.5 ? 0.75 - x * x : a < 1.5 ? 0.5 * (a - 1.5) * (a - 1.5) : 0;
        case 5: case 7: return a < 1 ? 0.5 * a * a * a - x * x + 2.0 / 3 : a < 2 ? std::pow(2 - a, 3) / 6 : 0;
        case 6: case 11: return a < 1 ? (2 * a - 3) * x * x + 1 : 0;
        case 8: return a < 3 ? sinc(x) * sinc(x / 3) : 0;
        case 9: return a < 1 ? (7 * a * a * a - 12 * x * x + 16.0 / 3) / 6
                       : a < 2 ? (-7.0 / 3 * a * a * a + 12 * x * x - 20 * a + 32.0 / 3) / 6 : 0;
        case 10: return a < 4 ? sinc(x) : 0;
        case 12: return a < 1 ? 0.5 + 0.5 * std::cos(pi * x) : 0;
        default: return a < 1 ? 0.5 * ((3 * a - 5) * x * x + 2) : a < 2 ? 0.5 * (((5 - a) * a - 8) * a + 4) : 0;
    }
}

// Direct two-dimensional sum over every source pixel: pixel centres at k + 0.5, the filter widened by the ratio when
// shrinking, the weights of the pixels inside the picture normalised.
double FilteredRef(const Bytes& s, const Size& z, uint32_t ch, uint32_t mode, uint32_t x, uint32_t y, uint32_t c) {
    const double sx = double(z.sw) / z.dw, sy = double(z.sh) / z.dh;
    const double wx = std::max(1.0, sx), wy = std::max(1.0, sy), cx = (x + 0.5) * sx, cy = (y + 0.5) * sy;
    double num = 0, den = 0;
    for (uint32_t v = 0; v < z.sh; ++v) {
        const double fy = FilterRef(mode, (v + 0.5 - cy) / wy);
        for (uint32_t u = 0; fy != 0 && u < z.sw; ++u) {
            const double f = FilterRef(mode, (u + 0.5 - cx) / wx) * fy;
            num += f * s[(v * z.sw + u) * ch + c];
            den += f;
        }
    }
    return std::min(255.0, std::max(0.0, std::floor(num / den + 0.5)));
}

}  // namespace

TEST(OpsResize, BadArgumentsAndOutOfMemory) {
    Bytes src(8 * 8 * 4, 7), dst(8 * 8 * 4, 0);
    uint8_t* const s = src.data();
    uint8_t* const d = dst.data();
    struct Case { const char* what; const uint8_t* s; uint32_t sw, sh, ss; uint8_t* d; uint32_t dw, dh, ds, bpp, mode; } cases[] = {
        {"null source", nullptr, 4, 4, 12, d, 2, 2, 6, 3, 16},       {"null destination", s, 4, 4, 12, nullptr, 2, 2, 6, 3, 16},
        {"zero source width", s, 0, 4, 12, d, 2, 2, 6, 3, 16},       {"zero destination height", s, 4, 4, 12, d, 2, 0, 6, 3, 18},
        {"two bytes per pixel", s, 4, 4, 12, d, 2, 2, 6, 2, 16},     {"five bytes per pixel", s, 4, 4, 20, d, 2, 2, 10, 5, 18},
        {"mode 19", s, 4, 4, 12, d, 2, 2, 6, 3, 19},                 {"box enlarging", s, 2, 2, 6, s + 12, 4, 1, 12, 3, 14},
        {"width overflows a row", s, 0xFFFFFFFFu, 1, 12, d, 2, 2, 6, 4, 16},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(IS40_ResizeImage(c.s, c.sw, c.sh, c.ss, c.d, c.dw, c.dh, c.ds, c.bpp, c.mode, 0)) << c.what;
        EXPECT_EQ(IS40_GetLastError(), 5u) << c.what;
    }
    // Short source or destination rows in every mode; 16-bit samples need twice the row.
    const uint32_t strides[][3] = {{31, 16, 0}, {32, 15, 0}, {32, 32, 1}};
    for (uint32_t mode = 0; mode <= 18; ++mode) for (const auto& st : strides) {
        EXPECT_FALSE(IS40_ResizeImage(s, 8, 8, st[0], d, 4, 4, st[1], 4, mode, st[2])) << mode;
        EXPECT_EQ(IS40_GetLastError(), 5u) << mode << " " << st[0];
    }
    const Bytes big = Gradient<uint8_t>(50, 40, 3);
    for (uint32_t mode : {0u, 8u, 14u, 15u, 16u, 17u, 18u}) {
        ISSetAllocFailAfter(0);
        const IS_BOOL ok = IS40_ResizeImage(big.data(), 50, 40, 150, d, 20, 10, 60, 3, mode, 0);
        const uint32_t err = IS40_GetLastError();
        ISSetAllocFailAfter(-1);
        EXPECT_FALSE(ok) << mode;
        EXPECT_EQ(err, 1u) << mode;
    }
}

TEST(OpsResize, BoxReductionMatchesDefinition) {
    // Whole and fractional ratios (3.125 x 2.5: 2 x 2 boxes at truncated
    // positions), odd sizes, every channel count, 8 and 16 bits.
    for (const Size& z : {Size{640, 480, 160, 120}, Size{500, 300, 160, 120}, Size{97, 61, 13, 7},
                          Size{31, 17, 30, 16}, Size{200, 3, 7, 1}, Size{5, 80, 5, 9}, Size{1000, 10, 3, 3}}) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            SCOPED_TRACE(std::to_string(z.sw) + "x" + std::to_string(z.sh) + " ch " + std::to_string(ch));
            auto check = [&](const auto& src) {
                std::decay_t<decltype(src)> dst;
                ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, ch, 14));
                EXPECT_EQ(dst, BoxReference(src, z, ch));
            };
            check(Pattern(z.sw, z.sh, ch, z.sw + ch));
            check(Gradient<uint16_t>(z.sw, z.sh, ch));
        }
    }
    // Enlarging either way fails; sums must fit 32 bits: a box of more than
    // 16843009 8-bit or 65537 16-bit samples is refused.
    Bytes dst;
    const Bytes small = Pattern(160, 120, 3);
    EXPECT_FAILS_WITH(Resize(small, 160, 120, dst, 80, 121, 3, 14), 5);
    EXPECT_FAILS_WITH(Resize(Bytes(20000000, 255), 20000000, 1, dst, 1, 1, 1, 14), 5);
    ASSERT_TRUE(Resize(Bytes(4096u * 4096u, 255), 4096, 4096, dst, 1, 1, 1, 14));
    EXPECT_EQ(dst[0], 255);
    Words out;
    EXPECT_FAILS_WITH(Resize(Words(300 * 300, 65535), 300, 300, out, 1, 1, 1, 14), 5);
    ASSERT_TRUE(Resize(Words(256 * 256, 65535), 256, 256, out, 1, 1, 1, 14));
    EXPECT_EQ(out[0], 65535);
}

TEST(OpsResize, EqualSizesCopyAndNearestTakesWholeRatios) {
    const uint32_t w = 13, h = 9, ch = 3;
    for (uint32_t mode = 0; mode <= 18; ++mode) for (uint32_t pad : {0u, 5u}) {
        const uint32_t ss = w * ch + pad, ds = w * ch + (mode % 2 ? 0 : pad);
        Bytes src = Pattern(ss, h, 1, mode + 1), dst(static_cast<size_t>(ds) * h, 0xAB);
        ASSERT_TRUE(IS40_ResizeImage(src.data(), w, h, ss, dst.data(), w, h, ds, ch, mode, 0)) << mode;
        for (uint32_t y = 0; y < h; ++y)
            ASSERT_EQ(0, std::memcmp(&src[y * ss], &dst[y * ds], w * ch)) << "mode " << mode << " row " << y;
    }
    for (uint32_t c : {1u, 3u, 4u})
        for (const Size& z : {Size{4, 1, 2, 1}, Size{17, 11, 5, 4}, Size{3, 2, 10, 7}, Size{6000, 2, 1280, 1}}) {
            const Bytes src = Pattern(z.sw, z.sh, c, c);
            Bytes dst;
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, c, 18));
            EXPECT_EQ(dst, Sampled(z.dw, z.dh, c, [&](uint64_t i, uint64_t j, uint32_t k) {
                          return src[((j * z.sh / z.dh) * z.sw + i * z.sw / z.dw) * c + k];
                      }));
            // 16-bit samples move the same way.
            Words src16(src.begin(), src.end()), dst16;
            for (uint16_t& v : src16) v = static_cast<uint16_t>(v * 257);
            ASSERT_TRUE(Resize(src16, z.sw, z.sh, dst16, z.dw, z.dh, c, 18));
            for (size_t k = 0; k < dst.size(); ++k) ASSERT_EQ(dst16[k], dst[k] * 257) << k;
        }
}

TEST(OpsResize, BilinearMatchesDefinition) {
    // Halves in fixed point: positions 0, 0.375, 0.75, 1.125 (clamped), so
    // 0.375 x 4 = 1.5 rounds up, 0.375 x 12 = 4.5 down, across and down.
    Bytes dst;
    for (const auto& c : {std::pair<Bytes, Bytes>{{0, 200}, {0, 75, 150, 200}}, {{0, 4}, {0, 2, 3, 4}}, {{0, 12}, {0, 4, 9, 12}}}) {
        ASSERT_TRUE(Resize(c.first, 2, 1, dst, 4, 1, 1, 16));
        EXPECT_EQ(dst, c.second);
        ASSERT_TRUE(Resize(c.first, 1, 2, dst, 1, 4, 1, 16));
        EXPECT_EQ(dst, c.second);
    }
    for (const Size& z : {Size{64, 48, 16, 12}, Size{97, 61, 40, 25}, Size{13, 9, 40, 30}, Size{2, 2, 7, 5},
                          Size{300, 7, 11, 19}, Size{6, 50, 6, 17}, Size{1, 1, 5, 3}, Size{40, 1, 9, 1},
                          Size{999, 4, 1, 1}, Size{2, 1, 4, 1}}) {
        for (uint32_t ch : {1u, 3u, 4u}) {
            SCOPED_TRACE(std::to_string(z.sw) + "x" + std::to_string(z.sh) + " ch " + std::to_string(ch));
            auto check = [&](const auto& src) {
                std::decay_t<decltype(src)> out;
                ASSERT_TRUE(Resize(src, z.sw, z.sh, out, z.dw, z.dh, ch, 16));
                EXPECT_EQ(Mismatches(out, z.dw, z.dh, ch, [&](uint32_t x, uint32_t y, uint32_t c, uint32_t v) {
                              return MatchesRounded(BilinearReference(src, z, ch, x, y, c), v);
                          }), 0);
            };
            check(Gradient<uint8_t>(z.sw, z.sh, ch));
            check(Gradient<uint16_t>(z.sw, z.sh, ch));
        }
    }
    // Padded rows: the same pixels, the padding left alone.
    const uint32_t sw = 21, sh = 14, dw = 9, dh = 6, ss = sw * 3 + 3, ds = dw * 3 + 7;
    Bytes padded = Pattern(ss, sh, 1, 3), out(static_cast<size_t>(ds) * dh, 0xEE), packed;
    for (uint32_t y = 0; y < sh; ++y) packed.insert(packed.end(), &padded[y * ss], &padded[y * ss] + sw * 3);
    ASSERT_TRUE(Resize(packed, sw, sh, dst, dw, dh, 3, 16));
    ASSERT_TRUE(IS40_ResizeImage(padded.data(), sw, sh, ss, out.data(), dw, dh, ds, 3, 16, 0));
    for (uint32_t y = 0; y < dh; ++y) {
        EXPECT_EQ(0, std::memcmp(&out[y * ds], &dst[y * dw * 3], dw * 3)) << y;
        for (uint32_t k = dw * 3; k < ds; ++k) EXPECT_EQ(out[y * ds + k], 0xEE);
    }
}

TEST(OpsResize, FilteredAreaAndCubicModesMatchTheirDefinitions) {
    for (uint32_t mode = 0; mode <= 13; ++mode)
        for (const Size& z : {Size{23, 17, 9, 7}, Size{11, 8, 29, 19}, Size{30, 5, 12, 11}}) {
            const Bytes src = Pattern(z.sw, z.sh, 3, mode + 2);
            Bytes dst;
            ASSERT_TRUE(Resize(src, z.sw, z.sh, dst, z.dw, z.dh, 3, mode)) << mode;
            // Only the order of the sums differs.
            EXPECT_EQ(Mismatches(dst, z.dw, z.dh, 3, [&](uint32_t x, uint32_t y, uint32_t c, int v) {
                          return std::abs(v - FilteredRef(src, z, 3, mode, x, y, c)) <= 1;
                      }), 0) << "mode " << mode << " " << z.sw << "x" << z.sh << "->" << z.dw << "x" << z.dh;
        }
    // Flat pictures stay flat up to the edges in every mode, both ways.
    for (uint32_t mode = 0; mode <= 18; ++mode) for (const Size& z : {Size{19, 13, 47, 31}, Size{19, 13, 7, 5}}) {
        if (mode == 14 && z.dw > z.sw) continue;
        auto flat = [](int, int, int c) { return c == 3 ? 255 : 30 + 50 * c; };
        Bytes dst;
        ASSERT_TRUE(Resize(Sampled(z.sw, z.sh, 4, flat), z.sw, z.sh, dst, z.dw, z.dh, 4, mode)) << mode;
        EXPECT_EQ(dst, Sampled(z.dw, z.dh, 4, flat)) << "mode " << mode;
        Words d16;
        ASSERT_TRUE(Resize(Words(z.sw * z.sh * 3, 40000), z.sw, z.sh, d16, z.dw, z.dh, 3, mode)) << mode;
        for (uint16_t v : d16) ASSERT_EQ(v, 40000) << "16-bit mode " << mode;
    }
    // Area: box reduction for whole ratios; otherwise each output averages
    // the source pixels it covers by their share, enlarging too.
    const Bytes src = Pattern(60, 40, 3, 4);
    Bytes a, b;
    ASSERT_TRUE(Resize(src, 60, 40, a, 20, 10, 3, 15));
    ASSERT_TRUE(Resize(src, 60, 40, b, 20, 10, 3, 14));
    EXPECT_EQ(a, b);
    for (const auto& z : {std::pair<uint32_t, uint32_t>{7, 3}, {2, 3}, {10, 4}}) {
        const Bytes row = Pattern(z.first, 1, 1, 7);
        ASSERT_TRUE(Resize(row, z.first, 1, a, z.second, 1, 1, 15));
        const double r = double(z.first) / z.second;
        for (uint32_t i = 0; i < z.second; ++i) {
            double sum = 0;
            for (uint32_t k = 0; k < z.first; ++k)
                sum += std::max(0.0, std::min<double>(k + 1, (i + 1) * r) - std::max<double>(k, i * r)) * row[k];
            EXPECT_NEAR(a[i], sum / r, 0.5 + 1e-9) << z.first << "->" << z.second << " at " << i;
        }
    }
    // A cubic through a linear ramp is the ramp: inside the picture mode 17 agrees with bilinear.
    const Bytes ramp = Sampled(40, 30, 1, [](int x, int y, int) { return 3 * x + 2 * y; });
    ASSERT_TRUE(Resize(ramp, 40, 30, a, 67, 51, 1, 17));
    ASSERT_TRUE(Resize(ramp, 40, 30, b, 67, 51, 1, 16));
    for (uint32_t y = 3; y < 46; ++y)
        for (uint32_t x = 3; x < 62; ++x) EXPECT_NEAR(a[y * 67 + x], b[y * 67 + x], 1) << x << "," << y;
}

TEST(OpsRotate, EveryPixelLandsWhereTheDefinitionSaysAndBadArgumentsFail) {
    // More than one tile each way; 16-bit samples move as whole pixels.
    for (uint32_t flags : {0u, 0x200u}) for (uint32_t ch : {1u, 3u, 4u}) {
        const uint32_t w = 131, h = 70, pb = flags ? 2 * ch : ch;
        const Bytes src = Pattern(w, h, pb, pb);
        for (uint32_t rot = 0; rot < 3; ++rot) {
            const uint32_t dw = rot == 1 ? w : h, dh = rot == 1 ? h : w, ds = dw * pb + 5;
            Bytes out(static_cast<size_t>(ds) * dh, 0x5A);
            ASSERT_TRUE(IS40_QuickRotateImage(src.data(), w, h, w * pb, out.data(), ds, rot, flags ? ch : pb, flags));
            // Turned clockwise (0), half a turn (1) or anticlockwise (2); the padding left alone.
            const Bytes want = Sampled(ds, dh, 1, [&](uint32_t i, uint32_t y, uint32_t) -> int {
                const uint32_t x = i / pb, r = rot == 0 ? h - 1 - x : rot == 1 ? h - 1 - y : x;
                return i >= dw * pb ? 0x5A : src[(r * w + (rot == 0 ? y : rot == 1 ? w - 1 - x : w - 1 - y)) * pb + i % pb];
            });
            EXPECT_TRUE(out == want) << "rotation " << rot << " bytes " << pb;
        }
    }
    Bytes a(64, 1), b(64, 0);
    const struct { const uint8_t* s; uint32_t w, h, ss; uint8_t* d; uint32_t ds, rotation, bpp, flags; } cases[] = {
        {nullptr, 2, 2, 6, b.data(), 6, 0, 3, 0},       {a.data(), 2, 2, 6, nullptr, 6, 0, 3, 0},
        {a.data(), 2, 2, 6, b.data(), 6, 3, 3, 0},      // rotation 3
        {a.data(), 2, 2, 6, b.data(), 6, 0, 2, 0},      // two channels
        {a.data(), 3, 2, 9, b.data(), 5, 0, 3, 0},      // needs 6
        {a.data(), 3, 2, 9, b.data(), 6, 0, 3, 0x200},  // needs 12
        // In place or overlapping buffers would read turned pixels back.
        {a.data(), 4, 4, 4, a.data(), 4, 1, 1, 0},
        {a.data(), 4, 4, 4, a.data() + 15, 4, 0, 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_FAILS_WITH(IS40_QuickRotateImage(c.s, c.w, c.h, c.ss, c.d, c.ds, c.rotation, c.bpp, c.flags), 5);
    EXPECT_TRUE(IS40_QuickRotateImage(a.data(), 4, 4, 4, a.data() + 16, 4, 0, 1, 0));
    EXPECT_EQ(IS40_GetLastError(), 0u);
    // Mirroring walks pixel by pixel and checks on its own: a source starting in the last row overlaps.
    EXPECT_FAILS_WITH(IS40_OrientImage(a.data() + 12, 4, 4, 4, a.data(), 4, 2, 1, 0), 5);
}

TEST(OpsFill, ClippedRectanglesInEveryLayout) {
    const uint32_t w = 9, h = 6;
    // The rectangle, then what is filled.
    const struct { ISRect rect; int x0, y0, x1, y1; } rects[] = {{{0, 0, 9, 6}, 0, 0, 9, 6},         {{7, 4, 200, 200}, 7, 4, 9, 6},
                 {{-5, -7, 3, 2}, 0, 0, 3, 2},       {{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, 0, 0, 9, 6},
                 {{5, 5, 5, 9}, 0, 0, 0, 0},         {{8, 8, 2, 2}, 0, 0, 0, 0},
                 {{20, 0, 30, 10}, 0, 0, 0, 0},      {{0, -9, 10, 0}, 0, 0, 0, 0},
                 {{INT32_MIN, INT32_MIN, INT32_MIN + 1, INT32_MAX}, 0, 0, 0, 0}};
    for (const auto& r : rects)
        for (uint32_t bpp : {1u, 3u, 4u})
            for (uint32_t colour : {0x80FFFFFFu, 0x00FFFFFFu, 0x44332211u})
                for (uint32_t flags : {0u, 1u}) for (uint32_t pad : {0u, 3u}) {
                    const uint32_t stride = w * bpp + pad;
                    Bytes img(stride * h, 0xCD), want = img;
                    ASSERT_TRUE(IS40_FillSolidRect(img.data(), w, h, bpp, stride, &r.rect, colour, flags));
                    // Grey takes the red byte; flag 1 puts B, G, R; the fourth byte is the top one.
                    const uint8_t c[4] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), uint8_t(colour >> 24)};
                    const uint8_t px[4] = {c[flags && bpp > 1 ? 2 : 0], c[1], c[flags ? 0 : 2], c[3]};
                    for (int y = r.y0; y < r.y1; ++y)
                        for (int x = r.x0; x < r.x1; ++x) std::copy(px, px + bpp, &want[y * stride + x * bpp]);
                    ASSERT_EQ(img, want) << "bpp " << bpp << " pad " << pad << " flags " << flags;
                }
    Bytes img(10 * 10 * 3, 0x77);
    ISRect r = {0, 0, 1, 1};
    EXPECT_FAILS_WITH(IS40_FillSolidRect(nullptr, 10, 10, 3, 30, &r, 0, 0), 5);
    EXPECT_FAILS_WITH(IS40_FillSolidRect(img.data(), 10, 10, 3, 30, nullptr, 0, 0), 5);
    EXPECT_FAILS_WITH(IS40_FillSolidRect(img.data(), 10, 10, 2, 80, &r, 0, 0), 5);
    EXPECT_FAILS_WITH(IS40_FillSolidRect(img.data(), 10, 10, 3, 29, &r, 0, 0), 5);
}

TEST(OpsOverlay, EveryModeAtEveryOpacityAndPlaceAndBadArgumentsFail) {
    const uint32_t dw = 12, dh = 9, ow = 5, oh = 4, ch = 3;
    using Rule = int (*)(int, int);
    const struct { uint32_t mode; Rule f; } modes[] = {
        {0, [](int, int o) { return o; }},           {2, [](int d, int o) { return d & o; }},
        {3, [](int d, int o) { return d | o; }},        {4, [](int d, int o) { return d ^ o; }},
        {5, [](int d, int o) { return std::min(255, d + o); }}, {6, [](int d, int o) { return std::max(0, d - o); }},
        {7, [](int d, int o) { return std::min(d, o); }},       {8, [](int d, int o) { return std::max(d, o); }},
        {9, [](int d, int o) { return std::abs(d - o); }},      {10, [](int d, int o) { return d * o / 255; }},
        {11, [](int d, int o) { return 255 - (255 - d) * (255 - o) / 255; }},
    };
    const std::pair<int, int> places[] = {{3, 2}, {-2, 0}, {9, 7}, {-4, -3}, {12, 0}, {0, -4}, {INT32_MIN, INT32_MAX}};
    // Opacity is limited to 0 ... 1: 7.5 is 1 and -3 is 0.
    for (double opacity : {1.0, 0.5, 0.3, 0.999, 0.001, 0.0, 7.5, -3.0}) {
        const double a = std::min(1.0, std::max(0.0, opacity));
        for (const auto& m : modes) for (const auto& at : places) {
            Bytes dst = Pattern(dw, dh, ch, m.mode + 1);
            const Bytes ovl = Pattern(ow, oh, ch, m.mode + 100);
            Bytes want = dst;
            for (int v = 0; v < int(dh); ++v) for (int u = 0; u < int(dw); ++u) {
                const int64_t ou = int64_t(u) - at.first, ov = int64_t(v) - at.second;
                if (ou < 0 || ou >= ow || ov < 0 || ov >= oh) continue;
                for (uint32_t k = 0; k < ch; ++k) {
                    uint8_t& d = want[(v * dw + u) * ch + k];
                    const int f = m.f(d, ovl[(ov * ow + ou) * ch + k]);
                    d = static_cast<uint8_t>(a == 1 ? f : int(std::trunc(f * a)) + int(std::trunc(d * (1 - a))));
                }
            }
            ASSERT_TRUE(IS40_OverlayImage(dst.data(), dw, dh, ch, dw * ch, ovl.data(), ow, oh, ow * ch, at.first,
                                          at.second, opacity, 14.0, m.mode, 0));
            EXPECT_EQ(dst, want) << "mode " << m.mode << " x " << opacity << " at " << at.first << " " << at.second;
        }
    }
    // 16-bit samples: a quarter of the overlay at (2, 1) over the rest.
    Words d16 = Sampled<uint16_t>(6, 4, 3, [](int x, int y, int c) { return 1000 * (18 * y + 3 * x + c) + 7; });
    const Words o16 = Sampled<uint16_t>(3, 2, 3, [](int x, int y, int c) { return 60000 - 999 * (9 * y + 3 * x + c); });
    const Words want = Sampled<uint16_t>(6, 4, 3, [&](int x, int y, int c) {
        const uint16_t d = d16[(6 * y + x) * 3 + c];
        if (x < 2 || x > 4 || y < 1 || y > 2) return 0.0 + d;
        return std::trunc(o16[(3 * (y - 1) + x - 2) * 3 + c] * 0.25) + std::trunc(d * 0.75);
    });
    ASSERT_TRUE(IS40_OverlayImage(reinterpret_cast<uint8_t*>(d16.data()), 6, 4, 3, 36,
                                  reinterpret_cast<const uint8_t*>(o16.data()), 3, 2, 18, 2, 1, 0.25, 14.0, 0, 1));
    EXPECT_EQ(d16, want);
    Bytes dst = Pattern(12, 9, 3), ovl = Pattern(5, 4, 3);
    uint8_t* const d = dst.data();
    const struct { uint8_t* d; const uint8_t* o; uint32_t bpp, ostride, mode; double opacity; } cases[] = {{nullptr, ovl.data(), 3, 15, 0, 1.0}, {d, nullptr, 3, 15, 0, 1.0},  {d, d, 3, 36, 0, 1.0},
                 {d, ovl.data(), 3, 15, 1, 0.5},       {d, ovl.data(), 3, 15, 12, 0.5}, {d, ovl.data(), 3, 15, 31, 0.5},
                 {d, ovl.data(), 3, 15, 0, std::nan("")}, {d, ovl.data(), 2, 15, 0, 1.0}, {d, ovl.data(), 3, 14, 0, 1.0}};
    for (const auto& c : cases) {
        const uint32_t ow = c.o == d ? 12 : 5, oh = c.o == d ? 9 : 4;
        EXPECT_FALSE(IS40_OverlayImage(c.d, 12, 9, c.bpp, 36, c.o, ow, oh, c.ostride, 0, 0, c.opacity, 14.0, c.mode, 0));
        EXPECT_EQ(IS40_GetLastError(), 5u) << c.mode;
    }
}

// The rows' layout is checked by reading them back: the conversion back
// runs the BMP reader, which its own tests hold to ImageMagick.
TEST(OpsDib, RGBToDibRowsAreBottomUpAtEveryDepth) {
    const uint32_t w = 5, h = 3;
    const Bytes rgb = Pattern(w, h, 3, 8), table = PatternPalette(256, 0);
    for (uint32_t bits : {1u, 4u, 8u, 16u, 24u, 32u}) {
        const bool indexed = bits <= 8;
        const Bytes src = indexed ? Sampled(w * h, 1, 1, [&](uint32_t k, int, int) { return k * 5 % (1u << bits); }) : rgb;
        uint32_t size = 0;
        LibBuffer dib(IS40_RGBToPackedDIB(src.data(), w, h, indexed ? w : w * 3, bits, table.data(), &size));
        ASSERT_TRUE(dib) << bits;
        const uint32_t colours = indexed ? 1u << bits : 0, stride = (w * bits + 31) / 32 * 4;
        const Bytes head(dib.get(), dib.get() + 40);
        ASSERT_EQ(size, 40 + 4 * colours + stride * h) << bits;
        EXPECT_EQ((std::vector<uint32_t>{Get32(head, 0), Get32(head, 4), Get32(head, 8), Get16(head, 14), Get32(head, 20)}),
                  (std::vector<uint32_t>{40, w, h, bits, stride * h}));
        for (uint32_t y = 0; y < h; ++y)  // row padding is zero (the reader skips it)
            for (uint32_t k = (w * bits + 7) / 8; k < stride; ++k) ASSERT_EQ(dib.get()[size - (y + 1) * stride + k], 0);
        // Indexes through the table, 16 bits scaled by 255 / 31.
        Bytes back(w * h * 3);
        ASSERT_TRUE(IS40_PackedDIBToRGB(dib.get(), size, back.data(), w * 3, w, h)) << bits;
        EXPECT_EQ(back, Sampled(w * h * 3, 1, 1, [&](uint32_t k, int, int) {
                      return indexed ? table[4 * src[k / 3] + 2 - k % 3] : bits == 16 ? (rgb[k] >> 3) * 255 / 31 : rgb[k];
                  })) << bits;
    }
}

TEST(OpsDib, BadArgumentsAndHostileDibs) {
    Bytes img(12 * 3, 0), table(1024, 0);
    img[5] = 2;
    uint32_t size = 0;
    const struct { const char* what; const uint8_t* image; uint32_t w, h, stride, bits; const uint8_t* palette; uint32_t code; } bad[] = {
        {"null image", nullptr, 4, 3, 12, 24, nullptr, 5}, {"zero width", img.data(), 0, 3, 12, 24, nullptr, 5},
        {"zero height", img.data(), 4, 0, 12, 24, nullptr, 5}, {"bit count 15", img.data(), 4, 3, 12, 15, nullptr, 5},
        {"no palette", img.data(), 4, 3, 4, 8, nullptr, 5}, {"short stride", img.data(), 4, 3, 11, 24, nullptr, 5},
        {"index past 1-bit table", img.data(), 4, 3, 4, 1, table.data(), 5},
        {"huge", img.data(), 100000, 100000, 300000, 24, nullptr, 1},
    };
    for (const auto& c : bad) {
        uint8_t* p = IS40_RGBToPackedDIB(c.image, c.w, c.h, c.stride, c.bits, c.palette, &size);
        EXPECT_EQ(p, nullptr) << c.what;
        EXPECT_EQ(IS40_GetLastError(), c.code) << c.what;
        IS40_GlobalFree(p);
    }

    const uint32_t w = 9, h = 5;
    uint32_t n = 0;
    LibBuffer made(IS40_RGBToPackedDIB(Bytes(w * h, 3).data(), w, h, w, 8, table.data(), &n));
    ASSERT_TRUE(made);
    const Bytes good(made.get(), made.get() + n);
    auto bent = [&](size_t at, uint32_t v) { Bytes b = good; ISPut32LE(&b[at], v); return b; };
    Bytes huge = bent(4, 100000);
    ISPut32LE(&huge[8], 100000);
    // The header checks are the BMP reader's (its tests go through them);
    // here, that a packed DIB is held to its block and fails with 17.
    const struct { const char* what; Bytes dib; } hostile[] = {
        {"cut in the header", Bytes(good.begin(), good.begin() + 39)},
        {"cut in the table", Bytes(good.begin(), good.begin() + 40 + 1023)},
        {"cut in the rows", Bytes(good.begin(), good.end() - 1)}, {"header size 12", bent(0, 12)},
        {"header larger than block", bent(0, 124)}, {"most negative height", bent(8, 0x80000000u)}, {"huge size", huge},
        {"colours used far past 32 bits", bent(32, 0xFFFFFFFFu)},
    };
    Bytes out(w * h * 3);
    for (const auto& c : hostile) {
        EXPECT_FALSE(IS40_PackedDIBToRGB(c.dib.data(), static_cast<uint32_t>(c.dib.size()), out.data(), w * 3, w, h))
            << c.what;
        EXPECT_EQ(IS40_GetLastError(), 17u) << c.what;
    }
    // The destination must be the DIB's size.
    EXPECT_FAILS_WITH(IS40_PackedDIBToRGB(good.data(), n, out.data(), w * 3, w - 1, h), 5);
    EXPECT_FAILS_WITH(IS40_PackedDIBToRGB(good.data(), n, out.data(), w * 3 - 1, w, h), 5);
    EXPECT_FAILS_WITH(IS40_PackedDIBToRGB(good.data(), n, nullptr, w * 3, w, h), 5);
    EXPECT_FAILS_WITH(IS40_PackedDIBToRGB(nullptr, 100, out.data(), w * 3, w, h), 5);
    EXPECT_TRUE(IS40_PackedDIBToRGB(good.data(), n, out.data(), w * 3, w, h));
}
