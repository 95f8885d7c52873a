// The codec library's internal header: per-thread state, error recording,
// allocators, codec exceptions, source and destination handles, and the
// constants and helpers the codecs and image operations share. Never
// included by the shell.
#ifndef ISFRAME_H
#define ISFRAME_H

#include "codec/IS40.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
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

// Allocation flags of IS40_GlobalAlloc and IS40_GlobalReAlloc (fixed and
// zero-filled; moveable when grown).
constexpr uint32_t kISZeroInit = 0x0040;
constexpr uint32_t kISMoveable = 0x0002;

// Largest request the allocators accept; anything at or above fails.
constexpr uint64_t kISAllocLimit = 0x7FFDEFFFu;

// Decompression-bomb guard: header-driven buffers above this size are
// only allocated when the source is large enough to plausibly fill them.
// The fuzz build lowers it, so that no small input can take seconds.
#ifndef VS_BOMB_FLOOR_BYTES
#define VS_BOMB_FLOOR_BYTES (64ull << 20)
#endif
constexpr uint64_t kISBombFloor = VS_BOMB_FLOOR_BYTES;

// Source pixel of output pixel (x, y) for each EXIF/TIFF Orientation value,
// which makes the picture upright; the output is w x h, or h x w for 5 to 8,
// of a stored picture w x h.
struct CISOrient {
    uint32_t o, w, h;
    bool Swaps() const { return o >= 5 && o <= 8; }
    uint32_t OutWidth() const { return Swaps() ? h : w; }
    uint32_t OutHeight() const { return Swaps() ? w : h; }
    uint64_t Source(uint32_t x, uint32_t y) const {
        uint64_t r, c;
        switch (o) {
            case 2: r = y; c = w - 1 - x; break;
            case 3: r = h - 1 - y; c = w - 1 - x; break;
            case 4: r = h - 1 - y; c = x; break;
            case 5: r = x; c = y; break;
            case 6: r = h - 1 - x; c = y; break;
            case 7: r = h - 1 - x; c = w - 1 - y; break;
            case 8: r = x; c = w - 1 - y; break;
            default: r = y; c = x; break;
        }
        return r * w + c;
    }
};

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

// Local and UTC time of t; false when the C library cannot convert it.
// One file per platform (time_posix.cpp, time_win.cpp).
bool ISLocalTime(std::time_t t, std::tm* out);
bool ISUtcTime(std::time_t t, std::tm* out);

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

// Throws the codec exception that the entry point turns into code.
[[noreturn]] inline void ISFail(uint32_t code, const char* why) { throw ZerUvadod::ISException(code, why); }

inline uint64_t ISRoundUp4(uint64_t n) { return (n + 3) & ~static_cast<uint64_t>(3); }

// Packed DIB and BMP layout: the 40-byte BITMAPINFOHEADER, the three
// bit-field masks, and the compression codes.
constexpr uint32_t kISDibHeaderBytes = 40;
constexpr uint32_t kISDibMaskBytes = 12;
constexpr uint32_t kISBiRgb = 0;
constexpr uint32_t kISBiRle8 = 1;
constexpr uint32_t kISBiRle4 = 2;
constexpr uint32_t kISBiBitFields = 3;

// Write flags the BMP and TGA writers share: rows stored bottom-up, and
// caller's pixels in B, G, R order.
constexpr uint32_t kISWriteBottomUp = 4;
constexpr uint32_t kISWriteBgr = 8;

// The library's version text, written into the files that carry one.
constexpr char kISVersionText[] = "IS 4.0.9.2";

// ---- sources and destinations ----------------------------------------------

constexpr uint32_t kISHeadMark = 0x07475590u;
constexpr uint32_t kISTailMark = 0x12345678u;
constexpr uint32_t kISKindFile = 1;
constexpr uint32_t kISKindMemory = 2;
constexpr size_t kISPathField = 260;

struct ISHandleBlock {
    uint32_t headMark;
    std::FILE* stream;
    uint32_t kind;
    const uint8_t* memoryBase;
    uint32_t memorySize;
    uint32_t position;
    uint32_t highWater;
    char path[kISPathField];
    uint8_t writable;
    uint8_t keepExisting;
    uint32_t tailMark;
};

// True for an open handle made by this library. Never dereferences a
// pointer that is not a live handle block.
bool ISHandleValid(ISHANDLE handle);

// Common entry check of every reader, writer and dimension query: records
// 5 for null and 38 for an invalid handle under function.
bool ISCheckHandle(ISHANDLE handle, const char* function);

// The start of every codec entry point: the thread's state, the caller's
// pointers (5 when badArguments) and the handle. False: the error is
// recorded and the entry returns at once.
inline bool ISEnter(const char* function, bool badArguments, ISHANDLE handle) {
    if (!ISThreadState()) return false;
    if (badArguments) {
        ISRecordError(IS_ERR_PARAM, function);
        return false;
    }
    return ISCheckHandle(handle, function);
}

class CISIO {
public:
    explicit CISIO(ISHANDLE handle) : m_h(static_cast<ISHandleBlock*>(handle)) {}

    uint32_t Read(void* buffer, uint32_t count);
    bool ReadExact(void* buffer, uint32_t count) { return Read(buffer, count) == count; }
    bool Write(const void* data, uint32_t elementSize, uint32_t count);
    bool Write(const void* data, uint32_t count) { return Write(data, 1, count); }
    bool Seek(int64_t offset, uint32_t origin);
    uint32_t Tell() const;
    uint32_t Size();
    // Pushes buffered writes to the file; false when the file refused them.
    bool Flush();
    void Close();
    // True when the file's stream reported an error, as opposed to its end.
    bool Failed() const { return m_h->kind == kISKindFile && m_h->stream && std::ferror(m_h->stream); }

    uint32_t Kind() const { return m_h->kind; }
    const char* Path() const { return m_h->path; }
    bool Writable() const { return m_h->writable != 0; }
    ISHANDLE Handle() const { return m_h; }

private:
    ISHandleBlock* m_h;
};

// Buffered byte-at-a-time reading for run-length decoders.
class CISByteReader {
public:
    explicit CISByteReader(CISIO& io) : m_io(io) {}
    bool Next(uint8_t& b) {
        if (m_pos == m_len && !Fill()) return false;
        b = m_buf[m_pos++];
        return true;
    }
    // Copies exactly n bytes; false when the source ends first.
    bool Get(uint8_t* out, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!Next(out[i])) return false;
        }
        return true;
    }
    // True when at least one more byte is available.
    bool Fill() {
        if (m_pos < m_len) return true;
        m_len = m_io.Read(m_buf, sizeof m_buf);
        m_pos = 0;
        return m_len != 0;
    }

private:
    CISIO& m_io;
    uint8_t m_buf[8192];
    uint32_t m_pos = 0;
    uint32_t m_len = 0;
};

// Extension of a file source's path, from its last '.', or "" (memory
// sources and names without a dot).
const char* ISPathExtension(ISHANDLE handle);

// ---- pixel conversions -------------------------------------------------------

// New 24-bit RGB buffer from 8-bit indexes through a 256-entry B, G, R,
// reserved palette; null when out of memory.
uint8_t* ISIndexedToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride,
                        const uint8_t* palette);

// New 24-bit RGB buffer from a 1-bit image (most significant bit first),
// 0 black and 1 white.
uint8_t* ISBitsToRGB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t rowStride);

// New 32-bit RGBA buffer from a 24-bit one, alpha 255.
uint8_t* ISWidenToRGBA(const uint8_t* image, uint32_t width, uint32_t height);

// IS40_RGBToPackedDIB inside the library: throws instead of recording.
uint8_t* ISRGBToPackedDIB(const uint8_t* image, uint32_t width, uint32_t height, uint32_t stride, uint32_t bits,
                          const uint8_t* palette, uint32_t* dibBytes);

// Writes a 40-byte BITMAPINFOHEADER for an uncompressed, bottom-up DIB.
void ISPutDibHeader(uint8_t* header, uint32_t width, uint32_t height, uint32_t bitCount, uint32_t imageSize,
                    uint32_t xPelsPerMetre, uint32_t yPelsPerMetre, uint32_t colours);

// ---- generic reader ------------------------------------------------------------

enum : uint32_t {
    kISReaderJPEG = 0, kISReaderBMP = 1, kISReaderGIF = 2, kISReaderPCX = 3, kISReaderPNG = 4,
    kISReaderTIFF = 5, kISReaderTGA = 6, kISReaderWMF = 7, kISReaderEMF = 8, kISReaderPSD = 9,
    kISReaderWBMP = 10, kISReaderTLAU = 11, kISReaderTLA = 12, kISReaderPCD = 13, kISReaderPBM = 14,
    kISReaderPGM = 15, kISReaderPPM = 16, kISReaderNone = 17
};

// The reader for a file type code; types without one fall back to the
// extension of a file source's path.
uint32_t ISReaderCodeFor(uint32_t fileType, ISHANDLE handle);

// IS40_ReadTIFF of page 0 with the signature of the other readers, for the
// generic reader's table.
uint8_t* ISReadTIFFFirstPage(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t bitDepth,
                             uint8_t* palette, uint32_t flags);

// ---- image operations ----------------------------------------------------------

// Every operation works on caller-owned buffers described by pointer,
// width, height and stride; argument checks make sure that nothing outside
// width x pixel bytes of each of the height rows is read or written.

// The entry skeleton of the image operations: state, run, record.
template <typename Fn>
IS_BOOL ISRunOperation(const char* name, Fn fn) {
    if (!ISThreadState()) return 0;
    struct {
        uint32_t code = IS_ERR_NONE;
        void SetError(uint32_t c) { code = c; }
    } status;
    ISGuarded(status, [&] {
        fn();
        return true;
    });
    ISRecordError(status.code, name);
    return status.code == IS_ERR_NONE;
}

inline bool ISValidChannels(uint32_t n) { return n == 1 || n == 3 || n == 4; }

inline bool ISValidDibBits(uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Byte length of width pixels, refused when it could not be a real buffer.
inline uint64_t ISPixelRowBytes(uint32_t width, uint32_t pixelBytes) {
    const uint64_t n = static_cast<uint64_t>(width) * pixelBytes;
    if (n >= kISAllocLimit) ISFail(IS_ERR_PARAM, "row too long");
    return n;
}

// Work table of count elements from the library heap (error 1 on failure).
template <typename T>
class CISTable {
public:
    explicit CISTable(uint64_t count) {
        uint64_t bytes;
        if (!ISMulSize(count ? count : 1, sizeof(T), &bytes) || !m_block.Alloc(bytes)) ISFail(IS_ERR_MEMORY, "table");
    }
    T* Get() const { return reinterpret_cast<T*>(m_block.Get()); }
    T& operator[](uint64_t i) const { return Get()[i]; }

private:
    CISInternalAllocator m_block;
};

// 8- or 16-bit samples in the machine's byte order.
template <typename T>
inline T ISLoadSample(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
inline void ISStoreSample(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// A new 24-bit RGB buffer from the packed DIB in the memory source (the
// BMP reader without a file header); null with *error set on failure.
uint8_t* ISReadPackedDIB(ISHANDLE source, uint32_t* width, uint32_t* height, uint32_t* error);

// ---- JPEG services -------------------------------------------------------------

// Reads the JPEG header from the source's current position, without
// decoding pixels, and returns its COM and APP0 to APP15 segments in file
// order (each payload up to 65535 bytes, as stored after the length field).
// Returns 0 on success, 5 / 38 for a null / invalid handle, 9 when the
// header cannot be read, 1 when out of memory. Records nothing as the last
// error; a libjpeg failure leaves a trace entry.
uint32_t ISReadJPGMarkers(ISHANDLE handle, std::vector<CISJpegMarker>* markers);

#endif
