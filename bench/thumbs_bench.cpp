// Thumbnails per second for the thumbnail view: camera-like JPEGs with an
// EXIF thumbnail (the EXIF path) and without one (the whole picture
// decoded and fitted), against ImageMagick's `-thumbnail 160x120` on the
// same files in the same run.
//
//   bench_thumbs_bench [folder] [exif-files] [plain-files]   (defaults /tmp, 500, 100)
//
// Ours runs in one process over all files; ImageMagick runs once per set
// (mogrify over the whole folder), so its start-up is spread over the files.
// Both on files already in the page cache.
#include "codec/IS40.h"
#include "browse/imageloader.h"
#include "thumbs/thumbnail.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kWidth = 3000, kHeight = 2000;

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

struct Host : VSLoaderHost {
    int failures = 0;
    VSSize ScreenSize() override { return {1280, 1024}; }
    void ReadFailed(uint32_t, const std::string&) override { ++failures; }
    void Message(const std::string&) override {}
};

// A smooth picture with some detail, as a camera's would compress.
std::vector<uint8_t> Picture(uint32_t w, uint32_t h) {
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &px[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = static_cast<uint8_t>(x * 255 / w);
            p[1] = static_cast<uint8_t>(y * 255 / h);
            p[2] = static_cast<uint8_t>(((x / 16 + y / 16) & 1) ? 200 : 60);
        }
    return px;
}

bool WriteJpeg(const std::string& path, const std::vector<uint8_t>& px, uint32_t w, uint32_t h) {
    ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
    if (!d) return false;
    const uint32_t n = IS40_WriteJPG(d, px.data(), w, h, 24, w * 3, 85, nullptr, 0);
    IS40_CloseDest(d);
    return n > 0;
}

void Put16(std::vector<uint8_t>* b, uint32_t v) {
    b->push_back(static_cast<uint8_t>(v));
    b->push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>* b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Entry(std::vector<uint8_t>* b, uint32_t tag, uint32_t type, uint32_t value) {
    Put16(b, tag);
    Put16(b, type);
    Put32(b, 1);
    if (type == 3) {
        Put16(b, value);
        Put16(b, 0);
    } else {
        Put32(b, value);
    }
}

// APP1: IFD0 with the orientation, IFD1 pointing at the thumbnail's bytes.
std::vector<uint8_t> ExifBlock(const std::vector<uint8_t>& thumb) {
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
    Put32(&b, 8);
    Put16(&b, 1);
    Entry(&b, 0x0112, 3, 1);
    Put32(&b, 26);
    Put16(&b, 3);
    Entry(&b, 0x0103, 3, 6);
    Entry(&b, 0x0201, 4, 68);
    Entry(&b, 0x0202, 4, static_cast<uint32_t>(thumb.size()));
    Put32(&b, 0);
    b.insert(b.end(), thumb.begin(), thumb.end());
    return b;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::vector<uint8_t> data;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
        std::fclose(f);
    }
    return data;
}

// Copies of one file, so that every file is read from its own inode.
std::vector<std::string> Copies(const std::string& master, const std::string& folder, int n) {
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%04d.jpg", i);
        const std::string path = folder + name;
        fs::copy_file(master, path, fs::copy_options::overwrite_existing);
        paths.push_back(path);
    }
    return paths;
}

// Thumbnails per second of ours over the files; -1 when one failed.
double Ours(const std::vector<std::string>& files, VSThumbWay expected) {
    Host host;
    VSThumbCanvas canvas;
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const double t0 = Now();
        for (const std::string& f : files)
            if (FileThumbnail(f, true, host, &canvas) != expected) return -1;
        const double rate = files.size() / (Now() - t0);
        if (rate > best) best = rate;
    }
    return best;
}

double Magick(const std::string& folder, size_t count) {
    const std::string out = folder + "/magick";
    fs::create_directories(out);
    const std::string cmd = "mogrify -path '" + out + "' -thumbnail 160x120 '" + folder + "'/*.jpg";
    const double t0 = Now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return count / (Now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string base = (argc > 1 ? std::string(argv[1]) : std::string("/tmp")) + "/vs-thumbs-bench";
    const int exifFiles = argc > 2 ? std::atoi(argv[2]) : 500;
    const int plainFiles = argc > 3 ? std::atoi(argv[3]) : 100;
    IS40_Initialize();
    fs::remove_all(base);
    fs::create_directories(base);

    const std::vector<uint8_t> px = Picture(kWidth, kHeight);
    const std::vector<uint8_t> small = Picture(160, 120);
    const std::string thumbPath = base + "/thumb.jpg", plainPath = base + "/plain.jpg", exifPath = base + "/exif.jpg";
    if (!WriteJpeg(thumbPath, small, 160, 120) || !WriteJpeg(plainPath, px, kWidth, kHeight)) {
        std::fprintf(stderr, "cannot write the pictures\n");
        return 1;
    }
    // The same picture with the EXIF segment right after its start-of-image marker.
    const std::vector<uint8_t> block = ExifBlock(FileBytes(thumbPath));
    std::vector<uint8_t> exifFile = FileBytes(plainPath);
    const size_t length = block.size() + 2;
    std::vector<uint8_t> segment = {0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    segment.insert(segment.end(), block.begin(), block.end());
    exifFile.insert(exifFile.begin() + 2, segment.begin(), segment.end());
    FILE* out = std::fopen(exifPath.c_str(), "wb");
    const bool wrote = out && std::fwrite(exifFile.data(), 1, exifFile.size(), out) == exifFile.size();
    if (out) std::fclose(out);
    if (!wrote) return 1;

    const std::vector<std::string> withExif = Copies(exifPath, base + "/exif", exifFiles);
    const std::vector<std::string> plain = Copies(plainPath, base + "/plain", plainFiles);
    std::printf("%d JPEGs %ux%u with a 160x120 EXIF thumbnail, %d without (%ju bytes each)\n", exifFiles, kWidth,
                kHeight, plainFiles, static_cast<uintmax_t>(fs::file_size(plainPath)));

    // Warm the page cache.
    Ours(withExif, kThumbFromExif);
    const double exifOurs = Ours(withExif, kThumbFromExif);
    const double plainOurs = Ours(plain, kThumbFromPicture);
    const double exifMagick = Magick(base + "/exif", withExif.size());
    const double plainMagick = Magick(base + "/plain", plain.size());
    std::printf("EXIF path:    ours %8.1f thumbnails/s   ImageMagick %6.1f/s   ratio %.1fx (target >= 10x)\n",
                exifOurs, exifMagick, exifMagick > 0 ? exifOurs / exifMagick : 0.0);
    std::printf("whole decode: ours %8.1f thumbnails/s   ImageMagick %6.1f/s   ratio %.1fx\n", plainOurs,
                plainMagick, plainMagick > 0 ? plainOurs / plainMagick : 0.0);
    fs::remove_all(base);
    IS40_Shutdown();
    return exifOurs < 0 || plainOurs < 0 ? 1 : 0;
}
