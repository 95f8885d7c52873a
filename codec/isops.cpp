// Image operations: resizing, quarter turns, fills, overlays, palette
// expansion and the packed-DIB conversions behind the display bitmaps.
//
// Every operation works on caller-owned buffers described by pointer,
// width, height and stride; argument checks make sure that nothing outside
// width x pixel bytes of each of the height rows is read or written.
#include "isframe.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

using ZerUvadod::ISException;

namespace {

[[noreturn]] void Fail(uint32_t code, const char* why) { throw ISException(code, why); }

// Runs an operation and turns its exceptions into an error code.
template <typename Fn>
uint32_t Guarded(Fn fn) {
    try {
        fn();
        return IS_ERR_NONE;
    } catch (const ISException& e) {
        return e.Code();
    } catch (const std::bad_alloc&) {
        return IS_ERR_MEMORY;
    }
}

// The entry skeleton of the operations: state, run, record.
template <typename Fn>
IS_BOOL RunEntry(const char* name, Fn fn) {
    if (!ISThreadState()) return 0;
    const uint32_t code = Guarded(fn);
    ISRecordError(code, name);
    return code == IS_ERR_NONE;
}

bool ValidChannels(uint32_t n) { return n == 1 || n == 3 || n == 4; }

// Byte length of width pixels, refused when it could not be a real buffer.
uint64_t RowBytes(uint32_t width, uint32_t pixelBytes) {
    const uint64_t n = static_cast<uint64_t>(width) * pixelBytes;
    if (n >= kISAllocLimit) Fail(IS_ERR_PARAM, "row too long");
    return n;
}

// Work table of count elements from the library heap (error 1 on failure).
template <typename T>
class CISTable {
public:
    explicit CISTable(uint64_t count) {
        uint64_t bytes;
        if (!ISMulSize(count ? count : 1, sizeof(T), &bytes) || !m_block.Alloc(bytes)) Fail(IS_ERR_MEMORY, "table");
    }
    T* Get() const { return reinterpret_cast<T*>(m_block.Get()); }
    T& operator[](uint64_t i) const { return Get()[i]; }

private:
    CISInternalAllocator m_block;
};

template <typename T>
inline T LoadSample(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
inline void StoreSample(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// ---- resizing --------------------------------------------------------------

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
                for (uint64_t k = first; k < last; ++k) a[k] += LoadSample<T>(s + 2 * k);
            }
        }
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x) {
            const uint32_t* p = a + static_cast<uint64_t>(colStart[x]) * CH;
            for (uint32_t c = 0; c < CH; ++c) {
                uint32_t sum = 0;
                for (uint32_t t = 0; t < n; ++t) sum += p[t * CH + c];
                StoreSample<T>(d + (static_cast<uint64_t>(x) * CH + c) * sizeof(T), static_cast<T>(div(sum)));
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
    if (j.dw > j.sw || j.dh > j.sh) Fail(IS_ERR_PARAM, "box reduction cannot enlarge");
    if (j.dw == j.sw && j.dh == j.sh) {
        CopyRows(j);
        return;
    }
    const uint32_t maxval = j.sampleBytes == 2 ? 65535u : 255u;
    const double xr = static_cast<double>(j.sw) / j.dw;
    const double yr = static_cast<double>(j.sh) / j.dh;
    if (xr * yr > static_cast<double>(0xFFFFFFFFu / maxval)) Fail(IS_ERR_PARAM, "reduction too strong");
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
            const uint32_t p0 = LoadSample<T>(a + c * sizeof(T));
            const uint32_t p1 = LoadSample<T>(b + c * sizeof(T));
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
            StoreSample<T>(d + k * sizeof(T), static_cast<T>(q));
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
                const double p00 = LoadSample<uint16_t>(s0 + col0[x] + 2 * c);
                const double p10 = LoadSample<uint16_t>(s0 + col1[x] + 2 * c);
                const double p01 = LoadSample<uint16_t>(s1 + col0[x] + 2 * c);
                const double p11 = LoadSample<uint16_t>(s1 + col1[x] + 2 * c);
                const double v = p00 * (1 - gx) * (1 - gy) + p10 * gx * (1 - gy) + p01 * (1 - gx) * gy + p11 * gx * gy;
                StoreSample<uint16_t>(d + (static_cast<uint64_t>(x) * CH + c) * 2,
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
        if (m_size == m_capacity) Fail(IS_ERR_MEMORY, "filter taps");
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
        if (!ISMulSize(outputs, maxTaps, &n)) Fail(IS_ERR_MEMORY, "filter taps");
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

// Vertical pass into one row of doubles, then horizontal pass into the
// destination; results rounded half up and limited to 0 ... maxval.
template <typename T>
void SeparableResize(const CISResizeJob& j, const CISContributions& cx, const CISContributions& cy) {
    const double maxval = sizeof(T) == 2 ? 65535.0 : 255.0;
    const uint32_t ch = j.ch;
    const uint64_t rowSamples = static_cast<uint64_t>(j.sw) * ch;
    CISTable<double> acc(rowSamples);
    for (uint32_t y = 0; y < j.dh; ++y) {
        std::fill(acc.Get(), acc.Get() + rowSamples, 0.0);
        for (uint64_t k = cy.Begin(y); k < cy.End(y); ++k) {
            const uint8_t* s = j.SrcRow(cy.Index(k));
            const double w = cy.Weight(k);
            for (uint64_t n = 0; n < rowSamples; ++n) acc[n] += w * LoadSample<T>(s + n * sizeof(T));
        }
        uint8_t* d = j.DstRow(y);
        for (uint32_t x = 0; x < j.dw; ++x) {
            for (uint32_t c = 0; c < ch; ++c) {
                double v = 0.0;
                for (uint64_t k = cx.Begin(x); k < cx.End(x); ++k) {
                    v += cx.Weight(k) * acc[static_cast<uint64_t>(cx.Index(k)) * ch + c];
                }
                v = std::floor(v + 0.5);
                v = v < 0.0 ? 0.0 : (v > maxval ? maxval : v);
                StoreSample<T>(d + (static_cast<uint64_t>(x) * ch + c) * sizeof(T), static_cast<T>(v));
            }
        }
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
    if (mode > 18) Fail(IS_ERR_PARAM, "mode");
    if (!source || !destination || !sw || !sh || !dw || !dh || !ValidChannels(channels)) Fail(IS_ERR_PARAM, "arguments");
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
    j.srcRow = RowBytes(sw, channels * j.sampleBytes);
    j.dstRow = RowBytes(dw, channels * j.sampleBytes);
    if (sstride < j.srcRow || dstride < j.dstRow) Fail(IS_ERR_PARAM, "stride");
    switch (mode) {
        case 14: BoxReduce(j); break;
        case 16: BilinearResize(j); break;
        case 18: Nearest(j); break;
        default: FilteredResize(j, mode); break;
    }
}

// ---- quarter turns ---------------------------------------------------------

// A half turn reverses each row into the mirrored row. Quarter turns walk
// square tiles so that both the column reads and the row writes stay
// within a few cache lines; inside a tile each destination row is written
// left to right.
template <uint32_t PB>
void RotateTiles(const uint8_t* src, uint32_t w, uint32_t h, uint64_t ss, uint8_t* dst, uint64_t ds,
                 uint32_t rotation) {
    if (rotation == 1) {
        for (uint32_t r = 0; r < h; ++r) {
            const uint8_t* s = src + r * ss;
            uint8_t* d = dst + (h - 1 - r) * ds + static_cast<uint64_t>(w - 1) * PB;
            for (uint32_t c = 0; c < w; ++c, s += PB, d -= PB) std::memcpy(d, s, PB);
        }
        return;
    }
    constexpr uint32_t kTile = 128;
    // Destination row y, column x takes source column (y or w-1-y), row
    // (h-1-x or x). Bands of source rows outside, so that each band's pages
    // are visited once.
    const uint32_t dw = h, dh = w;
    for (uint32_t x0 = 0; x0 < dw; x0 += kTile) {
        const uint32_t x1 = std::min(dw, x0 + kTile);
        for (uint32_t y0 = 0; y0 < dh; y0 += kTile) {
            const uint32_t y1 = std::min(dh, y0 + kTile);
            for (uint32_t y = y0; y < y1; ++y) {
                uint8_t* d = dst + y * ds + static_cast<uint64_t>(x0) * PB;
                if (rotation == 0) {
                    // Column y of the source, read upwards from row h-1-x0.
                    const uint8_t* s = src + (h - 1 - x0) * ss + static_cast<uint64_t>(y) * PB;
                    for (uint32_t x = x0; x < x1; ++x, d += PB, s -= ss) std::memcpy(d, s, PB);
                } else {
                    // Column w-1-y of the source, read downwards from row x0.
                    const uint8_t* s = src + x0 * ss + static_cast<uint64_t>(w - 1 - y) * PB;
                    for (uint32_t x = x0; x < x1; ++x, d += PB, s += ss) std::memcpy(d, s, PB);
                }
            }
        }
    }
}

void Rotate(const uint8_t* src, uint32_t w, uint32_t h, uint32_t ss, uint8_t* dst, uint32_t ds, uint32_t rotation,
            uint32_t channels, uint32_t flags) {
    if (!src || !dst || rotation > 2 || !ValidChannels(channels) || !w || !h) Fail(IS_ERR_PARAM, "arguments");
    const uint32_t pb = channels * ((flags & IS_ROTATE_16BIT) ? 2 : 1);
    const uint32_t dw = rotation == 1 ? w : h;
    const uint32_t dh = rotation == 1 ? h : w;
    const uint64_t srcRow = RowBytes(w, pb);
    const uint64_t dstRow = RowBytes(dw, pb);
    if (ss < srcRow || ds < dstRow) Fail(IS_ERR_PARAM, "stride");
    // Turning in place would read pixels already overwritten.
    const uintptr_t s0 = reinterpret_cast<uintptr_t>(src), d0 = reinterpret_cast<uintptr_t>(dst);
    const uintptr_t srcEnd = s0 + (h - 1) * static_cast<uint64_t>(ss) + srcRow;
    const uintptr_t dstEnd = d0 + (dh - 1) * static_cast<uint64_t>(ds) + dstRow;
    if (s0 < dstEnd && d0 < srcEnd) Fail(IS_ERR_PARAM, "overlapping buffers");
    switch (pb) {
        case 1: RotateTiles<1>(src, w, h, ss, dst, ds, rotation); break;
        case 2: RotateTiles<2>(src, w, h, ss, dst, ds, rotation); break;
        case 3: RotateTiles<3>(src, w, h, ss, dst, ds, rotation); break;
        case 4: RotateTiles<4>(src, w, h, ss, dst, ds, rotation); break;
        case 6: RotateTiles<6>(src, w, h, ss, dst, ds, rotation); break;
        default: RotateTiles<8>(src, w, h, ss, dst, ds, rotation); break;
    }
}

// ---- fill ------------------------------------------------------------------

void Fill(uint8_t* image, uint32_t width, uint32_t height, uint32_t bpp, uint32_t stride, const ISRect* rect,
          uint32_t colour, uint32_t flags) {
    if (!image || !rect || !ValidChannels(bpp)) Fail(IS_ERR_PARAM, "arguments");
    const uint64_t fullRow = RowBytes(width, bpp);
    if (height && stride < fullRow) Fail(IS_ERR_PARAM, "stride");
    const int64_t x0 = std::max<int64_t>(0, rect->left);
    const int64_t x1 = std::min<int64_t>(width, rect->right);
    const int64_t y0 = std::max<int64_t>(0, rect->top);
    const int64_t y1 = std::min<int64_t>(height, rect->bottom);
    if (x0 >= x1 || y0 >= y1) return;

    uint8_t px[4];
    const uint8_t r = static_cast<uint8_t>(colour), g = static_cast<uint8_t>(colour >> 8),
                  b = static_cast<uint8_t>(colour >> 16), a = static_cast<uint8_t>(colour >> 24);
    if (bpp == 1) {
        px[0] = r;
    } else {
        const bool bgr = (flags & IS_FILL_BGR) != 0;
        px[0] = bgr ? b : r;
        px[1] = g;
        px[2] = bgr ? r : b;
        px[3] = a;
    }
    const uint64_t left = static_cast<uint64_t>(x0) * bpp;
    const uint64_t bytes = static_cast<uint64_t>(x1 - x0) * bpp;
    bool uniform = true;
    for (uint32_t k = 1; k < bpp; ++k) uniform = uniform && px[k] == px[0];
    if (uniform) {
        if (x0 == 0 && y0 == 0 && x1 == width && y1 == height && stride == fullRow) {
            std::memset(image, px[0], fullRow * height);
            return;
        }
        for (int64_t y = y0; y < y1; ++y) std::memset(image + y * static_cast<uint64_t>(stride) + left, px[0], bytes);
        return;
    }
    // Build the first row of the area, then copy it to the others.
    uint8_t* first = image + y0 * static_cast<uint64_t>(stride) + left;
    for (uint64_t k = 0; k < bytes; k += bpp) std::memcpy(first + k, px, bpp);
    for (int64_t y = y0 + 1; y < y1; ++y) std::memcpy(image + y * static_cast<uint64_t>(stride) + left, first, bytes);
}

// ---- overlay ---------------------------------------------------------------

template <typename T>
inline uint32_t Combine(uint32_t mode, uint32_t d, uint32_t o, uint32_t maxval) {
    switch (mode) {
        case 0: return o;
        case 2: return d & o;
        case 3: return d | o;
        case 4: return d ^ o;
        case 5: return std::min(d + o, maxval);
        case 6: return d > o ? d - o : 0;
        case 7: return std::min(d, o);
        case 8: return std::max(d, o);
        case 9: return d > o ? d - o : o - d;
        case 10: return d * o / maxval;
        default: return maxval - (maxval - d) * (maxval - o) / maxval;  // 11
    }
}

template <typename T>
void OverlayBlend(uint8_t* dst, uint64_t ds, const uint8_t* ovl, uint64_t os, int64_t x0, int64_t x1, int64_t y0,
                  int64_t y1, int64_t x, int64_t y, uint32_t ch, double opacity, uint32_t mode) {
    const uint32_t maxval = sizeof(T) == 2 ? 65535u : 255u;
    const bool full = opacity >= 1.0;
    CISTable<T> ta(maxval + 1), tb(maxval + 1);
    if (!full) {
        for (uint32_t v = 0; v <= maxval; ++v) {
            ta[v] = static_cast<T>(std::trunc(v * opacity));
            tb[v] = static_cast<T>(std::trunc(v * (1.0 - opacity)));
        }
    }
    const uint64_t samples = static_cast<uint64_t>(x1 - x0) * ch;
    for (int64_t v = y0; v < y1; ++v) {
        uint8_t* d = dst + v * ds + static_cast<uint64_t>(x0) * ch * sizeof(T);
        const uint8_t* o = ovl + (v - y) * os + static_cast<uint64_t>(x0 - x) * ch * sizeof(T);
        for (uint64_t k = 0; k < samples; ++k) {
            const uint32_t dv = LoadSample<T>(d + k * sizeof(T));
            const uint32_t ov = LoadSample<T>(o + k * sizeof(T));
            const uint32_t f = Combine<T>(mode, dv, ov, maxval);
            const uint32_t out = full ? f : static_cast<uint32_t>(ta[f]) + tb[dv];
            StoreSample<T>(d + k * sizeof(T), static_cast<T>(out));
        }
    }
}

void Overlay(uint8_t* dst, uint32_t dw, uint32_t dh, uint32_t ch, uint32_t ds, const uint8_t* ovl, uint32_t ow,
             uint32_t oh, uint32_t os, int32_t x, int32_t y, double opacity, uint32_t mode, uint32_t flags) {
    if (!dst || !ovl || dst == ovl || !ValidChannels(ch)) Fail(IS_ERR_PARAM, "arguments");
    if (mode == 1 || mode > 11) Fail(IS_ERR_PARAM, "mode");
    if (std::isnan(opacity)) Fail(IS_ERR_PARAM, "opacity");
    const uint32_t sb = (flags & IS_RESIZE_16BIT) ? 2 : 1;
    if ((dh && ds < RowBytes(dw, ch * sb)) || (oh && os < RowBytes(ow, ch * sb))) Fail(IS_ERR_PARAM, "stride");
    const int64_t x0 = std::min<int64_t>(dw, std::max<int64_t>(0, x));
    const int64_t x1 = std::min<int64_t>(dw, std::max<int64_t>(0, static_cast<int64_t>(x) + ow));
    const int64_t y0 = std::min<int64_t>(dh, std::max<int64_t>(0, y));
    const int64_t y1 = std::min<int64_t>(dh, std::max<int64_t>(0, static_cast<int64_t>(y) + oh));
    if (x0 >= x1 || y0 >= y1) return;
    opacity = std::min(1.0, std::max(0.0, opacity));

    if (mode == 0 && opacity == 0.0) return;
    if (mode == 0 && opacity == 1.0) {
        const uint64_t bytes = static_cast<uint64_t>(x1 - x0) * ch * sb;
        for (int64_t v = y0; v < y1; ++v) {
            std::memcpy(dst + v * static_cast<uint64_t>(ds) + static_cast<uint64_t>(x0) * ch * sb,
                        ovl + (v - y) * static_cast<uint64_t>(os) + static_cast<uint64_t>(x0 - x) * ch * sb, bytes);
        }
        return;
    }
    if (sb == 2)
        OverlayBlend<uint16_t>(dst, ds, ovl, os, x0, x1, y0, y1, x, y, ch, opacity, mode);
    else
        OverlayBlend<uint8_t>(dst, ds, ovl, os, x0, x1, y0, y1, x, y, ch, opacity, mode);
}

// ---- palette and DIB conversions -------------------------------------------

constexpr uint32_t kDibHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

bool ValidDibBits(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// One bit-field channel moved so that the mask's top bit lands on bit 7,
// the rule of the BMP reader.
struct CISMask {
    uint32_t mask = 0;
    int shift = 0;
    void Set(uint32_t m) {
        mask = m;
        int top = 31;
        if (m) {
            while (!(m & (1u << top))) --top;
        }
        shift = top - 7;
    }
    uint8_t Get(uint32_t pixel) const {
        const uint32_t v = pixel & mask;
        return static_cast<uint8_t>(shift >= 0 ? v >> shift : v << -shift);
    }
};

struct CISDibLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    uint32_t bits = 0;
    uint32_t compression = kBiRgb;
    CISMask red, green, blue;
    uint8_t table[256 * 4] = {};  // B, G, R, reserved; entries past the stored ones are black
    uint64_t pixelOffset = 0;
    uint64_t rowBytes = 0;
};

// Checks that header, masks, colour table and every row lie inside the
// block before anything is read from them.
CISDibLayout ParseDib(const uint8_t* dib, uint32_t size) {
    if (!dib) Fail(IS_ERR_PARAM, "null DIB");
    if (size < kDibHeaderBytes) Fail(IS_ERR_VARIANT, "short DIB");
    CISDibLayout d;
    const uint32_t headerSize = ISGet32LE(dib);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 && headerSize != 124) {
        Fail(IS_ERR_VARIANT, "DIB header size");
    }
    if (headerSize > size) Fail(IS_ERR_VARIANT, "short DIB header");
    const int32_t w = static_cast<int32_t>(ISGet32LE(dib + 4));
    const int32_t h = static_cast<int32_t>(ISGet32LE(dib + 8));
    d.bits = ISGet16LE(dib + 14);
    d.compression = ISGet32LE(dib + 16);
    const uint32_t used = ISGet32LE(dib + 32);
    if (w < 1 || h == 0 || h == INT32_MIN) Fail(IS_ERR_VARIANT, "DIB size");
    if (!ValidDibBits(d.bits)) Fail(IS_ERR_VARIANT, "DIB bit count");
    if (d.compression != kBiRgb && !(d.compression == kBiBitFields && (d.bits == 16 || d.bits == 32))) {
        Fail(IS_ERR_VARIANT, "DIB compression");
    }
    d.width = static_cast<uint32_t>(w);
    d.topDown = h < 0;
    d.height = static_cast<uint32_t>(h < 0 ? -static_cast<int64_t>(h) : h);

    uint64_t at = headerSize;
    if (d.compression == kBiBitFields) {
        const uint8_t* m;
        if (headerSize >= 52) {
            m = dib + 40;
        } else {
            if (at + 12 > size) Fail(IS_ERR_VARIANT, "DIB masks");
            m = dib + at;
            at += 12;
        }
        d.red.Set(ISGet32LE(m));
        d.green.Set(ISGet32LE(m + 4));
        d.blue.Set(ISGet32LE(m + 8));
    }
    const uint64_t entries = used ? used : (d.bits <= 8 ? 1u << d.bits : 0);
    if (entries * 4 > size - at) Fail(IS_ERR_VARIANT, "DIB colour table");
    if (d.bits <= 8) std::memcpy(d.table, dib + at, 4 * std::min<uint64_t>(entries, 1u << d.bits));
    at += entries * 4;
    d.pixelOffset = at;
    d.rowBytes = ISDibRowBytes(d.width, d.bits);
    uint64_t image;
    if (!ISMulSize(d.rowBytes, d.height, &image) || image > size - at) Fail(IS_ERR_VARIANT, "DIB rows");
    return d;
}

void DibRowToRGB(const CISDibLayout& d, const uint8_t* in, uint8_t* out) {
    const uint32_t w = d.width;
    auto index = [&](uint32_t x, uint32_t i) {
        const uint8_t* e = d.table + 4 * i;
        uint8_t* p = out + 3 * static_cast<uint64_t>(x);
        p[0] = e[2];
        p[1] = e[1];
        p[2] = e[0];
    };
    switch (d.bits) {
        case 1:
            for (uint32_t x = 0; x < w; ++x) index(x, (in[x >> 3] >> (7 - (x & 7))) & 1);
            break;
        case 4:
            for (uint32_t x = 0; x < w; ++x) index(x, (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F);
            break;
        case 8:
            for (uint32_t x = 0; x < w; ++x) index(x, in[x]);
            break;
        case 16:
            for (uint32_t x = 0; x < w; ++x, out += 3) {
                const uint32_t p = ISGet16LE(in + 2 * static_cast<uint64_t>(x));
                if (d.compression == kBiBitFields) {
                    out[0] = d.red.Get(p);
                    out[1] = d.green.Get(p);
                    out[2] = d.blue.Get(p);
                } else {
                    out[0] = static_cast<uint8_t>(((p >> 10) & 31) * 255 / 31);
                    out[1] = static_cast<uint8_t>(((p >> 5) & 31) * 255 / 31);
                    out[2] = static_cast<uint8_t>((p & 31) * 255 / 31);
                }
            }
            break;
        case 24:
            for (uint32_t x = 0; x < w; ++x, in += 3, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
            break;
        default:
            for (uint32_t x = 0; x < w; ++x, in += 4, out += 3) {
                if (d.compression == kBiBitFields) {
                    const uint32_t p = ISGet32LE(in);
                    out[0] = d.red.Get(p);
                    out[1] = d.green.Get(p);
                    out[2] = d.blue.Get(p);
                } else {
                    out[0] = in[2];
                    out[1] = in[1];
                    out[2] = in[0];
                }
            }
            break;
    }
}

void DibToRGB(const uint8_t* dib, uint32_t size, uint8_t* dest, uint32_t stride, uint32_t dw, uint32_t dh) {
    const CISDibLayout d = ParseDib(dib, size);
    if (!dest) Fail(IS_ERR_PARAM, "destination");
    if (dw != d.width || dh != d.height) Fail(IS_ERR_PARAM, "destination size");
    if (stride < RowBytes(dw, 3)) Fail(IS_ERR_PARAM, "stride");
    for (uint32_t y = 0; y < d.height; ++y) {
        const uint64_t stored = d.topDown ? y : d.height - 1 - y;
        DibRowToRGB(d, dib + d.pixelOffset + stored * d.rowBytes, dest + static_cast<uint64_t>(y) * stride);
    }
}

uint8_t* RGBToDib(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride, uint32_t bits,
                  const uint8_t* palette, uint32_t* dibBytes) {
    if (!image || !width || !height || !ValidDibBits(bits) || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu) {
        Fail(IS_ERR_PARAM, "arguments");
    }
    const bool indexed = bits <= 8;
    if (indexed && !palette) Fail(IS_ERR_PARAM, "palette");
    if (stride < RowBytes(width, indexed ? 1 : 3)) Fail(IS_ERR_PARAM, "stride");
    const uint32_t colours = indexed ? 1u << bits : 0;
    const uint64_t start = kDibHeaderBytes + 4ull * colours;
    const uint64_t row = ISDibRowBytes(width, bits);
    uint64_t pixels, total;
    if (!ISMulSize(row, height, &pixels) || !ISMulSize(pixels + start, 1, &total)) Fail(IS_ERR_MEMORY, "DIB too large");

    CISOutBufAllocator out;
    if (!out.Alloc(total)) Fail(IS_ERR_MEMORY, "DIB");
    uint8_t* base = out.Get();
    ISPut32LE(base, kDibHeaderBytes);
    ISPut32LE(base + 4, width);
    ISPut32LE(base + 8, height);
    ISPut16LE(base + 12, 1);
    ISPut16LE(base + 14, bits);
    ISPut32LE(base + 16, kBiRgb);
    ISPut32LE(base + 20, static_cast<uint32_t>(pixels));
    if (indexed) std::memcpy(base + kDibHeaderBytes, palette, 4ull * colours);

    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* s = image + static_cast<uint64_t>(y) * stride;
        uint8_t* d = base + start + static_cast<uint64_t>(height - 1 - y) * row;
        switch (bits) {
            case 1:
            case 4:
            case 8: {
                const uint32_t perByte = 8 / bits;
                for (uint32_t x = 0; x < width; ++x) {
                    if (s[x] >= colours) Fail(IS_ERR_PARAM, "index past the palette");
                    const uint32_t shift = bits * (perByte - 1 - x % perByte);
                    d[x / perByte] |= static_cast<uint8_t>(s[x] << shift);
                }
                break;
            }
            case 16:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 2) {
                    ISPut16LE(d, ((s[0] >> 3) << 10) | ((s[1] >> 3) << 5) | (s[2] >> 3));
                }
                break;
            case 24:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 3) {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
                break;
            default:
                for (uint32_t x = 0; x < width; ++x, s += 3, d += 4) {
                    d[0] = s[2];
                    d[1] = s[1];
                    d[2] = s[0];
                }
                break;
        }
    }
    if (dibBytes) *dibBytes = static_cast<uint32_t>(total);
    return out.Release();
}

}  // namespace

extern "C" {

IS_BOOL IS40_ResizeImage(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint32_t sourceStride,
                         uint8_t* destination, uint32_t destWidth, uint32_t destHeight, uint32_t destStride,
                         uint32_t bytesPerPixel, uint32_t mode, uint32_t flags) {
    return RunEntry("IS40_ResizeImage", [&] {
        Resize(source, sourceWidth, sourceHeight, sourceStride, destination, destWidth, destHeight, destStride,
               bytesPerPixel, mode, flags);
    });
}

IS_BOOL IS40_QuickRotateImage(const uint8_t* source, uint32_t width, uint32_t height, uint32_t sourceStride,
                              uint8_t* destination, uint32_t destStride, uint32_t rotation, uint32_t bytesPerPixel,
                              uint32_t flags) {
    return RunEntry("IS40_QuickRotateImage", [&] {
        Rotate(source, width, height, sourceStride, destination, destStride, rotation, bytesPerPixel, flags);
    });
}

IS_BOOL IS40_FillSolidRect(uint8_t* image, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint32_t stride,
                           const ISRect* rect, uint32_t colour, uint32_t flags) {
    return RunEntry("IS40_FillSolidRect",
                    [&] { Fill(image, width, height, bytesPerPixel, stride, rect, colour, flags); });
}

IS_BOOL IS40_OverlayImage(uint8_t* destination, uint32_t destWidth, uint32_t destHeight, uint32_t bytesPerPixel,
                          uint32_t destStride, const uint8_t* overlay, uint32_t overlayWidth, uint32_t overlayHeight,
                          uint32_t overlayStride, int32_t x, int32_t y, double opacity, double /*parameter*/,
                          uint32_t mode, uint32_t flags) {
    return RunEntry("IS40_OverlayImage", [&] {
        Overlay(destination, destWidth, destHeight, bytesPerPixel, destStride, overlay, overlayWidth, overlayHeight,
                overlayStride, x, y, opacity, mode, flags);
    });
}

uint8_t* IS40_RGBToPackedDIB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride,
                             uint32_t bitCount, const uint8_t* palette, uint32_t* dibBytes) {
    uint8_t* result = nullptr;
    RunEntry("IS40_RGBToPackedDIB",
             [&] { result = RGBToDib(image, width, height, stride, bitCount, palette, dibBytes); });
    return result;
}

IS_BOOL IS40_PackedDIBToRGB(const uint8_t* dib, uint32_t dibBytes, uint8_t* destination, uint32_t destStride,
                            uint32_t destWidth, uint32_t destHeight) {
    return RunEntry("IS40_PackedDIBToRGB",
                    [&] { DibToRGB(dib, dibBytes, destination, destStride, destWidth, destHeight); });
}

}  // extern "C"
