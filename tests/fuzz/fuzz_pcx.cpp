// The PCX reader and dimension query on their own.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return vsfuzz::FormatTarget(data, size, {1, 8, 24}, [](ISHANDLE s) {
        uint32_t w = 0, h = 0, bits = 0;
        ISResolution res{};
        IS40_GetPCXDims(s, &w, &h, &bits, &res, 0);
    }, IS40_ReadPCX);
}
