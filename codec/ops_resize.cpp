// Resizing: box reduction, bilinear, nearest neighbour and separable
// filtered resampling, for 8- and 16-bit samples.
#include "codec/isframe.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

namespace {

struct CISResizeJob {
    const uint8_t* src;
    uint32_t sw, sh;
    uint64_t sstride;
    uint8_t* dst;
    uint32_t dw, dh;
    uint64_t dstride;
    uint32_t ch;          // channels per pixel
    uint32_t sampleBytes; // 1 or 2
    uint64_t srcRow, dstRow;  // bytes of pixel data per row

    const uint8_t* SrcRow(uint64_t y) const { return src + y * sstride; }
    uint8_t* DstRow(uint64_t y) const { return dst + y * dstride; }
};

void CopyRows(const CISResizeJob& j) {
    for (uint32_t y = 0; y < j.dh; ++y) std::memcpy(j.DstRow(y), j.SrcRow(y), j.srcRow);
}

// Equal sizes with equal strides: one block. The last row's padding is left
// alone so that a buffer cut right after its last pixel is not over-read.
void CopyBlock(const CISResizeJob& j) {
    std::memcpy(j.dst, j.src, (j.sh - 1) * j.sstride + j.srcRow);
}

// Exact unsigned division by a fixed divisor through one multiplication:
// for 32-bit dividends, floor(x / d) = high 64 bits of x * (2^64 / d + 1).
class CISDivider {
public:
    explicit CISDivider(uint32_t d) : m_d(d), m_m(d > 1 ? UINT64_MAX / d + 1 : 0) {}
    uint32_t operator()(uint32_t x) const {
        if (m_d == 1) return x;
        return static_cast<uint32_t>((static_cast<unsigned __int128>(m_m) * x) >> 64);
    }

private:
    uint32_t m_d;
    uint64_t m_m;
};

// Mode 14: n x n boxes at trunc(i xr), trunc(j yr), summed in integers.
template <typename T, uint32_t CH>
void BoxReduceRows(const CISResizeJob& j, uint32_t n, const uint32_t* colStart, const uint32_t* rowStart) {
    const uint64_t rowSamples = static_cast<uint64_t>(j.sw) * CH;
    CISTable<uint32_t> acc(rowSamples);
    const CISDivider div(n * n);
    // Only the columns that some box reaches need vertical sums.
    const uint64_t first = static_cast<uint64_t>(colStart[0]) * CH;
    const uint64_t last = (static_cast<uint64_t>(colStart[j.dw - 1]) + n) * CH;
    for (uint32_t y = 0; y < j.dh; ++y) {
        uint32_t* a = acc.Get();
        std::fill(a + first, a + last, 0u);
        for (uint32_t r = 0; r < n; ++r) {
            const uint8_t* s = j.SrcRow(rowStart[y] + r);
            if (sizeof(T) == 1) {
                for (uint64_t k = first; k < last; ++k) a[k] += s[k];
            } else {
                for (uint64_t k = first; k < last; ++k) a[k] += ISLoadSample<T>(s + 2 * k);
            }
        }
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x) {
            const uint32_t* p = a + static_cast<uint64_t>(colStart[x]) * CH;
            for (uint32_t c = 0; c < CH; ++c) {
                uint32_t sum = 0;
                for (uint32_t t = 0; t < n; ++t) sum += p[t * CH + c];
                ISStoreSample<T>(d + (static_cast<uint64_t>(x) * CH + c) * sizeof(T), static_cast<T>(div(sum)));
            }
        }
    }
}

template <typename T>
void BoxReduceDispatch(const CISResizeJob& j, uint32_t n, const uint32_t* cols, const uint32_t* rows) {
    switch (j.ch) {
        case 1: BoxReduceRows<T, 1>(j, n, cols, rows); break;
        case 3: BoxReduceRows<T, 3>(j, n, cols, rows); break;
        default: BoxReduceRows<T, 4>(j, n, cols, rows); break;
    }
}

void BoxReduce(const CISResizeJob& j) {
    if (j.dw > j.sw || j.dh > j.sh) ISFail(IS_ERR_PARAM, "box reduction cannot enlarge");
    if (j.dw == j.sw && j.dh == j.sh) {
        CopyRows(j);
        return;
    }
    const uint32_t maxval = j.sampleBytes == 2 ? 65535u : 255u;
    const double xr = static_cast<double>(j.sw) / j.dw;
    const double yr = static_cast<double>(j.sh) / j.dh;
    if (xr * yr > static_cast<double>(0xFFFFFFFFu / maxval)) ISFail(IS_ERR_PARAM, "reduction too strong");
    const uint32_t n = static_cast<uint32_t>(std::min(std::trunc(xr), std::trunc(yr)));

    // The box corners, stepping by the ratio as a running sum; limited so
    // that no box reaches past the picture.
    CISTable<uint32_t> cols(j.dw);
    CISTable<uint32_t> rows(j.dh);
    double sx = 0.0;
    for (uint32_t i = 0; i < j.dw; ++i, sx += xr) cols[i] = std::min(static_cast<uint32_t>(sx), j.sw - n);
    double sy = 0.0;
    for (uint32_t i = 0; i < j.dh; ++i, sy += yr) rows[i] = std::min(static_cast<uint32_t>(sy), j.sh - n);

    if (j.sampleBytes == 2)
        BoxReduceDispatch<uint16_t>(j, n, cols.Get(), rows.Get());
    else
        BoxReduceDispatch<uint8_t>(j, n, cols.Get(), rows.Get());
}

// Mode 18: byte offsets of every column and row, computed once.
template <uint32_t PB>
void NearestRows(const CISResizeJob& j, const uint64_t* cols, const uint64_t* rows) {
    for (uint32_t y = 0; y < j.dh; ++y) {
        const uint8_t* s = j.src + rows[y];
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x, d += PB) std::memcpy(d, s + cols[x], PB);
    }
}

void Nearest(const CISResizeJob& j) {
    if (j.sw == j.dw && j.sh == j.dh && j.sstride == j.dstride) {
        CopyBlock(j);
        return;
    }
    const uint32_t pb = j.ch * j.sampleBytes;
    CISTable<uint64_t> cols(j.dw);
    CISTable<uint64_t> rows(j.dh);
    for (uint64_t i = 0; i < j.dw; ++i) cols[i] = (i * j.sw / j.dw) * pb;
    for (uint64_t i = 0; i < j.dh; ++i) rows[i] = (i * j.sh / j.dh) * j.sstride;
    switch (pb) {
        case 1: NearestRows<1>(j, cols.Get(), rows.Get()); break;
        case 2: NearestRows<2>(j, cols.Get(), rows.Get()); break;
        case 3: NearestRows<3>(j, cols.Get(), rows.Get()); break;
        case 4: NearestRows<4>(j, cols.Get(), rows.Get()); break;
        case 6: NearestRows<6>(j, cols.Get(), rows.Get()); break;
        default: NearestRows<8>(j, cols.Get(), rows.Get()); break;
    }
}

// The sampling ratio of modes 16 and 17: source / destination, and when
// enlarging (source - that ratio) / destination, so that the last sample
// falls inside the picture.
double InterpolationRatio(uint32_t s, uint32_t d) {
    double r = static_cast<double>(s) / d;
    if (s < d) r = (s - r) / d;
    return r;
}

// Mode 16 for 8-bit samples in fixed point: weights carry 24 fractional
// bits (255 << 24 still fits 32 bits), the horizontal pass keeps them, the
// vertical pass doubles them, and the result is rounded to nearest with
// ties to even. The weights' quantisation error stays below 2^-15 of a
// level, so only values within that of a half can round differently from
// the formula in doubles.
template <typename T>
struct CISBilinearBits {
    static constexpr uint32_t F = 24;
};

inline uint32_t FixedWeight(double frac, uint32_t bits) {
    return static_cast<uint32_t>(std::llround(std::ldexp(frac, static_cast<int>(bits))));
}

template <typename T, uint32_t CH>
void BilinearRow(const uint8_t* s, const uint32_t* col0, const uint32_t* col1, const uint32_t* wx,
                 uint32_t dw, uint32_t* out) {
    constexpr uint32_t S = 1u << CISBilinearBits<T>::F;
    for (uint32_t x = 0; x < dw; ++x) {
        const uint8_t* a = s + col0[x];
        const uint8_t* b = s + col1[x];
        const uint32_t w1 = wx[x];
        const uint32_t w0 = S - w1;
        for (uint32_t c = 0; c < CH; ++c) {
            const uint32_t p0 = ISLoadSample<T>(a + c * sizeof(T));
            const uint32_t p1 = ISLoadSample<T>(b + c * sizeof(T));
            out[x * CH + c] = p0 * w0 + p1 * w1;
        }
    }
}

template <typename T, uint32_t CH>
void Bilinear(const CISResizeJob& j) {
    constexpr uint32_t F = CISBilinearBits<T>::F;
    constexpr uint64_t S = 1ull << F;
    constexpr uint32_t shift = 2 * F;
    constexpr uint64_t half = 1ull << (shift - 1);
    constexpr uint32_t pb = CH * sizeof(T);

    const double rx = InterpolationRatio(j.sw, j.dw);
    const double ry = InterpolationRatio(j.sh, j.dh);
    CISTable<uint32_t> col0(j.dw), col1(j.dw), wx(j.dw);
    for (uint32_t i = 0; i < j.dw; ++i) {
        const double fx = i * rx;
        const double t = std::trunc(fx);
        const uint64_t ix = static_cast<uint64_t>(t);
        const uint64_t a = std::min<uint64_t>(ix, j.sw - 1);
        const uint64_t b = std::min<uint64_t>(ix + 1, j.sw - 1);
        col0[i] = static_cast<uint32_t>(a * pb);
        col1[i] = static_cast<uint32_t>(b * pb);
        wx[i] = FixedWeight(fx - t, F);
    }

    const uint64_t rowSamples = static_cast<uint64_t>(j.dw) * CH;
    CISTable<uint32_t> h0(rowSamples), h1(rowSamples);
    uint32_t* top = h0.Get();
    uint32_t* bottom = h1.Get();
    int64_t topRow = -1, bottomRow = -1;  // source rows held in top and bottom
    for (uint32_t y = 0; y < j.dh; ++y) {
        const double fy = y * ry;
        const double t = std::trunc(fy);
        const uint64_t iy = static_cast<uint64_t>(t);
        const int64_t r0 = static_cast<int64_t>(std::min<uint64_t>(iy, j.sh - 1));
        const int64_t r1 = static_cast<int64_t>(std::min<uint64_t>(iy + 1, j.sh - 1));
        const uint64_t w1 = FixedWeight(fy - t, F);
        const uint64_t w0 = S - w1;

        if (r0 != topRow) {
            if (r0 == bottomRow) {
                std::swap(top, bottom);
                std::swap(topRow, bottomRow);
            } else {
                BilinearRow<T, CH>(j.SrcRow(r0), col0.Get(), col1.Get(), wx.Get(), j.dw, top);
                topRow = r0;
            }
        }
        if (r1 != bottomRow) {
            if (r1 == topRow) {
                std::memcpy(bottom, top, rowSamples * sizeof(uint32_t));
            } else {
                BilinearRow<T, CH>(j.SrcRow(r1), col0.Get(), col1.Get(), wx.Get(), j.dw, bottom);
            }
            bottomRow = r1;
        }

        uint8_t* d = j.DstRow(y);
        for (uint64_t k = 0; k < rowSamples; ++k) {
            const uint64_t v = top[k] * w0 + bottom[k] * w1;
            const uint64_t q = (v + (half - 1) + ((v >> shift) & 1)) >> shift;
            ISStoreSample<T>(d + k * sizeof(T), static_cast<T>(q));
        }
    }
}

// Mode 16 for 16-bit samples: 16 more bits of level leave no room for
// fixed-point weights of enough precision, so the formula runs in doubles
// on positions and fractions computed once.
template <uint32_t CH>
void BilinearWide(const CISResizeJob& j) {
    constexpr uint32_t pb = CH * 2;
    const double rx = InterpolationRatio(j.sw, j.dw);
    const double ry = InterpolationRatio(j.sh, j.dh);
    CISTable<uint32_t> col0(j.dw), col1(j.dw);
    CISTable<double> fxs(j.dw);
    for (uint32_t i = 0; i < j.dw; ++i) {
        const double fx = i * rx;
        const double t = std::trunc(fx);
        const uint64_t ix = static_cast<uint64_t>(t);
        col0[i] = static_cast<uint32_t>(std::min<uint64_t>(ix, j.sw - 1) * pb);
        col1[i] = static_cast<uint32_t>(std::min<uint64_t>(ix + 1, j.sw - 1) * pb);
        fxs[i] = fx - t;
    }
    for (uint32_t y = 0; y < j.dh; ++y) {
        const double fy = y * ry;
        const double t = std::trunc(fy);
        const uint64_t iy = static_cast<uint64_t>(t);
        const double gy = fy - t;
        const uint8_t* s0 = j.SrcRow(std::min<uint64_t>(iy, j.sh - 1));
        const uint8_t* s1 = j.SrcRow(std::min<uint64_t>(iy + 1, j.sh - 1));
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x) {
            const double gx = fxs[x];
            for (uint32_t c = 0; c < CH; ++c) {
                const double p00 = ISLoadSample<uint16_t>(s0 + col0[x] + 2 * c);
                const double p10 = ISLoadSample<uint16_t>(s0 + col1[x] + 2 * c);
                const double p01 = ISLoadSample<uint16_t>(s1 + col0[x] + 2 * c);
                const double p11 = ISLoadSample<uint16_t>(s1 + col1[x] + 2 * c);
                const double v = p00 * (1 - gx) * (1 - gy) + p10 * gx * (1 - gy) + p01 * (1 - gx) * gy + p11 * gx * gy;
                ISStoreSample<uint16_t>(d + (static_cast<uint64_t>(x) * CH + c) * 2,
                                      static_cast<uint16_t>(std::min(65535.0, std::nearbyint(v))));
            }
        }
    }
}

template <typename T>
void BilinearDispatch(const CISResizeJob& j);

template <>
void BilinearDispatch<uint8_t>(const CISResizeJob& j) {
    switch (j.ch) {
        case 1: Bilinear<uint8_t, 1>(j); break;
        case 3: Bilinear<uint8_t, 3>(j); break;
        default: Bilinear<uint8_t, 4>(j); break;
    }
}

template <>
void BilinearDispatch<uint16_t>(const CISResizeJob& j) {
    switch (j.ch) {
        case 1: BilinearWide<1>(j); break;
        case 3: BilinearWide<3>(j); break;
        default: BilinearWide<4>(j); break;
    }
}

void BilinearResize(const CISResizeJob& j) {
    if (j.sw == j.dw && j.sh == j.dh && j.sstride == j.dstride) {
        CopyBlock(j);
        return;
    }
    if (j.sampleBytes == 2)
        BilinearDispatch<uint16_t>(j);
    else
        BilinearDispatch<uint8_t>(j);
}

// ---- separable filtered resampling (modes 0 to 13, 15, 17) -----------------

constexpr double kPi = 3.14159265358979323846;

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    x *= kPi;
    return std::sin(x) / x;
}

// Filter value at distance x (in source pixels at unit scale).
double FilterValue(uint32_t mode, double x) {
    const double a = std::fabs(x);
    switch (mode) {
        case 0: return (x >= -0.5 && x < 0.5) ? 1.0 : 0.0;
        case 1: return a < 1.0 ? 1.0 - a : 0.0;
        case 2: return a < 1.0 ? 0.54 + 0.46 * std::cos(kPi * x) : 0.0;
        case 3: return a < 1.25 ? std::exp(-2.0 * x * x) * std::sqrt(2.0 / kPi) : 0.0;
        case 4:
            if (a < 0.5) return 0.75 - x * x;
            if (a < 1.5) return 0.5 * (a - 1.5) * (a - 1.5);
            return 0.0;
        case 5:
        case 7:
            if (a < 1.0) return 0.5 * a * a * a - x * x + 2.0 / 3.0;
            if (a < 2.0) return (2.0 - a) * (2.0 - a) * (2.0 - a) / 6.0;
            return 0.0;
        case 6:
        case 11: return a < 1.0 ? (2.0 * a - 3.0) * x * x + 1.0 : 0.0;
        case 8: return a < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
        case 9:
            if (a < 1.0) return (7.0 * a * a * a - 12.0 * x * x + 16.0 / 3.0) / 6.0;
            if (a < 2.0) return (-7.0 / 3.0 * a * a * a + 12.0 * x * x - 20.0 * a + 32.0 / 3.0) / 6.0;
            return 0.0;
        case 10: return a < 4.0 ? Sinc(x) : 0.0;
        case 12: return a < 1.0 ? 0.5 + 0.5 * std::cos(kPi * x) : 0.0;
        default:  // 13, and the interpolating cubic of mode 17
            if (a < 1.0) return 0.5 * ((3.0 * a - 5.0) * x * x + 2.0);
            if (a < 2.0) return 0.5 * (((5.0 - a) * a - 8.0) * a + 4.0);
            return 0.0;
    }
}

double FilterSupport(uint32_t mode) {
    static const double kSupport[14] = {0.5, 1.0, 1.0, 1.25, 1.5, 2.0, 1.0, 2.0, 3.0, 2.0, 4.0, 1.0, 1.0, 2.0};
    return kSupport[mode];
}

// Per output position along one axis: the source indexes and weights that
// make it. Weights of each position sum to 1. Storage comes from the
// library heap, sized for the widest position.
class CISContributions {
public:
    CISContributions(uint32_t outputs, uint64_t maxTaps)
        : m_begin(static_cast<uint64_t>(outputs) + 1), m_index(Capacity(outputs, maxTaps)),
          m_weight(Capacity(outputs, maxTaps)), m_capacity(static_cast<uint64_t>(outputs) * maxTaps) {
        m_begin[0] = 0;
    }

    uint64_t Size() const { return m_size; }
    void Add(uint32_t index, double weight) {
        if (m_size == m_capacity) ISFail(IS_ERR_MEMORY, "filter taps");
        m_index[m_size] = index;
        m_weight[m_size] = weight;
        ++m_size;
    }
    void Truncate(uint64_t size) { m_size = size; }
    double SumFrom(uint64_t from) const {
        double sum = 0.0;
        for (uint64_t k = from; k < m_size; ++k) sum += m_weight[k];
        return sum;
    }
    // Closes output i, normalising its weights.
    void Finish(uint32_t i, uint64_t from) {
        const double sum = SumFrom(from);
        for (uint64_t k = from; k < m_size; ++k) m_weight[k] /= sum;
        m_begin[i + 1] = m_size;
    }

    uint64_t Begin(uint32_t i) const { return m_begin[i]; }
    uint64_t End(uint32_t i) const { return m_begin[i + 1]; }
    uint32_t Index(uint64_t k) const { return m_index[k]; }
    double Weight(uint64_t k) const { return m_weight[k]; }

private:
    static uint64_t Capacity(uint32_t outputs, uint64_t maxTaps) {
        uint64_t n;
        if (!ISMulSize(outputs, maxTaps, &n)) ISFail(IS_ERR_MEMORY, "filter taps");
        return n;
    }
    CISTable<uint64_t> m_begin;
    CISTable<uint32_t> m_index;
    CISTable<double> m_weight;
    uint64_t m_capacity;
    uint64_t m_size = 0;
};

// Filter of the mode centred on each output pixel, widened by the ratio
// when shrinking so that every source pixel contributes; the weights that
// fall inside the picture are normalised, so edges keep their level.
void FilterContributions(CISContributions& c, uint32_t mode, uint32_t src, uint32_t dst) {
    const double scale = static_cast<double>(src) / dst;
    const double widen = std::max(1.0, scale);
    const double reach = FilterSupport(mode) * widen;
    for (uint32_t i = 0; i < dst; ++i) {
        const double centre = (i + 0.5) * scale;
        const int64_t lo = std::max<int64_t>(0, static_cast<int64_t>(std::floor(centre - reach - 0.5)));
        const int64_t hi = std::min<int64_t>(src - 1, static_cast<int64_t>(std::ceil(centre + reach)));
        const uint64_t from = c.Size();
        for (int64_t k = lo; k <= hi; ++k) {
            const double w = FilterValue(mode, (k + 0.5 - centre) / widen);
            if (w != 0.0) c.Add(static_cast<uint32_t>(k), w);
        }
        if (std::fabs(c.SumFrom(from)) < 1e-9) {
            // The filter has no weight here (its lobes cancel): nearest pixel.
            c.Truncate(from);
            c.Add(static_cast<uint32_t>(std::min<int64_t>(src - 1, static_cast<int64_t>(centre))), 1.0);
        }
        c.Finish(i, from);
    }
}

uint64_t FilterTaps(uint32_t mode, uint32_t src, uint32_t dst) {
    const double reach = FilterSupport(mode) * std::max(1.0, static_cast<double>(src) / dst);
    return std::min<uint64_t>(src, static_cast<uint64_t>(std::ceil(2.0 * reach)) + 4);
}

// Mode 15 off whole ratios: each output pixel is the average of the source
// area it covers, partly covered pixels by their covered share.
void AreaContributions(CISContributions& c, uint32_t src, uint32_t dst) {
    const double scale = static_cast<double>(src) / dst;
    for (uint32_t i = 0; i < dst; ++i) {
        const double a = i * scale;
        const double b = std::min<double>(src, (i + 1) * scale);
        const uint64_t from = c.Size();
        const uint32_t last = std::min<uint32_t>(src - 1, static_cast<uint32_t>(std::ceil(b)) - 1);
        for (uint32_t k = static_cast<uint32_t>(a); k <= last; ++k) {
            const double w = std::min<double>(b, k + 1.0) - std::max<double>(a, k);
            if (w > 0.0) c.Add(k, w);
        }
        if (c.Size() == from) c.Add(std::min<uint32_t>(src - 1, static_cast<uint32_t>(a)), 1.0);
        c.Finish(i, from);
    }
}

uint64_t AreaTaps(uint32_t src, uint32_t dst) {
    return std::min<uint64_t>(src, static_cast<uint64_t>(std::ceil(static_cast<double>(src) / dst)) + 2);
}

// Mode 17: the Catmull-Rom cubic through the four pixels around each
// sample position of mode 16, edge pixels repeated.
void CubicContributions(CISContributions& c, uint32_t src, uint32_t dst) {
    const double r = InterpolationRatio(src, dst);
    for (uint32_t i = 0; i < dst; ++i) {
        const double f = i * r;
        const double t = std::trunc(f);
        const double frac = f - t;
        const int64_t base = static_cast<int64_t>(t);
        const uint64_t from = c.Size();
        for (int64_t k = -1; k <= 2; ++k) {
            const int64_t at = std::min<int64_t>(src - 1, std::max<int64_t>(0, base + k));
            c.Add(static_cast<uint32_t>(at), FilterValue(13, static_cast<double>(k) - frac));
        }
        c.Finish(i, from);
    }
}

// Vertical pass into one row of accumulators, then horizontal pass into
// the destination; results rounded half up and limited to 0 ... maxval.
// 8-bit samples accumulate in float, which holds their sums exactly
// enough and runs twice as wide; 16-bit samples in double.
template <typename T, uint32_t CH>
void SeparableRows(const CISResizeJob& j, const CISContributions& cx, const CISContributions& cy) {
    using Acc = typename std::conditional<sizeof(T) == 1, float, double>::type;
    const Acc maxval = sizeof(T) == 2 ? 65535 : 255;
    const uint64_t rowSamples = static_cast<uint64_t>(j.sw) * CH;
    CISTable<Acc> acc(rowSamples);
    CISTable<Acc> wx(cx.Size());
    for (uint64_t k = 0; k < cx.Size(); ++k) wx[k] = static_cast<Acc>(cx.Weight(k));
    for (uint32_t y = 0; y < j.dh; ++y) {
        Acc* __restrict a = acc.Get();
        std::fill(a, a + rowSamples, Acc(0));
        for (uint64_t k = cy.Begin(y); k < cy.End(y); ++k) {
            const uint8_t* __restrict s = j.SrcRow(cy.Index(k));
            const Acc w = static_cast<Acc>(cy.Weight(k));
            if (sizeof(T) == 1) {
                for (uint64_t n = 0; n < rowSamples; ++n) a[n] += w * s[n];
            } else {
                for (uint64_t n = 0; n < rowSamples; ++n) a[n] += w * ISLoadSample<T>(s + n * sizeof(T));
            }
        }
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x) {
            Acc v[CH] = {};
            for (uint64_t k = cx.Begin(x); k < cx.End(x); ++k) {
                const Acc* p = a + static_cast<uint64_t>(cx.Index(k)) * CH;
                for (uint32_t c = 0; c < CH; ++c) v[c] += wx[k] * p[c];
            }
            for (uint32_t c = 0; c < CH; ++c) {
                Acc r = std::floor(v[c] + Acc(0.5));
                r = r < 0 ? 0 : (r > maxval ? maxval : r);
                ISStoreSample<T>(d + (static_cast<uint64_t>(x) * CH + c) * sizeof(T), static_cast<T>(r));
            }
        }
    }
}

template <typename T>
void SeparableResize(const CISResizeJob& j, const CISContributions& cx, const CISContributions& cy) {
    switch (j.ch) {
        case 1: SeparableRows<T, 1>(j, cx, cy); break;
        case 3: SeparableRows<T, 3>(j, cx, cy); break;
        default: SeparableRows<T, 4>(j, cx, cy); break;
    }
}

void FilteredResize(const CISResizeJob& j, uint32_t mode) {
    if (j.sw == j.dw && j.sh == j.dh) {
        CopyRows(j);
        return;
    }
    if (mode == 15 && j.sw % j.dw == 0 && j.sh % j.dh == 0) {
        BoxReduce(j);
        return;
    }
    auto taps = [&](uint32_t src, uint32_t dst) {
        return mode == 15 ? AreaTaps(src, dst) : mode == 17 ? 4 : FilterTaps(mode, src, dst);
    };
    CISContributions cx(j.dw, taps(j.sw, j.dw));
    CISContributions cy(j.dh, taps(j.sh, j.dh));
    if (mode == 15) {
        AreaContributions(cx, j.sw, j.dw);
        AreaContributions(cy, j.sh, j.dh);
    } else if (mode == 17) {
        CubicContributions(cx, j.sw, j.dw);
        CubicContributions(cy, j.sh, j.dh);
    } else {
        FilterContributions(cx, mode, j.sw, j.dw);
        FilterContributions(cy, mode, j.sh, j.dh);
    }
    if (j.sampleBytes == 2)
        SeparableResize<uint16_t>(j, cx, cy);
    else
        SeparableResize<uint8_t>(j, cx, cy);
}

void Resize(const uint8_t* source, uint32_t sw, uint32_t sh, uint32_t sstride, uint8_t* destination, uint32_t dw,
            uint32_t dh, uint32_t dstride, uint32_t channels, uint32_t mode, uint32_t flags) {
    if (mode > 18) ISFail(IS_ERR_PARAM, "mode");
    if (!source || !destination || !sw || !sh || !dw || !dh || !ISValidChannels(channels)) ISFail(IS_ERR_PARAM, "arguments");
    CISResizeJob j{};
    j.src = source;
    j.sw = sw;
    j.sh = sh;
    j.sstride = sstride;
    j.dst = destination;
    j.dw = dw;
    j.dh = dh;
    j.dstride = dstride;
    j.ch = channels;
    j.sampleBytes = (flags & IS_RESIZE_16BIT) ? 2 : 1;
    j.srcRow = ISPixelRowBytes(sw, channels * j.sampleBytes);
    j.dstRow = ISPixelRowBytes(dw, channels * j.sampleBytes);
    if (sstride < j.srcRow || dstride < j.dstRow) ISFail(IS_ERR_PARAM, "stride");
    switch (mode) {
        case 14: BoxReduce(j); break;
        case 16: BilinearResize(j); break;
        case 18: Nearest(j); break;
        default: FilteredResize(j, mode); break;
    }
}

}  // namespace

extern "C" {

IS_BOOL IS40_ResizeImage(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                         uint8_t* destination, uint32_t destWidth, uint32_t destHeight, uint32_t destStride,
                         uint32_t bytesPerPixel, uint32_t mode, uint32_t flags) {
    return ISRunOperation("IS40_ResizeImage", [&] {
        Resize(source, sourceWidth, sourceHeight, sourceStride, destination, destWidth, destHeight, destStride,
               bytesPerPixel, mode, flags);
    });
}

}  // extern "C"
