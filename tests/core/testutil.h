// Shared helpers of the core tests.
#ifndef VS_TESTUTIL_H
#define VS_TESTUTIL_H

#include "codec/IS40.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vstest {

using Bytes = std::vector<uint8_t>;

// A file in a fresh folder for the running test, below the build tree.
std::string ScratchPath(const std::string& name);

Bytes ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const Bytes& data);

// Owns a library buffer.
struct LibFree { void operator()(uint8_t* p) const { IS40_GlobalFree(p); } };
using LibBuffer = std::unique_ptr<uint8_t, LibFree>;

// A reader's outcome: its buffer, the size it reported, its error code,
// and a palette for readers that fill one (unwritten entries stay 0xCD).
struct ReadResult {
    LibBuffer buf;
    uint32_t width = 0, height = 0, error = 0;
    Bytes palette = Bytes(1024, 0xCD);
    Bytes Data(size_t n) const { return buf ? Bytes(buf.get(), buf.get() + n) : Bytes(); }
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

// Writes through a file destination made by fn, returns the file's bytes; IS40_GetLastError still tells fn's outcome.
Bytes WriteToBytes(const std::string& name, const std::function<uint32_t(ISHANDLE)>& fn, uint32_t* returned = nullptr);

// Little-endian fields of a file image.
inline uint32_t Get16(const Bytes& b, size_t at) { return b[at] | (b[at + 1] << 8); }
inline uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | (Get16(b, at + 2) << 16); }

// Offset of the last value of a tag in a little-endian TIFF's first
// directory (values of SHORT or LONG, type 3 or 4 given in type).
size_t TiffValueAt(const Bytes& tiff, uint32_t tag, uint32_t* type = nullptr);

// Deterministic test picture: width × height × channels bytes.
Bytes Pattern(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed = 1);
// A Pattern picture written as a JPEG or an 8-bit RGB PNG into the scratch folder; returns its path.
std::string WritePatternJpeg(const std::string& name, uint32_t width, uint32_t height, uint32_t quality = 75);
std::string WritePatternPng(const std::string& name, uint32_t width, uint32_t height);

// ---- external programs (ImageMagick, libjpeg's tools) -----------------------

// True when every program named (separated by spaces) is on the path.
bool HavePrograms(const std::string& names);

#define REQUIRE_MAGICK() \
    if (!::vstest::HavePrograms("convert identify")) GTEST_SKIP() << "ImageMagick (convert, identify) not installed"

// Standard output of a shell command (its errors stay on stderr).
Bytes Capture(const std::string& cmd);
// Exit status of a shell command run with its output discarded.
int Shell(const std::string& cmd);

// Pixels of a picture file as ImageMagick reads them, 8 bits a sample in the channel order of map ("rgb", "rgba",
// "gray", ...); pre holds options applied before the conversion.
Bytes MagickPixels(const std::string& path, const std::string& map = "rgb", const std::string& pre = "");

// Converts px (written as a Netpbm file beside it) with ImageMagick into the scratch file name, optionally with an
// explicit output format ("BMP3", ...); returns the new file's path.
std::string MagickConvert(const Bytes& px, uint32_t w, uint32_t h, uint32_t channels, const std::string& options,
                          const std::string& name, const std::string& format = "");

// Netpbm file of 8-bit samples: 1 channel P5, 3 channels P6, 2 or 4 channels P7 with grey or RGB plus alpha.
void WriteNetpbm(const std::string& path, const Bytes& px, uint32_t w, uint32_t h, uint32_t channels);

// ---- resource limits ----------------------------------------------------------

// Runs fn in a child process whose address space is capped at its current size plus extraBytes, so that a large
// allocation fails there; returns fn's result (low 8 bits), or -1 when the child did not exit normally.
int InCappedChild(uint64_t extraBytes, const std::function<int()>& fn);

// Address-sanitized builds reserve huge shadow mappings, so address-space caps do not work there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// ---- EXIF ---------------------------------------------------------------------

// A JPEG file's bytes with an EXIF APP1 segment right after the start-of-image
// marker: IFD0 holds the orientation, IFD1 points at the thumbnail's bytes.
Bytes WithExifSegment(const Bytes& jpeg, const Bytes& thumbnail, uint32_t orientation);

// ---- comparisons --------------------------------------------------------------

// Largest difference of two equally long byte strings (a huge value when the lengths differ).
int MaxDiff(const Bytes& a, const Bytes& b);

// Pattern RGBA picture whose alpha runs through opaque, transparent and partial levels.
Bytes PatternRgba(uint32_t width, uint32_t height, uint32_t seed = 1);
// n palette entries B, G, R, then `fourth` (opaque alpha, or reserved 0).
Bytes PatternPalette(uint32_t n, uint8_t fourth, uint32_t seed = 5);

inline Bytes Cat(Bytes a, const Bytes& b) { a.insert(a.end(), b.begin(), b.end()); return a; }

// n indexes through a B, G, R, reserved palette to R, G, B, with A 255 at depth 32.
inline Bytes ThroughPalette(const uint8_t* index, size_t n, const uint8_t* palette, uint32_t depth = 24) {
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* e = palette + 4 * index[i];
        out.insert(out.end(), {e[2], e[1], e[0]});
        if (depth == 32) out.push_back(255);
    }
    return out;
}

// One of the format readers (IS40_ReadBMP, IS40_ReadPCX, ...) run on file in
// memory; allocations: how many library allocations it may make (negative: any).
using FormatReader = uint8_t* (*)(ISHANDLE, uint32_t*, uint32_t*, uint32_t, uint8_t*, uint32_t);
ReadResult ReadWith(FormatReader reader, const Bytes& file, uint32_t depth, uint32_t flags = 0,
                    int64_t allocations = -1, bool withPalette = true);

// RGB pixels of a packed DIB as the BMP reader sees them once the BMP writer has put the DIB in a file.
inline Bytes DibPixels(const uint8_t* dib) {
    const ReadResult r = ReadWith(IS40_ReadBMP, WriteToBytes("dib.bmp", [&](ISHANDLE d) {
        return IS40_WriteBMP(d, dib, 0, 0, 0, 0, 0, nullptr, nullptr, 2);
    }), 24);
    return r.Data(static_cast<size_t>(r.width) * r.height * 3);
}

// The error of a read through reader that must fail.
uint32_t ReadError(FormatReader reader, const Bytes& file, uint32_t depth, uint32_t flags = 0);

// A write that must fail: it returns 0, leaves `error` and writes nothing.
::testing::AssertionResult WriteFails(const std::function<uint32_t(ISHANDLE)>& write, uint32_t error);

}  // namespace vstest

// The call failed (false or null) and left the given last error.
#define EXPECT_FAILS_WITH(call, code) \
    do { EXPECT_FALSE(call) << #call; EXPECT_EQ(IS40_GetLastError(), static_cast<uint32_t>(code)) << #call; } while (0)

#endif
