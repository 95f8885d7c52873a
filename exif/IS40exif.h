// Public interface of the IS40 library: EXIF metadata reader.
// Included by IS40.h; fixed-width types only.
#ifndef IS40EXIF_H
#define IS40EXIF_H

#include <stdint.h>

#include "IS40.h"

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif
