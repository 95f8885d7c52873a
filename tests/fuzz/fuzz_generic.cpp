// Detection and the generic reader in all three modes on a memory source.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vsfuzz::Source src(data, size);
    if (!src.get()) return 0;
    IS40_GuessFileType(src.rewound());
    for (uint32_t mode = 0; mode < 3; ++mode) {
        uint32_t w = 0, h = 0;
        uint8_t* out = IS40_ReadImage(src.get(), &w, &h, mode, 0);
        if (mode == 2)
            vsfuzz::CheckDib(out, w, h);
        else
            vsfuzz::CheckRead(out, w, h, vsfuzz::PlainBytes(w, h, mode == 0 ? 24 : 32));
    }
    return 0;
}
