// Fault injection over every reader and writer: destinations that cannot be
// created or fill up, sources whose reads fail midway, and allocation
// failure at each allocation one read makes.
#include "isframe.h"
#include "testutil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

using vstest::Bytes;
using vstest::Get32;
using vstest::LibBuffer;

constexpr uint32_t kW = 64, kH = 48;

struct Writer {
    const char* name;
    const char* ext;
    std::function<uint32_t(ISHANDLE, const Bytes&, uint32_t width)> write;  // kH rows
};

const std::vector<Writer>& Writers() {
    static const std::vector<Writer> writers = {
        {"BMP", ".bmp", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WriteBMP(d, px.data(), w, kH, 24, w * 3, 0, nullptr, nullptr, 0);
         }},
        {"PCX", ".pcx", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WritePCX(d, px.data(), w, kH, 24, w * 3, nullptr, nullptr, 0);
         }},
        {"TGA", ".tga", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WriteTGA(d, px.data(), w, kH, 24, w * 3, nullptr, 0, 0);
         }},
        {"JPEG", ".jpg", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WriteJPG(d, px.data(), w, kH, 24, w * 3, 90, nullptr, 0);
         }},
        {"PNG", ".png", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WritePNG(d, px.data(), w, kH, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, IS_PNG_NO_TIME);
         }},
        {"TIFF", ".tif", [](ISHANDLE d, const Bytes& px, uint32_t w) {
             return IS40_WriteTIFF(d, px.data(), w, kH, 24, w * 3, nullptr, 1, nullptr, 0);
         }},
    };
    return writers;
}

struct Reader {
    const char* name;
    const char* ext;  // of the file the matching writer makes
    std::function<uint8_t*(ISHANDLE, uint32_t*, uint32_t*)> read;
};

const std::vector<Reader>& Readers() {
    static uint8_t palette[1024];
    static const std::vector<Reader> readers = {
        {"BMP", ".bmp", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadBMP(h, w, ht, 24, palette, 0); }},
        {"PCX", ".pcx", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadPCX(h, w, ht, 24, palette, 0); }},
        {"TGA", ".tga", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadTGA(h, w, ht, 24, palette, 0); }},
        {"JPEG", ".jpg", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadJPG(h, w, ht, 24, 0); }},
        {"PNG", ".png", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadPNG(h, w, ht, 24, palette, 0); }},
        {"TIFF", ".tif",
         [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadTIFF(h, w, ht, 24, palette, 0, 0); }},
        {"generic JPEG", ".jpg", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadImage(h, w, ht, 0, 0); }},
        {"generic TGA", ".tga", [](ISHANDLE h, uint32_t* w, uint32_t* ht) { return IS40_ReadImage(h, w, ht, 0, 0); }},
    };
    return readers;
}

// The picture each writer made, written once per test binary run.
const Bytes& Encoded(const char* ext) {
    static std::map<std::string, Bytes> files;
    Bytes& file = files[ext];
    if (file.empty()) {
        const Bytes px = vstest::Pattern(kW, kH, 3, 7);
        for (const Writer& w : Writers()) {
            if (std::strcmp(w.ext, ext) != 0) continue;
            file = vstest::WriteToBytes(std::string("enc") + ext, [&](ISHANDLE d) { return w.write(d, px, kW); });
        }
    }
    return file;
}

// ---- a stdio stream that fails on demand, put under a file handle ----------------

struct FaultyStream {
    Bytes data;
    size_t pos = 0;
    size_t failAt = SIZE_MAX;  // reads and writes at or past this offset fail
};

ssize_t FaultyRead(void* cookie, char* buf, size_t n) {
    auto* f = static_cast<FaultyStream*>(cookie);
    if (f->pos >= f->failAt) {
        errno = EIO;
        return -1;
    }
    size_t end = std::min(f->data.size(), f->failAt);
    size_t k = f->pos < end ? std::min(n, end - f->pos) : 0;
    std::memcpy(buf, f->data.data() + f->pos, k);
    f->pos += k;
    return static_cast<ssize_t>(k);
}

ssize_t FaultyWrite(void* cookie, const char* buf, size_t n) {
    auto* f = static_cast<FaultyStream*>(cookie);
    if (f->pos >= f->failAt) {
        errno = ENOSPC;
        return -1;
    }
    size_t k = std::min(n, f->failAt - f->pos);
    if (f->data.size() < f->pos + k) f->data.resize(f->pos + k);
    std::memcpy(f->data.data() + f->pos, buf, k);
    f->pos += k;
    return static_cast<ssize_t>(k);
}

int FaultySeek(void* cookie, off64_t* offset, int whence) {
    auto* f = static_cast<FaultyStream*>(cookie);
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? static_cast<int64_t>(f->pos)
                                                               : static_cast<int64_t>(f->data.size());
    int64_t to = base + *offset;
    if (to < 0) {
        errno = EINVAL;
        return -1;
    }
    f->pos = static_cast<size_t>(to);
    *offset = to;
    return 0;
}

int FaultyClose(void*) { return 0; }

// Opens a file handle of the library (named like the real file, for the
// extension rules) and swaps its stream for the faulty one.
ISHANDLE OpenFaulty(FaultyStream* f, const char* ext, bool dest) {
    const std::string path = vstest::ScratchPath(std::string("faulty") + ext);
    vstest::WriteFileBytes(path, f->data);
    ISHANDLE h = dest ? IS40_OpenFileDest(path.c_str(), 0) : IS40_OpenFileSource(path.c_str());
    if (!h) return nullptr;
    auto* block = static_cast<ISHandleBlock*>(h);
    std::fclose(block->stream);
    cookie_io_functions_t io = {FaultyRead, FaultyWrite, FaultySeek, FaultyClose};
    block->stream = fopencookie(f, dest ? "wb+" : "rb", io);
    return h;
}

// Offsets worth failing at: the first bytes one by one, then spread out.
std::vector<size_t> FailPoints(size_t size) {
    std::vector<size_t> at;
    for (size_t k = 0; k < std::min<size_t>(size, 40); ++k) at.push_back(k);
    for (size_t k = 40; k < size; k += std::max<size_t>(1, size / 60)) at.push_back(k);
    if (size) at.push_back(size - 1);
    return at;
}

// A folder where no file can be created, even for root.
std::string ReadOnlyFolder() {
    const std::string dir = vstest::ScratchPath("readonly");
    mkdir(dir.c_str(), 0755);
    chmod(dir.c_str(), 0555);
    const std::string probe = dir + "/probe";
    if (std::FILE* f = std::fopen(probe.c_str(), "wb")) {
        std::fclose(f);
        std::remove(probe.c_str());
        return "/proc/self";  // root ignores the mode bits; procfs takes no new files
    }
    return dir;
}

// ---- writers ------------------------------------------------------------------------

TEST(FaultWrite, EveryWriterReportsDestinationsThatFail) {
    const std::string dir = ReadOnlyFolder();
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full) std::fclose(full);
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        // A folder that takes no file: no handle, and what the caller does
        // next with the null handle fails cleanly too.
        const Bytes px = vstest::Pattern(kW, kH, 3, 7), wide = vstest::Pattern(8 * kW, kH, 3, 9);
        for (IS_BOOL keep : {0, 1}) {
            const std::string path = dir + "/out" + w.ext;
            ISHANDLE d = IS40_OpenFileDest(path.c_str(), keep);
            EXPECT_EQ(d, nullptr);
            EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_OPEN));
            EXPECT_EQ(w.write(d, px, kW), 0u);
            EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_PARAM));
            EXPECT_NE(access(path.c_str(), F_OK), 0);
        }
        // A full device, for a picture within the stream buffer and one
        // beyond it: a write error, with the handle left to the caller.
        for (uint32_t width : {kW, 8 * kW}) {
            if (!full) break;
            ISHANDLE d = IS40_OpenFileDest("/dev/full", 0);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(w.write(d, width == kW ? px : wide, width), 0u) << width;
            EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE));
            EXPECT_TRUE(ISHandleValid(d));
            IS40_CloseDest(d);
            EXPECT_FALSE(ISHandleValid(d));
        }
        // A disk filling up at any point of the file.
        for (size_t failAt : FailPoints(Encoded(w.ext).size())) {
            FaultyStream f;
            f.failAt = failAt;
            ISHANDLE d = OpenFaulty(&f, w.ext, true);
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(w.write(d, px, kW), 0u) << failAt;
            EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_WRITE)) << failAt;
            IS40_CloseDest(d);
        }
    }
}

// ---- readers ------------------------------------------------------------------------

// Runs fn on a file source over data whose reads fail from failAt on.
void WithFaultySource(const Bytes& data, const char* ext, size_t failAt, const std::function<void(ISHANDLE)>& fn) {
    FaultyStream f;
    f.data = data;
    f.failAt = failAt;
    ISHANDLE h = OpenFaulty(&f, ext, false);
    ASSERT_NE(h, nullptr);
    fn(h);
    EXPECT_TRUE(ISHandleValid(h));
    IS40_CloseSource(h);
}

TEST(FaultRead, ReadsFailingMidwayAreReadErrors) {
    for (const Reader& r : Readers()) {
        const Bytes& file = Encoded(r.ext);
        Bytes clean;  // from the first run, which does not fail
        std::vector<size_t> points = FailPoints(file.size());
        points.insert(points.begin(), SIZE_MAX);
        for (size_t failAt : points) {
            SCOPED_TRACE(std::string(r.name) + " failing at " + std::to_string(failAt));
            WithFaultySource(file, r.ext, failAt, [&](ISHANDLE h) {
                uint32_t w = 0, ht = 0;
                LibBuffer out(r.read(h, &w, &ht));
                const uint32_t error = IS40_GetLastError();
                if (failAt == SIZE_MAX) {
                    ASSERT_TRUE(out) << error;
                    clean = Bytes(out.get(), out.get() + w * ht * 3);
                } else if (error == 0) {
                    // Only a failure past everything the picture needs may pass.
                    ASSERT_TRUE(out);
                    EXPECT_EQ(Bytes(out.get(), out.get() + w * ht * 3), clean);
                } else if (error == IS_ERR_JPEG_DECODE) {
                    // The JPEG reader reports any failure in the header as 9.
                    EXPECT_STREQ(r.ext, ".jpg");
                    EXPECT_FALSE(out);
                } else {
                    EXPECT_EQ(error, uint32_t(IS_ERR_READ));
                }
            });
        }
    }
    // A JPEG with an EXIF block: the EXIF reader has all of it or none.
    const Bytes& jpeg = Encoded(".jpg");
    static const uint8_t kExif[] = {0xFF, 0xE1, 0x00, 0x2A, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0,
                                    2, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0, 0x0F, 0x01, 2, 0, 4, 0,
                                    0, 0, 'A', 'B', 'C', 0, 0, 0, 0, 0};
    Bytes file(jpeg.begin(), jpeg.begin() + 2);
    file.insert(file.end(), kExif, kExif + sizeof kExif);
    file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
    for (size_t failAt : FailPoints(file.size())) {
        SCOPED_TRACE("EXIF failing at " + std::to_string(failAt));
        WithFaultySource(file, ".jpg", failAt, [&](ISHANDLE h) {
            ISEXIFREADER reader = IS40_EXIFCreateReader(h, 0, IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
            const uint32_t error = IS40_GetLastError();
            char* text = nullptr;
            uint32_t length = 0;
            if (!reader) {
                EXPECT_TRUE(error == 0 || error == IS_ERR_READ || error == IS_ERR_JPEG_DECODE) << error;
                return;
            }
            EXPECT_GE(failAt, 2 + sizeof kExif);
            EXPECT_TRUE(IS40_EXIFGetString(reader, 274, IS_EXIF_LIST_STANDARD, &text, &length));
            EXPECT_STREQ(text ? text : "", "6");
            IS40_GlobalFree(text);
            IS40_EXIFDestroyReader(reader);
        });
    }
}

// ---- headers that declare far more than the file holds ----------------------------

Bytes BmpHeader(int32_t w, int32_t h, uint32_t bits, uint32_t compression, uint32_t colours) {
    Bytes b(54 + 4 * colours, 0);
    b[0] = 'B';
    b[1] = 'M';
    ISPut32LE(&b[10], static_cast<uint32_t>(b.size()));
    ISPut32LE(&b[14], 40);
    ISPut32LE(&b[18], static_cast<uint32_t>(w));
    ISPut32LE(&b[22], static_cast<uint32_t>(h));
    ISPut16LE(&b[26], 1);
    ISPut16LE(&b[28], bits);
    ISPut32LE(&b[30], compression);
    ISPut32LE(&b[46], colours);
    return b;
}

// Read through a child whose address space cannot take the picture, so a
// reader that allocates first fails there with 1 instead of the code here.
uint32_t BombError(const Bytes& file, const std::function<uint8_t*(ISHANDLE)>& read) {
    auto run = [&]() {
        return static_cast<int>(vstest::WithMemorySource(file, [&](ISHANDLE h) {
            LibBuffer out(read(h));
            return out ? 0u : IS40_GetLastError();
        }));
    };
    const int here = run();
    if (!vstest::kSanitized) {
        EXPECT_EQ(vstest::InCappedChild(192ull << 20, run), here);
    }
    return static_cast<uint32_t>(here);
}

TEST(FaultBomb, SmallBmpDeclaringAHugePictureIsRefused) {
    uint8_t palette[1024];
    uint32_t w, h;
    auto read32 = [&](ISHANDLE s) { return IS40_ReadBMP(s, &w, &h, 32, palette, IS_READ_DIB); };
    // RLE4 of 8 x 33554435 pixels in a few bytes (the escapes could end it
    // early, but no picture of a gigabyte is made of them), RLE8 likewise,
    // and one row present of 10000 uncompressed.
    const struct {
        Bytes header, data;
    } bombs[] = {{BmpHeader(8, 0x02000003, 4, 2, 16), {0, 1, 0, 0}},
                 {BmpHeader(20000, 20000, 8, 1, 256), {255, 1, 255, 2, 0, 1}},
                 {BmpHeader(4000, 10000, 24, 0, 0), Bytes(12000, 0x40)}};
    for (const auto& b : bombs) {
        Bytes file = b.header;
        file.insert(file.end(), b.data.begin(), b.data.end());
        EXPECT_EQ(BombError(file, read32), uint32_t(IS_ERR_READ)) << Get32(file, 18);
    }
    // Below the floor a cut-off picture still comes back, with error 3.
    Bytes cut = BmpHeader(100, 100, 24, 0, 0);
    cut.resize(cut.size() + 300 * 99 + 150, 0x40);
    vstest::WithMemorySource(cut, [&](ISHANDLE s) {
        LibBuffer out(IS40_ReadBMP(s, &w, &h, 24, palette, 0));
        EXPECT_TRUE(out);
        EXPECT_EQ(IS40_GetLastError(), uint32_t(IS_ERR_READ));  // the last row is cut short
        return 0;
    });
}

TEST(FaultBomb, JpegHeaderDeclaringAHugePictureIsRefused) {
    Bytes file = Encoded(".jpg");
    size_t sof = 0;
    while (sof + 1 < file.size() && !(file[sof] == 0xFF && (file[sof + 1] == 0xC0 || file[sof + 1] == 0xC2))) ++sof;
    ASSERT_LT(sof + 9, file.size());
    file[sof + 5] = 60000 >> 8;  // height, then width, big-endian
    file[sof + 6] = 60000 & 0xFF;
    file[sof + 7] = 60000 >> 8;
    file[sof + 8] = 60000 & 0xFF;
    file.resize(file.size() / 2);
    uint32_t w, h;
    for (uint32_t den : {1u, 8u}) {
        SCOPED_TRACE("scale 1/" + std::to_string(den));
        IS40_SetJPGDCTScaleFactors(1, den);
        EXPECT_EQ(BombError(file, [&](ISHANDLE s) { return IS40_ReadJPG(s, &w, &h, 24, 0); }),
                  uint32_t(IS_ERR_MEMORY));
        IS40_SetJPGDCTScaleFactors(1, 1);
    }
    // The dimension query still tells the declared size.
    vstest::WithMemorySource(file, [&](ISHANDLE s) {
        EXPECT_TRUE(IS40_GetJPGDims(s, &w, &h, nullptr, nullptr, nullptr, nullptr, 0));
        EXPECT_EQ(w, 60000u);
        return 0;
    });
}

// ---- allocation failure -----------------------------------------------------------

// Fails the k-th allocation of the library's allocator for k = 1, 2, ...
// until the read or write gets through. libjpeg and libtiff allocate with
// malloc, which this does not reach; libpng allocates through the library
// and reports its own records failing to be made as 16.
TEST(FaultAlloc, EveryAllocationOfOneReadOrWriteFailsCleanly) {
    // run(k) reads or writes once with the k-th allocation failing.
    auto attempt = [](const std::string& what, const char* ext, bool writing, const std::function<bool(int64_t)>& run) {
        uint32_t failures = 0;
        for (int64_t k = 0; k < 5000; ++k) {
            const bool ok = run(k);
            const uint32_t error = IS40_GetLastError();
            if (ok) {
                EXPECT_EQ(error, 0u) << what;
                EXPECT_TRUE(writing || failures > 0) << what;  // a read allocates its output at least
                return;
            }
            ++failures;
            EXPECT_TRUE(error == IS_ERR_MEMORY || (writing && error == IS_ERR_WRITE) ||
                        (error == IS_ERR_PNG_STRUCT && std::strcmp(ext, ".png") == 0))
                << what << " allocation " << k + 1 << ": " << error;
        }
        ADD_FAILURE() << what << " never got through";
    };
    for (const Reader& r : Readers()) {
        const Bytes& file = Encoded(r.ext);
        attempt(r.name, r.ext, false, [&](int64_t k) {
            return vstest::WithMemorySource(file, [&](ISHANDLE h) {
                uint32_t w = 0, ht = 0;
                ISSetAllocFailAfter(k);
                LibBuffer out(r.read(h, &w, &ht));
                ISSetAllocFailAfter(-1);
                EXPECT_TRUE(ISHandleValid(h));
                return static_cast<bool>(out);
            });
        });
    }
    const Bytes px = vstest::Pattern(kW, kH, 3, 7);
    for (const Writer& w : Writers()) {
        const std::string path = vstest::ScratchPath(std::string("alloc") + w.ext);
        attempt(w.name, w.ext, true, [&](int64_t k) {
            ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
            EXPECT_NE(d, nullptr);
            ISSetAllocFailAfter(k);
            const uint32_t written = w.write(d, px, kW);
            ISSetAllocFailAfter(-1);
            const uint32_t error = IS40_GetLastError();
            IS40_CloseDest(d);
            vstest::RestoreLastError(error);
            return written != 0;
        });
    }
}

}  // namespace
