// Shared checks of the fuzz targets: every read either fails with an error
// code or returns a buffer that is as large as the size it reports.
#ifndef VS_FUZZCOMMON_H
#define VS_FUZZCOMMON_H

#include "codec/IS40.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace vsfuzz {

[[noreturn]] inline void Fail(const char* what, uint32_t a, uint32_t b) {
    std::fprintf(stderr, "invariant broken: %s (%u, %u)\n", what, a, b);
    std::abort();
}

// Owns a memory source over the fuzzer's bytes.
class Source {
public:
    Source(const uint8_t* data, size_t size)
        : m_h(size ? IS40_OpenMemorySource(data, static_cast<uint32_t>(size)) : nullptr) {}
    ~Source() {
        if (m_h) IS40_CloseSource(m_h);
    }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ISHANDLE get() const { return m_h; }
    // Back to the start before the next read; readers leave it anywhere.
    ISHANDLE rewound() const {
        IS40_Seek(m_h, 0, 0);
        return m_h;
    }

private:
    ISHANDLE m_h;
};

// Checks one reader's outcome and releases its buffer. minBytes is what a
// buffer of the reported size must at least hold (0: not known).
inline void CheckRead(uint8_t* out, uint32_t width, uint32_t height, uint64_t minBytes) {
    const uint32_t error = IS40_GetLastError();
    if (!out) {
        if (error == 0) Fail("null result without an error code", width, height);
        return;
    }
    if (width == 0 || height == 0) Fail("buffer with an empty size", width, height);
    const uint64_t have = IS40_GlobalSize(out);
    if (have == 0) Fail("empty buffer", width, height);
    if (have < minBytes) Fail("buffer shorter than its reported size", static_cast<uint32_t>(have),
                              static_cast<uint32_t>(minBytes));
    // The block is one allocation: its two ends show a wrong size under ASan.
    volatile uint8_t sink = out[0];
    sink = sink ^ out[have - 1];
    if (minBytes) sink = sink ^ out[minBytes - 1];
    (void)sink;
    IS40_GlobalFree(out);
}

// A packed DIB result: its header must describe the size reported and a
// block that holds the colour table and rows it announces.
inline void CheckDib(uint8_t* out, uint32_t width, uint32_t height) {
    const uint32_t error = IS40_GetLastError();
    if (!out) {
        if (error == 0) Fail("null DIB without an error code", width, height);
        return;
    }
    const uint64_t have = IS40_GlobalSize(out);
    if (have < 40) Fail("DIB shorter than its header", static_cast<uint32_t>(have), 40);
    auto get32 = [&](size_t at) {
        return static_cast<uint32_t>(out[at] | (out[at + 1] << 8) | (out[at + 2] << 16) |
                                     (static_cast<uint32_t>(out[at + 3]) << 24));
    };
    const uint32_t w = get32(4);
    const int32_t hs = static_cast<int32_t>(get32(8));
    const uint32_t h = hs < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(hs)) : static_cast<uint32_t>(hs);
    const uint32_t bits = out[14] | (out[15] << 8);
    if (get32(0) != 40 || w != width || h != height) Fail("DIB header does not match the size", w, h);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        Fail("DIB bit count", bits, 0);
    const uint32_t used = get32(32);
    const uint64_t colours = used ? used : (bits <= 8 ? (1u << bits) : 0);
    const uint64_t need = 40 + 4 * colours + ((static_cast<uint64_t>(w) * bits + 31) / 32) * 4 * h;
    if (have < need) Fail("DIB shorter than its header says", static_cast<uint32_t>(have),
                          static_cast<uint32_t>(need));
    CheckRead(out, width, height, need);
}

// Bytes of a reader result of depth bits per pixel without padding, or
// with rows padded to 4 bytes.
inline uint64_t PlainBytes(uint32_t w, uint32_t h, uint32_t bits) {
    return (static_cast<uint64_t>(w) * bits + 7) / 8 * h;
}
inline uint64_t PaddedBytes(uint32_t w, uint32_t h, uint32_t bits) {
    return ((static_cast<uint64_t>(w) * bits + 31) / 32) * 4 * h;
}
inline uint64_t DibBytes(uint32_t w, uint32_t h, uint32_t bits) {
    return 40 + (bits <= 8 ? (4u << bits) : 0) + PaddedBytes(w, h, bits);
}

// What a reader is asked for: the depth and the layout flags.
struct Options {
    uint32_t depth;
    uint32_t flags;
};

// Least size of a successful result for the depth and flags asked for.
inline uint64_t ExpectedBytes(const Options& o, uint32_t w, uint32_t h) {
    if (o.flags & IS_READ_DIB) return DibBytes(w, h, o.depth);
    if ((o.flags & IS_READ_PAD_BGR) && o.depth == 24) return PaddedBytes(w, h, o.depth);
    return PlainBytes(w, h, o.depth);
}

// Checks a result in the layout o asks for (the JPEG flags share these values).
inline void CheckResult(uint8_t* out, uint32_t w, uint32_t h, const Options& o) {
    if (o.flags & IS_READ_DIB)
        CheckDib(out, w, h);
    else
        CheckRead(out, w, h, ExpectedBytes(o, w, h));
}

// A BMP, PCX or TGA target: the first input byte picks the depth (low part)
// and the layout (plain, DIB, padded B, G, R); the rest is the file, given
// to the dimension query and then to the reader.
template <typename Dims, typename Reader>
int FormatTarget(const uint8_t* data, size_t size, std::initializer_list<uint32_t> depths, Dims dims, Reader read) {
    if (size < 2) return 0;
    const uint32_t n = static_cast<uint32_t>(depths.size()), layouts[] = {0, IS_READ_DIB, IS_READ_PAD_BGR};
    const Options o{depths.begin()[data[0] % n], layouts[data[0] / n % 3]};
    Source src(data + 1, size - 1);
    dims(src.rewound());
    uint8_t palette[1024];
    uint32_t w = 0, h = 0;
    CheckResult(read(src.rewound(), &w, &h, o.depth, palette, o.flags), w, h, o);
    return 0;
}

}  // namespace vsfuzz

#endif
