// The PCX reader and dimension query on their own. The first input byte
// picks the depth and layout; the rest is the file.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t kDepths[] = {1, 8, 24};
    const vsfuzz::Options o = vsfuzz::PickOptions(data[0], kDepths, sizeof kDepths / sizeof kDepths[0]);
    vsfuzz::Source src(data + 1, size - 1);
    {
        uint32_t w = 0, h = 0, bits = 0; ISResolution res{};
        IS40_GetPCXDims(src.rewound(), &w, &h, &bits, &res, 0);
    }
    uint8_t palette[1024];
    uint32_t w = 0, h = 0;
    uint8_t* out = IS40_ReadPCX(src.rewound(), &w, &h, o.depth, palette, o.flags);
    vsfuzz::CheckResult(out, w, h, o);
    return 0;
}
