// Library-internal frame: per-thread state, error recording, allocators,
// codec exceptions. Never included by the shell.
#ifndef ISFRAME_H
#define ISFRAME_H

#include "IS40.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <new>
#include <string>
#include <vector>

namespace ZerUvadod {

// Thrown deep inside a codec; caught at the codec's entry and turned into
// its error code. Never crosses an IS40_ entry point.
class ISException {
public:
    ISException(uint32_t code, const char* message) : m_code(code), m_message(message ? message : "") {}
    uint32_t Code() const { return m_code; }
    const std::string& Message() const { return m_message; }

private:
    uint32_t m_code;
    std::string m_message;
};

}  // namespace ZerUvadod

struct CISTraceEntry {
    std::string text;
    uint32_t code;
    uint32_t category;
};

struct CISJpegMarker {
    uint32_t marker;
    std::vector<uint8_t> data;
};

class CISThreadState {
public:
    static constexpr size_t kTraceLimit = 50;  // entries kept before appending

    uint32_t lastError = 0;
    std::deque<CISTraceEntry> trace;

    uint32_t jpgScaleNum = 1;
    uint32_t jpgScaleDen = 1;

    void Record(uint32_t code, const char* function, const char* extra = nullptr);
};

// The calling thread's state, created on first use; null when none can be had.
CISThreadState* ISThreadState();

// Records code under function in the calling thread's state (no-op without state).
void ISRecordError(uint32_t code, const char* function, const char* extra = nullptr);

// Largest request the allocators accept; anything at or above fails.
constexpr uint64_t kISAllocLimit = 0x7FFDEFFFu;

// Decompression-bomb guard: header-driven buffers above this size are
// only allocated when the source is large enough to plausibly fill them.
constexpr uint64_t kISBombFloor = 64ull << 20;

// Test hook: after `count` more successful allocations on this thread, every
// allocation fails (negative: never). Used to inject out-of-memory.
void ISSetAllocFailAfter(int64_t count);

// Owns a reader's output block until it is handed to the caller.
class CISOutBufAllocator {
public:
    CISOutBufAllocator() = default;
    ~CISOutBufAllocator() { Free(); }
    CISOutBufAllocator(const CISOutBufAllocator&) = delete;
    CISOutBufAllocator& operator=(const CISOutBufAllocator&) = delete;

    uint8_t* Alloc(uint64_t bytes);
    uint8_t* Grow(uint64_t bytes);  // keeps contents; null on failure (block kept)
    void Free();
    uint8_t* Release();  // hand over to the caller
    uint8_t* Get() const { return m_block; }
    uint64_t Size() const { return m_size; }

private:
    uint8_t* m_block = nullptr;
    uint64_t m_size = 0;
};

// Scoped work buffer that stays inside the library.
class CISInternalAllocator {
public:
    CISInternalAllocator() = default;
    explicit CISInternalAllocator(uint64_t bytes) { Alloc(bytes); }
    ~CISInternalAllocator() { Free(); }
    CISInternalAllocator(const CISInternalAllocator&) = delete;
    CISInternalAllocator& operator=(const CISInternalAllocator&) = delete;

    uint8_t* Alloc(uint64_t bytes);
    void Free();
    uint8_t* Get() const { return m_block; }

private:
    uint8_t* m_block = nullptr;
};

// Overflow-safe size arithmetic for header-driven allocations: false when
// the product does not fit below the allocation limit.
bool ISMulSize(uint64_t a, uint64_t b, uint64_t* out);
bool ISMulSize3(uint64_t a, uint64_t b, uint64_t c, uint64_t* out);

// Runs a codec operation at an entry point: an exception becomes the
// codec's error code and the result a zero value.
template <typename Codec, typename Fn>
auto ISGuarded(Codec& codec, Fn fn) -> decltype(fn()) {
    try {
        return fn();
    } catch (const ZerUvadod::ISException& e) {
        codec.SetError(e.Code());
    } catch (const std::bad_alloc&) {
        codec.SetError(IS_ERR_MEMORY);
    }
    return decltype(fn())();
}

// Little-endian field helpers.
inline uint16_t ISGet16LE(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ISGet32LE(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void ISPut16LE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void ISPut32LE(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// Row length of a packed DIB or BMP file row: padded to 4 bytes.
inline uint64_t ISDibRowBytes(uint64_t width, uint32_t bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

#endif
