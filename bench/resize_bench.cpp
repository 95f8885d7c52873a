// Throughput of the resampling modes the viewer uses (13 Catmull-Rom,
// 14 box, 15 area, 16 bilinear, 18 nearest) and of the quarter turns on a 6000 x 4000
// picture, next to ImageMagick on one thread doing the same work on the
// same pixels; then the display's shrink (Catmull-Rom, area, bilinear) against
// ImageMagick's Lanczos result as PSNR, on a photo-like picture and a zone
// plate (where moire shows as a low figure). The display's own shrink
// (ScaleForDisplay) is timed and measured beside them.
//
// usage: bench_resize_bench [runs] [zone.ppm]  (zone.ppm: the display's zone plate, to look at)
//
// Figures are source megapixels per second, best of the runs. ImageMagick
// is timed as one `convert` process that reads the input once and applies
// the operation kRepeat times to clones of it (each result dropped at once,
// so memory stays bounded), output to null:, minus the
// same process that only reads the input (convert in.ppm null:); the
// difference divided by kRepeat is one operation, without start-up and
// PPM decoding.
#include "codec/IS40.h"
#include "browse/render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

template <typename Fn>
double BestOf(int runs, Fn fn) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        if (!fn()) return -1;
        best = std::min(best, Seconds(t0, Clock::now()));
    }
    return best;
}

constexpr int kRepeat = 8;

std::string Repeated(const std::string& op) {
    std::string s;
    for (int i = 0; i < kRepeat; ++i) s += " \\( -clone 0 " + op + " \\) +delete";
    return s;
}

bool Shell(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// A photo-like test picture: smooth ramps with fine texture.
std::vector<uint8_t> MakePicture(uint32_t w, uint32_t h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 12345;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const uint32_t noise = (seed >> 24) & 15;
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 3];
            q[0] = static_cast<uint8_t>(x * 255 / w + noise);
            q[1] = static_cast<uint8_t>(y * 255 / h + noise);
            q[2] = static_cast<uint8_t>(((x ^ y) & 0xFF) / 2 + noise);
        }
    }
    return p;
}

// A zone plate: rings whose frequency rises to the Nyquist limit at the corners.
std::vector<uint8_t> MakeZonePlate(uint32_t w, uint32_t h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3);
    // cos(a r^2) has a r / pi cycles a pixel: half a cycle at the corner radius.
    const double a = 3.14159265358979 / (2.0 * std::sqrt(static_cast<double>(w) * w / 4 + static_cast<double>(h) * h / 4));
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            const double dx = x - w / 2.0, dy = y - h / 2.0;
            const uint8_t v = static_cast<uint8_t>(127.5 + 127.5 * std::cos(a * (dx * dx + dy * dy)));
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 3];
            q[0] = q[1] = q[2] = v;
        }
    }
    return p;
}

// The pixels of a P6 file ImageMagick wrote.
std::vector<uint8_t> ReadPpm(const std::string& path, uint32_t w, uint32_t h) {
    std::vector<uint8_t> p;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return p;
    unsigned fw = 0, fh = 0, maxval = 0;
    if (std::fscanf(f, "P6 %u %u %u", &fw, &fh, &maxval) == 3 && fw == w && fh == h && maxval == 255 &&
        std::fgetc(f) != EOF) {
        p.resize(static_cast<size_t>(w) * h * 3);
        if (std::fread(p.data(), 1, p.size(), f) != p.size()) p.clear();
    }
    std::fclose(f);
    return p;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double se = 0;
    for (size_t i = 0; i < a.size(); ++i) se += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
    const double mse = se / a.size();
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

bool WritePpm(const std::string& path, const std::vector<uint8_t>& p, uint32_t w, uint32_t h) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::fprintf(f, "P6\n%u %u\n255\n", w, h);
    const bool ok = std::fwrite(p.data(), 1, p.size(), f) == p.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const uint32_t W = 6000, H = 4000;
    const double mp = W * static_cast<double>(H) / 1e6;
    IS40_Initialize();
    std::vector<uint8_t> src = MakePicture(W, H);
    std::vector<uint8_t> dst(static_cast<size_t>(W) * H * 3);

    char dirTemplate[] = "/tmp/resize_bench.XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    const std::string ppm = dir ? std::string(dir) + "/in.ppm" : "";
    const bool magick = dir && Shell("convert -version") && WritePpm(ppm, src, W, H);
    const std::string im = "convert -limit thread 1 '" + ppm + "' ";
    const int imRuns = std::max(1, std::min(runs, 3));
    double imBase = 0;
    if (magick) imBase = BestOf(imRuns, [&] { return Shell(im + "null:"); });

    std::printf("picture %ux%u (%.1f MP), best of %d runs; figures in source MP/s\n", W, H, mp, runs);
    if (magick)
        std::printf("ImageMagick: one thread, %d operations per process on clones of the input, output to null:;\n"
                    "its time per operation = (process time - reading alone, %.3f s) / %d\n",
                    kRepeat, imBase, kRepeat);
    else
        std::printf("ImageMagick not available: no comparison\n");
    std::printf("%-32s %10s %10s %10s %8s\n", "operation", "ours s", "ours MP/s", "IM MP/s", "ratio");

    struct Case {
        const char* name;
        uint32_t mode, dw, dh;
        const char* imOp;
    } cases[] = {
        {"mode 14 box  -> 1280x853", 14, 1280, 853, "-scale 1280x853!"},
        {"mode 14 box  -> 160x107", 14, 160, 107, "-scale 160x107!"},
        {"mode 13 Catmull-Rom -> 1280x853", 13, 1280, 853, "-resize 1280x853!"},
        {"mode 15 area -> 1280x853", 15, 1280, 853, "-resize 1280x853!"},
        {"mode 16 bilinear -> 1280x853", 16, 1280, 853, "-filter Triangle -resize 1280x853!"},
        {"mode 16 bilinear -> 160x107", 16, 160, 107, "-filter Triangle -resize 160x107!"},
        {"mode 18 nearest -> 1280x853", 18, 1280, 853, "-sample 1280x853!"},
        {"mode 18 nearest -> 160x107", 18, 160, 107, "-sample 160x107!"},
    };
    bool allFast = true;
    for (const Case& c : cases) {
        const double ours = BestOf(runs, [&] {
            return IS40_ResizeImage(src.data(), W, H, W * 3, dst.data(), c.dw, c.dh, c.dw * 3, 3, c.mode, 0) != 0;
        });
        if (ours < 0) {
            std::printf("%-32s failed with error %u\n", c.name, IS40_GetLastError());
            return 1;
        }
        double imRate = 0;
        if (magick) {
            const double t = (BestOf(imRuns, [&] { return Shell(im + Repeated(c.imOp) + " null:"); }) - imBase) / kRepeat;
            imRate = t > 0 ? mp / t : 0;
        }
        const double rate = mp / ours;
        if (imRate > 0) {
            std::printf("%-32s %10.4f %10.1f %10.1f %7.1fx\n", c.name, ours, rate, imRate, rate / imRate);
            allFast = allFast && rate >= 3 * imRate;
        } else {
            std::printf("%-32s %10.4f %10.1f %10s %8s\n", c.name, ours, rate, "-", "-");
        }
    }

    {
        std::vector<uint8_t> shown;
        const double ours = BestOf(runs, [&] { return ScaleForDisplay(src.data(), W, H, 1280, 853, &shown); });
        double imRate = 0;
        if (magick) {
            const double t = (BestOf(imRuns, [&] { return Shell(im + Repeated("-resize 1280x853!") + " null:"); }) -
                              imBase) / kRepeat;
            imRate = t > 0 ? mp / t : 0;
        }
        const double rate = mp / ours;
        if (imRate > 0)
            std::printf("%-32s %10.4f %10.1f %10.1f %7.1fx  (IM: Lanczos)\n", "display shrink -> 1280x853", ours, rate,
                        imRate, rate / imRate);
        else
            std::printf("%-32s %10.4f %10.1f %10s %8s\n", "display shrink -> 1280x853", ours, rate, "-", "-");
    }

    const struct {
        const char* name;
        uint32_t rotation;
        const char* imOp;
    } turns[] = {{"rotate 90", 0, "-rotate 90"}, {"rotate 180", 1, "-rotate 180"}, {"rotate 270", 2, "-rotate 270"}};
    for (const auto& t : turns) {
        const uint32_t ds = (t.rotation == 1 ? W : H) * 3;
        const double ours = BestOf(runs, [&] {
            return IS40_QuickRotateImage(src.data(), W, H, W * 3, dst.data(), ds, t.rotation, 3, 0) != 0;
        });
        double imRate = 0;
        if (magick) {
            const double s = (BestOf(imRuns, [&] { return Shell(im + Repeated(t.imOp) + " null:"); }) - imBase) / kRepeat;
            imRate = s > 0 ? mp / s : 0;
        }
        const double rate = mp / ours;
        if (imRate > 0)
            std::printf("%-32s %10.4f %10.1f %10.1f %7.1fx\n", t.name, ours, rate, imRate, rate / imRate);
        else
            std::printf("%-32s %10.4f %10.1f %10s %8s\n", t.name, ours, rate, "-", "-");
    }
    if (magick) std::printf("resampling modes at least 3x ImageMagick: %s\n", allFast ? "yes" : "no");

    // Display quality: 6000x4000 -> 1280x853 against ImageMagick's Lanczos.
    if (magick) {
        std::printf("\nshrink to 1280x853, PSNR in dB against ImageMagick -resize (Lanczos)\n");
        std::printf("%-14s %9s %17s %12s %14s\n", "picture", "display", "Catmull-Rom (13)", "area (15)",
                    "bilinear (16)");
        const std::string out = std::string(dir) + "/lanczos.ppm";
        for (int zone = 0; zone < 2; ++zone) {
            const std::vector<uint8_t> pic = zone ? MakeZonePlate(W, H) : src;
            std::vector<uint8_t> lanczos;
            if (WritePpm(ppm, pic, W, H) && Shell(im + "-resize 1280x853! '" + out + "'")) lanczos = ReadPpm(out, 1280, 853);
            if (lanczos.empty()) {
                std::printf("%-14s ImageMagick's result could not be read\n", zone ? "zone plate" : "photo-like");
                continue;
            }
            double figures[4];
            std::vector<uint8_t> shown;
            if (!ScaleForDisplay(pic.data(), W, H, 1280, 853, &shown)) return 1;
            figures[0] = Psnr(shown, lanczos);
            if (zone && argc > 2 && !WritePpm(argv[2], shown, 1280, 853)) return 1;
            const uint32_t modes[3] = {IS_RESIZE_CATMULL_ROM, IS_RESIZE_AREA, IS_RESIZE_BILINEAR};
            for (int m = 0; m < 3; ++m) {
                std::vector<uint8_t> ours(lanczos.size());
                if (!IS40_ResizeImage(pic.data(), W, H, W * 3, ours.data(), 1280, 853, 1280 * 3, 3, modes[m], 0)) return 1;
                figures[m + 1] = Psnr(ours, lanczos);
            }
            std::printf("%-14s %9.1f %17.1f %12.1f %14.1f\n", zone ? "zone plate" : "photo-like", figures[0], figures[1],
                        figures[2], figures[3]);
        }
        std::remove(out.c_str());
    }

    if (dir) {
        std::remove(ppm.c_str());
        rmdir(dir);
    }
    return 0;
}
