// The TIFF reader over its pages and the dimension query. The first input
// byte picks page, depth and flags; the rest is the file.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t kDepths[] = {1, 8, 24, 32};
    static const uint32_t kFlags[] = {0, IS_TIFF_IGNORE_ORIENTATION, IS_READ_DIB, IS_READ_PAD_BGR};
    const uint8_t sel = data[0];
    const uint32_t page = sel % 3;
    vsfuzz::Options o;
    o.depth = kDepths[(sel / 3) % 4];
    o.flags = kFlags[(sel / 12) % 4];
    vsfuzz::Source src(data + 1, size - 1);
    {
        uint32_t w = 0, h = 0, bits = 0;
        ISResolution res{};
        IS40_GetTIFFDims(src.rewound(), page, &w, &h, &bits, &res, 0);
    }
    uint8_t palette[1024];
    uint32_t w = 0, h = 0;
    uint8_t* out = IS40_ReadTIFF(src.rewound(), &w, &h, o.depth, palette, page, o.flags);
    vsfuzz::Options size_as = o;
    if (o.flags == IS_TIFF_IGNORE_ORIENTATION) size_as.flags = 0;
    vsfuzz::CheckResult(out, w, h, size_as);
    return 0;
}
