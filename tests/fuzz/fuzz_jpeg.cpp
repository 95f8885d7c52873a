// The JPEG reader at every decode scale, a part of the picture, and the
// dimension query. The first input byte picks scale, depth, flags and the
// part; the rest is the file.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t kDepths[] = {8, 24, 32};
    static const uint32_t kFlags[] = {0, IS_JPG_READ_DIB, IS_JPG_READ_PAD_BGR, IS_JPG_READ_RAW_CMYK,
                                      IS_JPG_READ_YCBCR, IS_JPG_READ_GIVE_BACK};
    const uint8_t sel = data[0];
    const uint32_t denominator = 1u << (sel % 4);
    vsfuzz::Options o;
    o.depth = kDepths[(sel / 4) % 3];
    o.flags = kFlags[(sel / 12) % 6];
    vsfuzz::Source src(data + 1, size - 1);
    {
        uint32_t w = 0, h = 0, bits = 0, space = 0, coding = 0;
        ISResolution res{};
        IS40_GetJPGDims(src.rewound(), &w, &h, &bits, &space, &coding, &res, 0);
    }
    IS40_SetJPGDCTScaleFactors(1, denominator);
    uint32_t w = 0, h = 0;
    uint8_t* out = IS40_ReadJPG(src.rewound(), &w, &h, o.depth, o.flags);
    const bool decoded = out != nullptr;
    vsfuzz::CheckResult(out, w, h, o);
    // A part of what the whole read gave, placed by the option byte too.
    if (decoded && w && h) {
        const ISRegion r{w / 2 * (sel % 3) / 2, h / 2 * (sel / 3 % 3) / 2, w / 3 + 1, h / 5 + 1};
        uint32_t rw = 0, rh = 0;
        uint8_t* part = IS40_ReadJPGRegion(src.rewound(), &r, &rw, &rh, o.depth, o.flags);
        if (part && (rw > r.width || rh > r.height)) vsfuzz::Fail("region larger than asked", rw, rh);
        vsfuzz::CheckResult(part, rw, rh, o);
    }
    IS40_SetJPGDCTScaleFactors(1, 1);
    return 0;
}
