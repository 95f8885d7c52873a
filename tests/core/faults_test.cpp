// Fault injection over every reader and writer: destinations that cannot be created or fill up, sources whose reads
// fail midway, and allocation failure at each allocation one read makes.
#include "codec/isframe.h"
#include "tests/core/testutil.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>

namespace {

using namespace vstest;

constexpr uint32_t kW = 64, kH = 48;

struct Writer { const char *name, *ext; std::function<uint32_t(ISHANDLE, const Bytes&, uint32_t width)> write; };  // kH rows

const std::vector<Writer>& Writers() {
    using P = const Bytes&;
    static const std::vector<Writer> writers = {
        {"BMP", ".bmp", [](ISHANDLE d, P px, uint32_t w) { return IS40_WriteBMP(d, px.data(), w, kH, 24, w * 3, 0, nullptr, nullptr, 0); }},
        {"PCX", ".pcx", [](ISHANDLE d, P px, uint32_t w) { return IS40_WritePCX(d, px.data(), w, kH, 24, w * 3, nullptr, nullptr, 0); }},
        {"TGA", ".tga", [](ISHANDLE d, P px, uint32_t w) { return IS40_WriteTGA(d, px.data(), w, kH, 24, w * 3, nullptr, 0, 0); }},
        {"JPEG", ".jpg", [](ISHANDLE d, P px, uint32_t w) { return IS40_WriteJPG(d, px.data(), w, kH, 24, w * 3, 90, nullptr, 0); }},
        {"PNG", ".png", [](ISHANDLE d, P px, uint32_t w) {
             return IS40_WritePNG(d, px.data(), w, kH, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, IS_PNG_NO_TIME);
         }},
        {"TIFF", ".tif", [](ISHANDLE d, P px, uint32_t w) { return IS40_WriteTIFF(d, px.data(), w, kH, 24, w * 3, nullptr, 1, nullptr, 0); }},
    };
    return writers;
}

// ext: of the file the matching writer makes
struct Reader { const char *name, *ext; std::function<uint8_t*(ISHANDLE, uint32_t*, uint32_t*)> read; };

const std::vector<Reader>& Readers() {
    static uint8_t pal[1024];
    static const ISRegion part{13, 9, 30, 20};
    using U = uint32_t*;
    static const std::vector<Reader> readers = {
        {"BMP", ".bmp", [](ISHANDLE h, U w, U ht) { return IS40_ReadBMP(h, w, ht, 24, pal, 0); }},
        {"PCX", ".pcx", [](ISHANDLE h, U w, U ht) { return IS40_ReadPCX(h, w, ht, 24, pal, 0); }},
        {"TGA", ".tga", [](ISHANDLE h, U w, U ht) { return IS40_ReadTGA(h, w, ht, 24, pal, 0); }},
        {"JPEG", ".jpg", [](ISHANDLE h, U w, U ht) { return IS40_ReadJPG(h, w, ht, 24, 0); }},
        {"JPEG region", ".jpg", [](ISHANDLE h, U w, U ht) { return IS40_ReadJPGRegion(h, &part, w, ht, 24, 0); }},
        {"PNG", ".png", [](ISHANDLE h, U w, U ht) { return IS40_ReadPNG(h, w, ht, 24, pal, 0); }},
        {"TIFF", ".tif", [](ISHANDLE h, U w, U ht) { return IS40_ReadTIFF(h, w, ht, 24, pal, 0, 0); }},
        {"generic JPEG", ".jpg", [](ISHANDLE h, U w, U ht) { return IS40_ReadImage(h, w, ht, 0, 0); }},
        {"generic TGA", ".tga", [](ISHANDLE h, U w, U ht) { return IS40_ReadImage(h, w, ht, 0, 0); }},
    };
    return readers;
}

// The picture each writer made, written once per test binary run.
const Bytes& Encoded(const char* ext) {
    static std::map<std::string, Bytes> files;
    Bytes& file = files[ext];
    for (const Writer& w : Writers())
        if (file.empty() && std::strcmp(w.ext, ext) == 0)
            file = WriteToBytes(std::string("enc") + ext, [&](ISHANDLE d) { return w.write(d, Pattern(kW, kH, 3, 7), kW); });
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
    if (f->pos >= f->failAt) return errno = EIO, -1;
    const size_t end = std::min(f->data.size(), f->failAt), k = f->pos < end ? std::min(n, end - f->pos) : 0;
    std::memcpy(buf, f->data.data() + f->pos, k);
    f->pos += k;
    return static_cast<ssize_t>(k);
}

ssize_t FaultyWrite(void* cookie, const char* buf, size_t n) {
    auto* f = static_cast<FaultyStream*>(cookie);
    if (f->pos >= f->failAt) return errno = ENOSPC, -1;
    const size_t k = std::min(n, f->failAt - f->pos);
    if (f->data.size() < f->pos + k) f->data.resize(f->pos + k);
    std::memcpy(f->data.data() + f->pos, buf, k);
    f->pos += k;
    return static_cast<ssize_t>(k);
}

int FaultySeek(void* cookie, off64_t* offset, int whence) {
    auto* f = static_cast<FaultyStream*>(cookie);
    const int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(f->pos) : int64_t(f->data.size());
    if (base + *offset < 0) return errno = EINVAL, -1;
    f->pos = static_cast<size_t>(*offset += base);
    return 0;
}

int FaultyClose(void*) { return 0; }

// Opens a file handle of the library (named like the real file, for the
// extension rules) and swaps its stream for the faulty one.
ISHANDLE OpenFaulty(FaultyStream* f, const char* ext, bool dest) {
    const std::string path = ScratchPath(std::string("faulty") + ext);
    WriteFileBytes(path, f->data);
    ISHANDLE h = dest ? IS40_OpenFileDest(path.c_str(), 0) : IS40_OpenFileSource(path.c_str());
    if (!h) return nullptr;
    auto* block = static_cast<ISHandleBlock*>(h);
    std::fclose(block->stream);
    block->stream = fopencookie(f, dest ? "wb+" : "rb", {FaultyRead, FaultyWrite, FaultySeek, FaultyClose});
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

TEST(FaultWrite, EveryWriterReportsDestinationsThatFail) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full) std::fclose(full);
    const Bytes px = Pattern(kW, kH, 3, 7), wide = Pattern(8 * kW, kH, 3, 9);
    // A file that cannot be made gives no handle, also when an existing one is to be kept; what the caller does next
    // with the null handle fails cleanly too.
    EXPECT_FAILS_WITH(IS40_OpenFileDest(ScratchPath("missing/out.bmp").c_str(), 1), IS_ERR_OPEN);
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.name);
        EXPECT_FAILS_WITH(w.write(nullptr, px, kW), IS_ERR_PARAM);
        // A full device, for a picture within the stream buffer and one
        // beyond it: a write error, with the handle left to the caller.
        for (uint32_t width : {kW, 8 * kW}) {
            if (!full) break;
            ISHANDLE d = IS40_OpenFileDest("/dev/full", 0);
            EXPECT_FAILS_WITH(w.write(d, width == kW ? px : wide, width), IS_ERR_WRITE);
            EXPECT_TRUE(ISHandleValid(d));
            IS40_CloseDest(d);
        }
        // A disk filling up at any point of the file.
        for (size_t failAt : FailPoints(Encoded(w.ext).size())) {
            FaultyStream f;
            f.failAt = failAt;
            ISHANDLE d = OpenFaulty(&f, w.ext, true);
            SCOPED_TRACE(failAt);
            EXPECT_FAILS_WITH(w.write(d, px, kW), IS_ERR_WRITE);
            IS40_CloseDest(d);
        }
    }
}

// Arguments each writer refuses before writing a byte: error 5, or 7 for a
// compression TIFF cannot apply to the picture.
TEST(FaultWrite, RefusedArgumentsWriteNothing) {
    const Bytes px = Pattern(4, 4, 3), pal = PatternPalette(256, 0), tall(65537, 1);
    Bytes dib(40, 0);
    dib[0] = 12;  // a packed DIB with an OS/2 header
    const uint8_t *p = px.data(), *c = pal.data();
    using W = std::function<uint32_t(ISHANDLE)>;
    const struct { const char* what; W write; uint32_t error; } cases[] = {
        {"BMP without pixels", [&](ISHANDLE d) { return IS40_WriteBMP(d, nullptr, 4, 4, 24, 12, 0, nullptr, nullptr, 0); }, 5},
        {"BMP width 0", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 0, 4, 24, 12, 0, nullptr, nullptr, 0); }, 5},
        {"BMP height 0", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 0, 24, 12, 0, nullptr, nullptr, 0); }, 5},
        {"BMP stride below the row", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 4, 24, 11, 0, nullptr, nullptr, 0); }, 5},
        {"BMP too large", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 100000, 100000, 24, 300000, 0, nullptr, nullptr, 0); }, 5},
        {"BMP of an OS/2 DIB", [&](ISHANDLE d) { return IS40_WriteBMP(d, dib.data(), 0, 0, 0, 0, 0, nullptr, nullptr, 2); }, 5},
        {"BMP of 12 bits", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 4, 12, 12, 0, nullptr, nullptr, 0); }, 5},
        {"BMP of 4 bits without palette", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 4, 4, 4, 2, nullptr, nullptr, 0); }, 5},
        {"BMP of 4 bits, no colours", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 4, 4, 4, 0, c, nullptr, 0); }, 5},
        {"BMP of 4 bits, 17 colours", [&](ISHANDLE d) { return IS40_WriteBMP(d, p, 4, 4, 4, 4, 17, c, nullptr, 0); }, 5},
        {"TIFF without pixels", [&](ISHANDLE d) { return IS40_WriteTIFF(d, nullptr, 4, 4, 24, 12, nullptr, 1, nullptr, 0); }, 5},
        {"TIFF of 2 bits", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 2, 12, nullptr, 1, nullptr, 0); }, 5},
        {"TIFF of 8 bits without palette", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 8, 12, nullptr, 1, nullptr, 0); }, 5},
        {"TIFF stride below the row", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 24, 11, nullptr, 1, nullptr, 0); }, 5},
        {"TIFF width 0", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 0, 4, 24, 12, nullptr, 1, nullptr, 0); }, 5},
        {"TIFF unknown compression", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 24, 12, nullptr, 12345, nullptr, 0); }, 7},
        {"TIFF palette as JPEG", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 8, 12, c, 7, nullptr, 0); }, 7},
        {"TIFF old-style JPEG", [&](ISHANDLE d) { return IS40_WriteTIFF(d, p, 4, 4, 24, 12, nullptr, 6, nullptr, 0); }, 7},
        {"PNG without pixels", [&](ISHANDLE d) { return IS40_WritePNG(d, nullptr, 4, 4, 12, 8, 0, nullptr, 2, 0, nullptr, 0); }, 5},
        {"PNG colours without palette", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 8, 4, nullptr, 2, 0, nullptr, 0); }, 5},
        {"PNG of RGB at 4 bits", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 4, 0, nullptr, 2, 0, nullptr, 0); }, 5},
        {"PNG colour type 5", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 8, 0, nullptr, 5, 0, nullptr, 0); }, 5},
        {"PNG palette type without palette", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 8, 0, nullptr, 3, 0, nullptr, 0); }, 5},
        {"PNG of 300 colours", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 8, 300, c, 3, 0, nullptr, 0); }, 5},
        {"PNG of 1 bit, 3 colours", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 1, 3, c, 3, 0, nullptr, 0); }, 5},
        {"PNG stride below the row", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 11, 8, 0, nullptr, 2, 0, nullptr, 0); }, 5},
        {"PNG width 0", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 0, 4, 12, 8, 0, nullptr, 2, 0, nullptr, 0); }, 5},
        {"PNG of grey and alpha at 4 bits", [&](ISHANDLE d) { return IS40_WritePNG(d, p, 4, 4, 12, 4, 0, nullptr, 4, 0, nullptr, 0); }, 5},
        {"JPEG of 16 bits", [&](ISHANDLE d) { return IS40_WriteJPG(d, p, 4, 4, 16, 12, 90, nullptr, 0); }, 5},
        {"JPEG width 0", [&](ISHANDLE d) { return IS40_WriteJPG(d, p, 0, 4, 24, 12, 90, nullptr, 0); }, 5},
        {"JPEG height 0", [&](ISHANDLE d) { return IS40_WriteJPG(d, p, 4, 0, 24, 12, 90, nullptr, 0); }, 5},
        {"JPEG stride below the row", [&](ISHANDLE d) { return IS40_WriteJPG(d, p, 4, 4, 24, 11, 90, nullptr, 0); }, 5},
        {"JPEG without pixels", [&](ISHANDLE d) { return IS40_WriteJPG(d, nullptr, 4, 4, 24, 12, 90, nullptr, 0); }, 5},
        {"TGA width 0", [&](ISHANDLE d) { return IS40_WriteTGA(d, p, 0, 1, 24, 3, nullptr, 0, 0); }, 5},
        {"TGA height 0", [&](ISHANDLE d) { return IS40_WriteTGA(d, p, 1, 0, 24, 3, nullptr, 0, 0); }, 5},
        {"TGA of 16 bits", [&](ISHANDLE d) { return IS40_WriteTGA(d, p, 1, 1, 16, 3, nullptr, 0, 0); }, 5},
        {"TGA of 8 bits without palette", [&](ISHANDLE d) { return IS40_WriteTGA(d, p, 1, 1, 8, 1, nullptr, 0, 0); }, 5},
        {"TGA without pixels", [&](ISHANDLE d) { return IS40_WriteTGA(d, nullptr, 1, 1, 24, 3, nullptr, 0, 0); }, 5},
        {"TGA width 70000", [&](ISHANDLE d) { return IS40_WriteTGA(d, tall.data(), 70000, 1, 8, 70000, c, 0, 0); }, 5},
        {"TGA stride below the row", [&](ISHANDLE d) { return IS40_WriteTGA(d, p, 4, 1, 24, 8, nullptr, 0, 0); }, 5},
        {"PCX without pixels", [&](ISHANDLE d) { return IS40_WritePCX(d, nullptr, 4, 4, 24, 12, nullptr, nullptr, 0); }, 5},
        {"PCX width 0", [&](ISHANDLE d) { return IS40_WritePCX(d, p, 0, 4, 24, 12, nullptr, nullptr, 0); }, 5},
        {"PCX height 0", [&](ISHANDLE d) { return IS40_WritePCX(d, p, 4, 0, 24, 12, nullptr, nullptr, 0); }, 5},
        {"PCX of 4 bits", [&](ISHANDLE d) { return IS40_WritePCX(d, p, 4, 4, 4, 12, c, nullptr, 0); }, 5},
        {"PCX of 8 bits without palette", [&](ISHANDLE d) { return IS40_WritePCX(d, p, 4, 4, 8, 4, nullptr, nullptr, 0); }, 5},
        {"PCX stride below the row", [&](ISHANDLE d) { return IS40_WritePCX(d, p, 4, 4, 24, 11, nullptr, nullptr, 0); }, 5},
        {"PCX width 70000", [&](ISHANDLE d) { return IS40_WritePCX(d, tall.data(), 70000, 1, 8, 70000, c, nullptr, 0); }, 5},
        {"PCX height 65537", [&](ISHANDLE d) { return IS40_WritePCX(d, tall.data(), 1, 65537, 8, 1, c, nullptr, 0); }, 5},
    };
    for (const auto& t : cases) EXPECT_TRUE(WriteFails(t.write, t.error)) << t.what;
}

// Runs fn on a file source over data whose reads fail from failAt on.
void WithFaultySource(const Bytes& data, const char* ext, size_t failAt, const std::function<void(ISHANDLE)>& fn) {
    FaultyStream f;
    f.data = data;
    f.failAt = failAt;
    ISHANDLE h = OpenFaulty(&f, ext, false);
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
    const Bytes file = WithExifSegment(Encoded(".jpg"), {0xFF, 0xD8, 0xFF, 0xD9}, 6);
    const size_t exifEnd = 4 + ((file[4] << 8) | file[5]);
    for (size_t failAt : FailPoints(file.size())) {
        SCOPED_TRACE("EXIF failing at " + std::to_string(failAt));
        WithFaultySource(file, ".jpg", failAt, [&](ISHANDLE h) {
            ISEXIFREADER reader = IS40_EXIFCreateReader(h, 0, IS_EXIF_THUMBNAIL | IS_EXIF_MAKER_NOTE);
            const uint32_t error = IS40_GetLastError();
            if (!reader) {
                EXPECT_TRUE(error == 0 || error == IS_ERR_READ || error == IS_ERR_JPEG_DECODE) << error;
                return;
            }
            EXPECT_GE(failAt, exifEnd);
            char* text = nullptr;
            uint32_t length = 0;
            EXPECT_TRUE(IS40_EXIFGetString(reader, 274, IS_EXIF_LIST_STANDARD, &text, &length));
            EXPECT_STREQ(text ? text : "", "6");
            IS40_GlobalFree(text);
            IS40_EXIFDestroyReader(reader);
        });
    }
}

// Runs op(k) with the library's allocator failing after k = 0, 1, 2, ... successful allocations, until it succeeds or
// `tries` ran out. libjpeg and libtiff allocate with malloc, which this does not reach; libpng reports its own records
// failing to be made as 16, a writer may report a write error. True once op succeeded.
bool SurvivesAllocationFailures(const std::function<bool(int)>& op, int tries, bool writes) {
    for (int k = 0; k < tries; ++k) {
        if (op(k)) return true;
        const uint32_t error = IS40_GetLastError();
        EXPECT_TRUE(error == IS_ERR_MEMORY || error == IS_ERR_PNG_STRUCT || (writes && error == IS_ERR_WRITE))
            << "failing after " << k << " allocations: error " << error;
    }
    return false;
}

TEST(FaultAlloc, EveryAllocationOfOneReadOrWriteFailsCleanly) {
    for (const Reader& r : Readers()) {
        const auto read = [&](int k) {
            return WithMemorySource(Encoded(r.ext), [&](ISHANDLE s) {
                uint32_t w = 0, h = 0;
                ISSetAllocFailAfter(k);
                const bool ok = LibBuffer(r.read(s, &w, &h)).get() != nullptr;
                ISSetAllocFailAfter(-1);
                return ok;
            });
        };
        // k = 0 fails the output buffer at least, so every read fails once.
        EXPECT_FALSE(read(0)) << r.name;
        EXPECT_TRUE(SurvivesAllocationFailures(read, 5000, false)) << r.name;
        EXPECT_EQ(IS40_GetLastError(), 0u) << r.name;
    }
    const Bytes px = Pattern(kW, kH, 3, 7);
    for (const Writer& w : Writers()) {
        EXPECT_TRUE(SurvivesAllocationFailures([&](int k) {
            uint32_t size = 0;
            WriteToBytes("alloc.out", [&](ISHANDLE d) {
                ISSetAllocFailAfter(k);
                size = w.write(d, px, kW);
                ISSetAllocFailAfter(-1);
                return size;
            });
            return size != 0;
        }, 5000, true)) << w.name;
    }
}

}  // namespace
