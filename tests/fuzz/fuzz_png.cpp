// The PNG reader at every depth it offers and the dimension query. The
// first input byte picks depth and flags; the rest is the file.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t kDepths[] = {1, 8, 16, 24, 32, 48, 64};
    static const uint32_t kFlags[] = {0, IS_READ_DIB, 4, IS_READ_PAD_BGR};
    const uint8_t sel = data[0];
    vsfuzz::Options o;
    o.depth = kDepths[sel % 7];
    o.flags = kFlags[(sel / 7) % 4];
    vsfuzz::Source src(data + 1, size - 1);
    {
        uint32_t w = 0, h = 0, bits = 0, type = 0, interlace = 0;
        int32_t index = 0, red = 0, green = 0, blue = 0, grey = 0;
        ISResolution res{};
        IS40_GetPNGDims(src.rewound(), &w, &h, &bits, &type, &interlace, &index, &red, &green, &blue, &grey,
                        &res, 0);
    }
    uint8_t palette[1024];
    uint32_t w = 0, h = 0;
    uint8_t* out = IS40_ReadPNG(src.rewound(), &w, &h, o.depth, palette, o.flags);
    // Flag 4 turns 16 bits into one grey sample of the same size.
    vsfuzz::Options size_as = o;
    if (o.flags == 4) size_as.flags = 0;
    vsfuzz::CheckResult(out, w, h, size_as);
    return 0;
}
