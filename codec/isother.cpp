// Formats the generic reader can name but this library does not decode:
// each reports that no reader fits (error 2).
#include "codec/isframe.h"

namespace {
uint8_t* NoReader(ISHANDLE handle, uint32_t* width, uint32_t* height, const char* function) {
    if (!ISEnter(function, !width || !height, handle)) return nullptr;
    ISRecordError(IS_ERR_OPEN, function);
    return nullptr;
}
}  // namespace

#define IS_NO_READER(name)                                                                              \
    extern "C" uint8_t* name(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t, uint8_t*, \
                             uint32_t) {                                                                \
        return NoReader(handle, width, height, #name);                                                  \
    }

IS_NO_READER(IS40_ReadGIF)
IS_NO_READER(IS40_ReadWBMP)
IS_NO_READER(IS40_ReadPSD)
IS_NO_READER(IS40_ReadTLA)
IS_NO_READER(IS40_ReadPCD)
IS_NO_READER(IS40_ReadMetafile)
