// JPEG decode speed: a 6000 x 4000 high-detail picture read through
// IS40_ReadJPG at 1/1, 1/2, 1/4 and 1/8, against djpeg at the same scales
// on the same file; then a screen's worth of it at 1/1 through
// IS40_ReadJPGRegion, at the top, the centre and the bottom, against the
// whole decode.
//
//   bench_jpeg_bench [folder]     (default: $TMPDIR or /tmp)
#include "codec/IS40.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWidth = 6000;
constexpr uint32_t kHeight = 4000;
constexpr int kRuns = 3;

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Noise over gradients and fine stripes: many non-zero coefficients, the
// slow case of a decoder.
std::vector<uint8_t> MakePicture() {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            uint8_t* q = &p[(static_cast<size_t>(y) * kWidth + x) * 3];
            const double stripes = 40 * std::sin(x / 3.0) * std::cos(y / 5.0);
            const int base[3] = {static_cast<int>(x * 255 / kWidth), static_cast<int>(y * 255 / kHeight),
                                 static_cast<int>(128 + stripes)};
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>((seed >> 26) & 63) - 32;
                const int v = base[c] + noise;
                q[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return p;
}

// Seconds of the best of kRuns, or a negative value on failure.
template <typename Fn>
double Best(Fn fn) {
    double best = -1;
    for (int i = 0; i < kRuns; ++i) {
        const double t0 = Now();
        if (!fn()) return -1;
        const double t = Now() - t0;
        if (best < 0 || t < best) best = t;
    }
    return best;
}

bool DecodeHere(const std::string& path, uint32_t divisor) {
    IS40_SetJPGDCTScaleFactors(1, divisor);
    ISHANDLE s = IS40_OpenFileSource(path.c_str());
    if (!s) return false;
    uint32_t w = 0, h = 0;
    uint8_t* px = IS40_ReadJPG(s, &w, &h, 24, 0);
    IS40_CloseSource(s);
    const bool ok = px && w == (kWidth + divisor - 1) / divisor && h == (kHeight + divisor - 1) / divisor;
    IS40_GlobalFree(px);
    return ok;
}

// What a fresh output block of the decoded size costs by itself: the
// system maps and zeroes its pages on first touch, which djpeg, streaming
// rows to a file, never pays.
bool DecodePart(const std::string& path, const ISRegion& part) {
    IS40_SetJPGDCTScaleFactors(1, 1);
    ISHANDLE s = IS40_OpenFileSource(path.c_str());
    if (!s) return false;
    uint32_t w = 0, h = 0;
    uint8_t* px = IS40_ReadJPGRegion(s, &part, &w, &h, 24, 0);
    IS40_CloseSource(s);
    const bool ok = px && w == part.width && h == part.height;
    IS40_GlobalFree(px);
    return ok;
}

bool TouchBuffer(uint32_t divisor) {
    const uint64_t bytes = static_cast<uint64_t>((kWidth + divisor - 1) / divisor) * ((kHeight + divisor - 1) / divisor) * 3;
    uint8_t* p = static_cast<uint8_t*>(IS40_GlobalAlloc(0x0040, bytes));
    if (!p) return false;
    for (uint64_t i = 0; i < bytes; i += 4096) p[i] = 1;
    IS40_GlobalFree(p);
    return true;
}

bool DecodeWithDjpeg(const std::string& path, uint32_t divisor) {
    const std::string cmd = "djpeg -scale 1/" + std::to_string(divisor) + " -outfile /dev/null '" + path + "'";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    const std::string path = folder + "/jpeg_bench_" + std::to_string(getpid()) + ".jpg";

    IS40_Initialize();
    {
        const std::vector<uint8_t> rgb = MakePicture();
        ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
        const uint32_t size = d ? IS40_WriteJPG(d, rgb.data(), kWidth, kHeight, 24, kWidth * 3, 90, nullptr, 0) : 0;
        if (d) IS40_CloseDest(d);
        if (!size) {
            std::fprintf(stderr, "cannot write %s (error %u)\n", path.c_str(), IS40_GetLastError());
            return 1;
        }
        std::printf("picture: %u x %u, quality 90, %.1f MB\n", kWidth, kHeight, size / 1e6);
    }
    const bool haveDjpeg = std::system("command -v djpeg >/dev/null 2>&1") == 0;
    std::printf("%-6s %12s %12s %8s %14s\n", "scale", "IS40 ms", "djpeg ms", "ratio", "of it buffer");
    int status = 0;
    for (uint32_t divisor : {1u, 2u, 4u, 8u}) {
        const double ours = Best([&]() { return DecodeHere(path, divisor); });
        const double theirs = haveDjpeg ? Best([&]() { return DecodeWithDjpeg(path, divisor); }) : -1;
        const double buffer = Best([&]() { return TouchBuffer(divisor); });
        if (ours < 0) {
            std::printf("1/%-4u decode failed (error %u)\n", divisor, IS40_GetLastError());
            status = 1;
            continue;
        }
        if (theirs > 0) {
            std::printf("1/%-4u %12.1f %12.1f %8.2f %11.1f ms\n", divisor, ours * 1e3, theirs * 1e3, ours / theirs,
                        buffer * 1e3);
        } else {
            std::printf("1/%-4u %12.1f %12s %8s %11.1f ms\n", divisor, ours * 1e3, "-", "-", buffer * 1e3);
        }
    }
    // The part of the picture an actual-size view on a 1280 x 1024 screen shows.
    const double whole = Best([&]() { return DecodeHere(path, 1); });
    std::printf("\n%-22s %9s %14s\n", "1280 x 1024 part, 1/1", "ms", "of the whole");
    const struct { const char* name; uint32_t top; } parts[] = {
        {"top", 0}, {"centre", (kHeight - 1024) / 2}, {"bottom", kHeight - 1024}};
    for (const auto& p : parts) {
        const double t = Best([&]() { return DecodePart(path, {(kWidth - 1280) / 2, p.top, 1280, 1024}); });
        if (t < 0 || whole <= 0) {
            std::printf("%-22s decode failed (error %u)\n", p.name, IS40_GetLastError());
            status = 1;
            continue;
        }
        std::printf("%-22s %9.1f %13.2fx\n", p.name, t * 1e3, t / whole);
    }
    IS40_SetJPGDCTScaleFactors(1, 1);
    std::remove(path.c_str());
    return status;
}
