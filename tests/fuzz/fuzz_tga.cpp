// The TGA reader and dimension query on their own.
#include "tests/fuzz/fuzzcommon.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return vsfuzz::FormatTarget(data, size, {8, 24, 32}, [](ISHANDLE s) {
        uint32_t w = 0, h = 0, bits = 0;
        IS40_GetTGADims(s, &w, &h, &bits, 0);
    }, IS40_ReadTGA);
}
