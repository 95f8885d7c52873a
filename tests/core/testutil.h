// Shared helpers of the core tests.
#ifndef VS_TESTUTIL_H
#define VS_TESTUTIL_H

#include "IS40.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace vstest {

using Bytes = std::vector<uint8_t>;

// A fresh folder for the running test, below the build tree.
std::string ScratchDir();
std::string ScratchPath(const std::string& name);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& data);

// Owns a library buffer.
struct LibBuffer {
    uint8_t* p = nullptr;
    LibBuffer() = default;
    explicit LibBuffer(uint8_t* b) : p(b) {}
    ~LibBuffer() { IS40_GlobalFree(p); }
    LibBuffer(const LibBuffer&) = delete;
    LibBuffer& operator=(const LibBuffer&) = delete;
    LibBuffer(LibBuffer&& o) noexcept : p(o.p) { o.p = nullptr; }
    LibBuffer& operator=(LibBuffer&& o) noexcept {
        if (this != &o) {
            IS40_GlobalFree(p);
            p = o.p;
            o.p = nullptr;
        }
        return *this;
    }
    uint8_t* get() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

// Puts back a last error that a later call (a close) overwrote.
void RestoreLastError(uint32_t code);

// Runs fn on a memory source over data, closes the source, and returns
// what fn returned; IS40_GetLastError still tells fn's outcome.
template <typename Fn>
auto WithMemorySource(const Bytes& data, Fn fn) -> decltype(fn(ISHANDLE())) {
    ISHANDLE h = IS40_OpenMemorySource(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_NE(h, nullptr);
    auto result = fn(h);
    const uint32_t error = IS40_GetLastError();
    IS40_CloseSource(h);
    RestoreLastError(error);
    return result;
}

// Writes through a file destination made by fn, returns the file's bytes.
Bytes WriteToBytes(const std::string& name, const std::function<uint32_t(ISHANDLE)>& fn,
                   uint32_t* returned = nullptr);

// Feeds every truncation of data and `flips` random single-byte
// corruptions (fixed seed) to decode, which runs one reader on a memory
// source and returns its buffer or null. Null results must come with a
// nonzero error code from the given set (empty set: any nonzero code).
void CorruptionSweep(const Bytes& data, const std::function<uint8_t*(ISHANDLE)>& decode,
                     int flips = 2000, const std::set<uint32_t>& allowed = {});

// Deterministic test picture: width × height × channels bytes.
Bytes Pattern(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed = 1);

}  // namespace vstest

#endif
