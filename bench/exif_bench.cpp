// EXIF thumbnail extraction speed: 1000 camera-like JPEGs (6000 x 4000
// with a 160 x 120 EXIF thumbnail), read with IS40_EXIFCreateReader (flag 1)
// and IS40_EXIFGetThumbnail, against `exiftool -b -ThumbnailImage` and
// `exif -e` on the same files.
//
//   bench_exif_bench [folder]     (default: $TMPDIR or /tmp; needs ~3 GB)
//
// Every contender writes each thumbnail to its own file, on files already
// in the page cache. The compared figures run each tool once over all 1000
// files (its start-up spread over them, the way a batch job uses it)
// against one in-process loop of ours; each is the best of three runs. A
// reference figure starts one process per file for istool and exif.
#include "codec/IS40.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWidth = 6000;
constexpr uint32_t kHeight = 4000;
constexpr uint32_t kThumbWidth = 160;
constexpr uint32_t kThumbHeight = 120;
constexpr int kFiles = 1000;
constexpr int kProcessFiles = 100;

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

bool Have(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

int Run(const std::string& cmd) { return std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()); }

// Smooth gradients with fine detail and a little noise: a file of a few
// megabytes, like a camera's.
std::vector<uint8_t> Picture(uint32_t w, uint32_t h) {
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3);
    uint32_t seed = 777;
    for (uint32_t y = 0; y < h; ++y) {
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* q = &p[(static_cast<size_t>(y) * w + x) * 3];
            const double detail = 24 * std::sin(x / 7.0) * std::cos(y / 11.0);
            const int base[3] = {static_cast<int>(x * 255 / w), static_cast<int>(y * 255 / h),
                                 static_cast<int>(128 + detail)};
            for (int c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                const int v = base[c] + static_cast<int>((seed >> 28) & 7) - 4;
                q[c] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return p;
}

bool WriteJpeg(const std::string& path, uint32_t w, uint32_t h, uint32_t quality) {
    const std::vector<uint8_t> px = Picture(w, h);
    ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
    if (!d) return false;
    const uint32_t n = IS40_WriteJPG(d, px.data(), w, h, 24, w * 3, quality, nullptr, 0);
    IS40_CloseDest(d);
    return n != 0;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes this process has read through system calls so far.
uint64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") return value;
    }
    return 0;
}

std::string Name(const std::string& dir, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/img%04d.jpg", i);
    return dir + name;
}

// One pass of ours over the files, writing each thumbnail into out (none
// when out is empty); false on the first failure.
bool OursPass(const std::string& src, const std::string& out, uint64_t* thumbBytes) {
    *thumbBytes = 0;
    for (int i = 0; i < kFiles; ++i) {
        ISHANDLE h = IS40_OpenFileSource(Name(src, i).c_str());
        if (!h) return false;
        ISEXIFREADER r = IS40_EXIFCreateReader(h, 0, IS_EXIF_THUMBNAIL);
        IS40_CloseSource(h);
        const uint8_t* data = nullptr;
        uint32_t length = 0;
        const bool ok = r && IS40_EXIFGetThumbnail(r, &data, &length);
        if (ok && !out.empty()) {
            // One plain write, as the tools do it.
            const int fd = open(Name(out, i).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            bool written = fd >= 0 && write(fd, data, length) == static_cast<ssize_t>(length);
            if (fd >= 0 && close(fd) != 0) written = false;
            if (!written) {
                IS40_EXIFDestroyReader(r);
                return false;
            }
        }
        if (ok) *thumbBytes += length;
        IS40_EXIFDestroyReader(r);
        if (!ok) return false;
    }
    return true;
}

std::string SelfDir() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    return fs::path(path).parent_path().string();
}

void Ratio(const char* what, double ours, double theirs, double target) {
    if (theirs <= 0) return;
    const double ratio = ours / theirs;
    std::printf("  %-34s %8.1fx   (target >= %.0fx: %s)\n", what, ratio, target, ratio >= target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    IS40_Initialize();
    const char* tmp = std::getenv("TMPDIR");
    std::string root = argc > 1 ? argv[1] : (tmp && *tmp ? tmp : "/tmp");
    std::string templ = root + "/exif_bench.XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) {
        std::fprintf(stderr, "cannot make a folder in %s\n", root.c_str());
        return 1;
    }
    const std::string dir = buf.data();
    const std::string src = dir + "/src", ours = dir + "/ours", tool = dir + "/exiftool", libexif = dir + "/exif";
    for (const std::string& d : {src, ours, tool, libexif}) fs::create_directories(d);
    int rc = 0;

    const bool haveExiftool = Have("exiftool");
    const bool haveExif = Have("exif");
    std::printf("EXIF thumbnail extraction, %d JPEGs of %u x %u with a %u x %u thumbnail\n", kFiles, kWidth, kHeight,
                kThumbWidth, kThumbHeight);

    // One camera-like file: the codec writes picture and thumbnail,
    // exiftool puts the thumbnail and a camera's tags into the EXIF block.
    const std::string master = dir + "/master.jpg", thumb = dir + "/thumb.jpg";
    if (!WriteJpeg(master, kWidth, kHeight, 85) || !WriteJpeg(thumb, kThumbWidth, kThumbHeight, 75)) {
        std::fprintf(stderr, "cannot write the test pictures\n");
        fs::remove_all(dir);
        return 1;
    }
    if (!haveExiftool) {
        std::printf("exiftool is not installed: cannot make the files, nothing measured\n");
        fs::remove_all(dir);
        return 0;
    }
    if (Run("exiftool -q -overwrite_original -n '-ThumbnailImage<=" + thumb +
            "' -Make=Canon '-Model=Canon EOS 5D Mark IV' -Orientation=6 -XResolution=300 -YResolution=300 "
            "-ResolutionUnit=2 '-Software=Firmware 1.2.0' -ExposureTime=0.004 -FNumber=5.6 -ISO=200 "
            "'-DateTimeOriginal=2023:06:01 12:00:00' -FocalLength=50 -ExifImageWidth=6000 -ExifImageHeight=4000 "
            "-GPSLatitude=48.85 -GPSLatitudeRef=N -GPSLongitude=2.35 -GPSLongitudeRef=E '" +
            master + "'") != 0) {
        std::fprintf(stderr, "exiftool could not tag the master file\n");
        fs::remove_all(dir);
        return 1;
    }
    const uint64_t fileSize = fs::file_size(master);
    for (int i = 0; i < kFiles; ++i) fs::copy_file(master, Name(src, i), fs::copy_options::overwrite_existing);
    std::printf("file size %.2f MB, %d copies\n\n", fileSize / 1e6, kFiles);

    // A warm-up pass, so every contender finds the files in the page cache.
    uint64_t thumbBytes = 0;
    if (!OursPass(src, ours, &thumbBytes)) {
        std::fprintf(stderr, "our pass failed\n");
        fs::remove_all(dir);
        return 1;
    }
    const std::vector<uint8_t> expect = ReadAll(thumb);

    // Ours, in-process: best of three passes.
    double oursTime = -1;
    uint64_t readPerFile = 0;
    for (int run = 0; run < 3; ++run) {
        const uint64_t r0 = BytesRead();
        const double t0 = Now();
        if (!OursPass(src, ours, &thumbBytes)) rc = 1;
        const double t = Now() - t0;
        readPerFile = (BytesRead() - r0) / kFiles;
        if (oursTime < 0 || t < oursTime) oursTime = t;
    }
    double readOnly = -1;
    for (int run = 0; run < 3; ++run) {
        const double t0 = Now();
        if (!OursPass(src, "", &thumbBytes)) rc = 1;
        const double t = Now() - t0;
        if (readOnly < 0 || t < readOnly) readOnly = t;
    }
    const bool oursRight = ReadAll(Name(ours, kFiles - 1)) == expect;
    const double oursRate = kFiles / oursTime;
    std::printf("ours (IS40_EXIFCreateReader flag 1 + IS40_EXIFGetThumbnail, in-process loop)\n");
    std::printf("  %10.0f files/s   %.1f us/file, %llu bytes read per file of %llu, thumbnail %s\n", oursRate,
                1e6 * oursTime / kFiles, static_cast<unsigned long long>(readPerFile),
                static_cast<unsigned long long>(fileSize), oursRight ? "identical" : "DIFFERS");
    std::printf("  %10.0f files/s   without writing the thumbnails (the reader alone)\n", kFiles / readOnly);
    if (!oursRight) rc = 1;

    // exiftool: one process for all files (its Perl start-up spread over
    // 1000); best of three calls, like every figure here.
    double exiftoolTime = -1;
    bool toolRight = true;
    for (int run = 0; run < 3 && toolRight; ++run) {
        const double e0 = Now();
        const int code = Run("exiftool -q -b -ThumbnailImage -w! '" + tool + "/%f.jpg' '" + src + "'");
        const double t = Now() - e0;
        toolRight = code == 0 && ReadAll(Name(tool, kFiles - 1)) == expect;
        if (exiftoolTime < 0 || t < exiftoolTime) exiftoolTime = t;
    }
    const double exiftoolRate = toolRight ? kFiles / exiftoolTime : -1;
    std::printf("exiftool -b -ThumbnailImage -w (one call over all %d files)\n", kFiles);
    std::printf("  %10.0f files/s   %.1f us/file%s\n", exiftoolRate, 1e6 * exiftoolTime / kFiles,
                toolRight ? "" : "   (FAILED or thumbnail differs)");

    // libexif's tool: likewise one call over all files.
    double exifRate = -1;
    if (haveExif) {
        std::string files;
        for (int i = 0; i < kFiles; ++i) files += " '" + Name(src, i) + "'";
        double exifTime = -1;
        bool right = true;
        for (int run = 0; run < 3 && right; ++run) {
            const double x0 = Now();
            const int code = Run("cd '" + src + "' && exif -e" + files);
            const double t = Now() - x0;
            right = code == 0 && ReadAll(Name(src, kFiles - 1) + ".modified.jpeg") == expect;
            if (exifTime < 0 || t < exifTime) exifTime = t;
        }
        exifRate = right ? kFiles / exifTime : -1;
        std::printf("exif -e (one call over all %d files)\n", kFiles);
        std::printf("  %10.0f files/s   %.1f us/file%s\n", exifRate, 1e6 * exifTime / kFiles,
                    right ? "" : "   (FAILED or thumbnail differs)");
    } else {
        std::printf("exif (libexif) is not installed: skipped\n");
    }

    std::printf("\nratios (files per second, ours / theirs)\n");
    Ratio("ours / exiftool", oursRate, exiftoolRate, 20);
    Ratio("ours / exif", oursRate, exifRate, 1);

    // One process per file, start-up included: for reference only, as
    // starting a process and loading its shared libraries costs far more
    // than reading the EXIF block.
    const std::string istool = SelfDir() + "/../tools/istool";
    if (haveExif && fs::exists(istool)) {
        const double i0 = Now();
        bool ok = true;
        for (int i = 0; i < kProcessFiles && ok; ++i) {
            ok = Run("'" + istool + "' thumb '" + Name(src, i) + "' '" + Name(ours, i) + ".p.jpg'") == 0;
        }
        const double istoolTime = Now() - i0;
        const double x0 = Now();
        for (int i = 0; i < kProcessFiles && ok; ++i) {
            ok = Run("exif -e -o '" + Name(libexif, i) + "' '" + Name(src, i) + "'") == 0;
        }
        const double exifTime = Now() - x0;
        if (ok) {
            std::printf("\nfor reference, one process per file (%d files; process start-up and shared-library\n"
                        "loading dominate, so this measures the programs' start, not EXIF reading)\n",
                        kProcessFiles);
            std::printf("  istool thumb  %8.0f files/s\n  exif -e       %8.0f files/s\n", kProcessFiles / istoolTime,
                        kProcessFiles / exifTime);
        }
    }

    fs::remove_all(dir);
    IS40_Shutdown();
    return rc;
}
