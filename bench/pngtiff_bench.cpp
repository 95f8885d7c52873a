// PNG and TIFF speed: reads and writes of a 6000 x 4000 picture through the
// IS40 calls, against netpbm's converters on the same files.
//
//   bench_pngtiff_bench [folder]     (default: $TMPDIR or /tmp)
#include "codec/IS40.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kWidth = 6000;
constexpr uint32_t kHeight = 4000;

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// A photo-like picture: smooth gradients with mild noise.
std::vector<uint8_t> MakePicture() {
    std::vector<uint8_t> p(static_cast<size_t>(kWidth) * kHeight * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            int noise = static_cast<int>((seed >> 28) & 7) - 4;
            uint8_t* q = &p[(static_cast<size_t>(y) * kWidth + x) * 3];
            q[0] = static_cast<uint8_t>(std::min(255, std::max(0, static_cast<int>(x * 255 / kWidth) + noise)));
            q[1] = static_cast<uint8_t>(std::min(255, std::max(0, static_cast<int>(y * 255 / kHeight) + noise)));
            q[2] = static_cast<uint8_t>(128 + 100 * std::sin((x + y) / 300.0) + noise);
        }
    }
    return p;
}

bool WritePpm(const std::string& path, const std::vector<uint8_t>& rgb) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%u %u\n255\n", kWidth, kHeight);
    bool ok = std::fwrite(rgb.data(), 1, rgb.size(), f) == rgb.size();
    return std::fclose(f) == 0 && ok;
}

// Seconds of the best of `runs`, or a negative value on failure.
template <typename Fn>
double Best(int runs, Fn fn) {
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        double t0 = Now();
        if (!fn()) return -1;
        double t = Now() - t0;
        if (best < 0 || t < best) best = t;
    }
    return best;
}

bool Shell(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }

using Writer = uint32_t (*)(ISHANDLE, const std::vector<uint8_t>&);

uint32_t WritePng(ISHANDLE d, const std::vector<uint8_t>& rgb) {
    return IS40_WritePNG(d, rgb.data(), kWidth, kHeight, kWidth * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0);
}
uint32_t WriteTiffNone(ISHANDLE d, const std::vector<uint8_t>& rgb) {
    return IS40_WriteTIFF(d, rgb.data(), kWidth, kHeight, 24, kWidth * 3, nullptr, 1, nullptr, 0);
}
uint32_t WriteTiffLzw(ISHANDLE d, const std::vector<uint8_t>& rgb) {
    return IS40_WriteTIFF(d, rgb.data(), kWidth, kHeight, 24, kWidth * 3, nullptr, 5, nullptr, 64);
}

bool WriteThrough(Writer w, const std::string& path, const std::vector<uint8_t>& rgb) {
    ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
    if (!d) return false;
    uint32_t size = w(d, rgb);
    IS40_CloseDest(d);
    return size != 0;
}

bool ReadThrough(bool png, const std::string& path) {
    ISHANDLE s = IS40_OpenFileSource(path.c_str());
    if (!s) return false;
    uint32_t w = 0, h = 0;
    uint8_t* out = png ? IS40_ReadPNG(s, &w, &h, 24, nullptr, 0) : IS40_ReadTIFF(s, &w, &h, 24, nullptr, 0, 0);
    IS40_CloseSource(s);
    bool ok = out && w == kWidth && h == kHeight;
    IS40_GlobalFree(out);
    return ok;
}

void Row(const char* what, double ours, double reference) {
    auto cell = [](double v) { return v < 0 ? std::string("-") : std::to_string(v).substr(0, 6) + "s"; };
    std::string ratio = ours >= 0 && reference > 0 ? std::to_string(ours / reference).substr(0, 5) + "x" : "-";
    std::printf("%-28s %9s %9s %8s\n", what, cell(ours).c_str(), cell(reference).c_str(), ratio.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    IS40_Initialize();
    const std::string ppm = dir + "/isbench.ppm";
    const std::string png = dir + "/isbench.png";
    const std::string tifNone = dir + "/isbench-none.tif";
    const std::string tifLzw = dir + "/isbench-lzw.tif";
    const std::string refOut = dir + "/isbench-ref.out";

    std::printf("picture %u x %u RGB, best of 3 runs\n", kWidth, kHeight);
    std::vector<uint8_t> rgb = MakePicture();
    if (!WritePpm(ppm, rgb)) {
        std::printf("cannot write %s\n", ppm.c_str());
        return 1;
    }
    const bool netpbm = Shell("command -v pngtopnm >/dev/null && command -v tifftopnm >/dev/null");
    auto ref = [&](const std::string& cmd) {
        return netpbm ? Best(3, [&]() { return Shell(cmd + " > '" + refOut + "'"); }) : -1.0;
    };

    std::printf("%-28s %9s %9s %8s\n", "", "IS40", "netpbm", "ratio");
    Row("PNG write (pnmtopng)", Best(3, [&]() { return WriteThrough(WritePng, png, rgb); }),
        ref("pnmtopng '" + ppm + "'"));
    Row("PNG read (pngtopnm)", Best(3, [&]() { return ReadThrough(true, png); }), ref("pngtopnm '" + png + "'"));
    Row("TIFF write none (pnmtotiff)", Best(3, [&]() { return WriteThrough(WriteTiffNone, tifNone, rgb); }),
        ref("pnmtotiff -none '" + ppm + "'"));
    Row("TIFF read none (tifftopnm)", Best(3, [&]() { return ReadThrough(false, tifNone); }),
        ref("tifftopnm '" + tifNone + "'"));
    Row("TIFF write LZW (pnmtotiff)", Best(3, [&]() { return WriteThrough(WriteTiffLzw, tifLzw, rgb); }),
        ref("pnmtotiff -lzw -predictor=2 '" + ppm + "'"));
    Row("TIFF read LZW (tifftopnm)", Best(3, [&]() { return ReadThrough(false, tifLzw); }),
        ref("tifftopnm '" + tifLzw + "'"));

    for (const std::string& f : {ppm, png, tifNone, tifLzw, refOut}) std::remove(f.c_str());
    IS40_Shutdown();
    return 0;
}
