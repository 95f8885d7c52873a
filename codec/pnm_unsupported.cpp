// The Windows build has no libnetpbm: PNM files are detected but not read.
#include "codec/isframe.h"

extern "C" uint8_t* IS40_ReadPNM(ISHANDLE handle, uint32_t* width, uint32_t* height, uint32_t, uint8_t*,
                                 uint32_t) {
    if (!ISEnter("IS40_ReadPNM", !width || !height, handle)) return nullptr;
    ISRecordError(IS_ERR_VARIANT, "IS40_ReadPNM", "PNM reading is not built in");
    return nullptr;
}
