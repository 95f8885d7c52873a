#include "testutil.h"

#include "isframe.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace vstest {

namespace {
void MakeDirs(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return;
        }
    }
}
}  // namespace

void RestoreLastError(uint32_t code) { ISThreadState()->lastError = code; }

std::string ScratchDir() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string dir = std::string(VS_TEST_SCRATCH) + "/" +
                      (info ? std::string(info->test_suite_name()) + "." + info->name() : "shared");
    MakeDirs(dir);
    return dir;
}

std::string ScratchPath(const std::string& name) { return ScratchDir() + "/" + name; }

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes WriteToBytes(const std::string& name, const std::function<uint32_t(ISHANDLE)>& fn,
                   uint32_t* returned) {
    std::string path = ScratchPath(name);
    ISHANDLE d = IS40_OpenFileDest(path.c_str(), 0);
    EXPECT_NE(d, nullptr) << path;
    if (!d) return {};
    uint32_t r = fn(d);
    if (returned) *returned = r;
    IS40_CloseDest(d);
    return ReadFileBytes(path);
}

void CorruptionSweep(const Bytes& data, const std::function<uint8_t*(ISHANDLE)>& decode, int flips,
                     const std::set<uint32_t>& allowed) {
    auto runOne = [&](const Bytes& input, const char* what, size_t where) {
        if (input.empty()) return;
        ISHANDLE h = IS40_OpenMemorySource(input.data(), static_cast<uint32_t>(input.size()));
        ASSERT_NE(h, nullptr);
        uint8_t* out = decode(h);
        uint32_t err = IS40_GetLastError();
        if (out) {
            IS40_GlobalFree(out);
        } else {
            EXPECT_NE(err, 0u) << what << " at " << where << ": null result without an error code";
            if (!allowed.empty()) {
                EXPECT_TRUE(allowed.count(err)) << what << " at " << where << ": unexpected error " << err;
            }
        }
        IS40_CloseSource(h);
    };
    for (size_t cut = 1; cut < data.size(); ++cut) {
        runOne(Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut)), "truncation", cut);
        if (::testing::Test::HasFatalFailure()) return;
    }
    std::mt19937 rng(20261207u);
    for (int i = 0; i < flips && !data.empty(); ++i) {
        Bytes copy = data;
        int changes = 1 + static_cast<int>(rng() % 3);
        size_t first = 0;
        for (int c = 0; c < changes; ++c) {
            size_t at = rng() % copy.size();
            if (c == 0) first = at;
            copy[at] = static_cast<uint8_t>(rng());
        }
        runOne(copy, "byte flip", first);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

Bytes Pattern(uint32_t width, uint32_t height, uint32_t channels, uint32_t seed) {
    Bytes out(static_cast<size_t>(width) * height * channels);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < out.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Mix of smooth ramps and noise so run-length coders see both.
        size_t px = i / channels;
        uint32_t ramp = static_cast<uint32_t>((px % width) * 255 / (width > 1 ? width - 1 : 1));
        out[i] = static_cast<uint8_t>((px / width) % 4 == 0 ? ramp : (x >> 24));
    }
    return out;
}

}  // namespace vstest
