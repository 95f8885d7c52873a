#include "tests/core/testutil.h"

#include "codec/IS40jpeg.h"
#include "codec/IS40pngtiff.h"
#include "codec/isframe.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace vstest {

void RestoreLastError(uint32_t code) { ISThreadState()->lastError = code; }

std::string ScratchPath(const std::string& name) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string dir = std::string(VS_TEST_SCRATCH) + "/" +
                            (info ? std::string(info->test_suite_name()) + "." + info->name() : "shared");
    std::filesystem::create_directories(dir);
    return dir + "/" + name;
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes WriteToBytes(const std::string& name, const std::function<uint32_t(ISHANDLE)>& fn, uint32_t* returned) {
    std::string path = ScratchPath(name);
    ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
    EXPECT_NE(d, nullptr) << path;
    if (!d) return {};
    const uint32_t r = fn(d), error = IS40_GetLastError();
    if (returned) *returned = r;
    IS40_CloseDest(d);
    RestoreLastError(error);
    return ReadFileBytes(path);
}

Bytes Pattern(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed) {
    Bytes out(static_cast<size_t>(width) * height * channels);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < out.size(); ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        // Mix of smooth ramps and noise so run-length coders see both.
        size_t px = i / channels;
        uint32_t ramp = static_cast<uint32_t>((px % width) * 255 / (width > 1 ? width - 1 : 1));
        out[i] = static_cast<uint8_t>((px / width) % 4 == 0 ? ramp : (x >> 24));
    }
    return out;
}

bool HavePrograms(const std::string& names) {
    std::istringstream list(names);
    std::string name;
    while (list >> name) if (std::system(("command -v '" + name + "' >/dev/null 2>&1").c_str()) != 0) return false;
    return true;
}

Bytes Capture(const std::string& cmd) {
    Bytes out;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
    pclose(p);
    return out;
}

int Shell(const std::string& cmd) { return std::system(("(" + cmd + ") >/dev/null 2>&1").c_str()); }

Bytes MagickPixels(const std::string& path, const std::string& map, const std::string& pre) {
    return Capture("convert '" + path + "' " + pre + " -depth 8 " + map + ":- 2>/dev/null");
}

std::string MagickConvert(const Bytes& px, uint32_t w, uint32_t h, uint32_t channels, const std::string& options,
                          const std::string& name, const std::string& format) {
    const std::string in = ScratchPath(name + ".src.pnm");
    WriteNetpbm(in, px, w, h, channels);
    const std::string out = ScratchPath(name);
    EXPECT_EQ(Shell("convert '" + in + "' " + options + " '" + (format.empty() ? "" : format + ":") + out + "'"), 0)
        << options << " " << name;
    return out;
}

void WriteNetpbm(const std::string& path, const Bytes& px, uint32_t w, uint32_t h, uint32_t channels) {
    const std::string head = channels == 1 || channels == 3
        ? (channels == 1 ? "P5\n" : "P6\n") + std::to_string(w) + " " + std::to_string(h) + "\n255\n"
        : "P7\nWIDTH " + std::to_string(w) + "\nHEIGHT " + std::to_string(h) + "\nDEPTH " + std::to_string(channels) +
              "\nMAXVAL 255\nTUPLTYPE " + (channels == 2 ? "GRAYSCALE_ALPHA" : "RGB_ALPHA") + "\nENDHDR\n";
    WriteFileBytes(path, Cat(Bytes(head.begin(), head.end()), px));
}

int InCappedChild(uint64_t extraBytes, const std::function<int()>& fn) {
    pid_t pid = fork();
    if (pid == 0) {
        long pages = 0;
        std::ifstream statm("/proc/self/statm");
        statm >> pages;
        rlimit lim;
        lim.rlim_cur = lim.rlim_max = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + extraBytes;
        setrlimit(RLIMIT_AS, &lim);
        _exit(fn() & 0xFF);
    }
    if (pid < 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WritePatternJpeg(const std::string& name, uint32_t w, uint32_t h, uint32_t quality) {
    const Bytes px = Pattern(w, h, 3);
    EXPECT_FALSE(WriteToBytes(name, [&](ISHANDLE d) { return IS40_WriteJPG(d, px.data(), w, h, 24, w * 3, quality, nullptr, 0); }).empty());
    return ScratchPath(name);
}

std::string WritePatternPng(const std::string& name, uint32_t w, uint32_t h) {
    const Bytes px = Pattern(w, h, 3);
    EXPECT_FALSE(WriteToBytes(name, [&](ISHANDLE d) { return IS40_WritePNG(d, px.data(), w, h, w * 3, 8, 0, nullptr, 2, 0.0, nullptr, 0); }).empty());
    return ScratchPath(name);
}

Bytes WithExifSegment(const Bytes& jpeg, const Bytes& thumbnail, uint32_t orientation) {
    Bytes b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0};
    const auto put = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    // One-value entries; a SHORT's value fills the field's first half.
    const auto entry = [&](uint32_t tag, uint32_t type, uint32_t value) {
        put(tag, 2), put(type, 2), put(1, 4), put(value, 4);
    };
    put(8, 4), put(1, 2);
    entry(0x0112, 3, orientation);
    put(26, 4);  // IFD1 right after IFD0's 18 bytes
    put(3, 2);
    entry(0x0103, 3, 6);
    entry(0x0201, 4, 68);  // 26 + 2 + 3 x 12 + 4
    entry(0x0202, 4, static_cast<uint32_t>(thumbnail.size()));
    put(0, 4);
    b = Cat(b, thumbnail);
    const size_t length = b.size() + 2;
    const Bytes head = {0xFF, 0xD8, 0xFF, 0xE1, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    return Cat(Cat(head, b), Bytes(jpeg.begin() + 2, jpeg.end()));
}

ReadResult ReadWith(FormatReader reader, const Bytes& file, uint32_t depth, uint32_t flags, int64_t allocations,
                    bool withPalette) {
    ReadResult r;
    WithMemorySource(file, [&](ISHANDLE h) {
        ISSetAllocFailAfter(allocations);
        r.buf = LibBuffer(reader(h, &r.width, &r.height, depth, withPalette ? r.palette.data() : nullptr, flags));
        r.error = IS40_GetLastError();
        ISSetAllocFailAfter(-1);
        return 0;
    });
    return r;
}

int MaxDiff(const Bytes& a, const Bytes& b) {
    if (a.size() != b.size()) return 1 << 20;
    int m = 0;
    for (size_t i = 0; i < a.size(); ++i) m = std::max(m, std::abs(int(a[i]) - int(b[i])));
    return m;
}

Bytes PatternRgba(uint32_t width, uint32_t height, uint32_t seed) {
    static const uint8_t levels[] = {255, 0, 128, 255, 64, 200, 255, 30};
    Bytes p = Pattern(width, height, 4, seed);
    for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) p[4 * i + 3] = levels[i % 8];
    return p;
}

Bytes PatternPalette(uint32_t n, uint8_t fourth, uint32_t seed) {
    Bytes t = Pattern(n, 1, 4, seed);
    for (uint32_t i = 0; i < n; ++i) t[4 * i + 3] = fourth;
    return t;
}

size_t TiffValueAt(const Bytes& tiff, uint32_t tag, uint32_t* type) {
    const size_t ifd = Get32(tiff, 4);
    for (uint32_t i = 0, n = Get16(tiff, ifd); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * i;
        if (Get16(tiff, e) != tag) continue;
        const uint32_t t = Get16(tiff, e + 2), count = Get32(tiff, e + 4), size = t == 3 ? 2 : 4;
        if (type) *type = t;
        return count * size <= 4 ? e + 8 + (count - 1) * size : Get32(tiff, e + 8) + (count - 1) * size;
    }
    ADD_FAILURE() << "no tag " << tag;
    return 0;
}

uint32_t ReadError(FormatReader reader, const Bytes& file, uint32_t depth, uint32_t flags) {
    const ReadResult r = ReadWith(reader, file, depth, flags);
    EXPECT_FALSE(r.buf) << "depth " << depth << " flags " << flags;
    return r.error;
}

::testing::AssertionResult WriteFails(const std::function<uint32_t(ISHANDLE)>& write, uint32_t error) {
    uint32_t returned = 0;
    const Bytes file = WriteToBytes("bad.out", write, &returned);
    const uint32_t got = IS40_GetLastError();
    if (returned == 0 && got == error && file.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "returned " << returned << ", error " << got << ", " << file.size() << " bytes";
}

}  // namespace vstest
