// The BMP reader and dimension query on their own.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return vsfuzz::FormatTarget(data, size, {1, 8, 24, 32}, [](ISHANDLE s) {
        uint32_t w = 0, bits = 0;
        int32_t h = 0;
        ISResolution res{};
        IS40_GetBMPDims(s, &w, &h, &bits, &res, 0);
    }, IS40_ReadBMP);
}
