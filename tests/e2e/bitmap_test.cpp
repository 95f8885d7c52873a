// Device bitmaps under GDI: RGB buffers to bitmaps and back, DIB sections
// of every bit depth read into RGB (a device bitmap of any depth takes the
// same way), dimensions and error codes.
// Prints one line per failed check and exits 1 when any failed.
#include <windows.h>

#include "codec/IS40.h"
#include "codec/win/isbitmap.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int g_failures = 0;

#define CHECK(cond, ...)                                                                  \
    do {                                                                                  \
        if (cond) break;                                                                  \
        std::printf("FAIL line %d: %s: ", __LINE__, #cond);                               \
        std::printf(__VA_ARGS__);                                                         \
        std::printf("\n");                                                                \
        ++g_failures;                                                                     \
    } while (0)

using Bytes = std::vector<uint8_t>;

Bytes Pattern(uint32_t w, uint32_t h, uint32_t seed) {
    Bytes b(static_cast<size_t>(w) * h * 3);
    uint32_t s = seed;
    for (auto& v : b) {
        s = s * 1103515245u + 12345u;
        v = static_cast<uint8_t>(s >> 16);
    }
    return b;
}

// The bitmap's pixels as GDI itself converts them to a 24-bit DIB, top row first.
Bytes GdiPixels(HBITMAP bmp, HDC dc, uint32_t w, uint32_t h) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, static_cast<LONG>(w), -static_cast<LONG>(h), 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const uint32_t stride = (w * 3 + 3) & ~3u;
    Bytes dib(static_cast<size_t>(stride) * h);
    if (GetDIBits(dc, bmp, 0, h, dib.data(), &bi, DIB_RGB_COLORS) != static_cast<int>(h)) return {};
    Bytes rgb(static_cast<size_t>(w) * h * 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) rgb[(y * w + x) * 3 + c] = dib[y * stride + x * 3 + 2 - c];
    return rgb;
}

// The bitmap read by the codec library, every read expected to succeed.
Bytes ToRGB(HBITMAP bmp, HDC screen, uint32_t w, uint32_t h, HPALETTE pal = nullptr) {
    Bytes rgb(static_cast<size_t>(w) * h * 3, 0xEE);
    CHECK(IS40_HBITMAPToRGB(bmp, screen, pal, rgb.data()) && IS40_GetLastError() == 0, "error %u",
          IS40_GetLastError());
    return rgb;
}

int Differences(const Bytes& a, const Bytes& b) {
    int wrong = a.size() == b.size() ? 0 : -1;
    for (size_t k = 0; wrong >= 0 && k < a.size(); ++k) wrong += a[k] != b[k];
    return wrong;
}

void RoundTripThroughDeviceBitmap(HDC screen) {
    // A picture with padded rows (an odd width pads GDI's rows too): GDI
    // sees the same pixels, and reading the bitmap back gives the picture.
    const uint32_t w = 37, h = 23, stride = w * 3 + 5;
    const Bytes packed = Pattern(w, h, 3);
    Bytes padded(static_cast<size_t>(stride) * h, 0xCC);
    for (uint32_t y = 0; y < h; ++y) std::memcpy(&padded[y * stride], &packed[y * w * 3], w * 3);
    for (HDC dc : {static_cast<HDC>(nullptr), screen}) {
        HBITMAP bmp = IS40_RGBToHBITMAP(padded.data(), w, h, stride, nullptr, dc);
        CHECK(bmp != nullptr, "error %u", IS40_GetLastError());
        if (!bmp) continue;
        uint32_t bw = 0, bh = 0;
        CHECK(IS40_GetHBITMAPDimensions(bmp, &bw, &bh) && bw == w && bh == h, "%ux%u", bw, bh);
        CHECK(GdiPixels(bmp, screen, w, h) == packed, "GDI sees other pixels");
        CHECK(ToRGB(bmp, screen, w, h) == packed, "round trip changed pixels");
        DeleteObject(bmp);
    }

    // With a palette given it is selected around the creation.
    struct {
        WORD version, count;
        PALETTEENTRY e[2];
    } lp = {0x300, 2, {{0, 0, 0, 0}, {255, 255, 255, 0}}};
    HPALETTE pal = CreatePalette(reinterpret_cast<LOGPALETTE*>(&lp));
    HBITMAP bmp = IS40_RGBToHBITMAP(packed.data(), w, h, w * 3, pal, screen);
    CHECK(bmp != nullptr, "with palette: error %u", IS40_GetLastError());
    if (bmp) CHECK(ToRGB(bmp, screen, w, h, pal) == packed, "round trip with palette changed pixels");
    DeleteObject(bmp);
    DeleteObject(pal);
}

// A DIB section of the given depth with known bits. GDI's own reading is
// the expected RGB, except at 16 bits where it widens 5-bit channels by
// repeating bits while the library scales them: worked out here.
void DibSectionAtDepth(HDC screen, uint32_t bits) {
    const uint32_t w = 19, h = 7;
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD table[256];
    } bi = {};
    bi.h = {sizeof bi.h, static_cast<LONG>(w), static_cast<LONG>(h), 1, static_cast<WORD>(bits), BI_RGB, 0, 0, 0, 0, 0};
    for (uint32_t i = 0; bits <= 8 && i < (1u << bits); ++i)
        bi.table[i] = {static_cast<BYTE>(i * 101 + 50), static_cast<BYTE>(255 - i * 7), static_cast<BYTE>(i * 29 + 3), 0};
    void* bitsPtr = nullptr;
    HBITMAP sec = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS, &bitsPtr, nullptr, 0);
    CHECK(sec && bitsPtr, "CreateDIBSection %u bits", bits);
    if (!sec || !bitsPtr) return;
    const uint32_t stride = (w * bits + 31) / 32 * 4;
    uint8_t* data = static_cast<uint8_t*>(bitsPtr);
    for (uint32_t k = 0; k < stride * h; ++k) data[k] = static_cast<uint8_t>(k * 53 + bits);
    GdiFlush();
    Bytes want = GdiPixels(sec, screen, w, h);
    CHECK(want.size() == w * h * 3, "%u bits: GDI could not read the section", bits);
    for (uint32_t y = 0; bits == 16 && y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* q = data + (h - 1 - y) * stride + 2 * x;
            const uint32_t v = q[0] | (q[1] << 8);
            for (int c = 0; c < 3; ++c) want[(y * w + x) * 3 + c] = static_cast<uint8_t>(((v >> (10 - 5 * c)) & 31) * 255 / 31);
        }
    const int wrong = Differences(ToRGB(sec, screen, w, h), want);
    CHECK(wrong == 0, "%u bits: %d bytes differ", bits, wrong);
    DeleteObject(sec);
}

void ErrorCodes(HDC screen) {
    const Bytes px = Pattern(4, 4, 1);
    HBITMAP bmp = IS40_RGBToHBITMAP(px.data(), 4, 4, 12, nullptr, screen);
    CHECK(bmp != nullptr, "error %u", IS40_GetLastError());
    HBITMAP brush = reinterpret_cast<HBITMAP>(CreateSolidBrush(0));
    Bytes out(4 * 4 * 3);
    uint32_t w = 0, h = 0;
    // The error code each failing call leaves, read right after it.
    auto code = [](bool ok) { return ok ? ~0u : IS40_GetLastError(); };
    const struct {
        uint32_t got, want;
    } cases[] = {
        {code(IS40_RGBToHBITMAP(nullptr, 4, 4, 12, nullptr, screen)), 5},
        {code(IS40_RGBToHBITMAP(px.data(), 0, 4, 12, nullptr, screen)), 5},
        {code(IS40_RGBToHBITMAP(px.data(), 4, 4, 11, nullptr, screen)), 5},
        {code(IS40_HBITMAPToRGB(bmp, nullptr, nullptr, out.data())), 26},
        {code(IS40_HBITMAPToRGB(bmp, screen, nullptr, nullptr)), 5},
        {code(IS40_HBITMAPToRGB(nullptr, screen, nullptr, out.data())), 5},
        {code(IS40_HBITMAPToRGB(brush, screen, nullptr, out.data())), 17},
        {code(IS40_GetHBITMAPDimensions(nullptr, &w, &h)), 5},
        {code(IS40_GetHBITMAPDimensions(bmp, nullptr, &h)), 5},
        {code(IS40_GetHBITMAPDimensions(brush, &w, &h)), 17},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        CHECK(cases[i].got == cases[i].want, "case %zu: error %u, expected %u", i, cases[i].got, cases[i].want);
    CHECK(IS40_GetHBITMAPDimensions(bmp, &w, &h) && w == 4 && h == 4 && IS40_GetLastError() == 0, "%ux%u", w, h);
    DeleteObject(brush);
    DeleteObject(bmp);
}

}  // namespace

int main() {
    // The process ends through ExitProcess, which does not flush stdio.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    IS40_Initialize();
    HDC screen = GetDC(nullptr);
    if (!screen) {
        std::printf("FAIL: no screen device context\n");
        return 1;
    }
    std::printf("screen: %d bits per pixel, raster caps 0x%X\n", GetDeviceCaps(screen, BITSPIXEL),
                GetDeviceCaps(screen, RASTERCAPS));
    RoundTripThroughDeviceBitmap(screen);
    for (uint32_t bits : {1u, 4u, 8u, 16u, 24u, 32u}) DibSectionAtDepth(screen, bits);
    ErrorCodes(screen);
    ReleaseDC(nullptr, screen);
    IS40_Shutdown();
    std::printf(g_failures ? "%d checks failed\n" : "all checks passed\n", g_failures);
    return g_failures ? 1 : 0;
}
